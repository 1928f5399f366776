#include "client/http.h"

#include <algorithm>
#include <cstring>

#include "cli/text.h"
#include "platform/socket.h"

std::string body_text(const BodyBytes& body) {
    std::string text;
    text.reserve(static_cast<std::size_t>(body.size));
    for (const ByteBlock& block : body.blocks) text.append(block.data.get(), block.size);
    return text;
}

std::vector<std::string_view> body_pieces(const BodyBytes& body) {
    std::vector<std::string_view> pieces;
    for (const ByteBlock& block : body.blocks) pieces.emplace_back(block.data.get(), block.size);
    return pieces;
}

void append_bytes(BodyBytes& body, std::string_view bytes) {
    ByteBlock block;
    block.data = std::make_unique<char[]>(bytes.size());
    std::memcpy(block.data.get(), bytes.data(), bytes.size());
    block.size = block.capacity = bytes.size();
    body.blocks.push_back(std::move(block));
    body.size += bytes.size();
}

UrlParts split_url(std::string_view url) {
    if (url.substr(0, 7) == "http://") url.remove_prefix(7);
    std::size_t slash = url.find('/');
    if (slash == std::string_view::npos) return UrlParts{std::string(url), "/"};
    UrlParts parts{std::string(url.substr(0, slash)), "/"};
    parts.path.append(url.substr(slash + 1));
    return parts;
}

namespace {
bool all_digits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Decimal digits (leading zeros allowed) with a value of at most `limit`.
std::optional<std::uint64_t> decimal_at_most(std::string_view digits, std::uint64_t limit) {
    if (!all_digits(digits)) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : digits) {
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > limit) return std::nullopt;
    }
    return value;
}

// "1.2.3.4:port" or "[v6%scope]:port", with a port of digits only.
std::optional<ConnectTarget> numeric_target(std::string_view authority) {
    ConnectTarget target;
    target.numeric = true;
    std::string_view port_text;
    if (!authority.empty() && authority.front() == '[') {
        std::size_t close = authority.find(']');
        if (close == std::string_view::npos || authority.substr(close + 1, 1) != ":") return std::nullopt;
        std::string_view inside = authority.substr(1, close - 1);
        port_text = authority.substr(close + 2);
        std::size_t percent = inside.find('%');
        if (percent != std::string_view::npos) {
            auto scope = decimal_at_most(inside.substr(percent + 1), UINT32_MAX);
            if (!scope) return std::nullopt;
            target.scope_id = static_cast<std::uint32_t>(*scope);
            inside = inside.substr(0, percent);
        }
        target.ipv6 = true;
        target.host = std::string(inside);
    } else {
        std::size_t colon = authority.rfind(':');
        if (colon == std::string_view::npos) return std::nullopt;
        std::string_view ip = authority.substr(0, colon);
        if (ip.empty() || ip.find_first_not_of("0123456789.") != std::string_view::npos) return std::nullopt;
        target.host = std::string(ip);
        port_text = authority.substr(colon + 1);
    }
    auto port = decimal_at_most(port_text, 65535);
    if (!port) return std::nullopt;
    target.port = static_cast<std::uint16_t>(*port);
    if (!numeric_address(target.host, target.ipv6, target.port, target.scope_id)) return std::nullopt;
    return target;
}
}  // namespace

ConnectTarget parse_authority(std::string_view authority) {
    if (auto target = numeric_target(authority)) return *target;
    ConnectTarget target;
    std::size_t colon = authority.rfind(':');
    if (colon == std::string_view::npos) {
        target.error = IoError{"invalid socket address"};
        return target;
    }
    std::string_view port_text = authority.substr(colon + 1);
    if (port_text.substr(0, 1) == "+") port_text.remove_prefix(1);
    auto port = decimal_at_most(port_text, 65535);
    if (!port) {
        target.error = IoError{"invalid port value"};
        return target;
    }
    target.host = std::string(authority.substr(0, colon));
    target.port = static_cast<std::uint16_t>(*port);
    return target;
}

std::uint16_t status_code(std::string_view line) {
    std::vector<std::string_view> fields = white_space_fields(line);
    if (fields.size() < 2) return 0;
    std::string_view code = fields[1];
    if (code.substr(0, 1) == "+") code.remove_prefix(1);
    auto value = decimal_at_most(code, 65535);
    return value ? static_cast<std::uint16_t>(*value) : 0;
}

