#include "PeloraVoiceApp/system/Paster.h"

#include <unistd.h>

#include "engine/injection/InjectionRoutePolicy.h"
#include "engine/injection/TerminalLikeTargetPolicy.h"
#include "engine/injection/TextInjectionError.h"

using namespace std::chrono_literals;
using mainthread::Async;
using pelora::InjectionRoutePolicy;
using pelora::TerminalLikeTargetPolicy;
using pelora::TextInjectionError;
using pelora::TextInjectionRoute;

namespace {

const std::string notFrontSuffix = " を前面に切り替えられませんでした";
const std::string focusMovedSuffix = " からフォーカスが移動しました";

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

}  // namespace

Paster::Paster(Dependencies dependencies) : d_(std::move(dependencies)) {}

Paster::~Paster() { cancelPendingRestore(); }

bool Paster::hasFocusedInternalEditableTextView() const {
    return d_.hasFocusedInternalEditableTextView && d_.hasFocusedInternalEditableTextView();
}

bool Paster::isFrontmost(const Snapshot& target) {
    auto front = d_.front->frontmost();
    return front && front->processIdentifier == target.processIdentifier;
}

std::optional<Paster::Snapshot> Paster::effectiveTarget(const std::optional<Snapshot>& given) {
    // A target that has quit can take no text: the next candidate serves instead.
    if (given && !isSelfApplication(given) && !d_.front->isTerminated(given->processIdentifier)) return given;
    auto front = d_.front->frontmost();
    if (front && front->processIdentifier != static_cast<std::int32_t>(getpid())) return front;
    // The last external application is usually the very target that quit.
    auto last = d_.lastExternalApp ? d_.lastExternalApp() : std::nullopt;
    if (last && d_.front->isTerminated(last->processIdentifier)) return std::nullopt;
    return last;
}

void Paster::recordDirectInsert(const std::string& text) {
    lastInsertUptime_ = d_.scheduler->now();
    lastInsertedText_ = text;
    hasInserted_ = true;
}

void Paster::cancelPendingRestore() {
    ++restoreGeneration_;
    restorePending_ = false;
}

void Paster::copyOnly(const std::string& text) {
    if (text.empty()) return;
    cancelPendingRestore();
    d_.clipboard->writeText(text);
}

mainthread::onWorker<std::optional<std::string>> Paster::postKeys(std::function<void(InjectionBackend&)> keys) {
    InjectionBackend* injector = d_.injector;
    std::function<std::optional<std::string>()> work = [injector, keys = std::move(keys)]() -> std::optional<std::string> {
        try {
            keys(*injector);
            return std::nullopt;
        } catch (const TextInjectionError& error) {
            return error.errorDescription();
        } catch (const std::exception& error) {
            return std::string(error.what());
        }
    };
    return {*d_.scheduler, d_.spawnWorker, std::move(work)};
}

mainthread::onWorker<ClipboardAccess::Snapshot> Paster::takeSnapshot() {
    ClipboardAccess* clipboard = d_.clipboard;
    return {*d_.scheduler, d_.spawnWorker, [clipboard] { return clipboard->snapshot(); }};
}

Async<bool> Paster::waitForFetch(std::chrono::milliseconds limit) {
    auto start = d_.scheduler->now();
    while (d_.clipboard->fetchCount() == 0) {
        if (d_.scheduler->now() - start >= limit) co_return false;
        co_await sleep(10ms);
    }
    co_return true;
}

void Paster::scheduleRestore(std::uint64_t changeCount, ClipboardAccess::Snapshot snapshot, bool expectFetch) {
    cancelPendingRestore();
    restorePending_ = true;
    mainthread::start<int>(restoreLater(restoreGeneration_, changeCount, std::move(snapshot), expectFetch), {});
}

Async<int> Paster::restoreLater(std::uint64_t generation, std::uint64_t changeCount,
                                ClipboardAccess::Snapshot snapshot, bool expectFetch) {
    auto pastedAt = d_.scheduler->now();
    co_await sleep(restoreDelay);
    // The target fetches the pasted text from us; restoring before it has would make it
    // paste the user's old clipboard instead.
    while (expectFetch && generation == restoreGeneration_ && d_.clipboard->fetchCount() == 0 &&
           d_.scheduler->now() - pastedAt < restoreFetchLimit) {
        co_await sleep(50ms);
    }
    if (generation != restoreGeneration_) co_return 0;
    restorePending_ = false;
    if (d_.clipboard->changeCount() != changeCount) co_return 0;  // someone copied meanwhile
    d_.clipboard->restore(snapshot);
    co_return 0;
}

