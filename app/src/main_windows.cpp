// vistrel-app.exe: the companion app on Windows.
#include "windows_app.h"

int main() {
    use_parent_console();
    auto platform = windows_app([](const AppOptions&) -> std::unique_ptr<CameraBackend> { return nullptr; });
    return run_app(utf8_arguments(), *platform);
}
