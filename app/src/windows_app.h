#pragma once
// The app on Windows: the screen through GDI, recordings made in process, a
// per-user app in the notification area (or in a console with --console),
// one instance per user and port, its log in %LOCALAPPDATA%\vistrel.
#include "app_main.h"
#include "cameras/camera.h"

#include <functional>
#include <memory>

// Makes the real cameras when the app starts: Media Foundation's webcams,
// or the tests' fakes.
using CameraMaker = std::function<std::unique_ptr<CameraBackend>(const AppOptions&)>;

std::unique_ptr<AppPlatform> windows_app(CameraMaker real_cameras);

// A program built for the Windows subsystem has no standard output unless
// its parent gave it one (a pipe, a file): it then writes to the console it
// was started from, if any, so that --help and errors are seen there.
void use_parent_console();

// The command line as UTF-8 arguments, without the program name.
std::vector<std::string> utf8_arguments();
