// Owning wrappers for Windows handles: one template, one line per kind.
// A handle closes through the platform it came from, so a test platform or
// the preview sees every close; one made without a platform (a test's own
// set-up) closes through Windows directly.
#pragma once
#include <windows.h>

namespace platform {

class Platform;

// Traits: `static T invalid()` and `static void close(Platform*, T)`.
template <typename T, typename Traits>
class UniqueHandle {
public:
    UniqueHandle() noexcept : value_(Traits::invalid()) {}
    explicit UniqueHandle(Platform& os) noexcept : value_(Traits::invalid()), os_(&os) {}
    UniqueHandle(Platform& os, T value) noexcept : value_(value), os_(&os) {}
    explicit UniqueHandle(T value) noexcept : value_(value) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()), os_(other.os_) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
            os_ = other.os_;
        }
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
        if (value_ != Traits::invalid()) Traits::close(os_, value_);
        value_ = value;
    }
    // For functions that return a handle through an out parameter.
    T* put() noexcept {
        reset();
        return &value_;
    }

private:
    T value_;
    Platform* os_ = nullptr;
};

// The closing calls, through the platform when there is one (handles.cpp).
void CloseObject(Platform* os, HANDLE handle);
void CloseFind(Platform* os, HANDLE handle);
void CloseKey(Platform* os, HKEY key);
void FreeLocal(Platform* os, HLOCAL memory);
void FreeAllocatedSid(Platform* os, PSID sid);
void CloseService(Platform* os, SC_HANDLE handle);
void UnlockServices(Platform* os, SC_LOCK lock);

template <typename T, void (*Close)(Platform*, T)>
struct NullTraits {
    static T invalid() noexcept { return nullptr; }
    static void close(Platform* os, T h) noexcept { Close(os, h); }
};
template <void (*Close)(Platform*, HANDLE)>
struct InvalidValueTraits {
    static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(Platform* os, HANDLE h) noexcept { Close(os, h); }
};

using ObjectHandle = UniqueHandle<HANDLE, NullTraits<HANDLE, CloseObject>>;
using FileHandle = UniqueHandle<HANDLE, InvalidValueTraits<CloseObject>>;
using FindHandle = UniqueHandle<HANDLE, InvalidValueTraits<CloseFind>>;
using RegKey = UniqueHandle<HKEY, NullTraits<HKEY, CloseKey>>;
using LocalMemory = UniqueHandle<HLOCAL, NullTraits<HLOCAL, FreeLocal>>;
using AllocatedSid = UniqueHandle<PSID, NullTraits<PSID, FreeAllocatedSid>>;  // AllocateAndInitializeSid
using ServiceHandle = UniqueHandle<SC_HANDLE, NullTraits<SC_HANDLE, CloseService>>;
using SnapshotHandle = UniqueHandle<HANDLE, InvalidValueTraits<CloseObject>>;
using ServiceLock = UniqueHandle<SC_LOCK, NullTraits<SC_LOCK, UnlockServices>>;

// A COM interface pointer owned by one holder: released when it goes.
template <typename Interface>
struct ComTraits {
    static Interface* invalid() noexcept { return nullptr; }
    static void close(Platform*, Interface* object) noexcept { object->Release(); }
};
template <typename Interface>
using ComPtr = UniqueHandle<Interface*, ComTraits<Interface>>;

}  // namespace platform
