#pragma once
// A camera that has just started streaming sends dark, green or half-exposed
// frames while its automatic exposure settles. This judges, frame by frame,
// when the brightness has settled; the caller bounds the time it waits.
#include <optional>
#include <vector>

class WarmUp {
public:
    // Takes the brightness (0..255) of the next frame, or nullopt for a frame
    // that could not be read (which is passed over). True once the picture
    // has settled: the last three readable frames differ in brightness by at
    // most 3 % (or 2 levels), and are not black.
    bool settled_with(std::optional<double> level);

private:
    std::vector<double> levels_;  // the last readable frames
};
