// The built vistrel-mcp (or vistrel-mcp.exe under wine) in a session against
// the fake app: the lines it writes, the requests the app receives and the
// files it leaves.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "client/json.h"
#include "e2e_case.h"
#include "fake_app.h"
#include "mcp/image_budget.h"
#include "mcp_process.h"
#include "run_vistrel.h"

namespace {
std::string with_port(const std::string& text, std::uint16_t port) {
    std::string out = text;
    for (std::size_t at; (at = out.find("{port}")) != std::string::npos;) out.replace(at, 6, std::to_string(port));
    return out;
}

std::string jpeg_640x480() {
    std::string jpeg = std::string("\xFF\xD8\xFF\xC0\x00\x11\x08\x01\xE0\x02\x80\x03", 12) + std::string(15, '\x01');
    return jpeg + std::string(3000, 'p') + "\xFF\xD9";
}

// Sends one request and gives the reply.
JsonValue ask(McpProcess& mcp, const std::string& line) {
    mcp.write(line + "\n");
    std::string reply = mcp.read_line();
    EXPECT_EQ(reply.find('\r'), std::string::npos) << "no carriage return on any platform";
    EXPECT_FALSE(reply.empty()) << mcp.error_output();
    return reply.empty() ? JsonValue() : JsonValue::parse(reply);
}

const std::string closed_port_refusal() {
    return testing_windows_mcp() ? "Connection refused. (os error 10061)" : "Connection refused (os error 111)";
}
}  // namespace

TEST(McpBinary, ASessionAgainstTheFakeApp) {
    FakeApp app({json_reply(R"({"version":"0.9","port":7777,"settings":{"device":"0","width":1280,"height":720}})"),
                 http_reply(200, jpeg_640x480(), "Content-Type: image/jpeg\r\n"),
                 http_reply(200, "MP4 BYTES", "Content-Type: video/mp4\r\n")});
    ScratchFolder folder;
    McpProcess mcp({"--port", std::to_string(app.port()), "--dir", folder.path.string()});

    JsonValue init = ask(mcp, R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-11-25","capabilities":{},"clientInfo":{"name":"t","version":"1"}}})");
    EXPECT_EQ(init["result"]["protocolVersion"], "2025-11-25");
    EXPECT_EQ(init["result"]["serverInfo"]["name"], "vistrel-mcp");
    mcp.write(R"({"jsonrpc":"2.0","method":"notifications/initialized"})" "\n");
    EXPECT_EQ(ask(mcp, R"({"jsonrpc":"2.0","id":1,"method":"tools/list"})")["result"]["tools"].size(), 12u);

    JsonValue status = ask(mcp, R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"status","arguments":{}}})");
    EXPECT_EQ(status["result"]["structuredContent"],
              JsonValue::parse(R"({"device":"0","height":720,"port":7777,"version":"0.9","width":1280})"));

    JsonValue snap = ask(mcp, R"({"jsonrpc":"2.0","id":"s","method":"tools/call","params":{"name":"snap","arguments":{"device":"1","width":640,"height":480}}})");
    EXPECT_EQ(snap["id"], "s");
    EXPECT_EQ(snap["result"]["content"][0]["text"], "640x480 JPEG, 3029 bytes");
    EXPECT_EQ(snap["result"]["content"][1]["data"], base64(jpeg_640x480()));

    JsonValue record = ask(mcp, R"({"jsonrpc":"2.0","id":3,"method":"tools/call","params":{"name":"record","arguments":{"secs":1,"format":"mp4"}}})");
    std::map<std::string, std::string> files = files_in(folder.path);
    ASSERT_EQ(files.size(), 1u);
    const auto& [name, bytes] = *files.begin();
    EXPECT_EQ(bytes, "MP4 BYTES");
    EXPECT_EQ(name.rfind("vistrel-screen-", 0), 0u);
    EXPECT_EQ(name.substr(name.size() - 4), ".mp4");
    std::string text = record["result"]["content"][0]["text"];
    EXPECT_EQ(text.rfind("saved a 1-second screen recording (mp4) of 9 bytes to ", 0), 0u) << text;
    EXPECT_EQ(text.substr(text.size() - name.size()), name);

    mcp.close_input();
    EXPECT_EQ(mcp.wait(), 0);
    EXPECT_EQ(mcp.rest_of_output(), "");
    EXPECT_EQ(mcp.error_output(), "");
    EXPECT_EQ(app.requests(),
              (std::vector<std::string>{
                  with_port(get_request("/api/health"), app.port()),
                  with_port(get_request("/api/frame.jpg?_=&device=1&width=640&height=480"), app.port()),
                  with_port(post_request("/api/screen/record", R"({"format":"mp4","secs":1})"), app.port())}));
}

TEST(McpBinary, AnAppThatIsNotRunning) {
    std::uint16_t port = closed_port();
    McpProcess mcp({"--port=" + std::to_string(port)});
    JsonValue reply = ask(mcp, R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"devices"}})");
    std::string hint = unreachable("http://127.0.0.1:" + std::to_string(port) + "/api", closed_port_refusal());
    hint = hint.substr(7, hint.size() - 8);  // without "error: " and the line break
    EXPECT_EQ(reply["result"], JsonValue({{"content", {{{"type", "text"}, {"text", hint}}}}, {"isError", true}}));
}

TEST(McpBinary, BadLinesAndTheEndOfInput) {
    McpProcess mcp({});
    mcp.write("not json\r\n{\"jsonrpc\":\"2.0\",\"id\":7,\"method\":\"nope\"}\r\n{\"jsonrpc\":\"2.0\",\"id\":8,\"method\":\"ping\"}");
    mcp.close_input();
    EXPECT_EQ(mcp.wait(), 0);
    EXPECT_EQ(mcp.rest_of_output(),
              "{\"jsonrpc\":\"2.0\",\"error\":{\"code\":-32700,\"message\":\"parse error: the line is not JSON\"}}\n"
              "{\"jsonrpc\":\"2.0\",\"id\":7,\"error\":{\"code\":-32601,\"message\":\"method not found: nope\"}}\n"
              "{\"jsonrpc\":\"2.0\",\"id\":8,\"result\":{}}\n");
}

TEST(McpBinary, CommandLine) {
    {
        McpProcess mcp({"--version"});
        EXPECT_EQ(mcp.wait(), 0);
        EXPECT_EQ(mcp.rest_of_output().rfind("vistrel-mcp ", 0), 0u);
    }
    {
        McpProcess mcp({"--help"});
        EXPECT_EQ(mcp.wait(), 0);
        EXPECT_EQ(mcp.rest_of_output().rfind("usage: vistrel-mcp [--port N] [--dir FOLDER]\n", 0), 0u);
    }
    {
        McpProcess mcp({"--verbose"});
        EXPECT_EQ(mcp.wait(), 1);
        EXPECT_EQ(mcp.rest_of_output(), "");
        EXPECT_EQ(mcp.error_output(), "vistrel-mcp: unknown option --verbose (see vistrel-mcp --help)\n");
    }
    {
        McpProcess mcp({"--dir", "/no/such/folder"});
        EXPECT_EQ(mcp.wait(), 1);
        EXPECT_EQ(mcp.error_output(), "vistrel-mcp: --dir /no/such/folder: no such folder\n");
    }
}
