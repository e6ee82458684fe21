// Registry removal: the values and keys of the removal profile, deleted in
// the program's own (32-bit) view and, for what is missing there on 64-bit
// Windows, in the 64-bit view.
#include <cstdio>
#include <cstring>
#include <string>

#include "actions/reg_entry.h"
#include "actions/report.h"
#include "actions/run_backup.h"
#include "platform/handles.h"
#include "platform/platform.h"
#include "platform/windows_version.h"
#include "platform/registry_names.h"
#include "profile/engine.h"
#include "trace/trace.h"

namespace {

const REGSAM kAllAccess64 = KEY_ALL_ACCESS | KEY_WOW64_64KEY;  // 0xF013F

// Log lines name an item by "<root name>\<subkey>", cut to the buffer size.
const size_t kDisplaySize = 8192;

std::string Display(const char* first, const char* second) {
    char buffer[kDisplaySize] = {};
    std::snprintf(buffer, sizeof buffer, "%s\\%s", first, second);
    return buffer;
}

}  // namespace

bool CNuke::Is64BitWindows() { return platform::IsWow64(os); }

DWORD CNuke::CleanupRegValues() {
    const std::vector<std::string> elements = ListElements(expandedRegValueList, false);
    return CleanupLoop("CleanupRegValues", elements.size(), false, [&](size_t index) {
        const RegEntry entry(elements[index].c_str());
        if (!entry.root) {
            // Without a root the registry calls would act on whatever a null
            // handle means to them; such an entry is refused instead.
            TraceWrite("", -1, 0, "CleanupRegValues: '%s' names no registry root, not deleted\n", entry.text.c_str());
            return false;
        }
        const std::string display = Display(entry.RootName().c_str(), entry.valueKey.c_str());
        return DeleteRegValue(entry.root, entry.valueKey.c_str(), entry.valueName.c_str(), display.c_str());
    });
}

namespace {

// The profile checked the key when it was built; minutes may have passed.
// Right before the deletion the way to the key is looked at again, name by
// name as itself, in the view it is deleted from: a key swapped for a link
// in the meantime is not deleted through it.
bool LinkedAtDeletion(CNuke& nuke, const char* step, HKEY root, const std::string& subkey, REGSAM view,
                      const char* display, CNuke::KeyDacl* before = nullptr) {
    const char* rootName = platform::RootKeyName(root);
    bool unreadable = false;
    std::string why = nuke.KeyGuard().LinkAlong(root, rootName ? rootName : "", subkey, view, &unreadable);
    if (unreadable) {
        // The key refuses to be read, so it is not known not to be a link,
        // and a deletion by name would follow one. Administrators are
        // given access to the key itself first, then it is looked at again.
        nuke.GrantRegKeyAccess(root, subkey.c_str(), view, before);
        why = nuke.KeyGuard().LinkAlong(root, rootName ? rootName : "", subkey, view);
    }
    if (why.empty()) return false;
    ++nuke.refused;
    TraceWrite("", -1, 0, "%s: refusing to delete '%s': %s\n", step, display, why.c_str());
    return true;
}

}  // namespace

bool CNuke::DeleteRegValue(HKEY root, const char* subkey, const char* valueName, const char* display) {
    // The key stays: permissions a deletion needed are given back after it.
    KeyDacl before;
    const bool linked = LinkedAtDeletion(*this, "CleanupRegValues", root, subkey ? subkey : "", 0, display, &before);
    if (linked) {
        RestoreRegKeyAccess(root, subkey, 0, before);
        return false;
    }
    Backup().Value(root, subkey, valueName, 0);
    DWORD rc = os.SHDeleteValueA(root, subkey, valueName);
    if (rc == ERROR_ACCESS_DENIED) {
        GrantRegKeyAccess(root, subkey, 0, &before);
        rc = os.SHDeleteValueA(root, subkey, valueName);
    }
    RestoreRegKeyAccess(root, subkey, 0, before);
    if (rc == ERROR_SUCCESS) {
        ++removed;
        TraceWrite("", -1, 0, "Deleting registry value '%s' was successful\n", display);
        return true;
    }
    if (rc == ERROR_FILE_NOT_FOUND) {
        if (Is64BitWindows()) {
            TraceWrite("", -1, 0, "Registry value '%s' not found, let's try 64bit side...\n", display);
            DeleteRegValue64(root, subkey, valueName);
        } else {
            TraceWrite("", -1, 0, "Registry value '%s' is missing already, nothing to delete...\n", display);
        }
        return false;
    }
    ++failures;
    ReportOperationError(rc, "Deleting registry value", display);
    return false;
}

DWORD CNuke::DeleteRegValue64(HKEY root, const char* subkey, const char* valueName) {
    // Both 64-bit deletions depend on RegDeleteKeyExA being there.
    if (!os.HasRegDeleteKeyExA()) {
        TraceWrite("", -1, 0, "%s", "GetProcAddress for RegDeleteKeyValue failed. 64 bit deletion aborted.\n");
        return ERROR_BAD_ENVIRONMENT;
    }
    std::string display = Display(subkey, valueName);
    if (LinkedAtDeletion(*this, "CleanupRegValues", root, subkey ? subkey : "", KEY_WOW64_64KEY, display.c_str())) {
        return ERROR_ACCESS_DENIED;
    }
    platform::RegKey key(os);
    DWORD rc = static_cast<DWORD>(os.RegOpenKeyExA(root, subkey, 0, kAllAccess64, key.put()));
    if (rc != ERROR_SUCCESS) {
        if (rc != ERROR_FILE_NOT_FOUND) ++failures;
        ReportOperationError(rc, "Opening registry key", subkey);
        return rc;
    }
    Backup().Value(root, subkey, valueName, KEY_WOW64_64KEY);
    rc = static_cast<DWORD>(os.RegDeleteValueA(key.get(), valueName));
    // No access grant in the 64-bit view: just one more try.
    if (rc == ERROR_ACCESS_DENIED) rc = static_cast<DWORD>(os.RegDeleteValueA(key.get(), valueName));
    key.reset();
    if (rc == ERROR_SUCCESS) {
        ++removed;
        TraceWrite("", -1, 0, "Deleting registry value '%s' was successful\n", display.c_str());
    } else if (rc == ERROR_FILE_NOT_FOUND) {
        TraceWrite("", -1, 0, "Registry value '%s' is missing already, nothing to delete...\n", display.c_str());
    } else {
        ++failures;
        ReportOperationError(rc, "Deleting registry value", display.c_str());
    }
    return rc;
}

