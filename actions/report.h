// The failure line every removal step writes for an item it could not handle.
#pragma once
#include <windows.h>

// Logs exactly one line naming the operation, the object and what the code means.
void ReportOperationError(DWORD code, const char* operation, const char* object);
