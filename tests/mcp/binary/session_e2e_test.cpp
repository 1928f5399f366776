// The built vistrel-mcp (or vistrel-mcp.exe under wine) in a session against
// the fake app: the lines it writes, the requests the app receives and the
// files it leaves.
#include <gtest/gtest.h>

#include <unistd.h>

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

std::vector<std::string> file_names(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& [name, bytes] : files_in(folder)) names.push_back(name);
    return names;
}

// One tools/call request line, id 1.
std::string tool_call(const std::string& tool, const JsonValue& arguments) {
    return json_text({{"jsonrpc", "2.0"},
                      {"id", 1},
                      {"method", "tools/call"},
                      {"params", {{"name", tool}, {"arguments", arguments}}}});
}

// The unreachable message as a tool result carries it: vistrel's, without
// "error: " and the line break, but with vistrel-mcp's own way to give a port.
std::string unreachable_text(std::uint16_t port, const std::string& reason) {
    return "cannot reach Vistrel at http://127.0.0.1:" + std::to_string(port) + "/api (" + reason +
           ")\n  Is the app running? Start it from your applications menu, or: vistrel-app &"
           "\n  Different port?     give vistrel-mcp \"--port\", \"7999\" in the agent's MCP configuration, or set "
           "VISTREL_PORT";
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

    JsonValue init = ask(
        mcp,
        R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-11-25","capabilities":{},"clientInfo":{"name":"t","version":"1"}}})");
    EXPECT_EQ(init["result"]["protocolVersion"], "2025-11-25");
    EXPECT_EQ(init["result"]["serverInfo"]["name"], "vistrel-mcp");
    mcp.write(std::string(R"({"jsonrpc":"2.0","method":"notifications/initialized"})") + "\n");
    EXPECT_EQ(ask(mcp, R"({"jsonrpc":"2.0","id":1,"method":"tools/list"})")["result"]["tools"].size(), 14u);

    JsonValue status =
        ask(mcp, R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"status","arguments":{}}})");
    EXPECT_EQ(status["result"]["structuredContent"],
              JsonValue::parse(R"({"device":"0","height":720,"port":7777,"version":"0.9","width":1280})"));

    JsonValue snap = ask(
        mcp,
        R"({"jsonrpc":"2.0","id":"s","method":"tools/call","params":{"name":"snap","arguments":{"device":"1","width":640,"height":480}}})");
    EXPECT_EQ(snap["id"], "s");
    EXPECT_EQ(snap["result"]["content"][0]["text"], "640x480 JPEG, 3029 bytes");
    EXPECT_EQ(snap["result"]["content"][1]["data"], base64(jpeg_640x480()));

    JsonValue record = ask(
        mcp,
        R"({"jsonrpc":"2.0","id":3,"method":"tools/call","params":{"name":"record","arguments":{"secs":1,"format":"mp4"}}})");
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

// A recording, or a picture saved at a path, goes to its new file as it
// arrives; when the reply is refused, cut short or cannot be written whole,
// the tool fails with vistrel's message and no file is left.
TEST(McpBinary, ASaveThatFailsLeavesNoFile) {
    struct Case {
        std::string name;
        std::string tool;
        JsonValue arguments;  // a "path" member is taken as a name in the folder
        ScriptedReply reply;
        std::string text;  // "{path}" for the path; "{port}", "{too_large}"
        std::optional<std::uint64_t> file_size_limit{};
    };
    // A picture saved without a size comes after one look at the devices.
    const ScriptedReply no_devices = json_reply("{}");
    const std::string cut_head = "HTTP/1.1 200 OK\r\nContent-Length: 65536\r\n\r\n";
    const std::string video(64 * 1024, 'v');
    const std::string picture = jpeg_640x480() + std::string(65536 - jpeg_640x480().size(), 'p');
    const Case cases[] = {
        {"a recording cut short",
         "record",
         {{"secs", 1}},
         ScriptedReply{cut_head + video.substr(0, 7)},
         "transfer closed with 65529 bytes remaining"},
        {"a recording to a path cut short",
         "record",
         {{"secs", 1}, {"path", "clip.webm"}},
         ScriptedReply{cut_head + video.substr(0, 40000)},
         "transfer closed with 25536 bytes remaining"},
        {"a saved picture cut short",
         "snap",
         {{"save", true}},
         ScriptedReply{cut_head + picture.substr(0, 30000)},
         "transfer closed with 35536 bytes remaining"},
        {"a refused recording",
         "record",
         {{"secs", 1}, {"path", "clip.webm"}},
         json_reply(R"({"error":"no display"})", 503),
         "no display"},
        {"a recording on a full disk",
         "record",
         {{"secs", 1}, {"path", "clip.webm"}},
         http_reply(200, video),
         "cannot write {path}: {too_large}",
         16384},
        {"a saved picture on a full disk",
         "screenshot",
         {{"save", true}},
         http_reply(200, picture),
         "cannot write {saved}: {too_large}",
         16384},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A file size limit is a POSIX resource limit; under wine it ends the
        // whole wine process before the program sees an error.
        if (c.file_size_limit && testing_windows_mcp()) continue;
        bool saves = c.arguments.contains("save");
        FakeApp app(saves ? std::vector<ScriptedReply>{no_devices, c.reply} : std::vector<ScriptedReply>{c.reply});
        ScratchFolder folder;
        JsonValue arguments = c.arguments;
        std::string path;
        if (arguments.contains("path")) {
            path = (folder.path / arguments["path"].get<std::string>()).string();
            arguments["path"] = path;
        }
        McpProcess mcp({"--port", std::to_string(app.port()), "--dir", folder.path.string()}, c.file_size_limit);
        JsonValue reply = ask(mcp, tool_call(c.tool, arguments));
        std::string text =
            c.text.rfind("transfer closed", 0) == 0 ? unreachable_text(app.port(), c.text) : expand(c.text, app.port());
        for (std::size_t at; (at = text.find("{path}")) != std::string::npos;) text.replace(at, 6, path);
        EXPECT_EQ(reply["result"]["isError"], true);
        std::string got = reply["result"]["content"][0]["text"];
        std::size_t saved = text.find("{saved}");
        if (saved == std::string::npos) {
            EXPECT_EQ(got, text);
        } else {
            // A new name in the folder, unknown beforehand.
            std::string before = text.substr(0, saved) + (folder.path / "vistrel-screen-").string();
            std::string after = text.substr(saved + 7);
            EXPECT_EQ(got.rfind(before, 0), 0u) << got;
            EXPECT_EQ(got.substr(got.size() - std::min(got.size(), after.size())), after) << got;
        }
        EXPECT_EQ(file_names(folder.path), std::vector<std::string>{});
    }
}

