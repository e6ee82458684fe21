#include "platform/handles.h"

#include "platform/platform.h"

namespace platform {

// Through the platform the handle came from, else Windows itself.
void CloseObject(Platform* os, HANDLE handle) { os ? os->CloseHandle(handle) : ::CloseHandle(handle); }
void CloseFind(Platform* os, HANDLE handle) { os ? os->FindClose(handle) : ::FindClose(handle); }
void CloseKey(Platform* os, HKEY key) { os ? os->RegCloseKey(key) : ::RegCloseKey(key); }
void FreeLocal(Platform* os, HLOCAL memory) { os ? os->LocalFree(memory) : ::LocalFree(memory); }
void FreeAllocatedSid(Platform* os, PSID sid) { os ? os->FreeSid(sid) : ::FreeSid(sid); }
void CloseService(Platform* os, SC_HANDLE handle) { os ? os->CloseServiceHandle(handle) : ::CloseServiceHandle(handle); }
void UnlockServices(Platform* os, SC_LOCK lock) { os ? os->UnlockServiceDatabase(lock) : ::UnlockServiceDatabase(lock); }

}  // namespace platform
