// One owner for every kind of Win32 handle, so that who closes what is visible
// in the type and no handle kind needs a hand-copied holder of its own.
#pragma once

#include <windows.h>

namespace quenvar {

// Owns one value of type T and releases it with Closer when it goes. Validity
// decides which values hold nothing (null, and INVALID_HANDLE_VALUE for kernel
// and find handles); those are never passed to Closer.
template <typename T, typename Closer, typename Validity>
class UniqueResource {
public:
    UniqueResource() = default;
    explicit UniqueResource(T value) : value_(value) {}
    ~UniqueResource() { reset(); }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    T get() const { return value_; }
    bool valid() const { return Validity{}(value_); }
    explicit operator bool() const { return valid(); }
    // For out-parameters: closes what is held, then lends the slot.
    T* receive() {
        reset();
        return &value_;
    }
    T release() {
        T value = value_;
        value_ = T();
        return value;
    }
    void reset(T value = T()) {
        if (valid()) Closer{}(value_);
        value_ = value;
    }

private:
    T value_ = T();
};

struct NonNull {
    template <typename T>
    bool operator()(T value) const { return value != T(); }
};
struct NeitherNullNorInvalid {
    bool operator()(HANDLE value) const { return value != nullptr && value != INVALID_HANDLE_VALUE; }
};

struct CloseKernelHandle {
    void operator()(HANDLE value) const { CloseHandle(value); }
};
struct CloseRegistryKey {
    void operator()(HKEY value) const { RegCloseKey(value); }
};
struct CloseServiceManagerHandle {
    void operator()(SC_HANDLE value) const { CloseServiceHandle(value); }
};
struct FreeModule {
    void operator()(HMODULE value) const { FreeLibrary(value); }
};
struct CloseFindHandle {
    void operator()(HANDLE value) const { FindClose(value); }
};
struct FreeLocalMemory {
    void operator()(HLOCAL value) const { LocalFree(value); }
};
struct FreeAllocatedSid {
    void operator()(PSID value) const { FreeSid(value); }
};

// Kernel objects: files, pipes, events, mutexes, threads, processes, tokens.
using UniqueHandle = UniqueResource<HANDLE, CloseKernelHandle, NeitherNullNorInvalid>;
using UniqueRegKey = UniqueResource<HKEY, CloseRegistryKey, NonNull>;
using UniqueServiceHandle = UniqueResource<SC_HANDLE, CloseServiceManagerHandle, NonNull>;
using UniqueModule = UniqueResource<HMODULE, FreeModule, NonNull>;
using UniqueFindHandle = UniqueResource<HANDLE, CloseFindHandle, NeitherNullNorInvalid>;
using UniqueLocalMemory = UniqueResource<HLOCAL, FreeLocalMemory, NonNull>;
// A SID from AllocateAndInitializeSid.
using UniqueSid = UniqueResource<PSID, FreeAllocatedSid, NonNull>;

}  // namespace quenvar
