#pragma once

#include <optional>
#include <string>

#include "engine/injection/TextInjectionRoute.h"

namespace pelora {

// Which route puts text into a given application: typing for terminals, paste for the
// applications whose accessibility writes are known to misbehave, accessibility first
// for everything else.
class InjectionRoutePolicy {
public:
    InjectionRoutePolicy() = delete;

    // First rule that fires: terminal-like bundle identifier (the name is never used for
    // this) -> typingPrimary; bundle identifier listed or containing a clipboard-first
    // fragment, or application name listed or containing one -> clipboardPrimary;
    // otherwise axPrimary. Both values are trimmed and lower-cased first.
    static TextInjectionRoute resolve(const std::optional<std::string>& bundleIdentifier,
                                      const std::optional<std::string>& appName);
};

}  // namespace pelora
