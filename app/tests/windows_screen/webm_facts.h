#pragma once
// What a WebM file holds, read from its EBML elements as a player would
// find them: enough for the recorder's tests to count frames without a
// decoder (the Windows build has the VP8 encoder only).
#include <string_view>

struct WebmFacts {
    bool readable = false;      // the elements nest as they should
    int frames = 0;             // SimpleBlocks and BlockGroups of the clusters
    double duration_ms = -1;    // the segment's Duration, in milliseconds
    int width = 0, height = 0;  // the video track's
    bool vp8 = false;           // its codec is V_VP8
};

WebmFacts read_webm(std::string_view bytes);
