// The message layer: lines in, lines out.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

#include "session_harness.h"

namespace {
std::vector<std::string> sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

const std::string known_tools[] = {"look",   "snap",      "screenshot", "windows",      "focus",
                                   "record", "recording", "devices",    "controls",     "set_control",
                                   "status", "sources",   "add_source", "forget_source"};

// A tool result whose text is `message`, with isError.
std::string error_result_line(int id, const std::string& message) {
    return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"result":{"content":[{"text":)" +
           JsonValue(message).dump() + R"(,"type":"text"}],"isError":true}})";
}

const std::string modern_meta =
    R"("_meta":{"io.modelcontextprotocol/protocolVersion":"2026-07-28","io.modelcontextprotocol/clientCapabilities":{}})";
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
        {"params that are an array",
         {R"({"jsonrpc":"2.0","id":1,"method":"ping","params":[]})"},
         {R"({"jsonrpc":"2.0","id":1,"error":{"code":-32602,"message":"params must be an object"}})"}},
        // A wrong tool is the client's fault; wrong arguments are the model's,
        // which reads the result and tries again.
        {"tool calls that name no tool",
         {R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"nope"}})",
          R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{}})"},
         {R"({"jsonrpc":"2.0","id":1,"error":{"code":-32602,"message":"unknown tool: nope"}})",
          R"({"jsonrpc":"2.0","id":2,"error":{"code":-32602,"message":"params.name must be the name of a tool"}})"}},
        {"tool calls whose arguments break the schema",
         {R"({"jsonrpc":"2.0","id":3,"method":"tools/call","params":{"name":"snap","arguments":{"width":0}}})",
          R"({"jsonrpc":"2.0","id":4,"method":"tools/call","params":{"name":"snap","arguments":{"width":"640"}}})",
          R"({"jsonrpc":"2.0","id":5,"method":"tools/call","params":{"name":"snap","arguments":{"colour":1}}})",
          R"({"jsonrpc":"2.0","id":6,"method":"tools/call","params":{"name":"record","arguments":{"secs":121}}})",
          R"({"jsonrpc":"2.0","id":7,"method":"tools/call","params":{"name":"record","arguments":{"format":"avi"}}})",
          R"({"jsonrpc":"2.0","id":8,"method":"tools/call","params":{"name":"set_control","arguments":{"name":"focus"}}})",
          R"({"jsonrpc":"2.0","id":9,"method":"tools/call","params":{"name":"set_control","arguments":{"name":"focus","value":1.5}}})",
          R"({"jsonrpc":"2.0","id":10,"method":"tools/call","params":{"name":"status","arguments":[]}})",
          R"({"jsonrpc":"2.0","id":11,"method":"tools/call","params":{"name":"record","arguments":{"path":""}}})",
          R"({"jsonrpc":"2.0","id":12,"method":"tools/call","params":{"name":"set_control","arguments":{"name":"zoom","value":9223372036854775808}}})",
          R"({"jsonrpc":"2.0","id":13,"method":"tools/call","params":{"name":"set_control","arguments":{"name":"zoom","value":-1e19}}})",
          R"({"jsonrpc":"2.0","id":14,"method":"tools/call","params":{"name":"screenshot","arguments":{"width":8193}}})",
          R"({"jsonrpc":"2.0","id":15,"method":"tools/call","params":{"name":"snap","arguments":{"height":4097}}})",
          R"({"jsonrpc":"2.0","id":16,"method":"tools/call","params":{"name":"snap","arguments":{"width":15}}})",
          R"({"jsonrpc":"2.0","id":17,"method":"tools/call","params":{"name":"screenshot","arguments":{"region":{"x":0,"y":0,"width":0,"height":5}}}})",
          R"({"jsonrpc":"2.0","id":18,"method":"tools/call","params":{"name":"screenshot","arguments":{"region":{"x":0,"y":0,"width":5}}}})",
          R"({"jsonrpc":"2.0","id":19,"method":"tools/call","params":{"name":"screenshot","arguments":{"monitor":0}}})",
          R"({"jsonrpc":"2.0","id":20,"method":"tools/call","params":{"name":"record","arguments":{"preview":37}}})",
          R"({"jsonrpc":"2.0","id":21,"method":"tools/call","params":{"name":"snap","arguments":{"path":"a.jpg"}}})"},
         {error_result_line(3, "snap: arguments.width must be at least 16"),
          error_result_line(4, "snap: arguments.width must be a whole number"),
          error_result_line(5, "snap: arguments has the member \"colour\", which is not one of its parameters"),
          error_result_line(6, "record: arguments.secs must be at most 120"),
          error_result_line(7, "record: arguments.format must be one of \"webm\", \"mp4\""),
          error_result_line(8, "set_control: arguments must have the member \"value\""),
          error_result_line(9, "set_control: arguments.value must be a whole number"),
          error_result_line(10, "status: arguments must be an object"),
          error_result_line(11, "record: arguments.path must not be empty"),
          error_result_line(12, "set_control: arguments.value must be at most 9223372036854775807"),
          error_result_line(13, "set_control: arguments.value must be at least -9223372036854775808"),
          error_result_line(14, "screenshot: arguments.width must be at most 8192"),
          error_result_line(15, "snap: arguments.height must be at most 4096"),
          error_result_line(16, "snap: arguments.width must be at least 16"),
          error_result_line(17, "screenshot: arguments.region.width must be at least 1"),
          error_result_line(18, "screenshot: arguments.region must have the member \"height\""),
          error_result_line(19, "screenshot: arguments.monitor must be at least 1"),
          error_result_line(20, "record: arguments.preview must be at most 36"),
          error_result_line(21, "snap: arguments has the member \"path\", which is not one of its parameters")}},
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
        {R"({"protocolVersion":"2025-11-25"})", "2025-11-25"},
        {R"({"protocolVersion":"2025-06-18"})", "2025-06-18"},
        {R"({"protocolVersion":"2025-03-26"})", "2025-03-26"},
        {R"({"protocolVersion":"2024-11-05"})", "2024-11-05"},
        {R"({"protocolVersion":"2024-10-07"})", "2025-11-25"},
        {R"({"protocolVersion":"2099-01-01"})", "2025-11-25"},
        {R"({"protocolVersion":20251125})", "2025-11-25"},
        {R"({})", "2025-11-25"},
        // A client that asks for the revision without initialize still gets
        // the newest one that has it.
        {R"({"protocolVersion":"2026-07-28"})", "2025-11-25"},
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
    // Clients put the whole list before the model in every turn.
    EXPECT_LT(lines[0].size(), 12000u);
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
                               tool["name"] == "record" || tool["name"] == "recording";
        EXPECT_NE(structured, picture_or_file);
    }
    // The tools that only look say so, so that clients need not ask the
    // user before every picture; the ones that move a lens, record, set or
    // register something do not.
    for (const JsonValue& tool : tools) {
        bool reads_only = tool["name"] == "snap" || tool["name"] == "screenshot" || tool["name"] == "windows" ||
                          tool["name"] == "devices" || tool["name"] == "controls" || tool["name"] == "status" ||
                          tool["name"] == "sources";
        EXPECT_EQ(tool["annotations"]["readOnlyHint"], reads_only) << tool["name"];
    }
}

