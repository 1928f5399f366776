// The shared core hands every failure back as a value carrying the message
// the user will read; nothing here ends the process.
#include <gtest/gtest.h>

#include <filesystem>

#include "client/endpoints.h"
#include "client/save.h"
#include "loopback_peer.h"

namespace {
AppLink app_on(std::uint16_t port) {
    return AppLink{std::to_string(port), 2000};
}
}  // namespace

TEST(Failures, TheUnreachableMessageNamesTheBaseAddressAndTheReason) {
    EXPECT_EQ(unreachable_failure("http://127.0.0.1:abc/api", IoError{"invalid port value"}).message,
              "cannot reach Vistrel at http://127.0.0.1:abc/api (invalid port value)\n"
              "  Is the app running? Start it from your applications menu, or: vistrel-app &\n"
              "  Different port?     vistrel --port=7999 \u2026  or set VISTREL_PORT");
    // The port text given by the caller wins over the environment and is used verbatim.
    Result<JsonValue> reply = api_json(AppLink{"abc/x"}, health_request());
    ASSERT_FALSE(reply.ok());
    EXPECT_EQ(reply.error().message,
              unreachable_failure("http://127.0.0.1:abc/x/api", IoError{"invalid port value"}).message);
}

TEST(Failures, TheRefusalRule) {
    struct Case {
        std::uint16_t status;
        std::string body;
        std::optional<std::string> message;  // absent: a success
    };
    const Case cases[] = {
        {0, "", std::nullopt},
        {399, R"({"error":"odd"})", std::nullopt},
        {400, R"({"error":"camera busy"})", "camera busy"},
        {503, R"({"error":""})", ""},
        {404, R"({"error":7})", "fallback"},
        {500, "<html/>", "fallback"},
        {500, R"(["error"])", "fallback"},
        {65535, R"({"error":"x"} trailing)", "fallback"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(is_refusal(c.status), c.message.has_value()) << c.status;
        Result<JsonValue> json = reply_json(HttpReply{c.status, c.body}, "fallback");
        EXPECT_EQ(json.ok(), !c.message.has_value()) << c.status;
        if (c.message) {
            EXPECT_EQ(json.error().message, *c.message) << c.body;
        }
    }
    EXPECT_EQ(reply_json(HttpReply{500, "{}"}).error().message, "the app rejected the request");
}

TEST(Failures, EachSendingRouteReportsARefusalInTheAppsWords) {
    const std::string refusal = "HTTP/1.1 503 X\r\nContent-Length: 23\r\n\r\n{\"error\":\"camera busy\"}";
    {
        LoopbackPeer peer(refusal);
        Result<std::string> bytes = api_bytes(app_on(peer.port), frame_request("", ""));
        ASSERT_FALSE(bytes.ok());
        EXPECT_EQ(bytes.error().message, "camera busy");
    }
    {
        LoopbackPeer peer("HTTP/1.1 500 X\r\n\r\nInternal Server Error");
        Result<SavedFile> saved = save_reply(app_on(peer.port), screen_request(""), "never-written.jpg");
        ASSERT_FALSE(saved.ok());
        EXPECT_EQ(saved.error().message, "could not capture the screen");
        EXPECT_FALSE(std::filesystem::exists("never-written.jpg"));
    }
    {
        LoopbackPeer peer("HTTP/1.1 200 OK\r\n\r\n\xFF\xD8jpeg");
        Result<std::string> bytes = api_bytes(app_on(peer.port), frame_request("&device=1", ""));
        ASSERT_TRUE(bytes.ok());
        EXPECT_EQ(bytes.value(), "\xFF\xD8jpeg");
    }
}
