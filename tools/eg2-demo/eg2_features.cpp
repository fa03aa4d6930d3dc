// Log-mel features for model training, computed by the engine's own front end so that
// training sees exactly what the pipeline feeds the encoder.
//
// Usage: eg2-features <model-folder> <list-file>
//   <model-folder> holds "hann_320.f32" and "mel_filters_257x128.f32".
//   Each line of <list-file> is "<input.f32> <output.mel>": the input is raw little-endian
//   float32 samples, 16 kHz mono (only the first 20 s window is used); the output gets the
//   computed frames only, validFrames x 128 float32 values, frame-major.

#include <algorithm>
#include <cstdint>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/recognition/EG2Constants.h"
#include "engine/recognition/LogMel.h"

namespace {

std::vector<float> readSamples(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(path + ": cannot be read");
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::copy_n(bytes.data(), samples.size() * sizeof(float), reinterpret_cast<char*>(samples.data()));
    return samples;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "Usage: eg2-features <model-folder> <list-file>\n";
        return 2;
    }
    try {
        const pelora::LogMel logMel(argv[1]);
        std::ifstream list(argv[2]);
        if (!list) throw std::runtime_error(std::string(argv[2]) + ": cannot be read");
        std::string line;
        std::size_t done = 0;
        while (std::getline(list, line)) {
            std::istringstream fields(line);
            std::string input, output;
            if (!(fields >> input >> output)) continue;
            std::vector<float> samples = readSamples(input);
            if (samples.size() > static_cast<std::size_t>(pelora::EG2Constants::windowSamples)) {
                samples.resize(static_cast<std::size_t>(pelora::EG2Constants::windowSamples));
            }
            const pelora::LogMel::Features features = logMel(samples);
            std::ofstream out(output, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(features.mel.data()),
                      static_cast<std::streamsize>(features.validFrames * pelora::EG2Constants::melBins *
                                                   static_cast<std::int64_t>(sizeof(float))));
            if (!out) throw std::runtime_error(output + ": cannot be written");
            ++done;
        }
        std::cerr << "eg2-features: " << done << " clips\n";
    } catch (const std::exception& e) {
        std::cerr << "Error: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
