#include "cameras/media_foundation/mf_capture_devices.h"
#include "cameras/media_foundation/mf_controls.h"
#include "cameras/media_foundation/mf_failures.h"
#include "cameras/media_foundation/mf_library.h"
#include "cameras/media_foundation/mf_modes.h"

#include <gtest/gtest.h>

#include <mfapi.h>
#include <mferror.h>

#include <filesystem>
#include <random>

namespace {
namespace fs = std::filesystem;

TEST(MfCameras, ListingWithoutCamerasNeitherCrashesNorHidesWhy) {
    CameraTimings timings;
    auto cameras = media_foundation_cameras(timings);
    auto listed = cameras->list();
    std::string trouble = cameras->trouble();
    RecordProperty("cameras", static_cast<int>(listed.size()));
    RecordProperty("trouble", trouble);
    // Wine has Media Foundation but no cameras in it; a Windows without it
    // says so.
    if (listed.empty() && !trouble.empty()) {
        EXPECT_TRUE(trouble.find("Media Foundation") != std::string::npos ||
                    trouble.find("cannot list the cameras: 0x") == 0)
            << trouble;
    }
    for (const auto& camera : listed) {
        auto description = camera->description();
        EXPECT_FALSE(description.id.empty());
        EXPECT_EQ(description.kind, "media-foundation");
    }
    // Listed again within the second: the kept list, the same trouble.
    EXPECT_EQ(cameras->list().size(), listed.size());
    EXPECT_EQ(cameras->trouble(), trouble);
}

TEST(MfCameras, OpeningACameraThatIsNotThereSaysItIsGone) {
    std::random_device random;
    fs::path ids = fs::temp_directory_path() / ("vistrel-mf-test-" + std::to_string(random())) / "cameras.json";
    MfCaptureDevices devices(ids);
    CaptureDeviceInfo info;
    info.id = "0";
    info.link = R"(\\?\usb#vid_046d&pid_085c&mi_00#7&1a2b3c&0&0000#{e5323777-f976-4f5b-9b55-b94699c46e44}\global)";
    try {
        devices.open(info);
        ADD_FAILURE() << "opened a camera that is not there";
    } catch (const CaptureError& error) {
        if (media_foundation().missing.empty()) {
            EXPECT_EQ(error.failure, CaptureFailure::gone) << error.what();
        } else {
            EXPECT_EQ(error.failure, CaptureFailure::failed) << error.what();
        }
    }
    EXPECT_EQ(devices.kind(), "media-foundation");
    EXPECT_NE(devices.access_advice().find("Privacy"), std::string::npos);
    EXPECT_FALSE(fs::exists(ids.parent_path()));
}

TEST(MfCameras, HresultsMeanWhatTheCaptureDevicesPromise) {
    struct Case {
        MfCall call;
        HRESULT result;
        CaptureFailure failure;
    };
    const Case cases[] = {
        // The privacy settings refuse desktop apps the camera.
        {MfCall::activate, E_ACCESSDENIED, CaptureFailure::denied},
        {MfCall::frames, E_ACCESSDENIED, CaptureFailure::failed},
        // Another program holds the camera.
        {MfCall::frames, MF_E_HW_MFT_FAILED_START_STREAMING, CaptureFailure::busy},
        {MfCall::frames, static_cast<HRESULT>(0xC00D3704), CaptureFailure::busy},
        {MfCall::start, MF_E_VIDEO_RECORDING_DEVICE_PREEMPTED, CaptureFailure::busy},
        {MfCall::controls, MF_E_VIDEO_RECORDING_DEVICE_PREEMPTED, CaptureFailure::busy},
        // Unplugged.
        {MfCall::frames, MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED, CaptureFailure::gone},
        {MfCall::controls, MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED, CaptureFailure::gone},
        {MfCall::activate, HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED), CaptureFailure::gone},
        {MfCall::frames, MF_E_SHUTDOWN, CaptureFailure::gone},
        {MfCall::start, MF_E_INVALIDMEDIATYPE, CaptureFailure::unsupported},
        {MfCall::controls, E_INVALIDARG, CaptureFailure::bad_value},
        {MfCall::start, E_INVALIDARG, CaptureFailure::failed},
        {MfCall::frames, E_FAIL, CaptureFailure::failed},
        {MfCall::activate, E_OUTOFMEMORY, CaptureFailure::failed},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(capture_failure_of(c.call, c.result), c.failure)
            << "call " << static_cast<int>(c.call) << ", " << hresult_words(c.result);
    }
    CaptureError error = capture_error(MfCall::activate, "IMFActivate::ActivateObject", E_ACCESSDENIED);
    EXPECT_EQ(error.failure, CaptureFailure::denied);
    EXPECT_EQ(std::string(error.what()).rfind("IMFActivate::ActivateObject failed: 0x80070005 (", 0), 0u)
        << error.what();
    // Media Foundation's own codes have no words in the system's table.
    EXPECT_EQ(hresult_words(MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED), "0xC00D3EA2");
}

