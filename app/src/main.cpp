// vistrel-app: the companion app that vistrel talks to.
#include "app_main.h"

int main(int argc, char** argv) {
    return run_app(std::vector<std::string>(argv + 1, argv + argc), {system_video_devices(), CameraTimings{}});
}
