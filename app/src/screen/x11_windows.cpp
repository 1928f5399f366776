#include "screen/x11_windows.h"

#include "screen/screen_target.h"

#include <algorithm>
#include <cstring>

namespace {
std::vector<xcb_window_t> window_list(const XReply<xcb_get_property_reply_t>& property) {
    std::vector<xcb_window_t> windows;
    if (!property || property->type != XCB_ATOM_WINDOW || property->format != 32) return windows;
    const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(property.get()));
    int count = xcb_get_property_value_length(property.get()) / 4;
    windows.assign(ids, ids + count);
    return windows;
}

std::string property_text(const XReply<xcb_get_property_reply_t>& property) {
    if (!property || property->format != 8) return {};
    const char* bytes = static_cast<const char*>(xcb_get_property_value(property.get()));
    return std::string(bytes, static_cast<std::size_t>(xcb_get_property_value_length(property.get())));
}

// WM_NAME of type STRING is Latin-1.
std::string latin1_to_utf8(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// What each window's requests are, sent all at once and read in order.
struct WindowRequests {
    xcb_window_t window;
    unsigned int attributes, geometry, position, net_name, name, wm_class;
};
}  // namespace

std::vector<WindowInfo> read_x_windows(X11Link& link, XClock::time_point deadline, std::optional<xcb_window_t> only) {
    xcb_connection_t* c = link.connection(deadline);
    xcb_window_t root = link.root();
    xcb_atom_t client_list = link.atom("_NET_CLIENT_LIST", deadline);
    xcb_atom_t active_window = link.atom("_NET_ACTIVE_WINDOW", deadline);
    xcb_atom_t net_wm_name = link.atom("_NET_WM_NAME", deadline);
    xcb_atom_t utf8_string = link.atom("UTF8_STRING", deadline);

    XPending pending{link, {}};
    unsigned int list_request =
        client_list ? pending.add(xcb_get_property(c, 0, root, client_list, XCB_ATOM_WINDOW, 0, 1 << 16).sequence) : 0;
    unsigned int active_request =
        active_window ? pending.add(xcb_get_property(c, 0, root, active_window, XCB_ATOM_WINDOW, 0, 1).sequence) : 0;
    unsigned int focus_request = pending.add(xcb_get_input_focus(c).sequence);
    std::vector<xcb_window_t> candidates;
    bool managed = false;
    if (list_request) {
        auto list = pending.take<xcb_get_property_reply_t>(list_request, deadline);
        managed = list && list->type == XCB_ATOM_WINDOW;
        candidates = window_list(list);
    }
    std::optional<xcb_window_t> active;
    if (active_request) {
        auto property = pending.take<xcb_get_property_reply_t>(active_request, deadline);
        std::vector<xcb_window_t> value = window_list(property);
        if (!value.empty() && value.front()) active = value.front();
    }
    auto focus = pending.take<xcb_get_input_focus_reply_t>(focus_request, deadline);
    if (!managed) {
        // No window manager: the root's children, bottom to top.
        auto tree = link.reply<xcb_query_tree_reply_t>(xcb_query_tree(c, root).sequence, deadline);
        if (tree) {
            const xcb_window_t* children = xcb_query_tree_children(tree.get());
            candidates.assign(children, children + xcb_query_tree_children_length(tree.get()));
        }
    }
    if (only) {
        if (std::find(candidates.begin(), candidates.end(), *only) == candidates.end()) return {};
        candidates = {*only};
    }

    std::vector<WindowRequests> requests;
    requests.reserve(candidates.size());
    for (xcb_window_t w : candidates) {
        requests.push_back(
            {w, pending.add(xcb_get_window_attributes(c, w).sequence), pending.add(xcb_get_geometry(c, w).sequence),
             pending.add(xcb_translate_coordinates(c, w, root, 0, 0).sequence),
             net_wm_name ? pending.add(xcb_get_property(c, 0, w, net_wm_name, utf8_string, 0, 1024).sequence) : 0,
             pending.add(xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 0, 1024).sequence),
             pending.add(xcb_get_property(c, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256).sequence)});
    }
    std::vector<WindowInfo> windows;
    for (const WindowRequests& r : requests) {
        // A window may go away between the list and these questions: its
        // answers are errors, and it is left out.
        auto attributes = pending.take<xcb_get_window_attributes_reply_t>(r.attributes, deadline);
        auto geometry = pending.take<xcb_get_geometry_reply_t>(r.geometry, deadline);
        auto position = pending.take<xcb_translate_coordinates_reply_t>(r.position, deadline);
        XReply<xcb_get_property_reply_t> net_name;
        if (r.net_name) net_name = pending.take<xcb_get_property_reply_t>(r.net_name, deadline);
        auto name = pending.take<xcb_get_property_reply_t>(r.name, deadline);
        auto wm_class = pending.take<xcb_get_property_reply_t>(r.wm_class, deadline);
        if (!attributes || !geometry || !position) continue;
        if (attributes->map_state != XCB_MAP_STATE_VIEWABLE) continue;
        if (!managed && attributes->override_redirect) continue;

        WindowInfo info;
        info.id = x_window_id_text(r.window);
        info.title = property_text(net_name);
        if (info.title.empty()) {
            info.title = property_text(name);
            if (name && name->type == XCB_ATOM_STRING) info.title = latin1_to_utf8(info.title);
        }
        if (!managed && info.title.empty()) continue;
        // WM_CLASS holds the instance name, then the class; the instance is
        // the program's own name for itself (xterm, firefox's Navigator aside).
        std::string classes = property_text(wm_class);
        std::string instance = classes.substr(0, classes.find('\0'));
        if (!instance.empty()) info.program = instance;
        info.area = {position->dst_x, position->dst_y, geometry->width, geometry->height};
        windows.push_back(std::move(info));
    }

    // The focus: the window manager's active window, else the top-level
    // window that holds the keyboard's focus (or is an ancestor of it).
    std::optional<xcb_window_t> focused = active;
    if (!focused && focus && focus->focus != XCB_NONE && focus->focus != XCB_INPUT_FOCUS_POINTER_ROOT) {
        xcb_window_t w = focus->focus;
        for (int depth = 0; depth < 16 && w != root; ++depth) {
            if (std::find(candidates.begin(), candidates.end(), w) != candidates.end()) {
                focused = w;
                break;
            }
            auto tree = link.reply<xcb_query_tree_reply_t>(xcb_query_tree(c, w).sequence, deadline);
            if (!tree) break;
            w = tree->parent;
        }
    }
    if (focused) {
        std::string id = x_window_id_text(*focused);
        for (WindowInfo& w : windows) w.focused = w.id == id;
    }
    return windows;
}
