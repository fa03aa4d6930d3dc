#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "engine/injection/FocusedTextContext.h"
#include "engine/japanese/JapaneseGroundedCandidate.h"
#include "engine/japanese/MirkSpanSuspicion.h"

namespace pelora {

// Client of the external decision service, which answers multiple-choice questions
// about a Japanese utterance: which homophone candidate the speaker meant, and which
// phrases are likely same-sound misrecognitions. Used only with a stored API key and
// while the health gate allows calls. Never throws: every refusal, failure or time-out
// is an absent answer, and the caller carries on with its local rules. Calls block the
// calling thread for at most their budget and may run on many threads at once.
class HTTPMirkDecisionProvider {
public:
    // Base URL of the service host ("https://host[:port]"); the service path is appended.
    static constexpr const char* hostEnvironmentVariable = "PELORAVOICE_MIRK_HOST";
    static constexpr const char* servicePath = "/v1/quorvane";

    // One phrase offered to the service for span detection. Contexts are up to 5 UTF-16
    // units on either side, never cutting a character in two.
    struct PhraseItem {
        std::string id;  // "span_<index>"
        std::string text;
        std::string reading;
        std::string leftContext;
        std::string rightContext;

        friend bool operator==(const PhraseItem&, const PhraseItem&) = default;
    };

    // The process-wide client; its endpoint comes from PELORAVOICE_MIRK_HOST when first used.
    static HTTPMirkDecisionProvider& shared();

    using Clock = std::chrono::steady_clock;
    // The monotonic clock a call's budget is measured with; tests pass their own.
    using Now = std::function<Clock::time_point()>;

    // A client of the service at `endpoint` (a full URL); with none, every call is
    // answered with nothing and no request is made.
    explicit HTTPMirkDecisionProvider(std::optional<std::string> endpoint, Now now = Clock::now);

    // The service URL for a configured host: https, or plain http to 127.0.0.1 only;
    // none for anything else (blank, another scheme, a path, credentials, spaces).
    static std::optional<std::string> endpointForHost(std::string_view host);

    const std::optional<std::string>& endpoint() const { return endpoint_; }
    const std::string& modelName() const { return modelName_; }

    // The candidate the speaker meant, with the service's confidence, or none.
    std::optional<JapaneseGroundedCandidate> decideJapanese(std::string_view transcript,
                                                            const std::vector<JapaneseGroundedCandidate>& candidates,
                                                            const std::optional<FocusedTextContext>& context,
                                                            int timeoutMs, std::stop_token stop = {}) const;

    // Phrases the service thinks misrecognised, highest confidence first; empty without an answer.
    std::vector<MirkSpanSuspicion> detectSuspiciousSpans(std::string_view transcript,
                                                         const std::optional<FocusedTextContext>& context,
                                                         int timeoutMs, std::stop_token stop = {}) const;

    // The phrases of a transcript offered for span detection (at most 28).
    static std::vector<PhraseItem> segmentPhrases(std::string_view transcript);

    static constexpr std::size_t maxCandidates = 14;
    static constexpr std::size_t maxPhrases = 28;
    // A reply body beyond this many bytes ends the transfer as it arrives and counts as a
    // failure of the service: an answer to 42 short questions is a few kilobytes.
    static constexpr std::int64_t maxReplyBytes = 256 * 1024;

private:
    std::optional<std::string> endpoint_;
    std::string modelName_ = "mirk-latest";
    Now now_;
};

}  // namespace pelora
