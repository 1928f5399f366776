// The in-process recorder against a fake screen whose whole picture changes
// colour every half second: recordings of exactly 25 frames a second
// whatever the grabs cost, ended early, cancelled, cut short by the app's
// stop, with a preview; MP4 where Windows has no H.264 encoder (wine).
// The WebM files are left in VISTREL_TEST_RECORDINGS for check-recordings.sh,
// which reads them with Linux's ffprobe and ffmpeg.
#include "recording/windows_recorder.h"
#include "fault.h"
#include "imaging/jpeg.h"
#include "webm_facts.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Rgb {
    std::uint8_t r, g, b;
};
// Colour k of the fake screen shows from (k - 0.5) / 2 s to (k + 0.5) / 2 s
// after its first picture, round and round: the preview's frames at 0, 0.5,
// 1 and 1.5 s each fall in the middle of one. check-recordings.sh knows them.
constexpr std::array<Rgb, 4> colours = {Rgb{200, 40, 40}, Rgb{40, 180, 70}, Rgb{50, 70, 210}, Rgb{230, 230, 230}};

struct FakeScreenSettings {
    int width = 320, height = 180;
    std::chrono::milliseconds grab_time{0};
    std::optional<Fault> first_fault = std::nullopt;  // the first picture fails so
    // Pictures from `failing_from` to `failing_until` after the first fail.
    std::chrono::milliseconds failing_from{-1}, failing_until{-1};
};

class ChangingScreen : public ScreenBackend {
public:
    explicit ChangingScreen(FakeScreenSettings settings) : settings_(settings) {}
    const char* name() const override { return "fake"; }
    ScreenState state() override { return {ScreenInfo{"fake", {settings_.width, settings_.height}, {}}, ""}; }
    std::vector<WindowInfo> windows() override { return {}; }
    RecordingInput start_recording(const std::filesystem::path&, int) override {
        throw Fault{FaultKind::unsupported, "not here"};
    }

    void capture(const ScreenRequest& request, const ScreenShotUse& use) override {
        std::lock_guard lock(mutex_);
        EXPECT_EQ(request.target.kind, ScreenTarget::Kind::whole);
        auto now = Clock::now();
        if (pictures_++ == 0) {
            first_ = now;
            if (settings_.first_fault) throw *settings_.first_fault;
        }
        auto since = std::chrono::duration_cast<std::chrono::milliseconds>(now - first_);
        if (since >= settings_.failing_from && since < settings_.failing_until) {
            throw Fault{FaultKind::failed, "cannot copy the screen (BitBlt failed, error 5)"};
        }
        if (settings_.grab_time.count() > 0) std::this_thread::sleep_for(settings_.grab_time);
        const Rgb& c = colours[static_cast<std::size_t>((since.count() + 250) / 500 % 4)];
        // Rows bottom up and padded, as a bitmap may hand them over.
        int stride = settings_.width * 4 + 12;
        bytes_.assign(static_cast<std::size_t>(stride) * settings_.height, 0);
        for (int y = 0; y < settings_.height; ++y) {
            for (int x = 0; x < settings_.width; ++x) {
                std::uint8_t* p = &bytes_[static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * 4];
                p[0] = c.b;
                p[1] = c.g;
                p[2] = c.r;
            }
        }
        PixelView view{bytes_.data(), settings_.width, settings_.height, stride, true, bgrx_layout};
        use(ScreenShot{{settings_.width, settings_.height}, std::nullopt, view});
    }

    int pictures() {
        std::lock_guard lock(mutex_);
        return pictures_;
    }

private:
    FakeScreenSettings settings_;
    std::mutex mutex_;
    int pictures_ = 0;
    Clock::time_point first_;
    std::vector<std::uint8_t> bytes_;
};

CancelCheck never() {
    return [] { return false; };
}

// Recordings of an earlier run are not read as this run's.
const bool cleared = [] {
    if (const char* folder = std::getenv("VISTREL_TEST_RECORDINGS")) std::filesystem::remove_all(folder);
    return true;
}();

// Leaves the recording for check-recordings.sh.
void keep(const std::string& name, const std::string& bytes) {
    const char* folder = std::getenv("VISTREL_TEST_RECORDINGS");
    if (!folder) return;
    std::filesystem::create_directories(folder);
    std::ofstream(std::filesystem::path(folder) / (name + ".webm"), std::ios::binary) << bytes;
}

