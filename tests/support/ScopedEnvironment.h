#pragma once

#include <optional>
#include <string>

namespace pelora::testing {

// Sets (or, with nullopt, removes) an environment variable for the life of the object,
// then restores the previous state.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::string name, std::optional<std::string> value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

}  // namespace pelora::testing
