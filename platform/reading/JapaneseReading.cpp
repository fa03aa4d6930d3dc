#include "platform/reading/JapaneseReading.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

#include <mecab.h>
#include <unicode/translit.h>
#include <unicode/unistr.h>
#include <unicode/utypes.h>

namespace pelora::reading {

namespace fs = std::filesystem;

struct JapaneseTokenizer::Model {
    std::unique_ptr<MeCab::Model> model;
    // Tagger::parse(Lattice*) is safe to share between threads; each call brings its own lattice.
    std::unique_ptr<MeCab::Tagger> tagger;
};

namespace {

// ipadic feature columns: part of speech (4), conjugation type and form, base form, reading, pronunciation.
constexpr std::size_t kReadingColumn = 7;

std::size_t utf16Units(std::string_view bytes) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        std::size_t width = 1;
        if (lead >= 0xF0 && lead < 0xF8) width = 4;
        else if (lead >= 0xE0) width = 3;
        else if (lead >= 0xC0) width = 2;
        if (i + width > bytes.size()) width = 1;  // truncated sequence: one unit per byte, as a decoder would
        units += width == 4 ? 2 : 1;
        i += width;
    }
    return units;
}

std::string readingOf(const char* feature) {
    if (feature == nullptr) return {};
    std::string_view rest(feature);
    for (std::size_t column = 0; column < kReadingColumn; ++column) {
        const std::size_t comma = rest.find(',');
        if (comma == std::string_view::npos) return {};
        rest.remove_prefix(comma + 1);
    }
    const std::string_view value = rest.substr(0, rest.find(','));
    if (value.empty() || value == "*") return {};
    return std::string(value);
}

fs::path executableDirectory() {
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : exe.parent_path();
}

// Next to the program, in an installed tree beside it, in the configured install
// location, and finally in the build tree (tests and programs run from the build).
fs::path findUserDictionary() {
    std::vector<fs::path> places;
    const fs::path exeDir = executableDirectory();
    if (!exeDir.empty()) {
        places.push_back(exeDir / PELORA_READING_DIC_NAME);
        places.push_back(exeDir.parent_path() / "share" / "peloravoice" / PELORA_READING_DIC_NAME);
    }
    places.emplace_back(PELORA_READING_DIC_INSTALL_PATH);
    places.emplace_back(PELORA_READING_DIC_BUILD_PATH);
    for (const fs::path& place : places) {
        std::error_code error;
        if (fs::is_regular_file(place, error)) return place;
    }
    return {};
}

std::unique_ptr<MeCab::Model> createModel(const fs::path& userDictionary) {
    // The process's own mecabrc (and its default dictionary) must not decide which
    // dictionary is loaded, so the configuration file is empty and the paths are explicit.
    std::vector<std::string> args = {"pelora-reading", "-r", "/dev/null", "-d", PELORA_MECAB_SYSTEM_DIC_DIR};
    if (!userDictionary.empty()) {
        args.push_back("-u");
        args.push_back(userDictionary.string());
    }
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    return std::unique_ptr<MeCab::Model>(MeCab::Model::create(static_cast<int>(argv.size()), argv.data()));
}

icu::UnicodeString fromUTF8(std::string_view s) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
}

std::string toUTF8(const icu::UnicodeString& u) {
    std::string out;
    u.toUTF8String(out);
    return out;
}

enum TransformKind { kKatakanaToHiragana, kHiraganaToLatin, kStripCombiningMarks, kTransformCount };

const icu::Transliterator* prototype(TransformKind kind) {
    static const std::array<std::unique_ptr<icu::Transliterator>, kTransformCount> prototypes = [] {
        constexpr std::array<const char*, kTransformCount> ids = {
            "Katakana-Hiragana",
            "Hiragana-Latin",
            "NFD; [:Nonspacing Mark:] Remove; NFC",
        };
        std::array<std::unique_ptr<icu::Transliterator>, kTransformCount> built;
        for (std::size_t i = 0; i < ids.size(); ++i) {
            UErrorCode status = U_ZERO_ERROR;
            built[i].reset(icu::Transliterator::createInstance(icu::UnicodeString(ids[i], -1, US_INV),
                                                               UTRANS_FORWARD, status));
            if (U_FAILURE(status)) built[i].reset();
        }
        return built;
    }();
    return prototypes[kind].get();
}

