#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct DBusConnection;
struct DBusMessage;
struct DBusPendingCall;

namespace pelora::accessibility {

// An object on the accessibility bus: the application's bus name and the object's path.
struct RemoteObject {
    std::string busName;
    std::string path;

    std::string identity() const { return busName + ":" + path; }
};

// Calls to objects on the accessibility bus, all sent before the first answer is awaited:
// a menu of 300 items costs one round of the target's event loop, not 300 round trips.
// Every call has its own time limit; a call that ran out of it marks the batch stalled.
class PipelinedCalls {
public:
    PipelinedCalls(DBusConnection* bus, std::chrono::milliseconds timeout);
    ~PipelinedCalls();
    PipelinedCalls(const PipelinedCalls&) = delete;
    PipelinedCalls& operator=(const PipelinedCalls&) = delete;

    // Each returns the call's index. An argument-less method of `interface`.
    std::size_t call(const RemoteObject& object, const char* interface, const char* method);
    // A method taking one 32-bit integer (GetKeyBinding, DoAction).
    std::size_t callWithIndex(const RemoteObject& object, const char* interface, const char* method,
                              std::int32_t index);
    // org.freedesktop.DBus.Properties.Get(interface, property).
    std::size_t property(const RemoteObject& object, const char* interface, const char* property);

    // Sends what is queued and waits for every answer.
    void wait();
    // Some call got no answer in time.
    bool stalled() const { return stalled_; }

    // Answers, by index; nothing for an error, a missing answer or another type.
    std::optional<std::string> string(std::size_t index) const;
    std::optional<std::uint32_t> uint32(std::size_t index) const;
    std::optional<bool> boolean(std::size_t index) const;
    // A property's string value (the variant unwrapped).
    std::optional<std::string> stringProperty(std::size_t index) const;
    // GetState's two 32-bit words.
    std::optional<std::uint64_t> states(std::size_t index) const;
    // GetChildren's references.
    std::optional<std::vector<RemoteObject>> references(std::size_t index) const;

private:
    std::size_t send(DBusMessage* message);

    DBusConnection* bus_;
    int timeoutMs_;
    std::vector<DBusPendingCall*> pending_;
    std::vector<DBusMessage*> replies_;
    bool stalled_ = false;
};

}  // namespace pelora::accessibility
