#include "cameras/media_foundation/mf_library.h"

#include "cameras/media_foundation/mf_failures.h"

#include <mfapi.h>

namespace {
template <typename Function>
bool find(HMODULE library, const char* name, Function& function) {
    FARPROC address = library ? GetProcAddress(library, name) : nullptr;
    // Through void (*)(), the one function type that converts to any other
    // without a warning about mismatched types.
    function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
    return address != nullptr;
}

MfLibrary load() {
    MfLibrary library;
    const char* const pack = " (on Windows N editions, install the Media Feature Pack)";
    // From System32 only: never a same-named file from the current folder.
    // The libraries stay loaded for the app's life.
    HMODULE platform = LoadLibraryExW(L"mfplat.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    HMODULE sources = LoadLibraryExW(L"mf.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    HMODULE read_write = LoadLibraryExW(L"mfreadwrite.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!platform || !sources || !read_write) {
        library.missing = std::string("Media Foundation is missing") + pack;
        return library;
    }
    decltype(&MFStartup) startup = nullptr;
    bool found = find(platform, "MFStartup", startup) &&
                 find(platform, "MFCreateAttributes", library.create_attributes) &&
                 find(sources, "MFEnumDeviceSources", library.enum_device_sources) &&
                 find(read_write, "MFCreateSourceReaderFromMediaSource", library.create_source_reader);
    if (!found) {
        library.missing = std::string("Media Foundation lacks functions the cameras need") + pack;
        return library;
    }
    // Started once and never shut down: the cameras may be used until the
    // app ends, and the system tidies up after it.
    HRESULT started = startup(MF_VERSION, MFSTARTUP_NOSOCKET);
    if (FAILED(started)) library.missing = "Media Foundation did not start: " + hresult_words(started);
    return library;
}
}  // namespace

const MfLibrary& media_foundation() {
    static const MfLibrary library = load();
    return library;
}
