#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/recognition/TranscribedWord.h"

// Gives the final Japanese text a timeline again: cuts it into phrases (a content word
// with the particles and endings that cling to it), spreads them over the span that the
// recogniser's runs cover and snaps phrase ends to pauses. Stateless; every operation is
// reentrant and never fails (bad input gives fewer or estimated results).
namespace pelora::JapaneseTimelineSegmenter {

// The final text's phrases as timed words, in text order; each carries `source`.
std::vector<TranscribedWord> segment(std::string_view finalText, const std::vector<TranscribedWord>& rawSegments,
                                     const std::vector<double>& pauseTimestamps, double totalDuration,
                                     std::string_view source);

// The explicit pauses (finite, above 0) plus pauses found between the words, sorted.
std::vector<double> detectPauseBoundaries(const std::vector<TranscribedWord>& words,
                                          const std::vector<double>& explicitPauses);

// The text's phrases.
std::vector<std::string> tokenizeBunsetsu(std::string_view text);

// --- Steps of the above, exposed for their own tests.

// A point of the map from a fraction of the spoken text to a time.
struct TimelineAnchor {
    double fraction = 0;
    double time = 0;
    float confidence = 0;
};

// True when the text, without closing brackets and spaces at its ends, ends with a sentence end or comma.
bool endsWithBoundaryPunctuation(std::string_view text);
// Script rule of phrase merging: two short all-kanji cores, or all-katakana cores shorter than 9 together.
bool shouldJoinScriptRun(std::string_view previousCore, std::string_view tokenCore);
// Relative speaking time of a phrase.
double estimatedSpokenWeight(std::string_view phrase);
// True when the runs' start times take at least two values at hundredth-second resolution.
bool hasDistinctRawTiming(const std::vector<TranscribedWord>& runs);
// Time and confidence at `fraction` through the anchors (linear between neighbours).
std::pair<double, float> interpolatedTime(double fraction, const std::vector<TimelineAnchor>& anchors,
                                          double speechStart, double span);

}  // namespace pelora::JapaneseTimelineSegmenter
