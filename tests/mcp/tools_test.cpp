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
        {"status", JsonValue::object()},     {"devices", JsonValue::object()},
        {"controls", JsonValue::object()},   {"set_control", {{"name", "focus"}, {"value", 1}}},
        {"sources", JsonValue::object()},    {"add_source", {{"name", "p"}, {"url", "u"}}},
        {"forget_source", {{"name", "p"}}},  {"focus", JsonValue::object()},
        {"look", JsonValue::object()},       {"snap", JsonValue::object()},
        {"screenshot", JsonValue::object()}, {"record", JsonValue::object()},
        {"windows", JsonValue::object()},    {"screenshot", {{"window", "term"}}},
    };
    for (const Case& c : cases) {
        for (const std::string& message : {unreachable, std::string("no such camera")}) {
            SCOPED_TRACE(c.tool + ": " + message);
            SessionHarness harness;
            for (const char* endpoint : {"health", "focus", "devices", "windows", "controls", "set_control", "sources",
                                         "add_source", "forget_source"}) {
                harness.app.json[endpoint] = Failure{message};
            }
            harness.app.picture = [&](const PictureRequest&) { return Result<std::string>(Failure{message}); };
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
        {"controls",
         {{"device", "net:phone"}},
         "controls",
         R"({"controls":[{"name":"focus","min":0,"max":255,"value":30},{"name":"zoom","min":"a"}]})",
         "controls net:phone",
         "focus 0..255 now 30\nzoom \"a\"..null now null",
         R"({"controls":[{"max":255,"min":0,"name":"focus","value":30},{"max":null,"min":null,"name":"zoom","value":null}]})"},
        {"controls", JsonValue::object(), "controls", "null", "controls (none)", "this device has no controls",
         R"({"controls":[]})"},
        {"set_control",
         {{"name", "focus"}, {"value", 60.0}, {"device", "1"}},
         "set_control",
         R"({"control":"focus","value":60,"was":30})",
         "set_control 1 focus 60",
         "focus is now 60 (was 30)",
         R"({"control":"focus","value":60,"was":30})"},
        {"set_control",
         {{"name", "zoom"}, {"value", -9223372036854775807LL - 1}},
         "set_control",
         "{}",
         "set_control (none) zoom -9223372036854775808",
         "? is now null (was null)",
         R"({"control":null,"value":null,"was":null})"},
        {"sources", JsonValue::object(), "sources",
         R"({"sources":[{"name":"phone","url":"http://192.168.1.50:8080/shot.jpg"},{"name":"cam"}]})", "sources",
         "net:phone  http://192.168.1.50:8080/shot.jpg\nnet:cam  ?",
         R"({"sources":[{"name":"phone","url":"http://192.168.1.50:8080/shot.jpg"},{"name":"cam","url":null}]})"},
        {"sources", JsonValue::object(), "sources", "{}", "sources", "no phone / IP cameras registered",
         R"({"sources":[]})"},
        {"add_source",
         {{"name", "phone"}, {"url", "http://x/shot.jpg"}},
         "add_source",
         R"({"added":"phone","url":"http://x/shot.jpg"})",
         "add_source phone http://x/shot.jpg",
         "added phone \u2014 use it with the device net:phone",
         R"({"added":"phone"})"},
        {"forget_source",
         {{"name", "phone"}},
         "forget_source",
         R"({"removed":"phone"})",
         "forget_source phone",
         "removed phone",
         R"({"removed":"phone"})"},
        {"windows", JsonValue::object(), "windows",
         R"({"windows":[{"id":"0x3c00007","title":"Terminal","program":"xterm","x":10,"y":20,"width":640,"height":480,"monitor":2,"focused":true},{"id":"0x1","title":null,"program":null,"x":0,"y":0,"width":9,"height":9,"monitor":null,"focused":false}]})",
         "windows",
         "0x3c00007  \"Terminal\"  xterm  640x480 at 10,20 on monitor 2  (focused)\n0x1  null  ?  9x9 at 0,0",
         R"({"windows":[{"focused":true,"height":480,"id":"0x3c00007","monitor":2,"program":"xterm","title":"Terminal","width":640,"x":10,"y":20},{"focused":false,"height":9,"id":"0x1","monitor":null,"program":null,"title":null,"width":9,"x":0,"y":0}]})"},
        {"windows", JsonValue::object(), "windows", "{}", "windows", "no windows", R"({"windows":[]})"},
        {"focus",
         {{"device", "0"}},
         "focus",
         R"({"sweep":{"focus":87,"sharpness":1234.6,"samples":[{"focus":120,"sharpness":600},{"focus":40,"sharpness":1234.6},{"focus":"x"}]}})",
         "focus 0",
         "locked focus 87 \u00b7 sharpness 1235 \u00b7 3 samples",
         R"({"focus":87,"samples":[{"focus":120,"sharpness":600},{"focus":40,"sharpness":1234.6},{"focus":null,"sharpness":null}],"sharpness":1234.6})"},
        {"focus", JsonValue::object(), "focus", "not json", "focus (none)",
         "locked focus null \u00b7 sharpness 0 \u00b7 0 samples", R"({"focus":null,"samples":[],"sharpness":null})"},
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

// The calls the app got for pictures, without the one look at its devices.
std::vector<std::string> picture_calls(const FakeAppApi& app) {
    std::vector<std::string> calls = app.calls();
    std::erase(calls, "devices");
    return calls;
}

TEST(Tools, PicturesThatFitComeInlineFromOneRequest) {
    SessionHarness harness;
    JsonValue result = harness.call("snap", {{"device", "2"}});
    EXPECT_EQ(harness.app.calls(), (std::vector<std::string>{"devices", "frame 2 -x-"}));
    EXPECT_EQ(first_text(result), "1280x720 JPEG, 1000 bytes, full resolution; region x,y,w,h are in camera pixels");
    JsonValue image = image_of(result);
    EXPECT_EQ(image["mimeType"], "image/jpeg");
    EXPECT_EQ(image["data"], base64(fake_jpeg(1280, 720)));
}

// An app that reports no sizes: the device's own size comes first; one beyond
// the budget is asked for again at the largest size of the same shape that
// fits. The size seen is kept: the next picture is asked for by its long side
// alone, so that the app keeps the device's true shape.
TEST(Tools, LargePicturesAreAskedForAgainAtAFittingSize) {
    struct Case {
        int width, height;
        std::string second_call, text, next_call;
    };
    const Case cases[] = {
        {1920, 1080, "screenshot 1429x804",
         "1429x804 JPEG, 1000 bytes, scaled down from 1920x1080 (1.344 screen pixels per picture pixel); region "
         "x,y,w,h are in screen pixels",
         "screenshot 1429x-"},
        {3840, 2160, "screenshot 1429x804", "1429x804 JPEG, 1000 bytes, scaled down from 3840x2160 (2.687 screen",
         "screenshot 1429x-"},
        {1600, 1000, "screenshot 1356x847", "1356x847 JPEG, 1000 bytes, scaled down from 1600x1000 (1.180 screen",
         "screenshot 1356x-"},
        {1000, 4000, "screenshot 392x1568", "392x1568 JPEG, 1000 bytes, scaled down from 1000x4000 (2.551 screen",
         "screenshot -x1568"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.second_call);
        SessionHarness harness;
        harness.app.full_sizes["screen"] = {c.width, c.height};
        JsonValue result = harness.call("screenshot");
        EXPECT_EQ(picture_calls(harness.app), (std::vector<std::string>{"screenshot -x-", c.second_call}));
        EXPECT_EQ(first_text(result).rfind(c.text, 0), 0u) << first_text(result);
        EXPECT_TRUE(image_of(result).is_object());
        result = harness.call("screenshot");
        EXPECT_EQ(picture_calls(harness.app), (std::vector<std::string>{"screenshot -x-", c.second_call, c.next_call}));
        EXPECT_NE(first_text(result).find(", scaled down from " + std::to_string(c.width) + "x" +
                                          std::to_string(c.height) + " ("),
                  std::string::npos)
            << first_text(result);
        EXPECT_TRUE(image_of(result).is_object());
    }

    // The screen changed since: the picture's shape shows it, and the screen
    // is looked at anew.
    SessionHarness harness;
    harness.app.full_sizes["screen"] = {1920, 1080};
    harness.call("screenshot");
    harness.app.full_sizes["screen"] = {1440, 900};
    JsonValue result = harness.call("screenshot");
    EXPECT_EQ(picture_calls(harness.app),
              (std::vector<std::string>{"screenshot -x-", "screenshot 1429x804", "screenshot 1429x-", "screenshot -x-",
                                        "screenshot 1356x847"}));
    EXPECT_EQ(first_text(result).rfind("1356x847 JPEG, 1000 bytes, scaled down from 1440x900 (", 0), 0u)
        << first_text(result);
}

// An app that reports sizes is asked once: for the fitted size straight away,
// from /devices, or after its first picture's X-Vistrel-Source; a size that
// is out of date (the screen changed) is noticed and the picture asked again.
TEST(Tools, ADeviceSizeIsLearnedOnce) {
    const std::string devices_with_size =
        R"({"devices":[{"id":"screen","name":"Screen","focusable":false,"width":3840,"height":2160}]})";
    struct Case {
        std::string name, devices;
        PictureSize screen;
        std::vector<std::string> first, second;
    };
    const Case cases[] = {
        {"from /devices", devices_with_size, {3840, 2160}, {"devices", "screenshot 1429x804"}, {"screenshot 1429x804"}},
        {"from the first picture",
         "{}",
         {3840, 2160},
         {"devices", "screenshot -x-", "screenshot 1429x804"},
         {"screenshot 1429x804"}},
        {"out of date",
         devices_with_size,
         {1440, 900},
         {"devices", "screenshot 1429x804", "screenshot 1356x847"},
         {"screenshot 1356x847"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SessionHarness harness;
        harness.app.reports_sizes = true;
        harness.app.full_sizes["screen"] = c.screen;
        harness.app.json["devices"] = JsonValue::parse(c.devices);
        JsonValue result = harness.call("screenshot");
        EXPECT_EQ(harness.app.calls(), c.first);
        std::string from = std::to_string(c.screen.width) + "x" + std::to_string(c.screen.height);
        EXPECT_NE(first_text(result).find(", scaled down from " + from + " ("), std::string::npos)
            << first_text(result);
        std::size_t before = harness.app.calls().size();
        harness.call("screenshot");
        std::vector<std::string> calls = harness.app.calls();
        EXPECT_EQ(std::vector<std::string>(calls.begin() + static_cast<long>(before), calls.end()), c.second);
    }
}

// A region comes at full resolution, clipped to the device as the app clips
// it, and scaled only when it is beyond the budget; the text maps it.
TEST(Tools, ARegionAtFullResolution) {
    struct Case {
        std::string name;
        JsonValue arguments;
        std::string call, text;
    };
    const Case cases[] = {
        {"small",
         {{"region", {{"x", 100}, {"y", 200}, {"width", 640}, {"height", 480}}}},
         "screenshot -x- region 100,200,640,480",
         "640x480 JPEG, 1000 bytes: the region 100,200,640,480 of the 3840x2160 screen at full resolution; region "
         "x,y,w,h are in screen pixels"},
        {"large",
         {{"region", {{"x", 0}, {"y", 0}, {"width", 3000}, {"height", 2000}}}},
         "screenshot 1313x875 region 0,0,3000,2000",
         "1313x875 JPEG, 1000 bytes: the region 0,0,3000,2000 of the 3840x2160 screen, scaled down from 3000x2000 "
         "(2.285 screen pixels per picture pixel); region x,y,w,h are in screen pixels"},
        {"partly outside",
         {{"region", {{"x", 3000}, {"y", 1500}, {"width", 2000}, {"height", 1000}}}},
         "screenshot -x- region 3000,1500,2000,1000",
         "840x660 JPEG, 1000 bytes: the region 3000,1500,840,660 of the 3840x2160 screen at full resolution; region "
         "x,y,w,h are in screen pixels"},
        {"asked size",
         {{"region", {{"x", 0}, {"y", 0}, {"width", 1000}, {"height", 500}}}, {"width", 2000}},
         "screenshot 2000x- region 0,0,1000,500",
         "2000x1000 JPEG, 1000 bytes: the region 0,0,1000,500 of the 3840x2160 screen, scaled up from 1000x500 (0.500 "
         "screen pixels per picture pixel); region x,y,w,h are in screen pixels"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SessionHarness harness;
        harness.app.reports_sizes = true;
        harness.app.full_sizes["screen"] = {3840, 2160};
        harness.app.json["devices"] = JsonValue::parse(R"({"devices":[{"id":"screen","width":3840,"height":2160}]})");
        JsonValue result = harness.call("screenshot", c.arguments);
        EXPECT_EQ(picture_calls(harness.app), std::vector<std::string>{c.call});
        EXPECT_EQ(first_text(result), c.text);
        EXPECT_TRUE(image_of(result).is_object());
    }

    // An app that does not crop would show the whole screen as the region.
    SessionHarness older;
    JsonValue result = older.call("snap", {{"region", {{"x", 0}, {"y", 0}, {"width", 10}, {"height", 10}}}});
    EXPECT_EQ(result["isError"], true);
    EXPECT_EQ(first_text(result), "this Vistrel app cannot show a region of a picture; a newer one can");
}

TEST(Tools, AMonitorOrAWindow) {
    const std::string monitors =
        R"({"devices":[{"id":"screen","width":2560,"height":1024},{"id":"screen:1","width":1280,"height":1024},{"id":"screen:2","width":1280,"height":720}]})";
    const std::string one_screen = R"({"devices":[{"id":"0"},{"id":"screen"}]})";
    const std::string windows =
        R"({"windows":[{"id":"0x1","title":"Terminal \u2014 bash"},{"id":"0x2","title":"Firefox"},{"id":"0x3","title":null}]})";
    struct Case {
        std::string name, devices;
        JsonValue arguments;
        std::string call, text;  // call empty: a refusal with `text`
    };
    const Case cases[] = {
        {"monitor 2",
         monitors,
         {{"monitor", 2}},
         "screenshot screen:2 -x-",
         "monitor 2\n1280x720 JPEG, 1000 bytes, full resolution; region x,y,w,h are in monitor pixels"},
        {"no monitor 3",
         monitors,
         {{"monitor", 3}},
         "",
         "there is no monitor 3; the devices tool lists them as screen:N"},
        {"the one monitor is the screen",
         one_screen,
         {{"monitor", 1}},
         "screenshot -x-",
         "1280x720 JPEG, 1000 bytes, full resolution; region x,y,w,h are in screen pixels"},
        {"a window by a piece of its title",
         monitors,
         {{"window", "FIRE"}},
         "screenshot window:0x2 -x-",
         "window:0x2 \"Firefox\"\n1280x720 JPEG, 1000 bytes, full resolution; region x,y,w,h are in window pixels"},
        {"a window by its id",
         monitors,
         {{"window", "0x1"}},
         "screenshot window:0x1 -x-",
         "window:0x1 \"Terminal \u2014 bash\"\n1280x720 JPEG"},
        {"several windows",
         monitors,
         {{"window", "e"}},
         "",
         "2 windows have a title holding \"e\": 0x1 \"Terminal \u2014 bash\", 0x2 \"Firefox\"; give one's id"},
        {"no window",
         monitors,
         {{"window", "mail"}},
         "",
         "no window has the id or a title holding \"mail\"; the windows tool lists them"},
        {"both", monitors, {{"window", "0x1"}, {"monitor", 1}}, "", "screenshot: give monitor or window, not both"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SessionHarness harness;
        harness.app.reports_sizes = true;
        harness.app.full_sizes["screen"] = {1280, 720};
        harness.app.full_sizes["screen:2"] = {1280, 720};
        harness.app.json["devices"] = JsonValue::parse(c.devices);
        harness.app.json["windows"] = JsonValue::parse(windows);
        JsonValue result = harness.call("screenshot", c.arguments);
        std::vector<std::string> calls = picture_calls(harness.app);
        std::erase(calls, "windows");
        if (c.call.empty()) {
            EXPECT_EQ(result["isError"], true);
            EXPECT_EQ(first_text(result), c.text);
            EXPECT_TRUE(calls.empty());
        } else {
            EXPECT_EQ(calls, std::vector<std::string>{c.call});
            EXPECT_EQ(first_text(result).rfind(c.text, 0), 0u) << first_text(result);
        }
    }
}

TEST(Tools, AHeavyPictureIsAskedForSmaller) {
    SessionHarness harness;
    // 1.2 MB at 1280x720: about 1.6 MB of base64.
    harness.app.picture = [](const PictureRequest& request) {
        int width = static_cast<int>(request.size.width.value_or(1280));
        int height = static_cast<int>(request.size.height.value_or(720));
        return Result<std::string>(fake_jpeg(width, height, std::size_t(width) * height * 1200000 / (1280 * 720)));
    };
    JsonValue result = harness.call("snap");
    EXPECT_EQ(picture_calls(harness.app).size(), 2u);
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
    harness.app.picture = [](const PictureRequest&) { return Result<std::string>(fake_jpeg(4000, 3000)); };
    JsonValue result = harness.call("snap");
    EXPECT_EQ(picture_calls(harness.app).size(), 4u) << "the device's size, then three tries";
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
        harness.app.picture = [&](const PictureRequest&) { return Result<std::string>(body); };
        JsonValue result = harness.call("snap");
        EXPECT_EQ(result["isError"], true);
        EXPECT_EQ(first_text(result), "the app's answer is not a JPEG picture");
    }
}

TEST(Tools, LookFocusesThenSnapsTheSameDevice) {
    SessionHarness harness;
    harness.app.json["focus"] = JsonValue::parse(R"({"sweep":{"focus":137,"sharpness":88.25}})");
    JsonValue result = harness.call("look", {{"device", "net:phone"}});
    EXPECT_EQ(harness.app.calls(), (std::vector<std::string>{"focus net:phone", "devices", "frame net:phone -x-"}));
    EXPECT_EQ(first_text(result),
              "focus 137 (sharpness 88)\n1280x720 JPEG, 1000 bytes, full resolution; region x,y,w,h are in camera "
              "pixels");
    EXPECT_TRUE(image_of(result).is_object());
}

// save keeps the full picture in a new file of the server's folder, whatever
// is shown inline.
TEST(Tools, SaveKeepsTheFullPictureInTheServersFolder) {
    SessionHarness harness;
    harness.app.full_sizes["screen"] = {1920, 1080};
    harness.app.reports_sizes = true;
    harness.app.json["devices"] = JsonValue::parse(R"({"devices":[{"id":"screen","width":1920,"height":1080}]})");
    JsonValue result = harness.call("screenshot", {{"save", true}});
    EXPECT_EQ(picture_calls(harness.app), (std::vector<std::string>{"screenshot -x-", "screenshot 1429x804"}));
    auto names = harness.folder.names();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].rfind("vistrel-screen-", 0), 0u);
    EXPECT_EQ(read_file(harness.folder.path / names[0]), fake_jpeg(1920, 1080));
    std::string path = absolute_path((harness.folder.path / names[0]).string());
    EXPECT_NE(first_text(result).find("\nsaved the full picture (1920x1080, 1000 bytes) to " + path), std::string::npos)
        << first_text(result);
    EXPECT_TRUE(image_of(result).is_object());
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

TEST(Tools, RecordShowsAPreviewWhenTheAppMakesOne) {
    SessionHarness harness;
    harness.app.preview_id = "p1";
    harness.app.preview_sheet = fake_jpeg(1200, 800);
    JsonValue result = harness.call("record", {{"secs", 2}, {"preview", 9}});
    EXPECT_EQ(harness.app.calls(), (std::vector<std::string>{"record 2 webm preview 9", "preview p1"}));
    EXPECT_NE(first_text(result).find("\npreview: 1200x800 sheet of frames taken at even times, each with its time"),
              std::string::npos)
        << first_text(result);
    EXPECT_EQ(result["content"][1]["type"], "resource_link");
    EXPECT_EQ(image_of(result)["data"], base64(fake_jpeg(1200, 800)));

    SessionHarness older;  // names no preview sheet
    result = older.call("record", {{"secs", 2}, {"preview", 4}});
    EXPECT_NE(first_text(result).find("\nno preview is available: this Vistrel app makes none"), std::string::npos);
    EXPECT_TRUE(image_of(result).is_null());
    EXPECT_EQ(older.folder.names().size(), 1u) << "the recording is kept all the same";

    SessionHarness broken;
    broken.app.preview_id = "p2";
    broken.app.preview_sheet = Failure{"no such preview"};
    result = broken.call("record", {{"secs", 2}, {"preview", 4}});
    EXPECT_NE(first_text(result).find("\nno preview is available: no such preview"), std::string::npos);
    EXPECT_FALSE(result.contains("isError"));
}

// A recording longer than a client waits for a call returns at once with its
// file's path; recording waits for it, and gives what record would have.
TEST(Tools, ALongRecordingRunsPastItsCall) {
    SessionHarness harness;
    harness.settings.longest_waited_recording = 2;
    harness.settings.recording_wait = std::chrono::milliseconds(50);
    harness.restart();
    harness.app.close_gate();
    JsonValue started = harness.call("record", {{"secs", 3}});
    EXPECT_FALSE(started.contains("isError")) << started;
    auto names = harness.folder.names();
    ASSERT_EQ(names.size(), 1u) << "the file is named at once";
    std::string path = absolute_path((harness.folder.path / names[0]).string());
    EXPECT_EQ(
        first_text(started).rfind("recording 3 s of the screen (webm) to " + path + "; it will be saved at about ", 0),
        0u)
        << first_text(started);
    JsonValue waiting = harness.call("recording");
    EXPECT_EQ(first_text(waiting).rfind("still recording to " + path + "; it will be saved at about ", 0), 0u)
        << first_text(waiting);
    JsonValue refused = harness.call("record", {{"secs", 3}});
    EXPECT_EQ(refused["isError"], true);
    harness.app.open_gate();
    harness.settings.recording_wait = std::chrono::seconds(20);
    harness.restart();  // the recording goes with the session that started it
    harness.app.close_gate();
    harness.call("record", {{"secs", 3}});
    harness.app.wait_for_recording();
    harness.app.open_gate();
    JsonValue done = harness.call("recording");
    EXPECT_EQ(first_text(done).rfind("saved a 3-second screen recording (webm) of 11 bytes to ", 0), 0u)
        << first_text(done);
    EXPECT_EQ(done["content"][1]["type"], "resource_link");
    EXPECT_EQ(first_text(harness.call("recording")), "no recording started by record is waiting");
}

TEST(Tools, RecordingStopEndsItEarly) {
    SessionHarness harness;
    harness.settings.longest_waited_recording = 2;
    harness.restart();
    harness.app.close_gate();
    harness.call("record", {{"secs", 60}});
    harness.app.wait_for_recording();
    JsonValue stopped = harness.call("recording", {{"stop", true}});
    EXPECT_EQ(first_text(stopped).rfind("saved a screen recording (webm), ended early after about ", 0), 0u)
        << first_text(stopped);
    EXPECT_EQ(harness.app.calls(), (std::vector<std::string>{"record 60 webm", "stop_recording"}));
    EXPECT_EQ(harness.folder.names().size(), 1u);

    // An app that cannot end a recording early is hung up on: no file is kept.
    SessionHarness older;
    older.settings.longest_waited_recording = 2;
    older.restart();
    older.app.close_gate();
    older.app.json["stop_recording"] = Failure{"not found"};
    older.call("record", {{"secs", 60}});
    older.app.wait_for_recording();
    JsonValue cut = older.call("recording", {{"stop", true}});
    EXPECT_EQ(cut["isError"], true);
    EXPECT_EQ(first_text(cut), "could not end the recording early (not found), so it was cut off and no file was kept");
    EXPECT_FALSE(older.app.recording_now());
    EXPECT_TRUE(older.folder.names().empty());
}

TEST(Tools, ALongRecordingThatTheAppRefusesFailsAtOnce) {
    SessionHarness harness;
    harness.settings.longest_waited_recording = 2;
    harness.restart();
    harness.app.recording = Failure{"a screen recording is already running; try again when it has finished"};
    JsonValue result = harness.call("record", {{"secs", 60}});
    EXPECT_EQ(result["isError"], true);
    EXPECT_EQ(first_text(result), "a screen recording is already running; try again when it has finished");
    EXPECT_TRUE(harness.folder.names().empty());
}

// The client going away (the end of input) hangs up on a recording that runs
// past its call; its unfinished file goes.
TEST(Tools, TheEndOfInputEndsALongRecording) {
    SessionHarness harness;
    harness.settings.longest_waited_recording = 2;
    harness.restart();
    harness.app.close_gate();
    harness.call("record", {{"secs", 60}});
    harness.app.wait_for_recording();
    harness.session->finish();
    harness.session.reset();
    EXPECT_FALSE(harness.app.recording_now());
    EXPECT_TRUE(harness.folder.names().empty());
}

// What the tools' files go through: bytes written as they come, a file that
// is not finished removed, a name taken never replaced, a fresh name never
// reused.
TEST(NewFileSink, WritesAsItComesAndLeavesNoUnfinishedFile) {
    TempFolder folder;
    std::string path = absolute_path(folder.text() + "/clip.webm");
    {
        NewFileSink sink(exact_path(path));
        sink.take("webm ");
        sink.take("");
        sink.take("bytes");
        EXPECT_EQ(read_file(folder.path / "clip.webm"), "webm bytes");  // there before it is finished
        Result<SavedFile> saved = sink.finish();
        ASSERT_TRUE(saved) << saved.error().message;
        EXPECT_EQ(saved.value().path, path);
        EXPECT_EQ(saved.value().bytes, 10u);
    }
    EXPECT_EQ(read_file(folder.path / "clip.webm"), "webm bytes");

    {
        NewFileSink unfinished(exact_path(folder.text() + "/cut.webm"));
        unfinished.take("half a video");
    }
    { NewFileSink never_started(exact_path(folder.text() + "/refused.webm")); }
    EXPECT_EQ(folder.names(), std::vector<std::string>{"clip.webm"});

    NewFileSink taken(exact_path(path));
    taken.take("other bytes");
    Result<SavedFile> refused = taken.finish();
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().message.rfind("cannot write " + path + ": ", 0), 0u) << refused.error().message;
    EXPECT_EQ(read_file(folder.path / "clip.webm"), "webm bytes");

    NewFileSink empty(fresh_name(folder.text(), "vistrel-screen", "mp4"));
    Result<SavedFile> first = empty.finish();
    Result<SavedFile> second = save_new_file(fresh_name(folder.text(), "vistrel-screen", "mp4"), "mp4");
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.value().path, second.value().path);
    EXPECT_EQ(read_file(std::filesystem::path(first.value().path)), "");
    EXPECT_EQ(read_file(std::filesystem::path(second.value().path)), "mp4");
    EXPECT_EQ(folder.names().size(), 3u);
}
