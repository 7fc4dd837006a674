// Owners of Win32 handles, so that who closes what is visible in the type.
#pragma once

#include <windows.h>

namespace quenvar {

// Closes with CloseHandle. Treats both null and INVALID_HANDLE_VALUE as empty.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    explicit operator bool() const { return valid(); }
    HANDLE* receive() {
        reset();
        return &handle_;
    }
    HANDLE release() {
        HANDLE h = handle_;
        handle_ = nullptr;
        return h;
    }
    void reset(HANDLE handle = nullptr) {
        if (valid()) CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_ = nullptr;
};

// Closes with RegCloseKey.
class UniqueRegKey {
public:
    UniqueRegKey() = default;
    explicit UniqueRegKey(HKEY key) : key_(key) {}
    ~UniqueRegKey() { reset(); }
    UniqueRegKey(const UniqueRegKey&) = delete;
    UniqueRegKey& operator=(const UniqueRegKey&) = delete;
    UniqueRegKey(UniqueRegKey&& other) noexcept : key_(other.release()) {}
    UniqueRegKey& operator=(UniqueRegKey&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }
    HKEY* receive() {
        reset();
        return &key_;
    }
    HKEY release() {
        HKEY k = key_;
        key_ = nullptr;
        return k;
    }
    void reset(HKEY key = nullptr) {
        if (key_ != nullptr) RegCloseKey(key_);
        key_ = key;
    }

private:
    HKEY key_ = nullptr;
};

// Holds a Win32 mutex for one scope; waits without time-out.
class MutexLock {
public:
    explicit MutexLock(HANDLE mutex) : mutex_(mutex) { WaitForSingleObject(mutex_, INFINITE); }
    ~MutexLock() { ReleaseMutex(mutex_); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    HANDLE mutex_;
};

}  // namespace quenvar
