// How long /health takes while the app is under load. Probes are sent on a
// schedule, one every 20 ms on a fresh connection as the client makes them,
// whether or not the ones before have been answered, so that a stall shows
// in every probe it holds up. Prints the 50th and 99th percentile and the
// longest, in milliseconds, and how many probes got no reply at all (none
// within 30 s, or the connection ended without one).
//
//   vistrel_app_health_bench PORT LOAD N PROBES [SIDE]
//
// LOAD and N:
//   idle            no load (N is ignored)
//   slow-heads N    N connections that send their request heads a line a second
//   frames N        N frame requests of SIDE x SIDE kept in flight
//   sources N       N source additions kept in flight (run.sh holds the
//                   sources lock from another process meanwhile)
//   burst N         N connections at once, each with a whole GET /api/health,
//                   again every 2 s; their replies are counted too
//   stopped-display the display server, whose pid is N, stopped (SIGSTOP)
//                   for the first 8 s of the probes, then let go (SIGCONT)
#include "raw_http.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto probe_interval = 20ms;
constexpr auto reply_limit = 30s;

// A non-blocking connection to the app under way, or -1.
int start_connection(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// One exchange, driven by a poll loop: connect, send the whole request,
// read until the app closes.
struct Exchange {
    int fd = -1;
    std::string request;
    std::size_t sent = 0;
    std::string reply;         // its first bytes: frames are large
    std::size_t received = 0;  // all of them
    Clock::time_point started;
    bool done = false;
    int status = 0;  // 0: no reply
    double ms = 0;

    short events() const { return sent < request.size() ? POLLOUT : POLLIN; }

    void finish() {
        ::close(fd);
        fd = -1;
        done = true;
        ms = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
        // A reply only when it is whole: the head, and as many body bytes as
        // it declares.
        std::size_t end = reply.find("\r\n\r\n");
        std::size_t length_at = reply.find("Content-Length: ");
        if (reply.rfind("HTTP/1.1 ", 0) != 0 || end == std::string::npos || length_at == std::string::npos) return;
        std::size_t length = std::strtoul(reply.c_str() + length_at + 16, nullptr, 10);
        if (received - end - 4 == length) status = std::atoi(reply.c_str() + 9);
    }

    void on_ready(short revents) {
        if (sent < request.size()) {
            ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (n > 0) sent += static_cast<std::size_t>(n);
            if (n < 0 && errno != EAGAIN && errno != EINPROGRESS && errno != ENOTCONN) finish();
            return;
        }
        char buffer[65536];
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            if (reply.size() < 65536) reply.append(buffer, static_cast<std::size_t>(n));
            received += static_cast<std::size_t>(n);
            return;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR) || (revents & (POLLERR | POLLHUP))) finish();
    }
};

// Runs exchanges opened by `open_more` until `stop`, calling `done` with
// each that ends; those still open then are closed and not counted.
template <typename OpenMore, typename Done>
void drive(std::atomic<bool>& stop, OpenMore open_more, Done done) {
    std::map<int, Exchange> open;
    std::vector<pollfd> watch;
    for (;;) {
        open_more(open);
        if (stop && open.empty()) return;
        watch.clear();
        for (auto& [fd, e] : open) watch.push_back({fd, e.events(), 0});
        if (::poll(watch.data(), watch.size(), 5) > 0) {
            for (const auto& w : watch) {
                if (w.revents) open[w.fd].on_ready(w.revents);
            }
        }
        for (auto it = open.begin(); it != open.end();) {
            Exchange& e = it->second;
            if (!e.done && Clock::now() - e.started > reply_limit) {
                ::close(e.fd);
                e.done = true;
                e.ms = -1;
            }
            if (e.done) {
                done(e);
                it = open.erase(it);
            } else {
                ++it;
            }
        }
        if (stop) {
            // Cut short by the end of the measurement: not counted.
            for (auto& [fd, e] : open) ::close(fd);
            return;
        }
    }
}

bool open_exchange(std::map<int, Exchange>& open, int port, const std::string& request) {
    int fd = start_connection(port);
    if (fd < 0) return false;
    Exchange& e = open[fd];
    e.fd = fd;
    e.request = request;
    e.started = Clock::now();
    return true;
}

struct Tally {
    std::atomic<int> answered{0}, refused{0}, none{0};
    void count(const Exchange& e) {
        if (e.status == 200) {
            ++answered;
        } else if (e.status != 0) {
            ++refused;
        } else {
            ++none;
        }
    }
};

void slow_heads(int port, int count, std::atomic<bool>& stop) {
    std::vector<SocketHandle> fds;
    for (int i = 0; i < count; ++i) {
        try {
            fds.push_back(connect_loopback(port));
            send_bytes(fds.back(), "GET /api/health HTTP/1.1\r\n");
        } catch (const std::exception&) {
        }
    }
    while (!stop) {
        for (SocketHandle fd : fds) (void)!::send(static_cast<int>(fd), "X-Slow: 1\r\n", 11, MSG_NOSIGNAL);
        for (int i = 0; i < 10 && !stop; ++i) std::this_thread::sleep_for(100ms);
    }
    for (SocketHandle fd : fds) close_connection(fd);
}