TEST(Session, Revision20260728BesideTheOlderOnes) {
    struct Case {
        std::string name, in;
        std::function<void(const JsonValue&)> check;
    };
    auto error_of = [](int code) {
        return [code](const JsonValue& reply) { EXPECT_EQ(reply["error"]["code"], code) << reply; };
    };
    const JsonValue server_info = {{"name", "vistrel-mcp"}, {"title", "Vistrel"}, {"version", "1.2.3"}};
    const Case cases[] = {
        {"discovery", R"({"jsonrpc":"2.0","id":"d","method":"server/discover","params":{)" + modern_meta + "}}",
         [&](const JsonValue& reply) {
             const JsonValue& result = reply["result"];
             EXPECT_EQ(result["resultType"], "complete");
             EXPECT_EQ(result["supportedVersions"],
                       JsonValue({"2026-07-28", "2025-11-25", "2025-06-18", "2025-03-26", "2024-11-05"}));
             EXPECT_EQ(result["capabilities"], JsonValue::parse(R"({"tools":{"listChanged":false}})"));
             EXPECT_EQ(result["_meta"]["io.modelcontextprotocol/serverInfo"], server_info);
             EXPECT_TRUE(result["instructions"].is_string());
             EXPECT_GE(result["ttlMs"], 0);
             EXPECT_EQ(result["cacheScope"], "public");
         }},
        // A client of the older revisions that probes gets an error that is
        // not one of this revision's, and falls back to initialize.
        {"discovery without the revision's _meta", R"({"jsonrpc":"2.0","id":1,"method":"server/discover"})",
         error_of(-32602)},
        {"a revision not served",
         R"({"jsonrpc":"2.0","id":1,"method":"tools/list","params":{"_meta":{"io.modelcontextprotocol/protocolVersion":"2099-01-01","io.modelcontextprotocol/clientCapabilities":{}}}})",
         [](const JsonValue& reply) {
             EXPECT_EQ(reply["error"]["code"], -32022);
             EXPECT_EQ(reply["error"]["data"]["requested"], "2099-01-01");
             EXPECT_EQ(reply["error"]["data"]["supported"][0], "2026-07-28");
         }},
        {"no client capabilities",
         R"({"jsonrpc":"2.0","id":1,"method":"tools/list","params":{"_meta":{"io.modelcontextprotocol/protocolVersion":"2026-07-28"}}})",
         error_of(-32602)},
        {"the tool list, cacheable", R"({"jsonrpc":"2.0","id":1,"method":"tools/list","params":{)" + modern_meta + "}}",
         [&](const JsonValue& reply) {
             const JsonValue& result = reply["result"];
             EXPECT_EQ(result["resultType"], "complete");
             EXPECT_EQ(result["tools"].size(), std::size(known_tools));
             EXPECT_EQ(result["cacheScope"], "public");
             EXPECT_GE(result["ttlMs"], 0);
             EXPECT_EQ(result["_meta"]["io.modelcontextprotocol/serverInfo"], server_info);
         }},
        {"a call",
         R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"status","arguments":{},)" + modern_meta +
             "}}",
         [&](const JsonValue& reply) {
             EXPECT_EQ(reply["result"]["resultType"], "complete");
             EXPECT_EQ(reply["result"]["_meta"]["io.modelcontextprotocol/serverInfo"], server_info);
             EXPECT_TRUE(reply["result"].contains("structuredContent"));
         }},
        {"arguments that break the schema",
         R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"snap","arguments":{"width":1},)" +
             modern_meta + "}}",
         [](const JsonValue& reply) {
             EXPECT_EQ(reply["result"]["resultType"], "complete");
             EXPECT_EQ(reply["result"]["isError"], true);
         }},
        {"ping is gone from the revision", R"({"jsonrpc":"2.0","id":1,"method":"ping","params":{)" + modern_meta + "}}",
         error_of(-32601)},
        {"the older revisions' results have no resultType", R"({"jsonrpc":"2.0","id":1,"method":"tools/list"})",
         [](const JsonValue& reply) {
             EXPECT_FALSE(reply["result"].contains("resultType"));
             EXPECT_FALSE(reply["result"].contains("ttlMs"));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SessionHarness harness;
        harness.session->receive(c.in);
        std::vector<std::string> lines = harness.exchange({});
        ASSERT_EQ(lines.size(), 1u);
        c.check(JsonValue::parse(lines[0]));
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
    harness.out.wait_for(R"("id":1,)");
    lines = harness.out.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[3].find("saved a 2-second screen recording (webm)"), std::string::npos) << lines[3];
}

