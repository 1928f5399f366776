// The fake webcams where the build has no JPEG library yet (Windows, until
// libjpeg-turbo is built for it): they offer no Motion-JPEG.
#include "fake_webcam.h"

bool fake_mjpeg_available() {
    return false;
}

std::string fake_mjpeg(const Image&) {
    return {};
}
