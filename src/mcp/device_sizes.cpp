#include "mcp/device_sizes.h"

#include <charconv>

std::optional<KnownSize> DeviceSizes::size_of(const std::string& device) const {
    std::lock_guard lock(mutex_);
    auto found = sizes_.find(device);
    if (found == sizes_.end()) return std::nullopt;
    return found->second;
}

void DeviceSizes::learn(const std::string& device, KnownSize size) {
    std::lock_guard lock(mutex_);
    sizes_[device] = size;
}

void DeviceSizes::forget(const std::string& device) {
    std::lock_guard lock(mutex_);
    sizes_.erase(device);
}

void DeviceSizes::learn_list(const JsonValue& reply) {
    const JsonValue& devices = json_member(reply, "devices");
    std::lock_guard lock(mutex_);
    listed_ = true;
    ids_.clear();
    if (!devices.is_array()) return;
    for (const JsonValue& device : devices) {
        const JsonValue& id = json_member(device, "id");
        if (!id.is_string()) continue;
        ids_.insert(id.get<std::string>());
        std::optional<std::int64_t> width = json_int64(json_member(device, "width"));
        std::optional<std::int64_t> height = json_int64(json_member(device, "height"));
        if (width && height && *width > 0 && *height > 0) {
            sizes_[id.get<std::string>()] = {{*width, *height}, true};
        }
    }
}

bool DeviceSizes::listed() const {
    std::lock_guard lock(mutex_);
    return listed_;
}

bool DeviceSizes::lists(const std::string& device) const {
    std::lock_guard lock(mutex_);
    return ids_.count(device) > 0;
}

namespace {
std::optional<std::int64_t> positive(std::string_view digits) {
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || digits.empty() || value < 1) {
        return std::nullopt;
    }
    return value;
}
}  // namespace

std::optional<PictureSize> parse_size(std::string_view text) {
    std::size_t cut = text.find('x');
    if (cut == std::string_view::npos) return std::nullopt;
    auto width = positive(text.substr(0, cut)), height = positive(text.substr(cut + 1));
    if (!width || !height) return std::nullopt;
    return PictureSize{*width, *height};
}
