#pragma once
// A scripted peer behind platform/socket.h, linked in place of the real
// socket file: the reply reader runs on bytes alone, split into receives as
// a fuzz input chooses, without a network.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

struct FakePeer {
    // The script.
    std::string reply;                            // every byte the peer sends, then it closes
    std::vector<std::size_t> pieces;              // most bytes per receive, in turn; empty: as many as asked
    bool reset_at_end = false;                    // the stream ends in a reset instead of a clean close
    std::size_t send_piece = 0;                   // most bytes a send accepts; 0: all offered
    std::optional<std::size_t> send_stops_after;  // once this many bytes are sent, sends accept none

    // What happened.
    std::string sent;
    int connections = 0;
    int open_sockets = 0;
    std::size_t received = 0;
    std::size_t receives = 0;
};

// The one peer of the process. Every connection talks to it.
FakePeer& fake_peer();
