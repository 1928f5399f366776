// Reading one line into a message: what kind it is, the id as it will be
// echoed, and why an invalid one is invalid.
#include <gtest/gtest.h>

#include "mcp/json_rpc.h"

TEST(ReadMessage, KindsIdsAndProblems) {
    struct Case {
        std::string line;
        MessageKind kind;
        std::optional<std::string> id_text;
        std::string method_or_problem;
    };
    const Case cases[] = {
        {"", MessageKind::blank, {}, ""},
        {" \t\r", MessageKind::blank, {}, ""},
        {"hello", MessageKind::unparsable, {}, ""},
        {R"({"jsonrpc":"2.0","id":1,"method":"ping"} x)", MessageKind::unparsable, {}, ""},
        {R"({"jsonrpc":"2.0","id":1,"method":"ping")", MessageKind::unparsable, {}, ""},
        {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"\xFF\"}", MessageKind::unparsable, {}, ""},
        {std::string(200, '[') + std::string(200, ']'), MessageKind::unparsable, {}, ""},
        {R"({"jsonrpc":"2.0","id":1,"method":"ping"})" "\r", MessageKind::request, "1", "ping"},
        {R"({"jsonrpc":"2.0","id":-7,"method":"ping"})", MessageKind::request, "-7", "ping"},
        {R"({"jsonrpc":"2.0","id":1.50,"method":"ping"})", MessageKind::request, "1.50", "ping"},
        {R"({"jsonrpc":"2.0","id":1e3,"method":"ping"})", MessageKind::request, "1e3", "ping"},
        {R"({"jsonrpc":"2.0","id":123456789012345678901234,"method":"ping"})", MessageKind::request,
         "123456789012345678901234", "ping"},
        {R"({"jsonrpc":"2.0","id":18446744073709551615,"method":"ping"})", MessageKind::request,
         "18446744073709551615", "ping"},
        {R"({"jsonrpc":"2.0","id":"a\"b","method":"ping"})", MessageKind::request, R"("a\"b")", "ping"},
        {R"({"method":"x","params":{"id":2.5},"id":"s","jsonrpc":"2.0"})", MessageKind::request, R"("s")", "x"},
        {R"({"jsonrpc":"2.0","method":"notifications/initialized"})", MessageKind::notification, {},
         "notifications/initialized"},
        {R"({"jsonrpc":"2.0","id":4,"result":{}})", MessageKind::response, "4", ""},
        {R"({"jsonrpc":"2.0","id":4,"error":{"code":1,"message":"m"}})", MessageKind::response, "4", ""},
        {R"({"jsonrpc":"2.0","id":1,"method":"ping","params":[1]})", MessageKind::request, "1", "ping"},
        {"[]", MessageKind::invalid, {}, "a message must be a JSON object"},
        {R"([{"jsonrpc":"2.0","id":1,"method":"ping"}])", MessageKind::invalid, {}, "a message must be a JSON object"},
        {"null", MessageKind::invalid, {}, "a message must be a JSON object"},
        {R"({"jsonrpc":"2.0","id":null,"method":"ping"})", MessageKind::invalid, {}, "id must be a string or a number"},
        {R"({"jsonrpc":"2.0","id":{},"method":"ping"})", MessageKind::invalid, {}, "id must be a string or a number"},
        {R"({"jsonrpc":"2.0","id":true,"method":"ping"})", MessageKind::invalid, {}, "id must be a string or a number"},
        {R"({"id":1,"method":"ping"})", MessageKind::invalid, "1", "jsonrpc must be \"2.0\""},
        {R"({"jsonrpc":"1.0","id":1,"method":"ping"})", MessageKind::invalid, "1", "jsonrpc must be \"2.0\""},
        {R"({"jsonrpc":"2.0","id":1})", MessageKind::invalid, "1", "a request needs a method"},
        {R"({"jsonrpc":"2.0","result":{}})", MessageKind::invalid, {}, "a request needs a method"},
        {R"({"jsonrpc":"2.0","id":1,"method":7})", MessageKind::invalid, "1", "method must be a string"},
        {R"({"jsonrpc":"2.0","id":1,"method":"ping","params":"x"})", MessageKind::invalid, "1",
         "params must be an object"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        RpcMessage message = read_message(c.line);
        EXPECT_EQ(message.kind, c.kind);
        EXPECT_EQ(message.id_text, c.id_text);
        EXPECT_EQ(message.kind == MessageKind::invalid ? message.problem : message.method, c.method_or_problem);
    }
}

TEST(ReadMessage, KeepsParamsWhole) {
    RpcMessage message =
        read_message(R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"snap","arguments":{"width":640}}})");
    EXPECT_EQ(message.params, JsonValue::parse(R"({"name":"snap","arguments":{"width":640}})"));
}

TEST(WriteMessage, LinesWithAndWithoutAnId) {
    EXPECT_EQ(result_line("7", JsonValue::object()), R"({"jsonrpc":"2.0","id":7,"result":{}})");
    EXPECT_EQ(error_line(R"("a")", -32601, "method not found: x"),
              R"({"jsonrpc":"2.0","id":"a","error":{"code":-32601,"message":"method not found: x"}})");
    EXPECT_EQ(error_line(std::nullopt, -32700, "bad\nline"),
              R"({"jsonrpc":"2.0","error":{"code":-32700,"message":"bad\nline"}})");
    EXPECT_EQ(notification_line("notifications/progress", {{"progress", 1}}),
              R"({"jsonrpc":"2.0","method":"notifications/progress","params":{"progress":1}})");
}
