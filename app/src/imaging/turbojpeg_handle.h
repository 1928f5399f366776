#pragma once
// A libjpeg-turbo handle that is destroyed with its scope.
#include <turbojpeg.h>

struct TjHandle {
    tjhandle handle;
    explicit TjHandle(tjhandle h) : handle(h) {}
    ~TjHandle() {
        if (handle) tjDestroy(handle);
    }
    TjHandle(const TjHandle&) = delete;
    TjHandle& operator=(const TjHandle&) = delete;
};
