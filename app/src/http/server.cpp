#include "http/server.h"

#include "http/access_guard.h"
#include "http/endpoints.h"
#include "http/replies.h"

#include <nlohmann/json.hpp>

#include <sys/socket.h>

#include <cstdio>

namespace {
// Handlers run on these threads; a recording occupies one for its whole
// length while the others go on answering.
constexpr std::size_t worker_threads = 8;

RequestOrigin origin_of(const httplib::Request& req) {
    RequestOrigin origin;
    if (req.get_header_value_count("Host") == 1) origin.host = req.get_header_value("Host");
    origin.has_origin = req.has_header("Origin");
    return origin;
}

// The library's own refusals (unreadable requests, unknown paths, oversized
// bodies) come without a body; every refusal the client sees carries an
// "error" text.
std::string library_refusal_text(const httplib::Request& req, int status) {
    switch (status) {
        case 400:
            return "the request could not be read as HTTP/1.1";
        case 404:
            return "no such endpoint: " + req.method + " " + req.path;
        case 413:
            return "the request body is too large (at most " + std::to_string(max_request_body / 1024) + " KiB)";
        case 414:
            return "the request target is too long";
        default:
            return "the request failed (HTTP " + std::to_string(status) + ")";
    }
}
}  // namespace

void configure_server(LenientServer& server, AppState& state) {
    // The library's default also sets SO_REUSEPORT, which would let a second
    // app start on a port that is already taken; only SO_REUSEADDR is wanted.
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server.new_task_queue = [] { return new httplib::ThreadPool(worker_threads); };
    server.set_payload_max_length(max_request_body);
    server.set_read_timeout(5);
    server.set_write_timeout(30);

    server.set_pre_routing_handler([&state](const httplib::Request& req, httplib::Response& res) {
        if (auto problem = access_problem(origin_of(req), state.port)) {
            reply_error(res, 403, *problem);
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });

    server.set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request& req, httplib::Response& res) {
            if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
            reply_error(res, res.status, library_refusal_text(req, res.status));
            return httplib::Server::HandlerResponse::Handled;
        }));

    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        reply_error(res, 500, "internal error");
    });

    // Refusals only: agents make thousands of ordinary requests.
    server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
        if (res.status < 400) return;
        auto body = nlohmann::json::parse(res.body, nullptr, false);
        std::string error;
        if (body.is_object() && body.contains("error") && body["error"].is_string()) error = body["error"];
        std::fprintf(stderr, "vistrel-app: %s %s -> %d %s\n", req.method.c_str(), req.path.c_str(), res.status,
                     error.c_str());
    });

    add_health_endpoint(server, state);
    add_devices_endpoint(server, state);
    add_frame_endpoint(server, state);
    add_focus_endpoint(server, state);
    add_record_endpoint(server, state);
    add_controls_endpoints(server, state);
    add_sources_endpoints(server, state);
}
