#include "engine/injection/ActiveApplicationSnapshot.h"

#include <limits>

#include <nlohmann/json.hpp>

#include "engine/recognition/RecordReader.h"

namespace pelora {

std::string ActiveApplicationSnapshot::displayLabel() const {
    if (appName && !appName->empty()) return *appName;
    if (bundleIdentifier && !bundleIdentifier->empty()) return *bundleIdentifier;
    std::string label = "PID ";
    label += std::to_string(processIdentifier);
    return label;
}

std::string ActiveApplicationSnapshot::toJSON() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    json["processIdentifier"] = processIdentifier;
    if (bundleIdentifier) json["bundleIdentifier"] = *bundleIdentifier;
    if (appName) json["appName"] = *appName;
    return dumpRecord(json);
}

ActiveApplicationSnapshot ActiveApplicationSnapshot::fromJSON(std::string_view text) {
    const RecordReader reader(text, "ActiveApplicationSnapshot");
    ActiveApplicationSnapshot snapshot;
    const std::int64_t pid = reader.integer("processIdentifier");
    if (pid < std::numeric_limits<std::int32_t>::min() || pid > std::numeric_limits<std::int32_t>::max()) {
        reader.fail("\"processIdentifier\" is out of range");
    }
    snapshot.processIdentifier = static_cast<std::int32_t>(pid);
    const auto& json = reader.object();
    const auto optionalString = [&](const char* key) -> std::optional<std::string> {
        const auto it = json.find(key);
        if (it == json.end() || it->is_null()) return std::nullopt;
        return reader.string(key);
    };
    snapshot.bundleIdentifier = optionalString("bundleIdentifier");
    snapshot.appName = optionalString("appName");
    return snapshot;
}

}  // namespace pelora
