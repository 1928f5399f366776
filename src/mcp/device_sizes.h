#pragma once
// The full size of each device as the app reports it (its /devices list, or
// the X-Vistrel-Source header of a picture), learned once, so that a picture
// beyond the budget is asked for at its fitted size straight away. Only sizes
// the app reported are kept: with an app that reports none, a picture is
// asked for at the device's own size first, then fitted.
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "client/json.h"
#include "mcp/image_budget.h"

class DeviceSizes {
public:
    // `device` as the tools name it: "" for the app's default camera.
    std::optional<PictureSize> size_of(const std::string& device) const;
    void learn(const std::string& device, PictureSize size);
    // From a /devices reply: the ids listed, and the size of each that has one.
    void learn_list(const JsonValue& reply);
    // Whether a /devices reply has been read, and whether it listed `device`.
    bool listed() const;
    bool lists(const std::string& device) const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, PictureSize> sizes_;
    std::set<std::string> ids_;
    bool listed_ = false;
};

// "WxH" as the app writes sizes (X-Vistrel-Source): both sides whole numbers
// from 1 up; absent for anything else.
std::optional<PictureSize> parse_size(std::string_view text);
