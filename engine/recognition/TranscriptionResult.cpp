#include "engine/recognition/TranscriptionResult.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "engine/recognition/NumberText.h"
#include "engine/recognition/RecordReader.h"
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

TranscribedWord wordFromJSON(const json& object) {
    RecordReader j(object, "TranscribedWord");
    TranscribedWord w;
    w.text = j.string("text");
    w.rawText = j.string("rawText");
    w.start = j.number("start");
    w.end = j.number("end");
    w.confidence = j.float32("confidence");
    w.source = j.string("source");
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

EG2Telemetry telemetryFromJSON(const json& object) {
    RecordReader j(object, "EG2Telemetry");
    EG2Telemetry t;
    t.audioDurationSeconds = j.number("audioDurationSeconds");
    t.totalProcessingMs = j.number("totalProcessingMs");
    t.logMelMs = j.number("logMelMs");
    t.encoderL11Ms = j.number("encoderL11Ms");
    t.readerP6Ms = j.number("readerP6Ms");
    t.scorerAndRerankMs = j.number("scorerAndRerankMs");
    t.japaneseDecodeMs = j.number("japaneseDecodeMs");
    t.postProcessingMs = j.number("postProcessingMs");
    t.windowCount = j.integer("windowCount");
    t.activeFrameCount = j.integer("activeFrameCount");
    t.pauseSegmentCount = j.integer("pauseSegmentCount");
    t.detectedEnglishEmbeddingTerms = j.strings("detectedEnglishEmbeddingTerms");
    t.appliedRuleAnnotations = j.strings("appliedRuleAnnotations");
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
    return dumpRecord(j);
}

TranscriptionResult TranscriptionResult::fromJSON(std::string_view text) {
    RecordReader j(text, "TranscriptionResult");
    TranscriptionResult r;
    r.text = j.string("text");
    r.rawText = j.string("rawText");
    r.eg2DirectText = j.string("eg2DirectText");
    const json& words = j.require("words");
    if (!words.is_array()) j.fail("\"words\" is not an array");
    for (const json& w : words) r.words.push_back(wordFromJSON(w));
    const json& pauses = j.require("pauseTimestamps");
    if (!pauses.is_array()) j.fail("\"pauseTimestamps\" is not an array");
    for (const json& p : pauses) {
        if (!p.is_number()) j.fail("\"pauseTimestamps\" holds a non-number");
        r.pauseTimestamps.push_back(p.get<double>());
    }
    r.telemetry = telemetryFromJSON(j.require("telemetry"));
    const std::string mode = j.string("engineMode");
    auto parsed = engine_mode::fromRawValue(mode);
    if (!parsed) j.fail("\"engineMode\" is not a known mode: " + mode);
    r.engineMode = *parsed;
    return r;
}

bool operator==(const TranscriptionResult& a, const TranscriptionResult& b) {
    return text::canonicallyEqual(a.text, b.text) && text::canonicallyEqual(a.rawText, b.rawText) &&
           text::canonicallyEqual(a.eg2DirectText, b.eg2DirectText) && a.words == b.words &&
           a.pauseTimestamps == b.pauseTimestamps && a.telemetry == b.telemetry && a.engineMode == b.engineMode;
}

}  // namespace pelora
