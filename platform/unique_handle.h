#pragma once
#include <windows.h>

#include <utility>

// Owns a handle and gives it back to the system with `Close` on leaving its
// scope; null and INVALID_HANDLE_VALUE both count as empty, for the calls
// that open handles give back one or the other on failure.
template <typename Close>
class BasicUniqueHandle {
public:
    explicit BasicUniqueHandle(HANDLE handle = nullptr) noexcept : handle_(handle) {}
    ~BasicUniqueHandle() { reset(); }
    BasicUniqueHandle(BasicUniqueHandle&& other) noexcept
        : handle_(std::exchange(other.handle_, nullptr)) {}
    BasicUniqueHandle& operator=(BasicUniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    BasicUniqueHandle(const BasicUniqueHandle&) = delete;
    BasicUniqueHandle& operator=(const BasicUniqueHandle&) = delete;

    HANDLE get() const noexcept { return handle_; }
    explicit operator bool() const noexcept {
        return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE;
    }
    void reset(HANDLE handle = nullptr) noexcept {
        if (*this) Close{}(handle_);
        handle_ = handle;
    }
    // Hands the handle over to a holder that closes it some other way, or never.
    [[nodiscard]] HANDLE release() noexcept { return std::exchange(handle_, nullptr); }

private:
    HANDLE handle_;
};

struct CloseKernelHandle {
    void operator()(HANDLE handle) const noexcept { ::CloseHandle(handle); }
};

// A search of a folder's entries is closed by its own call, not CloseHandle.
struct CloseFindHandle {
    void operator()(HANDLE handle) const noexcept { ::FindClose(handle); }
};

// A kernel handle: a file, a process, a thread, an event.
using UniqueHandle = BasicUniqueHandle<CloseKernelHandle>;
// The handle of FindFirstFileW's search.
using UniqueFindHandle = BasicUniqueHandle<CloseFindHandle>;
