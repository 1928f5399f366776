#pragma once
// One HTTP/1.1 request and reply over a TCP connection of its own. The reply
// ends when the peer closes the connection; its headers are skipped unread.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/io_error.h"

// Reply bytes kept as a list of blocks, so that a body of any size grows
// without ever being copied: a large recording is held once, not twice.
struct ByteBlock {
    std::unique_ptr<char[]> data;
    std::size_t size = 0;
    std::size_t capacity = 0;
};

struct BodyBytes {
    std::vector<ByteBlock> blocks;
    std::uint64_t size = 0;
};

// The body as one contiguous text (for the small JSON replies).
std::string body_text(const BodyBytes& body);
// The body's blocks, in order, for writing out.
std::vector<std::string_view> body_pieces(const BodyBytes& body);
void append_bytes(BodyBytes& body, std::string_view bytes);

struct HttpReply {
    std::uint16_t status = 0;
    BodyBytes body;
};

struct ExchangeResult {
    HttpReply reply;
    std::optional<IoError> error;
};

inline constexpr std::uint32_t receive_timeout_ms = 300000;

// Sends `method` to `url` ("http://" + authority + path) with `body` (empty:
// none) and reads the whole reply. Never prints, never retries.
ExchangeResult http_exchange(std::string_view method, std::string_view url, std::string body,
                             std::uint32_t timeout_ms = receive_timeout_ms);

// The pieces of the exchange, exposed for testing.
struct UrlParts {
    std::string authority;
    std::string path;  // begins with "/"
};
UrlParts split_url(std::string_view url);

struct ConnectTarget {
    std::string host;  // the address text for a numeric target, else the name to look up
    bool numeric = false;
    bool ipv6 = false;
    std::uint32_t scope_id = 0;
    std::uint16_t port = 0;
    std::optional<IoError> error;
};
ConnectTarget parse_authority(std::string_view authority);

// The status code of a status line; 0 when its second field is not a
// decimal number from 0 to 65535.
std::uint16_t status_code(std::string_view line);

// Control bytes (0x00-0x1F, 0x7F) as %XX, so that no option text can end the
// request line early or forge a header line. Every other byte is kept.
std::string escape_control_bytes(std::string_view text);

std::string request_head(std::string_view method, std::string_view path, std::string_view authority,
                         std::size_t body_size);
