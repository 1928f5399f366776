#include "fake_socket.h"

#include <algorithm>
#include <set>

#include "check.h"
#include "platform/socket.h"

namespace {
std::set<SocketHandle>& open_handles() {
    static std::set<SocketHandle> handles;
    return handles;
}

void require_open(SocketHandle socket) {
    FUZZ_CHECK(open_handles().count(socket) == 1, "a socket is used that is not open");
}
}  // namespace

FakePeer& fake_peer() {
    static FakePeer peer;
    return peer;
}

std::optional<IoError> socket_layer_start() {
    return std::nullopt;
}

ResolveResult resolve_host(const std::string&, std::uint16_t) {
    return ResolveResult{{}, IoError{"no name lookup here"}};
}

ConnectResult connect_socket(const SocketAddress&) {
    FakePeer& peer = fake_peer();
    SocketHandle handle = 1000 + peer.connections++;
    open_handles().insert(handle);
    ++peer.open_sockets;
    return ConnectResult{handle, std::nullopt};
}

std::optional<IoError> set_receive_timeout(SocketHandle socket, std::uint32_t) {
    require_open(socket);
    return std::nullopt;
}

TransferResult send_some(SocketHandle socket, const char* data, std::size_t size) {
    require_open(socket);
    FUZZ_CHECK(size > 0, "an empty send");
    FakePeer& peer = fake_peer();
    std::size_t take = peer.send_piece == 0 ? size : std::min(size, peer.send_piece);
    if (peer.send_stops_after)
        take = std::min(take, *peer.send_stops_after - std::min(*peer.send_stops_after, peer.sent.size()));
    peer.sent.append(data, take);
    return TransferResult{take, std::nullopt};
}

TransferResult receive_some(SocketHandle socket, char* data, std::size_t size) {
    require_open(socket);
    FUZZ_CHECK(size > 0, "a receive into no room");
    FakePeer& peer = fake_peer();
    std::size_t left = peer.reply.size() - peer.received;
    if (left == 0) {
        if (peer.reset_at_end) return TransferResult{0, IoError{"Connection reset by peer (os error 104)"}};
        return TransferResult{0, std::nullopt};
    }
    std::size_t take = std::min(size, left);
    if (!peer.pieces.empty()) take = std::min(take, peer.pieces[peer.receives % peer.pieces.size()]);
    peer.reply.copy(data, take, peer.received);
    peer.received += take;
    ++peer.receives;
    return TransferResult{take, std::nullopt};
}

// Nothing waits on the scripted peer: every receive returns at once.
void interrupt_socket(SocketHandle) {}

void close_socket(SocketHandle socket) {
    require_open(socket);
    open_handles().erase(socket);
    --fake_peer().open_sockets;
}
