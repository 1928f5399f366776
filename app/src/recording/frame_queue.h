#pragma once
// Grabbed frames on their way from a recording's clock to its encoder
// thread. The queue is bounded: when it is full the clock grabs nothing and
// the newest frame stands at the ticks that fall meanwhile, as it does for a
// frame not grabbed in time. For that the newest frame stays in the queue,
// even once encoded, until a newer one comes or the queue is closed: a tick
// can always be stood in for by the frame before.
#include "imaging/pixels.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

// `view`'s top-left `width` x `height` pixels as B, G, R, X bytes, rows top
// to bottom without padding, into `out`; what the view lacks (the screen
// became smaller) is black.
void copy_bgrx(const PixelView& view, int width, int height, std::vector<std::uint8_t>& out);

// What the encoder is to do next: encode the frame at `ticks` more ticks.
struct QueuedFrame {
    const std::uint8_t* bgrx = nullptr;  // width * height * 4 bytes, valid until the next take()
    bool fresh = false;                  // not handed before; else the frame handed last, again
    long long first_tick = 0;
    long long ticks = 0;
};

class FrameQueue {
public:
    // Frames of `width` x `height`; `capacity` frames at most (at least 2).
    FrameQueue(int width, int height, int capacity);
    FrameQueue(const FrameQueue&) = delete;
    FrameQueue& operator=(const FrameQueue&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }
    int capacity() const { return capacity_; }

    // The clock's side. A buffer of width * height * 4 bytes to grab into,
    // one the encoder is done with when there is one.
    std::vector<std::uint8_t> spare();
    // The frame stands at the ticks [first_tick, first_tick + ticks).
    void push(std::vector<std::uint8_t> frame, long long first_tick, long long ticks);
    // When the queue is full: the newest frame stands at `ticks` more ticks,
    // and true.
    bool extend_if_full(long long ticks);
    // The newest frame stands at `ticks` more ticks; false before the first.
    bool extend(long long ticks);
    // No more frames: the encoder is handed what is queued, then nothing.
    void close();
    // No more frames, and the encoder is handed nothing more.
    void abandon();

    // The encoder's side: waits for work; nothing once the queue is closed
    // and everything was handed over, or abandoned. Each call means the work
    // it handed before is done.
    std::optional<QueuedFrame> take();

    int frames_queued();  // for tests

private:
    struct Entry {
        std::vector<std::uint8_t> bgrx;
        long long first_tick = 0;
        long long ticks = 0;
        long long handed = 0;  // ticks handed to the encoder
    };

    const int width_, height_, capacity_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Entry> entries_;
    std::vector<std::vector<std::uint8_t>> spares_;
    bool closed_ = false;
    bool abandoned_ = false;
};
