// look, snap, screenshot and focus: pictures inline, fitted to what a model
// takes, each with a line that maps its pixels to the device's, so that the
// model can ask for a region at full resolution; and the focus sweep.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "mcp/saved_files.h"
#include "mcp/schema_check.h"
#include "mcp/tool_results.h"
#include "mcp/tools.h"

namespace {
// What a picture tool shows, and what its pixels are called in the text.
struct PictureSource {
    PictureRequest request;  // the device and the region; the size is chosen per request
    std::string key;         // the device as DeviceSizes knows it: "" for the default camera
    std::string unit;        // "screen", "monitor", "window" or "camera"
    bool screen = false;     // asked through the screen's endpoint
};

struct Picture {
    std::string jpeg;
    PictureSize size;
    ReplyHeaders headers;
};

// A picture in memory and, when `copy` is given, in a new file as it arrives.
struct PictureSink final : BodySink {
    std::string bytes;
    NewFileSink* copy = nullptr;

    void take(std::string_view piece) override {
        bytes.append(piece);
        if (copy) copy->take(piece);
    }
};

const std::string not_a_jpeg = "the app's answer is not a JPEG picture";

Result<Picture> fetch_picture(ToolContext& context, const PictureSource& source, const FrameSizeRequest& size,
                              NewFileSink* copy = nullptr) {
    PictureRequest request = source.request;
    request.size = size;
    PictureSink sink;
    sink.copy = copy;
    Picture picture;
    Result<std::uint64_t> fetched = source.screen
                                        ? context.app.screenshot(context.stop(), request, sink, &picture.headers)
                                        : context.app.frame(context.stop(), request, sink, &picture.headers);
    if (!fetched) return fetched.error();
    std::optional<PictureSize> declared = jpeg_size(sink.bytes);
    if (!declared) return Failure{not_a_jpeg};
    picture.jpeg = std::move(sink.bytes);
    picture.size = *declared;
    return picture;
}

std::string size_text(PictureSize size) {
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}

std::string region_text(const Region& region) {
    return std::to_string(region.x) + "," + std::to_string(region.y) + "," + std::to_string(region.width) + "," +
           std::to_string(region.height);
}

// "x,y,w,h" as the app writes a region (X-Vistrel-Region).
std::optional<Region> parse_region(std::string_view text) {
    std::int64_t values[4];
    for (int i = 0; i < 4; ++i) {
        std::size_t comma = i < 3 ? text.find(',') : text.size();
        if (comma == std::string_view::npos) return std::nullopt;
        std::string_view digits = text.substr(0, comma);
        char* end = nullptr;
        std::string copy(digits);
        values[i] = std::strtoll(copy.c_str(), &end, 10);
        if (copy.empty() || *end != '\0') return std::nullopt;
        text.remove_prefix(std::min(text.size(), comma + 1));
    }
    if (values[2] < 1 || values[3] < 1) return std::nullopt;
    return Region{values[0], values[1], values[2], values[3]};
}

// The region as the app clips it to the device; absent when nothing of it
// lies on the device (the app refuses it and says why).
std::optional<PictureSize> clipped_size(const Region& region, PictureSize device) {
    std::int64_t left = std::max<std::int64_t>(region.x, 0), top = std::max<std::int64_t>(region.y, 0);
    std::int64_t right = std::min(device.width, region.x + region.width);
    std::int64_t bottom = std::min(device.height, region.y + region.height);
    if (right <= left || bottom <= top) return std::nullopt;
    return PictureSize{right - left, bottom - top};
}

// The full size of what a source shows on a device of `device` size.
std::optional<PictureSize> shown_whole(const PictureSource& source, PictureSize device) {
    if (source.request.region) return clipped_size(*source.request.region, device);
    return device;
}

std::string ratio_text(double ratio) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", ratio);
    return text;
}

// "1429x804 JPEG, 18987 bytes, scaled down from 1920x1080 (1.344 screen
// pixels per picture pixel); region x,y,w,h are in screen pixels", with the
// region and the device's size when the picture shows a region.
std::string picture_line(const Picture& picture, const PictureSource& source, std::optional<PictureSize> whole,
                         std::optional<PictureSize> device, std::optional<Region> region) {
    std::string text = size_text(picture.size) + " JPEG, " + std::to_string(picture.jpeg.size()) + " bytes";
    if (region) {
        text += ": the region " + region_text(*region);
        if (device) text += " of the " + size_text(*device) + " " + source.unit;
    }
    if (!whole) return text;
    if (picture.size == *whole) {
        text += region ? " at full resolution" : ", full resolution";
    } else {
        double across = static_cast<double>(whole->width) / static_cast<double>(picture.size.width);
        double down = static_cast<double>(whole->height) / static_cast<double>(picture.size.height);
        std::string ratio = ratio_text(across);
        if (std::abs(across - down) > across * 0.01) ratio += " x " + ratio_text(down);
        text += std::string(", scaled ") + (across >= 1 ? "down" : "up") + " from " + size_text(*whole) + " (" + ratio +
                " " + source.unit + " pixels per picture pixel)";
    }
    return text + "; region x,y,w,h are in " + source.unit + " pixels";
}

