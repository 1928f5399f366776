// The wire: what the client sends, and how it reads whatever comes back.
#include <gtest/gtest.h>

#include "e2e_case.h"

namespace {
const std::string health_request = get_request("/api/health");
const std::string base = "http://127.0.0.1:{port}/api";

ScriptedReply raw(std::string bytes, ScriptedReply::Ending ending = ScriptedReply::Ending::close) {
    return ScriptedReply{std::move(bytes), ending};
}
}  // namespace

TEST(Wire, StatusLinesAndHeaderBlocksReadLeniently) {
    struct Case {
        std::string name, reply, out, err;
        int status;
    };
    const Case cases[] = {
        {"404 with an error string", "HTTP/1.1 404 Not Found\r\n\r\n{\"error\":\"no such thing\"}", "",
         "error: no such thing\n", 1},
        {"a plus sign before the code", "HTTP/1.1 +200 OK\r\n\r\n{\"a\":1}", "{\n  \"a\": 1\n}\n", "", 0},
        {"a code that is no number reads as 0", "HTTP/1.1 abc\r\n\r\n{\"error\":\"x\"}",
         "{\n  \"error\": \"x\"\n}\n", "", 0},
        {"a lone version reads as 0", "HTTP/1.1\r\n\r\n[1]", "[\n  1\n]\n", "", 0},
        {"a code above 65535 reads as 0", "HTTP/1.1 65936 X\r\n\r\n{\"error\":\"x\"}",
         "{\n  \"error\": \"x\"\n}\n", "", 0},
        {"leading spaces do not shift the fields", "   HTTP/1.1 500 X\r\n\r\n{\"error\":\"broken\"}", "",
         "error: broken\n", 1},
        {"ideographic spaces separate fields", "HTTP/1.1\u3000503\u3000X\r\n\r\n{\"error\":\"busy\"}", "",
         "error: busy\n", 1},
        {"bare line feeds", "HTTP/1.1 200 OK\nContent-Length: 7\n\n{\"a\":1}", "{\n  \"a\": 1\n}\n", "", 0},
        {"a line of spaces and tabs ends the headers", "HTTP/1.1 200 OK\r\nX: y\r\n \t \r\n{\"a\":1}",
         "{\n  \"a\": 1\n}\n", "", 0},
        {"a line of no-break spaces ends the headers", "HTTP/1.1 200 OK\r\n\u00A0\r\n{\"a\":1}",
         "{\n  \"a\": 1\n}\n", "", 0},
        {"no empty line: an empty body", "HTTP/1.1 200 OK\r\nX-Note: 7\r\n", "null\n", "", 0},
        {"a short Content-Length is ignored", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{\"a\":1}",
         "{\n  \"a\": 1\n}\n", "", 0},
        {"a reply cut short of its Content-Length", "HTTP/1.1 200 OK\r\nContent-Length: 900\r\n\r\n{\"a\":1}", "",
         unreachable(base, "transfer closed with 893 bytes remaining"), 1},
        {"cut short before the empty line", "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n", "",
         unreachable(base, "transfer closed with 7 bytes remaining"), 1},
        {"the header name in any case, the value in white space", "HTTP/1.1 200 OK\r\ncontent-LENGTH: \t 8 \r\n\r\n[1]",
         "", unreachable(base, "transfer closed with 5 bytes remaining"), 1},
        {"the first Content-Length counts", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 9\r\n\r\n[1]",
         "[\n  1\n]\n", "", 0},
        {"a Content-Length that is no number means nothing",
         "HTTP/1.1 200 OK\r\nContent-Length: 9x\r\nContent-Length: -1\r\nContent-Length : 9\r\n\r\n[1]", "[\n  1\n]\n", "", 0},
        {"an exact Content-Length", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n[1]", "[\n  1\n]\n", "", 0},
        {"chunks are not decoded", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n7\r\n{\"a\":1}\r\n0\r\n\r\n",
         "null\n", "", 0},
        {"nothing at all is no reply", "", "", unreachable(base, "the connection closed without a reply"), 1},
        {"a body that is not UTF-8 is no failure", "HTTP/1.1 200 OK\r\n\r\n\xFF\xFE", "null\n", "", 0},
        {"a header that is not UTF-8", "HTTP/1.1 200 OK\r\nX-Name: caf\xE9\r\n\r\n{}", "",
         unreachable(base, "stream did not contain valid UTF-8"), 1},
        {"a status line that is not UTF-8", "HTTP/1.1 200 \xC0\xAF\r\n\r\n{}", "",
         unreachable(base, "stream did not contain valid UTF-8"), 1},
    };
    for (const Case& c : cases) {
        check_case({.name = c.name,
                    .arguments = {"status", "--json"},
                    .replies = {raw(c.reply)},
                    .requests = {health_request},
                    .out = c.out,
                    .err = c.err,
                    .status = c.status});
    }
}

TEST(Wire, BodyBytesTravelUntouched) {
    const std::string body = "7\r\n\xFF\xD8\x00\x01\r\n0\r\n\r\n" + std::string("\0\r\n\n", 4);
    check_case({.name = "chunked, NUL bytes and invalid UTF-8 in the body",
                .arguments = {"snap"},
                .replies = {raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + body)},
                .requests = {get_request("/api/frame.jpg?_=")},
                .out = "vistrel.jpg  " + std::to_string(body.size()) + " bytes\n",
                .files_after = {{{"vistrel.jpg", body}}}});
}

TEST(Wire, AResetConnectionIsUnreachableAndKeepsNoPartialReply) {
    FakeApp app({raw("HTTP/1.1 200 OK\r\n\r\npartial jpeg", ScriptedReply::Ending::reset)});
    ScratchFolder folder;
    write_bytes(folder.path / "vistrel.jpg", "old");
    RunResult result = run_vistrel({"snap"}, {folder.path, {{"VISTREL_PORT", std::to_string(app.port())}}});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind(expand("error: cannot reach Vistrel at " + base + " (", app.port()), 0), 0u) << result.err;
    EXPECT_EQ(files_in(folder.path), (std::map<std::string, std::string>{{"vistrel.jpg", "old"}}));
}

TEST(Wire, APeerThatHangsUpWhileWeSendGivesAnErrorNotASignal) {
    // A body larger than the socket buffers, to a peer that resets at once
    // (Windows takes at most 32767 characters on a command line).
    const std::string url(testing_windows_build() ? 30000 : 120000, 'u');
    for (int attempt = 0; attempt < 3; ++attempt) {
        FakeApp app({raw("", ScriptedReply::Ending::reset_at_once)});
        ScratchFolder folder;
        RunResult result =
            run_vistrel({"add-source", "phone", url}, {folder.path, {{"VISTREL_PORT", std::to_string(app.port())}}});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind(expand("error: cannot reach Vistrel at " + base + " (", app.port()), 0), 0u)
            << result.err;
    }
}

