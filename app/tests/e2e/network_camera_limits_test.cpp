// Network cameras that are slow, hostile or the app itself.
#include "app_fixture.h"
#include "fake_phone.h"
#include "raw_http.h"
#include "sanitizers.h"

#include <unistd.h>

#include <future>
#include <thread>

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class NetworkCameraTest : public AppTest {
protected:
    FakePhone phone;
};

// With a fetch deadline of 1.5 s instead of 10 s, so that no test waits long.
class ShortFetchTest : public NetworkCameraTest {
protected:
    std::vector<std::string> extra_app_args() const override { return {"--fetch-deadline-ms", "1500"}; }
};

TEST_F(ShortFetchTest, ACameraThatTricklesIsGivenUpAtTheDeadlineOfTheWholeFetch) {
    // One byte every 100 ms: no single read is slow, the photo is.
    ASSERT_EQ(vistrel({"add-source", "slow", phone.url("/trickle.jpg")}).exit_status, 0);
    RunResult snap = vistrel({"snap", "--device", "net:slow"});
    expect_refused(snap, "net:slow (" + phone.url("/trickle.jpg") + ") sent no complete photo within 1.5 seconds");
    EXPECT_GE(snap.took.count(), 1500);
    EXPECT_LT(snap.took.count(), 1500 + 3000 * sanitizer_slowdown);
    for (int i = 0; i < 100 && phone.trickles_ended == 0; ++i) std::this_thread::sleep_for(20ms);
    EXPECT_EQ(phone.trickles_ended, 1) << "the app kept the camera's connection";
}

TEST_F(NetworkCameraTest, AClientThatHangsUpStopsTheFetch) {
    ASSERT_EQ(vistrel({"add-source", "slow", phone.url("/trickle.jpg")}).exit_status, 0);
    int client = connect_loopback(app.port);
    send_bytes(client, client_style_request("GET", "/api/frame.jpg?_=&device=net:slow", app.port));
    for (int i = 0; i < 250 && phone.trickles_started == 0; ++i) std::this_thread::sleep_for(20ms);
    ASSERT_EQ(phone.trickles_started, 1);
    auto hung_up = Clock::now();
    close(client);
    // Well before the fetch's own deadline of 10 s.
    for (int i = 0; i < 400 && phone.trickles_ended == 0; ++i) std::this_thread::sleep_for(10ms);
    ASSERT_EQ(phone.trickles_ended, 1) << "the app went on fetching for a client that had gone";
    auto ended = Clock::time_point(Clock::duration(phone.trickle_ended_at.load()));
    EXPECT_LT(ended - hung_up, 1s * sanitizer_slowdown);
    EXPECT_EQ(vistrel({"status"}).exit_status, 0);
}

TEST_F(NetworkCameraTest, APictureTooLargeToHoldIsRefusedWithoutDecodingIt) {
    // 1.5 KB of JPEG that declares 16000x16000 pixels: 768 MB once decoded.
    ASSERT_EQ(vistrel({"add-source", "bomb", phone.url("/bomb.jpg")}).exit_status, 0);
    ASSERT_EQ(vistrel({"add-source", "phone", phone.url("/shot.jpg")}).exit_status, 0);
    ASSERT_EQ(vistrel({"snap", "--device", "net:phone", "--size", "160x120"}).exit_status, 0);
    long before = peak_memory_kib(app.pid);
    ASSERT_GT(before, 0);

    const std::string refusal =
        "net:bomb sent a picture of 16000x16000 pixels; at most 8192 a side and 40 megapixels are accepted";
    std::vector<std::future<RunResult>> snaps;
    for (int i = 0; i < 6; ++i) {
        std::vector<std::string> args = {"snap", "--device", "net:bomb", "--out", "bomb" + std::to_string(i) + ".jpg"};
        if (i % 2) args.insert(args.end(), {"--size", "320x240"});
        snaps.push_back(std::async(std::launch::async, [this, args] { return vistrel(args); }));
    }
    for (auto& snap : snaps) expect_refused(snap.get(), refusal);
    long after = peak_memory_kib(app.pid);
    EXPECT_LT(after - before, 64 * 1024) << "peak memory grew from " << before << " KiB to " << after << " KiB";
}

TEST_F(NetworkCameraTest, EverySpellingOfTheAppsOwnAddressIsRefused) {
    std::string port = std::to_string(app.port);
    for (const std::string host :
         {"127.0.0.1", "127.0.0.2", "127.1", "0", "0.0.0.0", "2130706433", "0x7f000001", "0177.0.0.1", "[::1]",
          "[::ffff:127.0.0.1]", "localhost", "LocalHost", "cam.localhost"}) {
        expect_refused(vistrel({"add-source", "self", "http://" + host + ":" + port + "/api/frame.jpg"}),
                       "that URL is vistrel-app itself; a source must be another camera");
    }
    // The same hosts on another port are other programs.
    ASSERT_EQ(
        vistrel({"add-source", "other", "http://2130706433:" + std::to_string(phone.port) + "/shot.jpg"}).exit_status,
        0);
    RunResult snap = vistrel({"snap", "--device", "net:other", "--out", "other.jpg"});
    ASSERT_EQ(snap.exit_status, 0) << snap.err;
    EXPECT_EQ(read_file(in_work("other.jpg")), phone.jpeg);
}
}  // namespace
