#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/LocalHttpServer.h"

namespace pelora::testing {

// The decision service played by a local HTTP server: answers POSTs to the service
// path by script and keeps every request. While an object lives, the process has the
// API key `apiKey` (through the environment), no stored key behind it, and a closed
// health gate; the previous environment and key storage come back afterwards.
class ScriptedDecisionService {
public:
    static constexpr const char* apiKey = "test-key-7f3a";

    ScriptedDecisionService();
    ~ScriptedDecisionService();
    ScriptedDecisionService(const ScriptedDecisionService&) = delete;
    ScriptedDecisionService& operator=(const ScriptedDecisionService&) = delete;

    // Full URL of the service path on this server.
    std::string endpoint() const;

    // Every request gets this reply (default: 200 with {"answers":{}}).
    void answer(LocalHttpServer::Reply reply);
    // Replies computed from each request's JSON body (null when it does not parse).
    void answerWith(std::function<LocalHttpServer::Reply(const nlohmann::json& body)> script);
    static LocalHttpServer::Reply json(const nlohmann::json& body);

    std::size_t requestCount() const;
    std::vector<LocalHttpServer::Request> requests() const;
    // The JSON body of the last request; null when there was none.
    nlohmann::json lastBody() const;

    // The API key as seen by the store: `key` through the environment, or none at all.
    void setKey(const char* key);

    LocalHttpServer& server() { return server_; }

private:
    LocalHttpServer server_;
    std::string previousKey_;
    bool hadKey_ = false;
};

}  // namespace pelora::testing