TEST(Wire, RequestTargetsCarryOptionTextAsTypedButNoControlBytes) {
    struct Case {
        std::string device, path;
    };
    const Case cases[] = {
        {"net:my phone", "/api/frame.jpg?_=&device=net:my phone"},
        {"caméra 2", "/api/frame.jpg?_=&device=caméra 2"},
        {"a&b=c%20", "/api/frame.jpg?_=&device=a&b=c%20"},
        {"x\r\nInjected: 1", "/api/frame.jpg?_=&device=x%0D%0AInjected: 1"},
        {"x\n\tY\x7f", "/api/frame.jpg?_=&device=x%0A%09Y%7F"},
    };
    for (const Case& c : cases) {
        check_case({.name = c.device,
                    .arguments = {"snap", "--device", c.device},
                    .replies = {http_reply(200, "jpg")},
                    .requests = {get_request(c.path)},
                    .out = "vistrel.jpg  3 bytes\n",
                    .files_after = {{{"vistrel.jpg", "jpg"}}}});
    }
}

TEST(Port, OptionThenEnvironmentThenDefault) {
    std::string refused_port = std::to_string(closed_port());
    // --port wins over VISTREL_PORT.
    check_case({.name = "--port beats the environment",
                .arguments = {"status", "--json", "--port={port}"},
                .replies = {json_reply("{}")},
                .requests = {health_request},
                .out = "{}\n",
                .environment = {{"VISTREL_PORT", refused_port}},
                .port_in_environment = false});
    check_case({.name = "the environment alone",
                .arguments = {"status", "--json"},
                .replies = {json_reply("{}")},
                .requests = {health_request},
                .out = "{}\n"});
    check_case({.name = "nothing listening",
                .arguments = {"status"},
                .err = unreachable("http://127.0.0.1:" + refused_port + "/api", "{refused}"),
                .status = 1,
                .environment = {{"VISTREL_PORT", refused_port}},
                .port_in_environment = false});
    // Port texts are pasted into the address verbatim.
    const std::pair<std::string, std::string> bad_ports[] = {
        {"", "invalid port value"},
        {"abc", "invalid port value"},
        {"65536", "invalid port value"},
        {" 7777", "invalid port value"},
        {"7777\r\nX: 1", "invalid port value"},
    };
    for (const auto& [port, reason] : bad_ports) {
        std::string shown_base = "http://127.0.0.1:" + port + "/api";
        check_case({.name = "--port=" + port,
                    .arguments = {"status", "--port=" + port},
                    .err = unreachable(shown_base, reason),
                    .status = 1,
                    .port_in_environment = false});
        check_case({.name = "VISTREL_PORT=" + port,
                    .arguments = {"status"},
                    .err = unreachable(shown_base, reason),
                    .status = 1,
                    .environment = {{"VISTREL_PORT", port}},
                    .port_in_environment = false});
    }
}

TEST(Port, TheDefaultIs7777) {
    check_case({.name = "no option, no variable",
                .arguments = {"status"},
                .err = unreachable("http://127.0.0.1:7777/api", "{refused}"),
                .status = 1,
                .port_in_environment = false});
}

TEST(Port, APortTextWithASlashPrefixesEveryPath) {
    check_case({.name = "--port={port}/x",
                .arguments = {"status", "--json", "--port={port}/x"},
                .replies = {json_reply("{}")},
                .requests = {"GET /x/api/health HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nConnection: close\r\n"
                             "Content-Length: 0\r\n\r\n"},
                .out = "{}\n",
                .port_in_environment = false});
    check_case({.name = "control bytes after the slash",
                .arguments = {"status", "--json", "--port={port}/a\r\nX: y"},
                .replies = {json_reply("{}")},
                .requests = {"GET /a%0D%0AX: y/api/health HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nConnection: close\r\n"
                             "Content-Length: 0\r\n\r\n"},
                .out = "{}\n",
                .port_in_environment = false});
}

TEST(Port, AnEnvironmentValueThatIsNotUnicodeCountsAsUnset) {
    if (testing_windows_build()) GTEST_SKIP() << "the Windows environment is UTF-16";
    check_case({.name = "VISTREL_PORT holds Latin-1",
                .arguments = {"status"},
                .err = unreachable("http://127.0.0.1:7777/api", "{refused}"),
                .status = 1,
                .environment = {{"VISTREL_PORT", "77\xE9"}},
                .port_in_environment = false});
}
