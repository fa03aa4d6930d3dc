// The homophone reranker on arbitrary bytes: the text, one vocabulary entry, one EG2
// term and a focused context, each a NUL-separated piece of the input, valid UTF-8 or
// not. Contract: never fails, and its output is valid UTF-8.

#include <cstdlib>

#include "engine/japanese/CustomVocabularyEntry.h"
#include "engine/japanese/JapaneseEmbeddingReranker.h"
#include "fuzz/FuzzInput.h"
#include "platform/text/UnicodeText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelora;
    fuzz::FuzzInput input(data, size);
    const std::string text = input.piece();
    CustomVocabularyEntry entry;
    entry.id = "00000000-0000-4000-8000-000000000000";
    entry.surface = input.piece();
    entry.reading = input.piece();
    entry.aliases = {input.piece()};
    entry.contextHints = {input.piece()};
    const std::vector<TranscribedWord> terms = {TranscribedWord(input.piece(), std::nullopt, 0, 1, 0.9f, "EG2")};
    FocusedTextContext context;
    context.preText = input.piece();
    context.postText = input.piece();

    static const JapaneseEmbeddingReranker reranker;
    const CorrectedText out = reranker.rerank(text, terms, {entry}, context);
    if (!text::isValidUTF8(out.first)) std::abort();
    (void)reranker.rerank(text, {}, JapaneseEmbeddingReranker::defaultVocabulary(), std::nullopt);
    return 0;
}