FrameSizeRequest asked_size(const JsonValue& arguments) {
    FrameSizeRequest size;
    size.width = whole_number(json_member(arguments, "width"));
    size.height = whole_number(json_member(arguments, "height"));
    return size;
}

std::optional<Region> asked_region(const JsonValue& arguments) {
    const JsonValue& region = json_member(arguments, "region");
    if (!region.is_object()) return std::nullopt;
    return Region{*whole_number(region["x"]), *whole_number(region["y"]), *whole_number(region["width"]),
                  *whole_number(region["height"])};
}

// Reads the app's device list once, for the sizes it gives; a failure is
// left to the picture's own request to report.
void learn_devices(ToolContext& context) {
    if (context.sizes.listed()) return;
    Result<JsonValue> listed = context.app.devices(context.stop());
    if (listed) context.sizes.learn_list(listed.value());
}

// The size to ask for first: the fitted size when the device's size is known
// and what is shown is beyond the budget; else none, the picture's own. A
// size the app reported is asked for whole; one only seen in a picture by
// its long side alone, so that the app keeps the device's true shape, and
// short enough that the app's rounding of the other side stays within the
// pixel budget.
FrameSizeRequest first_size(const ImageBudget& budget, const PictureSource& source, std::optional<KnownSize> known) {
    if (!known || (!known->reported && source.request.region)) return {};
    std::optional<PictureSize> whole = shown_whole(source, known->size);
    if (!whole || fits_budget(budget, *whole, 0)) return {};
    PictureSize target = fitting_size(budget, *whole, 0);
    if (known->reported) return {target.width, target.height};
    bool wide = whole->width >= whole->height;
    std::int64_t across = wide ? whole->width : whole->height, other = wide ? whole->height : whole->width;
    std::int64_t side = wide ? target.width : target.height;
    while (side > 1 && side * ((side * other + across - 1) / across) > budget.pixels) --side;
    return wide ? FrameSizeRequest{side, std::nullopt} : FrameSizeRequest{std::nullopt, side};
}

// Whether a picture asked for by one side has the shape of the size seen
// before: else the device has changed since.
bool same_shape(const FrameSizeRequest& asked, PictureSize got, PictureSize seen) {
    if (asked.width) {
        return got.width == *asked.width && std::abs(got.height * seen.width - got.width * seen.height) <= seen.width;
    }
    return asked.height && got.height == *asked.height &&
           std::abs(got.width * seen.height - got.height * seen.width) <= seen.height;
}

