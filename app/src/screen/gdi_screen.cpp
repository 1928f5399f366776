#include "screen/gdi_screen.h"

#include "fault.h"
#include "screen/gdi_desktop.h"
#include "screen/gdi_windows.h"
#include "screen/screen_target.h"

#include <windows.h>

#include <mutex>

namespace {
Fault secure_desktop_fault() {
    return Fault{FaultKind::unavailable, secure_desktop_text};
}

Fault no_screen_fault() {
    return Fault{FaultKind::unavailable, "there is no screen to capture: this Windows session shows none"};
}

// A bitmap of 32-bit pixels (B, G, R, X), rows top down, kept between
// pictures: one screen's worth of memory is taken once, not per picture.
class ScreenBitmap {
public:
    ~ScreenBitmap() { release(); }

    // Room for at least `width` x `height`; false when the system has no
    // memory for it.
    bool reserve(int width, int height) {
        if (bitmap_ && width <= width_ && height <= height_) return true;
        release();
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;  // top down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (!bitmap_) return false;
        bits_ = static_cast<std::uint8_t*>(bits);
        width_ = width;
        height_ = height;
        return true;
    }

    HBITMAP handle() const { return bitmap_; }
    PixelView view(int width, int height) const { return {bits_, width, height, width_ * 4, false, bgrx_layout}; }

private:
    void release() {
        if (bitmap_) DeleteObject(bitmap_);
        bitmap_ = nullptr;
        bits_ = nullptr;
        width_ = height_ = 0;
    }

    HBITMAP bitmap_ = nullptr;
    std::uint8_t* bits_ = nullptr;
    int width_ = 0, height_ = 0;
};

// The mouse pointer where the user sees it, drawn into `into`, whose
// top-left corner is at `origin` in desktop coordinates.
void draw_pointer(HDC into, POINT origin) {
    CURSORINFO cursor{};
    cursor.cbSize = sizeof cursor;
    if (!GetCursorInfo(&cursor) || !(cursor.flags & CURSOR_SHOWING) || !cursor.hCursor) return;
    ICONINFO icon{};
    if (!GetIconInfo(cursor.hCursor, &icon)) return;
    if (icon.hbmMask) DeleteObject(icon.hbmMask);
    if (icon.hbmColor) DeleteObject(icon.hbmColor);
    int x = cursor.ptScreenPos.x - static_cast<int>(icon.xHotspot) - origin.x;
    int y = cursor.ptScreenPos.y - static_cast<int>(icon.yHotspot) - origin.y;
    DrawIconEx(into, x, y, cursor.hCursor, 0, 0, 0, nullptr, DI_NORMAL);
}

class GdiScreen : public ScreenBackend {
public:
    explicit GdiScreen(GdiScreenSettings settings) : settings_(std::move(settings)) {
        if (!settings_.input_desktop) settings_.input_desktop = input_desktop_name;
    }

    const char* name() const override { return "gdi"; }

    // GDI answers at once, from the system's own tables: nothing to wait for.
    ScreenState state() override {
        if (!user_desktop_shown()) return {std::nullopt, secure_desktop_text};
        GdiDesktop desktop = read_gdi_desktop();
        if (desktop.size.width <= 0) return {std::nullopt, no_screen_fault().message};
        return {ScreenInfo{desktop_text(desktop), desktop.size, desktop.monitors}, ""};
    }

    std::vector<WindowInfo> windows() override {
        if (!user_desktop_shown()) throw secure_desktop_fault();
        return read_gdi_windows(read_gdi_desktop());
    }

    void capture(const ScreenRequest& request, const ScreenShotUse& use) override;

    RecordingInput start_recording(const std::filesystem::path&, int) override {
        throw Fault{FaultKind::unsupported, "the screen of Windows is recorded by the app itself, not by ffmpeg"};
    }

private:
    bool user_desktop_shown() { return is_user_desktop(settings_.input_desktop()); }

