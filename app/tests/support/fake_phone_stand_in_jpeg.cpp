// The fake phone's pictures where the app has no JPEG code yet (the Windows
// build, until libjpeg-turbo is built for it): bytes that begin and end like
// a JPEG and declare their size, which is all the GET client's tests look at.
#include "fake_phone.h"

std::string jpeg_declaring(int width, int height) {
    std::string bytes = "\xFF\xD8";                                  // start of image
    bytes += std::string("\xFF\xC0\x00\x11\x08", 5);                  // SOF0, length 17, 8 bits
    bytes += static_cast<char>(height >> 8);
    bytes += static_cast<char>(height & 0xFF);
    bytes += static_cast<char>(width >> 8);
    bytes += static_cast<char>(width & 0xFF);
    bytes += std::string("\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01", 10);  // three components
    bytes += "\xFF\xD9";                                               // end of image
    return bytes;
}

std::string phone_photo() {
    // As large as a small photo: a comment segment after the start of image.
    std::string bytes = jpeg_declaring(320, 240);
    std::string comment(8000, 'x');
    bytes.insert(2, "\xFF\xFE" + std::string{static_cast<char>((comment.size() + 2) >> 8),
                                              static_cast<char>((comment.size() + 2) & 0xFF)} + comment);
    return bytes;
}
