// How bright and how sharp photos are, for the webcam benchmark: one line
// "LEVEL SHARPNESS" per JPEG file named (mean level 0..255, variance of the
// Laplacian), "- -" for a file that is not a readable JPEG.
#include "imaging/jpeg.h"
#include "imaging/sharpness.h"

#include <cstdio>
#include <fstream>
#include <sstream>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        auto picture = decode_jpeg(bytes.str());
        if (!picture || picture->rgb.empty()) {
            std::puts("- -");
            continue;
        }
        double sum = 0;
        for (auto v : picture->rgb) sum += v;
        std::printf("%.1f %.1f\n", sum / picture->rgb.size(), laplacian_variance(*picture));
    }
    return 0;
}
