#include "tests/support/ScriptedDecisionService.h"

#include <cstdlib>
#include <map>
#include <mutex>

#include "engine/japanese/HTTPMirkDecisionProvider.h"
#include "engine/japanese/MirkHealthGate.h"
#include "engine/japanese/MirkInputSecretStore.h"
#include "platform/secrets/SecretStore.h"

namespace pelora::testing {

namespace {

// Key storage that holds nothing until told, so that a key saved on the machine never leaks in.
class MemorySecretStore final : public secrets::SecretStore {
public:
    secrets::ReadResult read(std::string_view service, std::string_view account) override {
        std::lock_guard lock(mutex_);
        auto it = items_.find(name(service, account));
        if (it == items_.end()) return {secrets::Outcome::notFound, {}};
        return {secrets::Outcome::done, it->second};
    }
    secrets::Outcome write(std::string_view service, std::string_view account, std::string_view,
                           std::string_view bytes) override {
        std::lock_guard lock(mutex_);
        items_[name(service, account)] = std::string(bytes);
        return secrets::Outcome::done;
    }
    secrets::Outcome remove(std::string_view service, std::string_view account) override {
        std::lock_guard lock(mutex_);
        return items_.erase(name(service, account)) ? secrets::Outcome::done : secrets::Outcome::notFound;
    }

private:
    static std::string name(std::string_view service, std::string_view account) {
        return std::string(service) + "\n" + std::string(account);
    }
    std::mutex mutex_;
    std::map<std::string, std::string> items_;
};

const std::string keyVariable(MirkInputSecretStore::environmentVariable);

}  // namespace

ScriptedDecisionService::ScriptedDecisionService() {
    if (const char* previous = std::getenv(keyVariable.c_str())) {
        hadKey_ = true;
        previousKey_ = previous;
    }
    MirkInputSecretStore::useStorageForTesting(std::make_shared<MemorySecretStore>());
    setKey(apiKey);
    MirkHealthGate::shared().recordSuccess();
    answer(json({{"answers", nlohmann::json::object()}}));
}

ScriptedDecisionService::~ScriptedDecisionService() {
    MirkHealthGate::shared().recordSuccess();
    if (hadKey_) {
        ::setenv(keyVariable.c_str(), previousKey_.c_str(), 1);
    } else {
        ::unsetenv(keyVariable.c_str());
    }
    MirkInputSecretStore::useStorageForTesting(nullptr);
}

std::string ScriptedDecisionService::endpoint() const {
    return server_.url(HTTPMirkDecisionProvider::servicePath);
}

void ScriptedDecisionService::answer(LocalHttpServer::Reply reply) {
    server_.route("POST", HTTPMirkDecisionProvider::servicePath,
                  [reply](const LocalHttpServer::Request&) { return reply; });
}

void ScriptedDecisionService::answerWith(std::function<LocalHttpServer::Reply(const nlohmann::json&)> script) {
    server_.route("POST", HTTPMirkDecisionProvider::servicePath, [script](const LocalHttpServer::Request& request) {
        return script(nlohmann::json::parse(request.body, nullptr, false));
    });
}

LocalHttpServer::Reply ScriptedDecisionService::json(const nlohmann::json& body) {
    return LocalHttpServer::Reply::ok(body.dump(), "application/json");
}

std::size_t ScriptedDecisionService::requestCount() const {
    return server_.requestCount(HTTPMirkDecisionProvider::servicePath);
}

std::vector<LocalHttpServer::Request> ScriptedDecisionService::requests() const { return server_.requests(); }

nlohmann::json ScriptedDecisionService::lastBody() const {
    const auto all = server_.requests();
    if (all.empty()) return nullptr;
    return nlohmann::json::parse(all.back().body, nullptr, false);
}

void ScriptedDecisionService::setKey(const char* key) {
    if (key) {
        ::setenv(keyVariable.c_str(), key, 1);
    } else {
        ::unsetenv(keyVariable.c_str());
    }
}

}  // namespace pelora::testing
