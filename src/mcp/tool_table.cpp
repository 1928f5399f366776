// The tools as a model sees them. Descriptions say what a tool does, when to
// use it and what comes back; the input schemas are also what the arguments
// are checked against.
#include <cstring>
#include <utility>

#include "mcp/tools.h"

namespace {
struct ToolText {
    const char* name;
    ToolRoutine run;
    const char* listing;  // JSON, without the name
};

// Pieces that several listings share, written into them where "@name@" stands.
const std::pair<const char*, const char*> shared_pieces[] = {
    {"@device@",
     R"("device": {"type": "string", "description": "An id from devices, such as \"0\" or \"net:NAME\"; left out: the app's camera."})"},
    // The app takes 16 to 4096 pixels a side of a camera, up to 8192 of the screen.
    {"@camera_size@",
     R"("width": {"type": "integer", "minimum": 16, "maximum": 4096, "description": "Left out with height: fitted to what you can take in."},
        "height": {"type": "integer", "minimum": 16, "maximum": 4096})"},
    {"@screen_size@",
     R"("width": {"type": "integer", "minimum": 16, "maximum": 8192, "description": "Left out with height: fitted to what you can take in."},
        "height": {"type": "integer", "minimum": 16, "maximum": 8192})"},
    {"@region@",
     R"("region": {"type": "object", "required": ["x", "y", "width", "height"], "additionalProperties": false, "description": "Only this part, at full resolution, in the pixels a picture's text line names.",
        "properties": {"x": {"type": "integer"}, "y": {"type": "integer"}, "width": {"type": "integer", "minimum": 1}, "height": {"type": "integer", "minimum": 1}}})"},
    {"@save@",
     R"("save": {"type": "boolean", "description": "Also save the full picture to a new file in the server's folder."})"},
    {"@closed@", R"("type": "object", "additionalProperties": false)"},
    {"@looks@", R"({"readOnlyHint": true, "openWorldHint": false})"},
    {"@number_or_null@", R"({"type": ["number", "null"]})"},
    {"@string_or_null@", R"({"type": ["string", "null"]})"},
};

std::string with_shared_pieces(std::string text) {
    for (const auto& [mark, piece] : shared_pieces) {
        for (std::size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, std::strlen(mark), piece);
    }
    return text;
}

