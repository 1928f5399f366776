#include "http/body_reader.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace {
// Chunk-size lines and trailer lines are short; a longer one is not a body
// this app wants to read.
constexpr std::size_t max_line_bytes = 1024;
constexpr std::size_t max_trailer_lines = 32;

std::string lower(std::string_view text) {
    std::string out(text);
    for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool parse_decimal(std::string_view text, std::uint64_t& value) {
    if (text.empty() || text.size() > 18) return false;
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// "1a;name=value" -> 0x1a; extensions are ignored.
bool parse_chunk_size(std::string_view line, std::uint64_t& size) {
    std::string_view digits = line.substr(0, line.find(';'));
    while (!digits.empty() && (digits.back() == ' ' || digits.back() == '\t')) digits.remove_suffix(1);
    if (digits.empty() || digits.size() > 15) return false;
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
        return false;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), size, 16);
    return error == std::errc() && end == digits.data() + digits.size();
}

// Collects bytes into reader.line up to a line feed. True with `line` set
// (without its line end) once a whole line is there.
bool take_line(BodyReader& reader, std::string_view bytes, std::size_t& pos, std::string& line, bool& too_long) {
    std::size_t end = bytes.find('\n', pos);
    std::size_t stop = end == std::string_view::npos ? bytes.size() : end;
    reader.line.append(bytes.substr(pos, stop - pos));
    pos = end == std::string_view::npos ? bytes.size() : end + 1;
    if (reader.line.size() > max_line_bytes) {
        too_long = true;
        return false;
    }
    if (end == std::string_view::npos) return false;
    line = std::move(reader.line);
    reader.line.clear();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

BodyStatus feed_chunked(BodyReader& reader, std::string_view bytes, std::size_t& used) {
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::string line;
        bool too_long = false;
        switch (reader.step) {
            case BodyReader::Step::size_line: {
                if (!take_line(reader, bytes, pos, line, too_long)) {
                    if (too_long) return BodyStatus::malformed;
                    break;
                }
                if (!parse_chunk_size(line, reader.chunk_left)) return BodyStatus::malformed;
                if (reader.chunk_left > reader.limit - reader.body.size()) return BodyStatus::too_large;
                reader.step = reader.chunk_left == 0 ? BodyReader::Step::trailer : BodyReader::Step::data;
                break;
            }
            case BodyReader::Step::data: {
                std::size_t take =
                    static_cast<std::size_t>(std::min<std::uint64_t>(reader.chunk_left, bytes.size() - pos));
                reader.body.append(bytes.substr(pos, take));
                pos += take;
                reader.chunk_left -= take;
                if (reader.chunk_left == 0) reader.step = BodyReader::Step::data_end;
                break;
            }
            case BodyReader::Step::data_end:
                if (!take_line(reader, bytes, pos, line, too_long)) {
                    if (too_long) return BodyStatus::malformed;
                    break;
                }
                if (!line.empty()) return BodyStatus::malformed;
                reader.step = BodyReader::Step::size_line;
                break;
            case BodyReader::Step::trailer:
                if (!take_line(reader, bytes, pos, line, too_long)) {
                    if (too_long) return BodyStatus::malformed;
                    break;
                }
                if (line.empty()) {
                    used = pos;
                    return BodyStatus::done;
                }
                if (++reader.trailer_lines > max_trailer_lines) return BodyStatus::malformed;
                break;
        }
    }
    used = pos;
    return BodyStatus::more;
}
}  // namespace

FramingResult body_framing(const std::vector<std::pair<std::string, std::string>>& headers, bool is_reply) {
    FramingResult result;
    const std::string* length = nullptr;
    const std::string* coding = nullptr;
    for (const auto& [name, value] : headers) {
        if (name == "content-length") {
            if (length) {
                result.problem_status = 400;
                result.problem = "the message carries more than one Content-Length";
                return result;
            }
            length = &value;
        } else if (name == "transfer-encoding") {
            if (coding) {
                result.problem_status = 501;
                result.problem = "only the chunked transfer coding is supported";
                return result;
            }
            coding = &value;
        }
    }
    if (length && coding) {
        result.problem_status = 400;
        result.problem = "the message carries both Content-Length and Transfer-Encoding";
    } else if (coding) {
        if (lower(*coding) != "chunked") {
            result.problem_status = 501;
            result.problem = "only the chunked transfer coding is supported";
        } else {
            result.framing = BodyFraming::chunked;
        }
    } else if (length) {
        if (!parse_decimal(*length, result.length)) {
            result.problem_status = 400;
            result.problem = "the Content-Length \"" + *length + "\" is not a length";
        } else {
            result.framing = BodyFraming::length;
        }
    } else {
        result.framing = is_reply ? BodyFraming::until_close : BodyFraming::none;
    }
    return result;
}

BodyStatus feed_body(BodyReader& reader, std::string_view bytes, std::size_t& used) {
    used = 0;
    switch (reader.framing) {
        case BodyFraming::none:
            return BodyStatus::done;
        case BodyFraming::length: {
            if (reader.length > reader.limit) return BodyStatus::too_large;
            std::size_t take =
                static_cast<std::size_t>(std::min<std::uint64_t>(reader.length - reader.body.size(), bytes.size()));
            reader.body.append(bytes.substr(0, take));
            used = take;
            return reader.body.size() == reader.length ? BodyStatus::done : BodyStatus::more;
        }
        case BodyFraming::until_close:
            if (bytes.size() > reader.limit - reader.body.size()) return BodyStatus::too_large;
            reader.body.append(bytes);
            used = bytes.size();
            return BodyStatus::more;
        case BodyFraming::chunked:
            return feed_chunked(reader, bytes, used);
    }
    return BodyStatus::malformed;
}

BodyStatus end_body(BodyReader& reader) {
    switch (reader.framing) {
        case BodyFraming::none:
        case BodyFraming::until_close:
            return BodyStatus::done;
        case BodyFraming::length:
            return reader.body.size() == reader.length ? BodyStatus::done : BodyStatus::malformed;
        case BodyFraming::chunked:
            return BodyStatus::malformed;
    }
    return BodyStatus::malformed;
}

std::uint64_t body_bytes_missing(const BodyReader& reader) {
    if (reader.framing == BodyFraming::length && reader.body.size() < reader.length) {
        return reader.length - reader.body.size();
    }
    if (reader.framing == BodyFraming::chunked && reader.step == BodyReader::Step::data) return reader.chunk_left;
    return 0;
}
