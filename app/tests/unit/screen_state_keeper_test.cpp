#include "screen/screen_state_keeper.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace {
using namespace std::chrono_literals;

ScreenState screen_of(int width) {
    return {ScreenInfo{":9", {width, 100}, {}}, ""};
}

std::string silence(std::chrono::milliseconds silent) {
    return "silent for at least " + std::to_string(silent.count() / 10 * 10) + " ms";
}

// A display whose answers the test gives, one look at a time, and which can
// be made to hang.
struct FakeDisplay {
    std::mutex mutex;
    std::condition_variable released;
    bool hang = false;
    std::optional<ScreenState> answer = screen_of(100);
    std::atomic<int> looks{0};

    std::optional<ScreenState> look() {
        ++looks;
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return !hang; });
        return answer;
    }
    void set_answer(std::optional<ScreenState> a) {
        std::lock_guard lock(mutex);
        answer = std::move(a);
    }
    void set_hang(bool h) {
        {
            std::lock_guard lock(mutex);
            hang = h;
        }
        released.notify_all();
    }
};

TEST(ScreenStateKeeper, AFreshStateIsGivenWithoutLookingAgain) {
    FakeDisplay display;
    ScreenStateKeeper keeper([&] { return display.look(); }, silence, {1h, 5s, 10s});
    ScreenState first = keeper.current();
    ASSERT_TRUE(first.screen);
    EXPECT_EQ(first.screen->size.width, 100);
    keeper.current();
    keeper.current();
    EXPECT_EQ(display.looks, 1);
    // What a capture saw replaces it, without a look.
    keeper.seen(screen_of(300));
    EXPECT_EQ(keeper.current().screen->size.width, 300);
    EXPECT_EQ(display.looks, 1);
}

TEST(ScreenStateKeeper, ADisplayThatHangsIsReportedAndNeverWaitedFor) {
    FakeDisplay display;
    ScreenStateKeeper keeper([&] { return display.look(); }, silence, {0ms, 20ms, 100ms});
    // Let go before the keeper ends, however the test ends.
    struct Release {
        FakeDisplay& display;
        ~Release() { display.set_hang(false); }
    } release{display};
    ASSERT_TRUE(keeper.current().screen);
    display.set_hang(true);
    // While the look is young the last state stands; once it is old, the
    // display is reported silent. Each call returns after its patience.
    auto give_up = std::chrono::steady_clock::now() + 10s;
    ScreenState state = keeper.current();
    while (state.screen && std::chrono::steady_clock::now() < give_up) state = keeper.current();
    EXPECT_FALSE(state.screen);
    EXPECT_EQ(state.problem.rfind("silent for at least ", 0), 0u) << state.problem;
    EXPECT_GE(std::stoi(state.problem.substr(20)), 100) << state.problem;
    // Only the one look hangs: no more are started behind it.
    EXPECT_EQ(display.looks, 2);

    display.set_answer(screen_of(200));
    display.set_hang(false);
    give_up = std::chrono::steady_clock::now() + 10s;
    do {
        state = keeper.current();
    } while ((!state.screen || state.screen->size.width != 200) && std::chrono::steady_clock::now() < give_up);
    ASSERT_TRUE(state.screen);
    EXPECT_EQ(state.screen->size.width, 200);
}

TEST(ScreenStateKeeper, ALookWithNothingNewKeepsTheLastState) {
    FakeDisplay display;
    ScreenStateKeeper keeper([&] { return display.look(); }, silence, {0ms, 1s, 10s});
    ASSERT_EQ(keeper.current().screen->size.width, 100);
    display.set_answer(std::nullopt);
    ScreenState state = keeper.current();
    ASSERT_TRUE(state.screen);
    EXPECT_EQ(state.screen->size.width, 100);
    EXPECT_GE(display.looks, 2);
    // A problem is a state like any other.
    display.set_answer(ScreenState{std::nullopt, "no screen: cannot open the X display :9"});
    auto give_up = std::chrono::steady_clock::now() + 10s;
    do {
        state = keeper.current();
    } while (state.screen && std::chrono::steady_clock::now() < give_up);
    EXPECT_EQ(state.problem, "no screen: cannot open the X display :9");
}
}  // namespace
