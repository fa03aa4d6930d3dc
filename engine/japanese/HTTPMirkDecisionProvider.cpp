#include "engine/japanese/HTTPMirkDecisionProvider.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

#include <nlohmann/json.hpp>

#include "engine/japanese/MirkHealthGate.h"
#include "engine/japanese/MirkInputSecretStore.h"
#include "engine/japanese/SoundAlikeReading.h"
#include "platform/http/HttpClient.h"
#include "platform/reading/JapaneseReading.h"
#include "platform/text/UnicodeText.h"

namespace pelora {

namespace {

using json = nlohmann::json;

constexpr double minimumDecisionConfidence = 0.82;
constexpr double minimumNoul = 0.52;
constexpr double minimumChoiceConfidence = 0.55;
constexpr std::size_t focusedContextCharacters = 240;
constexpr std::size_t phraseContextUnits = 5;

// ---- UTF-16 positions (the phrase cuts are defined in UTF-16 units) ----

std::u16string toUTF16(std::string_view utf8) {
    std::u16string out;
    for (char32_t c : text::toScalars(utf8)) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::string toUTF8(std::u16string_view units) {
    std::u32string scalars;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            scalars.push_back(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            scalars.push_back(0xFFFD);  // a lone half; cuts below never produce one
        } else {
            scalars.push_back(u);
        }
    }
    return text::fromScalars(scalars);
}

bool isLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
bool isHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }

bool isPhraseKanji(char32_t c) { return c >= 0x4E00 && c <= 0x9FFF; }
bool isPhraseKatakana(char32_t c) { return c >= 0x30A0 && c <= 0x30FF; }
bool isPhraseHiragana(char32_t c) { return c >= 0x3041 && c <= 0x309F; }

bool containsKanji(std::string_view s) {
    const std::u32string scalars = text::toScalars(s);
    return std::any_of(scalars.begin(), scalars.end(), isPhraseKanji);
}

bool containsKanjiOrKatakana(std::string_view s) {
    const std::u32string scalars = text::toScalars(s);
    return std::any_of(scalars.begin(), scalars.end(),
                       [](char32_t c) { return isPhraseKanji(c) || isPhraseKatakana(c); });
}

bool isAllHiragana(std::string_view s) {
    const std::u32string scalars = text::toScalars(s);
    return !scalars.empty() && std::all_of(scalars.begin(), scalars.end(), isPhraseHiragana);
}

bool isParticle(std::string_view s) {
    static const std::array<std::string_view, 13> particles{"は", "が", "を", "に", "で", "と", "の",
                                                            "へ", "も", "や", "から", "まで", "より"};
    return std::find(particles.begin(), particles.end(), s) != particles.end();
}

// ---- Request pieces ----

// A key goes into a header line: a control character would end or split the line.
bool isUsableAPIKey(std::string_view key) {
    if (key.empty()) return false;
    return std::none_of(key.begin(), key.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
}

// The stored key when one exists and the gate lets a call through; none otherwise.
std::optional<std::string> keyForAttempt() {
    std::optional<std::string> key = MirkInputSecretStore::loadAPIKey();
    if (!key || !isUsableAPIKey(*key)) return std::nullopt;
    if (!MirkHealthGate::shared().canAttempt()) return std::nullopt;
    return key;
}

std::optional<std::string> focusedContextText(const std::optional<FocusedTextContext>& context) {
    if (!context) return std::nullopt;
    const std::string trimmed = text::trimWhitespaceAndNewlines(context->combinedContextText());
    if (trimmed.empty()) return std::nullopt;
    if (text::graphemeCount(trimmed) <= focusedContextCharacters) return trimmed;
    std::string cut;
    const std::vector<std::string> characters = text::graphemes(trimmed);
    for (std::size_t i = 0; i < focusedContextCharacters; ++i) cut += characters[i];
    return cut;
}

json question(std::string_view type, std::string_view instructions, json criteria) {
    return json{{"type", type}, {"instructions", instructions}, {"criteria", std::move(criteria)}};
}

// Sends one request and returns the reply's "answers" object, or none. Transport
// outcomes feed the health gate: a 2xx reply is a success; another status, a transport
// error, a time-out or a reply over maxReplyBytes is a failure; a cancellation by the
// caller is neither. A reply that does not parse is not a failure of the service's
// health. An answer that is ready only after the budget has run out is discarded: the
// caller has moved on by then.
std::optional<json> postQuestions(const std::optional<std::string>& endpoint, const std::string& model,
                                  json state, json questions, const std::string& apiKey, int timeoutMs,
                                  std::stop_token stop, const HTTPMirkDecisionProvider::Now& now) {
    if (!endpoint || timeoutMs < 1 || stop.stop_requested()) return std::nullopt;
    const std::chrono::milliseconds budget{std::max(timeoutMs, 50)};
    const HTTPMirkDecisionProvider::Clock::time_point deadline = now() + budget;

    std::string body;
    try {
        body = json{{"state", std::move(state)}, {"model", model}, {"questions", std::move(questions)}}.dump();
    } catch (const json::exception&) {
        return std::nullopt;  // e.g. text that is not valid UTF-8
    }

    http::RequestOptions options;
    options.headers.emplace_back("Authorization", "Bearer " + apiKey);
    options.connectTimeout = budget;
    options.totalTimeout = budget;
    options.maxBytes = HTTPMirkDecisionProvider::maxReplyBytes;
    options.stopToken = stop;

    http::Response response;
    try {
        response = http::HttpClient::postJson(*endpoint, body, options);
    } catch (const http::HttpError& error) {
        if (error.kind() != http::HttpError::Kind::cancelled) MirkHealthGate::shared().recordFailure();
        return std::nullopt;
    } catch (const std::exception&) {
        MirkHealthGate::shared().recordFailure();
        return std::nullopt;
    }
    if (!response.ok()) {
        MirkHealthGate::shared().recordFailure();
        return std::nullopt;
    }
    MirkHealthGate::shared().recordSuccess();

    json reply = json::parse(response.body, nullptr, /*allow_exceptions=*/false);
    if (now() > deadline) return std::nullopt;
    if (reply.is_discarded() || !reply.is_object()) return std::nullopt;
    auto answers = reply.find("answers");
    if (answers == reply.end() || !answers->is_object()) return std::nullopt;
    return std::move(*answers);
}

std::optional<double> numberAt(const json& object, std::string_view key) {
    if (!object.is_object()) return std::nullopt;
    auto it = object.find(key);
    if (it == object.end() || !it->is_number()) return std::nullopt;
    return it->get<double>();
}

std::optional<std::string> stringAt(const json& object, std::string_view key) {
    if (!object.is_object()) return std::nullopt;
    auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

std::string formatTwoDecimals(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f", value);
    return buffer;
}

}  // namespace

HTTPMirkDecisionProvider::HTTPMirkDecisionProvider(std::optional<std::string> endpoint, Now now)
    : endpoint_(std::move(endpoint)), now_(std::move(now)) {}

HTTPMirkDecisionProvider& HTTPMirkDecisionProvider::shared() {
    static HTTPMirkDecisionProvider instance([]() -> std::optional<std::string> {
        const char* host = std::getenv(hostEnvironmentVariable);
        if (!host) return std::nullopt;
        return endpointForHost(host);
    }());
    return instance;
}

std::optional<std::string> HTTPMirkDecisionProvider::endpointForHost(std::string_view host) {
    std::string value = text::trimWhitespaceAndNewlines(host);
    while (!value.empty() && value.back() == '/') value.pop_back();
    std::string lower = value;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::string authority;
    bool secure = false;
    if (lower.starts_with("https://")) {
        secure = true;
        authority = value.substr(8);
    } else if (lower.starts_with("http://")) {
        authority = value.substr(7);
    } else {
        return std::nullopt;
    }
    if (authority.empty()) return std::nullopt;
    for (unsigned char c : authority) {
        // Only a host and an optional port: no path, query, credentials, blanks or controls.
        if (c <= 0x20 || c == 0x7F || c == '/' || c == '?' || c == '#' || c == '@' || c == '\\') return std::nullopt;
    }
    const std::size_t colon = authority.rfind(':');
    const std::string hostName = colon == std::string::npos ? authority : authority.substr(0, colon);
    if (hostName.empty()) return std::nullopt;
    if (colon != std::string::npos) {
        const std::string port = authority.substr(colon + 1);
        if (port.empty() || port.size() > 5 ||
            !std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); }))
            return std::nullopt;
    }
    // The key travels in plain text without TLS, so that is allowed only on this machine.
    if (!secure && hostName != "127.0.0.1") return std::nullopt;
    return (secure ? "https://" : "http://") + authority + servicePath;
}

