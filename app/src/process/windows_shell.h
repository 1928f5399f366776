#pragma once
// How the app lives on a Windows desktop: one instance per user and port, a
// log file when there is no console, an icon in the notification area with
// a menu (a status line, start at sign-in, the log folder, quit), start at
// sign-in through the user's Run key, and a hidden top-level window that
// hears sign-out and shutdown, so that a recording ends cleanly.
#include <filesystem>
#include <functional>
#include <string>

// Where the log goes without a console: %LOCALAPPDATA%\vistrel.
std::filesystem::path log_folder();

// From now on standard output and standard error go to vistrel-app.log in
// the log folder (started afresh when it has grown past 1 MB). False when the
// file cannot be opened; the output then goes nowhere, as before.
bool send_output_to_log();

// Holds the name "vistrel-app on PORT" for this user's session while the app
// lives. False when another app of this user already holds it.
bool claim_single_instance(int port);

// The Run key's value that starts this program at sign-in, with `arguments`.
bool autostart_enabled();
bool set_autostart(bool on, const std::string& arguments, std::string& error);

struct ShellSettings {
    bool tray = true;                     // an icon in the notification area
    std::function<std::string()> status;  // the menu's first line
    std::string autostart_arguments;      // what the Run value passes on
};

// Runs the window's message loop on the calling thread until the user quits
// from the menu, the session ends, or (in a console) Ctrl+C or the console
// closes; then returns. `stop` is called first, from this thread, and must
// end whatever the app is doing (a recording is cut short and its client
// told so).
void run_windows_shell(const ShellSettings& settings, const std::function<void()>& stop);

// Ends run_windows_shell from any thread.
void quit_windows_shell();
