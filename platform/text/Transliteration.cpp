#include "platform/text/Transliteration.h"

#include <mutex>

#include <unicode/translit.h>

#include "platform/text/internal/IcuString.h"

namespace pelora::text {

struct Transliteration::Built {
    std::string id;
    Direction direction;
    std::once_flag once;
    std::unique_ptr<icu::Transliterator> transliterator;
    // ICU transliterators keep working state while they run; one call at a time.
    std::mutex use;

    icu::Transliterator* get() {
        std::call_once(once, [this] {
            UErrorCode status = U_ZERO_ERROR;
            const UTransDirection dir = direction == Direction::forward ? UTRANS_FORWARD : UTRANS_REVERSE;
            transliterator.reset(icu::Transliterator::createInstance(internal::fromUTF8(id), dir, status));
            if (U_FAILURE(status)) transliterator.reset();
        });
        return transliterator.get();
    }
};

Transliteration::Transliteration(std::string id, Direction direction) : built_(std::make_shared<Built>()) {
    built_->id = std::move(id);
    built_->direction = direction;
}

const std::string& Transliteration::id() const { return built_->id; }

Transliteration::Direction Transliteration::direction() const { return built_->direction; }

bool Transliteration::isValid() const { return built_->get() != nullptr; }

std::string Transliteration::apply(std::string_view text) const {
    icu::Transliterator* transliterator = built_->get();
    if (!transliterator || text.empty()) return std::string(text);
    icu::UnicodeString u = internal::fromUTF8(text);
    {
        std::lock_guard lock(built_->use);
        transliterator->transliterate(u);
    }
    return internal::toUTF8(u);
}

}  // namespace pelora::text
