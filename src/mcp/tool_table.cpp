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
     R"("device": {"type": "string", "description": "Which camera: an id from the devices tool (such as \"0\"), or \"net:NAME\" for a registered phone or IP camera. Leave it out for the app's default camera."})"},
    {"@size@",
     R"("width": {"type": "integer", "minimum": 1, "maximum": 16384, "description": "Picture width in pixels. Leave width and height out to get a picture fitted to what you can take in (at most 1568 pixels on the long edge and 1.15 megapixels); give them to ask for an exact size, larger too."},
        "height": {"type": "integer", "minimum": 1, "maximum": 16384, "description": "Picture height in pixels; see width."})"},
    {"@path@",
     R"("path": {"type": "string", "minLength": 1, "description": "Also save the full picture as a JPEG file here (a new file: an existing one is never replaced; a relative path is taken from the server's working folder)."})"},
    {"@closed@", R"("type": "object", "additionalProperties": false)"},
    {"@number_or_null@", R"({"type": ["number", "null"]})"},
    {"@string_or_null@", R"({"type": ["string", "null"]})"},
};

std::string with_shared_pieces(std::string text) {
    for (const auto& [mark, piece] : shared_pieces) {
        for (std::size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, std::strlen(mark), piece);
    }
    return text;
}

const ToolText tool_texts[] = {
    {"look", run_look, R"({
      "title": "Look: focus, then take a photo",
      "description": "Focus the camera, then take a photo and show it to you. Use this to see clearly what is in front of a camera; it takes a few seconds longer than snap because the lens sweeps first. Returns the photo (JPEG) and a line with the locked focus position and its sharpness.",
      "inputSchema": {@closed@, "properties": {@device@,@size@,@path@}},
      "annotations": {"readOnlyHint": false, "destructiveHint": false, "idempotentHint": false, "openWorldHint": false}
    })"},
    {"snap", run_snap, R"({
      "title": "Take a photo",
      "description": "Take a photo with a camera right away, without focusing first, and show it to you. Faster than look; use it for repeated views, or after focus has locked the lens. Returns the photo (JPEG) and a line with its size.",
      "inputSchema": {@closed@, "properties": {@device@,@size@,@path@}},
      "annotations": {"readOnlyHint": false, "destructiveHint": false, "idempotentHint": false, "openWorldHint": false}
    })"},
    {"screenshot", run_screenshot, R"({
      "title": "Capture the screen",
      "description": "Capture the whole screen and show it to you. Use it to see what a program shows. Returns the screenshot (JPEG) and a line with its size.",
      "inputSchema": {@closed@, "properties": {@size@,@path@}},
      "annotations": {"readOnlyHint": false, "destructiveHint": false, "idempotentHint": false, "openWorldHint": false}
    })"},
    {"focus", run_focus, R"({
      "title": "Focus the camera",
      "description": "Sweep the camera's lens through its focus range and lock it at the sharpest position. Use it before several snaps of the same scene, or when photos look blurred. Returns the locked position and its sharpness, and every sample of the sweep as structured content.",
      "inputSchema": {@closed@, "properties": {@device@}},
      "outputSchema": {"type": "object", "required": ["focus", "sharpness", "samples"], "properties": {
        "focus": {"type": ["number", "null"], "description": "The lens position the sweep locked."},
        "sharpness": {"type": ["number", "null"], "description": "The sharpness measured there; higher is sharper."},
        "samples": {"type": "array", "description": "Every position tried, in the order the app tried them.", "items": {"type": "object", "required": ["focus", "sharpness"], "properties": {"focus": @number_or_null@, "sharpness": @number_or_null@}}}}},
      "annotations": {"readOnlyHint": false, "destructiveHint": false, "idempotentHint": true, "openWorldHint": false}
    })"},
    {"record", run_record, R"({
      "title": "Record the screen",
      "description": "Record the screen for a number of seconds and save the video to a new file. Use it to capture something that changes over time; the video is not shown to you. The call lasts as long as the recording, plus a moment to finish the file. Returns the file's path, size and length, and a link to the file.",
      "inputSchema": {@closed@, "properties": {
        "secs": {"type": "integer", "minimum": 1, "maximum": 120, "default": 5, "description": "Length of the recording in seconds."},
        "format": {"type": "string", "enum": ["webm", "mp4"], "default": "webm", "description": "The video container."},
        "path": {"type": "string", "minLength": 1, "description": "Save the video here (a new file: an existing one is never replaced). Left out, a new file with a unique name goes into the server's recordings folder."}}},
      "annotations": {"readOnlyHint": false, "destructiveHint": false, "idempotentHint": false, "openWorldHint": false}
    })"},
    {"devices", run_devices, R"({
      "title": "List the eyes",
      "description": "List every eye the app can see: cameras, the screen and registered phones or IP cameras, with the id to pass as device and whether each can focus. Use it to choose a device for look, snap, focus or controls.",
      "inputSchema": {@closed@},
      "outputSchema": {"type": "object", "required": ["devices"], "properties": {"devices": {"type": "array", "items": {"type": "object", "required": ["id", "name", "focusable"], "properties": {
        "id": {"type": ["string", "null"], "description": "Pass this as device."}, "name": @string_or_null@, "focusable": {"type": "boolean"}}}}}},
      "annotations": {"readOnlyHint": true, "openWorldHint": false}
    })"},
    {"controls", run_controls, R"({
      "title": "List camera controls",
      "description": "List a camera's controls (focus, zoom, exposure and the like) with their ranges and current values. Use set_control to change one.",
      "inputSchema": {@closed@, "properties": {@device@}},
      "outputSchema": {"type": "object", "required": ["controls"], "properties": {"controls": {"type": "array", "items": {"type": "object", "required": ["name", "min", "max", "value"], "properties": {
        "name": @string_or_null@, "min": @number_or_null@, "max": @number_or_null@, "value": @number_or_null@}}}}},
      "annotations": {"readOnlyHint": true, "openWorldHint": false}
    })"},
    {"set_control", run_set_control, R"({
      "title": "Set a camera control",
      "description": "Set one camera control, such as focus, zoom or exposure, to a whole number within its range (see controls). Returns the new value and the value before.",
      "inputSchema": {@closed@, "required": ["name", "value"], "properties": {
        "name": {"type": "string", "minLength": 1, "description": "The control's name, as controls lists it."},
        "value": {"type": "integer", "minimum": -9223372036854775808, "maximum": 9223372036854775807, "description": "The new value."},
        @device@}},
      "outputSchema": {"type": "object", "required": ["control", "value", "was"], "properties": {"control": @string_or_null@, "value": @number_or_null@, "was": @number_or_null@}},
      "annotations": {"readOnlyHint": false, "destructiveHint": false, "idempotentHint": true, "openWorldHint": false}
    })"},
    {"status", run_status, R"({
      "title": "Is the Vistrel app running?",
      "description": "Check that the Vistrel app is running and see what it is set to: its version, its port, the default camera and the capture size. Use it first when another tool says the app cannot be reached.",
      "inputSchema": {@closed@},
      "outputSchema": {"type": "object", "required": ["version", "port", "device", "width", "height"], "properties": {
        "version": @string_or_null@, "port": {"type": ["integer", "null"]}, "device": {"type": ["string", "null"], "description": "The default camera; null when the app picks the best available."},
        "width": {"type": ["integer", "null"]}, "height": {"type": ["integer", "null"]}}},
      "annotations": {"readOnlyHint": true, "openWorldHint": false}
    })"},
    {"sources", run_sources, R"({
      "title": "List phones and IP cameras",
      "description": "List the phones and IP cameras registered with the app. Use one as the device \"net:NAME\" in look, snap or focus.",
      "inputSchema": {@closed@},
      "outputSchema": {"type": "object", "required": ["sources"], "properties": {"sources": {"type": "array", "items": {"type": "object", "required": ["name", "url"], "properties": {"name": @string_or_null@, "url": @string_or_null@}}}}},
      "annotations": {"readOnlyHint": true, "openWorldHint": false}
    })"},
    {"add_source", run_add_source, R"({
      "title": "Register a phone or IP camera",
      "description": "Register a phone or IP camera that serves JPEG snapshots at a URL (such as an IP webcam app on a phone: http://192.168.1.50:8080/shot.jpg) under a short name. Afterwards pass the device \"net:NAME\" to snap or look. A name registered again points at the new URL.",
      "inputSchema": {@closed@, "required": ["name", "url"], "properties": {
        "name": {"type": "string", "description": "A short name for it, such as phone."},
        "url": {"type": "string", "description": "The URL of one JPEG snapshot."}}},
      "outputSchema": {"type": "object", "required": ["added"], "properties": {"added": @string_or_null@}},
      "annotations": {"readOnlyHint": false, "destructiveHint": true, "idempotentHint": true, "openWorldHint": false}
    })"},
    {"forget_source", run_forget_source, R"({
      "title": "Remove a phone or IP camera",
      "description": "Remove a registered phone or IP camera by its name.",
      "inputSchema": {@closed@, "required": ["name"], "properties": {"name": {"type": "string", "description": "The name it was registered under."}}},
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
