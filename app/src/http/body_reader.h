#pragma once
// Reading a message body as it arrives, whichever way its length is given:
// Content-Length, chunked, or (replies only) the end of the connection. One
// byte limit holds in every case and is enforced as the bytes come in, so an
// oversized body is refused before it is held.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

enum class BodyFraming { none, length, chunked, until_close };

struct BodyReader {
    BodyFraming framing = BodyFraming::none;
    std::uint64_t length = 0;  // with BodyFraming::length
    std::size_t limit = 0;     // most body bytes accepted
    std::string body;          // decoded so far

    // Chunked decoding state.
    enum class Step { size_line, data, data_end, trailer } step = Step::size_line;
    std::uint64_t chunk_left = 0;
    std::string line;  // a line not yet complete
    std::size_t trailer_lines = 0;
};

enum class BodyStatus { more, done, too_large, malformed };

inline BodyReader body_reader(BodyFraming framing, std::uint64_t length, std::size_t limit) {
    BodyReader reader;
    reader.framing = framing;
    reader.length = length;
    reader.limit = limit;
    return reader;
}

// How the body of a message with these header lines (names in lower case) is
// delimited. Without either header a request has no body and a reply runs to
// the end of the connection. `problem` is set, with the status to answer,
// when the lengths cannot be trusted: a Content-Length that is not a plain
// decimal number, several of them, both headers at once, or a transfer
// coding other than chunked.
struct FramingResult {
    BodyFraming framing = BodyFraming::none;
    std::uint64_t length = 0;
    int problem_status = 0;
    std::string problem;
};
FramingResult body_framing(const std::vector<std::pair<std::string, std::string>>& headers, bool is_reply);

// Takes the next bytes of the body. `used` says how many of them belonged to
// it (bytes after a complete body are not). too_large as soon as the limit
// would be passed.
BodyStatus feed_body(BodyReader& reader, std::string_view bytes, std::size_t& used);

// The connection ended: done when the body was complete or runs until the
// end, else malformed.
BodyStatus end_body(BodyReader& reader);

// For a body cut short: how many bytes were missing, when it is known.
std::uint64_t body_bytes_missing(const BodyReader& reader);
