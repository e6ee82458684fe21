// The long names of the predefined registry roots, as the trace, the
// preview, the backup file and the configuration spell them.
#pragma once
#include <windows.h>

namespace platform {

// "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
// "HKEY_USERS" or "HKEY_CURRENT_CONFIG"; null for any other handle.
const char* RootKeyName(HKEY root);
// The same in UTF-16.
const wchar_t* RootKeyNameW(HKEY root);

}  // namespace platform
