#pragma once
// One handler per command word, and the routines the saving commands share.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "client/json.h"
#include "client/save.h"

void run_snap();
void run_screenshot();
void run_focus();
void run_look();
void run_record();
void run_status();
void run_devices();
void run_controls();
void run_set();
void run_add_source();
void run_sources();
void run_forget_source();

// Asks for one frame of --device at --size and saves it (--out or
// "vistrel.jpg"); a failure ends the process.
SavedFile capture_frame();

// "{path}  {bytes} bytes", or the compact JSON line with --json.
void report_saved(const SavedFile& saved);

// The text `focus` prints for a sweep reply: the summary line and one bar
// per sample, ordered by lens position.
std::string focus_chart(const JsonValue& reply);

// The whole-number rule of `set`: optional sign, ASCII digits, signed 64-bit.
std::optional<std::int64_t> parse_whole_number(std::string_view text);

// The --secs rule of `record`: optional "+", ASCII digits, unsigned 32-bit.
std::optional<std::uint32_t> parse_seconds(std::string_view text);
