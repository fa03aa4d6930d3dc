#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "PeloraVoiceApp/MainThreadAsync.h"
#include "PeloraVoiceApp/MainThreadScheduler.h"
#include "PeloraVoiceApp/system/ClipboardAccess.h"
#include "PeloraVoiceApp/system/FrontApplicationSource.h"
#include "PeloraVoiceApp/system/InjectionBackend.h"
#include "engine/injection/ActiveApplicationSnapshot.h"
#include "engine/injection/TextInjectionOutcome.h"
#include "engine/japanese/InsertedTextCorrection.h"

// Puts a finished dictation into the field the user was working in: this application's
// own text view, or another application brought to the front, by the route the policy
// picks (accessibility, clipboard paste, typing) with every fallback; and later corrects
// that text in place. It never throws: every failure is an outcome, and the text is left
// on the clipboard where the user can paste it by hand. Main thread only; its waits are
// timers, key posting runs on a worker.
class Paster {
public:
    using Snapshot = pelora::ActiveApplicationSnapshot;
    using Outcome = pelora::TextInjectionOutcome;

    struct Dependencies {
        MainThreadScheduler* scheduler = nullptr;
        InjectionBackend* injector = nullptr;
        ClipboardAccess* clipboard = nullptr;
        FrontApplicationSource* front = nullptr;
        std::function<std::optional<Snapshot>()> lastExternalApp;
        std::function<bool()> hasFocusedInternalEditableTextView;
        std::function<bool(const std::string&)> injectIntoInternalTextViewIfFocused;
        std::function<bool(const std::string&, const std::string&)> replaceInInternalTextViewIfFocused;
        mainthread::WorkerSpawner spawnWorker = mainthread::spawnThread;
    };

    // Pauses and bounds of the routes.
    static constexpr auto busyWait = std::chrono::milliseconds(40);
    static constexpr auto duplicateWindow = std::chrono::milliseconds(280);
    static constexpr auto restoreDelay = std::chrono::milliseconds(650);
    // A paste is a fetch of the clipboard by the target: the next line, and the restore,
    // wait for it (bounded), so a slow target never pastes the wrong text.
    static constexpr auto lineFetchLimit = std::chrono::milliseconds(1000);
    static constexpr auto restoreFetchLimit = std::chrono::milliseconds(3000);

    explicit Paster(Dependencies dependencies);
    ~Paster();

    // The process's one orchestrator over the X11 desktop, the engine's injector and the
    // Qt main loop.
    static Paster& shared();

    mainthread::Async<Outcome> injectIntoFocusedField(std::string text, std::optional<Snapshot> targetApp,
                                                      bool restoreClipboard, bool allowDuplicates);
    // The same, for callers that are not coroutines: `done` runs on the main thread.
    void injectIntoFocusedField(std::string text, std::optional<Snapshot> targetApp, bool restoreClipboard,
                                bool allowDuplicates, std::function<void(Outcome)> done);

    mainthread::Async<bool> applyInPlaceCorrection(pelora::InsertedTextCorrection correction,
                                                   std::string originalInsertedText, std::string correctedFullText,
                                                   std::optional<Snapshot> targetApp, bool restoreClipboard);
    void applyInPlaceCorrection(pelora::InsertedTextCorrection correction, std::string originalInsertedText,
                                std::string correctedFullText, std::optional<Snapshot> targetApp,
                                bool restoreClipboard, std::function<void(bool)> done);

    // Leaves a non-empty text on the clipboard for the user; cancels a pending restore.
    void copyOnly(const std::string& text);

    bool hasFocusedInternalEditableTextView() const;
    bool isInjecting() const { return isInjecting_; }
    bool hasPendingClipboardRestore() const { return restorePending_; }

private:
    struct Busy;
    mainthread::Async<Outcome> pasteViaClipboard(std::string text, Snapshot target, bool restoreClipboard,
                                                 bool allowDuplicates);
    mainthread::Async<Outcome> pasteChunk(std::string chunk, Snapshot target, bool allowDuplicates);
    mainthread::Async<bool> waitForFetch(std::chrono::milliseconds limit);
    mainthread::Async<int> restoreLater(std::uint64_t generation, std::uint64_t changeCount,
                                        ClipboardAccess::Snapshot snapshot, bool expectFetch);
    // Awaiters: await them as named locals, never as temporaries.
    mainthread::onWorker<ClipboardAccess::Snapshot> takeSnapshot();
    mainthread::onWorker<std::optional<std::string>> postKeys(std::function<void(InjectionBackend&)> keys);
    void scheduleRestore(std::uint64_t changeCount, ClipboardAccess::Snapshot snapshot, bool expectFetch);
    void cancelPendingRestore();
    void recordDirectInsert(const std::string& text);
    bool isFrontmost(const Snapshot& target);
    std::optional<Snapshot> effectiveTarget(const std::optional<Snapshot>& given);
    mainthread::sleepFor sleep(std::chrono::milliseconds delay) { return {*d_.scheduler, delay}; }

    Dependencies d_;
    bool isInjecting_ = false;
    MainThreadScheduler::Duration lastInsertUptime_{};
    bool hasInserted_ = false;
    std::string lastInsertedText_;
    // The pending restore: a generation that cancelling moves on.
    std::uint64_t restoreGeneration_ = 0;
    bool restorePending_ = false;
    // Whether the last paste was a fetch the target must still make (menu paste, Control+V).
    bool lastChunkFetches_ = false;
};
