#include "fake_app_api.h"

std::string fake_jpeg(int width, int height, std::size_t bytes) {
    std::string jpeg = "\xFF\xD8";
    jpeg += std::string("\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 18);
    jpeg += std::string("\xFF\xC0\x00\x11\x08", 5);
    jpeg += static_cast<char>(height >> 8);
    jpeg += static_cast<char>(height & 0xFF);
    jpeg += static_cast<char>(width >> 8);
    jpeg += static_cast<char>(width & 0xFF);
    jpeg += std::string("\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01", 10);
    if (jpeg.size() + 2 < bytes) jpeg += std::string(bytes - jpeg.size() - 2, 'x');
    return jpeg + "\xFF\xD9";
}

namespace {
std::string text_of(const std::optional<std::string>& value) {
    return value ? *value : "(none)";
}

std::string size_of(const FrameSizeRequest& size) {
    return (size.width ? std::to_string(*size.width) : "-") + "x" + (size.height ? std::to_string(*size.height) : "-");
}
}  // namespace

void FakeAppApi::close_gate() {
    std::lock_guard lock(mutex_);
    gate_open_ = false;
}

void FakeAppApi::open_gate() {
    std::lock_guard lock(mutex_);
    gate_open_ = true;
    changed_.notify_all();
}

void FakeAppApi::wait_for_recording() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return recording_; });
}

std::vector<std::string> FakeAppApi::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

void FakeAppApi::log(const std::string& call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(call);
}

Result<JsonValue> FakeAppApi::json_answer(const std::string& endpoint, const std::string& call) {
    log(call);
    std::lock_guard lock(mutex_);
    auto found = json.find(endpoint);
    if (found == json.end() || !found->second) return JsonValue::object();
    return *found->second;
}

Result<std::string> FakeAppApi::picture_answer(const std::string& call, const FrameSizeRequest& size) {
    log(call);
    if (picture) return picture(size);
    int width = static_cast<int>(size.width.value_or(1280)), height = static_cast<int>(size.height.value_or(720));
    return fake_jpeg(width, height);
}

Result<JsonValue> FakeAppApi::health() {
    return json_answer("health", "health");
}

Result<std::string> FakeAppApi::frame(const std::optional<std::string>& device, const FrameSizeRequest& size) {
    return picture_answer("frame " + text_of(device) + " " + size_of(size), size);
}

Result<std::string> FakeAppApi::screenshot(const FrameSizeRequest& size) {
    return picture_answer("screenshot " + size_of(size), size);
}

Result<JsonValue> FakeAppApi::focus(const std::optional<std::string>& device) {
    return json_answer("focus", "focus " + text_of(device));
}

Result<std::string> FakeAppApi::record(std::uint32_t secs, const std::string& format) {
    log("record " + std::to_string(secs) + " " + format);
    std::unique_lock lock(mutex_);
    recording_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return gate_open_; });
    recording_ = false;
    return recording;
}

Result<JsonValue> FakeAppApi::devices() {
    return json_answer("devices", "devices");
}

Result<JsonValue> FakeAppApi::controls(const std::optional<std::string>& device) {
    return json_answer("controls", "controls " + text_of(device));
}

Result<JsonValue> FakeAppApi::set_control(const std::optional<std::string>& device, const std::string& name,
                                          std::int64_t value) {
    return json_answer("set_control", "set_control " + text_of(device) + " " + name + " " + std::to_string(value));
}

Result<JsonValue> FakeAppApi::sources() {
    return json_answer("sources", "sources");
}

Result<JsonValue> FakeAppApi::add_source(const std::string& name, const std::string& url) {
    return json_answer("add_source", "add_source " + name + " " + url);
}

Result<JsonValue> FakeAppApi::forget_source(const std::string& name) {
    return json_answer("forget_source", "forget_source " + name);
}
