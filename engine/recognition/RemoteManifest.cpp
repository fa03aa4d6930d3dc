#include "engine/recognition/RemoteManifest.h"

#include <limits>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

namespace pelora {

namespace {

using json = nlohmann::json;

const json& member(const json& object, const char* key, const std::string& where) {
    auto found = object.find(key);
    if (found == object.end()) throw std::invalid_argument("manifest: missing \"" + std::string(key) + "\"" + where);
    return *found;
}

std::int64_t integer(const json& object, const char* key, const std::string& where) {
    const json& value = member(object, key, where);
    if (value.is_number_integer()) {
        if (value.is_number_unsigned() &&
            value.get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            throw std::invalid_argument("manifest: \"" + std::string(key) + "\" is out of range" + where);
        return value.get<std::int64_t>();
    }
    throw std::invalid_argument("manifest: \"" + std::string(key) + "\" is not an integer" + where);
}

std::string text(const json& object, const char* key, const std::string& where) {
    const json& value = member(object, key, where);
    if (!value.is_string())
        throw std::invalid_argument("manifest: \"" + std::string(key) + "\" is not a string" + where);
    return value.get<std::string>();
}

}  // namespace

RemoteManifest RemoteManifest::decode(std::string_view bytes) {
    json root;
    try {
        root = json::parse(bytes);
    } catch (const json::exception& error) {
        // Also a number beyond any double ("1e400"), which the JSON library reports as out of range.
        throw std::invalid_argument(std::string("manifest: not valid JSON: ") + error.what());
    }
    if (!root.is_object()) throw std::invalid_argument("manifest: not a JSON object");
    RemoteManifest manifest;
    manifest.totalBytes = integer(root, "total_bytes", "");
    manifest.version = integer(root, "version", "");
    const json& files = member(root, "files", "");
    if (!files.is_array()) throw std::invalid_argument("manifest: \"files\" is not an array");
    manifest.files.reserve(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string where = " in files[" + std::to_string(i) + "]";
        const json& entry = files[i];
        if (!entry.is_object()) throw std::invalid_argument("manifest: not an object" + where);
        ManifestFile file;
        file.sha256 = text(entry, "sha256", where);
        file.url = text(entry, "url", where);
        file.size = integer(entry, "size", where);
        file.path = text(entry, "path", where);
        manifest.files.push_back(std::move(file));
    }
    return manifest;
}

}  // namespace pelora
