// vistrel-app's reading of a request, short of the sockets: where the head
// ends, the request line and header lines, the access guard, how the body is
// framed (Content-Length or chunked) and the body itself, fed in pieces.
//
// Input: two bytes read from the end (the size of the pieces the body
// arrives in, 0: all at once; and the app's port, 7777 + the byte), then the
// bytes the client sends.
//
// A head is either refused with 400, 414 or 431 or read into a request whose
// parts keep their rules; the body reads the same however it is split.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>

#include "check.h"
#include "http/access_guard.h"
#include "http/body_reader.h"
#include "http/message_head.h"

namespace {
constexpr std::size_t max_body = 64 * 1024;  // the server's default

bool is_token(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) ||
               std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
    });
}

bool is_lower(std::string_view text) {
    return std::none_of(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

struct BodyOutcome {
    BodyStatus status = BodyStatus::more;
    std::string body;
    std::size_t used = 0;  // of all the bytes fed
};

// Feeds `bytes` in pieces of `piece` bytes (0: at once), as the server does,
// until the body is done or refused; then the connection ends.
BodyOutcome read_body(const FramingResult& framing, std::string_view bytes, std::size_t piece) {
    BodyReader reader = body_reader(framing.framing, framing.length, max_body);
    BodyOutcome outcome;
    std::size_t at = 0;
    do {
        std::size_t take = piece == 0 ? bytes.size() - at : std::min(piece, bytes.size() - at);
        std::size_t used = 0;
        outcome.status = feed_body(reader, bytes.substr(at, take), used);
        FUZZ_CHECK(used <= take, "the reader used more bytes than it was given");
        FUZZ_CHECK(reader.body.size() <= max_body, "the body grew past its limit");
        outcome.used += used;
        at += take;
        if (outcome.status != BodyStatus::more) break;
        FUZZ_CHECK(used == take, "the reader wants more but left bytes unused");
    } while (at < bytes.size());
    if (outcome.status == BodyStatus::more) outcome.status = end_body(reader);
    outcome.body = std::move(reader.body);
    return outcome;
}

void check_request(const HttpRequest& request, std::string_view head) {
    std::string_view line = head.substr(0, head.find('\n'));
    FUZZ_CHECK(is_token(request.method), "the method is not a token");
    FUZZ_CHECK(request.version == "HTTP/1.1" || request.version == "HTTP/1.0", "a version other than 1.x");
    FUZZ_CHECK(request.target.size() <= max_target_bytes, "the target is longer than its limit");
    FUZZ_CHECK(line.find(" " + request.target + " ") != std::string_view::npos, "the target is not the request line's");
    for (char c : request.target) {
        auto u = static_cast<unsigned char>(c);
        FUZZ_CHECK(u >= 0x20 && u != 0x7f, "the target holds a control byte");
    }
    // The origin form, or the absolute form "http://authority/..." whose
    // path and query are read as the origin form's.
    std::string_view target = request.target;
    std::string_view origin = target;
    if (request.authority.empty()) {
        FUZZ_CHECK(!target.empty() && target.front() == '/', "the target does not begin with /");
    } else {
        std::string prefix = "http://" + request.authority;
        FUZZ_CHECK(lower(target.substr(0, prefix.size())) == lower(prefix), "the authority is not the target's");
        origin = target.substr(prefix.size());
        FUZZ_CHECK(origin.empty() || origin.front() == '/' || origin.front() == '?', "the authority ends early");
        FUZZ_CHECK(request.authority.find_first_of("@/? ") == std::string::npos, "an odd authority was accepted");
    }
    std::string_view before_query = origin.substr(0, origin.find('?'));
    FUZZ_CHECK(request.path == (before_query.empty() ? "/" : percent_decode(before_query, false)),
               "the path is not the decoded target before ?");
    FUZZ_CHECK(request.path.size() <= std::max<std::size_t>(target.size(), 1), "decoding made the path longer");
    FUZZ_CHECK(request.headers.size() <= max_header_lines, "more header lines than the limit");
    for (const auto& [name, value] : request.headers) {
        FUZZ_CHECK(is_token(name) && is_lower(name), "a header name is not a lower-case token");
        FUZZ_CHECK(value.empty() ||
                       (value.front() != ' ' && value.front() != '\t' && value.back() != ' ' && value.back() != '\t'),
                   "a header value is not trimmed");
        FUZZ_CHECK(std::none_of(value.begin(), value.end(),
                                [](char c) {
                                    auto u = static_cast<unsigned char>(c);
                                    return (u < 0x20 && c != '\t') || u == 0x7f;
                                }),
                   "a header value holds a control character");
    }
    // Exactly one Host, or in HTTP/1.0 none when the target names the host.
    std::size_t hosts = header_count(request, "host");
    FUZZ_CHECK(hosts == 1 || (hosts == 0 && request.version == "HTTP/1.0" && !request.authority.empty()),
               "a request without its one Host header was read");
    FUZZ_CHECK(request.version == "HTTP/1.1" || header_count(request, "transfer-encoding") == 0,
               "an HTTP/1.0 request with Transfer-Encoding was read");
}

// Served only when nothing shows a web page sent it and it names the app.
void check_access(const HttpRequest& request, int port) {
    auto problem = access_problem(request, port);
    if (problem) {
        FUZZ_CHECK(!problem->empty(), "a refusal without a reason");
        return;
    }
    auto is_app = [&](const std::string& text) {
        std::string host = lower(text);
        return host == "127.0.0.1:" + std::to_string(port) || host == "localhost:" + std::to_string(port);
    };
    std::size_t hosts = 0;
    for (const auto& [name, value] : request.headers) {
        FUZZ_CHECK(name != "origin" && name != "referer" && name.rfind("sec-fetch-", 0) != 0,
                   "a request marked by a browser was let through");
        if (name != "host") continue;
        ++hosts;
        // An absolute-form target's host stands for the Host header.
        FUZZ_CHECK(!request.authority.empty() || is_app(value), "a request for another host was let through");
    }
    if (request.authority.empty()) {
        FUZZ_CHECK(hosts == 1, "a request without exactly one Host was let through");
    } else {
        FUZZ_CHECK(is_app(request.authority), "a request whose target names another host was let through");
        FUZZ_CHECK(hosts <= 1, "a request with several Host headers was let through");
    }
}

void check_framing(const FramingResult& framing, const HttpRequest& request) {
    std::size_t lengths = header_count(request, "content-length");
    std::size_t codings = header_count(request, "transfer-encoding");
    if (framing.problem_status) {
        FUZZ_CHECK(framing.problem_status == 400 || framing.problem_status == 501, "an odd status for a framing");
        FUZZ_CHECK(lengths + codings > 0, "a message without framing headers was refused");
        return;
    }
    switch (framing.framing) {
        case BodyFraming::none:
            FUZZ_CHECK(lengths + codings == 0, "framing headers were ignored");
            break;
        case BodyFraming::length: {
            FUZZ_CHECK(lengths == 1 && codings == 0, "a length was taken from several headers");
            std::string text = header_value(request, "content-length");
            FUZZ_CHECK(
                !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }),
                "a length was read from more than digits");
            FUZZ_CHECK(
                std::to_string(framing.length) == text.substr(std::min(text.find_first_not_of('0'), text.size() - 1)),
                "the length is not the header's number");
            break;
        }
        case BodyFraming::chunked:
            FUZZ_CHECK(lengths == 0 && codings == 1 && lower(header_value(request, "transfer-encoding")) == "chunked",
                       "chunked without a lone chunked coding");
            break;
        case BodyFraming::until_close:
            FUZZ_CHECK(false, "a request body runs to the end of the connection");
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::size_t piece = input.ConsumeIntegral<std::uint8_t>();
    int port = 7777 + input.ConsumeIntegral<std::uint8_t>();
    std::string bytes = input.ConsumeRemainingBytesAsString();

    HeadProblem oversized = oversized_head(bytes);
    FUZZ_CHECK(oversized.status == 414 || oversized.status == 431, "an odd status for an oversized head");

    auto end = head_end(bytes);
    if (!end) return 0;
    FUZZ_CHECK(*end >= 2 && *end <= bytes.size() && bytes[*end - 1] == '\n', "the head does not end in a line feed");
    FUZZ_CHECK(!head_end(std::string_view(bytes).substr(0, *end - 1)), "the head ends before its first empty line");
    // The server looks again from a little before where it had searched:
    // from anywhere up to the empty line, the same end is found.
    std::size_t empty_line = bytes[*end - 2] == '\r' ? *end - 3 : *end - 2;
    for (std::size_t from : {std::size_t{1}, empty_line / 2, empty_line}) {
        if (from == 0 || from > empty_line) continue;
        auto again = head_end(std::string_view(bytes).substr(from));
        FUZZ_CHECK(again && from + *again == *end, "looking from further on found another end");
    }
    std::string_view head = std::string_view(bytes).substr(0, *end);
    std::string_view rest = std::string_view(bytes).substr(*end);

    std::vector<std::pair<std::string, std::string>> reply_headers;
    if (auto status = parse_reply_head(head, reply_headers)) {
        FUZZ_CHECK(*status >= 0 && *status <= 999, "a status of more than three digits");
    }

    HttpRequest request;
    if (auto problem = parse_request_head(head, request)) {
        FUZZ_CHECK(problem->status == 400 || problem->status == 414 || problem->status == 431,
                   "an odd status for a bad head");
        FUZZ_CHECK(!problem->message.empty(), "a refusal without a reason");
        return 0;
    }
    check_request(request, head);
    check_access(request, port);

    FramingResult framing = body_framing(request.headers, /*is_reply=*/false);
    check_framing(framing, request);
    if (framing.problem_status) return 0;

    BodyOutcome whole = read_body(framing, rest, 0);
    BodyOutcome split = read_body(framing, rest, piece);
    FUZZ_CHECK(whole.status == split.status, "splitting the body changed whether it was read");
    if (whole.status == BodyStatus::done) {
        FUZZ_CHECK(whole.body == split.body, "splitting the body changed it");
        FUZZ_CHECK(whole.used == split.used, "splitting the body changed where it ends");
        if (framing.framing == BodyFraming::length) {
            FUZZ_CHECK(whole.body == rest.substr(0, framing.length), "the body is not the bytes after the head");
        }
        if (framing.framing == BodyFraming::none) FUZZ_CHECK(whole.body.empty(), "a body without framing");
    }
    if (whole.status == BodyStatus::too_large) {
        FUZZ_CHECK(framing.framing == BodyFraming::chunked || framing.length > max_body, "a small body was refused");
    }
    return 0;
}
