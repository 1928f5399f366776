// Serves one fixed HTTP reply to every connection on 127.0.0.1, as fast as
// it can: the app stand-in for the benchmarks.
//
//   reply_server PORT BODY_BYTES [json|devices]
//
// Prints "ready PORT" once it listens; PORT 0 takes a free port. The body is BODY_BYTES bytes of a
// repeating pattern; with "json" the health reply; with "devices" a devices reply of about
// BODY_BYTES bytes (as many cameras as fill it).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// {"devices":[...]} of about `bytes` bytes: cameras with the members the app
// gives, as a machine with a great many would list them.
std::string devices_reply(std::size_t bytes) {
    std::string body = "{\"devices\":[";
    for (std::size_t n = 0; body.size() < bytes; ++n) {
        if (n > 0) body += ',';
        std::string id = std::to_string(n);
        body += R"({"focusable":)" + std::string(n % 3 == 0 ? "true" : "false") + R"(,"height":720,"id":")" + id +
                R"(","kind":"camera","name":"USB camera )" + id + R"x( (Video4Linux2)","width":1280})x";
    }
    return body + "]}";
}

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: reply_server PORT BODY_BYTES [json|devices]\n");
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    int port = std::atoi(argv[1]);
    std::string body;
    std::string kind = argc > 3 ? argv[3] : "";
    if (kind == "json") {
        body = R"({"port":7777,"settings":{"device":"0","height":720,"width":1280},"version":"0.2.0"})";
    } else if (kind == "devices") {
        body = devices_reply(std::strtoull(argv[2], nullptr, 10));
    } else {
        body.resize(std::strtoull(argv[2], nullptr, 10));
        for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 131 + 7);
    }
    // The head and the body go out separately, so that a large body is held once.
    std::string head =
        "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\nConnection: close\r\n\r\n";

    int listener = socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0 || listen(listener, 64) < 0) {
        std::perror("listen");
        return 1;
    }
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::printf("ready %d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    char buffer[65536];
    for (;;) {
        int connection = accept(listener, nullptr, nullptr);
        if (connection < 0) continue;
        setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        // Read the head; the benchmarks only send GETs.
        std::string request;
        while (request.find("\r\n\r\n") == std::string::npos) {
            ssize_t got = recv(connection, buffer, sizeof buffer, 0);
            if (got <= 0) break;
            request.append(buffer, static_cast<std::size_t>(got));
        }
        for (const std::string* part : {&head, &body}) {
            std::size_t sent = 0;
            while (sent < part->size()) {
                ssize_t n = send(connection, part->data() + sent, part->size() - sent, 0);
                if (n <= 0) break;
                sent += static_cast<std::size_t>(n);
            }
        }
        close(connection);
    }
}
