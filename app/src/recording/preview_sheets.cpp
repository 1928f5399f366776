#include "recording/preview_sheets.h"

#include <random>

void PreviewSheets::forget_old(std::chrono::steady_clock::time_point now) {
    while (!sheets_.empty() && (sheets_.size() > kept || now - sheets_.front().made > kept_for)) sheets_.pop_front();
}

std::string PreviewSheets::keep(std::string jpeg) {
    std::lock_guard lock(mutex_);
    // A count and a random part: an id names one sheet of this app only.
    static thread_local std::mt19937 random{std::random_device{}()};
    std::string id = std::to_string(++made_) + "-" + std::to_string(random() % 1000000);
    auto now = std::chrono::steady_clock::now();
    sheets_.push_back({id, now, std::move(jpeg)});
    forget_old(now);
    return id;
}

std::optional<std::string> PreviewSheets::find(std::string_view id) {
    std::lock_guard lock(mutex_);
    forget_old(std::chrono::steady_clock::now());
    for (const auto& sheet : sheets_) {
        if (sheet.id == id) return sheet.jpeg;
    }
    return std::nullopt;
}
