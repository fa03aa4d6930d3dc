// Inserting the last text, or a history entry's, once more: from the reinsert hot key, the
// pill's button, the main window and the menus.
#include "PeloraVoiceApp/controller/AppViewModel.h"

namespace pelora {

using P = AppViewModelProperty;

std::optional<std::string> AppViewModel::availableReinsertText() const {
    if (!lastTranscribedText_.empty()) return lastTranscribedText_;
    if (currentResult_ && !currentResult_->text.empty()) return currentResult_->text;
    if (!history_.empty() && !history_.front().result.text.empty()) return history_.front().result.text;
    return std::nullopt;
}

std::string AppViewModel::lastTargetAppName() const {
    if (lastExternalApp_) return lastExternalApp_->displayLabel();
    if (capturedTargetApp_) return capturedTargetApp_->displayLabel();
    return {};
}

void AppViewModel::setLastInjectedText(std::string value) {
    assign(lastTranscribedText_, std::move(value), P::lastTranscribedText);
}

void AppViewModel::reinsertShortcutTriggered() {
    const Liveness weak = liveness();
    c_.scheduler.post([weak] {
        if (auto self = weak.lock()) (*self)->performReinsertLastTranscription(false);
    });
}

void AppViewModel::reinsertLastTranscription(bool fromMainWindowButton) {
    const Liveness weak = liveness();
    c_.scheduler.post([weak, fromMainWindowButton] {
        if (auto self = weak.lock()) (*self)->performReinsertLastTranscription(fromMainWindowButton);
    });
}

void AppViewModel::reinsertSpecificText(std::string text, bool fromMainWindowButton) {
    const Liveness weak = liveness();
    c_.scheduler.post([weak, text = std::move(text), fromMainWindowButton]() mutable {
        if (auto self = weak.lock()) (*self)->performReinsertSpecificText(std::move(text), fromMainWindowButton);
    });
}

void AppViewModel::performReinsertLastTranscription(bool fromMainWindowButton, ReinsertDone done) {
    if (auto text = availableReinsertText()) {
        performReinsertSpecificText(std::move(*text), fromMainWindowButton, std::move(done));
        return;
    }
    playCue("Basso");
    assign(errorMessage_, std::optional<std::string>(std::string(nothingToReinsertText)), P::errorMessage);
    if (done) done(std::nullopt);
}

void AppViewModel::performReinsertSpecificText(std::string text, bool fromMainWindowButton, ReinsertDone done) {
    // A contextual pass still running for an earlier result keeps off the screen from now on.
    invalidateTranscriptionSession();
    const auto target = c_.targetCapture.resolveTargetForReinsert(fromMainWindowButton);
    const Liveness weak = liveness();
    c_.paster.injectIntoFocusedField(text, target, !copyToClipboardOnComplete_, /*allowDuplicates=*/true,
                                     [weak, text, done = std::move(done)](TextInjectionOutcome outcome) {
                                         auto self = weak.lock();
                                         if (!self) return;
                                         (*self)->finishReinsert(text, outcome);
                                         if (done) done(outcome);
                                     });
}

void AppViewModel::finishReinsert(const std::string& text, const TextInjectionOutcome& outcome) {
    assign(lastInjectionOutcome_, std::optional<TextInjectionOutcome>(outcome), P::lastInjectionOutcome);
    refreshPermissions();
    if (outcome.outcomeCase() == TextInjectionOutcome::Case::skipped) return;
    assign(lastTranscribedText_, text, P::lastTranscribedText);
    const bool direct = outcome.isDirectInsert();
    playCue(direct ? "Pop" : "Basso");
    double latencyMs = 0, rtfx = 0;
    if (currentResult_) {
        latencyMs = currentResult_->telemetry.totalProcessingMs;
        if (latencyMs > 0) rtfx = currentResult_->telemetry.audioDurationSeconds / (latencyMs / 1000);
    }
    c_.overlay.showCompleted(text, latencyMs, rtfx, outcome.summaryBadge(), direct, reinsertBadge());
}

}  // namespace pelora
