// vistrel-mcp's message layer: lines in, lines out. Every line written is one
// JSON-RPC 2.0 message; a request gets exactly one answer, with its id echoed
// exactly (a fractional id keeps the digits the client wrote); blank lines,
// notifications and responses get none; nothing else gets more than one.
//
// Input: the lines a client sends. The app behind the tools refuses every
// call, so a tool call answers at once and never writes a file.
#include <cmath>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "mcp/line_reader.h"
#include "mcp/session.h"

namespace {
constexpr std::size_t max_line = 4096;
constexpr std::size_t max_depth = 128;
const std::string away = "cannot reach Vistrel: no app here";

struct AbsentApp final : AppApi {
    Result<JsonValue> health(ExchangeStop&) override { return Failure{away}; }
    Result<std::uint64_t> frame(ExchangeStop&, const PictureRequest&, BodySink&, ReplyHeaders*) override {
        return Failure{away};
    }
    Result<std::uint64_t> screenshot(ExchangeStop&, const PictureRequest&, BodySink&, ReplyHeaders*) override {
        return Failure{away};
    }
    Result<JsonValue> focus(ExchangeStop&, const std::optional<std::string>&) override { return Failure{away}; }
    Result<std::uint64_t> record(ExchangeStop&, const RecordRequest&, BodySink&, ReplyHeaders*) override {
        return Failure{away};
    }
    Result<JsonValue> stop_recording(ExchangeStop&) override { return Failure{away}; }
    Result<std::uint64_t> preview(ExchangeStop&, const std::string&, BodySink&) override { return Failure{away}; }
    Result<JsonValue> devices(ExchangeStop&) override { return Failure{away}; }
    Result<JsonValue> windows(ExchangeStop&) override { return Failure{away}; }
    Result<JsonValue> controls(ExchangeStop&, const std::optional<std::string>&) override { return Failure{away}; }
    Result<JsonValue> set_control(ExchangeStop&, const std::optional<std::string>&, const std::string&,
                                  std::int64_t) override {
        return Failure{away};
    }
    Result<JsonValue> sources(ExchangeStop&) override { return Failure{away}; }
    Result<JsonValue> add_source(ExchangeStop&, const std::string&, const std::string&) override {
        return Failure{away};
    }
    Result<JsonValue> forget_source(ExchangeStop&, const std::string&) override { return Failure{away}; }
};

struct Lines final : LineSink {
    std::mutex mutex;
    std::vector<std::string> lines;
    bool write_line(std::string_view line) override {
        std::lock_guard lock(mutex);
        lines.emplace_back(line);
        return true;
    }
};

// One JSON text read on its own: the value, and the text of the top-level
// member "id" when that is a number with a fraction or an exponent.
struct Reading {
    bool parsed = false;
    JsonValue value;
    std::optional<std::string> id_number_text;
};

struct IdTextWatcher final : nlohmann::json_sax<JsonValue> {
    std::size_t depth = 0;
    std::string root_key;
    std::optional<std::string> id_number_text;

    void seen(const string_t* number_text) {
        if (depth != 1 || root_key != "id") return;
        id_number_text = number_text ? std::optional<std::string>(*number_text) : std::nullopt;
    }
    bool null() override { return seen(nullptr), true; }
    bool boolean(bool) override { return seen(nullptr), true; }
    bool number_integer(number_integer_t) override { return seen(nullptr), true; }
    bool number_unsigned(number_unsigned_t) override { return seen(nullptr), true; }
    bool number_float(number_float_t, const string_t& text) override { return seen(&text), true; }
    bool string(string_t&) override { return seen(nullptr), true; }
    bool binary(binary_t&) override { return false; }
    bool start_object(std::size_t) override { return seen(nullptr), ++depth, true; }
    bool key(string_t& name) override {
        if (depth == 1) root_key = name;
        return true;
    }
    bool end_object() override { return --depth, true; }
    bool start_array(std::size_t) override { return seen(nullptr), ++depth, true; }
    bool end_array() override { return --depth, true; }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }
};

Reading read_json(std::string_view text) {
    Reading reading;
    reading.value = JsonValue::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    reading.parsed = !reading.value.is_discarded();
    if (reading.parsed) {
        IdTextWatcher watcher;
        JsonValue::sax_parse(text.begin(), text.end(), &watcher);
        reading.id_number_text = watcher.id_number_text;
    }
    return reading;
}

