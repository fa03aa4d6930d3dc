#include "platform/speech/SpeechModelCheck.h"

#include <array>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <sys/stat.h>

#include <ggml.h>

namespace pelora::speech {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kGgmlMagic = 0x67676d6c;
// The recogniser's front end fixes these: 30 s windows of 1500 audio frames, 201 FFT
// bins, 80 or 128 mel bands, and the token layout of a 51864 (English) to 51866 entry
// vocabulary; other values make it index past its tables.
constexpr std::int32_t kAudioContext = 1500;
constexpr std::int32_t kFftBins = 201;
constexpr std::int32_t kEnglishVocabulary = 51864;
constexpr std::int32_t kLargestVocabulary = 51866;
// Generous bounds far beyond every published model, so that products stay small.
constexpr std::int32_t kMaxState = 16384;
constexpr std::int32_t kMaxHeads = 1024;
constexpr std::int32_t kMaxLayers = 256;
constexpr std::int32_t kMinTextContext = 16;  // the decoder keeps half of it, less 4, for the prompt
constexpr std::int32_t kMaxTextContext = 65536;
constexpr std::uint32_t kMaxTokenBytes = 65536;
constexpr std::int32_t kMaxTensorName = 1024;
constexpr int kMaxDimensions = 4;

// Bytes read front to back, with skipping; never past the end.
class Source {
public:
    virtual ~Source() = default;
    virtual std::uint64_t remaining() const = 0;
    virtual bool read(void* into, std::size_t count) = 0;
    virtual bool skip(std::uint64_t count) = 0;
};

class ByteSource final : public Source {
public:
    explicit ByteSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t remaining() const override { return bytes_.size() - position_; }
    bool read(void* into, std::size_t count) override {
        if (count > remaining()) return false;
        std::memcpy(into, bytes_.data() + position_, count);
        position_ += count;
        return true;
    }
    bool skip(std::uint64_t count) override {
        if (count > remaining()) return false;
        position_ += static_cast<std::size_t>(count);
        return true;
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

class FileSource final : public Source {
public:
    explicit FileSource(const fs::path& path) : file_(std::fopen(path.c_str(), "rb")) {
        struct stat info {};
        if (file_ && fstat(fileno(file_.get()), &info) == 0 && S_ISREG(info.st_mode)) {
            size_ = static_cast<std::uint64_t>(info.st_size);
            open_ = true;
        }
    }
    bool isOpen() const { return open_; }
    std::uint64_t remaining() const override { return size_ - position_; }
    bool read(void* into, std::size_t count) override {
        if (count > remaining() || std::fread(into, 1, count, file_.get()) != count) return false;
        position_ += count;
        return true;
    }
    bool skip(std::uint64_t count) override {
        if (count > remaining()) return false;
        if (fseeko(file_.get(), static_cast<off_t>(position_ + count), SEEK_SET) != 0) return false;
        position_ += count;
        return true;
    }

private:
    std::unique_ptr<std::FILE, FileCloser> file_;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
    bool open_ = false;
};

struct Fault {
    std::string text;
};

template <typename T>
T take(Source& source, const char* what) {
    T value{};
    if (!source.read(&value, sizeof value)) throw Fault{std::string("file ends inside the ") + what};
    return value;
}

// Names from a damaged file end up in messages: only printable ASCII goes through.
std::string printable(std::string_view text) {
    std::string out;
    for (const char c : text.substr(0, 64)) out += (c >= 0x20 && c < 0x7f) ? c : '?';
    return out;
}

void require(bool condition, const std::string& fault) {
    if (!condition) throw Fault{fault};
}

void requireRange(std::int32_t value, std::int32_t low, std::int32_t high, const char* name) {
    require(value >= low && value <= high, std::string(name) + " " + std::to_string(value) + " is outside " +
                                               std::to_string(low) + ".." + std::to_string(high));
}

struct Hyperparameters {
    std::int32_t vocabulary, audioContext, audioState, audioHeads, audioLayers;
    std::int32_t textContext, textState, textHeads, textLayers, mels, fileType;
};

// The element type of the big weight matrices for a file type the library knows; none
// for the rest (the library aborts on those).
std::optional<ggml_type> weightType(std::int32_t fileType) {
    static const std::map<std::int32_t, ggml_type> types = {
        {GGML_FTYPE_ALL_F32, GGML_TYPE_F32},     {GGML_FTYPE_MOSTLY_F16, GGML_TYPE_F16},
        {GGML_FTYPE_MOSTLY_BF16, GGML_TYPE_BF16}, {GGML_FTYPE_MOSTLY_Q4_0, GGML_TYPE_Q4_0},
        {GGML_FTYPE_MOSTLY_Q4_1, GGML_TYPE_Q4_1}, {GGML_FTYPE_MOSTLY_Q5_0, GGML_TYPE_Q5_0},
        {GGML_FTYPE_MOSTLY_Q5_1, GGML_TYPE_Q5_1}, {GGML_FTYPE_MOSTLY_Q8_0, GGML_TYPE_Q8_0},
        {GGML_FTYPE_MOSTLY_Q2_K, GGML_TYPE_Q2_K}, {GGML_FTYPE_MOSTLY_Q3_K, GGML_TYPE_Q3_K},
        {GGML_FTYPE_MOSTLY_Q4_K, GGML_TYPE_Q4_K}, {GGML_FTYPE_MOSTLY_Q5_K, GGML_TYPE_Q5_K},
        {GGML_FTYPE_MOSTLY_Q6_K, GGML_TYPE_Q6_K},
    };
    if (fileType < 0) return std::nullopt;
    const auto found = types.find(fileType % GGML_QNT_VERSION_FACTOR);
    if (found == types.end()) return std::nullopt;
    return found->second;
}

bool isKnownType(std::int32_t type) {
    return type >= 0 && type < GGML_TYPE_COUNT && ggml_blck_size(static_cast<ggml_type>(type)) > 0 &&
           ggml_type_size(static_cast<ggml_type>(type)) > 0;
}

struct ExpectedTensor {
    std::array<std::int64_t, kMaxDimensions> shape{1, 1, 1, 1};
    ggml_type type = GGML_TYPE_F32;
    bool seen = false;
};

std::int64_t elementCount(const std::array<std::int64_t, kMaxDimensions>& shape) {
    return shape[0] * shape[1] * shape[2] * shape[3];
}

// Bytes the library reads for a tensor of this shape and type.
std::uint64_t dataBytes(const ExpectedTensor& tensor) {
    const auto blocks = static_cast<std::uint64_t>(tensor.shape[0] / ggml_blck_size(tensor.type));
    return ggml_type_size(tensor.type) * blocks * static_cast<std::uint64_t>(tensor.shape[1] * tensor.shape[2] * tensor.shape[3]);
}

std::string named(const char* pattern, int layer) {
    std::string name = pattern;
    if (const auto at = name.find("%d"); at != std::string::npos) name.replace(at, 2, std::to_string(layer));
    return name;
}

// Every tensor the library creates for these hyperparameters, with its shape (fastest
// dimension first) and type.
std::map<std::string, ExpectedTensor> expectedTensors(const Hyperparameters& h, ggml_type weights) {
    const ggml_type convolution = weights == GGML_TYPE_F32 ? GGML_TYPE_F32 : GGML_TYPE_F16;
    std::map<std::string, ExpectedTensor> tensors;
    auto add = [&](const std::string& name, std::array<std::int64_t, kMaxDimensions> shape, ggml_type type) {
        tensors[name] = ExpectedTensor{shape, type, false};
    };
    const std::int64_t a = h.audioState;
    const std::int64_t t = h.textState;
    add("encoder.positional_embedding", {a, h.audioContext, 1, 1}, GGML_TYPE_F32);
    add("encoder.conv1.weight", {3, h.mels, a, 1}, convolution);
    add("encoder.conv1.bias", {1, a, 1, 1}, GGML_TYPE_F32);
    add("encoder.conv2.weight", {3, a, a, 1}, convolution);
    add("encoder.conv2.bias", {1, a, 1, 1}, GGML_TYPE_F32);
    add("encoder.ln_post.weight", {a, 1, 1, 1}, GGML_TYPE_F32);
    add("encoder.ln_post.bias", {a, 1, 1, 1}, GGML_TYPE_F32);

    auto attention = [&](const std::string& prefix, std::int64_t n) {
        add(prefix + ".query.weight", {n, n, 1, 1}, weights);
        add(prefix + ".query.bias", {n, 1, 1, 1}, GGML_TYPE_F32);
        add(prefix + ".key.weight", {n, n, 1, 1}, weights);
        add(prefix + ".value.weight", {n, n, 1, 1}, weights);
        add(prefix + ".value.bias", {n, 1, 1, 1}, GGML_TYPE_F32);
        add(prefix + ".out.weight", {n, n, 1, 1}, weights);
        add(prefix + ".out.bias", {n, 1, 1, 1}, GGML_TYPE_F32);
    };
    auto normalisation = [&](const std::string& prefix, std::int64_t n) {
        add(prefix + ".weight", {n, 1, 1, 1}, GGML_TYPE_F32);
        add(prefix + ".bias", {n, 1, 1, 1}, GGML_TYPE_F32);
    };
    auto block = [&](const std::string& prefix, std::int64_t n) {
        normalisation(prefix + ".mlp_ln", n);
        add(prefix + ".mlp.0.weight", {n, 4 * n, 1, 1}, weights);
        add(prefix + ".mlp.0.bias", {4 * n, 1, 1, 1}, GGML_TYPE_F32);
        add(prefix + ".mlp.2.weight", {4 * n, n, 1, 1}, weights);
        add(prefix + ".mlp.2.bias", {n, 1, 1, 1}, GGML_TYPE_F32);
        normalisation(prefix + ".attn_ln", n);
        attention(prefix + ".attn", n);
    };
    for (int i = 0; i < h.audioLayers; ++i) block(named("encoder.blocks.%d", i), a);

    add("decoder.positional_embedding", {t, h.textContext, 1, 1}, GGML_TYPE_F32);
    add("decoder.token_embedding.weight", {t, h.vocabulary, 1, 1}, weights);
    normalisation("decoder.ln", t);
    for (int i = 0; i < h.textLayers; ++i) {
        const std::string prefix = named("decoder.blocks.%d", i);
        block(prefix, t);
        normalisation(prefix + ".cross_attn_ln", t);
        attention(prefix + ".cross_attn", t);
    }
    return tensors;
}

bool check(Source& source, bool& multilingual) {
    require(take<std::uint32_t>(source, "magic number") == kGgmlMagic, "not a ggml model file (wrong magic number)");

    Hyperparameters h{};
    for (std::int32_t* field : {&h.vocabulary, &h.audioContext, &h.audioState, &h.audioHeads, &h.audioLayers,
                                &h.textContext, &h.textState, &h.textHeads, &h.textLayers, &h.mels, &h.fileType}) {
        *field = take<std::int32_t>(source, "header");
    }
    requireRange(h.vocabulary, kEnglishVocabulary, kLargestVocabulary, "vocabulary size");
    requireRange(h.audioContext, kAudioContext, kAudioContext, "audio context");
    requireRange(h.audioState, 1, kMaxState, "audio width");
    requireRange(h.audioHeads, 1, kMaxHeads, "audio head count");
    requireRange(h.audioLayers, 1, kMaxLayers, "audio layer count");
    requireRange(h.textContext, kMinTextContext, kMaxTextContext, "text context");
    requireRange(h.textState, 1, kMaxState, "text width");
    requireRange(h.textHeads, 1, kMaxHeads, "text head count");
    requireRange(h.textLayers, 1, kMaxLayers, "text layer count");
    require(h.mels == 80 || h.mels == 128, "mel band count " + std::to_string(h.mels) + " is neither 80 nor 128");
    require(h.textState == h.audioState, "text width differs from audio width");
    require(h.audioState % h.audioHeads == 0, "audio width is not a multiple of the head count");
    require(h.textState % h.textHeads == 0, "text width is not a multiple of the head count");
    const std::optional<ggml_type> weights = weightType(h.fileType);
    require(weights.has_value(), "unknown weight type " + std::to_string(h.fileType));
    require(h.audioState % ggml_blck_size(*weights) == 0, "width is not a multiple of the weight block size");
    multilingual = h.vocabulary > kEnglishVocabulary;

    const auto melCount = take<std::int32_t>(source, "mel filters");
    const auto fftBins = take<std::int32_t>(source, "mel filters");
    require(melCount == h.mels, "mel filter bank has " + std::to_string(melCount) + " bands, not " + std::to_string(h.mels));
    require(fftBins == kFftBins, "mel filter bank has " + std::to_string(fftBins) + " bins, not 201");
    require(source.skip(static_cast<std::uint64_t>(melCount) * fftBins * sizeof(float)), "file ends inside the mel filters");

    const auto tokens = take<std::int32_t>(source, "vocabulary");
    requireRange(tokens, 0, h.vocabulary, "vocabulary entry count");
    for (std::int32_t i = 0; i < tokens; ++i) {
        const auto length = take<std::uint32_t>(source, "vocabulary");
        require(length <= kMaxTokenBytes && source.skip(length), "file ends inside the vocabulary");
    }

    std::map<std::string, ExpectedTensor> expected = expectedTensors(h, *weights);
    for (const auto& [name, tensor] : expected) {
        require(elementCount(tensor.shape) <= INT32_MAX, "tensor " + name + " is too large");
    }
    while (source.remaining() > 0) {
        const auto dimensions = take<std::int32_t>(source, "tensor table");
        const auto nameLength = take<std::int32_t>(source, "tensor table");
        const auto type = take<std::int32_t>(source, "tensor table");
        requireRange(dimensions, 1, kMaxDimensions, "tensor dimension count");
        requireRange(nameLength, 1, kMaxTensorName, "tensor name length");
        require(isKnownType(type), "unknown tensor type " + std::to_string(type));
        std::array<std::int64_t, kMaxDimensions> shape{1, 1, 1, 1};
        for (int d = 0; d < dimensions; ++d) shape[static_cast<std::size_t>(d)] = take<std::int32_t>(source, "tensor table");
        std::string name(static_cast<std::size_t>(nameLength), '\0');
        require(source.read(name.data(), name.size()), "file ends inside the tensor table");

        const auto found = expected.find(name);
        require(found != expected.end(), "unexpected tensor " + printable(name));
        ExpectedTensor& tensor = found->second;
        require(!tensor.seen, "tensor " + name + " appears twice");
        require(shape == tensor.shape, "tensor " + name + " has the wrong shape");
        // The library's own test: the file's element size, over the expected type's blocks.
        const auto fileBytes = static_cast<std::uint64_t>(elementCount(shape)) * ggml_type_size(static_cast<ggml_type>(type));
        require(fileBytes / static_cast<std::uint64_t>(ggml_blck_size(tensor.type)) == dataBytes(tensor),
                "tensor " + name + " has the wrong element type");
        require(source.skip(dataBytes(tensor)), "file ends inside the data of tensor " + name);
        tensor.seen = true;
    }
    for (const auto& [name, tensor] : expected) require(tensor.seen, "tensor " + name + " is missing");
    return true;
}

SpeechModelCheck::Result run(Source& source) {
    SpeechModelCheck::Result result;
    try {
        result.sound = check(source, result.multilingual);
    } catch (const Fault& fault) {
        result.fault = fault.text;
        result.multilingual = false;
    }
    return result;
}

}  // namespace

SpeechModelCheck::Result SpeechModelCheck::checkBytes(std::span<const std::uint8_t> bytes) {
    ByteSource source(bytes);
    return run(source);
}

SpeechModelCheck::Result SpeechModelCheck::checkFile(const fs::path& file) {
    FileSource source(file);
    if (!source.isOpen()) return Result{false, "cannot open the file", false};
    return run(source);
}

}  // namespace pelora::speech
