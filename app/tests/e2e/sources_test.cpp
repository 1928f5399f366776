// add-source, sources, forget-source and frames from network cameras.
#include "app_fixture.h"
#include "fake_phone.h"
#include "raw_http.h"

#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

namespace {
class SourcesTest : public AppTest {
protected:
    FakePhone phone;
};

const std::string no_sources =
    "no phone / IP cameras registered\n  add one: vistrel add-source phone http://<phone-ip>:8080/shot.jpg\n";

TEST_F(SourcesTest, AddListUseAndForgetASource) {
    EXPECT_EQ(vistrel({"sources"}).out, no_sources);

    RunResult added = vistrel({"add-source", "phone", phone.url("/shot.jpg")});
    ASSERT_EQ(added.exit_status, 0) << added.err;
    EXPECT_EQ(added.out, "added \"phone\" \xe2\x80\x94 use it with --device net:phone\n");
    EXPECT_EQ(vistrel({"sources"}).out, "  net:phone            " + phone.url("/shot.jpg") + "\n");
    EXPECT_NE(vistrel({"devices"}).out.find("  net:phone  Network camera phone"), std::string::npos);

    // Without a size the phone's own bytes come through untouched.
    RunResult snap = vistrel({"snap", "--device", "net:phone", "--out", "phone.jpg"});
    ASSERT_EQ(snap.exit_status, 0) << snap.err;
    EXPECT_EQ(read_file(in_work("phone.jpg")), phone.jpeg);
    // With one they are scaled.
    ASSERT_EQ(vistrel({"snap", "--device", "net:phone", "--size", "160x120", "--out", "small.jpg"}).exit_status, 0);
    auto small = decode_jpeg_file(in_work("small.jpg"));
    ASSERT_TRUE(small);
    EXPECT_EQ(small->width, 160);
    EXPECT_EQ(small->height, 120);
    // A network camera has neither lens nor knobs.
    expect_refused(vistrel({"focus", "--device", "net:phone"}),
                   "net:phone has no lens to focus; the cameras that can focus are \"sim\"");
    EXPECT_EQ(vistrel({"controls", "--device", "net:phone"}).out, "");

    RunResult removed = vistrel({"forget-source", "phone"});
    ASSERT_EQ(removed.exit_status, 0) << removed.err;
    EXPECT_EQ(removed.out, "removed \"phone\"\n");
    EXPECT_EQ(vistrel({"sources"}).out, no_sources);
    EXPECT_EQ(vistrel({"devices"}).out.find("net:phone"), std::string::npos);
}

TEST_F(SourcesTest, ANameWithASpaceWorksThoughTheClientSendsItUnencoded) {
    ASSERT_EQ(vistrel({"add-source", "my phone", phone.url("/shot.jpg")}).exit_status, 0);
    RunResult snap = vistrel({"snap", "--device", "net:my phone", "--out", "phone.jpg"});
    ASSERT_EQ(snap.exit_status, 0) << snap.err;
    EXPECT_EQ(read_file(in_work("phone.jpg")), phone.jpeg);
    EXPECT_EQ(vistrel({"forget-source", "my phone"}).out, "removed \"my phone\"\n");
}

TEST_F(SourcesTest, SourcesSurviveARestartOfTheApp) {
    ASSERT_EQ(vistrel({"add-source", "phone", phone.url("/shot.jpg")}).exit_status, 0);
    ASSERT_EQ(vistrel({"add-source", "door", "http://192.0.2.7:8080/snapshot.jpg"}).exit_status, 0);
    // Adding a name again points it at the new URL.
    ASSERT_EQ(vistrel({"add-source", "door", "http://192.0.2.8/s.jpg"}).exit_status, 0);
    restart_app();

    RunResult listed = vistrel({"sources"});
    EXPECT_EQ(listed.out, "  net:phone            " + phone.url("/shot.jpg") +
                              "\n"
                              "  net:door             http://192.0.2.8/s.jpg\n");
    auto file = nlohmann::json::parse(read_file(sources_file()));
    EXPECT_EQ(file.at("sources").size(), 2u);
    EXPECT_EQ(file.at("sources").at(1).at("url"), "http://192.0.2.8/s.jpg");
    std::set<std::string> entries;
    for (const auto& entry : std::filesystem::directory_iterator(config_home + "/vistrel")) {
        entries.insert(entry.path().filename().string());
    }
    EXPECT_EQ(entries, (std::set<std::string>{"sources.json", "sources.json.lock"}))
        << "only the file and its lock, no temporary files";
    ASSERT_EQ(vistrel({"snap", "--device", "net:phone", "--out", "after.jpg"}).exit_status, 0);
    EXPECT_EQ(read_file(in_work("after.jpg")), phone.jpeg);
}

TEST_F(SourcesTest, TwoAppsSharingTheConfigFolderLoseNoChange) {
    AppProcess second = start_app({}, app_environment(), temp + "/second.log");
    // 30 adds to each app, all at once.
    std::vector<std::thread> clients;
    std::atomic<int> added{0};
    for (int i = 0; i < 60; ++i) {
        int port = i % 2 ? second.port : app.port;
        clients.emplace_back([&, i, port] {
            std::string body = R"({"name":"cam)" + std::to_string(i) + R"(","url":"http://192.0.2.)" +
                               std::to_string(i + 1) + R"(/shot.jpg"})";
            if (raw_exchange(port, client_style_request("POST", "/api/sources", port, body)).status == 200) ++added;
        });
    }
    for (auto& client : clients) client.join();
    stop_app(second);
    expect_no_sanitizer_report(second.log_path);
    EXPECT_EQ(added, 60);
    auto file = nlohmann::json::parse(read_file(sources_file()));
    EXPECT_EQ(file.at("sources").size(), 60u) << "changes were lost";
}

