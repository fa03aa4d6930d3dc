// The built-in benchmark: a fixed sentence spoken by espeak-ng into a private WAV file,
// transcribed in the sample's own mode and completed like a dictation.
#include "PeloraVoiceApp/controller/AppViewModel.h"

#include "PeloraVoiceApp/controller/BenchmarkSpeechSynthesizer.h"

namespace pelora {

using P = AppViewModelProperty;

const AppViewModel::BenchmarkSample& AppViewModel::benchmarkSample(bool japanese) {
    static const BenchmarkSample samples[] = {
        {"日本語ハイブリッド検証サンプル (Kyoko)", "ja",
         "えーと、本日のミーティングでは、新しい日本語音声入力ツールの設計について説明します。まる。かいぎょう。"
         "よろしくおねがいします。まる。",
         EngineMode::hybridJaEn, "pelora_benchmark_ja.wav"},
        {"EG2 英語パイプライン検証サンプル (Samantha)", "en-us",
         "Embedding Gemma two uses a four stage Core ML audio encoder and a seventy six thousand vector reranker "
         "for ultra fast on device transcription.",
         EngineMode::pureEG2English, "pelora_benchmark_en.wav"},
    };
    return samples[japanese ? 0 : 1];
}

void AppViewModel::runBuiltInSampleBenchmark(bool japanese, bool injectIntoFocusedFieldAfter) {
    if (isBusyTranscribingOrRecording()) return;
    invalidateTranscriptionSession();
    const BenchmarkSample& sample = benchmarkSample(japanese);
    assign(isTranscribing_, true, P::isTranscribing);
    assign(errorMessage_, std::optional<std::string>(), P::errorMessage);
    assign(currentSourceName_, std::string(sample.sourceLabel), P::currentSourceName);
    std::optional<ActiveApplicationSnapshot> target;
    if (injectIntoFocusedFieldAfter) target = c_.targetCapture.captureTargetForRecordingStart(true);

    SampleJob job;
    job.source = [tool = c_.speechSynthesizer, &sample] {
        const std::filesystem::path file = BenchmarkSpeechSynthesizer::privateSampleFolder() / sample.fileName;
        BenchmarkSpeechSynthesizer::speak(tool, std::string(sample.voice), file, std::string(sample.text));
        return file;
    };
    job.engineMode = sample.engineMode;
    job.inputOptions = effectiveInputOptions();
    job.enableHomophoneReranking = enableHomophoneReranking_;
    job.customVocabulary = customVocabulary_;
    const std::string sourceName(sample.sourceLabel);
    runSampleJob(std::move(job), benchmarkErrorPrefix,
                 [sourceName, target, injectIntoFocusedFieldAfter](AppViewModel& model, TranscriptionResult result) {
                     model.completeTranscription(std::move(result), sourceName, target, std::nullopt,
                                                 injectIntoFocusedFieldAfter);
                 });
}

}  // namespace pelora