TEST(WindowsRecorder, HoldsTwentyFiveFramesASecondWhateverTheGrabsCost) {
    struct Case {
        const char* name;
        FakeScreenSettings screen;
        int max_queued_frames;
        int recorded_width, recorded_height;
    };
    const Case cases[] = {
        // Quick grabs of a screen of odd sides: the stray column and row go.
        {"quick", {.width = 321, .height = 181}, 0, 320, 180},
        // Grabs slower than the rate: the frame before stands in.
        {"slow", {.grab_time = 150ms}, 0, 320, 180},
        // A screen the encoder is slower for than the rate (under wine),
        // two frames waiting at most: the queue fills and stands in too.
        {"large", {.width = 1920, .height = 1080}, 2, 1920, 1080},
        // Grabs that fail for half a second: the frame before stands in.
        {"failing", {.failing_from = 500ms, .failing_until = 1000ms}, 0, 320, 180},
    };
    for (const Case& c : cases) {
        ChangingScreen screen(c.screen);
        auto recorder = make_windows_recorder(screen, {c.max_queued_frames});
        auto started = Clock::now();
        Recording recording = recorder->record({RecordingFormat::webm, 2, 0}, never());
        auto took = Clock::now() - started;
        EXPECT_EQ(std::string(recording.content_type), "video/webm") << c.name;
        WebmFacts facts = read_webm(recording.bytes);
        EXPECT_TRUE(facts.readable) << c.name;
        EXPECT_TRUE(facts.vp8) << c.name;
        EXPECT_EQ(facts.frames, 50) << c.name << ": 2 s at 25 frames a second";
        EXPECT_DOUBLE_EQ(facts.duration_ms, 2000) << c.name;
        EXPECT_EQ(facts.width, c.recorded_width) << c.name;
        EXPECT_EQ(facts.height, c.recorded_height) << c.name;
        EXPECT_GE(took, 1900ms) << c.name << ": recorded by the clock";
        if (c.screen.grab_time >= 100ms) {
            EXPECT_LT(screen.pictures(), 30) << c.name << ": frames stood in";
        }
        keep(c.name, recording.bytes);
    }
}

TEST(WindowsRecorder, EndedEarlyItGivesTheShorterCompleteFile) {
    ChangingScreen screen({});
    auto recorder = make_windows_recorder(screen);
    EXPECT_FALSE(recorder->stop_early()) << "nothing runs yet";
    auto started = Clock::now();
    auto stopper = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(800ms);
        return recorder->stop_early();
    });
    Recording recording = recorder->record({RecordingFormat::webm, 30, 4}, never());
    auto took = Clock::now() - started;
    EXPECT_TRUE(stopper.get());
    EXPECT_LT(took, 5s);
    WebmFacts facts = read_webm(recording.bytes);
    EXPECT_TRUE(facts.readable);
    EXPECT_GE(facts.frames, 15);
    EXPECT_LT(facts.frames, 30 * 25);
    EXPECT_DOUBLE_EQ(facts.duration_ms, facts.frames * 40.0) << "as long as its frames";
    // The preview spans what was recorded: its first frame shows the start.
    auto sheet = decode_jpeg(recording.preview);
    ASSERT_TRUE(sheet) << recording.preview_problem;
    EXPECT_EQ(sheet->width, 640);
    EXPECT_EQ(sheet->height, 360);
    EXPECT_FALSE(recorder->stop_early()) << "it has ended";
    keep("early", recording.bytes);
}

TEST(WindowsRecorder, ACancelledRecordingEndsAtOnceWithNothing) {
    ChangingScreen screen({});
    auto recorder = make_windows_recorder(screen);
    auto started = Clock::now();
    CancelCheck hung_up = [&] { return Clock::now() - started > 400ms; };
    EXPECT_THROW(recorder->record({RecordingFormat::webm, 30, 0}, hung_up), Cancelled);
    EXPECT_LT(Clock::now() - started, 3s);
    // The next recording is taken.
    Recording next = recorder->record({RecordingFormat::webm, 1, 0}, never());
    EXPECT_EQ(read_webm(next.bytes).frames, 25);
}

TEST(WindowsRecorder, TheAppStoppingCutsARecordingShortAndStartsNoOther) {
    ChangingScreen screen({});
    auto recorder = make_windows_recorder(screen);
    auto started = Clock::now();
    auto stopper = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(400ms);
        recorder->app_stopping();
    });
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            recorder->record({RecordingFormat::webm, 30, 0}, never());
            ADD_FAILURE() << "recorded while the app stops";
        } catch (const Fault& fault) {
            EXPECT_EQ(fault.kind, FaultKind::unavailable);
            EXPECT_EQ(fault.message, "the recording was cut short: vistrel-app is stopping");
        }
        EXPECT_LT(Clock::now() - started, 3s);
    }
    int pictures = screen.pictures();
    EXPECT_THROW(recorder->record({RecordingFormat::webm, 1, 0}, never()), Fault);
    EXPECT_EQ(screen.pictures(), pictures) << "no picture once the app stops";
}

