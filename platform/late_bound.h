// Functions that older Windows versions lack, looked up by name.
#pragma once
#include <windows.h>

namespace platform {

// A function of a system library, resolved by name; null when the library
// or the function is missing. Callers keep the result in a static.
template <typename Function>
Function LateBound(const char* library, const char* name) {
    HMODULE module = ::GetModuleHandleA(library);
    if (!module) module = ::LoadLibraryA(library);
    FARPROC address = module ? ::GetProcAddress(module, name) : nullptr;
    // Through the generic function pointer type: a cast between unrelated
    // function pointer types is what the compilers warn about.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

// Calls a late-bound function, or fails as a call Windows lacks fails: the
// last error ERROR_CALL_NOT_IMPLEMENTED, and `failed` returned.
template <typename Function, typename Result, typename... Args>
Result CallLateBound(Function call, Result failed, Args... args) {
    if (!call) {
        ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return failed;
    }
    return call(args...);
}

}  // namespace platform
