#pragma once
// The full size of each device, learned once, so that a picture beyond the
// budget is asked for at its fitted size straight away: as the app reports it
// (its /devices list, or the X-Vistrel-Source header of a picture), else as
// the first picture of the device at its own size showed it. A size only seen
// in a picture may be out of date unnoticed (the screen's resolution
// changed), so the fitted size is then asked for by one side alone, which the
// app completes in the device's true shape.
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "client/json.h"
#include "mcp/image_budget.h"

struct KnownSize {
    PictureSize size;
    bool reported = false;  // by the app; else seen in a picture
};

class DeviceSizes {
public:
    // `device` as the tools name it: "" for the app's default camera.
    std::optional<KnownSize> size_of(const std::string& device) const;
    void learn(const std::string& device, KnownSize size);
    void forget(const std::string& device);
    // From a /devices reply: the ids listed, and the size of each that has one.
    void learn_list(const JsonValue& reply);
    // Whether a /devices reply has been read, and whether it listed `device`.
    bool listed() const;
    bool lists(const std::string& device) const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, KnownSize> sizes_;
    std::set<std::string> ids_;
    bool listed_ = false;
};

// "WxH" as the app writes sizes (X-Vistrel-Source): both sides whole numbers
// from 1 up; absent for anything else.
std::optional<PictureSize> parse_size(std::string_view text);