// Pictures only look: they are read-only. `save` writes a new file into the
// server's own folder, as a picture too large to show goes there, never
// elsewhere; look also moves the lens.
const ToolText tool_texts[] = {
    {"look", run_look, R"({
      "title": "Look: focus, then take a photo",
      "description": "Focus the camera, then take a photo and show it to you: the sharpest view of what is in front of a camera, a few seconds slower than snap. Returns the photo and a line with the focus and how its pixels map to the camera's.",
      "inputSchema": {@closed@, "properties": {@device@, @region@, @camera_size@, @save@}},
      "annotations": {"readOnlyHint": false, "destructiveHint": false, "idempotentHint": false, "openWorldHint": false}
    })"},
    {"snap", run_snap, R"({
      "title": "Take a photo",
      "description": "Take a photo with a camera at once, without focusing, and show it to you. Returns the photo and a line with its size and how its pixels map to the camera's.",
      "inputSchema": {@closed@, "properties": {@device@, @region@, @camera_size@, @save@}},
      "annotations": @looks@
    })"},
    {"screenshot", run_screenshot, R"({
      "title": "Capture the screen",
      "description": "Capture the screen, one monitor or one window and show it to you. To read small text, look at the whole first, then ask for that region at full resolution. Returns the picture and a line with its size and how its pixels map to the screen's.",
      "inputSchema": {@closed@, "properties": {
        "monitor": {"type": "integer", "minimum": 1, "description": "Only this monitor, 1 the leftmost."},
        "window": {"type": "string", "minLength": 1, "description": "Only this window: an id from windows, or a piece of its title."},
        @region@, @screen_size@, @save@}},
      "annotations": @looks@
    })"},
    {"windows", run_windows, R"({
      "title": "List the windows",
      "description": "List the windows on the screen: id, title, program, place, size, monitor, and which has the focus. Pass an id to screenshot as window.",
      "inputSchema": {@closed@},
      "outputSchema": {"type": "object", "required": ["windows"], "properties": {"windows": {"type": "array", "items": {"type": "object"}}}},
      "annotations": @looks@
    })"},
    {"focus", run_focus, R"({
      "title": "Focus the camera",
      "description": "Sweep the camera's lens through its focus range and lock it at the sharpest position. Use it before several snaps of the same scene, or when photos look blurred. Returns the locked position, its sharpness and every sample of the sweep.",
      "inputSchema": {@closed@, "properties": {@device@}},
      "outputSchema": {"type": "object", "required": ["focus", "sharpness", "samples"], "properties": {
        "focus": @number_or_null@, "sharpness": {"type": ["number", "null"], "description": "Higher is sharper."},
        "samples": {"type": "array", "items": {"type": "object", "required": ["focus", "sharpness"], "properties": {"focus": @number_or_null@, "sharpness": @number_or_null@}}}}},
      "annotations": {"readOnlyHint": false, "destructiveHint": false, "idempotentHint": true, "openWorldHint": false}
    })"},
    {"record", run_record, R"({
      "title": "Record the screen",
      "description": "Record the screen to a new video file, which you do not see (preview shows frames of it). Up to 45 s the call ends once the file is saved; a longer one returns at once with the file's path and when it will be saved: then call recording. Returns the path, size and length, and a link to the file.",
      "inputSchema": {@closed@, "properties": {
        "secs": {"type": "integer", "minimum": 1, "maximum": 120, "default": 5},
        "format": {"type": "string", "enum": ["webm", "mp4"], "default": "webm"},
        "preview": {"type": "integer", "minimum": 0, "maximum": 36, "default": 0, "description": "Also show this many frames from even times, in one picture."},
        "path": {"type": "string", "minLength": 1, "description": "Save the video here, as a new file; left out: in the server's folder."}}},
      "annotations": {"readOnlyHint": false, "destructiveHint": false, "idempotentHint": false, "openWorldHint": false}
    })"},
    {"recording", run_recording, R"({
      "title": "Wait for or stop a long recording",
      "description": "Wait, at most 40 s, for the recording that record started to be saved, and return it as record does. With stop, end it now and keep what was recorded.",
      "inputSchema": {@closed@, "properties": {"stop": {"type": "boolean", "default": false}}},
      "annotations": {"readOnlyHint": false, "destructiveHint": false, "idempotentHint": false, "openWorldHint": false}
    })"},
    {"devices", run_devices, R"({
      "title": "List the eyes",
      "description": "List every eye: cameras, the screen and its monitors (screen:N), and registered phones or IP cameras, with the id to pass as device and whether each can focus.",
      "inputSchema": {@closed@},
      "outputSchema": {"type": "object", "required": ["devices"], "properties": {"devices": {"type": "array", "items": {"type": "object", "required": ["id", "name", "focusable"], "properties": {
        "id": @string_or_null@, "name": @string_or_null@, "focusable": {"type": "boolean"}}}}}},
      "annotations": @looks@
    })"},
    {"controls", run_controls, R"({
      "title": "List camera controls",
      "description": "List a camera's controls (focus, zoom, exposure and the like) with their ranges and current values. Use set_control to change one.",
      "inputSchema": {@closed@, "properties": {@device@}},
      "outputSchema": {"type": "object", "required": ["controls"], "properties": {"controls": {"type": "array", "items": {"type": "object", "required": ["name", "min", "max", "value"], "properties": {
        "name": @string_or_null@, "min": @number_or_null@, "max": @number_or_null@, "value": @number_or_null@}}}}},
      "annotations": @looks@
    })"},
    {"set_control", run_set_control, R"({
      "title": "Set a camera control",
      "description": "Set one camera control, such as focus, zoom or exposure, to a whole number within the range controls lists. Returns the new value and the value before.",
      "inputSchema": {@closed@, "required": ["name", "value"], "properties": {
        "name": {"type": "string", "minLength": 1},
        "value": {"type": "integer"},
        @device@}},
      "outputSchema": {"type": "object", "required": ["control", "value", "was"], "properties": {"control": @string_or_null@, "value": @number_or_null@, "was": @number_or_null@}},
      "annotations": {"readOnlyHint": false, "destructiveHint": false, "idempotentHint": true, "openWorldHint": false}
    })"},
    {"status", run_status, R"({
      "title": "Is the Vistrel app running?",
      "description": "Check that the Vistrel app is running: its version, port, default camera and capture size. Use it first when another tool cannot reach the app.",
      "inputSchema": {@closed@},
      "outputSchema": {"type": "object", "required": ["version", "port", "device", "width", "height"], "properties": {
        "version": @string_or_null@, "port": {"type": ["integer", "null"]}, "device": {"type": ["string", "null"], "description": "null: the best camera available."},
        "width": {"type": ["integer", "null"]}, "height": {"type": ["integer", "null"]}}},
      "annotations": @looks@
    })"},
    {"sources", run_sources, R"({
      "title": "List phones and IP cameras",
      "description": "List the phones and IP cameras registered with the app. Use one as the device \"net:NAME\".",
      "inputSchema": {@closed@},
      "outputSchema": {"type": "object", "required": ["sources"], "properties": {"sources": {"type": "array", "items": {"type": "object", "required": ["name", "url"], "properties": {"name": @string_or_null@, "url": @string_or_null@}}}}},
      "annotations": @looks@
    })"},
    {"add_source", run_add_source, R"({
      "title": "Register a phone or IP camera",
      "description": "Register a phone or IP camera that serves a JPEG snapshot at a URL (such as http://192.168.1.50:8080/shot.jpg) under a short name, then use the device \"net:NAME\". A name registered again points at the new URL.",
      "inputSchema": {@closed@, "required": ["name", "url"], "properties": {"name": {"type": "string"}, "url": {"type": "string"}}},
      "outputSchema": {"type": "object", "required": ["added"], "properties": {"added": @string_or_null@}},
      "annotations": {"readOnlyHint": false, "destructiveHint": true, "idempotentHint": true, "openWorldHint": false}
    })"},
    {"forget_source", run_forget_source, R"({
      "title": "Remove a phone or IP camera",
      "description": "Remove a registered phone or IP camera by its name.",
      "inputSchema": {@closed@, "required": ["name"], "properties": {"name": {"type": "string"}}},
      "outputSchema": {"type": "object", "required": ["removed"], "properties": {"removed": @string_or_null@}},
      "annotations": {"readOnlyHint": false, "destructiveHint": true, "idempotentHint": true, "openWorldHint": false}
    })"},
};
}  // namespace

const std::vector<Tool>& tool_table() {
    static const std::vector<Tool> table = [] {
        std::vector<Tool> tools;
        for (const ToolText& text : tool_texts) {
            JsonValue listing = JsonValue::parse(with_shared_pieces(text.listing));
            listing["name"] = text.name;
            tools.push_back({text.name, std::move(listing), text.run});
        }
        return tools;
    }();
    return table;
}

const Tool* find_tool(std::string_view name) {
    for (const Tool& tool : tool_table()) {
        if (tool.name == name) return &tool;
    }
    return nullptr;
}
