// The reply reader (status line, header lines, body, and the rule that a
// reply cut short of its Content-Length fails) against a scripted peer.
//
// Input: the bytes the peer sends, then five bytes read from the end: a
// flags byte (1: the stream ends in a reset, 2: a POST with a body, 4: sends
// accept at most the send byte's value, 8: sends stop after that many
// bytes), three receive sizes taken in turn (0: as many as asked) and the
// send byte.
//
// The outcome must not depend on how the bytes are split into receives, must
// match a plain line-by-line reading of the whole stream, and must leave no
// socket open.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "check.h"
#include "client/http.h"
#include "client/http_parts.h"
#include "client/text.h"
#include "fake_socket.h"

namespace {
const std::string url = "http://127.0.0.1:7777/api/frame.jpg?_=";
const std::string reset_text = "Connection reset by peer (os error 104)";

struct Outcome {
    bool ok = false;
    std::string error;
    std::uint16_t status = 0;
    std::optional<std::uint64_t> content_length;
    std::string body;
};

bool operator==(const Outcome& a, const Outcome& b) {
    return a.ok == b.ok && a.error == b.error && a.status == b.status && a.content_length == b.content_length &&
           a.body == b.body;
}

Outcome failed(std::string text) {
    Outcome outcome;
    outcome.error = std::move(text);
    return outcome;
}

// The reply read from the whole stream at once, one line after another.
Outcome expected_outcome(const std::string& stream, bool reset_at_end) {
    std::size_t at = 0;
    // A line, and whether the stream's end (or its reset) was met reading it.
    auto next_line = [&](std::string& line) {
        std::size_t feed = stream.find('\n', at);
        std::size_t end = feed == std::string::npos ? stream.size() : feed + 1;
        line = stream.substr(at, end - at);
        at = end;
        return feed == std::string::npos;
    };
    std::string line;
    if (next_line(line) && reset_at_end) return failed(reset_text);
    if (line.empty()) return failed("the connection closed without a reply");
    if (!is_valid_utf8(line)) return failed("stream did not contain valid UTF-8");
    Outcome outcome;
    outcome.status = status_code(line);
    for (;;) {
        bool at_end = next_line(line);
        if (at_end && reset_at_end) return failed(reset_text);
        if (line.empty()) break;
        if (!is_valid_utf8(line)) return failed("stream did not contain valid UTF-8");
        if (trim_white_space(line).empty()) break;
        if (!outcome.content_length) outcome.content_length = content_length(line);
    }
    if (reset_at_end) return failed(reset_text);
    outcome.body = stream.substr(at);
    if (outcome.content_length && outcome.body.size() < *outcome.content_length) {
        return failed("transfer closed with " + std::to_string(*outcome.content_length - outcome.body.size()) +
                      " bytes remaining");
    }
    outcome.ok = true;
    return outcome;
}

// Hands the body over in pieces, as a file writer would get it.
struct CountingSink final : BodySink {
    std::string bytes;
    std::size_t pieces = 0;
    void take(std::string_view piece) override {
        bytes.append(piece);
        ++pieces;
    }
};

Outcome run_exchange(const FakePeer& script, const std::string& method, const std::string& body) {
    FakePeer& peer = fake_peer();
    peer = script;
    Outcome outcome;
    {
        Result<IncomingReply, IoError> incoming = http_request(method, url, body);
        if (!incoming) return failed(incoming.error().text);
        CountingSink sink;
        Result<std::uint64_t, IoError> read = read_body(incoming.value(), sink);
        FUZZ_CHECK(incoming.value().connection == nullptr, "the connection outlives its body");
        if (!read) return failed(read.error().text);
        FUZZ_CHECK(read.value() == sink.bytes.size(), "the byte count is not what the sink took");
        outcome.ok = true;
        outcome.status = incoming.value().status;
        outcome.content_length = incoming.value().content_length;
        outcome.body = std::move(sink.bytes);
    }
    return outcome;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    auto flags = input.ConsumeIntegral<std::uint8_t>();
    FakePeer script;
    for (int i = 0; i < 3; ++i) {
        auto piece = input.ConsumeIntegral<std::uint8_t>();
        script.pieces.push_back(piece == 0 ? SIZE_MAX : piece);
    }
    auto send_byte = input.ConsumeIntegral<std::uint8_t>();
    script.reset_at_end = flags & 1;
    if (flags & 4) script.send_piece = send_byte == 0 ? 1 : send_byte;
    if (flags & 8) script.send_stops_after = send_byte;
    script.reply = input.ConsumeRemainingBytesAsString();

    const std::string method = flags & 2 ? "POST" : "GET";
    const std::string body = flags & 2 ? "{\"device\":\"net:phone\"}" : "";
    const std::string request = request_head(method, "/api/frame.jpg?_=", "127.0.0.1:7777", body.size()) + body;

    Outcome scripted = run_exchange(script, method, body);
    const FakePeer& peer = fake_peer();
    FUZZ_CHECK(peer.connections == 1, "one exchange, one connection");
    FUZZ_CHECK(peer.open_sockets == 0, "the socket was left open");
    if (script.send_stops_after && *script.send_stops_after < request.size()) {
        FUZZ_CHECK(!scripted.ok && scripted.error == "failed to write whole buffer", "a stalled send went unnoticed");
        FUZZ_CHECK(request.compare(0, peer.sent.size(), peer.sent) == 0, "the request went out garbled");
        return 0;
    }
    FUZZ_CHECK(peer.sent == request, "the request went out garbled");

    Outcome expected = expected_outcome(script.reply, script.reset_at_end);
    FUZZ_CHECK(scripted == expected, "the reply read differs from a line-by-line reading of the stream");
    if (expected.ok && expected.content_length) {
        FUZZ_CHECK(scripted.body.size() >= *expected.content_length, "a reply shorter than its Content-Length passed");
    }

    // The same stream in one go, through the in-memory exchange.
    FakePeer whole = script;
    whole.pieces.clear();
    whole.send_piece = 0;
    fake_peer() = whole;
    Result<HttpReply, IoError> at_once = http_exchange(method, url, body);
    FUZZ_CHECK(fake_peer().open_sockets == 0, "the socket was left open");
    FUZZ_CHECK(at_once.ok() == scripted.ok, "splitting the stream changed whether the reply was read");
    if (at_once) {
        FUZZ_CHECK(at_once.value().status == scripted.status, "splitting the stream changed the status");
        FUZZ_CHECK(at_once.value().body == scripted.body, "splitting the stream changed the body");
    } else {
        FUZZ_CHECK(at_once.error().text == scripted.error, "splitting the stream changed the error");
    }
    return 0;
}
