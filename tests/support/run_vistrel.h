#pragma once
// Runs the built vistrel binary as a separate process and captures what it
// says. The binary comes from VISTREL_BIN; a Windows build (a name ending in
// ".exe") runs under wine, or under VISTREL_RUNNER when that is set.
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct RunResult {
    std::string out;
    std::string err;
    int status = -1;  // the exit status; 128 + the signal when killed by one
};

struct RunOptions {
    std::filesystem::path folder;  // the working folder
    // Variables to set (a value) or to remove (no value) for this run.
    std::map<std::string, std::optional<std::string>> environment;
    bool close_stdout = false;  // start with standard output closed for reading
};

RunResult run_vistrel(const std::vector<std::string>& arguments, const RunOptions& options);

// True when the binary under test is the Windows build (VISTREL_BIN ends in ".exe").
bool testing_windows_build();

// A fresh, empty folder under the system's temporary folder, removed with the object.
struct ScratchFolder {
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    std::filesystem::path path;
};

// Every regular file below `folder`, by relative path, with its bytes.
std::map<std::string, std::string> files_in(const std::filesystem::path& folder);
void write_bytes(const std::filesystem::path& file, const std::string& bytes);