std::string escape_control_bytes(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

std::string request_head(std::string_view method, std::string_view path, std::string_view authority,
                         std::size_t body_size) {
    std::string head;
    head += method;
    head += ' ';
    head += escape_control_bytes(path);
    head += " HTTP/1.1\r\nHost: ";
    head += escape_control_bytes(authority);
    head += "\r\nConnection: close\r\n";
    if (body_size > 0) head += "Content-Type: application/json\r\n";
    head += "Content-Length: " + std::to_string(body_size) + "\r\n\r\n";
    return head;
}

namespace {
// Closes the socket on every way out of the exchange.
struct OpenSocket {
    SocketHandle handle;
    ~OpenSocket() { close_socket(handle); }
};

ConnectResult connect_to(const ConnectTarget& target) {
    std::vector<SocketAddress> candidates;
    if (target.numeric) {
        candidates.push_back(*numeric_address(target.host, target.ipv6, target.port, target.scope_id));
    } else {
        ResolveResult found = resolve_host(target.host, target.port);
        if (found.error) return ConnectResult{-1, found.error};
        candidates = std::move(found.addresses);
    }
    ConnectResult last{-1, IoError{"could not resolve to any addresses"}};
    for (const SocketAddress& candidate : candidates) {
        last = connect_socket(candidate);
        if (!last.error) break;
    }
    return last;
}

std::optional<IoError> send_all(SocketHandle socket, std::string_view bytes) {
    while (!bytes.empty()) {
        std::size_t offer = std::min<std::size_t>(bytes.size(), 2147483647);
        TransferResult sent = send_some(socket, bytes.data(), offer);
        if (sent.error) return sent.error;
        if (sent.bytes == 0) return IoError{"failed to write whole buffer"};
        bytes.remove_prefix(sent.bytes);
    }
    return std::nullopt;
}

// Reads the reply through one 8 KiB buffer, line by line, then the rest.
struct ReplyReader {
    SocketHandle socket;
    char buffer[8192];
    std::size_t start = 0;
    std::size_t end = 0;

    // Appends every byte up to and including the next line feed, or up to the
    // end of the stream; `bytes` tells how many were read.
    TransferResult read_line(std::string& line) {
        TransferResult result;
        for (;;) {
            if (start == end) {
                TransferResult got = receive_some(socket, buffer, sizeof buffer);
                if (got.error) return got;
                if (got.bytes == 0) return result;
                start = 0;
                end = got.bytes;
            }
            const char* from = buffer + start;
            const char* feed = static_cast<const char*>(std::memchr(from, '\n', end - start));
            std::size_t take = feed ? static_cast<std::size_t>(feed - from) + 1 : end - start;
            line.append(from, take);
            start += take;
            result.bytes += take;
            if (feed) return result;
        }
    }

    std::optional<IoError> read_body(BodyBytes& body) {
        std::size_t next_capacity = 64 * 1024;
        auto add_block = [&](std::size_t at_least) {
            ByteBlock block;
            block.capacity = std::max(next_capacity, at_least);
            block.data.reset(new char[block.capacity]);  // left unfilled: recv writes it
            body.blocks.push_back(std::move(block));
            next_capacity = std::min<std::size_t>(next_capacity * 2, 8 * 1024 * 1024);
        };
        add_block(end - start);
        ByteBlock* block = &body.blocks.back();
        std::memcpy(block->data.get(), buffer + start, end - start);
        block->size = end - start;
        body.size = block->size;
        start = end = 0;
        for (;;) {
            if (block->size == block->capacity) {
                add_block(0);
                block = &body.blocks.back();
            }
            TransferResult got = receive_some(socket, block->data.get() + block->size, block->capacity - block->size);
            if (got.error) return got.error;
            if (got.bytes == 0) return std::nullopt;
            block->size += got.bytes;
            body.size += got.bytes;
        }
    }
};

const IoError not_utf8{"stream did not contain valid UTF-8"};
}  // namespace

ExchangeResult http_exchange(std::string_view method, std::string_view url, std::string body,
                             std::uint32_t timeout_ms) {
    ExchangeResult result;
    auto failed = [&](IoError error) {
        result.reply = HttpReply{};
        result.error = std::move(error);
        return std::move(result);
    };
    UrlParts parts = split_url(url);
    ConnectTarget target = parse_authority(parts.authority);
    if (target.error) return failed(*target.error);
    if (auto error = socket_layer_start()) return failed(*error);
    ConnectResult connected = connect_to(target);
    if (connected.error) return failed(*connected.error);
    OpenSocket socket{connected.handle};

    if (auto error = set_receive_timeout(socket.handle, timeout_ms)) return failed(*error);
    if (auto error = send_all(socket.handle, request_head(method, parts.path, parts.authority, body.size()))) {
        return failed(*error);
    }
    if (auto error = send_all(socket.handle, body)) return failed(*error);
    std::string().swap(body);

    auto reader = std::make_unique<ReplyReader>();
    reader->socket = socket.handle;
    std::string line;
    TransferResult got = reader->read_line(line);
    if (got.error) return failed(*got.error);
    // A peer that hangs up without a single byte has not answered: taking
    // that as a success would save an empty file over the user's, or report
    // a setting as made.
    if (got.bytes == 0) return failed(IoError{"the connection closed without a reply"});
    if (!is_valid_utf8(line)) return failed(not_utf8);
    result.reply.status = status_code(line);
    for (;;) {
        line.clear();
        got = reader->read_line(line);
        if (got.error) return failed(*got.error);
        if (got.bytes == 0) break;
        if (!is_valid_utf8(line)) return failed(not_utf8);
        if (trim_white_space(line).empty()) break;
    }
    if (auto error = reader->read_body(result.reply.body)) return failed(*error);
    return result;
}