// Within the server's limits: nesting and finite numbers.
bool within_limits(const JsonValue& value, std::size_t depth = 0) {
    if (value.is_number_float()) return std::isfinite(value.get<double>());
    if (!value.is_structured()) return true;
    if (depth + 1 > max_depth) return false;
    for (const JsonValue& item : value) {
        if (!within_limits(item, depth + 1)) return false;
    }
    return true;
}

bool valid_id(const JsonValue& id) {
    return id.is_string() || id.is_number();
}

// Checks one line written and tells whether it answers a message (a result
// or an error) rather than reporting progress.
bool check_output_line(const std::string& line, const Reading& in) {
    Reading out = read_json(line);
    FUZZ_CHECK(out.parsed && out.value.is_object(), "a line written is not a JSON object");
    const JsonValue& message = out.value;
    FUZZ_CHECK(message.value("jsonrpc", JsonValue()) == "2.0", "a line written lacks \"jsonrpc\":\"2.0\"");
    if (message.contains("method")) {
        FUZZ_CHECK(message["method"].is_string() && !message.contains("id"), "a notification written is malformed");
        FUZZ_CHECK(message["method"] == "notifications/progress", "an unexpected notification");
        return false;
    }
    FUZZ_CHECK(message.contains("result") != message.contains("error"), "an answer needs a result or an error");
    if (message.contains("error")) {
        const JsonValue& error = message["error"];
        FUZZ_CHECK(error.is_object() && error.value("code", JsonValue()).is_number_integer() &&
                       error.value("message", JsonValue()).is_string(),
                   "an error needs an integer code and a string message");
    }
    if (message.contains("id")) {
        FUZZ_CHECK(in.parsed && in.value.is_object() && in.value.contains("id"), "an answer has an id it was not sent");
        FUZZ_CHECK(message["id"] == in.value["id"], "an id came back changed");
        FUZZ_CHECK(out.id_number_text == in.id_number_text, "a number id came back with other digits");
    }
    return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    AbsentApp app;
    Lines out;
    ToolSettings settings;
    settings.folder = "/nonexistent/vistrel-fuzz";
    SessionSetup setup{out, app, settings, "0.0.0"};
    setup.progress_interval = std::chrono::milliseconds(1);
    setup.max_workers = 2;
    Session session(setup);
    bool too_long = false;
    LineReader reader(
        max_line, [&](std::string_view line) { session.receive(line); }, [&] { too_long = true; });

    while (!input.empty()) {
        std::size_t feed = input.find('\n');
        std::string_view line = input.substr(0, feed);
        input.remove_prefix(feed == std::string_view::npos ? input.size() : feed + 1);
        std::size_t before = out.lines.size();
        too_long = false;
        reader.feed(line);
        reader.feed("\n");
        session.finish();

        std::lock_guard lock(out.mutex);
        if (too_long) {
            FUZZ_CHECK(out.lines.size() == before, "a line over the limit reached the session");
            continue;
        }
        Reading in = read_json(line);
        std::size_t answers = 0;
        for (std::size_t i = before; i < out.lines.size(); ++i) answers += check_output_line(out.lines[i], in);

        bool blank = line.find_first_not_of(" \t\r") == std::string_view::npos;
        if (blank || !in.parsed || !within_limits(in.value)) {
            FUZZ_CHECK(answers == (blank ? 0 : 1), "a blank or unreadable line was answered wrongly");
            continue;
        }
        const JsonValue& message = in.value;
        bool well_formed = message.is_object() && message.value("jsonrpc", JsonValue()) == "2.0";
        bool has_id = well_formed && message.contains("id") && valid_id(message["id"]);
        bool has_method = well_formed && message.contains("method") && message["method"].is_string();
        bool request = has_id && has_method;
        bool notification = well_formed && !message.contains("id") && has_method;
        bool response =
            has_id && !message.contains("method") && (message.contains("result") || message.contains("error"));
        if (request) FUZZ_CHECK(answers == 1, "a request was not answered exactly once");
        if (notification || response) FUZZ_CHECK(answers == 0, "a notification or a response was answered");
        FUZZ_CHECK(answers <= 1, "one line was answered more than once");
    }
    return 0;
}
