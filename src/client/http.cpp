#include "client/http.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "client/http_parts.h"
#include "client/text.h"
#include "platform/socket.h"

// The socket of one exchange and the 8 KiB buffer its reply is read through,
// line by line for the head, then in large pieces for the body.
struct ReplyConnection {
    SocketHandle socket;
    ExchangeStop* stop;  // watches the socket until it closes; may be null
    char buffer[8192];
    std::size_t start = 0;
    std::size_t end = 0;

    ReplyConnection(SocketHandle handle, ExchangeStop* watcher) : socket(handle), stop(watcher) {}
    ~ReplyConnection() {
        // Forgotten before it closes, so that a stop never shuts down a
        // handle the system may have given to someone else.
        if (stop) stop->forget(socket);
        close_socket(socket);
    }
    bool stopped() const { return stop && stop->stopped(); }
    ReplyConnection(const ReplyConnection&) = delete;
    ReplyConnection& operator=(const ReplyConnection&) = delete;

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
};

void ReplyConnectionClose::operator()(ReplyConnection* connection) const {
    delete connection;
}

std::optional<std::string> header_value(const ReplyHeaders& headers, std::string_view name) {
    for (const HeaderField& field : headers) {
        bool same = field.name.size() == name.size() &&
                    std::equal(name.begin(), name.end(), field.name.begin(), [](char a, char b) {
                        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
                        return lower(a) == lower(b);
                    });
        if (same) return field.value;
    }
    return std::nullopt;
}

void ExchangeStop::stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    for (SocketHandle socket : sockets_) interrupt_socket(socket);
}

bool ExchangeStop::stopped() const {
    std::lock_guard lock(mutex_);
    return stopped_;
}

bool ExchangeStop::watch(SocketHandle socket) {
    std::lock_guard lock(mutex_);
    if (stopped_) return false;
    sockets_.push_back(socket);
    return true;
}

void ExchangeStop::forget(SocketHandle socket) {
    std::lock_guard lock(mutex_);
    std::erase(sockets_, socket);
}

IoError stopped_exchange() {
    return IoError{"the exchange was stopped"};
}

namespace {
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

IoError not_utf8() {
    return IoError{"stream did not contain valid UTF-8"};
}

// The body is received in pieces of 64 KiB, and of 1 MiB once one piece comes
// full: small replies stay small, large ones take fewer calls.
constexpr std::size_t small_piece = 64 * 1024;
constexpr std::size_t large_piece = 1024 * 1024;

// A header line split at its first colon; absent for a line without one.
std::optional<HeaderField> header_field(std::string_view line) {
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    return HeaderField{std::string(line.substr(0, colon)), std::string(trim_white_space(line.substr(colon + 1)))};
}

constexpr std::size_t max_kept_headers = 64;
}  // namespace

Result<IncomingReply, IoError> http_request(std::string_view method, std::string_view url, std::string body,
                                            std::uint32_t timeout_ms, ExchangeStop* stop) {
    UrlParts parts = split_url(url);
    ConnectTarget target = parse_authority(parts.authority);
    if (target.error) return *target.error;
    if (auto error = socket_layer_start()) return *error;
    if (stop && stop->stopped()) return stopped_exchange();
    ConnectResult connected = connect_to(target);
    if (connected.error) return *connected.error;
    if (stop && !stop->watch(connected.handle)) {
        close_socket(connected.handle);
        return stopped_exchange();
    }
    IncomingReply reply;
    reply.connection.reset(new ReplyConnection(connected.handle, stop));
    SocketHandle socket = connected.handle;

    if (auto error = set_receive_timeout(socket, timeout_ms)) return *error;
    auto send_failure = [&](const IoError& error) { return reply.connection->stopped() ? stopped_exchange() : error; };
    if (auto error = send_all(socket, request_head(method, parts.path, parts.authority, body.size()))) {
        return send_failure(*error);
    }
    if (auto error = send_all(socket, body)) return send_failure(*error);
    std::string().swap(body);

    std::string line;
    TransferResult got = reply.connection->read_line(line);
    if (reply.connection->stopped()) return stopped_exchange();
    if (got.error) return *got.error;
    // A peer that hangs up without a single byte has not answered: taking
    // that as a success would save an empty file over the user's, or report
    // a setting as made.
    if (got.bytes == 0) return IoError{"the connection closed without a reply"};
    if (!is_valid_utf8(line)) return not_utf8();
    reply.status = status_code(line);
    for (;;) {
        line.clear();
        got = reply.connection->read_line(line);
        if (reply.connection->stopped()) return stopped_exchange();
        if (got.error) return *got.error;
        if (got.bytes == 0) break;
        if (!is_valid_utf8(line)) return not_utf8();
        if (trim_white_space(line).empty()) break;
        if (!reply.content_length) reply.content_length = content_length(line);
        if (reply.headers.size() < max_kept_headers) {
            if (std::optional<HeaderField> field = header_field(line)) reply.headers.push_back(std::move(*field));
        }
    }
    return reply;
}

Result<std::uint64_t, IoError> read_body(IncomingReply& reply, BodySink& sink) {
    ReplyConnection& connection = *reply.connection;
    std::uint64_t count = connection.end - connection.start;
    sink.take(std::string_view(connection.buffer + connection.start, connection.end - connection.start));
    connection.start = connection.end = 0;
    std::size_t piece_size = small_piece;
    std::unique_ptr<char[]> piece(new char[piece_size]);  // left unfilled: recv writes it
    for (;;) {
        TransferResult got = receive_some(connection.socket, piece.get(), piece_size);
        if (connection.stopped()) {
            reply.connection.reset();
            return stopped_exchange();
        }
        if (got.error) {
            reply.connection.reset();
            return *got.error;
        }
        if (got.bytes == 0) break;
        sink.take(std::string_view(piece.get(), got.bytes));
        count += got.bytes;
        if (got.bytes == piece_size && piece_size < large_piece) {
            piece_size = large_piece;
            piece.reset(new char[piece_size]);
        }
    }
    reply.connection.reset();
    if (reply.content_length && count < *reply.content_length) {
        return IoError{"transfer closed with " + std::to_string(*reply.content_length - count) + " bytes remaining"};
    }
    return count;
}

Result<HttpReply, IoError> http_exchange(std::string_view method, std::string_view url, std::string body,
                                         std::uint32_t timeout_ms) {
    Result<IncomingReply, IoError> incoming = http_request(method, url, std::move(body), timeout_ms);
    if (!incoming) return incoming.error();
    StringSink sink;
    Result<std::uint64_t, IoError> read = read_body(incoming.value(), sink);
    if (!read) return read.error();
    return HttpReply{incoming.value().status, std::move(sink.bytes)};
}
