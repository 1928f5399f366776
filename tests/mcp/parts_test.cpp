// The pure parts: argument checks, JPEG sizes and the image budget, base64,
// cutting input into lines, the command line, file URIs.
#include <gtest/gtest.h>

#include "fake_app_api.h"
#include "mcp/image_budget.h"
#include "mcp/line_reader.h"
#include "mcp/mcp_options.h"
#include "mcp/saved_files.h"
#include "mcp/schema_check.h"

TEST(SchemaProblem, TypesRangesEnumsAndMembers) {
    JsonValue schema = JsonValue::parse(R"({"type":"object","additionalProperties":false,"required":["n"],
        "properties":{"n":{"type":"integer","minimum":-5,"maximum":9223372036854775807},
                      "f":{"type":"string","enum":["webm","mp4"]},
                      "s":{"type":"string","minLength":1},
                      "b":{"type":"boolean"},
                      "x":{"type":"number","maximum":2.5}}})");
    struct Case {
        std::string value;
        std::optional<std::string> problem;
    };
    const Case cases[] = {
        {R"({"n":0})", std::nullopt},
        {R"({"n":60.0})", std::nullopt},
        {R"({"n":-5})", std::nullopt},
        {R"({"n":9223372036854775807})", std::nullopt},
        {R"({"n":9223372036854775808})", "args.n must be at most 9223372036854775807"},
        {R"({"n":1e300})", "args.n must be at most 9223372036854775807"},
        {R"({"n":-6})", "args.n must be at least -5"},
        {R"({"n":1.5})", "args.n must be a whole number"},
        {R"({"n":"1"})", "args.n must be a whole number"},
        {R"({"n":true})", "args.n must be a whole number"},
        {R"({})", "args must have the member \"n\""},
        {R"([])", "args must be an object"},
        {R"({"n":1,"f":"mp4"})", std::nullopt},
        {R"({"n":1,"f":"MP4"})", "args.f must be one of \"webm\", \"mp4\""},
        {R"({"n":1,"s":""})", "args.s must not be empty"},
        {R"({"n":1,"s":"é"})", std::nullopt},
        {R"({"n":1,"b":1})", "args.b must be a boolean"},
        {R"({"n":1,"x":2.5})", std::nullopt},
        {R"({"n":1,"x":2.51})", "args.x must be at most 2.5"},
        {R"({"n":1,"x":null})", "args.x must be a number"},
        {R"({"n":1,"y":1})", "args has the member \"y\", which is not one of its parameters"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(schema_problem(schema, JsonValue::parse(c.value), "args"), c.problem);
    }
}

TEST(WholeNumber, IntegersInTheSignedRange) {
    EXPECT_EQ(whole_number(JsonValue::parse("-9223372036854775808")), INT64_MIN);
    EXPECT_EQ(whole_number(JsonValue::parse("60.0")), 60);
    EXPECT_EQ(whole_number(JsonValue::parse("-0.0")), 0);
    EXPECT_EQ(whole_number(JsonValue::parse("9223372036854775808")), std::nullopt);
    EXPECT_EQ(whole_number(JsonValue::parse("9.3e18")), std::nullopt);
    EXPECT_EQ(whole_number(JsonValue::parse("0.5")), std::nullopt);
    EXPECT_EQ(whole_number(JsonValue::parse("\"5\"")), std::nullopt);
}

