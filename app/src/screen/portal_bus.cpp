#include "screen/portal_bus.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {
constexpr const char* portal_name = "org.freedesktop.portal.Desktop";
constexpr const char* portal_path = "/org/freedesktop/portal/desktop";
constexpr std::chrono::milliseconds cancel_poll_interval{100};

// Frees an sd_bus_error however the call ends.
struct BusError {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    ~BusError() { sd_bus_error_free(&error); }
};

struct MessageUnref {
    void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

struct SlotUnref {
    void operator()(sd_bus_slot* s) const { sd_bus_slot_unref(s); }
};
using Slot = std::unique_ptr<sd_bus_slot, SlotUnref>;

PortalFailure failure_of(const sd_bus_error& error, int rc) {
    if (sd_bus_error_has_name(&error, SD_BUS_ERROR_SERVICE_UNKNOWN) ||
        sd_bus_error_has_name(&error, SD_BUS_ERROR_NAME_HAS_NO_OWNER)) {
        return {PortalFailure::no_portal, error.message ? error.message : ""};
    }
    if (sd_bus_error_has_name(&error, SD_BUS_ERROR_UNKNOWN_METHOD) ||
        sd_bus_error_has_name(&error, SD_BUS_ERROR_UNKNOWN_INTERFACE) ||
        sd_bus_error_has_name(&error, SD_BUS_ERROR_UNKNOWN_OBJECT) ||
        sd_bus_error_has_name(&error, SD_BUS_ERROR_UNKNOWN_PROPERTY)) {
        return {PortalFailure::no_interface, error.message ? error.message : ""};
    }
    if (sd_bus_error_has_name(&error, SD_BUS_ERROR_NO_REPLY) || sd_bus_error_has_name(&error, SD_BUS_ERROR_TIMEOUT) ||
        rc == -ETIMEDOUT) {
        return {PortalFailure::timed_out, ""};
    }
    std::string detail = error.message ? error.message : std::strerror(-rc);
    return {PortalFailure::failed, detail};
}

void check(int rc, const char* what) {
    if (rc < 0) throw PortalFailure{PortalFailure::failed, std::string(what) + ": " + std::strerror(-rc)};
}

std::uint64_t microseconds(std::chrono::milliseconds d) {
    return static_cast<std::uint64_t>(std::max<std::int64_t>(d.count(), 1)) * 1000;
}

void append_options(sd_bus_message* m, const PortalOptions& options) {
    check(sd_bus_message_open_container(m, 'a', "{sv}"), "building a portal call");
    for (const auto& [key, value] : options) {
        int rc = 0;
        if (auto* s = std::get_if<std::string>(&value)) {
            rc = sd_bus_message_append(m, "{sv}", key.c_str(), "s", s->c_str());
        } else if (auto* u = std::get_if<std::uint32_t>(&value)) {
            rc = sd_bus_message_append(m, "{sv}", key.c_str(), "u", *u);
        } else {
            rc = sd_bus_message_append(m, "{sv}", key.c_str(), "b", static_cast<int>(std::get<bool>(value)));
        }
        check(rc, "building a portal call");
    }
    check(sd_bus_message_close_container(m), "building a portal call");
}

void read_streams(sd_bus_message* m, std::vector<PortalStream>& streams) {
    if (sd_bus_message_enter_container(m, 'v', "a(ua{sv})") <= 0) return;
    if (sd_bus_message_enter_container(m, 'a', "(ua{sv})") > 0) {
        while (sd_bus_message_enter_container(m, 'r', "ua{sv}") > 0) {
            PortalStream stream;
            sd_bus_message_read(m, "u", &stream.node);
            if (sd_bus_message_enter_container(m, 'a', "{sv}") > 0) {
                while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
                    const char* key = nullptr;
                    char type = 0;
                    const char* contents = nullptr;
                    sd_bus_message_read(m, "s", &key);
                    sd_bus_message_peek_type(m, &type, &contents);
                    if (key && std::strcmp(key, "size") == 0 && contents && std::strcmp(contents, "(ii)") == 0) {
                        sd_bus_message_read(m, "v", "(ii)", &stream.width, &stream.height);
                    } else {
                        sd_bus_message_skip(m, "v");
                    }
                    sd_bus_message_exit_container(m);
                }
                sd_bus_message_exit_container(m);
            }
            sd_bus_message_exit_container(m);
            streams.push_back(stream);
        }
        sd_bus_message_exit_container(m);
    }
    sd_bus_message_exit_container(m);
}

