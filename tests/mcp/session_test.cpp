// The message layer: lines in, lines out.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "session_harness.h"

namespace {
std::vector<std::string> sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

const std::string known_tools[] = {"look",     "snap",        "screenshot", "focus",  "record",     "devices",
                                   "controls", "set_control", "status",     "sources", "add_source", "forget_source"};
}  // namespace

TEST(Session, MessagesInMessagesOut) {
    struct Case {
        std::string name;
        std::vector<std::string> in;
        std::vector<std::string> out;
    };
    const std::string initialized = R"({"jsonrpc":"2.0","method":"notifications/initialized"})";
    const Case cases[] = {
        {"ping", {R"({"jsonrpc":"2.0","id":1,"method":"ping"})"}, {R"({"jsonrpc":"2.0","id":1,"result":{}})"}},
        {"ids are echoed as written",
         {R"({"jsonrpc":"2.0","id":1.50,"method":"ping"})", R"({"jsonrpc":"2.0","id":"x y","method":"ping"})",
R"({"jsonrpc":"2.0","id":99999999999999999999,"method":"ping"})"},
         {R"({"jsonrpc":"2.0","id":1.50,"result":{}})", R"({"jsonrpc":"2.0","id":"x y","result":{}})",
R"({"jsonrpc":"2.0","id":99999999999999999999,"result":{}})"}},
        {"notifications are never answered",
         {initialized, R"({"jsonrpc":"2.0","method":"ping"})", R"({"jsonrpc":"2.0","method":"no/such"})",
          R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":5}})",
          R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":"nonsense"})",
          R"({"jsonrpc":"2.0","method":"tools/call","params":{"name":"status"}})"},
         {}},
        {"responses from the client are ignored", {R"({"jsonrpc":"2.0","id":3,"result":{}})"}, {}},
        {"a line that is not JSON",
         {"this is not json", R"({"jsonrpc":"2.0","id":2,"method":"ping"})"},
         {R"({"jsonrpc":"2.0","error":{"code":-32700,"message":"parse error: the line is not JSON"}})",
          R"({"jsonrpc":"2.0","id":2,"result":{}})"}},
        {"blank lines are skipped", {"", "  ", "\r"}, {}},
        {"invalid requests",
         {"[]", R"({"jsonrpc":"2.0","id":null,"method":"ping"})", R"({"id":4,"method":"ping"})",
          R"({"jsonrpc":"2.0","id":5,"method":"ping","params":3})"},
         {R"({"jsonrpc":"2.0","error":{"code":-32600,"message":"invalid request: a message must be a JSON object"}})",
          R"({"jsonrpc":"2.0","error":{"code":-32600,"message":"invalid request: id must be a string or a number"}})",
          R"({"jsonrpc":"2.0","id":4,"error":{"code":-32600,"message":"invalid request: jsonrpc must be \"2.0\""}})",
          R"({"jsonrpc":"2.0","id":5,"error":{"code":-32600,"message":"invalid request: params must be an object"}})"}},
        {"unknown methods",
         {R"({"jsonrpc":"2.0","id":1,"method":"resources/list"})", R"({"jsonrpc":"2.0","id":2,"method":"Ping"})"},
         {R"({"jsonrpc":"2.0","id":1,"error":{"code":-32601,"message":"method not found: resources/list"}})",
          R"({"jsonrpc":"2.0","id":2,"error":{"code":-32601,"message":"method not found: Ping"}})"}},
        {"params that are an array", {R"({"jsonrpc":"2.0","id":1,"method":"ping","params":[]})"},
         {R"({"jsonrpc":"2.0","id":1,"error":{"code":-32602,"message":"params must be an object"}})"}},
        {"tool calls that break the schema",
         {R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"nope"}})",
          R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{}})",
          R"({"jsonrpc":"2.0","id":3,"method":"tools/call","params":{"name":"snap","arguments":{"width":0}}})",
          R"({"jsonrpc":"2.0","id":4,"method":"tools/call","params":{"name":"snap","arguments":{"width":"640"}}})",
          R"({"jsonrpc":"2.0","id":5,"method":"tools/call","params":{"name":"snap","arguments":{"colour":1}}})",
          R"({"jsonrpc":"2.0","id":6,"method":"tools/call","params":{"name":"record","arguments":{"secs":121}}})",
          R"({"jsonrpc":"2.0","id":7,"method":"tools/call","params":{"name":"record","arguments":{"format":"avi"}}})",
          R"({"jsonrpc":"2.0","id":8,"method":"tools/call","params":{"name":"set_control","arguments":{"name":"focus"}}})",
          R"({"jsonrpc":"2.0","id":9,"method":"tools/call","params":{"name":"set_control","arguments":{"name":"focus","value":1.5}}})",
          R"({"jsonrpc":"2.0","id":10,"method":"tools/call","params":{"name":"status","arguments":[]}})",
          R"({"jsonrpc":"2.0","id":11,"method":"tools/call","params":{"name":"snap","arguments":{"path":""}}})",
          R"({"jsonrpc":"2.0","id":12,"method":"tools/call","params":{"name":"set_control","arguments":{"name":"zoom","value":9223372036854775808}}})"},
         {R"({"jsonrpc":"2.0","id":1,"error":{"code":-32602,"message":"unknown tool: nope"}})",
          R"({"jsonrpc":"2.0","id":2,"error":{"code":-32602,"message":"params.name must be the name of a tool"}})",
          R"({"jsonrpc":"2.0","id":3,"error":{"code":-32602,"message":"snap: arguments.width must be at least 1"}})",
          R"({"jsonrpc":"2.0","id":4,"error":{"code":-32602,"message":"snap: arguments.width must be a whole number"}})",
          R"({"jsonrpc":"2.0","id":5,"error":{"code":-32602,"message":"snap: arguments has the member \"colour\", which is not one of its parameters"}})",
          R"({"jsonrpc":"2.0","id":6,"error":{"code":-32602,"message":"record: arguments.secs must be at most 120"}})",
          R"({"jsonrpc":"2.0","id":7,"error":{"code":-32602,"message":"record: arguments.format must be one of \"webm\", \"mp4\""}})",
          R"({"jsonrpc":"2.0","id":8,"error":{"code":-32602,"message":"set_control: arguments must have the member \"value\""}})",
          R"({"jsonrpc":"2.0","id":9,"error":{"code":-32602,"message":"set_control: arguments.value must be a whole number"}})",
          R"({"jsonrpc":"2.0","id":10,"error":{"code":-32602,"message":"status: arguments must be an object"}})",
          R"({"jsonrpc":"2.0","id":11,"error":{"code":-32602,"message":"snap: arguments.path must not be empty"}})",
          R"({"jsonrpc":"2.0","id":12,"error":{"code":-32602,"message":"set_control: arguments.value must be at most 9223372036854775807"}})"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SessionHarness harness;
        EXPECT_EQ(sorted(harness.exchange(c.in)), sorted(c.out));
        EXPECT_TRUE(harness.app.calls().empty()) << "nothing reaches the app";
    }
}

