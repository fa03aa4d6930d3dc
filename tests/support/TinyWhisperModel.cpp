#include "tests/support/TinyWhisperModel.h"

#include <array>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelora::testing {

namespace {

// Shape of the tiny model. The audio context (1500 frames for 30 s) and the mel count
// are fixed by the recogniser's front end; the vocabulary size selects the multilingual
// token layout, which the Japanese language token needs.
constexpr std::int32_t kVocab = 51865;
constexpr std::int32_t kAudioCtx = 1500;
constexpr std::int32_t kState = 64;
constexpr std::int32_t kHeads = 2;
constexpr std::int32_t kLayers = 1;
// A short text context bounds each decoding pass of a model that rarely stops on its own.
constexpr std::int32_t kTextCtx = 40;
constexpr std::int32_t kMels = 80;
constexpr std::int32_t kFtypeMostlyF16 = 1;
constexpr std::int32_t kFftBins = 201;
constexpr std::int32_t kTextTokens = 50257;  // ids below the end-of-text token
constexpr std::uint32_t kGgmlMagic = 0x67676d6c;

enum TensorType : std::int32_t { f32 = 0, f16 = 1 };

class ModelWriter {
public:
    ModelWriter(const std::filesystem::path& file, std::uint32_t seed) : out_(file, std::ios::binary), rng_(seed) {
        if (!out_) throw std::runtime_error("cannot write " + file.string());
    }

    template <typename T>
    void put(T value) {
        out_.write(reinterpret_cast<const char*>(&value), sizeof value);
    }
    void putBytes(const std::string& bytes) { out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size())); }

    // ggml dimension order: ne[0] is the fastest-varying one.
    void tensor(const std::string& name, std::vector<std::int32_t> ne, TensorType type, float scale, float offset = 0) {
        put<std::int32_t>(static_cast<std::int32_t>(ne.size()));
        put<std::int32_t>(static_cast<std::int32_t>(name.size()));
        put<std::int32_t>(type);
        std::size_t count = 1;
        for (std::int32_t n : ne) {
            put<std::int32_t>(n);
            count *= static_cast<std::size_t>(n);
        }
        putBytes(name);
        std::normal_distribution<float> noise(0.0f, 1.0f);
        for (std::size_t i = 0; i < count; ++i) {
            float value = offset + (scale == 0 ? 0.0f : scale * noise(rng_));
            if (type == f16) {
                _Float16 half = static_cast<_Float16>(value);
                put(half);
            } else {
                put(value);
            }
        }
    }

    void close() {
        out_.close();
        if (!out_) throw std::runtime_error("writing the model file failed");
    }

private:
    std::ofstream out_;
    std::mt19937 rng_;
};

std::string utf8(char32_t c) {
    std::string s;
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
    return s;
}

// Token i of the text vocabulary. Byte-level tokens of a real model split multi-byte
// characters the same way.
std::string tokenText(std::int32_t i) {
    static const std::array<const char*, 8> words = {"the", "API", "GPU", "model", "a", "data", "Swift", "test"};
    const char32_t kana = U'ぁ' + static_cast<char32_t>(i % 86);
    const char32_t kanji = U'一' + static_cast<char32_t>(i % 20000);
    switch (i % 10) {
        case 0: return utf8(kana);
        case 1: return utf8(kanji);
        case 2: return utf8(kanji) + utf8(kana);
        case 3: return " " + std::string(words[static_cast<std::size_t>(i / 10) % words.size()]);
        case 4: return utf8(kanji).substr(0, 1);  // lead byte alone
        case 5: return utf8(kanji).substr(1);  // continuation bytes alone
        case 6: return utf8(kanji).substr(0, 2);
        case 7: return utf8(kanji).substr(2);
        case 8: return i % 20 == 8 ? " " : "、";
        default: return utf8(kana) + "。";
    }
}

