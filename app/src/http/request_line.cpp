#include "http/request_line.h"

std::string repair_request_line(const std::string& line) {
    std::size_t content_end = line.size();
    while (content_end > 0 && (line[content_end - 1] == '\n' || line[content_end - 1] == '\r')) --content_end;
    std::size_t first = line.find(' ');
    if (first == std::string::npos) return line;
    std::size_t last = line.rfind(' ', content_end == 0 ? 0 : content_end - 1);
    if (last == std::string::npos || last <= first) return line;
    std::string target = line.substr(first + 1, last - first - 1);
    if (target.find(' ') == std::string::npos) return line;

    std::string repaired = line.substr(0, first + 1);
    for (char c : target) {
        if (c == ' ')
            repaired += "%20";
        else
            repaired += c;
    }
    repaired += line.substr(last);
    return repaired;
}
