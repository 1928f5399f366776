#pragma once
// One camera, whatever its kind, and a kind of camera that finds its own.
// The endpoints talk to cameras only through these two interfaces; a new
// kind of camera implements both and is added to the registry in main.
#include "cameras/camera_controls.h"
#include "cameras/focus_sweep.h"
#include "imaging/frame_size.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The size a request that names none gets from a webcam: the camera's
// offered size closest to this one.
inline constexpr FrameSize preferred_capture_size{1280, 720};

struct CameraDescription {
    std::string id;    // as the client names it with --device
    std::string name;  // shown by /devices
    std::string kind;  // "video4linux" or "simulated"
    bool focusable = false;
    bool colour = true;  // false for a camera that sees only in greyscale or infrared: never the default
};

struct ControlChange {
    int was = 0;
    int value = 0;  // what the control holds now
};

// Every member may be called from several request threads at once; each
// camera serialises its own use. Failures are Faults with a reason.
class Camera {
public:
    virtual ~Camera() = default;

    virtual CameraDescription description() const = 0;

    // The frame size when a request asks for none.
    virtual FrameSize default_size() = 0;

    // One JPEG of exactly the asked size (one side given: the other follows
    // the camera's aspect ratio; none: default_size()). With a region (in
    // the pixels of a default_size() frame, already clipped to it), the
    // picture is cropped to it first, and the sizes apply to the region.
    virtual std::string capture_jpeg(const SizeRequest& size) = 0;

    virtual std::vector<CameraControl> controls() = 0;

    // A bad-argument Fault for an unknown control or a value outside its range.
    virtual ControlChange set_control(std::string_view name, std::int64_t value) = 0;

    // Sweeps the lens and leaves it at the sharpest position found.
    // Only called on a focusable camera.
    virtual SweepResult focus_sweep() = 0;
};

// A kind of camera: the cameras of that kind present now. Listing again
// finds cameras plugged in or out since; a camera that stays present keeps
// its object (and with it its state) from one listing to the next.
class CameraBackend {
public:
    virtual ~CameraBackend() = default;
    virtual std::vector<std::shared_ptr<Camera>> list() = 0;
    // What kept cameras of this kind out of the last listing (a device the
    // user may not open, say); empty when nothing did.
    virtual std::string trouble() { return {}; }
};