void attention(ModelWriter& w, const std::string& prefix) {
    w.tensor(prefix + ".query.weight", {kState, kState}, f16, 0.05f);
    w.tensor(prefix + ".query.bias", {kState}, f32, 0.0f);
    w.tensor(prefix + ".key.weight", {kState, kState}, f16, 0.05f);
    w.tensor(prefix + ".value.weight", {kState, kState}, f16, 0.05f);
    w.tensor(prefix + ".value.bias", {kState}, f32, 0.0f);
    w.tensor(prefix + ".out.weight", {kState, kState}, f16, 0.05f);
    w.tensor(prefix + ".out.bias", {kState}, f32, 0.0f);
}

void layerNorm(ModelWriter& w, const std::string& prefix) {
    w.tensor(prefix + ".weight", {kState}, f32, 0.0f, 1.0f);
    w.tensor(prefix + ".bias", {kState}, f32, 0.0f);
}

void mlp(ModelWriter& w, const std::string& block) {
    layerNorm(w, block + ".mlp_ln");
    w.tensor(block + ".mlp.0.weight", {kState, 4 * kState}, f16, 0.05f);
    w.tensor(block + ".mlp.0.bias", {4 * kState}, f32, 0.0f);
    w.tensor(block + ".mlp.2.weight", {4 * kState, kState}, f16, 0.05f);
    w.tensor(block + ".mlp.2.bias", {kState}, f32, 0.0f);
}

}  // namespace

void writeTinyWhisperModel(const std::filesystem::path& file, std::uint32_t seed) {
    ModelWriter w(file, seed);
    w.put(kGgmlMagic);
    for (std::int32_t v : {kVocab, kAudioCtx, kState, kHeads, kLayers, kTextCtx, kState, kHeads, kLayers, kMels,
                           kFtypeMostlyF16}) {
        w.put(v);
    }

    // Mel filter bank: triangle-free bands of equal width over the FFT bins are enough
    // for a model that recognises nothing.
    w.put<std::int32_t>(kMels);
    w.put<std::int32_t>(kFftBins);
    for (std::int32_t m = 0; m < kMels; ++m) {
        for (std::int32_t k = 0; k < kFftBins; ++k) {
            w.put<float>(k * kMels / kFftBins == m ? 1.0f : 0.0f);
        }
    }

    // Text tokens only; the loader names the special tokens above them itself.
    w.put<std::int32_t>(kTextTokens);
    for (std::int32_t i = 0; i < kTextTokens; ++i) {
        std::string text = tokenText(i);
        w.put<std::uint32_t>(static_cast<std::uint32_t>(text.size()));
        w.putBytes(text);
    }

    w.tensor("encoder.positional_embedding", {kState, kAudioCtx}, f32, 0.02f);
    w.tensor("encoder.conv1.weight", {3, kMels, kState}, f16, 0.1f);
    w.tensor("encoder.conv1.bias", {1, kState}, f32, 0.0f);
    w.tensor("encoder.conv2.weight", {3, kState, kState}, f16, 0.1f);
    w.tensor("encoder.conv2.bias", {1, kState}, f32, 0.0f);
    layerNorm(w, "encoder.ln_post");
    for (int i = 0; i < kLayers; ++i) {
        const std::string block = "encoder.blocks." + std::to_string(i);
        mlp(w, block);
        layerNorm(w, block + ".attn_ln");
        attention(w, block + ".attn");
    }

    w.tensor("decoder.positional_embedding", {kState, kTextCtx}, f32, 0.02f);
    w.tensor("decoder.token_embedding.weight", {kState, kVocab}, f16, 0.05f);
    layerNorm(w, "decoder.ln");
    for (int i = 0; i < kLayers; ++i) {
        const std::string block = "decoder.blocks." + std::to_string(i);
        mlp(w, block);
        layerNorm(w, block + ".attn_ln");
        attention(w, block + ".attn");
        layerNorm(w, block + ".cross_attn_ln");
        attention(w, block + ".cross_attn");
    }
    w.close();
}

}  // namespace pelora::testing
