// The entry: the process arguments as UTF-8, then one command.
#include "cli/dispatch.h"
#include "platform/system.h"

#ifdef _WIN32
#include <string>
#include <vector>

// Windows hands the arguments over as UTF-16.
int wmain(int argc, wchar_t** argv) {
    platform_start();
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(utf8_from_wide(argv[i]));
    run_vistrel(std::move(arguments));
}
#else
int main(int argc, char** argv) {
    platform_start();
    run_vistrel(std::vector<std::string>(argv, argv + argc));
}
#endif
