#include <cstring>
#include <memory>

#include <libsecret/secret.h>

#include "platform/secrets/SecretStore.h"

namespace pelora::secrets {

namespace {

// Items are matched by their two attributes only, whatever schema name they were
// written with, so an item stored by another tool with the same attributes is found too.
const SecretSchema* genericPasswordSchema() {
    static const SecretSchema schema = [] {
        SecretSchema s;
        std::memset(&s, 0, sizeof s);
        s.name = "org.freedesktop.Secret.Generic";
        s.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        s.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[2] = {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return &schema;
}

struct ErrorDeleter {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorDeleter>;

struct ValueDeleter {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
using ValuePtr = std::unique_ptr<SecretValue, ValueDeleter>;

// Errors that mean nobody provides the Secret Service, as opposed to a service that
// answered and refused.
bool meansNoService(const GError& error) {
    if (error.domain == G_IO_ERROR) return true;  // no session bus to talk to
    if (error.domain != G_DBUS_ERROR) return false;
    switch (error.code) {
        case G_DBUS_ERROR_SERVICE_UNKNOWN:
        case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
        case G_DBUS_ERROR_NO_SERVER:
        case G_DBUS_ERROR_DISCONNECTED:
        case G_DBUS_ERROR_FILE_NOT_FOUND:
        case G_DBUS_ERROR_SPAWN_EXEC_FAILED:
        case G_DBUS_ERROR_SPAWN_FORK_FAILED:
        case G_DBUS_ERROR_SPAWN_CHILD_EXITED:
        case G_DBUS_ERROR_SPAWN_CHILD_SIGNALED:
        case G_DBUS_ERROR_SPAWN_FAILED:
        case G_DBUS_ERROR_SPAWN_SETUP_FAILED:
        case G_DBUS_ERROR_SPAWN_CONFIG_INVALID:
        case G_DBUS_ERROR_SPAWN_SERVICE_INVALID:
        case G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND:
        case G_DBUS_ERROR_SPAWN_PERMISSIONS_INVALID:
        case G_DBUS_ERROR_SPAWN_FILE_INVALID:
        case G_DBUS_ERROR_SPAWN_NO_MEMORY:
            return true;
        default:
            return false;
    }
}

Outcome outcomeOf(const ErrorPtr& error) { return meansNoService(*error) ? Outcome::unavailable : Outcome::failed; }

// Connects to the session bus' Secret Service (libsecret keeps one shared connection).
bool connectService() {
    GError* raw = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &raw);
    ErrorPtr error(raw);
    if (!service) return false;
    g_object_unref(service);
    return true;
}

class SecretServiceStore final : public SecretStore {
public:
    ReadResult read(std::string_view service, std::string_view account) override {
        if (!connectService()) return {Outcome::unavailable, {}};
        const std::string s(service);
        const std::string a(account);
        GError* raw = nullptr;
        ValuePtr value(secret_password_lookup_binary_sync(genericPasswordSchema(), nullptr, &raw, "service", s.c_str(),
                                                          "account", a.c_str(), nullptr));
        ErrorPtr error(raw);
        if (error) return {outcomeOf(error), {}};
        if (!value) return {Outcome::notFound, {}};
        gsize length = 0;
        const gchar* data = secret_value_get(value.get(), &length);
        return {Outcome::done, std::string(data, length)};
    }

    Outcome write(std::string_view service, std::string_view account, std::string_view label,
                  std::string_view bytes) override {
        if (!connectService()) return Outcome::unavailable;
        const std::string s(service);
        const std::string a(account);
        const std::string l(label);
        ValuePtr value(secret_value_new(bytes.data(), static_cast<gssize>(bytes.size()), "text/plain"));
        GError* raw = nullptr;
        // The service replaces an item with the same attributes in place, so there is
        // never a moment without the old or the new secret.
        const gboolean stored = secret_password_store_binary_sync(genericPasswordSchema(), SECRET_COLLECTION_DEFAULT,
                                                                  l.c_str(), value.get(), nullptr, &raw, "service",
                                                                  s.c_str(), "account", a.c_str(), nullptr);
        ErrorPtr error(raw);
        if (error) return outcomeOf(error);
        return stored ? Outcome::done : Outcome::failed;
    }

    Outcome remove(std::string_view service, std::string_view account) override {
        if (!connectService()) return Outcome::unavailable;
        const std::string s(service);
        const std::string a(account);
        GError* raw = nullptr;
        const gboolean removed = secret_password_clear_sync(genericPasswordSchema(), nullptr, &raw, "service",
                                                            s.c_str(), "account", a.c_str(), nullptr);
        ErrorPtr error(raw);
        if (error) return outcomeOf(error);
        return removed ? Outcome::done : Outcome::notFound;
    }
};

}  // namespace

std::unique_ptr<SecretStore> secretServiceStore() { return std::make_unique<SecretServiceStore>(); }

}  // namespace pelora::secrets