TEST(MfCameras, FramesAreWholeOnlyWithEveryLineOfEveryPlane) {
    EXPECT_EQ(frame_bytes(PixelFormat::nv12, {640, 480}, 640), 640u * 480 * 3 / 2);
    EXPECT_EQ(frame_bytes(PixelFormat::nv12, {640, 480}, 704), 704u * 480 * 3 / 2);
    EXPECT_EQ(frame_bytes(PixelFormat::yuyv, {640, 480}, 1280), 1280u * 480);
    EXPECT_EQ(frame_bytes(PixelFormat::grey, {340, 340}, 352), 352u * 340);
    EXPECT_EQ(frame_bytes(PixelFormat::mjpeg, {1920, 1080}, 0), 0u);
    EXPECT_EQ(default_stride(PixelFormat::yuyv, 640), 1280);
    EXPECT_EQ(default_stride(PixelFormat::nv12, 640), 640);
}

TEST(MfCameras, ValuesBetweenStepsGoToTheNearestStep) {
    CameraControl focus{"focus", 0, 250, 0, 5};
    EXPECT_EQ(nearest_step(focus, 0), 0);
    EXPECT_EQ(nearest_step(focus, 2), 0);
    EXPECT_EQ(nearest_step(focus, 3), 5);
    EXPECT_EQ(nearest_step(focus, 250), 250);
    CameraControl exposure{"exposure", -13, -1, -6, 1};
    EXPECT_EQ(nearest_step(exposure, -13), -13);
    EXPECT_EQ(nearest_step(exposure, -7), -7);
    // A range whose top is not on a step: the highest step below it.
    CameraControl odd{"zoom", 100, 498, 100, 10};
    EXPECT_EQ(nearest_step(odd, 498), 490);
    EXPECT_EQ(nearest_step(odd, 104), 100);
}

// Media types made by Media Foundation itself, where the system has it.
TEST(MfCameras, NativeMediaTypesBecomeModesOrNamedFormats) {
    HMODULE platform = LoadLibraryExW(L"mfplat.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!platform) GTEST_SKIP() << "no Media Foundation";
    auto create = reinterpret_cast<decltype(&MFCreateMediaType)>(
        reinterpret_cast<void (*)()>(GetProcAddress(platform, "MFCreateMediaType")));
    ASSERT_NE(create, nullptr);
    auto type_of = [&](const GUID& subtype, UINT32 width, UINT32 height, UINT32 rate, UINT32 per) {
        IMFMediaType* type = nullptr;
        EXPECT_TRUE(SUCCEEDED(create(&type)));
        type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
        type->SetGUID(MF_MT_SUBTYPE, subtype);
        type->SetUINT64(MF_MT_FRAME_SIZE, (static_cast<UINT64>(width) << 32) | height);
        if (rate) type->SetUINT64(MF_MT_FRAME_RATE, (static_cast<UINT64>(rate) << 32) | per);
        return type;
    };

    IMFMediaType* nv12 = type_of(MFVideoFormat_NV12, 1280, 720, 30000, 1001);
    nv12->SetUINT32(MF_MT_DEFAULT_STRIDE, 1280);
    nv12->SetUINT32(MF_MT_VIDEO_NOMINAL_RANGE, MFNominalRange_0_255);
    MfMediaTypeFacts facts = media_type_facts(nv12);
    ASSERT_TRUE(facts.mode);
    EXPECT_EQ(facts.mode->format, PixelFormat::nv12);
    EXPECT_EQ(facts.mode->size, (FrameSize{1280, 720}));
    EXPECT_NEAR(facts.mode->fps, 29.97, 0.01);
    EXPECT_EQ(facts.stride, 1280);
    EXPECT_TRUE(facts.full_range);
    EXPECT_TRUE(facts.colour);
    nv12->Release();

    IMFMediaType* mjpeg = type_of(MFVideoFormat_MJPG, 1920, 1080, 0, 0);
    facts = media_type_facts(mjpeg);
    ASSERT_TRUE(facts.mode);
    EXPECT_EQ(facts.mode->format, PixelFormat::mjpeg);
    EXPECT_EQ(facts.mode->fps, 0);  // the type does not say
    EXPECT_FALSE(facts.full_range);
    mjpeg->Release();

    IMFMediaType* infrared = type_of(MFVideoFormat_L8, 340, 340, 15, 1);
    facts = media_type_facts(infrared);
    ASSERT_TRUE(facts.mode);
    EXPECT_EQ(facts.mode->format, PixelFormat::grey);
    EXPECT_FALSE(facts.colour);
    infrared->Release();

    IMFMediaType* h264 = type_of(MFVideoFormat_H264, 1920, 1080, 30, 1);
    facts = media_type_facts(h264);
    EXPECT_FALSE(facts.mode);
    EXPECT_EQ(facts.other_format, "H264");
    h264->Release();

    IMFMediaType* rgb = type_of(MFVideoFormat_RGB24, 640, 480, 30, 1);
    facts = media_type_facts(rgb);
    EXPECT_FALSE(facts.mode);
    EXPECT_EQ(facts.other_format, "D3DFMT 20");
    rgb->Release();
}
}  // namespace
