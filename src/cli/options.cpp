#include "cli/options.h"

#include "cli/output.h"
#include "client/endpoints.h"

namespace {
std::vector<std::string> process_arguments;
std::vector<std::string> positional_arguments;

bool begins_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}
}  // namespace

void set_arguments(std::vector<std::string> arguments) {
    process_arguments = std::move(arguments);
    positional_arguments.clear();
    for (std::size_t i = 1; i < process_arguments.size(); ++i) {
        if (!begins_with(process_arguments[i], "--")) positional_arguments.push_back(process_arguments[i]);
    }
}

const std::vector<std::string>& arguments() {
    return process_arguments;
}

const std::vector<std::string>& positionals() {
    return positional_arguments;
}

std::string positional(std::size_t index) {
    return index < positional_arguments.size() ? positional_arguments[index] : std::string();
}

std::optional<std::string> option_value(std::string_view name) {
    std::string option = "--" + std::string(name);
    std::string joined = option + "=";
    for (const std::string& argument : process_arguments) {
        if (begins_with(argument, joined)) return argument.substr(joined.size());
    }
    for (std::size_t i = 0; i < process_arguments.size(); ++i) {
        if (process_arguments[i] != option) continue;
        if (i + 1 == process_arguments.size()) return std::nullopt;
        const std::string& next = process_arguments[i + 1];
        if (begins_with(next, "--")) return std::nullopt;
        return next;
    }
    return std::nullopt;
}

bool has_flag(std::string_view name) {
    std::string flag = "--" + std::string(name);
    for (const std::string& argument : process_arguments) {
        if (argument == flag) return true;
    }
    return false;
}

std::string size_query() {
    std::optional<std::string> size = option_value("size");
    if (!size) return {};
    std::optional<std::string> fragment = size_fragment(*size);
    if (!fragment) fail("--size wants WxH, e.g. --size 1280x720");
    return *fragment;
}

std::string device_query() {
    return device_fragment(option_value("device"));
}

AppLink app_link() {
    return AppLink{option_value("port")};
}

std::string output_path(std::string_view default_name) {
    return option_value("out").value_or(std::string(default_name));
}