// Asks for the picture: at the size the caller gave; else fitted to the
// budget straight away when the device's size is known, else at its own size
// and then again at a fitting size. With `save`, the full picture also goes to
// a new file in the server's folder. A picture that still does not fit goes
// to a file instead of inline.
JsonValue picture_result(ToolContext& context, const JsonValue& arguments, const PictureSource& source,
                         std::string lead, const char* file_stem) {
    const ImageBudget& budget = context.settings.budget;
    FrameSizeRequest asked = asked_size(arguments);
    bool size_given = asked.width || asked.height;
    bool save = json_member(arguments, "save") == true;
    if (!size_given) learn_devices(context);
    std::optional<KnownSize> known = context.sizes.size_of(source.key);

    // The full picture goes to its file as it arrives; an answer that fails
    // or is not a JPEG leaves no file there.
    std::optional<NewFileSink> full_copy;
    if (save) full_copy.emplace(fresh_name(context.settings.folder, file_stem, "jpg"));
    FrameSizeRequest first = size_given || save ? asked : first_size(budget, source, known);
    bool fitted_ahead = first.width || first.height;
    if (size_given) fitted_ahead = false;
    Result<Picture> answer = fetch_picture(context, source, first, full_copy ? &*full_copy : nullptr);
    if (!answer) return error_result(answer.error().message);
    Picture picture = std::move(answer).value();

    std::optional<PictureSize> device;
    if (auto header = header_value(picture.headers, "X-Vistrel-Source")) device = parse_size(*header);
    std::optional<Region> region;
    if (auto header = header_value(picture.headers, "X-Vistrel-Region")) region = parse_region(*header);
    if (source.request.region && !region) {
        return error_result("this Vistrel app cannot show a region of a picture; a newer one can");
    }
    // The full size of what the picture shows: the region, else the device.
    std::optional<PictureSize> whole = device;
    if (device) {
        context.sizes.learn(source.key, {*device, true});
        // A size learned before may be out of date (the screen's resolution
        // changed): the picture is asked for again at the size that fits now.
        if (fitted_ahead && !(*device == known->size)) {
            Result<Picture> again =
                fetch_picture(context, source, first_size(budget, source, KnownSize{*device, true}));
            if (!again) return error_result(again.error().message);
            picture = std::move(again).value();
        }
    } else if (!fitted_ahead && !size_given && !source.request.region) {
        // The device at its own size: seen, though not reported.
        whole = picture.size;
        context.sizes.learn(source.key, {picture.size, false});
    } else if (fitted_ahead && known && !known->reported) {
        whole = known->size;
        if (!same_shape(first, picture.size, known->size)) {
            // The device has changed since its size was seen: it is looked at
            // anew at its own size.
            context.sizes.forget(source.key);
            Result<Picture> again = fetch_picture(context, source, {});
            if (!again) return error_result(again.error().message);
            picture = std::move(again).value();
            whole = picture.size;
            context.sizes.learn(source.key, {picture.size, false});
        }
    }
    if (region) whole = PictureSize{region->width, region->height};
    PictureSize full = picture.size;

    std::optional<SavedFile> saved;
    if (full_copy) {
        Result<SavedFile> stored = full_copy->finish();
        if (!stored) return error_result(stored.error().message);
        saved = std::move(stored).value();
    }

    // Three tries: the first smaller picture nearly always fits; one that is
    // still too heavy is asked for smaller again.
    for (int tries = 0; !size_given && !fits_budget(budget, picture.size, picture.jpeg.size()) && tries < 3; ++tries) {
        if (context.call.cancelled()) return error_result("cancelled");
        PictureSize target = fitting_size(budget, picture.size, picture.jpeg.size());
        Result<Picture> smaller = fetch_picture(context, source, {target.width, target.height});
        if (!smaller) return error_result(smaller.error().message);
        picture = std::move(smaller).value();
    }

    std::string text = lead + picture_line(picture, source, whole, device, region);
    if (saved) {
        text += "\nsaved the full picture (" + size_text(full) + ", " + std::to_string(saved->bytes) + " bytes) to " +
                saved->path;
    }
    if (size_given || fits_budget(budget, picture.size, picture.jpeg.size())) {
        return tool_result(JsonValue::array({text_content(std::move(text)), jpeg_content(picture.jpeg)}));
    }
    // The app gave no picture that fits: the model gets the file instead.
    if (!saved) {
        Result<SavedFile> stored = save_new_file(fresh_name(context.settings.folder, file_stem, "jpg"), picture.jpeg);
        if (!stored) return error_result(stored.error().message);
        saved = std::move(stored).value();
    }
    text += "\nthe picture is too large to show inline; it is in " + saved->path;
    return tool_result(JsonValue::array(
        {text_content(std::move(text)), file_link_content(saved->path, saved->bytes, "image/jpeg", "the picture")}));
}

// What a device id names: a monitor, a window, the screen, or a camera.
std::string unit_of(const std::string& device) {
    if (device.rfind("screen:", 0) == 0) return "monitor";
    if (device == "screen") return "screen";
    if (device.rfind("window:", 0) == 0) return "window";
    return "camera";
}

PictureSource camera_source(const JsonValue& arguments) {
    PictureSource source;
    source.request.device = string_argument(arguments, "device");
    source.request.region = asked_region(arguments);
    source.key = source.request.device.value_or("");
    source.unit = unit_of(source.key);
    return source;
}