// vistrel's message, but the way to give another port is vistrel-mcp's own.
TEST(McpBinary, AnAppThatIsNotRunning) {
    std::uint16_t port = closed_port();
    McpProcess mcp({"--port=" + std::to_string(port)});
    JsonValue reply = ask(mcp, R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"devices"}})");
    std::string hint = unreachable_text(port, closed_port_refusal());
    std::string vistrel_hint = unreachable("http://127.0.0.1:" + std::to_string(port) + "/api", closed_port_refusal());
    EXPECT_EQ(hint.substr(0, hint.rfind('\n')), vistrel_hint.substr(7, vistrel_hint.rfind("\n  Different") - 7));
    EXPECT_EQ(reply["result"], JsonValue({{"content", {{{"type", "text"}, {"text", hint}}}}, {"isError", true}}));
}

// The app stops a recording whose client hangs up: a cancelled record, the
// end of input and a client gone each hang up on it at once, leave no file,
// and (for a cancel) the next recording is taken straight away.
TEST(McpBinary, ARecordingIsHungUpOnWhenNobodyWaitsForIt) {
    enum class Ending { cancel, end_of_input, client_gone };
    for (Ending ending : {Ending::cancel, Ending::end_of_input, Ending::client_gone}) {
        SCOPED_TRACE(static_cast<int>(ending));
        FakeApp app({ScriptedReply{"", ScriptedReply::Ending::until_hang_up},
                     http_reply(200, "WEBM", "Content-Type: video/webm\r\n")});
        ScratchFolder folder;
        McpProcess mcp({"--port", std::to_string(app.port()), "--dir", folder.path.string()});
        mcp.write(R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"record","arguments":{"secs":30}}})"
                  "\n");
        for (int i = 0; i < 2000 && app.requests().empty(); ++i) usleep(5000);
        ASSERT_EQ(app.requests().size(), 1u);
        if (ending == Ending::cancel) {
            mcp.write(R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":1}})"
                      "\n");
            JsonValue next = ask(
                mcp,
                R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"record","arguments":{"secs":1}}})");
            EXPECT_EQ(next["id"], 2) << "no reply for the cancelled call";
            std::string text = next["result"]["content"][0]["text"];
            EXPECT_EQ(text.rfind("saved a 1-second screen recording (webm) of 4 bytes to ", 0), 0u) << text;
            EXPECT_EQ(file_names(folder.path).size(), 1u);
            mcp.close_input();
            EXPECT_EQ(mcp.wait(), 0);
        } else if (ending == Ending::end_of_input) {
            mcp.close_input();
            EXPECT_EQ(mcp.wait(), 0);
            JsonValue reply = JsonValue::parse(mcp.rest_of_output());
            EXPECT_EQ(reply["result"]["content"][0]["text"],
                      "stopped: the client closed its input before the call was done");
            EXPECT_TRUE(file_names(folder.path).empty());
        } else {
            mcp.close_output();
            mcp.write(std::string(R"({"jsonrpc":"2.0","id":3,"method":"ping"})") + "\n");
            EXPECT_EQ(mcp.wait(), 1);
            EXPECT_NE(mcp.error_output().find("vistrel-mcp: cannot write to standard output: "), std::string::npos);
            EXPECT_TRUE(file_names(folder.path).empty());
        }
        // The fake app sees the hang-up on its own thread, a moment later.
        for (int i = 0; i < 2000 && app.hang_ups() == 0; ++i) usleep(5000);
        EXPECT_EQ(app.hang_ups(), 1);
    }
}

TEST(McpBinary, BadLinesAndTheEndOfInput) {
    McpProcess mcp({});
    mcp.write(
        "not json\r\n"
        "{\"jsonrpc\":\"2.0\",\"id\":7,\"method\":\"nope\"}\r\n"
        "{\"jsonrpc\":\"2.0\",\"id\":8,\"method\":\"ping\"}");
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
