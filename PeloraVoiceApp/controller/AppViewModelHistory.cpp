// The in-memory history of finished transcriptions: newest first, at most forty entries.
#include "PeloraVoiceApp/controller/AppViewModel.h"

#include "PeloraVoiceApp/controller/RandomUUID.h"

#include <utility>

namespace pelora {

using P = AppViewModelProperty;

namespace {
std::optional<std::string> labelOf(const std::optional<ActiveApplicationSnapshot>& target) {
    if (!target) return std::nullopt;
    return target->displayLabel();
}
}  // namespace

HistoryEntry AppViewModel::addHistoryEntry(const TranscriptionResult& result, const std::string& sourceName,
                                           const std::optional<ActiveApplicationSnapshot>& target) {
    HistoryEntry entry{makeRandomUUID(), c_.wallClock.now(), sourceName, labelOf(target), result};
    history_.insert(history_.begin(), entry);
    notify(P::history);
    // The insertion and the trim are two changes, in that order.
    if (history_.size() > historyLimit) {
        history_.erase(history_.begin() + static_cast<std::ptrdiff_t>(historyLimit), history_.end());
        notify(P::history);
    }
    return entry;
}

bool AppViewModel::replaceHistoryEntry(const std::string& id, std::chrono::system_clock::time_point createdAt,
                                       const std::string& sourceName,
                                       const std::optional<ActiveApplicationSnapshot>& target,
                                       TranscriptionResult corrected) {
    for (HistoryEntry& entry : history_) {
        if (entry.id != id) continue;
        entry = HistoryEntry{id, createdAt, sourceName, labelOf(target), std::move(corrected)};
        notify(P::history);
        return true;
    }
    return false;
}

void AppViewModel::selectHistoryEntry(const HistoryEntry& entry) {
    // A copy: the entry may be one of the history's own, and listeners run in between.
    const HistoryEntry selected = entry;
    invalidateTranscriptionSession();
    assign(currentResult_, std::optional<TranscriptionResult>(selected.result), P::currentResult);
    assign(currentSourceName_, selected.sourceName, P::currentSourceName);
    assign(lastTranscribedText_, selected.result.text, P::lastTranscribedText);
}

}  // namespace pelora