std::optional<JapaneseGroundedCandidate> HTTPMirkDecisionProvider::decideJapanese(
    std::string_view transcript, const std::vector<JapaneseGroundedCandidate>& candidates,
    const std::optional<FocusedTextContext>& context, int timeoutMs, std::stop_token stop) const {
    if (candidates.empty()) return std::nullopt;
    const std::optional<std::string> apiKey = keyForAttempt();
    if (!apiKey) return std::nullopt;

    const std::size_t keptCount = std::min(candidates.size(), maxCandidates);
    const std::vector<JapaneseGroundedCandidate> kept(candidates.begin(), candidates.begin() + keptCount);
    const JapaneseGroundedCandidate& primary = kept.front();

    json state{{"utterance", transcript},
               {"candidate_id", primary.id},
               {"source_text", primary.originalSpan},
               {"candidate_text", primary.replacementSpan}};
    json list = json::array();
    for (const auto& candidate : kept) {
        list.push_back({{"id", candidate.id},
                        {"source_text", candidate.originalSpan},
                        {"candidate_text", candidate.replacementSpan},
                        {"rewritten_transcript", candidate.rewrittenTranscript}});
    }
    state["candidates"] = std::move(list);
    if (auto focused = focusedContextText(context)) state["focused_context"] = *focused;

    json criteria{{"KEEP", "Preserve the original transcription because it fits the utterance naturally"},
                  {"NONE", "Candidate does not fit the utterance"},
                  {"REVIEW", "Meaning is ambiguous"}};
    for (const auto& candidate : kept) {
        criteria[candidate.id] = "Use the registered-reading candidate 「" + candidate.replacementSpan +
                                 "」 instead of 「" + candidate.originalSpan + "」";
    }
    json questions{{"correction",
                    question("choice",
                             "Decide whether to replace the source phrase with a same-reading or similar-reading "
                             "candidate based on the utterance context.",
                             std::move(criteria))}};

    const std::optional<json> answers =
        postQuestions(endpoint_, modelName_, std::move(state), std::move(questions), *apiKey, timeoutMs, stop, now_);
    if (!answers) return std::nullopt;

    auto correction = answers->find("correction");
    if (correction == answers->end() || !correction->is_object() || correction->empty()) return std::nullopt;
    const std::optional<std::string> choice = stringAt(*correction, "choice");
    if (!choice || *choice == "KEEP" || *choice == "NONE" || *choice == "REVIEW") return std::nullopt;

    std::optional<double> confidence = numberAt(*correction, "confidence");
    if (!confidence) {
        auto probabilities = correction->find("probabilities");
        if (probabilities != correction->end()) confidence = numberAt(*probabilities, *choice);
    }
    if (!confidence || !std::isfinite(*confidence) || *confidence < minimumDecisionConfidence) return std::nullopt;

    for (const auto& candidate : kept) {
        if (candidate.id == *choice) {
            JapaneseGroundedCandidate chosen = candidate;
            chosen.confidence = *confidence;
            return chosen;
        }
    }
    return std::nullopt;
}