// The end of input is the client shutting down: what still runs is stopped
// at once (the app hangs up on the recording), answers that it was stopped,
// and leaves no file.
TEST(Session, EndOfInputStopsCallsInFlight) {
    SessionHarness harness;
    harness.app.close_gate();
    harness.session->receive(call_line(1, "record"));
    harness.app.wait_for_recording();
    harness.session->finish();
    EXPECT_FALSE(harness.app.recording_now()) << "the recording was hung up on";
    auto lines = harness.out.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], error_result_line(1, "stopped: the client closed its input before the call was done"));
    EXPECT_TRUE(harness.folder.names().empty());
}

// A cancelled call gets no reply and leaves no file, and its exchange with the
// app ends at once, so that the app is free to record again.
TEST(Session, CancelledCallsAreStoppedWithoutAReply) {
    SessionHarness harness;
    harness.app.close_gate();
    harness.session->receive(call_line(7, "record", {{"secs", 3}}));
    harness.app.wait_for_recording();
    harness.session->receive(
        R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":7,"reason":"user"}})");
    for (int i = 0; i < 1000 && harness.app.recording_now(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(harness.app.recording_now()) << "the app was not hung up on";
    harness.app.open_gate();
    harness.session.reset();
    EXPECT_TRUE(harness.out.lines().empty());
    EXPECT_TRUE(harness.folder.names().empty());
}

TEST(Session, CancellingAQueuedCallMeansItNeverRuns) {
    SessionHarness harness;
    harness.settings.folder = harness.folder.text();
    SessionSetup setup{harness.out, harness.app, harness.settings, "1", std::chrono::milliseconds(20), 1};
    auto session = std::make_unique<Session>(setup);
    harness.app.close_gate();
    session->receive(call_line(1, "record"));
    harness.app.wait_for_recording();
    session->receive(call_line(2, "devices"));
    session->receive(R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":2}})");
    harness.app.open_gate();
    harness.out.wait_for(R"("id":1,)");
    session.reset();
    auto lines = harness.out.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(harness.app.calls(), std::vector<std::string>{"record 5 webm"});
}

// The client gone (its output closed): everything is stopped, nothing more is
// written, and the program is told, once.
TEST(Session, AClientThatIsGoneStopsEverything) {
    SessionHarness harness;
    std::atomic<int> told{0};
    SessionSetup setup{harness.out, harness.app, harness.settings, "1", std::chrono::milliseconds(20)};
    setup.client_gone = [&] { ++told; };
    auto session = std::make_unique<Session>(setup);
    harness.app.close_gate();
    session->receive(call_line(1, "record", {{"secs", 30}}));
    harness.app.wait_for_recording();
    harness.out.refuse = true;
    session->receive(R"({"jsonrpc":"2.0","id":2,"method":"ping"})");
    EXPECT_EQ(told, 1);
    EXPECT_FALSE(harness.app.recording_now());
    session->receive(R"({"jsonrpc":"2.0","id":3,"method":"ping"})");
    session.reset();
    EXPECT_EQ(told, 1);
    EXPECT_TRUE(harness.out.lines().empty());
    EXPECT_TRUE(harness.folder.names().empty());
}

TEST(Session, ProgressWhileRecordingWhenAsked) {
    SessionHarness harness(std::chrono::milliseconds(10));
    harness.app.close_gate();
    harness.session->receive(
        R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"record","arguments":{"secs":1},"_meta":{"progressToken":"tok"}}})");
    harness.app.wait_for_recording();
    harness.out.wait_for("notifications/progress", 3);
    harness.app.open_gate();
    harness.out.wait_for(R"("id":1,)");
    harness.session.reset();
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
    harness.out.wait_for(R"("id":1,)");
    EXPECT_EQ(harness.out.lines().size(), 1u);
}
