#pragma once
// Reading the JSON object of a POST body. Every problem is a bad-argument Fault with a
// message that names the member and what it should hold.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

nlohmann::json parse_json_object(const std::string& body);

// Absent and null both read as "not given".
std::optional<std::string> optional_string_member(const nlohmann::json& object, const char* key);
std::string required_string_member(const nlohmann::json& object, const char* key);
std::optional<std::int64_t> optional_integer_member(const nlohmann::json& object, const char* key);
std::int64_t required_integer_member(const nlohmann::json& object, const char* key);
