#pragma once
// A camera that has just started streaming sends dark, green or
// half-exposed frames while its automatic exposure settles, and, while its
// continuous autofocus hunts, frames that are out of focus; after a control
// change it takes a few frames to follow. This judges, frame by frame, when
// the picture has settled; the caller bounds the frames it waits.
#include "cameras/frame_work.h"

#include <optional>
#include <vector>

class WarmUp {
public:
    // With `watch_focus` (autofocus runs, or the lens was moved), the
    // picture must also have stopped changing in sharpness, or the camera
    // say that its autofocus has reached focus.
    explicit WarmUp(bool watch_focus = false) : watch_focus_(watch_focus) {}

    bool watches_focus() const { return watch_focus_; }

    // Takes the next frame's look, or nullopt for a frame that could not be
    // read (which is passed over), and the camera's focus status where it
    // reports one. True once the picture has settled: the last three
    // readable frames differ in brightness by at most 3 % (or 2 levels) and
    // are not black, and, when focus is watched, in sharpness by at most 5 %
    // (or the camera says it has focused).
    bool settled_with(std::optional<FrameLook> look, std::optional<bool> focus_settled = std::nullopt);

    // Frames were dropped before the next one: the frames judged so far do
    // not show what the lens did in between (it may have passed its
    // sharpest position), so agreement in sharpness starts again.
    void frames_missed() { sharpness_.clear(); }

private:
    bool watch_focus_;
    std::vector<double> levels_;     // of the last readable frames
    std::vector<double> sharpness_;  // of the last readable frames since none were missed
};
