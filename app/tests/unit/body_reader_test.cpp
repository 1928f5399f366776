#include "http/body_reader.h"

#include <gtest/gtest.h>

namespace {
using Headers = std::vector<std::pair<std::string, std::string>>;

TEST(BodyReader, LengthsThatCannotBeTrustedAreRefused) {
    struct Case {
        Headers headers;
        int status;  // 0: accepted
    };
    const Case cases[] = {
        {{{"content-length", "12"}}, 0},
        {{{"content-length", "0"}}, 0},
        {{{"content-length", "007"}}, 0},
        {{{"transfer-encoding", "chunked"}}, 0},
        {{{"transfer-encoding", "Chunked"}}, 0},
        {{}, 0},
        {{{"content-length", "-1"}}, 400},
        {{{"content-length", "+5"}}, 400},
        {{{"content-length", "5 5"}}, 400},
        {{{"content-length", "5,5"}}, 400},
        {{{"content-length", "0x10"}}, 400},
        {{{"content-length", ""}}, 400},
        {{{"content-length", "99999999999999999999999"}}, 400},
        {{{"content-length", "5"}, {"content-length", "5"}}, 400},
        {{{"content-length", "5"}, {"transfer-encoding", "chunked"}}, 400},
        {{{"transfer-encoding", "gzip, chunked"}}, 501},
        {{{"transfer-encoding", "chunked"}, {"transfer-encoding", "chunked"}}, 501},
    };
    for (const auto& c : cases) {
        FramingResult framing = body_framing(c.headers, /*is_reply=*/false);
        std::string what = c.headers.empty() ? "(none)" : c.headers[0].first + ": " + c.headers[0].second;
        EXPECT_EQ(framing.problem_status, c.status) << what;
        EXPECT_EQ(framing.problem.empty(), c.status == 0) << what;
    }
    EXPECT_EQ(body_framing({}, false).framing, BodyFraming::none);
    EXPECT_EQ(body_framing({}, true).framing, BodyFraming::until_close);
    EXPECT_EQ(body_framing({{"content-length", "007"}}, false).length, 7u);
}

BodyStatus feed_in_pieces(BodyReader& reader, const std::string& bytes, std::size_t piece) {
    BodyStatus status = BodyStatus::more;
    for (std::size_t at = 0; at < bytes.size() && status == BodyStatus::more; at += piece) {
        std::size_t used = 0;
        status = feed_body(reader, std::string_view(bytes).substr(at, piece), used);
    }
    return status;
}

TEST(BodyReader, DecodesChunksHoweverTheyArrive) {
    const std::string chunked = "5;ext=1\r\nhello\r\n1\r\n \r\nA\r\n0123456789\r\n0\r\nTrailer: x\r\n\r\nNEXT";
    for (std::size_t piece : {1u, 2u, 3u, 7u, 1000u}) {
        BodyReader reader = body_reader(BodyFraming::chunked, 0, 1024);
        EXPECT_EQ(feed_in_pieces(reader, chunked, piece), BodyStatus::done) << piece;
        EXPECT_EQ(reader.body, "hello 0123456789") << piece;
    }
    // What follows the body is not taken.
    BodyReader reader = body_reader(BodyFraming::chunked, 0, 1024);
    std::size_t used = 0;
    EXPECT_EQ(feed_body(reader, chunked, used), BodyStatus::done);
    EXPECT_EQ(chunked.substr(used), "NEXT");
}

TEST(BodyReader, OneLimitHoweverTheBodyIsSent) {
    // A chunk that would pass the limit is refused as soon as its size is
    // read, before its bytes arrive.
    BodyReader declared = body_reader(BodyFraming::chunked, 0, 64 * 1024);
    std::size_t used = 0;
    EXPECT_EQ(feed_body(declared, "10001\r\n", used), BodyStatus::too_large);

    // Many small chunks: refused once they add up to more than the limit.
    BodyReader small = body_reader(BodyFraming::chunked, 0, 64 * 1024);
    std::string chunk = "400\r\n" + std::string(1024, 'x') + "\r\n";
    BodyStatus status = BodyStatus::more;
    int sent = 0;
    while (status == BodyStatus::more && sent < 1000) {
        status = feed_body(small, chunk, used);
        ++sent;
    }
    EXPECT_EQ(status, BodyStatus::too_large);
    EXPECT_EQ(sent, 65);
    EXPECT_LE(small.body.size(), 64u * 1024);

    BodyReader length = body_reader(BodyFraming::length, 64 * 1024 + 1, 64 * 1024);
    EXPECT_EQ(feed_body(length, "x", used), BodyStatus::too_large);
    BodyReader until_close = body_reader(BodyFraming::until_close, 0, 4);
    EXPECT_EQ(feed_body(until_close, "abcd", used), BodyStatus::more);
    EXPECT_EQ(feed_body(until_close, "e", used), BodyStatus::too_large);
}

TEST(BodyReader, MalformedChunksAreRefused) {
    for (const std::string& bad :
         {std::string("x\r\n"), std::string("-1\r\n"), std::string("\r\n"), std::string("5\r\nhelloX\r\n"),
          std::string("fffffffffffffffff\r\n"), std::string(2000, '1')}) {
        BodyReader reader = body_reader(BodyFraming::chunked, 0, 1 << 20);
        std::size_t used = 0;
        EXPECT_EQ(feed_body(reader, bad, used), BodyStatus::malformed) << bad.substr(0, 20);
    }
}

TEST(BodyReader, ABodyCutShortSaysWhatIsMissing) {
    BodyReader length = body_reader(BodyFraming::length, 10, 100);
    std::size_t used = 0;
    EXPECT_EQ(feed_body(length, "abc", used), BodyStatus::more);
    EXPECT_EQ(end_body(length), BodyStatus::malformed);
    EXPECT_EQ(body_bytes_missing(length), 7u);

    BodyReader chunked = body_reader(BodyFraming::chunked, 0, 100);
    EXPECT_EQ(feed_body(chunked, "a\r\nabc", used), BodyStatus::more);
    EXPECT_EQ(end_body(chunked), BodyStatus::malformed);
    EXPECT_EQ(body_bytes_missing(chunked), 7u);

    BodyReader until_close = body_reader(BodyFraming::until_close, 0, 100);
    EXPECT_EQ(feed_body(until_close, "abc", used), BodyStatus::more);
    EXPECT_EQ(end_body(until_close), BodyStatus::done);
    EXPECT_EQ(until_close.body, "abc");
}
}  // namespace
