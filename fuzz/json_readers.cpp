// Every JSON reader of the engine on arbitrary text. First byte: the reader; the rest:
// the text. Contract: a value, or the reader's one documented error type; a value that
// was read is written again without error and reads back equal.

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "engine/injection/ActiveApplicationSnapshot.h"
#include "engine/injection/FocusedTextContext.h"
#include "engine/japanese/CustomVocabularyEntry.h"
#include "engine/japanese/JapaneseGroundedCandidate.h"
#include "engine/japanese/JapaneseInputOptions.h"
#include "engine/japanese/MirkSpanSuspicion.h"
#include "engine/recognition/EG2Constants.h"
#include "engine/recognition/ModelAssetJSON.h"
#include "engine/recognition/PeloraVoiceError.h"
#include "engine/recognition/RemoteManifest.h"
#include "engine/recognition/TranscriptionResult.h"
#include "fuzz/FuzzInput.h"

namespace {

using namespace pelora;

// Reads a record, writes it again and reads that back: it must be the same record.
template <typename Record>
void roundTrip(std::string_view text) {
    Record record;
    try {
        record = Record::fromJSON(text);
    } catch (const RecordCodingError&) {
        return;
    }
    if (!(Record::fromJSON(record.toJSON()) == record)) std::abort();
}

void modelAsset(std::uint8_t which, std::string_view text) {
    try {
        switch (which % 3) {
            case 0:
                ModelAssetJSON::readerDescription(text, {EG2Constants::defaultReaderScale, EG2Constants::defaultReaderBias});
                break;
            case 1: ModelAssetJSON::wordList(text); break;
            case 2: ModelAssetJSON::caseOverrides(text); break;
        }
    } catch (const PeloraVoiceError& error) {
        if (error.errorCase() != PeloraVoiceError::Case::invalidModelAsset) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    const std::uint8_t which = input.byte();
    const std::string_view text = input.rest();
    switch (which % 10) {
        case 0:
            try {
                RemoteManifest::decode(text);
            } catch (const std::invalid_argument&) {
            }
            break;
        case 1: roundTrip<TranscriptionResult>(text); break;
        case 2: roundTrip<JapaneseInputOptions>(text); break;
        case 3: roundTrip<CustomVocabularyEntry>(text); break;
        case 4: roundTrip<JapaneseGroundedCandidate>(text); break;
        case 5:
            try {
                const MirkSpanSuspicion suspicion = MirkSpanSuspicion::fromJSON(text);
                if (!(MirkSpanSuspicion::fromJSON(suspicion.toJSON()) == suspicion)) std::abort();
            } catch (const RecordCodingError&) {
            }
            break;
        case 6: roundTrip<FocusedTextContext>(text); break;
        case 7: roundTrip<ActiveApplicationSnapshot>(text); break;
        default: modelAsset(which / 10, text); break;
    }
    return 0;
}