void Paster::injectIntoFocusedField(std::string text, std::optional<Snapshot> targetApp, bool restoreClipboard,
                                    bool allowDuplicates, std::function<void(Outcome)> done) {
    mainthread::start<Outcome>(
        injectIntoFocusedField(std::move(text), std::move(targetApp), restoreClipboard, allowDuplicates),
        std::move(done));
}

Async<Paster::Outcome> Paster::injectIntoFocusedField(std::string text, std::optional<Snapshot> targetApp,
                                                      bool restoreClipboard, bool allowDuplicates) {
    if (text.empty()) co_return Outcome::copiedToClipboardFallback("空のテキスト");
    for (int waits = 0; isInjecting_; ++waits) {
        if (waits == 3) co_return Outcome::skipped("前のテキスト挿入が処理中です");
        co_await sleep(busyWait);
    }
    auto now = d_.scheduler->now();
    if (!allowDuplicates && hasInserted_ && text == lastInsertedText_ && now - lastInsertUptime_ < duplicateWindow) {
        co_return Outcome::skipped("重複挿入をスキップしました");
    }
    isInjecting_ = true;
    cancelPendingRestore();
    struct Release {
        bool& flag;
        ~Release() { flag = false; }
    } release{isInjecting_};

    // This application's own text view.
    if (isSelfApplication(targetApp) || (!targetApp && hasFocusedInternalEditableTextView())) {
        if (d_.injectIntoInternalTextViewIfFocused && d_.injectIntoInternalTextViewIfFocused(text)) {
            if (!restoreClipboard) copyOnly(text);
            recordDirectInsert(text);
            co_return Outcome::injectedViaAX("PeloraVoice 2");
        }
    }

    auto target = effectiveTarget(targetApp);
    if (!target) {
        copyOnly(text);
        co_return Outcome::copiedToClipboardFallback("入力先アプリが選択されていません");
    }
    const std::string label = target->displayLabel();
    const std::int32_t pid = target->processIdentifier;

    // Bring it to the front; the routes check again where it matters.
    if (!isFrontmost(*target) && !d_.front->isTerminated(pid)) {
        d_.front->activate(pid);
        for (int wait = 0; wait < 4; ++wait) {
            co_await sleep(40ms);
            if (wait < 3 && isFrontmost(*target)) break;
        }
    }

    const bool trusted = d_.injector->accessibilityTrusted();
    const bool mayPost = d_.injector->mayPostEvents();
    if (!trusted && !mayPost) {
        d_.injector->requestAccessibility();
        copyOnly(text);
        co_return Outcome::copiedToClipboardFallback("アクセシビリティ権限を許可してください");
    }

    const TextInjectionRoute route = InjectionRoutePolicy::resolve(target->bundleIdentifier, target->appName);
    if (route == TextInjectionRoute::axPrimary && trusted) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            std::optional<TextInjectionError::Case> failure;
            try {
                d_.injector->injectDirectAX(text, pid, allowDuplicates);
            } catch (const TextInjectionError& error) {
                failure = error.errorCase();
            } catch (const std::exception&) {
                failure = TextInjectionError::Case::injectionFailed;
            }
            if (!failure) {
                if (!restoreClipboard) copyOnly(text);
                recordDirectInsert(text);
                co_return Outcome::injectedViaAX(label);
            }
            if (*failure == TextInjectionError::Case::duplicateSuppressed) {
                if (!restoreClipboard) copyOnly(text);
                co_return Outcome::skipped("カーソル位置に同一テキストが既に存在します");
            }
            if (attempt == 0) co_await sleep(65ms);
        }
    } else if (route == TextInjectionRoute::typingPrimary) {
        if (!isFrontmost(*target)) {
            copyOnly(text);
            co_return Outcome::copiedToClipboardFallback(label + notFrontSuffix);
        }
        auto typingErrorJob = postKeys([text](InjectionBackend& keys) { keys.simulateUnicodeTyping(text); });
        auto typingError = co_await typingErrorJob;
        if (!typingError) {
            if (!restoreClipboard) copyOnly(text);
            recordDirectInsert(text);
            co_return Outcome::injectedViaUnicodeTyping(label);
        }
    }

    Outcome outcome = co_await pasteViaClipboard(text, *target, restoreClipboard, allowDuplicates);
    if (outcome.isDirectInsert()) recordDirectInsert(text);
    co_return outcome;
}

