#include "fake_app_api.h"

#include <algorithm>

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

std::string picture_call(const PictureRequest& request) {
    std::string call = size_of(request.size);
    if (const auto& region = request.region) {
        call += " region " + std::to_string(region->x) + "," + std::to_string(region->y) + "," +
                std::to_string(region->width) + "," + std::to_string(region->height);
    }
    return call;
}

// An answer handed over as the app's would come: in pieces.
Result<std::uint64_t> deliver(const Result<std::string>& answer, BodySink& body) {
    if (!answer) return answer.error();
    std::string_view bytes = answer.value();
    body.take(bytes.substr(0, bytes.size() / 2));
    body.take(bytes.substr(bytes.size() / 2));
    return bytes.size();
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

bool FakeAppApi::recording_now() const {
    std::lock_guard lock(mutex_);
    return recording_;
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

Result<std::uint64_t> FakeAppApi::picture_answer(const std::string& call, const PictureRequest& request, BodySink& body,
                                                 ReplyHeaders* headers) {
    log(call);
    std::string device = request.device.value_or("");
    auto known = full_sizes.find(device);
    PictureSize full = known != full_sizes.end() ? known->second : PictureSize{1280, 720};
    PictureSize shown = full;
    ReplyHeaders sent;
    if (reports_sizes) {
        sent.push_back({"X-Vistrel-Source", std::to_string(full.width) + "x" + std::to_string(full.height)});
        if (const auto& region = request.region) {
            std::int64_t left = std::max<std::int64_t>(region->x, 0), top = std::max<std::int64_t>(region->y, 0);
            std::int64_t right = std::min(full.width, region->x + region->width);
            std::int64_t bottom = std::min(full.height, region->y + region->height);
            if (right <= left || bottom <= top) {
                return Failure{"the region lies outside the " + std::to_string(full.width) + "x" +
                               std::to_string(full.height) + " picture"};
            }
            shown = {right - left, bottom - top};
            sent.push_back({"X-Vistrel-Region", std::to_string(left) + "," + std::to_string(top) + "," +
                                                    std::to_string(shown.width) + "," + std::to_string(shown.height)});
        }
    }
    if (request.size.width || request.size.height) {
        shown = {request.size.width.value_or(request.size.height.value_or(0) * shown.width / shown.height),
                 request.size.height.value_or(request.size.width.value_or(0) * shown.height / shown.width)};
    }
    Result<std::string> answer =
        picture ? picture(request)
                : Result<std::string>(fake_jpeg(static_cast<int>(shown.width), static_cast<int>(shown.height)));
    if (answer && headers) *headers = sent;
    return deliver(answer, body);
}

Result<JsonValue> FakeAppApi::health(ExchangeStop&) {
    return json_answer("health", "health");
}

Result<std::uint64_t> FakeAppApi::frame(ExchangeStop&, const PictureRequest& request, BodySink& body,
                                        ReplyHeaders* headers) {
    return picture_answer("frame " + text_of(request.device) + " " + picture_call(request), request, body, headers);
}

Result<std::uint64_t> FakeAppApi::screenshot(ExchangeStop&, const PictureRequest& request, BodySink& body,
                                             ReplyHeaders* headers) {
    PictureRequest screen = request;
    if (!screen.device) screen.device = "screen";
    std::string device = *screen.device == "screen" ? "" : *screen.device + " ";
    return picture_answer("screenshot " + device + picture_call(request), screen, body, headers);
}

Result<JsonValue> FakeAppApi::focus(ExchangeStop&, const std::optional<std::string>& device) {
    return json_answer("focus", "focus " + text_of(device));
}

// Waits at the gate as the app waits out a recording; a stop_recording ends
// it early with the file so far, a stop of the exchange hangs up.
Result<std::uint64_t> FakeAppApi::record(ExchangeStop& stop, const RecordRequest& request, BodySink& body,
                                         ReplyHeaders* headers) {
    log("record " + std::to_string(request.secs) + " " + request.format +
        (request.preview > 0 ? " preview " + std::to_string(request.preview) : ""));
    std::unique_lock lock(mutex_);
    recording_ = true;
    stop_asked_ = false;
    changed_.notify_all();
    while (!gate_open_ && !stop_asked_ && !stop.stopped()) changed_.wait_for(lock, std::chrono::milliseconds(5));
    recording_ = false;
    changed_.notify_all();
    if (stop.stopped()) return Failure{fake_hang_up};
    if (recording && headers && preview_id && request.preview > 0) *headers = {{"X-Vistrel-Preview", *preview_id}};
    return deliver(recording, body);
}

Result<JsonValue> FakeAppApi::stop_recording(ExchangeStop&) {
    Result<JsonValue> answer = json_answer("stop_recording", "stop_recording");
    std::lock_guard lock(mutex_);
    if (answer && recording_) stop_asked_ = true;
    changed_.notify_all();
    return answer;
}

Result<std::uint64_t> FakeAppApi::preview(ExchangeStop&, const std::string& id, BodySink& body) {
    log("preview " + id);
    return deliver(preview_sheet, body);
}

Result<JsonValue> FakeAppApi::devices(ExchangeStop&) {
    return json_answer("devices", "devices");
}

Result<JsonValue> FakeAppApi::windows(ExchangeStop&) {
    return json_answer("windows", "windows");
}

Result<JsonValue> FakeAppApi::controls(ExchangeStop&, const std::optional<std::string>& device) {
    return json_answer("controls", "controls " + text_of(device));
}

Result<JsonValue> FakeAppApi::set_control(ExchangeStop&, const std::optional<std::string>& device,
                                          const std::string& name, std::int64_t value) {
    return json_answer("set_control", "set_control " + text_of(device) + " " + name + " " + std::to_string(value));
}

Result<JsonValue> FakeAppApi::sources(ExchangeStop&) {
    return json_answer("sources", "sources");
}

Result<JsonValue> FakeAppApi::add_source(ExchangeStop&, const std::string& name, const std::string& url) {
    return json_answer("add_source", "add_source " + name + " " + url);
}

Result<JsonValue> FakeAppApi::forget_source(ExchangeStop&, const std::string& name) {
    return json_answer("forget_source", "forget_source " + name);
}