// Transliterators keep scratch state while they run, so each thread works on its own
// clone of the shared prototype (cloning is far cheaper than building from rules).
std::string transform(TransformKind kind, std::string_view text) {
    if (text.empty()) return {};
    thread_local std::array<std::unique_ptr<icu::Transliterator>, kTransformCount> clones;
    std::unique_ptr<icu::Transliterator>& clone = clones[kind];
    if (!clone) {
        const icu::Transliterator* shared = prototype(kind);
        // ICU ships these transforms; without its data the text is left as it is.
        if (shared == nullptr) return std::string(text);
        clone.reset(shared->clone());
    }
    icu::UnicodeString u = fromUTF8(text);
    clone->transliterate(u);
    return toUTF8(u);
}

}  // namespace

JapaneseTokenizer::JapaneseTokenizer(std::unique_ptr<Model> model, bool hasUserDictionary)
    : model_(std::move(model)), hasUserDictionary_(hasUserDictionary) {}

JapaneseTokenizer::~JapaneseTokenizer() = default;

const JapaneseTokenizer* JapaneseTokenizer::shared() {
    static const std::unique_ptr<JapaneseTokenizer> instance = []() -> std::unique_ptr<JapaneseTokenizer> {
        const fs::path userDictionary = findUserDictionary();
        if (userDictionary.empty()) {
            // Readings still work from the system dictionary alone, but a few technical
            // compounds come out wrong; say so once instead of degrading silently.
            std::fprintf(stderr, "pelora: reading user dictionary %s not found; using the system dictionary only\n",
                         PELORA_READING_DIC_NAME);
        }
        auto model = std::make_unique<Model>();
        model->model = createModel(userDictionary);
        if (!model->model && !userDictionary.empty()) {
            std::fprintf(stderr, "pelora: reading user dictionary %s does not load: %s\n",
                         userDictionary.c_str(), MeCab::getLastError());
            model->model = createModel({});
        }
        if (!model->model) return nullptr;
        model->tagger.reset(model->model->createTagger());
        if (!model->tagger) return nullptr;
        const bool withUser = !userDictionary.empty() && model->model->dictionary_info() != nullptr &&
                              model->model->dictionary_info()->next != nullptr;
        return std::unique_ptr<JapaneseTokenizer>(new JapaneseTokenizer(std::move(model), withUser));
    }();
    return instance.get();
}

std::vector<ReadingToken> JapaneseTokenizer::tokenize(std::string_view text) const {
    std::vector<ReadingToken> tokens;
    if (text.empty()) return tokens;

    std::size_t byteCursor = 0;
    std::size_t utf16Cursor = 0;
    auto append = [&](std::size_t end, std::string reading, bool skipped) {
        ReadingToken token;
        token.skipped = skipped;
        token.text = std::string(text.substr(byteCursor, end - byteCursor));
        token.reading = std::move(reading);
        token.utf16Offset = utf16Cursor;
        token.utf16Length = utf16Units(token.text);
        utf16Cursor += token.utf16Length;
        byteCursor = end;
        tokens.push_back(std::move(token));
    };

    bool parsed = false;
    std::unique_ptr<MeCab::Lattice> lattice(model_->model->createLattice());
    if (lattice) {
        lattice->set_sentence(text.data(), text.size());
        if (model_->tagger->parse(lattice.get())) {
            parsed = true;
            const char* sentence = lattice->sentence();
            for (const MeCab::Node* node = lattice->bos_node(); node != nullptr; node = node->next) {
                if (node->stat == MECAB_BOS_NODE || node->stat == MECAB_EOS_NODE || node->length == 0) continue;
                const std::size_t start = static_cast<std::size_t>(node->surface - sentence);
                const std::size_t end = start + node->length;
                if (start < byteCursor || end > text.size()) continue;  // never expected; keeps ranges monotonic
                if (start > byteCursor) append(start, {}, true);
                append(end, readingOf(node->feature), false);
            }
        }
    }
    // Trailing blanks after the last word; or the whole text, unanalysed, if parsing failed.
    if (byteCursor < text.size()) append(text.size(), {}, parsed);
    return tokens;
}

std::string katakanaToHiragana(std::string_view text) { return transform(kKatakanaToHiragana, text); }

std::string hiraganaToLatin(std::string_view text) { return transform(kHiraganaToLatin, text); }

std::string stripCombiningMarks(std::string_view text) { return transform(kStripCombiningMarks, text); }

}  // namespace pelora::reading
