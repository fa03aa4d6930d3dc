#include "engine/recognition/EG2Telemetry.h"

#include <algorithm>

#include "platform/text/UnicodeText.h"

namespace pelora {

namespace {
bool sameTexts(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const std::string& x, const std::string& y) { return text::canonicallyEqual(x, y); });
}
}  // namespace

bool operator==(const EG2Telemetry& a, const EG2Telemetry& b) {
    return a.audioDurationSeconds == b.audioDurationSeconds && a.totalProcessingMs == b.totalProcessingMs &&
           a.logMelMs == b.logMelMs && a.encoderL11Ms == b.encoderL11Ms && a.readerP6Ms == b.readerP6Ms &&
           a.scorerAndRerankMs == b.scorerAndRerankMs && a.japaneseDecodeMs == b.japaneseDecodeMs &&
           a.postProcessingMs == b.postProcessingMs && a.windowCount == b.windowCount &&
           a.activeFrameCount == b.activeFrameCount && a.pauseSegmentCount == b.pauseSegmentCount &&
           sameTexts(a.detectedEnglishEmbeddingTerms, b.detectedEnglishEmbeddingTerms) &&
           sameTexts(a.appliedRuleAnnotations, b.appliedRuleAnnotations);
}

}  // namespace pelora
