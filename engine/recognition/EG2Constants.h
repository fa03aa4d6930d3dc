#pragma once

#include <bit>
#include <cstdint>
#include <string_view>

// The fixed numbers of the EG2 acoustic pipeline. The models and data files in the
// model folder were built for exactly these values; none of them is configurable.
namespace pelora::EG2Constants {

inline constexpr std::int64_t sampleRate = 16000;
inline constexpr std::int64_t melFramesPerWindow = 2000;
inline constexpr std::int64_t melBins = 128;
inline constexpr std::int64_t stftWindowSamples = 320;
inline constexpr std::int64_t stftHopSamples = 160;
inline constexpr std::int64_t dftSize = 512;
inline constexpr std::int64_t spectrumBins = dftSize / 2 + 1;
// Float constants are given by their bits so that no decimal rounding can move them.
inline constexpr float logMelFloor = std::bit_cast<float>(std::uint32_t{0x3A83126F});  // 0.001
inline constexpr std::int64_t outputFramesPerWindow = 500;
inline constexpr double frameSeconds = 0.04;
inline constexpr std::int64_t windowSamples = 320000;
inline constexpr std::int64_t stepSamples = 288000;
inline constexpr std::int64_t keepStartFrame = 25;
inline constexpr std::int64_t keepEndFrame = 475;
inline constexpr std::int64_t embeddingDim = 768;
inline constexpr std::int64_t l11HiddenDim = 1024;
inline constexpr std::int64_t scorerRankDim = 128;
inline constexpr std::int64_t scorerTopKBlocks = 16;
inline constexpr std::int64_t scorerBlockSize = 4;
inline constexpr std::int64_t rerankCandidatesPerFrame = scorerTopKBlocks * scorerBlockSize;
inline constexpr float defaultReaderScale = std::bit_cast<float>(std::uint32_t{0x421F6D39});  // 39.856663
inline constexpr float defaultReaderBias = std::bit_cast<float>(std::uint32_t{0xBEECDCA1});   // -0.46262076
inline constexpr std::string_view repeatToken = "<rep>";
inline constexpr std::int64_t punctChunkSize = 96;

// The relations the pipeline relies on.
static_assert(windowSamples / stftHopSamples == melFramesPerWindow);
static_assert(melFramesPerWindow / 4 == outputFramesPerWindow);
static_assert(windowSamples - stepSamples == 2 * keepStartFrame * 640);
static_assert(keepEndFrame == outputFramesPerWindow - keepStartFrame);
static_assert(rerankCandidatesPerFrame == 64 && spectrumBins == 257);

}  // namespace pelora::EG2Constants
