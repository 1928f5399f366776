#include "cameras/media_foundation/mf_failures.h"

#include "platform/win32_text.h"

#include <mferror.h>

#include <cstdio>

CaptureFailure capture_failure_of(MfCall call, HRESULT result) {
    switch (result) {
        // The device was unplugged, or its driver let it go; a source whose
        // device went is shut down, and says so to every later call.
        case MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED:
        case HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED):
        case HRESULT_FROM_WIN32(ERROR_DEVICE_REMOVED):
            return CaptureFailure::gone;
        case MF_E_SHUTDOWN:
            return call == MfCall::activate ? CaptureFailure::failed : CaptureFailure::gone;
        // Another program streams from the camera: the hardware transform
        // could not start (the first ReadSample), or the camera was taken
        // over by one with a stronger claim.
        case MF_E_HW_MFT_FAILED_START_STREAMING:
        case MF_E_VIDEO_RECORDING_DEVICE_PREEMPTED:
            return CaptureFailure::busy;
        default:
            break;
    }
    switch (call) {
        case MfCall::activate:
            // The privacy settings keep desktop apps from the camera.
            if (result == E_ACCESSDENIED) return CaptureFailure::denied;
            break;
        case MfCall::start:
            if (result == MF_E_INVALIDMEDIATYPE || result == MF_E_UNSUPPORTED_FORMAT) {
                return CaptureFailure::unsupported;
            }
            break;
        case MfCall::frames:
            break;
        case MfCall::controls:
            if (result == E_INVALIDARG) return CaptureFailure::bad_value;
            break;
    }
    return CaptureFailure::failed;
}

std::string hresult_words(HRESULT result) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
    // Media Foundation's own codes have no words in the system's table.
    std::string words = system_error_text(static_cast<unsigned long>(result));
    return words.empty() || words.rfind("Unknown error", 0) == 0 ? std::string(code)
                                                                 : std::string(code) + " (" + words + ")";
}

CaptureError capture_error(MfCall call, const std::string& doing, HRESULT result) {
    return CaptureError(capture_failure_of(call, result), doing + " failed: " + hresult_words(result));
}
