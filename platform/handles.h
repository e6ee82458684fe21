// Owning wrappers for Windows handles: one template, one line per kind.
#pragma once
#include <windows.h>

namespace platform {

// Traits: `static T invalid()` and `static void close(T)`.
template <typename T, typename Traits>
class UniqueHandle {
public:
    UniqueHandle() noexcept : value_(Traits::invalid()) {}
    explicit UniqueHandle(T value) noexcept : value_(value) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    T get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::invalid(); }
    T release() noexcept {
        T v = value_;
        value_ = Traits::invalid();
        return v;
    }
    void reset(T value = Traits::invalid()) noexcept {
        if (value_ != Traits::invalid()) Traits::close(value_);
        value_ = value;
    }
    // For functions that return a handle through an out parameter.
    T* put() noexcept {
        reset();
        return &value_;
    }

private:
    T value_;
};

template <typename T, BOOL(WINAPI* Close)(T)>
struct NullTraits {
    static T invalid() noexcept { return nullptr; }
    static void close(T h) noexcept { Close(h); }
};
template <BOOL(WINAPI* Close)(HANDLE)>
struct InvalidValueTraits {
    static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) noexcept { Close(h); }
};
struct RegKeyTraits {
    static HKEY invalid() noexcept { return nullptr; }
    static void close(HKEY h) noexcept { ::RegCloseKey(h); }
};
struct FreeSidTraits {
    static PSID invalid() noexcept { return nullptr; }
    static void close(PSID sid) noexcept { ::FreeSid(sid); }
};
struct LocalMemoryTraits {
    static HLOCAL invalid() noexcept { return nullptr; }
    static void close(HLOCAL h) noexcept { ::LocalFree(h); }
};

using ObjectHandle = UniqueHandle<HANDLE, NullTraits<HANDLE, ::CloseHandle>>;
using FileHandle = UniqueHandle<HANDLE, InvalidValueTraits<::CloseHandle>>;
using FindHandle = UniqueHandle<HANDLE, InvalidValueTraits<::FindClose>>;
using RegKey = UniqueHandle<HKEY, RegKeyTraits>;
using LocalMemory = UniqueHandle<HLOCAL, LocalMemoryTraits>;
using AllocatedSid = UniqueHandle<PSID, FreeSidTraits>;  // AllocateAndInitializeSid
using ServiceHandle = UniqueHandle<SC_HANDLE, NullTraits<SC_HANDLE, ::CloseServiceHandle>>;
using SnapshotHandle = UniqueHandle<HANDLE, InvalidValueTraits<::CloseHandle>>;
using ServiceLock = UniqueHandle<SC_LOCK, NullTraits<SC_LOCK, ::UnlockServiceDatabase>>;

// A COM interface pointer owned by one holder: released when it goes.
template <typename Interface>
struct ComTraits {
    static Interface* invalid() noexcept { return nullptr; }
    static void close(Interface* object) noexcept { object->Release(); }
};
template <typename Interface>
using ComPtr = UniqueHandle<Interface*, ComTraits<Interface>>;

}  // namespace platform
