#pragma once
// Motion-JPEG frames as webcams send them. Many leave out the Huffman tables
// and use the typical ones the JPEG standard gives, without saying so;
// decoders outside the camera world refuse such a file, so the tables are
// put back before the bytes leave the app. Frames may also be cut short (a
// USB packet lost) or padded after their end.
#include <string>
#include <string_view>

// Whether the JPEG defines its own Huffman tables before its image data.
bool has_huffman_tables(std::string_view jpeg);

// The JPEG with the standard Huffman tables inserted in front of the image
// data when it has none; otherwise, or when its markers cannot be read, the
// bytes unchanged.
std::string with_huffman_tables(std::string_view jpeg);

// The frame from its start-of-image to its last end-of-image marker, or
// empty when either is missing (a frame cut short).
std::string_view complete_jpeg(std::string_view frame);
