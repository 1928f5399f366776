#include "cameras/media_foundation/mf_modes.h"

#include "platform/com_ref.h"
#include "cameras/media_foundation/mf_failures.h"

#include <mfapi.h>

#include <algorithm>
#include <cstdlib>

namespace {
std::optional<PixelFormat> readable_format(const GUID& subtype) {
    if (subtype == MFVideoFormat_MJPG) return PixelFormat::mjpeg;
    if (subtype == MFVideoFormat_YUY2) return PixelFormat::yuyv;
    if (subtype == MFVideoFormat_NV12) return PixelFormat::nv12;
    if (subtype == MFVideoFormat_L8) return PixelFormat::grey;
    return std::nullopt;
}

// Video subtypes are FourCCs in their first field ("H264", "MJPG"), or
// Direct3D format numbers (21 is RGB24).
std::string format_name(const GUID& subtype) {
    std::string name;
    for (int shift = 0; shift < 32; shift += 8) {
        char c = static_cast<char>((subtype.Data1 >> shift) & 0xff);
        if (c < 0x20 || c > 0x7e) return "D3DFMT " + std::to_string(subtype.Data1);
        name += c;
    }
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return name;
}

std::pair<UINT32, UINT32> two_numbers(IMFMediaType* type, const GUID& key) {
    UINT64 packed = 0;
    if (FAILED(type->GetUINT64(key, &packed))) return {0, 0};
    return {static_cast<UINT32>(packed >> 32), static_cast<UINT32>(packed)};
}
}  // namespace

MfMediaTypeFacts media_type_facts(IMFMediaType* type) {
    MfMediaTypeFacts facts;
    GUID subtype{};
    if (FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype))) {
        facts.other_format = "unknown";
        return facts;
    }
    auto format = readable_format(subtype);
    facts.colour = subtype != MFVideoFormat_L8;
    if (!format) {
        facts.other_format = format_name(subtype);
        return facts;
    }
    auto [width, height] = two_numbers(type, MF_MT_FRAME_SIZE);
    if (width == 0 || height == 0 || width > 16384 || height > 16384) {
        facts.other_format = format_name(subtype);
        return facts;
    }
    CaptureMode mode;
    mode.format = *format;
    mode.size = {static_cast<int>(width), static_cast<int>(height)};
    auto [numerator, denominator] = two_numbers(type, MF_MT_FRAME_RATE);
    if (numerator > 0 && denominator > 0) mode.fps = static_cast<double>(numerator) / denominator;
    facts.mode = mode;
    UINT32 range = 0;
    facts.full_range = SUCCEEDED(type->GetUINT32(MF_MT_VIDEO_NOMINAL_RANGE, &range)) && range == MFNominalRange_0_255;
    UINT32 stride = 0;
    // A negative stride (bottom-up lines) is a thing of RGB formats, which
    // the app does not read: the magnitude is what counts here.
    if (SUCCEEDED(type->GetUINT32(MF_MT_DEFAULT_STRIDE, &stride))) {
        facts.stride = std::labs(static_cast<long>(static_cast<INT32>(stride)));
    }
    return facts;
}

MfModes read_modes(IMFMediaSource* source) {
    ComRef<IMFPresentationDescriptor> presentation;
    HRESULT result = source->CreatePresentationDescriptor(presentation.put());
    if (FAILED(result)) throw capture_error(MfCall::activate, "IMFMediaSource::CreatePresentationDescriptor", result);
    DWORD streams = 0;
    presentation->GetStreamDescriptorCount(&streams);
    MfModes modes;
    for (DWORD index = 0; index < streams; ++index) {
        BOOL selected = FALSE;
        ComRef<IMFStreamDescriptor> stream;
        if (FAILED(presentation->GetStreamDescriptorByIndex(index, &selected, stream.put()))) continue;
        ComRef<IMFMediaTypeHandler> handler;
        GUID major{};
        if (FAILED(stream->GetMediaTypeHandler(handler.put())) || FAILED(handler->GetMajorType(&major)) ||
            major != MFMediaType_Video) {
            continue;
        }
        DWORD types = 0;
        handler->GetMediaTypeCount(&types);
        for (DWORD type_index = 0; type_index < types; ++type_index) {
            ComRef<IMFMediaType> type;
            if (FAILED(handler->GetMediaTypeByIndex(type_index, type.put()))) continue;
            MfMediaTypeFacts facts = media_type_facts(type.get());
            if (facts.colour) modes.colour = true;
            if (!facts.mode) {
                if (std::find(modes.other_formats.begin(), modes.other_formats.end(), facts.other_format) ==
                    modes.other_formats.end()) {
                    modes.other_formats.push_back(facts.other_format);
                }
                continue;
            }
            // One entry per format and size, at the fastest of its rates.
            auto same = std::find_if(modes.usable.begin(), modes.usable.end(), [&](const CaptureMode& known) {
                return known.format == facts.mode->format && known.size == facts.mode->size;
            });
            if (same == modes.usable.end()) {
                modes.usable.push_back(*facts.mode);
            } else {
                same->fps = std::max(same->fps, facts.mode->fps);
            }
        }
        break;  // the first video stream only
    }
    return modes;
}

long default_stride(PixelFormat format, int width) {
    return format == PixelFormat::yuyv ? 2L * width : width;
}

std::size_t frame_bytes(PixelFormat format, FrameSize size, long stride) {
    auto line = static_cast<std::size_t>(stride);
    auto height = static_cast<std::size_t>(size.height);
    switch (format) {
        case PixelFormat::mjpeg:
            return 0;
        case PixelFormat::nv12:
            // The luma plane, then the interleaved chroma at half the height.
            return line * height + line * ((height + 1) / 2);
        case PixelFormat::yuyv:
        case PixelFormat::grey:
            return line * height;
    }
    return 0;
}
