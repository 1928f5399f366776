#include "http/message_head.h"

#include <algorithm>
#include <cctype>

namespace {
const char* const unreadable = "the request could not be read as HTTP/1.1";

bool is_token_char(char c) {
    auto u = static_cast<unsigned char>(c);
    return std::isalnum(u) || std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool is_token(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), is_token_char);
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// Splits off the next line, without its line end.
std::string_view next_line(std::string_view& rest) {
    std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A control character other than a tab: a NUL or a bare carriage return
// in a value is read differently by different parsers, and no value this
// app reads holds any of them.
bool has_control(std::string_view value) {
    return std::any_of(value.begin(), value.end(), [](char c) {
        auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && c != '\t') || u == 0x7f;
    });
}

// The header lines after the first line, up to the empty line.
std::optional<HeadProblem> parse_header_lines(std::string_view rest,
                                              std::vector<std::pair<std::string, std::string>>& headers) {
    for (;;) {
        std::string_view line = next_line(rest);
        if (line.empty()) return std::nullopt;
        // Folded continuation lines are obsolete and a known smuggling trick.
        if (line.front() == ' ' || line.front() == '\t') return HeadProblem{400, unreadable};
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || !is_token(line.substr(0, colon))) return HeadProblem{400, unreadable};
        if (headers.size() >= max_header_lines) return HeadProblem{431, "the request head is too large"};
        std::string_view value = trimmed(line.substr(colon + 1));
        if (has_control(value)) return HeadProblem{400, "a header line holds a control character"};
        headers.emplace_back(lower(line.substr(0, colon)), std::string(value));
    }
}

// "127.0.0.1:7777", "[::1]:7777", "cam.example": the characters of a host
// and port (RFC 3986 uri-host, with percent escapes and IPv6 brackets).
bool is_host(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) ||
               std::string_view("-._~!$&'()*+,;=%:[]").find(c) != std::string_view::npos;
    });
}

// Splits an absolute-form target, "http://host:port/path?query", into its
// authority and the path and query the origin form would carry. False when
// the target is not an http:// address.
bool split_absolute_form(std::string_view target, std::string_view& authority, std::string_view& rest) {
    constexpr std::string_view scheme = "http://";
    if (target.size() < scheme.size() || lower(target.substr(0, scheme.size())) != scheme) return false;
    std::string_view after = target.substr(scheme.size());
    std::size_t end = after.find_first_of("/?");
    authority = after.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : after.substr(end);
    return !authority.empty() && is_host(authority);
}

void parse_query(std::string_view query, HttpRequest& request) {
    while (!query.empty()) {
        std::size_t amp = query.find('&');
        std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (pair.empty()) continue;
        std::size_t eq = pair.find('=');
        std::string_view name = pair.substr(0, eq);
        std::string_view value = eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1);
        request.query.emplace_back(percent_decode(name, true), percent_decode(value, true));
    }
}
}  // namespace

std::optional<std::size_t> head_end(std::string_view bytes) {
    // The empty line: a line feed followed by an optional carriage return and
    // another line feed.
    for (std::size_t i = bytes.find('\n'); i != std::string_view::npos; i = bytes.find('\n', i + 1)) {
        if (i + 1 < bytes.size() && bytes[i + 1] == '\n') return i + 2;
        if (i + 2 < bytes.size() && bytes[i + 1] == '\r' && bytes[i + 2] == '\n') return i + 3;
    }
    return std::nullopt;
}

HeadProblem oversized_head(std::string_view bytes) {
    std::size_t line_end = bytes.find('\n');
    if (line_end == std::string_view::npos || line_end > max_target_bytes) {
        return {414, "the request target is too long"};
    }
    return {431, "the request head is too large"};
}

std::optional<HeadProblem> parse_request_head(std::string_view head, HttpRequest& request) {
    std::string_view rest = head;
    std::string_view line = next_line(rest);
    std::size_t first = line.find(' ');
    std::size_t last = line.rfind(' ');
    if (first == std::string_view::npos || last <= first + 1) return HeadProblem{400, unreadable};
    std::string_view method = line.substr(0, first);
    std::string_view target = line.substr(first + 1, last - first - 1);
    std::string_view version = line.substr(last + 1);
    if (!is_token(method) || (version != "HTTP/1.1" && version != "HTTP/1.0")) return HeadProblem{400, unreadable};
    if (target.size() > max_target_bytes) return HeadProblem{414, "the request target is too long"};
    for (char c : target) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) return HeadProblem{400, unreadable};
    }
    // The origin form ("/api/health?x=1"), or the absolute form that names
    // the host too ("http://127.0.0.1:7777/api/health"), which a server must
    // accept; its authority then stands for the Host header.
    std::string_view authority, origin = target;
    if (target.front() != '/') {
        if (!split_absolute_form(target, authority, origin)) return HeadProblem{400, unreadable};
    }
    request.method = std::string(method);
    request.target = std::string(target);
    request.version = std::string(version);
    request.authority = std::string(authority);
    std::size_t question = origin.find('?');
    // An empty path is "/" ("http://127.0.0.1:7777?x=1").
    request.path = question == 0 || origin.empty() ? "/" : percent_decode(origin.substr(0, question), false);
    if (question != std::string_view::npos) parse_query(origin.substr(question + 1), request);

    if (auto problem = parse_header_lines(rest, request.headers)) return problem;
    // One Host, which an HTTP/1.1 client must always send; an HTTP/1.0
    // request may name its host in an absolute-form target instead.
    std::size_t hosts = header_count(request, "host");
    if (hosts > 1 || (hosts == 0 && (version == "HTTP/1.1" || authority.empty()))) {
        return HeadProblem{400, "the request must carry exactly one Host header"};
    }
    if (hosts == 1 && !is_host(header_value(request, "host"))) {
        return HeadProblem{400, "the Host header is not a host name and port"};
    }
    // HTTP/1.0 has no chunked coding: a sender that uses it anyway is not
    // framing its body the way a 1.0 recipient would read it.
    if (version == "HTTP/1.0" && header_count(request, "transfer-encoding") > 0) {
        return HeadProblem{400, "an HTTP/1.0 request cannot carry Transfer-Encoding"};
    }
    return std::nullopt;
}

std::optional<int> parse_reply_head(std::string_view head, std::vector<std::pair<std::string, std::string>>& headers) {
    std::string_view rest = head;
    std::string_view line = next_line(rest);
    // "HTTP/1.1 200 OK": the version, a space, three digits, then the reason.
    if (line.size() < 12 || line.substr(0, 7) != "HTTP/1." || line[8] != ' ') return std::nullopt;
    if (line.size() > 12 && line[12] != ' ') return std::nullopt;
    int status = 0;
    for (char c : line.substr(9, 3)) {
        if (c < '0' || c > '9') return std::nullopt;
        status = status * 10 + (c - '0');
    }
    if (parse_header_lines(rest, headers)) return std::nullopt;
    return status;
}

std::string percent_decode(std::string_view text, bool plus_is_space) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 && hex_value(text[i + 2]) >= 0) {
            out += static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
            i += 2;
        } else if (c == '+' && plus_is_space) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}
