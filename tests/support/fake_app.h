#pragma once
// A stand-in for the companion app: a TCP server on 127.0.0.1, inside the
// test process, that records each raw request and answers with raw bytes.
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ScriptedReply {
    enum class Ending {
        close,          // read the request, send `bytes`, close normally
        reset,          // read the request, send `bytes`, then reset the connection
        reset_at_once,  // reset the connection before reading anything
        hold,           // read the request, send `bytes`, then keep the connection open, silent
        // read the request, send `bytes`, then wait (up to 20 s) for the client
        // to hang up, as the app waits out a recording; later connections
        // wait their turn meanwhile
        until_hang_up,
    };
    std::string bytes;
    Ending ending = Ending::close;
};

// A reply with a status line, the given headers, an empty line and the body.
ScriptedReply http_reply(int status, const std::string& body, const std::string& headers = "");
ScriptedReply json_reply(const std::string& body, int status = 200);

class FakeApp {
public:
    // Connections take the scripted replies in order; any further connection
    // is recorded and closed without an answer.
    explicit FakeApp(std::vector<ScriptedReply> replies = {});
    ~FakeApp();
    FakeApp(const FakeApp&) = delete;
    FakeApp& operator=(const FakeApp&) = delete;

    std::uint16_t port() const { return port_; }
    // The raw bytes of each request received so far.
    std::vector<std::string> requests() const;
    // How many clients hung up on an until_hang_up reply.
    int hang_ups() const;

private:
    void serve();
    void answer(int connection, const ScriptedReply& reply);

    std::vector<ScriptedReply> replies_;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::vector<int> held_;  // connections kept open until the app stops
    int hang_ups_ = 0;
    std::thread thread_;
};

// A port on which nothing listens.
std::uint16_t closed_port();
