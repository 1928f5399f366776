#pragma once
// Calls to xdg-desktop-portal over the session bus, through sd-bus. Most
// portal calls answer twice: at once with a request object, and later, once
// the desktop (and perhaps the user, in a dialog) has decided, with that
// object's Response signal.
#include "cancellation.h"

#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

// Why a portal call came to nothing.
struct PortalFailure {
    enum Kind {
        no_bus,        // the session bus cannot be reached
        no_portal,     // xdg-desktop-portal is neither running nor startable
        no_interface,  // it runs, but nothing implements the interface here
        timed_out,     // no answer in time
        failed,        // any other error; `detail` says which
    } kind = failed;
    std::string detail;
};

struct BusCloser {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using BusHandle = std::unique_ptr<sd_bus, BusCloser>;

// The session bus of DBUS_SESSION_BUS_ADDRESS (else $XDG_RUNTIME_DIR/bus);
// `call_limit` bounds the calls made on it without a limit of their own
// (sd-bus waits 25 s otherwise). Throws PortalFailure (no_bus).
BusHandle open_session_bus(std::optional<std::chrono::milliseconds> call_limit = std::nullopt);

// Whether xdg-desktop-portal runs, or the bus would start it on demand.
// Asks the bus only, so that the portal is not started by the question.
bool portal_present(sd_bus* bus);

// An unsigned property of a portal interface ("version", "AvailableCursorModes");
// 0 when it has none. Throws PortalFailure.
std::uint32_t portal_property(sd_bus* bus, const char* interface, const char* property);

using PortalValue = std::variant<std::string, std::uint32_t, bool>;
using PortalOptions = std::vector<std::pair<std::string, PortalValue>>;

// A method argument before the options: an object path ('o') or a string ('s').
struct PortalArg {
    char type = 's';
    std::string value;
};

struct PortalStream {
    std::uint32_t node = 0;  // the PipeWire node
    int width = 0, height = 0;
};

struct PortalResponse {
    std::uint32_t code = 2;                      // 0: done; 1: cancelled by the user; 2: ended otherwise
    std::map<std::string, std::string> strings;  // the string results: "uri", "session_handle", "restore_token"
    std::vector<PortalStream> streams;           // ScreenCast.Start's "streams"
};

// Calls `method` of `interface` on the portal with `args` and then the
// options (a "handle_token" is added), and waits at most `limit` for the
// Response. Throws PortalFailure; Cancelled (after closing the request, and
// with it any dialog) when `cancelled` turns true during the wait.
PortalResponse portal_request(sd_bus* bus, const char* interface, const char* method,
                              const std::vector<PortalArg>& args, PortalOptions options,
                              std::chrono::milliseconds limit, const CancelCheck& cancelled = {});

// ScreenCast.OpenPipeWireRemote: a descriptor (owned by the caller) of a
// PipeWire connection that shows the session's streams. Throws PortalFailure.
int open_pipewire_remote(sd_bus* bus, const std::string& session_handle);

// Ends a portal session (a screen cast); errors are of no interest then.
void close_portal_session(sd_bus* bus, const std::string& session_handle);

// The object path on which the portal answers a request made with `token`
// by the connection named `unique_name` (":1.42" gives ".../1_42/TOKEN").
std::string portal_request_path(std::string_view unique_name, std::string_view token);

// The local path of a file:// URI, percent-escapes decoded; empty for any
// other URI.
std::string path_from_file_uri(std::string_view uri);
