#include "cameras/media_foundation/mf_capture_devices.h"

#include "cameras/frame_work.h"
#include "platform/com_ref.h"
#include "cameras/media_foundation/mf_controls.h"
#include "cameras/media_foundation/mf_failures.h"
#include "cameras/media_foundation/mf_library.h"
#include "cameras/media_foundation/mf_modes.h"
#include "cameras/media_foundation/mf_stream.h"
#include "platform/files.h"
#include "platform/win32_text.h"

#include <mfapi.h>

#include <vector>

namespace {
const char* const privacy_advice = "Settings \u203a Privacy \u203a Camera: let desktop apps access your camera";

// The video capture devices present, as activation objects.
class Enumeration {
public:
    explicit Enumeration(const MfLibrary& library) {
        ComRef<IMFAttributes> attributes;
        result_ = library.create_attributes(attributes.put(), 1);
        if (SUCCEEDED(result_)) {
            result_ =
                attributes->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID);
        }
        if (SUCCEEDED(result_)) result_ = library.enum_device_sources(attributes.get(), &devices_, &count_);
        if (FAILED(result_)) count_ = 0;
    }
    ~Enumeration() {
        for (UINT32 index = 0; index < count_; ++index) devices_[index]->Release();
        CoTaskMemFree(devices_);
    }
    Enumeration(const Enumeration&) = delete;
    Enumeration& operator=(const Enumeration&) = delete;

    HRESULT result() const { return result_; }
    UINT32 count() const { return count_; }
    IMFActivate* at(UINT32 index) const { return devices_[index]; }

private:
    HRESULT result_ = S_OK;
    IMFActivate** devices_ = nullptr;
    UINT32 count_ = 0;
};

std::string text_of(IMFActivate* device, const GUID& key) {
    wchar_t* text = nullptr;
    UINT32 length = 0;
    if (FAILED(device->GetAllocatedString(key, &text, &length))) return {};
    std::string utf8 = utf8_from_wide(std::wstring_view(text, length));
    CoTaskMemFree(text);
    return utf8;
}

std::string link_of(IMFActivate* device) {
    return text_of(device, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK);
}

// The device's media source, shut down with its scope.
class ActiveSource {
public:
    explicit ActiveSource(IMFActivate* device) : device_(device) {
        device_->AddRef();
        HRESULT result = device_->ActivateObject(IID_IMFMediaSource, reinterpret_cast<void**>(source_.put()));
        if (FAILED(result)) {
            device_->Release();
            throw capture_error(MfCall::activate, "IMFActivate::ActivateObject", result);
        }
    }
    ~ActiveSource() {
        source_->Shutdown();
        source_.reset();
        device_->ShutdownObject();
        device_->Release();
    }
    ActiveSource(const ActiveSource&) = delete;
    ActiveSource& operator=(const ActiveSource&) = delete;

    IMFMediaSource* get() const { return source_.get(); }

private:
    IMFActivate* device_;
    ComRef<IMFMediaSource> source_;
};

class MfCaptureDevice final : public CaptureDevice {
public:
    explicit MfCaptureDevice(IMFActivate* device) : source_(device) {}
    ~MfCaptureDevice() override {
        // The last user may be a thread that has not called in before.
        join_com_apartment();
        stream_.reset();
    }
    MfCaptureDevice(const MfCaptureDevice&) = delete;
    MfCaptureDevice& operator=(const MfCaptureDevice&) = delete;

    CaptureMode start(const CaptureMode& mode) override {
        join_com_apartment();
        stream_.reset();
        stream_ = std::make_unique<MfStream>(media_foundation(), source_.get(), mode);
        return stream_->mode();
    }

    CapturedFrame next_frame(SteadyTime deadline) override {
        if (!stream_) throw CaptureError(CaptureFailure::failed, "the camera is not streaming");
        return stream_->next(deadline);
    }

    void stop() override {
        join_com_apartment();
        stream_.reset();
    }

    std::vector<CameraControl> controls() override {
        join_com_apartment();
        return read_controls(source_.get());
    }

