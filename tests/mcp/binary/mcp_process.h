#pragma once
// The built vistrel-mcp as a child process with pipes on its standard input,
// output and error. The binary comes from VISTREL_MCP_BIN; a Windows build
// (a name ending in ".exe") runs under wine.
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

bool testing_windows_mcp();

class McpProcess {
public:
    // `file_size_limit` limits any file the process writes (RLIMIT_FSIZE),
    // as a full disk would.
    explicit McpProcess(const std::vector<std::string>& arguments,
                        std::optional<std::uint64_t> file_size_limit = std::nullopt);
    ~McpProcess();
    McpProcess(const McpProcess&) = delete;
    McpProcess& operator=(const McpProcess&) = delete;

    void write(const std::string& bytes);
    // The next line of standard output with its line feed; empty at its end.
    // Gives up after a minute rather than hang the suite.
    std::string read_line();
    void close_input();
    // Closes the end of its standard output, as a client that goes away does.
    void close_output();
    // Waits for the end; the exit status, and everything left on the outputs.
    int wait();
    const std::string& rest_of_output() const { return out_; }
    const std::string& error_output() const { return err_; }

private:
    bool fill();

    pid_t pid_ = -1;
    int in_ = -1, out_fd_ = -1, err_fd_ = -1;
    std::string out_, err_;
    int status_ = -1;
};