std::vector<MirkSpanSuspicion> HTTPMirkDecisionProvider::detectSuspiciousSpans(
    std::string_view transcript, const std::optional<FocusedTextContext>& context, int timeoutMs,
    std::stop_token stop) const {
    if (text::graphemeCount(transcript) < 4) return {};
    const std::optional<std::string> apiKey = keyForAttempt();
    if (!apiKey) return {};
    const std::vector<PhraseItem> phrases = segmentPhrases(transcript);
    if (phrases.empty()) return {};

    json phraseList = json::array();
    for (const auto& phrase : phrases)
        phraseList.push_back({{"id", phrase.id}, {"text", phrase.text}, {"reading", phrase.reading}});
    json state{{"utterance", transcript}, {"phrases", std::move(phraseList)}};
    if (auto focused = focusedContextText(context)) state["focused_context"] = *focused;

    json questions = json::object();
    json mostSuspiciousCriteria{{"NONE", "No phrase contains a misrecognized word"}};
    for (const auto& phrase : phrases) {
        questions[phrase.id] = question(
            "noul",
            "Evaluate whether phrase '" + phrase.text + "' (reading: " + phrase.reading +
                ") in the Japanese utterance is a same-sound or similar-sound speech recognition error.",
            json{{"true", "A word in this phrase is very likely a same-sound or similar-sound misrecognition of a "
                          "different word the speaker meant"},
                 {"false", "Every word in this phrase is what the speaker most likely meant"}});
        mostSuspiciousCriteria[phrase.id] = "Phrase '" + phrase.text + "' (" + phrase.reading +
                                            ") is the most likely same-sound misrecognition";
    }
    questions["most_suspicious"] =
        question("choice",
                 "Identify the single phrase most likely to be a same-sound or similar-sound misrecognition, or NONE "
                 "if the utterance is completely natural.",
                 std::move(mostSuspiciousCriteria));

    const std::optional<json> answers =
        postQuestions(endpoint_, modelName_, std::move(state), std::move(questions), *apiKey, timeoutMs, stop, now_);
    if (!answers) return {};

    std::optional<std::string> choice;
    double choiceConfidence = 0;
    if (auto most = answers->find("most_suspicious"); most != answers->end() && most->is_object()) {
        choice = stringAt(*most, "choice");
        choiceConfidence = numberAt(*most, "confidence").value_or(0);
    }

    std::vector<MirkSpanSuspicion> reported;
    for (const auto& phrase : phrases) {
        double noul = 0;
        if (auto answer = answers->find(phrase.id); answer != answers->end())
            noul = numberAt(*answer, "noul").value_or(0);
        const bool chosen = choice && *choice == phrase.id && *choice != "NONE";
        double score = 0;
        if (!chosen) {
            if (!(noul >= minimumNoul)) continue;
            score = noul;
        } else {
            if (!(noul >= minimumNoul || choiceConfidence >= minimumChoiceConfidence)) continue;
            score = std::max(noul, choiceConfidence >= minimumChoiceConfidence ? choiceConfidence : 0.0);
        }
        reported.emplace_back(phrase.text, phrase.leftContext, phrase.rightContext,
                              "MIRK noul=" + formatTwoDecimals(noul), std::nullopt, score);
    }
    std::stable_sort(reported.begin(), reported.end(),
                     [](const MirkSpanSuspicion& a, const MirkSpanSuspicion& b) { return a.confidence > b.confidence; });
    return reported;
}

