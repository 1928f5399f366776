#pragma once
// Checks a value against the part of JSON Schema that the tools' input
// schemas use: type, properties, required, additionalProperties, enum,
// minimum, maximum, minLength. A whole number ("integer") must also fit a
// signed 64-bit integer.
#include <optional>
#include <string>

#include "client/json.h"

// Absent when `value` fits `schema`; else the first problem, worded for the
// model that sent it ("width must be at least 1"). `name` names the value.
std::optional<std::string> schema_problem(const JsonValue& schema, const JsonValue& value, const std::string& name);

// An integer in the sense of JSON Schema (60 and 60.0 alike) that fits a
// signed 64-bit integer.
std::optional<std::int64_t> whole_number(const JsonValue& value);
