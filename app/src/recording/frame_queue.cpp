#include "recording/frame_queue.h"

#include <algorithm>
#include <cstring>

void copy_bgrx(const PixelView& view, int width, int height, std::vector<std::uint8_t>& out) {
    std::size_t row_bytes = static_cast<std::size_t>(width) * 4;
    out.assign(row_bytes * static_cast<std::size_t>(std::max(height, 0)), 0);
    if (!view.data || width <= 0) return;
    int rows = std::min(height, view.height), columns = std::min(width, view.width);
    bool as_is = same_layout(view.layout, bgrx_layout);
    const PixelLayout& l = view.layout;
    for (int y = 0; y < rows; ++y) {
        const std::uint8_t* in = pixel_row(view, y);
        std::uint8_t* to = out.data() + static_cast<std::size_t>(y) * row_bytes;
        if (as_is) {
            std::memcpy(to, in, static_cast<std::size_t>(columns) * 4);
            continue;
        }
        for (int x = 0; x < columns; ++x, in += 4, to += 4) {
            to[0] = in[l.blue];
            to[1] = in[l.green];
            to[2] = in[l.red];
            to[3] = 0;
        }
    }
}

FrameQueue::FrameQueue(int width, int height, int capacity)
    : width_(width), height_(height), capacity_(std::max(2, capacity)) {}

std::vector<std::uint8_t> FrameQueue::spare() {
    std::lock_guard lock(mutex_);
    if (spares_.empty()) return {};
    std::vector<std::uint8_t> buffer = std::move(spares_.back());
    spares_.pop_back();
    return buffer;
}

void FrameQueue::push(std::vector<std::uint8_t> frame, long long first_tick, long long ticks) {
    {
        std::lock_guard lock(mutex_);
        if (closed_ || abandoned_) return;
        entries_.push_back({std::move(frame), first_tick, ticks, 0});
    }
    changed_.notify_all();
}

bool FrameQueue::extend_if_full(long long ticks) {
    {
        std::lock_guard lock(mutex_);
        if (static_cast<int>(entries_.size()) < capacity_) return false;
        entries_.back().ticks += ticks;
    }
    changed_.notify_all();
    return true;
}

bool FrameQueue::extend(long long ticks) {
    {
        std::lock_guard lock(mutex_);
        if (entries_.empty()) return false;
        entries_.back().ticks += ticks;
    }
    changed_.notify_all();
    return true;
}

void FrameQueue::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
}

void FrameQueue::abandon() {
    {
        std::lock_guard lock(mutex_);
        abandoned_ = true;
    }
    changed_.notify_all();
}

std::optional<QueuedFrame> FrameQueue::take() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (abandoned_) return std::nullopt;
        // Frames wholly encoded go, but the newest stays for stand-ins until
        // the queue is closed; their buffers are grabbed into again.
        while (!entries_.empty() && entries_.front().handed == entries_.front().ticks &&
               (entries_.size() > 1 || closed_)) {
            spares_.push_back(std::move(entries_.front().bgrx));
            entries_.pop_front();
        }
        if (!entries_.empty() && entries_.front().handed < entries_.front().ticks) {
            Entry& front = entries_.front();
            QueuedFrame work{front.bgrx.data(), front.handed == 0, front.first_tick + front.handed,
                             front.ticks - front.handed};
            front.handed = front.ticks;
            return work;
        }
        if (closed_) return std::nullopt;
        changed_.wait(lock);
    }
}

int FrameQueue::frames_queued() {
    std::lock_guard lock(mutex_);
    return static_cast<int>(entries_.size());
}