Async<Paster::Outcome> Paster::pasteViaClipboard(std::string text, Snapshot target, bool restoreClipboard,
                                                 bool allowDuplicates) {
    const std::string label = target.displayLabel();
    if (!isFrontmost(target)) {
        copyOnly(text);
        co_return Outcome::copiedToClipboardFallback(label + notFrontSuffix);
    }
    // Read before anything is written: what the user had on the clipboard.
    ClipboardAccess::Snapshot saved;
    if (restoreClipboard) {
        auto job = takeSnapshot();  // named: the awaiter lives in the frame
        saved = co_await job;
    }

    if (text.find('\n') == std::string::npos) {
        Outcome outcome = co_await pasteChunk(text, target, allowDuplicates);
        auto changeCount = d_.clipboard->changeCount();
        if (outcome.isDirectInsert() && restoreClipboard) {
            cancelPendingRestore();
            if (!saved.empty()) scheduleRestore(changeCount, std::move(saved), lastChunkFetches_);
        }
        co_return outcome;
    }

    const auto lines = splitLines(text);
    Outcome running = Outcome::injectedViaCommandV(label);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!isFrontmost(target)) {
            copyOnly(text);
            co_return Outcome::copiedToClipboardFallback(label + focusMovedSuffix);
        }
        if (!lines[i].empty()) {
            Outcome outcome = co_await pasteChunk(lines[i], target, allowDuplicates);
            if (!outcome.isDirectInsert()) {
                copyOnly(text);
                co_return outcome;
            }
            running = outcome;
            // The next line overwrites the clipboard: let the target fetch this one first.
            if (lastChunkFetches_) co_await waitForFetch(lineFetchLimit);
            co_await sleep(45ms);
        }
        if (i + 1 < lines.size()) {
            if (!isFrontmost(target)) {
                copyOnly(text);
                co_return Outcome::copiedToClipboardFallback(label + focusMovedSuffix);
            }
            auto keyErrorJob = postKeys([](InjectionBackend& keys) { keys.simulateShiftReturnKey(); });
            auto keyError = co_await keyErrorJob;
            if (keyError) {
                copyOnly(text);
                co_return Outcome::copiedToClipboardFallback(*keyError);
            }
            co_await sleep(35ms);
        }
    }
    d_.clipboard->writeText(text);
    auto changeCount = d_.clipboard->changeCount();
    if (restoreClipboard) {
        cancelPendingRestore();
        if (!saved.empty()) scheduleRestore(changeCount, std::move(saved), false);
    }
    co_return running;
}

Async<Paster::Outcome> Paster::pasteChunk(std::string chunk, Snapshot target, bool allowDuplicates) {
    const std::string label = target.displayLabel();
    const std::int32_t pid = target.processIdentifier;
    lastChunkFetches_ = false;
    if (!isFrontmost(target)) co_return Outcome::copiedToClipboardFallback(label + notFrontSuffix);
    d_.clipboard->writeText(chunk);
    co_await sleep(50ms);
    if (!isFrontmost(target)) co_return Outcome::copiedToClipboardFallback(label + focusMovedSuffix);

    const bool terminalLike = TerminalLikeTargetPolicy::isTerminalLike(target.bundleIdentifier);
    lastChunkFetches_ = true;  // a menu paste or Control+V makes the target fetch the clipboard
    if (!terminalLike && d_.injector->triggerMenuBarPaste(pid, target.bundleIdentifier)) {
        co_return Outcome::injectedViaMenuPaste(label);
    }
    if (!isFrontmost(target)) co_return Outcome::copiedToClipboardFallback(label + focusMovedSuffix);
    auto pasteJob = postKeys([terminalLike](InjectionBackend& keys) { keys.simulateCommandVPaste(terminalLike); });
    auto pasteError = co_await pasteJob;
    if (!pasteError) co_return Outcome::injectedViaCommandV(label);
    if (terminalLike && d_.injector->triggerMenuBarPaste(pid, target.bundleIdentifier)) {
        co_return Outcome::injectedViaMenuPaste(label);
    }
    lastChunkFetches_ = false;
    if (isFrontmost(target)) {
        auto typingErrorJob = postKeys([chunk](InjectionBackend& keys) { keys.simulateUnicodeTyping(chunk); });
        auto typingError = co_await typingErrorJob;
        if (!typingError) co_return Outcome::injectedViaUnicodeTyping(label);
    }
    bool inserted = false;
    try {
        d_.injector->injectDirectAX(chunk, pid, allowDuplicates);
        inserted = true;
    } catch (const std::exception&) {
    }
    if (inserted) co_return Outcome::injectedViaAX(label);
    co_return Outcome::copiedToClipboardFallback(*pasteError);
}

