#pragma once
// The pieces of a tool's result, and the lenient reading of the app's
// replies into the structured results.
#include <optional>
#include <string>

#include "client/json.h"

JsonValue text_content(std::string text);
JsonValue jpeg_content(std::string_view jpeg);
JsonValue file_link_content(const std::string& absolute_path, std::uint64_t bytes, const std::string& mime_type,
                            const std::string& description);

// {"content":[...]}, with "structuredContent" when one is given.
JsonValue tool_result(JsonValue content, std::optional<JsonValue> structured = std::nullopt);

// A failure as the model sees it: the message alone, and isError.
JsonValue error_result(const std::string& message);

// A member read as the type the tool promises, else null.
JsonValue string_or_null(const JsonValue& value);
JsonValue number_or_null(const JsonValue& value);
JsonValue integer_or_null(const JsonValue& value);

// The optional string argument `name`.
std::optional<std::string> string_argument(const JsonValue& arguments, const char* name);
