// Replies of the decision service: arbitrary bytes served as the reply body to both
// kinds of question, through the real client and a real HTTP server on 127.0.0.1.
// Contract: the client never fails; an answer it takes is one of the candidates it
// offered, and every suspicious span it takes lies inside the transcript.

#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include <httplib.h>

#include "engine/japanese/HTTPMirkDecisionProvider.h"
#include "engine/japanese/MirkInputSecretStore.h"

namespace {

using pelora::HTTPMirkDecisionProvider;
using pelora::JapaneseGroundedCandidate;

class ReplyServer {
public:
    ReplyServer() {
        server_.Post(".*", [this](const httplib::Request&, httplib::Response& response) {
            std::lock_guard lock(mutex_);
            response.set_content(reply_, "application/json");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        if (port_ <= 0) std::abort();
        // The socket listens once bound: requests wait in its queue until the loop runs.
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~ReplyServer() {
        server_.stop();
        thread_.join();
    }
    void setReply(std::string reply) {
        std::lock_guard lock(mutex_);
        reply_ = std::move(reply);
    }
    std::string endpoint() const {
        return "http://127.0.0.1:" + std::to_string(port_) + HTTPMirkDecisionProvider::servicePath;
    }

private:
    httplib::Server server_;
    std::thread thread_;
    std::mutex mutex_;
    std::string reply_;
    int port_ = 0;
};

ReplyServer& server() {
    static ReplyServer* instance = [] {
        setenv(std::string(pelora::MirkInputSecretStore::environmentVariable).c_str(), "fuzz-key", 1);
        return new ReplyServer();  // lives as long as the process: the fuzzer never returns
    }();
    return *instance;
}

JapaneseGroundedCandidate candidate(std::string id, std::string from, std::string to, std::string transcript) {
    JapaneseGroundedCandidate c;
    c.id = std::move(id);
    c.originalSpan = std::move(from);
    c.replacementSpan = std::move(to);
    c.rewrittenTranscript = std::move(transcript);
    c.source = "MIRK";
    c.phoneticDistance = 0.1;
    c.confidence = 0.8;
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ReplyServer& replies = server();
    replies.setReply(std::string(reinterpret_cast<const char*>(data), size));
    const HTTPMirkDecisionProvider client(replies.endpoint());

    const std::string transcript = "今日は会議で機械学習の話をしました";
    const std::vector<JapaneseGroundedCandidate> candidates = {
        candidate("candidate_1", "機械", "機会", "今日は会議で機会学習の話をしました"),
        candidate("candidate_2", "会議", "懐疑", "今日は懐疑で機械学習の話をしました")};
    if (const auto chosen = client.decideJapanese(transcript, candidates, std::nullopt, 5000)) {
        bool offered = false;
        for (const auto& c : candidates) offered = offered || c.id == chosen->id;
        if (!offered) std::abort();
    }
    for (const auto& span : client.detectSuspiciousSpans(transcript, std::nullopt, 5000)) {
        if (span.span.empty() || transcript.find(span.span) == std::string::npos) std::abort();
    }
    return 0;
}
