#pragma once
// The app's one connection to the X display (through XCB), kept open between
// requests and opened again when it drops. Every wait for the X server has a
// deadline: a server that is stopped, swapping or hung makes a call fail as
// timed out, never hang, and until it answers again later calls fail at once
// instead of piling up requests behind it.
#include "imaging/pixels.h"
#include "timed_mutex.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

using XClock = std::chrono::steady_clock;

// A reply that XCB allocated, freed with its scope.
template <class T>
struct XReply {
    struct Free {
        void operator()(T* p) const { std::free(p); }
    };
    std::unique_ptr<T, Free> reply;
    T* operator->() const { return reply.get(); }
    T* get() const { return reply.get(); }
    explicit operator bool() const { return reply != nullptr; }
};

// How the root window's pixels are laid out, from the connection's setup.
struct XPixelFormat {
    int depth = 0;
    int bits_per_pixel = 0;
    std::uint32_t red_mask = 0, green_mask = 0, blue_mask = 0;
    bool msb_first = false;  // the server's image byte order
};

struct XConnectionState;

class X11Link {
public:
    // `display`: the DISPLAY name (":0"); empty when there is none.
    explicit X11Link(std::string display);
    ~X11Link();
    X11Link(const X11Link&) = delete;
    X11Link& operator=(const X11Link&) = delete;

    const std::string& display() const { return display_; }

    // One thread at a time talks to the server; take this first (with the
    // deadline of the work: try_lock_until).
    TimedMutex mutex;

    // The open connection, opened first when there is none or the last one
    // dropped. Faults: unavailable when the display cannot be opened,
    // timed_out when it does not answer by `deadline` (also while an earlier
    // call's answer is still awaited). Hold `mutex`.
    xcb_connection_t* connection(XClock::time_point deadline);

    xcb_window_t root() const;
    const XPixelFormat& pixel_format() const;
    bool has_randr_monitors() const;  // RandR 1.5 or later
    bool has_shm() const;             // MIT-SHM with descriptor passing (1.2 or later)

    // Waits for the reply to request `sequence` until `deadline`. Null with
    // `error` set when the server refused the request. Faults: timed_out
    // (the connection then counts as stalled until the answer comes),
    // unavailable when the connection drops. Hold `mutex`.
    void* wait(unsigned int sequence, XClock::time_point deadline, xcb_generic_error_t** error);

    template <class T>
    XReply<T> reply(unsigned int sequence, XClock::time_point deadline) {
        xcb_generic_error_t* error = nullptr;
        XReply<T> r{std::unique_ptr<T, typename XReply<T>::Free>(static_cast<T*>(wait(sequence, deadline, &error)))};
        std::free(error);
        return r;
    }

    // Forgets the answer to a request that is no longer wanted (after a
    // fault midway through several). Hold `mutex`.
    void discard(unsigned int sequence);

    // An atom's number (0 when the server does not know the name yet).
    // Known ones are kept for the connection's life. Hold `mutex`.
    xcb_atom_t atom(const char* name, XClock::time_point deadline);

    // The root window's pixels in `area` (inside the screen), held until the
    // next call: through shared memory when the server offers it, else over
    // the socket. Faults as for wait(). Hold `mutex`.
    PixelView grab(const FrameRegion& area, XClock::time_point deadline);

    // Since when the server has left a request unanswered: a caller waiting
    // now, or an earlier call that gave up; null while it answers. Read
    // without `mutex`.
    std::optional<XClock::time_point> waiting_since() const;

private:
    void drop();

    std::string display_;
    std::unique_ptr<XConnectionState> state_;
    std::atomic<std::int64_t> waiting_since_{0};  // steady_clock ticks; 0: nobody waits
    std::atomic<std::int64_t> stalled_since_{0};  // the same, for a request given up on
};

// Answers still to be read, sent all at once; those left when a fault ends
// the work are forgotten, so that they do not pile up on the connection.
struct XPending {
    X11Link& link;
    std::vector<unsigned int> sequences;

    ~XPending() {
        for (unsigned int sequence : sequences) link.discard(sequence);
    }
    unsigned int add(unsigned int sequence) {
        sequences.push_back(sequence);
        return sequence;
    }
    template <class T>
    XReply<T> take(unsigned int sequence, XClock::time_point deadline) {
        auto reply = link.reply<T>(sequence, deadline);
        sequences.erase(std::find(sequences.begin(), sequences.end(), sequence));
        return reply;
    }
};

// The message of a display that does not answer.
std::string x_display_silent_text(const std::string& display, std::chrono::milliseconds silent_for);
