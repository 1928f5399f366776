// Requests the client never sends: from web pages, with broken bodies and
// broken request lines. Each gets a refusal with an "error" text and the app
// goes on serving.
#include "app_fixture.h"
#include "raw_http.h"
#include "sanitizers.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

namespace {
using RobustnessTest = AppTest;

std::string error_of(const RawReply& reply) {
    auto body = nlohmann::json::parse(reply.body, nullptr, false);
    if (!body.is_object() || !body.contains("error") || !body["error"].is_string()) return "(no error member)";
    return body["error"].get<std::string>();
}

TEST_F(RobustnessTest, ClientStyleRequestsAreServedAndClosed) {
    RawReply reply = raw_exchange(app.port, client_style_request("GET", "/api/health", app.port));
    EXPECT_EQ(reply.status, 200);
    EXPECT_TRUE(reply.closed_by_app);
    EXPECT_LT(reply.took.count(), 2000);
    EXPECT_NE(reply.head.find("Connection: close"), std::string::npos) << reply.head;
    auto health = nlohmann::json::parse(reply.body);
    EXPECT_EQ(health.at("port"), app.port);
    EXPECT_EQ(health.at("settings").at("device"), "sim");
    EXPECT_EQ(raw_exchange(app.port, client_style_request("GET", "/api/health", app.port, "", "",
                                                          "localhost:" + std::to_string(app.port)))
                  .status,
              200);
}

TEST_F(RobustnessTest, ForeignHostsAndWebPagesAreRefused) {
    std::string port = std::to_string(app.port);
    const std::vector<std::string> hosts = {
        "evil.example:" + port, "127.0.0.1:" + std::to_string(app.port + 1), "127.0.0.1", "localhost", "evil.example",
        "[::1]:" + port};
    for (const auto& host : hosts) {
        RawReply reply = raw_exchange(app.port, client_style_request("GET", "/api/health", app.port, "", "", host));
        EXPECT_EQ(reply.status, 403) << host;
        EXPECT_EQ(error_of(reply),
                  "the Host header must be 127.0.0.1:" + port + " or localhost:" + port + " (got \"" + host + "\")");
        EXPECT_TRUE(reply.closed_by_app);
    }
    RawReply no_host = raw_exchange(app.port, "GET /api/health HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(no_host.status, 400);
    EXPECT_EQ(error_of(no_host), "the request must carry exactly one Host header");

    for (const char* origin :
         {"Origin: http://evil.example\r\n", "Origin: null\r\n", "Origin: http://127.0.0.1:1\r\n"}) {
        RawReply reply =
            raw_exchange(app.port, client_style_request("POST", "/api/sources", app.port,
                                                        R"({"name":"x","url":"http://evil.example/"})", origin));
        EXPECT_EQ(reply.status, 403) << origin;
        EXPECT_EQ(error_of(reply), "requests from web pages are refused (the request carries an Origin header)");
    }
    EXPECT_EQ(vistrel({"sources"}).exit_status, 0);
    EXPECT_FALSE(std::filesystem::exists(sources_file())) << "a refused request must change nothing";
}

TEST_F(RobustnessTest, WhatBrowsersSendIsRefusedEvenWithoutAnOrigin) {
    // <img src="http://127.0.0.1:PORT/api/frame.jpg?device=screen"> carries no
    // Origin; the browser still marks the request as its own.
    struct Case {
        std::string headers;
        std::string mark;
    };
    const Case cases[] = {
        {"Sec-Fetch-Site: cross-site\r\nSec-Fetch-Mode: no-cors\r\nSec-Fetch-Dest: image\r\n", "a Sec-Fetch-Site"},
        {"Sec-Fetch-Dest: image\r\n", "a Sec-Fetch-Dest"},
        {"Referer: http://evil.example/page.html\r\n", "a Referer"},
    };
    for (const auto& c : cases) {
        for (const std::string path : {"/api/frame.jpg?device=screen", "/api/sources", "/api/health"}) {
            RawReply reply = raw_exchange(app.port, client_style_request("GET", path, app.port, "", c.headers));
            EXPECT_EQ(reply.status, 403) << path << " " << c.headers;
            EXPECT_EQ(error_of(reply),
                      "requests from web pages are refused (the request carries " + c.mark + " header)");
            EXPECT_EQ(reply.head.find("image/jpeg"), std::string::npos);
        }
    }
}

TEST_F(RobustnessTest, MalformedBodiesAreRefusedWithAReason) {
    struct Case {
        const char* path;
        std::string body;
        const char* error;
    };
    const Case cases[] = {
        {"/api/focus", "{", "the request body is not valid JSON"},
        {"/api/focus", "[1]", "the request body must be a JSON object"},
        {"/api/focus", R"({"device":5})", "\"device\" must be a string or null"},
        {"/api/focus", "{\"device\":\"\xff\"}", "the request body is not valid JSON"},
        {"/api/controls", R"({"name":"focus","value":"60"})", "\"value\" must be a whole number"},
        {"/api/controls", R"({"name":"focus","value":60.5})", "\"value\" must be a whole number"},
        {"/api/controls", R"({"name":"focus","value":18446744073709551615})", "\"value\" is too large"},
        {"/api/controls", R"({"name":5,"value":1})", "\"name\" must be a string"},
        {"/api/controls", R"({"value":1})", "\"name\" must be a string"},
        {"/api/screen/record", R"({"secs":"2"})", "\"secs\" must be a whole number"},
        {"/api/screen/record", R"({"format":["webm"]})", "\"format\" must be a string or null"},
        {"/api/sources", R"({"name":"x"})", "\"url\" must be a string"},
        {"/api/sources", R"({"name":"x","url":null})", "\"url\" must be a string"},
        {"/api/sources/remove", "{}", "\"name\" must be a string"},
        {"/api/sources/remove", std::string(10000, '['), "the request body is not valid JSON"},
    };
    for (const auto& c : cases) {
        RawReply reply = raw_exchange(app.port, client_style_request("POST", c.path, app.port, c.body));
        EXPECT_EQ(reply.status, 400) << c.path << " " << c.body.substr(0, 40);
        EXPECT_EQ(error_of(reply), c.error) << c.path << " " << c.body.substr(0, 40);
    }
    EXPECT_EQ(vistrel({"status"}).exit_status, 0);
}

TEST_F(RobustnessTest, HugeBodiesAndBrokenRequestsAreRefusedWithAReason) {
    RawReply huge = raw_exchange(app.port, client_style_request("POST", "/api/sources", app.port,
                                                                "{\"name\":\"" + std::string(4 << 20, 'x') + "\"}"));
    EXPECT_EQ(huge.status, 413);
    EXPECT_EQ(error_of(huge), "the request body is too large (at most 64 KiB)");
    EXPECT_TRUE(huge.closed_by_app);

    struct Case {
        std::string request;
        int status;
        std::string error;
    };
    std::string host = "Host: 127.0.0.1:" + std::to_string(app.port) + "\r\n";
    const Case cases[] = {
        {"HELLO\r\n\r\n", 400, "the request could not be read as HTTP/1.1"},
        {"GET /api/health\r\n" + host + "\r\n", 400, "the request could not be read as HTTP/1.1"},
        {"GET /api/nothing HTTP/1.1\r\n" + host + "\r\n", 404, "no such endpoint: GET /api/nothing"},
        {"GET /api/sources/remove HTTP/1.1\r\n" + host + "\r\n", 404, "no such endpoint: GET /api/sources/remove"},
        {"GET /api/frame.jpg?_=&width=99999999999999999999 HTTP/1.1\r\n" + host + "\r\n", 400,
         "width must be a whole number from 16 to 4096 (got \"99999999999999999999\")"},
        {"GET /api/frame.jpg?_=&height=100000&width=100000 HTTP/1.1\r\n" + host + "\r\n", 400,
         "width must be a whole number from 16 to 4096 (got \"100000\")"},
        {"GET /api/" + std::string(20000, 'a') + " HTTP/1.1\r\n" + host + "\r\n", 414,
         "the request target is too long"},
        // The client's unencoded space reaches the handler as part of the name.
        {"GET /api/frame.jpg?_=&device=net:my phone HTTP/1.1\r\n" + host + "\r\n", 404,
         "no network camera named \"my phone\" is registered; see vistrel sources, or add one with vistrel add-source"},
    };
    for (const auto& c : cases) {
        RawReply reply = raw_exchange(app.port, c.request);
        EXPECT_EQ(reply.status, c.status) << c.request.substr(0, 60);
        EXPECT_EQ(error_of(reply), c.error) << c.request.substr(0, 60);
        EXPECT_TRUE(reply.closed_by_app) << c.request.substr(0, 60);
    }
    // Clients that hang up early, before or in the middle of a request, are
    // dropped without delay.
    for (const std::string partial : {"", "GET /api/hea", "POST /api/focus HTTP/1.1\r\nContent-Length: 10\r\n\r\n{"}) {
        RawReply reply = raw_exchange(app.port, partial, /*hang_up=*/true);
        EXPECT_TRUE(reply.closed_by_app) << partial;
        EXPECT_LT(reply.took.count(), 1000) << partial;
    }
    EXPECT_EQ(vistrel({"status"}).exit_status, 0) << "the app must survive all of the above";
}

TEST_F(RobustnessTest, AChunkedBodyHasTheSameLimitAndIsRefusedWhileItIsSent) {
    // 256 MiB in chunks of 64 KiB: the app must answer after the first
    // 64 KiB, not read (and hold) the lot.
    SocketHandle sock = connect_loopback(app.port);
    std::string head = "POST /api/sources HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(app.port) +
                       "\r\nConnection: close\r\nTransfer-Encoding: chunked\r\n\r\n";
    std::atomic<std::size_t> sent{0};
    std::thread sender([&] {
        send_bytes(sock, head);
        std::string chunk = "10000\r\n" + std::string(65536, 'x') + "\r\n";
        for (int i = 0; i < 4096; ++i) {
            if (!send_bytes(sock, chunk)) break;
            sent += chunk.size();
        }
    });
    RawReply reply = read_reply(sock, std::chrono::seconds(10 * sanitizer_slowdown));
    ::shutdown(static_cast<int>(sock), SHUT_RDWR);
    sender.join();
    close_connection(sock);
    EXPECT_EQ(reply.status, 413);
    EXPECT_EQ(error_of(reply), "the request body is too large (at most 64 KiB)");
    EXPECT_LT(sent.load(), 64u << 20) << "the app read on after the limit";

    // One chunk that declares more than the limit is refused before it comes.
    RawReply declared = raw_exchange(app.port, head + "10001\r\n");
    EXPECT_EQ(declared.status, 413);
    EXPECT_LT(declared.took.count(), 1000 * sanitizer_slowdown);
    EXPECT_EQ(vistrel({"status"}).exit_status, 0);
}

TEST_F(RobustnessTest, LengthsThatCannotBeTrustedAreRefusedAtOnce) {
    struct Case {
        std::string headers;
        int status;
        std::string error;
    };
    const Case cases[] = {
        {"Content-Length: -1\r\n", 400, "the Content-Length \"-1\" is not a length"},
        {"Content-Length: 1e3\r\n", 400, "the Content-Length \"1e3\" is not a length"},
        {"Content-Length: 2\r\nContent-Length: 2\r\n", 400, "the message carries more than one Content-Length"},
        {"Content-Length: 2\r\nTransfer-Encoding: chunked\r\n", 400,
         "the message carries both Content-Length and Transfer-Encoding"},
        {"Transfer-Encoding: gzip\r\n", 501, "only the chunked transfer coding is supported"},
        {"Content-Length: 99999999999\r\n", 413, "the request body is too large (at most 64 KiB)"},
    };
    std::string start =
        "POST /api/focus HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(app.port) + "\r\nConnection: close\r\n";
    for (const auto& c : cases) {
        // No body follows: the answer must not wait for one.
        RawReply reply = raw_exchange(app.port, start + c.headers + "\r\n");
        EXPECT_EQ(reply.status, c.status) << c.headers;
        EXPECT_EQ(error_of(reply), c.error) << c.headers;
        EXPECT_LT(reply.took.count(), 1000 * sanitizer_slowdown) << c.headers;
        EXPECT_TRUE(reply.closed_by_app) << c.headers;
    }
}

int sim_control(RawReply controls, const std::string& name) {
    auto list = nlohmann::json::parse(controls.body, nullptr, false);
    if (!list.is_object() || !list.contains("controls")) return -1;
    for (const auto& control : list["controls"]) {
        if (control.value("name", "") == name) return control.value("value", -1);
    }
    return -1;
}

TEST_F(RobustnessTest, HeadsThatOtherReadersWouldReadDifferentlyAreRefused) {
    using namespace std::string_literals;
    std::string port = std::to_string(app.port);
    std::string host = "Host: 127.0.0.1:" + port + "\r\n";
    // HTTP/1.0 has no chunked coding: a reader that knows only 1.0 takes
    // this body for another request.
    std::string body = R"({"device":"sim","name":"zoom","value":321})";
    std::stringstream chunk_size;
    chunk_size << std::hex << body.size();
    std::string chunked_control = "POST /api/controls HTTP/1.0\r\n" + host +
                                  "Content-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n" +
                                  chunk_size.str() + "\r\n" + body + "\r\n0\r\n\r\n";
    const std::string control_character = "a header line holds a control character";
    const std::string one_host = "the request must carry exactly one Host header";
    struct Case {
        std::string request;
        std::string error;
    };
    const Case cases[] = {
        {"GET /api/health HTTP/1.1\r\n" + host + "X-Note: a\0b\r\n\r\n"s, control_character},
        // Not echoed into a refusal either.
        {"GET /api/health HTTP/1.1\r\nHost: 127.0.0.1:" + port + "\rX-Hidden: 1\r\n\r\n", control_character},
        {chunked_control, "an HTTP/1.0 request cannot carry Transfer-Encoding"},
        {"GET /api/health HTTP/1.1\r\nConnection: close\r\n\r\n", one_host},
        {"GET /api/health HTTP/1.1\r\n" + host + host + "\r\n", one_host},
    };
    for (const auto& c : cases) {
        RawReply reply = raw_exchange(app.port, c.request);
        EXPECT_EQ(reply.status, 400) << c.request;
        EXPECT_EQ(error_of(reply), c.error) << c.request;
    }
    RawReply controls = raw_exchange(app.port, client_style_request("GET", "/api/controls?device=sim", app.port));
    EXPECT_EQ(sim_control(controls, "zoom"), 100) << "a refused request must change nothing";
}

TEST_F(RobustnessTest, AbsoluteFormTargetsAndHeadRequestsAreServed) {
    std::string port = std::to_string(app.port);
    RawReply absolute =
        raw_exchange(app.port, "GET http://127.0.0.1:" + port + "/api/health HTTP/1.1\r\nHost: 127.0.0.1:" + port +
                                   "\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(absolute.status, 200) << absolute.body;
    // The target's host is the one the guard looks at.
    RawReply foreign = raw_exchange(
        app.port, "GET http://evil.example:" + port + "/api/health HTTP/1.1\r\nHost: 127.0.0.1:" + port + "\r\n\r\n");
    EXPECT_EQ(foreign.status, 403);
    EXPECT_EQ(error_of(foreign), "the Host header must be 127.0.0.1:" + port + " or localhost:" + port +
                                     " (got \"evil.example:" + port + "\")");

    for (const std::string path : {"/api/health", "/api/devices", "/api/sources", "/api/controls?device=sim"}) {
        RawReply get = raw_exchange(app.port, client_style_request("GET", path, app.port));
        RawReply head = raw_exchange(app.port, client_style_request("HEAD", path, app.port));
        EXPECT_EQ(head.status, 200) << path;
        EXPECT_EQ(head.body, "") << path;
        EXPECT_TRUE(head.closed_by_app) << path;
        EXPECT_NE(head.head.find("Content-Type: application/json\r\n"), std::string::npos) << head.head;
        EXPECT_NE(get.head.find("Content-Length: " + std::to_string(get.body.size())), std::string::npos) << path;
    }
    RawReply picture = raw_exchange(app.port, client_style_request("HEAD", "/api/frame.jpg?_=&width=64", app.port));
    EXPECT_EQ(picture.status, 200);
    EXPECT_NE(picture.head.find("Content-Type: image/jpeg\r\n"), std::string::npos) << picture.head;
    EXPECT_EQ(picture.body, "");
}

TEST_F(RobustnessTest, AClientThatHalfClosesGetsItsReplyAndItsWorkDone) {
    // `nc -N`, and scripts that shut down their sending side once the
    // request is out, are still there to read the reply.
    RawReply frame = raw_exchange(
        app.port, client_style_request("GET", "/api/frame.jpg?_=&device=sim&width=320&height=240", app.port), true);
    EXPECT_EQ(frame.status, 200) << frame.body;
    EXPECT_EQ(frame.body.rfind("\xFF\xD8", 0), 0u) << "a JPEG";

    RawReply set = raw_exchange(
        app.port,
        client_style_request("POST", "/api/controls", app.port, R"({"device":"sim","name":"zoom","value":150})"), true);
    EXPECT_EQ(set.status, 200) << set.body;
    RawReply controls = raw_exchange(app.port, client_style_request("GET", "/api/controls?device=sim", app.port));
    EXPECT_EQ(sim_control(controls, "zoom"), 150) << "the control is set";

    // A sweep of the simulated lens is slow under the sanitizers: it is
    // given longer than the other exchanges' 10 s.
    SocketHandle sweeping = connect_loopback(app.port);
    send_bytes(sweeping, client_style_request("POST", "/api/focus", app.port, "{}"));
    hang_up_sending(sweeping);
    RawReply focus = read_reply(sweeping, std::chrono::seconds(40));
    close_socket(sweeping);
    EXPECT_EQ(focus.status, 200) << focus.body;

    RawReply recording =
        raw_exchange(app.port, client_style_request("POST", "/api/screen/record", app.port, R"({"secs":1})"), true);
    EXPECT_EQ(recording.status, 200) << recording.body;
    EXPECT_NE(recording.head.find("Content-Type: video/webm"), std::string::npos) << recording.head;
    EXPECT_GT(recording.body.size(), 1000u);
}

TEST_F(RobustnessTest, ClientRefusalsUseTheAppsErrorText) {
    // Every refusal reaches the user as the client's error line.
    expect_refused(vistrel({"set", "focus", "300"}), "focus must be between 0 and 255 (got 300)");
    expect_refused(
        vistrel({"snap", "--device", "net:my phone"}),
        "no network camera named \"my phone\" is registered; see vistrel sources, or add one with vistrel add-source");
}
}  // namespace
