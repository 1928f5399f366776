#pragma once
// Runs the built vistrel binary as a separate process and captures what it
// says. The binary comes from VISTREL_BIN; a Windows build (a name ending in
// ".exe") runs under wine, or under VISTREL_RUNNER when that is set.
#include <cstdint>
#include <filesystem>
#include <functional>
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
    // A limit on the size of any file the run writes (RLIMIT_FSIZE).
    std::optional<std::uint64_t> file_size_limit{};
    // Run as the user nobody when the tests run as root, for whom no file is read-only.
    bool as_nobody = false;
    // Sends `signal` to the run once `signal_when` holds (checked every few milliseconds).
    std::function<bool()> signal_when{};
    int signal = 0;
};

RunResult run_vistrel(const std::vector<std::string>& arguments, const RunOptions& options);

// The user id that `as_nobody` runs as, when the tests run as root.
inline constexpr unsigned nobody_id = 65534;

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
