#pragma once

#include <optional>
#include <string>

namespace pelora {

// One timed unit of recognised text: an EG2 word, a recogniser run or a timeline phrase.
struct TranscribedWord {
    std::string text;
    std::string rawText;
    double start = 0;
    double end = 0;
    float confidence = 0;
    std::string source;

    TranscribedWord() = default;
    // Without a raw text the word's own text stands for it.
    TranscribedWord(std::string text, std::optional<std::string> rawText, double start, double end, float confidence,
                    std::string source)
        : text(text), rawText(rawText ? std::move(*rawText) : std::move(text)), start(start), end(end),
          confidence(confidence), source(std::move(source)) {}

    // Identity in lists: start, "-", end, "-", text; equal times and text share it.
    std::string id() const;

    friend bool operator==(const TranscribedWord& a, const TranscribedWord& b);
};

// Shortest decimal text that reads back as the same double; whole numbers keep ".0",
// very large or small magnitudes use exponent notation (1e+16, 1e-05).
std::string shortestDoubleText(double value);

}  // namespace pelora