// Request.Response: u response, a{sv} results.
void read_response(sd_bus_message* m, PortalResponse& response) {
    if (sd_bus_message_read(m, "u", &response.code) < 0) return;
    if (sd_bus_message_enter_container(m, 'a', "{sv}") <= 0) return;
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
        const char* key_text = nullptr;
        sd_bus_message_read(m, "s", &key_text);
        std::string key = key_text ? key_text : "";
        char type = 0;
        const char* contents = nullptr;
        sd_bus_message_peek_type(m, &type, &contents);
        std::string signature = contents ? contents : "";
        if (signature == "s" || signature == "o") {
            const char* value = nullptr;
            sd_bus_message_read(m, "v", signature.c_str(), &value);
            response.strings[key] = value ? value : "";
        } else if (key == "streams" && signature == "a(ua{sv})") {
            read_streams(m, response.streams);
        } else {
            sd_bus_message_skip(m, "v");
        }
        sd_bus_message_exit_container(m);
    }
    sd_bus_message_exit_container(m);
}

struct Waiter {
    bool received = false;
    PortalResponse response;
};

int on_response(sd_bus_message* m, void* data, sd_bus_error*) {
    auto* waiter = static_cast<Waiter*>(data);
    read_response(m, waiter->response);
    waiter->received = true;
    return 0;
}

Slot watch_response(sd_bus* bus, const std::string& path, Waiter& waiter) {
    sd_bus_slot* slot = nullptr;
    check(sd_bus_match_signal(bus, &slot, nullptr, path.c_str(), "org.freedesktop.portal.Request", "Response",
                              on_response, &waiter),
          "watching for the portal's answer");
    return Slot(slot);
}

std::string next_token() {
    static std::atomic<unsigned> counter{0};
    return "vistrel_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
}
}  // namespace

BusHandle open_session_bus(std::optional<std::chrono::milliseconds> call_limit) {
    sd_bus* bus = nullptr;
    int rc = sd_bus_open_user(&bus);
    if (rc < 0) throw PortalFailure{PortalFailure::no_bus, std::strerror(-rc)};
    if (call_limit) sd_bus_set_method_call_timeout(bus, microseconds(*call_limit));
    return BusHandle(bus);
}

bool portal_present(sd_bus* bus) {
    BusError error;
    sd_bus_message* reply = nullptr;
    int owned = 0;
    if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
                           &error.error, &reply, "s", portal_name) >= 0) {
        sd_bus_message_read(reply, "b", &owned);
        sd_bus_message_unref(reply);
        if (owned) return true;
    }
    reply = nullptr;
    if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "ListActivatableNames", &error.error, &reply, "") < 0) {
        return false;
    }
    Message hold(reply);
    char** names = nullptr;
    if (sd_bus_message_read_strv(reply, &names) < 0 || !names) return false;
    bool found = false;
    for (char** n = names; *n; ++n) {
        if (std::strcmp(*n, portal_name) == 0) found = true;
        free(*n);
    }
    free(names);
    return found;
}

std::uint32_t portal_property(sd_bus* bus, const char* interface, const char* property) {
    BusError error;
    std::uint32_t value = 0;
    int rc = sd_bus_get_property_trivial(bus, portal_name, portal_path, interface, property, &error.error, 'u', &value);
    if (rc < 0) {
        PortalFailure failure = failure_of(error.error, rc);
        // An interface without the property is simply an older version.
        if (failure.kind == PortalFailure::no_interface &&
            sd_bus_error_has_name(&error.error, SD_BUS_ERROR_UNKNOWN_PROPERTY)) {
            return 0;
        }
        throw failure;
    }
    return value;
}

