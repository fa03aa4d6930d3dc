#include "PeloraVoiceApp/system/FrontApplicationSource.h"

#include <algorithm>
#include <cctype>
#include <unistd.h>

#include "PeloraVoiceApp/AppIdentity.h"

bool isSelfApplication(const std::optional<pelora::ActiveApplicationSnapshot>& snapshot) {
    if (!snapshot) return false;
    if (snapshot->processIdentifier == static_cast<std::int32_t>(getpid())) return true;
    if (!snapshot->bundleIdentifier) return false;
    // Bundle identifiers are ASCII; a byte-wise comparison without case is exact here.
    const std::string& theirs = *snapshot->bundleIdentifier;
    std::string_view ours = AppIdentity::bundleIdentifier;
    return std::equal(theirs.begin(), theirs.end(), ours.begin(), ours.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
}
