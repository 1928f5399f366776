// vistrel-app on Linux: the companion app that vistrel talks to.
#include "linux_app.h"
#include "process/child_process.h"

#include <cstring>

int main(int argc, char** argv) {
    // The exec helper mode, in which the app starts its children.
    if (argc > 1 && std::strcmp(argv[1], exec_child_flag) == 0) return exec_child_main(argc, argv);
    auto platform = linux_app({system_video_devices(), CameraTimings{}});
    return run_app(std::vector<std::string>(argv + 1, argv + argc), *platform);
}