// Keeps `count` copies of `request` in flight: each that ends is sent again.
void in_flight(int port, int count, const std::string& request, std::atomic<bool>& stop, Tally& tally) {
    drive(
        stop,
        [&](std::map<int, Exchange>& open) {
            while (!stop && static_cast<int>(open.size()) < count && open_exchange(open, port, request)) {
            }
        },
        [&](const Exchange& e) { tally.count(e); });
}

// `count` connections at once, every 2 s.
void bursts(int port, int count, std::atomic<bool>& stop, Tally& tally) {
    std::string request = client_style_request("GET", "/api/health", port);
    Clock::time_point next = Clock::now();
    drive(
        stop,
        [&](std::map<int, Exchange>& open) {
            if (stop || Clock::now() < next) return;
            for (int i = 0; i < count; ++i) open_exchange(open, port, request);
            next = Clock::now() + 2s;
        },
        [&](const Exchange& e) { tally.count(e); });
}

std::string source_addition(int port, int i) {
    return client_style_request("POST", "/api/sources", port,
                                R"({"name":"bench)" + std::to_string(i) + R"(","url":"http://192.0.2.1/shot.jpg"})");
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s PORT idle|slow-heads|frames|sources|burst|stopped-display N PROBES [SIDE]\n",
                     argv[0]);
        return 2;
    }
    int port = std::atoi(argv[1]);
    std::string load = argv[2];
    int count = std::atoi(argv[3]);
    int probes = std::atoi(argv[4]);
    int side = argc > 5 ? std::atoi(argv[5]) : 4096;
    // Bursts hold hundreds of connections at once.
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);

    std::atomic<bool> stop{false};
    Tally load_tally;
    std::thread loader;
    if (load == "slow-heads") {
        loader = std::thread(slow_heads, port, count, std::ref(stop));
    } else if (load == "frames") {
        std::string request = client_style_request(
            "GET", "/api/frame.jpg?_=&width=" + std::to_string(side) + "&height=" + std::to_string(side), port);
        loader = std::thread(in_flight, port, count, request, std::ref(stop), std::ref(load_tally));
    } else if (load == "sources") {
        loader = std::thread([&] {
            // Several distinct additions, each sent again once answered.
            std::vector<std::thread> senders;
            for (int i = 0; i < count; ++i) {
                senders.emplace_back(in_flight, port, 1, source_addition(port, i), std::ref(stop),
                                     std::ref(load_tally));
            }
            for (auto& sender : senders) sender.join();
        });
    } else if (load == "burst") {
        loader = std::thread(bursts, port, count, std::ref(stop), std::ref(load_tally));
    } else if (load != "idle" && load != "stopped-display") {
        std::fprintf(stderr, "unknown load %s\n", load.c_str());
        return 2;
    }
    // Let the load build up before measuring.
    if (load != "idle" && load != "stopped-display") std::this_thread::sleep_for(2s);
    pid_t display = load == "stopped-display" ? static_cast<pid_t>(count) : 0;
    if (display > 0) kill(display, SIGSTOP);
    Clock::time_point stop_display_at = Clock::now() + 8s;

    std::vector<double> times;
    Tally probe_tally;
    std::string probe = client_style_request("GET", "/api/health", port);
    int sent = 0;
    Clock::time_point next = Clock::now();
    std::atomic<bool> probes_done{false};
    drive(
        probes_done,
        [&](std::map<int, Exchange>& open) {
            if (display > 0 && Clock::now() >= stop_display_at) {
                kill(display, SIGCONT);
                display = 0;
            }
            while (sent < probes && Clock::now() >= next) {
                if (!open_exchange(open, port, probe)) ++probe_tally.none;
                ++sent;
                next += probe_interval;
            }
            if (sent >= probes && open.empty()) probes_done = true;
        },
        [&](const Exchange& e) {
            probe_tally.count(e);
            if (e.status != 0) times.push_back(e.ms);
        });
    if (display > 0) kill(display, SIGCONT);
    stop = true;
    if (loader.joinable()) loader.join();

    std::sort(times.begin(), times.end());
    auto at = [&](double q) { return times.empty() ? -1.0 : times[static_cast<std::size_t>(q * (times.size() - 1))]; };
    std::printf("%-15s n=%-4d probes=%d  p50 %.1f ms  p99 %.1f ms  max %.1f ms  refused %d  without a reply %d",
                load.c_str(), load == "stopped-display" ? 0 : count, probes, at(0.50), at(0.99),
                times.empty() ? -1.0 : times.back(), probe_tally.refused.load(), probe_tally.none.load());
    if (load == "frames" || load == "sources" || load == "burst") {
        std::printf("  (load: %d answered, %d refused, %d without a reply)", load_tally.answered.load(),
                    load_tally.refused.load(), load_tally.none.load());
    }
    std::printf("\n");
    return probe_tally.none ? 1 : 0;
}
