#include "windows_app.h"

#include "platform/win32_text.h"
#include "process/windows_shell.h"
#include "recording/windows_recorder.h"
#include "screen/dpi_awareness.h"
#include "screen/gdi_screen.h"

#include <windows.h>
// after windows.h
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {
bool has_output() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    return out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) != FILE_TYPE_UNKNOWN;
}

void reopen_on_console() {
    std::freopen("CONOUT$", "w", stdout);
    std::freopen("CONOUT$", "w", stderr);
}

class WindowsApp final : public AppPlatform {
public:
    explicit WindowsApp(CameraMaker real_cameras) : real_cameras_(std::move(real_cameras)) {}

    std::optional<int> prepare(const AppOptions& options) override {
        options_ = options;
        if (options.console) {
            // Started with --console from Explorer or a shortcut: a console
            // of its own.
            if (!has_output() && AllocConsole()) reopen_on_console();
        } else {
            send_output_to_log();
        }
        // Port 0 takes a free port: no other app can hold it.
        if (options.port != 0 && !claim_single_instance(options.port)) {
            std::fprintf(stderr,
                         "vistrel-app: another vistrel-app of this user already serves port %d (quit it from its icon "
                         "in the notification area, or start this one with --port N)\n",
                         options.port);
            return 1;
        }
        // Before any window exists: the screen's pixels are the monitors' own.
        DpiAwareness awareness = make_process_dpi_aware();
        std::fprintf(stderr, "vistrel-app: DPI awareness: %s\n", dpi_awareness_name(awareness));
        return std::nullopt;
    }

    void equip(AppState& state, const AppOptions& options) override {
        state.screen = make_gdi_screen();
        auto recorder = make_windows_recorder(*state.screen);
        recorder_ = recorder.get();
        state.recorder = std::move(recorder);
        if (real_cameras_)
            if (auto cameras = real_cameras_(options)) state.cameras.backends.push_back(std::move(cameras));
    }

    void serve(HttpServer& server, AppState& state) override {
        std::thread server_thread([&server] {
            server.run();
            quit_windows_shell();
        });
        ShellSettings settings;
        settings.tray = !options_.console;
        settings.status = [&state] {
            std::string line = "Serving on 127.0.0.1:" + std::to_string(state.port);
            if (state.recording) line += ", recording the screen";
            return line;
        };
        if (options_.port != default_app_port) settings.autostart_arguments = "--port " + std::to_string(options_.port);
        // The shell's end (Quit, the session's end, Ctrl+C) cuts a recording
        // short, with its client told why, then stops the server.
        run_windows_shell(settings, [this, &server] {
            recorder_->app_stopping();
            server.stop();
        });
        server_thread.join();
    }

private:
    CameraMaker real_cameras_;
    AppOptions options_;
    WindowsRecorder* recorder_ = nullptr;
};
}  // namespace

std::unique_ptr<AppPlatform> windows_app(CameraMaker real_cameras) {
    return std::make_unique<WindowsApp>(std::move(real_cameras));
}

void use_parent_console() {
    if (has_output()) return;
    if (AttachConsole(ATTACH_PARENT_PROCESS)) reopen_on_console();
}

std::vector<std::string> utf8_arguments() {
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) args.push_back(utf8_from_wide(words[i]));
    LocalFree(words);
    return args;
}