void Paster::applyInPlaceCorrection(pelora::InsertedTextCorrection correction, std::string originalInsertedText,
                                    std::string correctedFullText, std::optional<Snapshot> targetApp,
                                    bool restoreClipboard, std::function<void(bool)> done) {
    mainthread::start<bool>(applyInPlaceCorrection(std::move(correction), std::move(originalInsertedText),
                                                   std::move(correctedFullText), std::move(targetApp),
                                                   restoreClipboard),
                            std::move(done));
}

Async<bool> Paster::applyInPlaceCorrection(pelora::InsertedTextCorrection correction,
                                           std::string originalInsertedText, std::string correctedFullText,
                                           std::optional<Snapshot> targetApp, bool restoreClipboard) {
    if (correction.selectionLength < 1 || originalInsertedText == correctedFullText) co_return false;
    if (isInjecting_) {
        co_await sleep(80ms);
        if (isInjecting_) co_return false;
    }
    isInjecting_ = true;
    cancelPendingRestore();

    auto failure = [&] {
        if (!restoreClipboard) copyOnly(correctedFullText);
        isInjecting_ = false;
        return false;
    };
    auto success = [&] {
        if (!restoreClipboard) copyOnly(correctedFullText);
        isInjecting_ = false;
        recordDirectInsert(correctedFullText);
        return true;
    };

    if (isSelfApplication(targetApp) || (!targetApp && hasFocusedInternalEditableTextView())) {
        bool replaced = d_.replaceInInternalTextViewIfFocused &&
                        d_.replaceInInternalTextViewIfFocused(originalInsertedText, correctedFullText);
        co_return replaced ? success() : failure();
    }
    if (!targetApp || !isFrontmost(*targetApp)) co_return failure();
    const Snapshot target = *targetApp;
    const std::int32_t pid = target.processIdentifier;
    if (InjectionRoutePolicy::resolve(target.bundleIdentifier, target.appName) == TextInjectionRoute::typingPrimary ||
        TerminalLikeTargetPolicy::isTerminalLike(target.bundleIdentifier)) {
        co_return failure();
    }
    if (d_.injector->replaceRecentlyInsertedAX(originalInsertedText, correctedFullText, pid)) co_return success();
    if (!isFrontmost(target) || !d_.injector->canSafelyReplaceViaKeyboard(originalInsertedText, pid)) {
        co_return failure();
    }

    // From here on a failure must not leave the user's text selected: the next keystroke
    // would replace it. One Right key collapses the selection to its end.
    const int presses = static_cast<int>(correction.selectionLength);
    auto selectJob = postKeys([presses](InjectionBackend& keys) { keys.simulateShiftLeftSelection(presses); });
    auto selectError = co_await selectJob;
    bool selectionStands = true;
    bool replaced = false;
    if (!selectError) {
        co_await sleep(25ms);
        if (isFrontmost(target)) {
            if (correction.replacementSuffix.empty()) {
                auto deleteErrorJob = postKeys([](InjectionBackend& keys) { keys.simulateDeleteKey(); });
                auto deleteError = co_await deleteErrorJob;
                replaced = !deleteError;
            } else {
                Outcome outcome = co_await pasteViaClipboard(correction.replacementSuffix, target, restoreClipboard,
                                                             /*allowDuplicates*/ true);
                if (!restoreClipboard) co_await sleep(70ms);
                replaced = outcome.isDirectInsert();
            }
            selectionStands = !replaced;
        }
    }
    if (replaced) co_return success();
    if (selectionStands && isFrontmost(target)) {
        auto collapseJob = postKeys([](InjectionBackend& keys) { keys.simulateRightKey(); });
        co_await collapseJob;
    }
    co_return failure();
}
