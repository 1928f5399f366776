#pragma once
// A stand-in for a phone camera app on the local network: an HTTP server
// that serves a JPEG at /shot.jpg, a web page at /page.html and nothing
// (404) at /gone.
#include <httplib.h>

#include <string>
#include <thread>

struct FakePhone {
    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::string jpeg;  // the bytes /shot.jpg serves: a 320x240 picture

    FakePhone();
    ~FakePhone();
    FakePhone(const FakePhone&) = delete;
    FakePhone& operator=(const FakePhone&) = delete;

    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }
};

// A port on which nothing listens.
int closed_port();
