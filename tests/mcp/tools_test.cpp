// Each tool against the fake app: what the model gets back, what the app was
// asked, and the files left behind.
#include <gtest/gtest.h>

#include <fstream>

#include "mcp/image_budget.h"
#include "mcp/saved_files.h"
#include "session_harness.h"

namespace {
const std::string unreachable =
    "cannot reach Vistrel at http://127.0.0.1:7777/api (Connection refused (os error 111))\n"
    "  Is the app running? Start it from your applications menu, or: vistrel-app &\n"
    "  Different port?     vistrel --port=7999 \u2026  or set VISTREL_PORT";

JsonValue image_of(const JsonValue& result) {
    for (const JsonValue& item : result["content"]) {
        if (item["type"] == "image") return item;
    }
    return nullptr;
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
}  // namespace

TEST(Tools, FailuresAreResultsWithTheMessage) {
    struct Case {
        std::string tool;
        JsonValue arguments;
    };
    const Case cases[] = {
        {"status", JsonValue::object()},  {"devices", JsonValue::object()},
        {"controls", JsonValue::object()}, {"set_control", {{"name", "focus"}, {"value", 1}}},
        {"sources", JsonValue::object()}, {"add_source", {{"name", "p"}, {"url", "u"}}},
        {"forget_source", {{"name", "p"}}}, {"focus", JsonValue::object()},
        {"look", JsonValue::object()},    {"snap", JsonValue::object()},
        {"screenshot", JsonValue::object()}, {"record", JsonValue::object()},
    };
    for (const Case& c : cases) {
        for (const std::string& message : {unreachable, std::string("no such camera")}) {
            SCOPED_TRACE(c.tool + ": " + message);
            SessionHarness harness;
            for (const char* endpoint : {"health", "focus", "devices", "controls", "set_control", "sources",
                                         "add_source", "forget_source"}) {
                harness.app.json[endpoint] = Failure{message};
            }
            harness.app.picture = [&](const FrameSizeRequest&) { return Result<std::string>(Failure{message}); };
            harness.app.recording = Failure{message};
            JsonValue result = harness.call(c.tool, c.arguments);
            EXPECT_EQ(result, JsonValue({{"content", {{{"type", "text"}, {"text", message}}}}, {"isError", true}}));
            EXPECT_TRUE(harness.folder.names().empty());
        }
    }
}

TEST(Tools, InventoryTextAndStructuredContent) {
    struct Case {
        std::string tool;
        JsonValue arguments;
        std::string endpoint, reply, call, text, structured;
    };
    const Case cases[] = {
        {"status", JsonValue::object(), "health",
         R"({"version":"0.1.0","port":7777,"settings":{"device":"0","width":1280,"height":720},"camera":"simulated"})",
         "health", "the Vistrel app 0.1.0 is running on port 7777\ncamera 0, size 1280x720",
         R"({"device":"0","height":720,"port":7777,"version":"0.1.0","width":1280})"},
        {"status", JsonValue::object(), "health", R"({"port":"7777","settings":{"device":""}})", "health",
         "the Vistrel app ? is running on port \"7777\"\ncamera (best available), size nullxnull",
         R"({"device":null,"height":null,"port":null,"version":null,"width":null})"},
        {"devices", JsonValue::object(), "devices",
         R"({"devices":[{"id":"0","name":"Front camera","focusable":true},{"id":7,"focusable":"yes"},3]})", "devices",
         "0  Front camera  (focusable)\n?  ?  (fixed focus)\n?  ?  (fixed focus)",
         R"({"devices":[{"focusable":true,"id":"0","name":"Front camera"},{"focusable":false,"id":null,"name":null},{"focusable":false,"id":null,"name":null}]})"},
        {"devices", JsonValue::object(), "devices", R"({"devices":{}})", "devices",
         "no cameras found \u2014 plug one in; any UVC webcam works", R"({"devices":[]})"},
        {"controls", {{"device", "net:phone"}}, "controls",
         R"({"controls":[{"name":"focus","min":0,"max":255,"value":30},{"name":"zoom","min":"a"}]})",
         "controls net:phone", "focus 0..255 now 30\nzoom \"a\"..null now null",
         R"({"controls":[{"max":255,"min":0,"name":"focus","value":30},{"max":null,"min":null,"name":"zoom","value":null}]})"},
        {"controls", JsonValue::object(), "controls", "null", "controls (none)", "this device has no controls",
         R"({"controls":[]})"},
        {"set_control", {{"name", "focus"}, {"value", 60.0}, {"device", "1"}}, "set_control",
         R"({"control":"focus","value":60,"was":30})", "set_control 1 focus 60", "focus is now 60 (was 30)",
         R"({"control":"focus","value":60,"was":30})"},
        {"set_control", {{"name", "zoom"}, {"value", -9223372036854775807LL - 1}}, "set_control", "{}",
         "set_control (none) zoom -9223372036854775808", "? is now null (was null)",
         R"({"control":null,"value":null,"was":null})"},
        {"sources", JsonValue::object(), "sources",
         R"({"sources":[{"name":"phone","url":"http://192.168.1.50:8080/shot.jpg"},{"name":"cam"}]})", "sources",
         "net:phone  http://192.168.1.50:8080/shot.jpg\nnet:cam  ?",
         R"({"sources":[{"name":"phone","url":"http://192.168.1.50:8080/shot.jpg"},{"name":"cam","url":null}]})"},
        {"sources", JsonValue::object(), "sources", "{}", "sources", "no phone / IP cameras registered",
         R"({"sources":[]})"},
        {"add_source", {{"name", "phone"}, {"url", "http://x/shot.jpg"}}, "add_source",
         R"({"added":"phone","url":"http://x/shot.jpg"})", "add_source phone http://x/shot.jpg",
         "added phone \u2014 use it with the device net:phone", R"({"added":"phone"})"},
        {"forget_source", {{"name", "phone"}}, "forget_source", R"({"removed":"phone"})", "forget_source phone",
         "removed phone", R"({"removed":"phone"})"},
        {"focus", {{"device", "0"}}, "focus",
         R"({"sweep":{"focus":87,"sharpness":1234.6,"samples":[{"focus":120,"sharpness":600},{"focus":40,"sharpness":1234.6},{"focus":"x"}]}})",
         "focus 0", "locked focus 87 \u00b7 sharpness 1235 \u00b7 3 samples",
         R"({"focus":87,"samples":[{"focus":120,"sharpness":600},{"focus":40,"sharpness":1234.6},{"focus":null,"sharpness":null}],"sharpness":1234.6})"},
        {"focus", JsonValue::object(), "focus", "not json", "focus (none)", "locked focus null \u00b7 sharpness 0 \u00b7 0 samples",
         R"({"focus":null,"samples":[],"sharpness":null})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tool + " " + c.reply);
        SessionHarness harness;
        harness.app.json[c.endpoint] = c.reply == "not json" ? JsonValue(nullptr) : JsonValue::parse(c.reply);
        JsonValue result = harness.call(c.tool, c.arguments);
        EXPECT_EQ(harness.app.calls(), std::vector<std::string>{c.call});
        EXPECT_EQ(first_text(result), c.text);
        EXPECT_EQ(result["structuredContent"], JsonValue::parse(c.structured));
        EXPECT_FALSE(result.contains("isError"));
    }
}

TEST(Tools, PicturesThatFitComeInlineFromOneRequest) {
    SessionHarness harness;
    JsonValue result = harness.call("snap", {{"device", "2"}});
    EXPECT_EQ(harness.app.calls(), std::vector<std::string>{"frame 2 -x-"});
    EXPECT_EQ(first_text(result), "1280x720 JPEG, 1000 bytes");
    JsonValue image = image_of(result);
    EXPECT_EQ(image["mimeType"], "image/jpeg");
    EXPECT_EQ(image["data"], base64(fake_jpeg(1280, 720)));
}

// Without a size the device's own comes first; one beyond the budget is
// asked for again at the largest size of the same shape that fits.
TEST(Tools, LargePicturesAreAskedForAgainAtAFittingSize) {
    struct Case {
        int width, height;
        std::string second_call, text;
    };
    const Case cases[] = {
        {1920, 1080, "screenshot 1429x804", "1429x804 JPEG, 1000 bytes (scaled down from 1920x1080 to fit)"},
        {3840, 2160, "screenshot 1429x804", "1429x804 JPEG, 1000 bytes (scaled down from 3840x2160 to fit)"},
        {1600, 1000, "screenshot 1356x847", "1356x847 JPEG, 1000 bytes (scaled down from 1600x1000 to fit)"},
        {1000, 4000, "screenshot 392x1568", "392x1568 JPEG, 1000 bytes (scaled down from 1000x4000 to fit)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.second_call);
        SessionHarness harness;
        harness.app.picture = [&](const FrameSizeRequest& size) {
            int width = static_cast<int>(size.width.value_or(c.width));
            int height = static_cast<int>(size.height.value_or(c.height));
            return Result<std::string>(fake_jpeg(width, height));
        };
        JsonValue result = harness.call("screenshot");
        EXPECT_EQ(harness.app.calls(), (std::vector<std::string>{"screenshot -x-", c.second_call}));
        EXPECT_EQ(first_text(result), c.text);
        EXPECT_TRUE(image_of(result).is_object());
    }
}

TEST(Tools, AHeavyPictureIsAskedForSmaller) {
    SessionHarness harness;
    // 1.2 MB at 1280x720: about 1.6 MB of base64.
    harness.app.picture = [](const FrameSizeRequest& size) {
        int width = static_cast<int>(size.width.value_or(1280)), height = static_cast<int>(size.height.value_or(720));
        return Result<std::string>(fake_jpeg(width, height, std::size_t(width) * height * 1200000 / (1280 * 720)));
    };
    JsonValue result = harness.call("snap");
    auto calls = harness.app.calls();
    ASSERT_EQ(calls.size(), 2u);
    JsonValue image = image_of(result);
    ASSERT_TRUE(image.is_object());
    EXPECT_LT(image["data"].get<std::string>().size(), 1000000u);
}

TEST(Tools, AnAskedSizeIsHonouredEvenBeyondTheBudget) {
    SessionHarness harness;
    JsonValue result = harness.call("snap", {{"width", 3000}, {"height", 2000}});
    EXPECT_EQ(harness.app.calls(), std::vector<std::string>{"frame (none) 3000x2000"});
    EXPECT_EQ(first_text(result), "3000x2000 JPEG, 1000 bytes");
    EXPECT_TRUE(image_of(result).is_object());

    SessionHarness one_side;
    one_side.call("screenshot", {{"width", 640}});
    EXPECT_EQ(one_side.app.calls(), std::vector<std::string>{"screenshot 640x-"});
}

TEST(Tools, AnAppThatIgnoresTheSizeGivesAFileNotAnImage) {
    SessionHarness harness;
    harness.app.picture = [](const FrameSizeRequest&) {
        return Result<std::string>(fake_jpeg(4000, 3000));
    };
    JsonValue result = harness.call("snap");
    EXPECT_EQ(harness.app.calls().size(), 4u) << "the device's size, then three tries";
    EXPECT_TRUE(image_of(result).is_null());
    auto names = harness.folder.names();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].rfind("vistrel-photo-", 0), 0u);
    const JsonValue& link = result["content"][1];
    EXPECT_EQ(link["type"], "resource_link");
    EXPECT_EQ(link["mimeType"], "image/jpeg");
    EXPECT_EQ(read_file(harness.folder.path / names[0]), fake_jpeg(4000, 3000));
}

TEST(Tools, NotAJpegIsAFailure) {
    for (std::string body : {std::string(), std::string("<html>"), std::string("\xFF\xD8\xFF\xD9")}) {
        SessionHarness harness;
        harness.app.picture = [&](const FrameSizeRequest&) { return Result<std::string>(body); };
        JsonValue result = harness.call("snap");
        EXPECT_EQ(result["isError"], true);
        EXPECT_EQ(first_text(result), "the app's answer is not a JPEG picture");
    }
}

TEST(Tools, LookFocusesThenSnapsTheSameDevice) {
    SessionHarness harness;
    harness.app.json["focus"] = JsonValue::parse(R"({"sweep":{"focus":137,"sharpness":88.25}})");
    JsonValue result = harness.call("look", {{"device", "net:phone"}});
    EXPECT_EQ(harness.app.calls(), (std::vector<std::string>{"focus net:phone", "frame net:phone -x-"}));
    EXPECT_EQ(first_text(result), "focus 137 (sharpness 88)\n1280x720 JPEG, 1000 bytes");
    EXPECT_TRUE(image_of(result).is_object());
}

TEST(Tools, PathSavesTheFullPictureInANewFileOnly) {
    SessionHarness harness;
    harness.app.picture = [](const FrameSizeRequest& size) {
        int width = static_cast<int>(size.width.value_or(1920)), height = static_cast<int>(size.height.value_or(1080));
        return Result<std::string>(fake_jpeg(width, height));
    };
    std::string path = absolute_path(harness.folder.text() + "/shot.jpg");
    JsonValue result = harness.call("screenshot", {{"path", path}});
    EXPECT_EQ(first_text(result), "1429x804 JPEG, 1000 bytes (scaled down from 1920x1080 to fit)\n"
                                  "saved the full picture (1920x1080, 1000 bytes) to " +
                                      path);
    EXPECT_EQ(read_file(harness.folder.path / "shot.jpg"), fake_jpeg(1920, 1080));

    SessionHarness again;
    std::ofstream(again.folder.path / "taken.jpg") << "keep me";
    std::string taken = absolute_path(again.folder.text() + "/taken.jpg");
    result = again.call("snap", {{"path", taken}});
    EXPECT_EQ(result["isError"], true);
    EXPECT_EQ(first_text(result).rfind("cannot write " + taken + ": ", 0), 0u)
        << first_text(result);
    EXPECT_EQ(read_file(again.folder.path / "taken.jpg"), "keep me");
}

TEST(Tools, RecordSavesUnderANewNameAndLinksIt) {
    SessionHarness harness;
    harness.app.recording = std::string("webm bytes");
    JsonValue first = harness.call("record", {{"secs", 3}});
    JsonValue second = harness.call("record", {{"secs", 3}});
    EXPECT_EQ(harness.app.calls(), (std::vector<std::string>{"record 3 webm", "record 3 webm"}));
    auto names = harness.folder.names();
    ASSERT_EQ(names.size(), 2u);
    for (const std::string& name : names) {
        EXPECT_EQ(name.rfind("vistrel-screen-", 0), 0u) << name;
        EXPECT_EQ(name.substr(name.size() - 5), ".webm");
        EXPECT_EQ(read_file(harness.folder.path / name), "webm bytes");
    }
    EXPECT_NE(first["content"][1]["uri"], second["content"][1]["uri"]);
    std::string text = first_text(first);
    std::string folder = absolute_path(harness.folder.text());
    EXPECT_EQ(text.rfind("saved a 3-second screen recording (webm) of 10 bytes to " + folder, 0), 0u) << text;
    const JsonValue& link = first["content"][1];
    EXPECT_EQ(link["type"], "resource_link");
    EXPECT_EQ(link["mimeType"], "video/webm");
    EXPECT_EQ(link["size"], 10);
    EXPECT_EQ(link["uri"].get<std::string>().rfind("file://", 0), 0u);
}

TEST(Tools, RecordToAPathNeverReplacesAFile) {
    SessionHarness harness;
    std::string path = absolute_path(harness.folder.text() + "/clip.mp4");
    JsonValue result = harness.call("record", {{"format", "mp4"}, {"path", path}});
    EXPECT_EQ(harness.app.calls(), std::vector<std::string>{"record 5 mp4"});
    EXPECT_EQ(first_text(result), "saved a 5-second screen recording (mp4) of 11 bytes to " + path);
    EXPECT_EQ(result["content"][1]["mimeType"], "video/mp4");
    result = harness.call("record", {{"path", path}});
    EXPECT_EQ(result["isError"], true);
    EXPECT_EQ(first_text(result).rfind("cannot write " + path + ": ", 0), 0u);
    EXPECT_EQ(read_file(path), "video bytes");
}