DWORD CNuke::CleanupRegKeys() {
    // Descending, so that every subkey comes before its parent.
    const std::vector<std::string> elements = ListElements(expandedRegKeyList, true);
    return CleanupLoop("CleanupRegKeys", elements.size(), false, [&](size_t index) {
        const char* element = elements[index].c_str();
        bool errors = false;
        const RegEntry entry(element);
        if (!entry.root) {
            TraceWrite("", -1, 0, "CleanupRegKeys: '%s' names no registry root, not deleted\n", element);
            return false;
        }
        const HKEY root = entry.root;
        const std::string& subkey = entry.key;
        const std::string display = Display(entry.RootName().c_str(), subkey.c_str());

        // A key that stays after all (it keeps subkeys, or its deletion
        // failed) gets back the permissions it had.
        KeyDacl before;
        if (LinkedAtDeletion(*this, "CleanupRegKeys", root, subkey, 0, display.c_str(), &before)) {
            RestoreRegKeyAccess(root, subkey.c_str(), 0, before);
            return true;
        }
        Backup().Key(root, subkey, 0);
        DWORD result = os.SHDeleteEmptyKeyA(root, subkey.c_str());
        if (result == ERROR_ACCESS_DENIED) {
            GrantRegKeyAccess(root, subkey.c_str(), 0, &before);
            result = os.SHDeleteEmptyKeyA(root, subkey.c_str());
        }
        if (result != ERROR_SUCCESS) RestoreRegKeyAccess(root, subkey.c_str(), 0, before);
        if (result == ERROR_SUCCESS) {
            ++removed;
            TraceWrite("", -1, 0, "Deleting registry key '%s' was successful\n", display.c_str());
        } else if (result == ERROR_FILE_NOT_FOUND) {
            if (Is64BitWindows()) {
                TraceWrite("", -1, 0, "Registry key '%s' not found, let's try 64bit side...\n", display.c_str());
                if (DeleteRegKey64(element) != ERROR_SUCCESS) errors = true;
            } else {
                // On 32-bit Windows a key that is gone is no failure.
                TraceWrite("", -1, 0, "Registry key '%s' is missing already, nothing to delete...\n",
                           display.c_str());
            }
        } else {
            errors = true;
            // A key that keeps subkeys (ignored ones, or ones the guard
            // keeps) stays by design.
            if (result != ERROR_KEY_HAS_CHILDREN) ++failures;
            ReportOperationError(result, "Deleting registry key", display.c_str());
        }
        return !errors;
    });
}

DWORD CNuke::DeleteRegKey64(const char* entry) {
    if (!os.HasRegDeleteKeyExA()) {
        TraceWrite("", -1, 0, "%s", "GetProcAddress for RegDeleteKeyEx failed. 64 bit deletion aborted.\n");
        return ERROR_BAD_ENVIRONMENT;
    }
    const RegEntry split(entry);
    if (!split.root) {
        TraceWrite("", -1, 0, "DeleteRegKey64: '%s' names no registry root, not deleted\n", entry ? entry : "");
        return ERROR_INVALID_PARAMETER;
    }
    // The parent key and the key to delete below it; a key directly below
    // the root has the root itself as its parent.
    const HKEY root = split.root;
    const std::string& parentPath = split.parent;
    const std::string& name = split.name;
    const std::string& keyPath = split.key;
    if (LinkedAtDeletion(*this, "CleanupRegKeys", root, keyPath, KEY_WOW64_64KEY, entry)) return ERROR_ACCESS_DENIED;
    platform::RegKey parent(os);
    DWORD rc = static_cast<DWORD>(os.RegOpenKeyExA(root, parentPath.c_str(), 0, kAllAccess64, parent.put()));
    if (rc != ERROR_SUCCESS) {
        if (rc != ERROR_FILE_NOT_FOUND) ++failures;
        ReportOperationError(rc, "Opening registry key", parentPath.c_str());
        return rc;
    }
    Backup().Key(root, keyPath, KEY_WOW64_64KEY);
    for (int attempt = 0; attempt < 2; ++attempt) {  // one more try after access denied
        rc = static_cast<DWORD>(os.RegDeleteKeyExA(parent.get(), name.c_str(), KEY_WOW64_64KEY, 0));
        if (rc != ERROR_ACCESS_DENIED) break;
    }
    parent.reset();
    if (rc == ERROR_SUCCESS) {
        ++removed;
        TraceWrite("", -1, 0, "Deleting registry key '%s' was successful\n", entry);
    } else if (rc == ERROR_FILE_NOT_FOUND) {
        TraceWrite("", -1, 0, "Registry key '%s' is missing already, nothing to delete...\n", entry);
    } else {
        if (rc != ERROR_KEY_HAS_CHILDREN) ++failures;
        ReportOperationError(rc, "Deleting registry key", entry);
    }
    return rc;
}
