// The option lookups over arbitrary argument lists: `positionals`,
// `option_value`, `has_flag`, `size_fragment` / `size_query` and
// `device_query` keep their documented properties, whatever the arguments.
//
// Input: the process arguments, program name first, separated by NUL bytes.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "cli/options.h"
#include "client/endpoints.h"

namespace {
bool begins_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::vector<std::string> split_arguments(std::string_view bytes) {
    std::vector<std::string> list;
    for (;;) {
        std::size_t nul = bytes.find('\0');
        list.emplace_back(bytes.substr(0, nul));
        if (nul == std::string_view::npos) return list;
        bytes.remove_prefix(nul + 1);
    }
}

// The names the program asks for, and every name the arguments spell.
std::vector<std::string> names_to_ask(const std::vector<std::string>& list) {
    std::vector<std::string> names = {"device", "out", "size", "port", "json", "secs", "format"};
    for (const std::string& argument : list) {
        if (names.size() >= 12) break;
        if (begins_with(argument, "--")) names.push_back(argument.substr(2, argument.find('=') - 2));
    }
    return names;
}

void check_value(const std::vector<std::string>& list, const std::string& name,
                 const std::optional<std::string>& value) {
    const std::string option = "--" + name;
    const std::string joined = option + "=";
    auto with_value = std::find_if(list.begin(), list.end(), [&](const auto& a) { return begins_with(a, joined); });
    if (with_value != list.end()) {
        FUZZ_CHECK(value && *value == with_value->substr(joined.size()), "--NAME=VALUE did not win");
        return;
    }
    auto bare = std::find(list.begin(), list.end(), option);
    if (bare == list.end() || bare + 1 == list.end() || begins_with(*(bare + 1), "--")) {
        FUZZ_CHECK(!value, "a value came from nowhere");
        return;
    }
    FUZZ_CHECK(value && *value == *(bare + 1), "the argument after the first --NAME is not the value");
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> list = split_arguments(std::string_view(reinterpret_cast<const char*>(data), size));
    // Twice: the second call must start afresh.
    set_arguments(list);
    set_arguments(list);

    std::vector<std::string> expected_positionals;
    for (std::size_t i = 1; i < list.size(); ++i) {
        if (!begins_with(list[i], "--")) expected_positionals.push_back(list[i]);
    }
    FUZZ_CHECK(positionals() == expected_positionals, "positionals are not the arguments without \"--\"");
    for (std::size_t i = 0; i <= expected_positionals.size(); ++i) {
        FUZZ_CHECK(positional(i) == (i < expected_positionals.size() ? expected_positionals[i] : ""),
                   "positional(i) is not the i-th positional argument");
    }

    std::vector<std::string> names = names_to_ask(list);
    std::vector<std::optional<std::string>> values;
    for (const std::string& name : names) {
        values.push_back(option_value(name));
        check_value(list, name, values.back());
        bool flag = std::find(list.begin(), list.end(), "--" + name) != list.end();
        FUZZ_CHECK(has_flag(name) == flag, "has_flag is not an exact match of --NAME");
    }
    // Nothing is cached: asked again, in the other order, the answers stay.
    for (std::size_t i = names.size(); i-- > 0;) {
        FUZZ_CHECK(option_value(names[i]) == values[i], "a second lookup gave another value");
    }

    std::optional<std::string> device = option_value("device");
    FUZZ_CHECK(device_query() == (device ? "&device=" + *device : ""), "device_query is not &device=VALUE");

    if (std::optional<std::string> size_value = option_value("size")) {
        std::optional<std::string> fragment = size_fragment(*size_value);
        std::size_t cut = size_value->find_first_of("xX");
        if (cut == std::string::npos) {
            FUZZ_CHECK(!fragment, "a size without x made a fragment");
        } else {
            FUZZ_CHECK(fragment.has_value(), "a size with x made no fragment");
            std::string width = size_value->substr(0, cut);
            std::string height = size_value->substr(cut + 1);
            FUZZ_CHECK(*fragment == "&width=" + width + "&height=" + height, "the size was not split at the first x");
            FUZZ_CHECK(size_query() == *fragment, "size_query differs from size_fragment");
        }
    } else {
        FUZZ_CHECK(size_query().empty(), "a size query without --size");
    }
    return 0;
}
