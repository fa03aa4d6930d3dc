#include "cli/CommandLineTool.h"

#include <chrono>
#include <filesystem>
#include <ostream>

#include <unistd.h>

#include "cli/DownloadProgressLine.h"
#include "engine/japanese/DefaultVocabulary.h"
#include "engine/japanese/JapaneseInputOptions.h"
#include "engine/recognition/AudioDecoder.h"
#include "engine/recognition/NumberText.h"
#include "engine/recognition/PeloraHybridTranscriber.h"

namespace pelora::cli {

namespace {

std::string repeated(std::string_view unit, int count) {
    std::string s;
    for (int i = 0; i < count; ++i) s += unit;
    return s;
}

const std::string kHeavyRule = repeated("━", 68);
const std::string kLightRule = repeated("─", 68);

EngineMode modeFromValue(const std::string& value) {
    if (value == "eg2" || value == "en" || value == "pure_eg2_en") return EngineMode::pureEG2English;
    if (value == "ja" || value == "apple_speech_ja") return EngineMode::appleSpeechJa;
    return EngineMode::hybridJaEn;
}

std::string joined(const std::vector<std::string>& items, std::string_view separator) {
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += separator;
        out += items[i];
    }
    return out;
}

std::string ms(double value) { return formatFixed(value, 1); }

}  // namespace

ParsedArguments parseArguments(const std::vector<std::string>& arguments) {
    ParsedArguments parsed;
    if (arguments.size() < 2) {
        parsed.showUsage = true;
        return parsed;
    }
    for (const std::string& argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            parsed.showUsage = true;
            return parsed;
        }
    }
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--mode" || argument == "-m") {
            if (i + 1 < arguments.size()) parsed.mode = modeFromValue(arguments[++i]);
        } else if (argument == "--polish") {
            parsed.polish = true;
        } else {
            parsed.inputPath = argument;
        }
    }
    if (parsed.inputPath.empty()) parsed.showUsage = true;
    return parsed;
}

int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    ParsedArguments parsed = parseArguments(arguments);
    if (parsed.showUsage) {
        out << kUsageLine << "\n";
        return 0;
    }

    std::error_code ec;
    std::filesystem::path file = std::filesystem::absolute(parsed.inputPath, ec).lexically_normal();
    if (ec) file = parsed.inputPath;
    if (!std::filesystem::exists(file, ec)) {
        err << "Error: File not found: " << file.string() << "\n";
        return 1;
    }

    out << kHeavyRule << "\n"
        << " PeloraVoice2 CLI — EmbeddingGemma 2 + Japanese Ultra-Fast Dictation\n"
        << kHeavyRule << "\n";

    auto readyStart = std::chrono::steady_clock::now();
    PeloraHybridTranscriber transcriber;
    double readyMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - readyStart).count();

    out << "• Engine Ready     : " << ms(readyMs) << " ms (EG2 CoreML Loaded: "
        << (transcriber.isEG2Loaded() ? "YES" : "NO") << ")\n";
    out << "• Mode             : " << engine_mode::displayName(parsed.mode) << "\n";
    out << "• Input File       : " << file.filename().string() << "\n";
    out.flush();

    JapaneseInputOptions options;
    options.spokenToWrittenPolish = parsed.polish;
    options.punctuationStyle = JapanesePunctuationStyle::standard;
    options.punctuationDensity = JapanesePunctuationDensity::balanced;

    TranscriptionResult result;
    DownloadProgressLine downloadLine(err, isatty(STDERR_FILENO) == 1);
    try {
        std::vector<float> samples = AudioDecoder::decode16kMono(file, nullptr);
        if (parsed.mode != EngineMode::pureEG2English) {
            // The speech model is fetched on first use; say so, and how far it has come.
            PeloraHybridTranscriber::ensureJapaneseSpeechAssets(
                [&](const std::string& text) { err << text << "\n" << std::flush; },
                [&](const speech::AssetDownloadProgress& progress) { downloadLine.update(progress); });
            downloadLine.finish();
        }
        result = transcriber.transcribeSamples(samples, file, parsed.mode, options, defaultVocabulary(), std::nullopt,
                                               std::nullopt);
    } catch (const std::exception& e) {
        downloadLine.finish();
        err << "Error: " << e.what() << "\n";
        return 1;
    }

    const EG2Telemetry& t = result.telemetry;
    double rtfx = t.totalProcessingMs > 0 ? t.audioDurationSeconds / (t.totalProcessingMs / 1000) : 0;
    out << kLightRule << "\n";
    out << "• Audio Duration   : " << formatFixed(t.audioDurationSeconds, 2) << " s\n";
    out << "• Total Latency    : " << ms(t.totalProcessingMs) << " ms (" << ms(rtfx) << "× Real-Time)\n";
    out << "  ├─ LogMel (vDSP) : " << ms(t.logMelMs) << " ms\n";
    out << "  ├─ EG2 L11 (ANE) : " << ms(t.encoderL11Ms) << " ms\n";
    out << "  ├─ Reader P6     : " << ms(t.readerP6Ms) << " ms\n";
    out << "  ├─ Scorer+Rerank : " << ms(t.scorerAndRerankMs) << " ms\n";
    out << "  ├─ JA Speech ANE : " << ms(t.japaneseDecodeMs) << " ms\n";
    out << "  └─ JA Post-Rules : " << ms(t.postProcessingMs) << " ms\n";
    if (!t.detectedEnglishEmbeddingTerms.empty()) {
        out << "• EG2 768-D Terms  : " << joined(t.detectedEnglishEmbeddingTerms, ", ") << "\n";
    }
    if (!t.appliedRuleAnnotations.empty()) {
        out << "• Applied JA Rules : " << joined(t.appliedRuleAnnotations, " / ") << "\n";
    }
    if (!result.rawText.empty() && result.rawText != result.text) {
        out << kLightRule << "\n[Raw ASR Output]\n" << result.rawText << "\n";
    }
    if (!result.eg2DirectText.empty() && parsed.mode == EngineMode::hybridJaEn) {
        out << kLightRule << "\n[EG2 229k English Vector Stream]\n" << result.eg2DirectText << "\n";
    }
    out << kLightRule << "\n[Final Formatted Output]\n" << result.text << "\n";
    if (!result.words.empty()) {
        out << kLightRule << "\n[Segmented Timestamps (" << result.words.size() << " tokens / "
            << result.pauseTimestamps.size() << " pauses)]\n"
            << result.formattedTimestamps() << "\n";
    }
    out << kHeavyRule << "\n";
    return 0;
}

}  // namespace pelora::cli