TEST(JpegSize, ReadsTheFrameHeader) {
    const std::string sof0 = std::string("\xFF\xC0\x00\x11\x08\x02\xD0\x05\x00\x03", 10) + std::string(15, '\x01');
    const std::string sof2 = std::string("\xFF\xC2\x00\x11\x08\x00\x10\x00\x20\x03", 10) + std::string(15, '\x01');
    const std::string dht = std::string("\xFF\xC4\x00\x04\x00\x00", 6);
    const std::string app0 = std::string("\xFF\xE0\x00\x04\x00\x00", 6);
    struct Case {
        std::string name, bytes;
        std::optional<PictureSize> size;
    };
    const Case cases[] = {
        {"baseline", "\xFF\xD8" + app0 + sof0, PictureSize{1280, 720}},
        {"progressive after a table", "\xFF\xD8" + dht + sof2, PictureSize{32, 16}},
        {"fill bytes before a marker", "\xFF\xD8\xFF\xFF\xFF" + app0.substr(1) + sof0, PictureSize{1280, 720}},
        {"a restart marker on its own", std::string("\xFF\xD8\xFF\xD0", 4) + sof0, PictureSize{1280, 720}},
        {"made by the fake", fake_jpeg(641, 479), PictureSize{641, 479}},
        {"empty", "", std::nullopt},
        {"not a JPEG", "\x89PNG\r\n\x1a\n", std::nullopt},
        {"start and end only", "\xFF\xD8\xFF\xD9", std::nullopt},
        {"scan before any frame", "\xFF\xD8\xFF\xDA\x00\x02", std::nullopt},
        {"cut inside a segment length", "\xFF\xD8\xFF\xE0\x00", std::nullopt},
        {"cut inside the frame header", "\xFF\xD8" + sof0.substr(0, 8), std::nullopt},
        {"a segment longer than the bytes", "\xFF\xD8\xFF\xE0\x7F\xFF", std::nullopt},
        {"garbage between segments", "\xFF\xD8" + app0 + "x" + sof0, std::nullopt},
        {"a zero length", std::string("\xFF\xD8\xFF\xE0\x00\x00", 6) + sof0, std::nullopt},
        {"a zero width", "\xFF\xD8" + std::string("\xFF\xC0\x00\x11\x08\x02\xD0\x00\x00\x03", 10), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(jpeg_size(c.bytes), c.size);
    }
}

TEST(ImageBudget, FitsAndFittingSizes) {
    ImageBudget budget;
    EXPECT_TRUE(fits_budget(budget, {1568, 733}, 1000));
    EXPECT_TRUE(fits_budget(budget, {1072, 1072}, 1000));
    EXPECT_FALSE(fits_budget(budget, {1569, 100}, 1000));
    EXPECT_FALSE(fits_budget(budget, {100, 1569}, 1000));
    EXPECT_FALSE(fits_budget(budget, {1073, 1072}, 1000));  // 1,150,256 pixels
    EXPECT_TRUE(fits_budget(budget, {640, 480}, 749997));   // 999,996 bytes of base64
    EXPECT_FALSE(fits_budget(budget, {640, 480}, 749998));  // 1,000,000

    struct Case {
        PictureSize from;
        std::size_t bytes;
        PictureSize to;
    };
    const Case cases[] = {
        {{1280, 720}, 1000, {1280, 720}},   {{1920, 1080}, 1000, {1429, 804}}, {{4000, 3000}, 1000, {1238, 928}},
        {{3000, 500}, 1000, {1568, 261}},   {{1, 5000}, 1000, {1, 1568}},      {{1072, 1073}, 1000, {1071, 1072}},
        {{1280, 720}, 1200000, {910, 512}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.from.width) + "x" + std::to_string(c.from.height));
        PictureSize to = fitting_size(budget, c.from, c.bytes);
        EXPECT_EQ(to, c.to);
        EXPECT_LE(to.width * to.height, budget.pixels);
        EXPECT_LE(std::max(to.width, to.height), budget.long_edge);
    }
}

TEST(Base64, TheStandardVectors) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"\xFF\xD8\xFF", "/9j/"},
    };
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(base64(bytes), text);
        EXPECT_EQ(base64_size(bytes.size()), text.size());
    }
}

TEST(LineReader, CutsAtLineFeedsAcrossChunks) {
    std::vector<std::string> lines;
    int too_long = 0;
    LineReader reader(
        10, [&](std::string_view line) { lines.emplace_back(line); }, [&] { ++too_long; });
    reader.feed("ab\ncd");
    reader.feed("ef\n\nxy\r\n0123456789");
    reader.feed("0123\nlast");
    reader.end();
    EXPECT_EQ(lines, (std::vector<std::string>{"ab", "cdef", "", "xy\r", "last"}));
    EXPECT_EQ(too_long, 1);

    lines.clear();
    reader.feed("01234567890123456789");
    reader.feed("more");
    reader.end();
    reader.feed("ok\n");
    EXPECT_EQ(lines, (std::vector<std::string>{"ok"})) << "a line cut off by the end is dropped whole";
    EXPECT_EQ(too_long, 2);
}

TEST(McpOptions, TheCommandLine) {
    struct Case {
        std::vector<std::string> args;
        std::optional<std::string> port, dir, error;
        bool help = false, version = false;
    };
    const Case cases[] = {
        {{}, {}, {}, {}},
        {{"--port", "8000", "--dir", "/tmp/x"}, "8000", "/tmp/x", {}},
        {{"--port=8000", "--dir="}, "8000", "", {}},
        {{"--port", "--dir"}, "--dir", {}, {}},
        {{"--help"}, {}, {}, {}, true},
        {{"-h", "--version"}, {}, {}, {}, true, true},
        {{"--port"}, {}, {}, "--port needs a value"},
        {{"--verbose"}, {}, {}, "unknown option --verbose"},
        {{"snap"}, {}, {}, "unknown option snap"},
    };
    for (const Case& c : cases) {
        McpOptionsResult result = parse_mcp_options(c.args);
        EXPECT_EQ(result.error, c.error);
        if (c.error) continue;
        EXPECT_EQ(result.options.port, c.port);
        EXPECT_EQ(result.options.dir, c.dir);
        EXPECT_EQ(result.options.help, c.help);
        EXPECT_EQ(result.options.version, c.version);
    }
}

TEST(FileUri, PercentEncodesWhatIsNotUnreserved) {
#ifdef _WIN32
    EXPECT_EQ(file_uri("C:\\Users\\ann\\a b.webm"), "file:///C:/Users/ann/a%20b.webm");
#else
    EXPECT_EQ(file_uri("/tmp/vistrel-screen-20250101-120000.webm"), "file:///tmp/vistrel-screen-20250101-120000.webm");
    EXPECT_EQ(file_uri("/home/ann/my clips/#1 é?.mp4"), "file:///home/ann/my%20clips/%231%20%C3%A9%3F.mp4");
#endif
}
