#pragma once
#include <windows.h>

#include <utility>

// Owns a kernel handle; null and INVALID_HANDLE_VALUE both count as empty.
class UniqueHandle {
public:
    explicit UniqueHandle(HANDLE h = nullptr) noexcept : h_(h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o) {
            reset();
            h_ = std::exchange(o.h_, nullptr);
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ && h_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE h = nullptr) noexcept {
        if (*this) ::CloseHandle(h_);
        h_ = h;
    }

private:
    HANDLE h_;
};
