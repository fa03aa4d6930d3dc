#include "engine/recognition/TranscriptionResult.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "engine/recognition/NumberText.h"
#include "platform/text/UnicodeText.h"

namespace pelora {

namespace {

bool isASCIIAlnum(unsigned char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool endsWithAny(const std::string& s, std::initializer_list<std::string_view> ends) {
    return std::any_of(ends.begin(), ends.end(), [&](std::string_view end) {
        return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
    });
}

// Times outside the representable range are held to a safe span before integer conversion.
double sanitizedSeconds(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) return 0;
    return std::min(seconds, 1.0e12);
}

}  // namespace

std::string joinTranscriptTokens(const std::vector<std::string>& tokens) {
    if (tokens.empty()) return {};
    std::string out = tokens.front();
    for (std::size_t i = 1; i < tokens.size(); ++i) {
        const std::string& token = tokens[i];
        if (!out.empty() && !token.empty()) {
            unsigned char last = static_cast<unsigned char>(out.back());
            unsigned char first = static_cast<unsigned char>(token.front());
            // A trailing byte >= 0x80 belongs to a non-ASCII character, which never takes a space.
            bool lastQualifies = last < 0x80 && (isASCIIAlnum(last) || last == ',' || last == '.');
            if (lastQualifies && first < 0x80 && isASCIIAlnum(first)) out += ' ';
        }
        out += token;
    }
    return out;
}

std::string srtTimestamp(double seconds) {
    double t = sanitizedSeconds(seconds);
    auto whole = static_cast<long long>(t);  // truncation toward zero
    // The product is formed exactly (a 53-bit fraction times 1000 fits a 64-bit mantissa),
    // so the double nearest 0.29 s truncates to 289 ms rather than being rounded up first.
    auto millis = static_cast<long long>(static_cast<long double>(t - std::floor(t)) * 1000.0L);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld,%03lld", whole / 3600, (whole % 3600) / 60, whole % 60, millis);
    return buf;
}

std::vector<TranscribedWord> TranscriptionResult::sentenceSegments() const {
    std::vector<TranscribedWord> segments;
    if (words.empty()) return segments;
    const std::string& source = words.front().source;

    std::vector<std::string> texts;
    std::vector<float> confidences;
    double groupStart = 0;

    auto close = [&](double end) {
        std::string joined = joinTranscriptTokens(texts);
        float sum = 0;
        for (float c : confidences) sum += c;
        float mean = sum / static_cast<float>(confidences.size());
        segments.emplace_back(joined, joined, groupStart, end, mean, source);
        texts.clear();
        confidences.clear();
    };

    for (const TranscribedWord& word : words) {
        if (texts.empty()) groupStart = word.start;
        texts.push_back(word.text);
        confidences.push_back(word.confidence);
        std::string joined = joinTranscriptTokens(texts);
        bool sentenceEnd = endsWithAny(joined, {"。", "．", "？", "！", ".", "?", "!"});
        if (sentenceEnd || word.end - groupStart >= 4.5) close(word.end);
    }
    if (!texts.empty()) close(words.back().end);
    return segments;
}

std::string TranscriptionResult::formattedTimestamps() const {
    if (words.empty()) return text;
    std::string out;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const TranscribedWord& w = words[i];
        if (i > 0) out += '\n';
        out += "[" + formatFixed(w.start, 2, 5) + "s → " + formatFixed(w.end, 2, 5) + "s] " + w.text + " (" + w.source + ")";
    }
    return out;
}

std::string TranscriptionResult::formattedSRT() const {
    std::string out;
    std::vector<TranscribedWord> segments = sentenceSegments();
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (i > 0) out += "\n\n";
        out += std::to_string(i + 1) + "\n" + srtTimestamp(segments[i].start) + " --> " + srtTimestamp(segments[i].end) +
               "\n" + segments[i].text;
    }
    return out;
}

// ---- JSON ----

namespace {

using json = nlohmann::ordered_json;

double finiteNumber(double value, const char* key) {
    if (!std::isfinite(value)) {
        throw RecordCodingError(std::string("cannot write a non-finite number for \"") + key + "\"");
    }
    return value;
}

const json& requireKey(const json& object, const char* key) {
    if (!object.is_object()) throw RecordCodingError("expected a JSON object");
    auto it = object.find(key);
    if (it == object.end()) throw RecordCodingError(std::string("missing key \"") + key + "\"");
    return *it;
}

std::string readString(const json& object, const char* key) {
    const json& value = requireKey(object, key);
    if (!value.is_string()) throw RecordCodingError(std::string("\"") + key + "\" is not a string");
    return value.get<std::string>();
}

double readNumber(const json& object, const char* key) {
    const json& value = requireKey(object, key);
    if (!value.is_number()) throw RecordCodingError(std::string("\"") + key + "\" is not a number");
    return value.get<double>();
}

std::int64_t readInteger(const json& object, const char* key) {
    const json& value = requireKey(object, key);
    if (value.is_number_integer()) return value.get<std::int64_t>();
    if (value.is_number_float()) {
        double d = value.get<double>();
        if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.2e18) return static_cast<std::int64_t>(d);
    }
    throw RecordCodingError(std::string("\"") + key + "\" is not an integer");
}

std::vector<std::string> readStrings(const json& object, const char* key) {
    const json& value = requireKey(object, key);
    if (!value.is_array()) throw RecordCodingError(std::string("\"") + key + "\" is not an array");
    std::vector<std::string> out;
    for (const json& item : value) {
        if (!item.is_string()) throw RecordCodingError(std::string("\"") + key + "\" holds a non-string");
        out.push_back(item.get<std::string>());
    }
    return out;
}

