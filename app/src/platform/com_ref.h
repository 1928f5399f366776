#pragma once
// COM as the cameras and the MP4 writer use it: references released with their scope,
// and the threads that call it joined to the multithreaded apartment.
// Windows only.
#include <windows.h>

#include <objbase.h>

// A COM reference, released with its scope.
template <typename T>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() { reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ComRef(ComRef&& other) noexcept : pointer_(other.pointer_) { other.pointer_ = nullptr; }
    ComRef& operator=(ComRef&& other) noexcept {
        if (this != &other) {
            reset();
            pointer_ = other.pointer_;
            other.pointer_ = nullptr;
        }
        return *this;
    }
    T* operator->() const { return pointer_; }
    T* get() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    T** put() {
        reset();
        return &pointer_;
    }
    void reset() {
        if (pointer_) pointer_->Release();
        pointer_ = nullptr;
    }

private:
    T* pointer_ = nullptr;
};

// Joins the calling thread to COM's multithreaded apartment for as long as
// the thread lives (Media Foundation's objects may then be called from any
// of the app's threads). A thread already in a single-threaded apartment
// stays in it: Media Foundation's capture objects are free-threaded.
void join_com_apartment();
