#pragma once

#include <stdexcept>
#include <string>

namespace pelora::http {

// A transfer that did not produce a complete response. HTTP error statuses are not
// errors at this level: they arrive as a response with that status.
class HttpError : public std::runtime_error {
public:
    enum class Kind {
        transport,  // connection, DNS, TLS, protocol or a connection dropped mid-body
        timeout,    // the total budget, the connect timeout or the stall timeout ran out
        cancelled,  // the caller's stop token was triggered
        tooLarge,   // the body grew beyond the caller's maximum
        file,       // the destination file could not be written
    };

    HttpError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}

    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

}  // namespace pelora::http
