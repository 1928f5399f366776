#pragma once
// One end-to-end case as data: what the app answers, the command line, and
// everything that must come out of it, byte for byte.
//
// In `arguments`, `requests`, `out`, `err` and `environment`, "{port}" stands
// for the fake app's port and "{refused}", "{no_such_path}", "{is_directory}",
// "{access_denied}" and "{too_large}" for the platform's own error texts.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fake_app.h"
#include "run_vistrel.h"

struct E2eCase {
    std::string name{};
    std::vector<std::string> arguments{};
    std::vector<ScriptedReply> replies{};
    std::vector<std::string> requests{};  // every request the app must receive, raw
    std::string out{};
    std::string err{};
    int status = 0;
    std::map<std::string, std::string> files_before{};
    // The files in the working folder afterwards; unchanged when absent.
    std::optional<std::map<std::string, std::string>> files_after{};
    std::map<std::string, std::optional<std::string>> environment{};
    // VISTREL_PORT carries the fake app's port unless the case sets it itself.
    bool port_in_environment = true;
};

void check_case(const E2eCase& test);

// The exact request lines the client sends.
std::string get_request(const std::string& path);
std::string post_request(const std::string& path, const std::string& json);

// Fills in "{port}" and the platform's texts.
std::string expand(std::string text, std::uint16_t port);

// The three-line message for an app that cannot be reached.
std::string unreachable(const std::string& base, const std::string& reason);
