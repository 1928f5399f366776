#pragma once
// The contact sheets of recent recordings, kept for a while so that the
// client that asked for one can fetch it after the recording's own reply.
#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

class PreviewSheets {
public:
    static constexpr std::size_t kept = 8;
    static constexpr std::chrono::minutes kept_for{10};

    // Keeps the sheet and gives the id to fetch it by.
    std::string keep(std::string jpeg);
    // The sheet, while it is kept.
    std::optional<std::string> find(std::string_view id);

private:
    struct Sheet {
        std::string id;
        std::chrono::steady_clock::time_point made;
        std::string jpeg;
    };
    void forget_old(std::chrono::steady_clock::time_point now);

    std::mutex mutex_;
    std::deque<Sheet> sheets_;
    unsigned long long made_ = 0;
};
