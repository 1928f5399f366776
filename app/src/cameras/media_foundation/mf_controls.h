#pragma once
// A Media Foundation camera's knobs under the app's names, through
// DirectShow's IAMCameraControl and IAMVideoProcAmp on its media source (the
// same properties uvcvideo offers on Linux):
//
//   focus                  CameraControl_Focus        its Auto flag cleared first
//   autofocus              CameraControl_Focus's Auto flag (0/1)
//   zoom                   CameraControl_Zoom
//   exposure               CameraControl_Exposure (log2 seconds)   Auto cleared first
//   auto_exposure          CameraControl_Exposure's Auto flag (0/1)
//   brightness, contrast, saturation, hue, gamma, gain, sharpness
//                          VideoProcAmp_*
//   white_balance          VideoProcAmp_WhiteBalance  Auto cleared first
//   auto_white_balance     VideoProcAmp_WhiteBalance's Auto flag (0/1)
//   backlight_compensation VideoProcAmp_BacklightCompensation
//   pan, tilt              CameraControl_Pan, CameraControl_Tilt
//
// An automatic toggle is offered only where the property can be both
// automatic and manual; a value only where it can be manual. Windows only.
#include "cameras/camera_controls.h"
#include "cameras/capture_device.h"

#include <mfidl.h>

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// Throw CaptureError (MfCall::controls) when a call fails.
std::vector<CameraControl> read_controls(IMFMediaSource* source);
ControlChange write_control(IMFMediaSource* source, std::string_view name, std::int64_t value);

// Whether the source has a manual focus with some travel.
bool has_manual_focus(IMFMediaSource* source);

// A value within [min, max] moved to the nearest min + k * step, as uvcvideo
// does with V4L2 controls.
int nearest_step(const CameraControl& control, std::int64_t value);
