#include "http/replies.h"

#include "refusal.h"

#include <exception>
#include <new>

std::string json_text(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void reply_json(httplib::Response& res, const nlohmann::json& value, int status) {
    res.status = status;
    res.set_content(json_text(value), "application/json");
}

void reply_error(httplib::Response& res, int status, const std::string& message) {
    reply_json(res, nlohmann::json{{"error", message}}, status);
}

void reply_bytes(httplib::Response& res, std::string bytes, const char* content_type) {
    res.status = 200;
    res.body = std::move(bytes);
    res.set_header("Content-Type", content_type);
    res.set_header("Cache-Control", "no-store");
}

httplib::Server::Handler guarded(httplib::Server::Handler handler) {
    return [handler = std::move(handler)](const httplib::Request& req, httplib::Response& res) {
        try {
            handler(req, res);
        } catch (const Refusal& refusal) {
            reply_error(res, refusal.status, refusal.message);
        } catch (const std::bad_alloc&) {
            reply_error(res, 500, "out of memory");
        } catch (const std::exception& e) {
            reply_error(res, 500, std::string("internal error: ") + e.what());
        } catch (...) {
            reply_error(res, 500, "internal error");
        }
    };
}