TEST(WindowsRecorder, AScreenThatCannotBeGrabbedIsRefusedAsItSays) {
    Fault locked{FaultKind::unavailable,
                 "the screen is locked or a secure prompt is showing; try again once it is gone"};
    ChangingScreen screen({.first_fault = locked});
    auto recorder = make_windows_recorder(screen);
    try {
        recorder->record({RecordingFormat::webm, 2, 0}, never());
        ADD_FAILURE() << "recorded a screen that refuses";
    } catch (const Fault& fault) {
        EXPECT_EQ(fault.kind, locked.kind);
        EXPECT_EQ(fault.message, locked.message);
    }
    EXPECT_EQ(screen.pictures(), 1);
}

// Under wine (no H.264 encoder) VISTREL_TEST_MP4_REFUSAL holds the reason
// the refusal gives; on a Windows with the encoder, run without it, an MP4
// is made.
TEST(WindowsRecorder, Mp4IsMadeOrRefusedAtOnceNamingWebm) {
    ChangingScreen screen({});
    auto recorder = make_windows_recorder(screen);
    const char* reason = std::getenv("VISTREL_TEST_MP4_REFUSAL");
    auto started = Clock::now();
    if (!reason) {
        Recording recording = recorder->record({RecordingFormat::mp4, 1, 0}, never());
        EXPECT_EQ(std::string(recording.content_type), "video/mp4");
        EXPECT_EQ(recording.bytes.substr(4, 4), "ftyp");
        return;
    }
    try {
        recorder->record({RecordingFormat::mp4, 10, 0}, never());
        ADD_FAILURE() << "an MP4 was made without " << reason;
    } catch (const Fault& fault) {
        EXPECT_EQ(fault.kind, FaultKind::unsupported);
        EXPECT_EQ(fault.message.rfind("MP4 needs Windows' H.264 encoder (Media Foundation)", 0), 0u) << fault.message;
        EXPECT_NE(fault.message.find(reason), std::string::npos) << fault.message;
        EXPECT_NE(fault.message.find("use --format webm"), std::string::npos) << fault.message;
    }
    EXPECT_LT(Clock::now() - started, 5s) << "refused before recording";
    EXPECT_EQ(screen.pictures(), 1) << "only the picture that gave the size";
}

const std::uint8_t* sheet_pixel(const Image& sheet, int x, int y) {
    return &sheet.rgb[(static_cast<std::size_t>(y) * sheet.width + x) * 3];
}

TEST(WindowsRecorder, APreviewShowsFramesAtEvenTimesInAGrid) {
    ChangingScreen screen({});
    auto recorder = make_windows_recorder(screen);
    // Four frames of 2 s: at 0, 0.5, 1 and 1.5 s, each in its own colour,
    // two by two at the screen's own size (within the sheet's limits).
    Recording recording = recorder->record({RecordingFormat::webm, 2, 4}, never());
    EXPECT_EQ(recording.preview_problem, "");
    auto sheet = decode_jpeg(recording.preview);
    ASSERT_TRUE(sheet);
    ASSERT_EQ(sheet->width, 640);
    ASSERT_EQ(sheet->height, 360);
    for (int i = 0; i < 4; ++i) {
        // Below the time written in each tile's top left corner.
        const std::uint8_t* p = sheet_pixel(*sheet, (i % 2) * 320 + 200, (i / 2) * 180 + 120);
        const Rgb& expected = colours[static_cast<std::size_t>(i)];
        EXPECT_NEAR(p[0], expected.r, 12) << "tile " << i;
        EXPECT_NEAR(p[1], expected.g, 12) << "tile " << i;
        EXPECT_NEAR(p[2], expected.b, 12) << "tile " << i;
    }
    keep("preview", recording.bytes);
    // Five frames: three columns, two rows, the last place empty.
    ChangingScreen other({});
    auto five = make_windows_recorder(other)->record({RecordingFormat::webm, 1, 5}, never());
    sheet = decode_jpeg(five.preview);
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->width, 960);
    EXPECT_EQ(sheet->height, 360);
    const std::uint8_t* empty = sheet_pixel(*sheet, 800, 270);
    EXPECT_LT(empty[0] + empty[1] + empty[2], 30) << "no sixth frame";
}

TEST(WindowsRecorder, TheQueueHoldsAboutASecondOrWhatFits128MiB) {
    EXPECT_EQ(queued_frames_limit({}, 1280, 720), 25);
    EXPECT_EQ(queued_frames_limit({}, 1920, 1080), 16);
    EXPECT_EQ(queued_frames_limit({}, 3840, 2160), 4);
    EXPECT_EQ(queued_frames_limit({}, 7680, 4320), 3);
    EXPECT_EQ(queued_frames_limit({5}, 1920, 1080), 5);
}
}  // namespace
