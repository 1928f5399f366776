#pragma once
// What ffprobe says about a recording.
#include <map>
#include <string>

// format_name, duration, and the first stream's codec_name, pix_fmt, width,
// height and nb_read_frames (the frames it holds); empty when ffprobe cannot
// read the file.
std::map<std::string, std::string> probe_media(const std::string& path);

// A duration as ffprobe writes it; 0 when there is none.
double probed_seconds(const std::string& text);