std::string lower_ascii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// The window named by an id from the windows tool, or by a piece of its
// title: its device id and a line naming it; or why none is meant.
Result<std::pair<std::string, std::string>> find_window(ToolContext& context, const std::string& wanted) {
    Result<JsonValue> answer = context.app.windows(context.stop());
    if (!answer) return answer.error();
    const JsonValue& windows = json_member(answer.value(), "windows");
    std::vector<const JsonValue*> matches;
    if (windows.is_array()) {
        for (const JsonValue& window : windows) {
            if (json_member(window, "id") == wanted)
                return std::pair{"window:" + wanted, json_text(json_member(window, "title"))};
        }
        for (const JsonValue& window : windows) {
            std::string title = json_string_or(json_member(window, "title"), "");
            if (json_member(window, "id").is_string() &&
                lower_ascii(title).find(lower_ascii(wanted)) != std::string::npos) {
                matches.push_back(&window);
            }
        }
    }
    if (matches.size() == 1) {
        const JsonValue& window = *matches.front();
        return std::pair{"window:" + json_member(window, "id").get<std::string>(),
                         json_text(json_member(window, "title"))};
    }
    if (matches.empty()) {
        return Failure{"no window has the id or a title holding " + json_text(wanted) +
                       "; the windows tool lists them"};
    }
    std::string list;
    for (const JsonValue* window : matches) {
        list += (list.empty() ? "" : ", ") + json_member(*window, "id").get<std::string>() + " " +
                json_text(json_member(*window, "title"));
    }
    return Failure{std::to_string(matches.size()) + " windows have a title holding " + json_text(wanted) + ": " + list +
                   "; give one's id"};
}

std::string focus_line(const JsonValue& sweep) {
    return "focus " + json_text(json_member(sweep, "focus")) + " (sharpness " +
           whole_number_text(json_number_or(json_member(sweep, "sharpness"), 0)) + ")";
}
}  // namespace

JsonValue run_snap(const JsonValue& arguments, ToolContext& context) {
    return picture_result(context, arguments, camera_source(arguments), "", "vistrel-photo");
}

JsonValue run_screenshot(const JsonValue& arguments, ToolContext& context) {
    std::optional<std::int64_t> monitor = whole_number(json_member(arguments, "monitor"));
    std::optional<std::string> window = string_argument(arguments, "window");
    if (monitor && window) return error_result("screenshot: give monitor or window, not both");
    PictureSource source;
    source.screen = true;
    source.request.region = asked_region(arguments);
    source.key = "screen";
    source.unit = "screen";
    std::string lead;
    if (monitor) {
        // Monitors are devices of their own only where there are several; the
        // one monitor of a single-monitor screen is the screen.
        learn_devices(context);
        std::string device = "screen:" + std::to_string(*monitor);
        bool listed = context.sizes.lists(device);
        if (!listed && *monitor == 1 && context.sizes.listed() && context.sizes.lists("screen")) {
            device = "screen";
        } else if (!listed && context.sizes.listed()) {
            return error_result("there is no monitor " + std::to_string(*monitor) +
                                "; the devices tool lists them as screen:N");
        } else {
            source.unit = "monitor";
        }
        source.key = device;
        lead = device == "screen" ? "" : "monitor " + std::to_string(*monitor) + "\n";
    } else if (window) {
        Result<std::pair<std::string, std::string>> found = find_window(context, *window);
        if (!found) return error_result(found.error().message);
        source.key = found.value().first;
        source.unit = "window";
        lead = found.value().first + " " + found.value().second + "\n";
    }
    if (source.key != "screen") source.request.device = source.key;
    return picture_result(context, arguments, source, lead, "vistrel-screen");
}

JsonValue run_look(const JsonValue& arguments, ToolContext& context) {
    Result<JsonValue> focused = context.app.focus(context.stop(), string_argument(arguments, "device"));
    if (!focused) return error_result(focused.error().message);
    std::string lead = focus_line(json_member(focused.value(), "sweep")) + "\n";
    return picture_result(context, arguments, camera_source(arguments), lead, "vistrel-photo");
}

JsonValue run_focus(const JsonValue& arguments, ToolContext& context) {
    Result<JsonValue> focused = context.app.focus(context.stop(), string_argument(arguments, "device"));
    if (!focused) return error_result(focused.error().message);
    const JsonValue& sweep = json_member(focused.value(), "sweep");
    JsonValue samples = JsonValue::array();
    const JsonValue& listed = json_member(sweep, "samples");
    if (listed.is_array()) {
        for (const JsonValue& sample : listed) {
            samples.push_back({{"focus", number_or_null(json_member(sample, "focus"))},
                               {"sharpness", number_or_null(json_member(sample, "sharpness"))}});
        }
    }
    std::string text = "locked focus " + json_text(json_member(sweep, "focus")) + " \u00b7 sharpness " +
                       whole_number_text(json_number_or(json_member(sweep, "sharpness"), 0)) + " \u00b7 " +
                       std::to_string(samples.size()) + " samples";
    JsonValue structured = {{"focus", number_or_null(json_member(sweep, "focus"))},
                            {"sharpness", number_or_null(json_member(sweep, "sharpness"))},
                            {"samples", std::move(samples)}};
    return tool_result(JsonValue::array({text_content(std::move(text))}), std::move(structured));
}