std::vector<HTTPMirkDecisionProvider::PhraseItem> HTTPMirkDecisionProvider::segmentPhrases(
    std::string_view transcript) {
    const reading::JapaneseTokenizer* tokenizer = reading::JapaneseTokenizer::shared();
    if (!tokenizer) return {};

    struct RawToken {
        std::size_t location = 0;
        std::size_t length = 0;
        std::string surface;
    };
    std::vector<RawToken> tokens;
    for (auto& token : tokenizer->tokenize(transcript)) {
        if (token.utf16Length >= 1) tokens.push_back({token.utf16Offset, token.utf16Length, std::move(token.text)});
    }

    const std::u16string units = toUTF16(transcript);
    std::vector<PhraseItem> phrases;
    std::set<std::string> seen;
    auto add = [&](std::size_t location, std::size_t length) {
        if (phrases.size() >= maxPhrases) return;
        if (length < 2 || length > 12 || location + length > units.size()) return;
        std::string phrase = toUTF8(std::u16string_view(units).substr(location, length));
        if (!containsKanjiOrKatakana(phrase) || seen.contains(phrase)) return;
        seen.insert(phrase);

        // Up to 5 units on each side, moved inwards where the cut would halve a surrogate pair.
        std::size_t leftStart = location >= phraseContextUnits ? location - phraseContextUnits : 0;
        if (leftStart > 0 && leftStart < location && isLowSurrogate(units[leftStart])) ++leftStart;
        const std::size_t rightStart = location + length;
        std::size_t rightEnd = std::min(rightStart + phraseContextUnits, units.size());
        if (rightEnd < units.size() && rightEnd > rightStart && isHighSurrogate(units[rightEnd - 1])) --rightEnd;

        PhraseItem item;
        item.id = "span_" + std::to_string(phrases.size());
        item.reading = SoundAlikeReading::reading(phrase);
        item.text = std::move(phrase);
        item.leftContext = toUTF8(std::u16string_view(units).substr(leftStart, location - leftStart));
        item.rightContext = toUTF8(std::u16string_view(units).substr(rightStart, rightEnd - rightStart));
        phrases.push_back(std::move(item));
    };

    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const RawToken& token = tokens[i];
        const std::size_t location = token.location;
        const std::size_t length = token.length;
        if (length >= 2 && length <= 12) add(location, length);

        if (containsKanji(token.surface)) {
            std::size_t extended = length;
            for (std::size_t j = i + 1; j <= i + 3 && j < tokens.size(); ++j) {
                const RawToken& next = tokens[j];
                if (next.location != location + extended || next.surface.empty() || !isAllHiragana(next.surface) ||
                    isParticle(next.surface))
                    break;
                extended += next.length;
                add(location, extended);
            }
        }

        if ((token.surface == "ご" || token.surface == "お") && i + 1 < tokens.size()) {
            const RawToken& next = tokens[i + 1];
            if (next.location == location + length && containsKanji(next.surface)) add(location, length + next.length);
        }

        if (i + 2 < tokens.size()) {
            const RawToken& middle = tokens[i + 1];
            const RawToken& last = tokens[i + 2];
            if (middle.surface == "の" && middle.location == location + length &&
                last.location == middle.location + middle.length && containsKanjiOrKatakana(token.surface) &&
                containsKanjiOrKatakana(last.surface))
                add(location, length + middle.length + last.length);
        }
    }
    return phrases;
}

}  // namespace pelora