TEST(Session, InitializeNegotiatesTheRevision) {
    struct Case {
        std::string params, chosen;
    };
    const Case cases[] = {
        {R"({"protocolVersion":"2025-11-25"})", "2025-11-25"}, {R"({"protocolVersion":"2025-06-18"})", "2025-06-18"},
        {R"({"protocolVersion":"2025-03-26"})", "2025-03-26"}, {R"({"protocolVersion":"2024-11-05"})", "2024-11-05"},
        {R"({"protocolVersion":"2024-10-07"})", "2025-11-25"}, {R"({"protocolVersion":"2099-01-01"})", "2025-11-25"},
        {R"({"protocolVersion":20251125})", "2025-11-25"},     {R"({})", "2025-11-25"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.params);
        SessionHarness harness;
        auto lines = harness.exchange({R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":)" + c.params + "}"});
        ASSERT_EQ(lines.size(), 1u);
        JsonValue result = JsonValue::parse(lines[0])["result"];
        EXPECT_EQ(result["protocolVersion"], c.chosen);
        EXPECT_EQ(result["capabilities"], JsonValue::parse(R"({"tools":{"listChanged":false}})"));
        EXPECT_EQ(result["serverInfo"]["name"], "vistrel-mcp");
        EXPECT_EQ(result["serverInfo"]["version"], "1.2.3");
        EXPECT_TRUE(result["instructions"].is_string());
    }
}

TEST(Session, ToolsListShowsEveryToolWithSchemas) {
    SessionHarness harness;
    auto lines = harness.exchange({R"({"jsonrpc":"2.0","id":1,"method":"tools/list","params":{"cursor":"x"}})"});
    ASSERT_EQ(lines.size(), 1u);
    JsonValue tools = JsonValue::parse(lines[0])["result"]["tools"];
    ASSERT_EQ(tools.size(), std::size(known_tools));
    for (std::size_t i = 0; i < tools.size(); ++i) {
        const JsonValue& tool = tools[i];
        SCOPED_TRACE(known_tools[i]);
        EXPECT_EQ(tool["name"], known_tools[i]);
        EXPECT_GT(tool["description"].get<std::string>().size(), 40u);
        EXPECT_EQ(tool["inputSchema"]["type"], "object");
        EXPECT_EQ(tool["inputSchema"]["additionalProperties"], false);
        EXPECT_TRUE(tool["annotations"]["readOnlyHint"].is_boolean());
        bool structured = tool.contains("outputSchema");
        bool picture_or_file = tool["name"] == "look" || tool["name"] == "snap" || tool["name"] == "screenshot" ||
                               tool["name"] == "record";
        EXPECT_NE(structured, picture_or_file);
    }
    // Only the tools that change nothing say so.
    for (const JsonValue& tool : tools) {
        bool reads_only = tool["name"] == "devices" || tool["name"] == "controls" || tool["name"] == "status" ||
                          tool["name"] == "sources";
        EXPECT_EQ(tool["annotations"]["readOnlyHint"], reads_only) << tool["name"];
    }
}

