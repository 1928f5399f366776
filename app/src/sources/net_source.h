#pragma once
// Frames from registered network cameras ("net:<name>").
#include "cancellation.h"
#include "imaging/frame_size.h"
#include "sources/http_get.h"
#include "sources/sources_store.h"

#include <string>

struct NetFetchSettings {
    GetLimits limits;  // 3 s to connect, 10 s in all, 32 MB
    int app_port = 0;  // a camera on this port of the local machine is the app itself
};

// One JPEG from the source, at the asked size: without one, the camera's own
// bytes untouched; with one, decoded (at a reduced scale when that is enough)
// and scaled. The picture's size is read from its header first, and a
// picture larger than the decoder accepts (jpeg.h) is refused unread.
// A bad-source Fault when the camera cannot be reached, answers with an error
// status, takes too long or sends something else; Cancelled when
// `cancelled` turns true first.
std::string net_source_jpeg(const NetSource& source, const SizeRequest& size, const NetFetchSettings& settings,
                            const CancelCheck& cancelled);
