#include "platform/handles.h"

#include "platform/platform.h"

namespace platform {

void CloseObject(Platform* os, HANDLE handle) {
    if (os) {
        os->CloseHandle(handle);
    } else {
        ::CloseHandle(handle);
    }
}

void CloseFind(Platform* os, HANDLE handle) {
    if (os) {
        os->FindClose(handle);
    } else {
        ::FindClose(handle);
    }
}

void CloseKey(Platform* os, HKEY key) {
    if (os) {
        os->RegCloseKey(key);
    } else {
        ::RegCloseKey(key);
    }
}

void FreeLocal(Platform* os, HLOCAL memory) {
    if (os) {
        os->LocalFree(memory);
    } else {
        ::LocalFree(memory);
    }
}

void FreeAllocatedSid(Platform* os, PSID sid) {
    if (os) {
        os->FreeSid(sid);
    } else {
        ::FreeSid(sid);
    }
}

void CloseService(Platform* os, SC_HANDLE handle) {
    if (os) {
        os->CloseServiceHandle(handle);
    } else {
        ::CloseServiceHandle(handle);
    }
}

void UnlockServices(Platform* os, SC_LOCK lock) {
    if (os) {
        os->UnlockServiceDatabase(lock);
    } else {
        ::UnlockServiceDatabase(lock);
    }
}

}  // namespace platform
