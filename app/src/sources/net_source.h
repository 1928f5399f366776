#pragma once
// Frames from registered network cameras ("net:<name>").
#include "cancellation.h"
#include "imaging/frame_size.h"
#include "sources/http_get.h"
#include "sources/sources_store.h"

#include <optional>
#include <string>

struct NetFetchSettings {
    GetLimits limits;  // 3 s to connect, 10 s in all, 32 MB
    int app_port = 0;  // a camera on this port of the local machine is the app itself
};

struct NetPicture {
    std::string jpeg;
    FrameSize source;                   // the camera's picture as it sent it
    std::optional<FrameRegion> region;  // the part shown (clipped), when a region was asked for
};

// One JPEG from the source, at the asked size: without a size or region, the
// camera's own bytes untouched; otherwise decoded (at a reduced scale when
// that is enough), cut to the region (clipped to the picture; a bad-argument
// Fault when it lies outside) and scaled. The picture's size is read from its
// header first, and a picture larger than the decoder accepts (jpeg.h) is
// refused unread. A bad-source Fault when the camera cannot be reached,
// answers with an error status, takes too long or sends something else;
// Cancelled when `cancelled` turns true first.
NetPicture net_source_picture(const NetSource& source, const SizeRequest& size, const NetFetchSettings& settings,
                              const CancelCheck& cancelled);
