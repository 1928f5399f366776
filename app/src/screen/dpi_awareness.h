#pragma once
// Pictures of the screen in its physical pixels: a program that does not
// say it handles each monitor's DPI is shown a screen scaled down to 96 DPI
// (a 4K monitor at 200 % as 1920x1080) and its pictures are stretched back
// up, blurred. The app says so in its manifest (vistrel-app.manifest:
// PerMonitorV2, else PerMonitor), and again in code for Windows that do not
// read the manifest's newer entries. Windows only.

// The awareness the process has after make_process_dpi_aware().
enum class DpiAwareness {
    per_monitor_v2,  // Windows 10 1703 and later
    per_monitor,     // Windows 8.1 and later
    system,          // the primary monitor's DPI only
    unaware,
};

// Makes the process aware of each monitor's DPI, the best way the system
// offers: per monitor (v2), else per monitor, else the system's DPI. Call it
// at the start, before any window is made. Where the manifest has already
// set the awareness it stays as set.
DpiAwareness make_process_dpi_aware();

// "per-monitor v2", "per-monitor", "system", "unaware": for the log.
const char* dpi_awareness_name(DpiAwareness awareness);
