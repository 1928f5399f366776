#pragma once
// The pieces of one exchange that need no connection: the URL, the connect
// target, the status line and the request head.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/io_error.h"

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

// The value of a "Content-Length" header line (the name in any case, white
// space around the value allowed); absent for any other line and for a value
// that is not a decimal number.
std::optional<std::uint64_t> content_length(std::string_view line);

// Control bytes (0x00-0x1F, 0x7F) as %XX, so that no option text can end the
// request line early or forge a header line. Every other byte is kept.
std::string escape_control_bytes(std::string_view text);

std::string request_head(std::string_view method, std::string_view path, std::string_view authority,
                         std::size_t body_size);
