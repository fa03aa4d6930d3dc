#include "platform/accessibility/PipelinedCalls.h"

#include <dbus/dbus.h>

#include <cstring>

namespace pelora::accessibility {

namespace {

// The reply of a call that answered without an error.
DBusMessage* usable(DBusMessage* reply) {
    return reply && dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_METHOD_RETURN ? reply : nullptr;
}

}  // namespace

PipelinedCalls::PipelinedCalls(DBusConnection* bus, std::chrono::milliseconds timeout)
    : bus_(bus), timeoutMs_(static_cast<int>(timeout.count())) {}

PipelinedCalls::~PipelinedCalls() {
    for (auto* pending : pending_) {
        if (!pending) continue;
        dbus_pending_call_cancel(pending);
        dbus_pending_call_unref(pending);
    }
    for (auto* reply : replies_)
        if (reply) dbus_message_unref(reply);
}

std::size_t PipelinedCalls::send(DBusMessage* message) {
    DBusPendingCall* pending = nullptr;
    if (message && bus_ && !dbus_connection_send_with_reply(bus_, message, &pending, timeoutMs_)) pending = nullptr;
    if (message) dbus_message_unref(message);
    pending_.push_back(pending);
    replies_.push_back(nullptr);
    return pending_.size() - 1;
}

std::size_t PipelinedCalls::call(const RemoteObject& object, const char* interface, const char* method) {
    return send(dbus_message_new_method_call(object.busName.c_str(), object.path.c_str(), interface, method));
}

std::size_t PipelinedCalls::callWithIndex(const RemoteObject& object, const char* interface, const char* method,
                                          std::int32_t index) {
    DBusMessage* message =
        dbus_message_new_method_call(object.busName.c_str(), object.path.c_str(), interface, method);
    dbus_int32_t value = index;
    if (message && !dbus_message_append_args(message, DBUS_TYPE_INT32, &value, DBUS_TYPE_INVALID)) {
        dbus_message_unref(message);
        message = nullptr;
    }
    return send(message);
}

std::size_t PipelinedCalls::property(const RemoteObject& object, const char* interface, const char* property) {
    DBusMessage* message = dbus_message_new_method_call(object.busName.c_str(), object.path.c_str(),
                                                        "org.freedesktop.DBus.Properties", "Get");
    if (message &&
        !dbus_message_append_args(message, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &property,
                                  DBUS_TYPE_INVALID)) {
        dbus_message_unref(message);
        message = nullptr;
    }
    return send(message);
}

void PipelinedCalls::wait() {
    if (bus_) dbus_connection_flush(bus_);
    for (std::size_t i = 0; i < pending_.size(); ++i) {
        auto*& pending = pending_[i];
        if (!pending) continue;
        dbus_pending_call_block(pending);
        DBusMessage* reply = dbus_pending_call_steal_reply(pending);
        dbus_pending_call_unref(pending);
        pending = nullptr;
        if (reply && dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_ERROR &&
            (dbus_message_is_error(reply, DBUS_ERROR_NO_REPLY) || dbus_message_is_error(reply, DBUS_ERROR_TIMEOUT)))
            stalled_ = true;
        replies_[i] = reply;
    }
}

std::optional<std::string> PipelinedCalls::string(std::size_t index) const {
    DBusMessage* reply = index < replies_.size() ? usable(replies_[index]) : nullptr;
    DBusMessageIter it;
    if (!reply || !dbus_message_iter_init(reply, &it) || dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_STRING)
        return std::nullopt;
    const char* value = nullptr;
    dbus_message_iter_get_basic(&it, &value);
    return std::string(value ? value : "");
}

std::optional<std::uint32_t> PipelinedCalls::uint32(std::size_t index) const {
    DBusMessage* reply = index < replies_.size() ? usable(replies_[index]) : nullptr;
    DBusMessageIter it;
    if (!reply || !dbus_message_iter_init(reply, &it) || dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_UINT32)
        return std::nullopt;
    dbus_uint32_t value = 0;
    dbus_message_iter_get_basic(&it, &value);
    return value;
}

std::optional<bool> PipelinedCalls::boolean(std::size_t index) const {
    DBusMessage* reply = index < replies_.size() ? usable(replies_[index]) : nullptr;
    DBusMessageIter it;
    if (!reply || !dbus_message_iter_init(reply, &it) || dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_BOOLEAN)
        return std::nullopt;
    dbus_bool_t value = FALSE;
    dbus_message_iter_get_basic(&it, &value);
    return value != FALSE;
}

std::optional<std::string> PipelinedCalls::stringProperty(std::size_t index) const {
    DBusMessage* reply = index < replies_.size() ? usable(replies_[index]) : nullptr;
    DBusMessageIter it, variant;
    if (!reply || !dbus_message_iter_init(reply, &it) || dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_VARIANT)
        return std::nullopt;
    dbus_message_iter_recurse(&it, &variant);
    if (dbus_message_iter_get_arg_type(&variant) != DBUS_TYPE_STRING) return std::nullopt;
    const char* value = nullptr;
    dbus_message_iter_get_basic(&variant, &value);
    return std::string(value ? value : "");
}

std::optional<std::uint64_t> PipelinedCalls::states(std::size_t index) const {
    DBusMessage* reply = index < replies_.size() ? usable(replies_[index]) : nullptr;
    DBusMessageIter it, array;
    if (!reply || !dbus_message_iter_init(reply, &it) || dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_ARRAY)
        return std::nullopt;
    dbus_message_iter_recurse(&it, &array);
    std::uint64_t bits = 0;
    for (int word = 0; word < 2 && dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_UINT32; ++word) {
        dbus_uint32_t value = 0;
        dbus_message_iter_get_basic(&array, &value);
        bits |= static_cast<std::uint64_t>(value) << (32 * word);
        dbus_message_iter_next(&array);
    }
    return bits;
}

namespace {

// The (so) reference at the iterator; nothing for "/org/a11y/atspi/null" (no object).
std::optional<RemoteObject> referenceAt(DBusMessageIter* structure, DBusMessage* reply) {
    DBusMessageIter entry;
    dbus_message_iter_recurse(structure, &entry);
    const char* name = nullptr;
    const char* path = nullptr;
    if (dbus_message_iter_get_arg_type(&entry) == DBUS_TYPE_STRING) dbus_message_iter_get_basic(&entry, &name);
    dbus_message_iter_next(&entry);
    if (dbus_message_iter_get_arg_type(&entry) == DBUS_TYPE_OBJECT_PATH) dbus_message_iter_get_basic(&entry, &path);
    if (!name || !path || std::strcmp(path, "/org/a11y/atspi/null") == 0) return std::nullopt;
    // A toolkit may answer with an empty bus name for its own objects.
    const char* sender = dbus_message_get_sender(reply);
    return RemoteObject{*name ? name : (sender ? sender : ""), path};
}

}  // namespace

std::optional<std::vector<RemoteObject>> PipelinedCalls::references(std::size_t index) const {
    DBusMessage* reply = index < replies_.size() ? usable(replies_[index]) : nullptr;
    DBusMessageIter it, array;
    if (!reply || !dbus_message_iter_init(reply, &it) || dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_ARRAY)
        return std::nullopt;
    std::vector<RemoteObject> objects;
    dbus_message_iter_recurse(&it, &array);
    while (dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_STRUCT) {
        if (auto object = referenceAt(&array, reply)) objects.push_back(std::move(*object));
        dbus_message_iter_next(&array);
    }
    return objects;
}

}  // namespace pelora::accessibility
