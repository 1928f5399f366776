#pragma once
// The built vistrel-mcp as a child process with pipes on its standard input,
// output and error. The binary comes from VISTREL_MCP_BIN; a Windows build
// (a name ending in ".exe") runs under wine.
#include <sys/types.h>

#include <string>
#include <vector>

bool testing_windows_mcp();

class McpProcess {
public:
    explicit McpProcess(const std::vector<std::string>& arguments);
    ~McpProcess();
    McpProcess(const McpProcess&) = delete;
    McpProcess& operator=(const McpProcess&) = delete;

    void write(const std::string& bytes);
    // The next line of standard output with its line feed; empty at its end.
    // Gives up after a minute rather than hang the suite.
    std::string read_line();
    void close_input();
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