    ControlChange set_control(std::string_view name, std::int64_t value) override {
        join_com_apartment();
        return write_control(source_.get(), name, value);
    }

    std::optional<bool> focus_settled() override { return std::nullopt; }

private:
    ActiveSource source_;  // declared first: the stream goes before the source shuts down
    std::unique_ptr<MfStream> stream_;
};

CaptureDeviceInfo described(IMFActivate* device, const std::string& link) {
    CaptureDeviceInfo info;
    info.link = link;
    info.identity = link;
    info.name = text_of(device, MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME);
    ActiveSource source(device);
    MfModes modes = read_modes(source.get());
    info.modes = std::move(modes.usable);
    info.other_formats = std::move(modes.other_formats);
    info.colour = modes.colour;
    info.focusable = has_manual_focus(source.get());
    return info;
}
}  // namespace

MfCaptureDevices::MfCaptureDevices(std::filesystem::path ids_file) : ids_(std::move(ids_file)) {}

std::string MfCaptureDevices::access_advice() const {
    return privacy_advice;
}

CaptureDeviceList MfCaptureDevices::list() {
    CaptureDeviceList found;
    const MfLibrary& library = media_foundation();
    if (!library.missing.empty()) {
        found.trouble.push_back(library.missing);
        return found;
    }
    join_com_apartment();
    Enumeration devices(library);
    if (FAILED(devices.result())) {
        found.trouble.push_back("cannot list the cameras: " + hresult_words(devices.result()));
        return found;
    }
    std::vector<std::string> denied;
    std::map<std::string, CaptureDeviceInfo> present;
    for (UINT32 index = 0; index < devices.count(); ++index) {
        IMFActivate* device = devices.at(index);
        std::string link = link_of(device);
        if (link.empty() || present.count(link)) continue;
        auto known = seen_.find(link);
        if (known != seen_.end()) {
            present[link] = known->second;
            continue;
        }
        try {
            present[link] = described(device, link);
        } catch (const CaptureError& error) {
            // A camera the user may not open is worth a word; one gone
            // since it was listed, or held in a way that keeps it from
            // being described now, is left for the next listing.
            if (error.failure == CaptureFailure::denied) {
                std::string name = text_of(device, MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME);
                denied.push_back(name.empty() ? link : name);
            }
        }
    }
    seen_ = present;
    std::vector<std::string> links;
    for (const auto& entry : present) links.push_back(entry.first);
    std::vector<std::string> ids = ids_.ids_for(links);
    for (std::size_t index = 0; index < links.size(); ++index) {
        CaptureDeviceInfo info = present[links[index]];
        info.id = ids[index];
        if (info.name.empty()) info.name = "Camera " + info.id;
        found.devices.push_back(std::move(info));
    }
    if (!ids_.problem().empty()) found.trouble.push_back(ids_.problem());
    if (!denied.empty()) {
        std::string names;
        for (const auto& name : denied) names += (names.empty() ? "" : ", ") + name;
        found.trouble.push_back("cannot open " + names + ": access denied (" + access_advice() + ")");
    }
    return found;
}

std::unique_ptr<CaptureDevice> MfCaptureDevices::open(const CaptureDeviceInfo& info) {
    const MfLibrary& library = media_foundation();
    if (!library.missing.empty()) throw CaptureError(CaptureFailure::failed, library.missing);
    join_com_apartment();
    Enumeration devices(library);
    if (FAILED(devices.result())) throw capture_error(MfCall::activate, "MFEnumDeviceSources", devices.result());
    for (UINT32 index = 0; index < devices.count(); ++index) {
        if (link_of(devices.at(index)) == info.link) return std::make_unique<MfCaptureDevice>(devices.at(index));
    }
    throw CaptureError(CaptureFailure::gone, "the camera at " + info.link + " is not there any more");
}

std::unique_ptr<CameraBackend> media_foundation_cameras(CameraTimings timings) {
    return std::make_unique<StreamingCameras>(std::make_shared<MfCaptureDevices>(config_folder() / "cameras.json"),
                                              timings, jpeg_frame_work());
}
