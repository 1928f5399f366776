#pragma once
// Reading the head of a message: the request line (or a reply's status line)
// and the header lines, up to the empty line. The client puts option text
// into the query as typed, so a device such as "net:my phone" arrives with
// raw spaces in the target: the request line is split at its first and last
// space, and everything between them is the target.
#include "http/http_request.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Limits on a head: the client's targets are short, and its heads a few
// hundred bytes.
inline constexpr std::size_t max_target_bytes = 8 * 1024;
inline constexpr std::size_t max_head_bytes = 16 * 1024;
inline constexpr std::size_t max_header_lines = 100;

// Why a head cannot be served: the status and the "error" text.
struct HeadProblem {
    int status = 400;
    std::string message;
};

// Where the head ends in `bytes` (just past the empty line), or nullopt while
// it has not arrived whole. Bare line feeds are accepted as line ends.
std::optional<std::size_t> head_end(std::string_view bytes);

// The head is `bytes` up to head_end. Fills method, target, version,
// authority, path, query and headers; the body is left empty. Refused with
// 400: a target that is neither "/..." nor "http://host/...", a control
// character in a header value, no Host header or more than one (an HTTP/1.0
// request may name its host in its target instead), a Host that is not a
// host, and Transfer-Encoding in an HTTP/1.0 request.
std::optional<HeadProblem> parse_request_head(std::string_view head, HttpRequest& request);

// What to answer when `bytes` has grown past max_head_bytes without its empty
// line: 414 while the request line itself is too long, else 431.
HeadProblem oversized_head(std::string_view bytes);

// A reply's status line and header lines: the status, or nullopt when the
// head is not HTTP/1.x.
std::optional<int> parse_reply_head(std::string_view head, std::vector<std::pair<std::string, std::string>>& headers);

// %XX escapes decoded; with `plus_is_space`, "+" too (as in query strings).
// Malformed escapes are kept as they are.
std::string percent_decode(std::string_view text, bool plus_is_space);