TEST_F(SourcesTest, TheConfigFolderIsTheUsersAloneWhateverTheUmask) {
    stop_app(app);
    mode_t old = umask(0);
    start_app_process();
    umask(old);
    ASSERT_EQ(vistrel({"add-source", "phone", phone.url("/shot.jpg")}).exit_status, 0);
    auto mode = [](const std::string& path) {
        struct stat info {};
        EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
        return info.st_mode & 0777;
    };
    EXPECT_EQ(mode(config_home + "/vistrel"), 0700u);
    EXPECT_EQ(mode(sources_file()), 0600u);
}

TEST_F(SourcesTest, WhatAKilledAppLeftIsRemovedWhenTheNextStarts) {
    ASSERT_EQ(vistrel({"add-source", "phone", phone.url("/shot.jpg")}).exit_status, 0);
    // As left by an app killed between writing and renaming its new list.
    std::string leftover = config_home + "/vistrel/.sources.json.tmp-4242-0";
    write_file(leftover, "{\"sources\": [");
    restart_app();
    EXPECT_FALSE(std::filesystem::exists(leftover));
    EXPECT_EQ(vistrel({"sources"}).out, "  net:phone            " + phone.url("/shot.jpg") + "\n");
}

TEST_F(SourcesTest, BadNamesUrlsAndUnknownSourcesAreRefused) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"add-source", "a&b", "http://cam/"},
         "a source name cannot hold \"&\" (it would break the --device query); use letters, digits, spaces, - or _"},
        {{"add-source", "", "http://cam/"}, "a source name cannot be empty"},
        {{"add-source", " phone", "http://cam/"}, "a source name cannot begin or end with a space"},
        {{"add-source", "phone", "ftp://cam/x.jpg"},
         "not a usable camera URL: \"ftp://cam/x.jpg\"; give an http:// address such as "
         "http://192.168.1.50:8080/shot.jpg"},
        {{"add-source", "phone", "192.168.1.50/shot.jpg"},
         "not a usable camera URL: \"192.168.1.50/shot.jpg\"; give an http:// address such as "
         "http://192.168.1.50:8080/shot.jpg"},
        {{"add-source", "self", "http://127.0.0.1:" + std::to_string(app.port) + "/api/frame.jpg"},
         "that URL is vistrel-app itself; a source must be another camera"},
        {{"add-source", "self", "http://localhost:" + std::to_string(app.port) + "/"},
         "that URL is vistrel-app itself; a source must be another camera"},
        {{"forget-source", "ghost"}, "no source named \"ghost\" is registered"},
    };
    for (const auto& c : cases) expect_refused(vistrel(c.args), c.message);
    EXPECT_EQ(vistrel({"sources"}).out, no_sources);
    EXPECT_FALSE(std::filesystem::exists(sources_file())) << "a refusal must not write the file";
}

TEST_F(SourcesTest, CamerasThatFailOrSendNoPhotoAreRefused) {
    std::string dead = "http://127.0.0.1:" + std::to_string(closed_port()) + "/shot.jpg";
    ASSERT_EQ(vistrel({"add-source", "dead", dead}).exit_status, 0);
    ASSERT_EQ(vistrel({"add-source", "page", phone.url("/page.html")}).exit_status, 0);
    ASSERT_EQ(vistrel({"add-source", "gone", phone.url("/gone")}).exit_status, 0);

    expect_refused(vistrel({"snap", "--device", "net:dead"}),
                   "cannot reach net:dead (" + dead + "): Connection refused");
    expect_refused(vistrel({"snap", "--device", "net:page"}),
                   "net:page (" + phone.url("/page.html") + ") did not send a JPEG (it sent text/html)");
    expect_refused(vistrel({"snap", "--device", "net:gone"}),
                   "net:gone (" + phone.url("/gone") + ") answered HTTP 404 instead of a photo");
    EXPECT_FALSE(std::filesystem::exists(in_work("vistrel.jpg")));
}

TEST_F(SourcesTest, AnUnreadableSourcesFileIsReportedAndNeverOverwritten) {
    std::filesystem::create_directories(config_home + "/vistrel");
    const std::string broken = "{\"sources\": [ this is not JSON";
    write_file(sources_file(), broken);

    std::string reason = "cannot read the sources file " + sources_file() + ": it is not valid JSON; fix or remove it";
    expect_refused(vistrel({"sources"}), reason);
    expect_refused(vistrel({"add-source", "phone", phone.url("/shot.jpg")}), reason);
    expect_refused(vistrel({"forget-source", "phone"}), reason);
    expect_refused(vistrel({"snap", "--device", "net:phone"}), reason);
    EXPECT_EQ(read_file(sources_file()), broken);

    // Everything else still works.
    RunResult devices = vistrel({"devices", "--json"});
    ASSERT_EQ(devices.exit_status, 0);
    auto reply = nlohmann::json::parse(devices.out);
    EXPECT_EQ(reply.at("devices").size(), 2u);
    EXPECT_EQ(reply.at("warning"), reason);
    EXPECT_EQ(vistrel({"snap", "--size", "64x64"}).exit_status, 0);
}
}  // namespace
