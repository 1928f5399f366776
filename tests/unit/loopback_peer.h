#pragma once
// A one-connection stand-in for the app, on 127.0.0.1, inside the test
// process: it reads one request, sends `reply`, then either closes the
// connection, keeps it open without a word until the test ends, or keeps it
// open until the client hangs up (as the app does during a recording).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "platform/socket.h"

struct LoopbackPeer {
#ifdef _WIN32
    using RawSocket = SOCKET;
    static void close_raw(RawSocket s) {
        closesocket(s);
    }
#else
    using RawSocket = int;
    static void close_raw(RawSocket s) {
        close(s);
    }
#endif
    enum class After { close, hold_open, wait_for_hang_up };

    RawSocket listener;
    std::uint16_t port = 0;
    std::thread thread;
    std::atomic<bool> done{false};
    std::atomic<bool> hung_up{false};  // the client closed its end (wait_for_hang_up)

    explicit LoopbackPeer(std::string reply, After after = After::close) {
        (void)socket_layer_start();
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener, 1);
#ifdef _WIN32
        int length = sizeof address;
#else
        socklen_t length = sizeof address;
#endif
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        thread = std::thread([this, reply, after] {
            RawSocket connection = accept(listener, nullptr, nullptr);
            read_request(connection);
            send(connection, reply.data(), static_cast<int>(reply.size()), 0);
            while (after == After::hold_open && !done) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (after == After::wait_for_hang_up) {
                char byte;
                while (recv(connection, &byte, 1, 0) > 0) {
                }
                hung_up = true;
            }
            close_raw(connection);
        });
    }
    ~LoopbackPeer() {
        done = true;
        thread.join();
        close_raw(listener);
    }

    // Up to the end of the head and its Content-Length bytes, so that closing
    // leaves nothing unread (which would reset the connection).
    static void read_request(RawSocket connection) {
        std::string request;
        char buffer[4096];
        for (;;) {
            std::size_t end = request.find("\r\n\r\n");
            if (end != std::string::npos) {
                std::size_t length = 0;
                std::size_t header = request.find("Content-Length: ");
                if (header != std::string::npos) length = std::stoul(request.substr(header + 16));
                if (request.size() >= end + 4 + length) return;
            }
            int got = static_cast<int>(recv(connection, buffer, sizeof buffer, 0));
            if (got <= 0) return;
            request.append(buffer, static_cast<std::size_t>(got));
        }
    }
};
