#pragma once
// The tools: their table (names, descriptions, schemas, annotations) and the
// routines that run them. A tool returns the result of the call: content
// for the model, and isError when the app or the file system said no.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/json.h"
#include "mcp/app_api.h"
#include "mcp/device_sizes.h"
#include "mcp/image_budget.h"

class RecordingDesk;

struct ToolSettings {
    std::string folder;  // where recordings go unless the call names a path
    ImageBudget budget;
    // Recordings longer than this start and return at once, so that no call
    // outlasts the minute that clients wait for an answer by default.
    std::uint32_t longest_waited_recording = 45;
    // How long the recording tool waits for a recording to be saved.
    std::chrono::milliseconds recording_wait{40000};
};

// What a tool may ask of the call it runs in.
class CallControl {
public:
    virtual ~CallControl() = default;
    // The client stopped waiting: the result will not be sent.
    virtual bool cancelled() const = 0;
    // The call will take about this long; progress is reported against it.
    virtual void expect_duration(double seconds) = 0;
    // Stopped when the call is cancelled or the client goes away: every
    // exchange with the app that the call makes takes it.
    virtual ExchangeStop& exchanges() = 0;
};

struct ToolContext {
    AppApi& app;
    const ToolSettings& settings;
    CallControl& call;
    DeviceSizes& sizes;         // learned across calls
    RecordingDesk& recordings;  // the recording that runs past its call

    ExchangeStop& stop() { return call.exchanges(); }
};

// `arguments` has been checked against the tool's input schema.
using ToolRoutine = JsonValue (*)(const JsonValue& arguments, ToolContext& context);

struct Tool {
    std::string name;
    JsonValue listing;  // as tools/list shows it
    ToolRoutine run = nullptr;
};

const std::vector<Tool>& tool_table();
const Tool* find_tool(std::string_view name);

JsonValue run_look(const JsonValue& arguments, ToolContext& context);
JsonValue run_snap(const JsonValue& arguments, ToolContext& context);
JsonValue run_screenshot(const JsonValue& arguments, ToolContext& context);
JsonValue run_windows(const JsonValue& arguments, ToolContext& context);
JsonValue run_focus(const JsonValue& arguments, ToolContext& context);
JsonValue run_record(const JsonValue& arguments, ToolContext& context);
JsonValue run_recording(const JsonValue& arguments, ToolContext& context);
JsonValue run_devices(const JsonValue& arguments, ToolContext& context);
JsonValue run_controls(const JsonValue& arguments, ToolContext& context);
JsonValue run_set_control(const JsonValue& arguments, ToolContext& context);
JsonValue run_status(const JsonValue& arguments, ToolContext& context);
JsonValue run_sources(const JsonValue& arguments, ToolContext& context);
JsonValue run_add_source(const JsonValue& arguments, ToolContext& context);
JsonValue run_forget_source(const JsonValue& arguments, ToolContext& context);