PortalResponse portal_request(sd_bus* bus, const char* interface, const char* method,
                              const std::vector<PortalArg>& args, PortalOptions options,
                              std::chrono::milliseconds limit, const CancelCheck& cancelled) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    const char* unique = nullptr;
    check(sd_bus_get_unique_name(bus, &unique), "asking the bus for this connection's name");
    std::string token = next_token();
    options.insert(options.begin(), {"handle_token", token});

    // The answer may come before the call returns, so it is watched for first.
    Waiter waiter;
    std::string path = portal_request_path(unique, token);
    Slot slot = watch_response(bus, path, waiter);

    sd_bus_message* call = nullptr;
    check(sd_bus_message_new_method_call(bus, &call, portal_name, portal_path, interface, method),
          "building a portal call");
    Message hold_call(call);
    for (const auto& arg : args) {
        check(sd_bus_message_append_basic(call, arg.type, arg.value.c_str()), "building a portal call");
    }
    append_options(call, options);
    BusError error;
    sd_bus_message* reply = nullptr;
    int rc = sd_bus_call(bus, call, microseconds(limit), &error.error, &reply);
    if (rc < 0) throw failure_of(error.error, rc);
    Message hold_reply(reply);
    const char* handle = nullptr;
    if (sd_bus_message_read(reply, "o", &handle) >= 0 && handle && path != handle) {
        // Portals older than the handle_token convention choose their own path.
        path = handle;
        slot = watch_response(bus, path, waiter);
    }

    while (!waiter.received) {
        rc = sd_bus_process(bus, nullptr);
        if (rc < 0)
            throw PortalFailure{PortalFailure::failed, "lost the session bus: " + std::string(std::strerror(-rc))};
        if (rc > 0) continue;
        auto left = deadline - std::chrono::steady_clock::now();
        bool hung_up = cancelled && cancelled();
        if (left <= std::chrono::milliseconds(0) || hung_up) {
            // The desktop's dialog, if it shows one, goes away with the request.
            sd_bus_call_method(bus, portal_name, path.c_str(), "org.freedesktop.portal.Request", "Close", nullptr,
                               nullptr, "");
            if (hung_up) throw Cancelled{};
            throw PortalFailure{PortalFailure::timed_out, ""};
        }
        // In slices, so that a client that hangs up ends the wait soon.
        auto slice = std::min(std::chrono::duration_cast<std::chrono::milliseconds>(left), cancel_poll_interval);
        rc = sd_bus_wait(bus, microseconds(slice));
        if (rc < 0 && rc != -EINTR) {
            throw PortalFailure{PortalFailure::failed, "lost the session bus: " + std::string(std::strerror(-rc))};
        }
    }
    return waiter.response;
}

int open_pipewire_remote(sd_bus* bus, const std::string& session_handle) {
    BusError error;
    sd_bus_message* reply = nullptr;
    int rc = sd_bus_call_method(bus, portal_name, portal_path, "org.freedesktop.portal.ScreenCast",
                                "OpenPipeWireRemote", &error.error, &reply, "oa{sv}", session_handle.c_str(), 0);
    if (rc < 0) throw failure_of(error.error, rc);
    Message hold(reply);
    int fd = -1;
    check(sd_bus_message_read(reply, "h", &fd), "reading the PipeWire descriptor");
    // The descriptor belongs to the message; the caller gets its own.
    int own = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (own < 0) throw PortalFailure{PortalFailure::failed, "cannot keep the PipeWire descriptor"};
    return own;
}

void close_portal_session(sd_bus* bus, const std::string& session_handle) {
    sd_bus_call_method(bus, portal_name, session_handle.c_str(), "org.freedesktop.portal.Session", "Close", nullptr,
                       nullptr, "");
}

std::string portal_request_path(std::string_view unique_name, std::string_view token) {
    std::string sender(unique_name.substr(unique_name.starts_with(':') ? 1 : 0));
    for (char& c : sender) {
        if (c == '.') c = '_';
    }
    return std::string(portal_path) + "/request/" + sender + "/" + std::string(token);
}

std::string path_from_file_uri(std::string_view uri) {
    constexpr std::string_view scheme = "file://";
    if (!uri.starts_with(scheme)) return "";
    uri.remove_prefix(scheme.size());
    // file://host/path: only this machine's files are readable.
    if (!uri.starts_with('/')) {
        if (!uri.starts_with("localhost/")) return "";
        uri.remove_prefix(std::string_view("localhost").size());
    }
    auto hex = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string path;
    for (std::size_t i = 0; i < uri.size(); ++i) {
        if (uri[i] == '%' && i + 2 < uri.size() && hex(uri[i + 1]) >= 0 && hex(uri[i + 2]) >= 0) {
            char c = static_cast<char>(hex(uri[i + 1]) * 16 + hex(uri[i + 2]));
            if (c == '\0') return "";
            path += c;
            i += 2;
        } else if (uri[i] == '?' || uri[i] == '#') {
            break;
        } else {
            path += uri[i];
        }
    }
    return path;
}
