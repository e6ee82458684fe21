// Registry values named by one text, the form the MSI tool's hiding uses:
//
//   ROOT\key\path\\ValueName[|data]
//
// the root name ("HKEY_LOCAL_MACHINE", ...), the key path, two backslashes,
// the value name and optionally a vertical bar and the data text.
// "HKEY_CURRENT_USER\\Name" names a value of the root key itself.
#pragma once
#include <windows.h>

#include <string>

#include "platform/handles.h"

namespace platform { class Platform; }

// Results of the registry value operations.
enum RegistryValueResult : DWORD {
    RegistryValueOk = 0,
    RegistryValueNoKey = 1,        // the key cannot be opened or created
    RegistryValueFailed = 2,       // the value cannot be read, written or deleted
    RegistryValueTooLarge = 3,     // the value does not fit the caller's buffer
    RegistryValueMalformed = 4,    // malformed text, unknown root, or a write without data
    RegistryValueNoMemory = 100,   // no working copy of the text could be made
};

// View flags: 2 the 64-bit view, else 1 the 32-bit view, else the process's own.
enum : DWORD { RegistryView32 = 1, RegistryView64 = 2 };

// What a parsed value text hands out. `key` is the opened key, or the root
// key itself when the text has no key path (`isRootKey`); only an opened key is
// owned (and closed by `opened`).
struct RegistryValueTarget {
    HKEY key = nullptr;
    bool isRootKey = false;
    platform::RegKey opened;
    std::wstring valueName;
    bool hasData = false;
    std::wstring data;
};

// Splits the value text and opens its key (created with `create`, KEY_ALL_ACCESS; else
// KEY_READ) in the view of viewFlags. On a non-zero result target is left
// without a key.
DWORD ParseRegistryValueSpec(platform::Platform& os, const std::wstring& spec, bool create, DWORD viewFlags,
                             RegistryValueTarget& target);

// Reads the value into buffer (bufferBytes large). 3 when it does not fit.
DWORD ReadRegistryValue(platform::Platform& os, void* buffer, DWORD bufferBytes, const std::wstring& spec,
                        DWORD viewFlags);

// Writes the value text's data part as a value of `type`, creating the key when
// missing: REG_DWORD takes the text as a signed decimal number, REG_SZ and
// REG_EXPAND_SZ the text itself; other types give 2. An empty data text
// deletes the value instead. With flush the key is flushed before it is
// closed.
DWORD WriteRegistryValue(platform::Platform& os, const std::wstring& spec, bool flush, DWORD type,
                         DWORD viewFlags);

// text without the leading and trailing characters that occur in characters.
std::wstring Trim(const std::wstring& text, const std::wstring& characters);
