#include "media_probe.h"

#include "child.h"

#include <sstream>

std::map<std::string, std::string> probe_media(const std::string& path) {
    RunResult r = run_program({"ffprobe", "-v", "error", "-count_frames", "-show_entries",
                               "format=format_name,duration:stream=codec_name,pix_fmt,width,height,nb_read_frames",
                               "-of",
                               "default=noprint_wrappers=1", path},
                              "", clean_environment({}));
    std::map<std::string, std::string> fields;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        auto eq = line.find('=');
        if (eq != std::string::npos) fields.emplace(line.substr(0, eq), line.substr(eq + 1));
    }
    return fields;
}

double probed_seconds(const std::string& text) {
    try {
        return text.empty() ? 0 : std::stod(text);
    } catch (const std::exception&) {
        return 0;
    }
}
