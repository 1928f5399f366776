#pragma once
// The functions of Media Foundation that the cameras call, found at run time:
// Windows N editions come without Media Foundation, and an app that imported
// it would not start there at all. Windows only.
#include <windows.h>

#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <string>

struct MfLibrary {
    decltype(&MFCreateAttributes) create_attributes = nullptr;
    decltype(&MFEnumDeviceSources) enum_device_sources = nullptr;
    decltype(&MFCreateSourceReaderFromMediaSource) create_source_reader = nullptr;
    // Empty when every function was found and Media Foundation started; else
    // why not, for the user.
    std::string missing;
};

// Loaded and started on the first call, for the rest of the app's life.
const MfLibrary& media_foundation();