    GdiScreenSettings settings_;
    std::mutex mutex_;  // one picture at a time in the kept bitmap
    ScreenBitmap bitmap_;
};

void GdiScreen::capture(const ScreenRequest& request, const ScreenShotUse& use) {
    if (!user_desktop_shown()) throw secure_desktop_fault();
    bool monitor = request.target.kind == ScreenTarget::Kind::monitor;
    bool window = request.target.kind == ScreenTarget::Kind::window;
    GdiDesktop desktop = read_gdi_desktop(monitor || window);
    if (desktop.size.width <= 0) throw no_screen_fault();
    FrameRegion whole{0, 0, desktop.size.width, desktop.size.height};
    FrameRegion target = whole;  // in the virtual screen's pixels
    if (monitor) {
        int count = static_cast<int>(desktop.monitors.size());
        if (request.target.monitor < 1 || request.target.monitor > count) {
            throw Fault{FaultKind::not_found, "no monitor " + std::to_string(request.target.monitor) +
                                                  ": the screen has " + std::to_string(count) +
                                                  (count == 1 ? " monitor" : " monitors")};
        }
        target = desktop.monitors[static_cast<std::size_t>(request.target.monitor - 1)].area;
    } else if (window) {
        std::optional<FrameRegion> area = gdi_window_area(request.target.window, desktop);
        if (!area) {
            throw Fault{FaultKind::not_found, "no window " + request.target.window +
                                                  " is shown on the screen; list the windows (GET /api/windows) "
                                                  "for their ids"};
        }
        target = *area;
    }
    FrameSize source{target.width, target.height};
    std::optional<FrameRegion> part;
    if (request.region) part = clip_region(*request.region, source, request.device);
    FrameRegion asked = part.value_or(FrameRegion{0, 0, source.width, source.height});
    // A window partly off the screen: what is on it.
    FrameRegion shown = overlap({target.x + asked.x, target.y + asked.y, asked.width, asked.height}, whole);
    if (shown.width <= 0 || shown.height <= 0) {
        throw Fault{FaultKind::unavailable,
                    request.device + " is not on the screen now (it lies beyond its edges); move it into view"};
    }
    FrameRegion relative{shown.x - target.x, shown.y - target.y, shown.width, shown.height};
    if (relative != FrameRegion{0, 0, source.width, source.height}) part = relative;

    std::lock_guard lock(mutex_);
    // The whole virtual screen's room, so that pictures of its parts reuse it.
    if (!bitmap_.reserve(desktop.size.width, desktop.size.height)) {
        throw Fault{FaultKind::exhausted, "no memory for a picture of the screen (" +
                                              std::to_string(desktop.size.width) + "x" +
                                              std::to_string(desktop.size.height) + ")"};
    }
    POINT origin{desktop.left + shown.x, desktop.top + shown.y};
    HDC screen = GetDC(nullptr);
    if (!screen) throw Fault{FaultKind::failed, "cannot reach the screen (GetDC failed)"};
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ before = memory ? SelectObject(memory, bitmap_.handle()) : nullptr;
    BOOL copied = memory && BitBlt(memory, 0, 0, shown.width, shown.height, screen, origin.x, origin.y, SRCCOPY);
    DWORD error = copied ? 0 : GetLastError();
    if (copied) draw_pointer(memory, origin);
    if (memory) {
        SelectObject(memory, before);
        DeleteDC(memory);
    }
    ReleaseDC(nullptr, screen);
    // The secure desktop may have come up while the screen was copied: the
    // copy would then be black.
    if (!user_desktop_shown()) throw secure_desktop_fault();
    if (!copied)
        throw Fault{FaultKind::failed, "cannot copy the screen (BitBlt failed, error " + std::to_string(error) + ")"};
    GdiFlush();
    use(ScreenShot{source, part, bitmap_.view(shown.width, shown.height)});
}
}  // namespace

std::unique_ptr<ScreenBackend> make_gdi_screen(GdiScreenSettings settings) {
    return std::make_unique<GdiScreen>(std::move(settings));
}
