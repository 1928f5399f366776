#pragma once
// A PipeWire video source that shows one colour, as a desktop's screen cast
// would show the screen: for testing the receiving side without a portal.
#include <cstdint>
#include <memory>
#include <string>

struct TestVideoSourceState;

class TestVideoSource {
public:
    // Connects through `fd` (owned from now on) and offers BGRx frames of
    // `width` x `height` in the colour `rgb`, 25 a second.
    TestVideoSource(int fd, int width, int height, std::uint32_t rgb);
    ~TestVideoSource();
    TestVideoSource(const TestVideoSource&) = delete;
    TestVideoSource& operator=(const TestVideoSource&) = delete;

    // The node a consumer connects to; 0 when it did not appear in time.
    std::uint32_t node();

private:
    std::unique_ptr<TestVideoSourceState> state_;
};

// A new connection to the PipeWire of the session whose XDG_RUNTIME_DIR is
// `runtime_dir`; -1 when there is none.
int connect_to_pipewire(const std::string& runtime_dir);
