#pragma once

#include <memory>
#include <stop_token>
#include <string>

namespace pelora {

// The device's own general-purpose language model, asked one prompt at a time. Linux
// ships none that the system can rely on, so the default reports itself unavailable
// and the span corrector skips its model step; another implementation (or a scripted
// one in tests) can be handed to the corrector instead.
class OnDeviceLanguageModel {
public:
    enum class Availability { available, unavailable };

    virtual ~OnDeviceLanguageModel() = default;

    virtual Availability availability() const = 0;

    // One fresh session, no tools, no instructions, default generation options: the
    // model's whole answer to `prompt`. Throws when generation fails. Should give up
    // soon after `stop` is requested (the answer is then ignored).
    virtual std::string respond(const std::string& prompt, std::stop_token stop) const = 0;

    // The model of this device: the unavailable one on Linux.
    static std::shared_ptr<const OnDeviceLanguageModel> systemDefault();
};

// The model that does not exist: unavailable, and a respond() that always throws.
class UnavailableLanguageModel final : public OnDeviceLanguageModel {
public:
    Availability availability() const override { return Availability::unavailable; }
    std::string respond(const std::string& prompt, std::stop_token stop) const override;
};

}  // namespace pelora
