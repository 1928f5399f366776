#include "mcp/tool_results.h"

#include "mcp/image_budget.h"
#include "mcp/saved_files.h"

JsonValue text_content(std::string text) {
    return {{"type", "text"}, {"text", std::move(text)}};
}

JsonValue jpeg_content(std::string_view jpeg) {
    return {{"type", "image"}, {"mimeType", "image/jpeg"}, {"data", base64(jpeg)}};
}

JsonValue file_link_content(const std::string& absolute_path, std::uint64_t bytes, const std::string& mime_type,
                            const std::string& description) {
    std::size_t slash = absolute_path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? absolute_path : absolute_path.substr(slash + 1);
    return {{"type", "resource_link"}, {"uri", file_uri(absolute_path)}, {"name", name},
            {"mimeType", mime_type},   {"size", bytes},                   {"description", description}};
}

JsonValue tool_result(JsonValue content, std::optional<JsonValue> structured) {
    JsonValue result = {{"content", std::move(content)}};
    if (structured) result["structuredContent"] = std::move(*structured);
    return result;
}

JsonValue error_result(const std::string& message) {
    return {{"content", JsonValue::array({text_content(message)})}, {"isError", true}};
}

JsonValue string_or_null(const JsonValue& value) {
    return value.is_string() ? value : JsonValue(nullptr);
}

JsonValue number_or_null(const JsonValue& value) {
    return value.is_number() ? value : JsonValue(nullptr);
}

JsonValue integer_or_null(const JsonValue& value) {
    return value.is_number_integer() ? value : JsonValue(nullptr);
}

std::optional<std::string> string_argument(const JsonValue& arguments, const char* name) {
    const JsonValue& value = json_member(arguments, name);
    if (!value.is_string()) return std::nullopt;
    return value.get<std::string>();
}