json wordToJSON(const TranscribedWord& w) {
    json j;
    j["text"] = w.text;
    j["rawText"] = w.rawText;
    j["start"] = finiteNumber(w.start, "start");
    j["end"] = finiteNumber(w.end, "end");
    j["confidence"] = finiteNumber(w.confidence, "confidence");
    j["source"] = w.source;
    return j;
}

TranscribedWord wordFromJSON(const json& j) {
    TranscribedWord w;
    w.text = readString(j, "text");
    w.rawText = readString(j, "rawText");
    w.start = readNumber(j, "start");
    w.end = readNumber(j, "end");
    w.confidence = static_cast<float>(readNumber(j, "confidence"));
    w.source = readString(j, "source");
    return w;
}

json telemetryToJSON(const EG2Telemetry& t) {
    json j;
    j["audioDurationSeconds"] = finiteNumber(t.audioDurationSeconds, "audioDurationSeconds");
    j["totalProcessingMs"] = finiteNumber(t.totalProcessingMs, "totalProcessingMs");
    j["logMelMs"] = finiteNumber(t.logMelMs, "logMelMs");
    j["encoderL11Ms"] = finiteNumber(t.encoderL11Ms, "encoderL11Ms");
    j["readerP6Ms"] = finiteNumber(t.readerP6Ms, "readerP6Ms");
    j["scorerAndRerankMs"] = finiteNumber(t.scorerAndRerankMs, "scorerAndRerankMs");
    j["japaneseDecodeMs"] = finiteNumber(t.japaneseDecodeMs, "japaneseDecodeMs");
    j["postProcessingMs"] = finiteNumber(t.postProcessingMs, "postProcessingMs");
    j["windowCount"] = t.windowCount;
    j["activeFrameCount"] = t.activeFrameCount;
    j["pauseSegmentCount"] = t.pauseSegmentCount;
    j["detectedEnglishEmbeddingTerms"] = t.detectedEnglishEmbeddingTerms;
    j["appliedRuleAnnotations"] = t.appliedRuleAnnotations;
    return j;
}

EG2Telemetry telemetryFromJSON(const json& j) {
    EG2Telemetry t;
    t.audioDurationSeconds = readNumber(j, "audioDurationSeconds");
    t.totalProcessingMs = readNumber(j, "totalProcessingMs");
    t.logMelMs = readNumber(j, "logMelMs");
    t.encoderL11Ms = readNumber(j, "encoderL11Ms");
    t.readerP6Ms = readNumber(j, "readerP6Ms");
    t.scorerAndRerankMs = readNumber(j, "scorerAndRerankMs");
    t.japaneseDecodeMs = readNumber(j, "japaneseDecodeMs");
    t.postProcessingMs = readNumber(j, "postProcessingMs");
    t.windowCount = readInteger(j, "windowCount");
    t.activeFrameCount = readInteger(j, "activeFrameCount");
    t.pauseSegmentCount = readInteger(j, "pauseSegmentCount");
    t.detectedEnglishEmbeddingTerms = readStrings(j, "detectedEnglishEmbeddingTerms");
    t.appliedRuleAnnotations = readStrings(j, "appliedRuleAnnotations");
    return t;
}

}  // namespace

std::string TranscriptionResult::toJSON() const {
    json j;
    j["text"] = text;
    j["rawText"] = rawText;
    j["eg2DirectText"] = eg2DirectText;
    j["words"] = json::array();
    for (const TranscribedWord& w : words) j["words"].push_back(wordToJSON(w));
    j["pauseTimestamps"] = json::array();
    for (double p : pauseTimestamps) j["pauseTimestamps"].push_back(finiteNumber(p, "pauseTimestamps"));
    j["telemetry"] = telemetryToJSON(telemetry);
    j["engineMode"] = std::string(engine_mode::rawValue(engineMode));
    return j.dump();
}

TranscriptionResult TranscriptionResult::fromJSON(std::string_view text) {
    json j;
    try {
        j = json::parse(text.begin(), text.end());
    } catch (const json::exception& e) {
        throw RecordCodingError(std::string("not valid JSON: ") + e.what());
    }
    TranscriptionResult r;
    r.text = readString(j, "text");
    r.rawText = readString(j, "rawText");
    r.eg2DirectText = readString(j, "eg2DirectText");
    const json& words = requireKey(j, "words");
    if (!words.is_array()) throw RecordCodingError("\"words\" is not an array");
    for (const json& w : words) r.words.push_back(wordFromJSON(w));
    const json& pauses = requireKey(j, "pauseTimestamps");
    if (!pauses.is_array()) throw RecordCodingError("\"pauseTimestamps\" is not an array");
    for (const json& p : pauses) {
        if (!p.is_number()) throw RecordCodingError("\"pauseTimestamps\" holds a non-number");
        r.pauseTimestamps.push_back(p.get<double>());
    }
    r.telemetry = telemetryFromJSON(requireKey(j, "telemetry"));
    std::string mode = readString(j, "engineMode");
    auto parsed = engine_mode::fromRawValue(mode);
    if (!parsed) throw RecordCodingError("\"engineMode\" is not a known mode: " + mode);
    r.engineMode = *parsed;
    return r;
}

bool operator==(const TranscriptionResult& a, const TranscriptionResult& b) {
    return text::canonicallyEqual(a.text, b.text) && text::canonicallyEqual(a.rawText, b.rawText) &&
           text::canonicallyEqual(a.eg2DirectText, b.eg2DirectText) && a.words == b.words &&
           a.pauseTimestamps == b.pauseTimestamps && a.telemetry == b.telemetry && a.engineMode == b.engineMode;
}

}  // namespace pelora
