#include "msitool/registry_value.h"

#include <cwchar>
#include <new>

#include "platform/platform.h"

namespace {

struct RootName {
    const wchar_t* name;
    HKEY key;
};

const RootName kRoots[] = {
    {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {L"HKEY_USERS", HKEY_USERS},
};

REGSAM ViewAccess(DWORD viewFlags) {
    if (viewFlags & RegistryView64) return KEY_WOW64_64KEY;
    if (viewFlags & RegistryView32) return KEY_WOW64_32KEY;
    return 0;
}

DWORD ParseSpec(platform::Platform& os, const std::wstring& original, bool create, DWORD viewFlags,
                RegistryValueTarget& target) {
    const std::wstring spec = original;  // the working copy
    const size_t rootEnd = spec.find(L'\\');
    if (rootEnd == std::wstring::npos) return RegistryValueMalformed;
    // The root name's own backslash may be the first of the pair.
    const size_t pair = spec.find(L"\\\\", rootEnd);
    if (pair == std::wstring::npos) return RegistryValueMalformed;
    const std::wstring rootName = spec.substr(0, rootEnd);
    const std::wstring keyPath = pair > rootEnd ? spec.substr(rootEnd + 1, pair - rootEnd - 1) : std::wstring();
    std::wstring valuePart = spec.substr(pair + 2);

    const size_t bar = valuePart.find(L'|');
    std::wstring data;
    const bool hasData = bar != std::wstring::npos;
    if (hasData) {
        data = valuePart.substr(bar + 1);
        valuePart.erase(bar);
        data.erase(data.find_last_not_of(L' ') + 1);
    } else {
        valuePart.erase(valuePart.find_last_not_of(L' ') + 1);
    }

    HKEY root = nullptr;
    for (const RootName& candidate : kRoots) {
        if (_wcsicmp(candidate.name, rootName.c_str()) == 0) root = candidate.key;
    }
    if (!root) return RegistryValueMalformed;

    if (keyPath.empty()) {
        target.key = root;
        target.isRootKey = true;
    } else {
        const REGSAM view = ViewAccess(viewFlags);
        target.opened = platform::RegKey(os);  // closed where it was opened
        const LSTATUS status =
            create ? os.RegCreateKeyExW(root, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                        KEY_ALL_ACCESS | view, nullptr, target.opened.put(), nullptr)
                   : os.RegOpenKeyExW(root, keyPath.c_str(), 0, KEY_READ | view, target.opened.put());
        if (status != ERROR_SUCCESS) return RegistryValueNoKey;
        target.key = target.opened.get();
        target.isRootKey = false;
    }
    target.valueName = valuePart;
    target.hasData = hasData;
    target.data = data;
    return RegistryValueOk;
}

}  // namespace

DWORD ParseRegistryValueSpec(platform::Platform& os, const std::wstring& spec, bool create, DWORD viewFlags,
                             RegistryValueTarget& target) {
    try {
        return ParseSpec(os, spec, create, viewFlags, target);
    } catch (const std::bad_alloc&) {
        target = RegistryValueTarget();
        return RegistryValueNoMemory;
    }
}

DWORD ReadRegistryValue(platform::Platform& os, void* buffer, DWORD bufferBytes, const std::wstring& spec,
                        DWORD viewFlags) {
    RegistryValueTarget target;
    const DWORD parsed = ParseRegistryValueSpec(os, spec, false, viewFlags, target);
    if (parsed != RegistryValueOk) return parsed;
    DWORD size = bufferBytes;
    const LSTATUS status =
        os.RegQueryValueExW(target.key, target.valueName.c_str(), nullptr, nullptr, static_cast<LPBYTE>(buffer), &size);
    if (status == ERROR_MORE_DATA) return RegistryValueTooLarge;
    return status == ERROR_SUCCESS ? RegistryValueOk : RegistryValueFailed;
}

DWORD WriteRegistryValue(platform::Platform& os, const std::wstring& spec, bool flush, DWORD type,
                         DWORD viewFlags) {
    RegistryValueTarget target;
    const DWORD parsed = ParseRegistryValueSpec(os, spec, true, viewFlags, target);
    if (parsed != RegistryValueOk) return parsed;
    if (!target.hasData) return RegistryValueMalformed;

    LSTATUS status = ERROR_SUCCESS;
    if (target.data.empty()) {
        status = os.RegDeleteValueW(target.key, target.valueName.c_str());
    } else if (type == REG_DWORD) {
        const DWORD number = static_cast<DWORD>(std::wcstol(target.data.c_str(), nullptr, 10));
        status = os.RegSetValueExW(target.key, target.valueName.c_str(), 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&number), sizeof number);
    } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
        status = os.RegSetValueExW(target.key, target.valueName.c_str(), 0, type,
                                   reinterpret_cast<const BYTE*>(target.data.c_str()),
                                   static_cast<DWORD>((target.data.size() + 1) * sizeof(wchar_t)));
    } else {
        status = ERROR_INVALID_PARAMETER;
    }
    if (!target.isRootKey && flush) os.RegFlushKey(target.key);
    return status == ERROR_SUCCESS ? RegistryValueOk : RegistryValueFailed;
}

std::wstring Trim(const std::wstring& text, const std::wstring& characters) {
    if (characters.empty()) return text;
    const size_t first = text.find_first_not_of(characters);
    if (first == std::wstring::npos) return std::wstring();
    return text.substr(first, text.find_last_not_of(characters) - first + 1);
}
