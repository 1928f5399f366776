#pragma once
// Media Foundation's HRESULTs in the terms of capture_device.h. Windows only.
#include "cameras/capture_device.h"

#include <windows.h>

#include <string>

// What a call was doing, for the meaning of its HRESULT.
enum class MfCall {
    activate,  // IMFActivate::ActivateObject: opening the device
    start,     // the source reader and its media type
    frames,    // ReadSample and the samples it delivers
    controls,  // IAMCameraControl, IAMVideoProcAmp
};

CaptureFailure capture_failure_of(MfCall call, HRESULT result);

// "0x80070005 (Access is denied)": the code, and the system's words when it
// has any.
std::string hresult_words(HRESULT result);

// The failure, worded "`doing` failed: 0x... (words)".
CaptureError capture_error(MfCall call, const std::string& doing, HRESULT result);
