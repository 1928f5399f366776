// Which camera a request gets: the first real one, the simulated one only as
// a last resort, none when there is none.
#include "cameras/camera_registry.h"

#include <gtest/gtest.h>

namespace {
class StubCamera final : public Camera {
public:
    explicit StubCamera(std::string id, bool colour = true) : id_(std::move(id)), colour_(colour) {}
    CameraDescription description() const override { return {id_, "Stub " + id_, "stub", false, colour_}; }
    FrameSize default_size() override { return {640, 480}; }
    std::string capture_jpeg(const SizeRequest&) override { return id_; }
    std::vector<CameraControl> controls() override { return {}; }
    ControlChange set_control(std::string_view, std::int64_t) override { return {}; }
    SweepResult focus_sweep() override { return {}; }

private:
    std::string id_;
    bool colour_;
};

// A kind of camera whose cameras the test plugs in and out.
class StubCameras final : public CameraBackend {
public:
    explicit StubCameras(std::vector<std::shared_ptr<Camera>>& present) : present_(present) {}
    std::vector<std::shared_ptr<Camera>> list() override { return present_; }

private:
    std::vector<std::shared_ptr<Camera>>& present_;
};

std::vector<std::string> ids(const std::vector<std::shared_ptr<Camera>>& cameras) {
    std::vector<std::string> out;
    for (const auto& camera : cameras) out.push_back(camera->description().id);
    return out;
}

TEST(CameraRegistry, TheDefaultIsTheFirstCameraOfTheFirstKindThatHasOne) {
    std::vector<std::shared_ptr<Camera>> real, simulated = {std::make_shared<StubCamera>("sim")};
    CameraRegistry registry;
    registry.backends.push_back(std::make_unique<StubCameras>(real));
    registry.backends.push_back(std::make_unique<StubCameras>(simulated));

    EXPECT_EQ(default_camera(registry)->description().id, "sim");
    real = {std::make_shared<StubCamera>("2"), std::make_shared<StubCamera>("4")};
    EXPECT_EQ(default_camera(registry)->description().id, "2");
    EXPECT_EQ(ids(list_cameras(registry)), (std::vector<std::string>{"2", "4", "sim"}));
    EXPECT_EQ(find_camera(registry, "4"), real[1]);
    EXPECT_EQ(find_camera(registry, "sim"), simulated[0]);
    EXPECT_EQ(find_camera(registry, "3"), nullptr);
    EXPECT_EQ(find_camera(registry, ""), nullptr);

    real.clear();  // unplugged
    EXPECT_EQ(find_camera(registry, "2"), nullptr);
    EXPECT_EQ(default_camera(registry)->description().id, "sim");
}

TEST(CameraRegistry, WithoutCamerasThereIsNoDefault) {
    CameraRegistry registry;
    EXPECT_EQ(default_camera(registry), nullptr);
    std::vector<std::shared_ptr<Camera>> none;
    registry.backends.push_back(std::make_unique<StubCameras>(none));
    EXPECT_EQ(default_camera(registry), nullptr);
    EXPECT_TRUE(list_cameras(registry).empty());
}

TEST(CameraRegistry, AGreyscaleOnlyCameraIsNeverTheDefaultAndTheRefusalNamesIt) {
    // The infrared camera of a laptop's face login comes first.
    std::vector<std::shared_ptr<Camera>> real = {std::make_shared<StubCamera>("0", false),
                                                 std::make_shared<StubCamera>("2")};
    CameraRegistry registry;
    registry.backends.push_back(std::make_unique<StubCameras>(real));
    EXPECT_EQ(default_camera(registry)->description().id, "2");
    EXPECT_EQ(find_camera(registry, "0"), real[0]) << "it can still be asked for";
    real.pop_back();
    EXPECT_EQ(default_camera(registry), nullptr);
    EXPECT_EQ(no_camera_text(registry),
              "no camera found: plug in a webcam (any UVC webcam works), or start vistrel-app with --simulated-camera "
              "for a test picture (camera 0 (Stub 0) sees only in greyscale or infrared; ask for it by name with "
              "--device 0)");
}
}  // namespace
