#pragma once
// A stand-in for a phone camera app on the local network: an HTTP server on
// plain sockets, each connection on a thread of its own, that serves
//   /shot.jpg     a 320x240 JPEG
//   /page.html    a web page
//   /bomb.jpg     a small JPEG whose header declares 16000x16000 pixels
//   /trickle.jpg  a JPEG, one byte every 100 ms
// any path given to script(): exactly the bytes given
// and 404 for anything else.
#include "platform/app_socket.h"

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct FakePhone {
    int port = 0;
    std::string jpeg;  // the bytes /shot.jpg serves
    std::string bomb;  // the bytes /bomb.jpg serves

    // How many /trickle.jpg connections have begun and ended, and when the
    // last one ended.
    std::atomic<int> trickles_started{0};
    std::atomic<int> trickles_ended{0};
    std::atomic<std::chrono::steady_clock::rep> trickle_ended_at{0};

    FakePhone();
    ~FakePhone();
    FakePhone(const FakePhone&) = delete;
    FakePhone& operator=(const FakePhone&) = delete;

    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }

    // From now on `path` is answered with exactly `bytes`.
    void script(const std::string& path, const std::string& bytes);

private:
    void accept_loop();
    void serve(SocketHandle sock);
    void trickle(SocketHandle sock);

    SocketHandle listener_ = no_socket;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<std::thread> connections_;
    std::map<std::string, std::string> scripted_;  // guarded by mutex_
};

// A port on which nothing listens.
int closed_port();

// The phone's photo: a 320x240 JPEG (fake_phone_jpeg.cpp, where the app has
// its JPEG code; elsewhere a stand-in that only begins like a JPEG).
std::string phone_photo();

// A JPEG of width x height pixels made by writing that size into the header
// of a small one: what a decompression bomb looks like to a decoder.
std::string jpeg_declaring(int width, int height);
