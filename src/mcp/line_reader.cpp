#include "mcp/line_reader.h"

LineReader::LineReader(std::size_t max_line, std::function<void(std::string_view)> on_line,
                       std::function<void()> on_too_long)
    : max_line_(max_line), on_line_(std::move(on_line)), on_too_long_(std::move(on_too_long)) {}

void LineReader::feed(std::string_view bytes) {
    while (!bytes.empty()) {
        std::size_t feed = bytes.find('\n');
        std::string_view piece = bytes.substr(0, feed);
        if (!dropping_) {
            if (pending_.size() + piece.size() > max_line_) {
                // Said once, when the line outgrows the limit; the rest of it is skipped.
                pending_.clear();
                dropping_ = true;
                on_too_long_();
            } else if (feed != std::string_view::npos && pending_.empty()) {
                on_line_(piece);  // the usual case: no copy
            } else {
                pending_.append(piece);
                if (feed != std::string_view::npos) {
                    on_line_(pending_);
                    pending_.clear();
                }
            }
        }
        if (feed == std::string_view::npos) return;
        dropping_ = false;
        bytes.remove_prefix(feed + 1);
    }
}

void LineReader::end() {
    if (!dropping_ && !pending_.empty()) on_line_(pending_);
    pending_.clear();
    dropping_ = false;
}