// A recording holds its worker; everything else is answered meanwhile, and
// the recording's reply comes last.
TEST(Session, AnswersWhileARecordingRuns) {
    SessionHarness harness;
    harness.app.close_gate();
    harness.session->receive(call_line(1, "record", {{"secs", 2}}));
    harness.app.wait_for_recording();
    harness.session->receive(R"({"jsonrpc":"2.0","id":2,"method":"ping"})");
    harness.session->receive(R"({"jsonrpc":"2.0","id":3,"method":"tools/list"})");
    harness.session->receive(call_line(4, "status"));
    harness.out.wait_for(R"("id":4)");
    auto lines = harness.out.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], R"({"jsonrpc":"2.0","id":2,"result":{}})");
    harness.app.open_gate();
    harness.session->finish();
    lines = harness.out.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[3].find(R"("id":1,"result")"), std::string::npos) << lines[3];
}

TEST(Session, EndOfInputWaitsForCallsInFlight) {
    SessionHarness harness;
    harness.app.close_gate();
    harness.session->receive(call_line(1, "record"));
    harness.app.wait_for_recording();
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        harness.app.open_gate();
    });
    harness.session->finish();
    opener.join();
    auto lines = harness.out.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("saved a 5-second screen recording (webm)"), std::string::npos) << lines[0];
}

// A cancelled call gets no reply, leaves no file, and the end of input does
// not wait for it.
TEST(Session, CancelledCallsAreAbandoned) {
    SessionHarness harness;
    harness.app.close_gate();
    harness.session->receive(call_line(7, "record", {{"secs", 3}}));
    harness.app.wait_for_recording();
    harness.session->receive(
        R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":7,"reason":"user"}})");
    harness.session->finish();  // returns although the recording still runs
    EXPECT_TRUE(harness.out.lines().empty());
    harness.app.open_gate();
    harness.session.reset();  // waits for the worker
    EXPECT_TRUE(harness.out.lines().empty());
    EXPECT_TRUE(harness.folder.names().empty());
}

TEST(Session, CancellingAQueuedCallMeansItNeverRuns) {
    SessionHarness harness;
    ToolSettings settings;
    settings.folder = harness.folder.text();
    SessionSetup setup{harness.out, harness.app, settings, "1", std::chrono::milliseconds(20), 1};
    auto session = std::make_unique<Session>(setup);
    harness.app.close_gate();
    session->receive(call_line(1, "record"));
    harness.app.wait_for_recording();
    session->receive(call_line(2, "devices"));
    session->receive(R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":2}})");
    harness.app.open_gate();
    session->finish();
    session.reset();
    auto lines = harness.out.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(R"("id":1,)"), std::string::npos);
    EXPECT_EQ(harness.app.calls(), std::vector<std::string>{"record 5 webm"});
}

TEST(Session, ProgressWhileRecordingWhenAsked) {
    SessionHarness harness(std::chrono::milliseconds(10));
    harness.app.close_gate();
    harness.session->receive(
        R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"record","arguments":{"secs":1},"_meta":{"progressToken":"tok"}}})");
    harness.app.wait_for_recording();
    harness.out.wait_for("notifications/progress", 3);
    harness.app.open_gate();
    harness.session->finish();
    auto lines = harness.out.lines();
    ASSERT_GE(lines.size(), 4u);
    double last = 0;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        JsonValue note = JsonValue::parse(lines[i]);
        ASSERT_EQ(note["method"], "notifications/progress") << lines[i];
        EXPECT_EQ(note["params"]["progressToken"], "tok");
        EXPECT_EQ(note["params"]["total"], 1);
        double progress = note["params"]["progress"].get<double>();
        EXPECT_GT(progress, last) << "progress only grows";
        EXPECT_LE(progress, 1.0);
        last = progress;
    }
    EXPECT_NE(lines.back().find(R"("id":1,"result")"), std::string::npos) << "no progress after the reply";
}

TEST(Session, NoProgressWithoutAToken) {
    SessionHarness harness(std::chrono::milliseconds(5));
    harness.app.close_gate();
    harness.session->receive(call_line(1, "record", {{"secs", 1}}));
    harness.app.wait_for_recording();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    harness.app.open_gate();
    EXPECT_EQ(harness.exchange({}).size(), 1u);
}
