// The populate step: the configured lists expanded against the machine into
// the lists the removal actions walk, less what the ignore lists name.
#include <mbstring.h>

#include <cstring>
#include <string>
#include <vector>

#include "actions/reg_entry.h"
#include "guard/key_guard.h"
#include "guard/name_guard.h"
#include "guard/service_guard.h"
#include "guard/tree_guard.h"
#include "platform/handles.h"
#include "platform/platform.h"
#include "profile/engine.h"
#include "profile/entry_text.h"
#include "trace/trace.h"

namespace {

constexpr size_t kKeyEntryBufferSize = 261;  // key entry, a backslash and the name read

}  // namespace

DWORD CNuke::CopyList(TSet& target, TSet& source) {
    const char* element = nullptr;
    for (DWORD rc = source.GetFirst(element); rc == ERROR_SUCCESS; rc = source.GetNext(element)) {
        DWORD inserted = target.Insert(element);
        if (inserted != ERROR_SUCCESS) return inserted;
    }
    return ERROR_SUCCESS;
}

namespace {

DWORD ExpandKeyTree(CNuke& nuke, const char* keyEntry);

// True, with a trace line, when a key along the entry (the whole entry for
// a key, the key of a value) is a registry link in either view the removal
// deletes in: another key's contents would be deleted under the product's
// name.
bool RefusedThroughLink(CNuke& nuke, const char* step, const char* entry, bool isKey) {
    // A value entry ending in a backslash names the unnamed value of the
    // key its whole text names.
    const size_t length = std::strlen(entry);
    if (length > 0 && entry[length - 1] == '\\') isKey = true;
    std::vector<char> copy(entry, entry + length + 1);
    NormalizeEntry(copy.data());
    RegEntryParts parts;
    if (SplitRegEntry(copy.data(), parts) != ERROR_SUCCESS || !parts.root) return false;
    std::string key;
    JoinPath(key, {parts.path ? parts.path->c_str() : nullptr, isKey && parts.last ? parts.last->c_str() : nullptr});
    for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        // A key that refuses to be read is opened as itself when it is
        // listed, and looked at again before anything is deleted from it.
        bool unreadable = false;
        const std::string link = nuke.KeyGuard().LinkAlong(parts.root, parts.rootText->c_str(), key, view, &unreadable);
        if (!link.empty()) {
            ++nuke.refused;
            TraceWrite("", -1, 0, "%s: refusing to remove '%s': %s\n", step, entry, link.c_str());
            return true;
        }
    }
    return false;
}

// Why the key, or a value in it, may not be removed because it is, or lies
// in, the key of a service that stays whatever an entry says; empty when it
// may.
std::string RefusesServiceKey(CNuke& nuke, const char* entry) {
    const std::string service = nuke.KeyGuard().ServiceOfKey(entry);
    if (service.empty()) return std::string();
    std::string why;
    if (guard::IsNeededService(service.c_str())) {
        why = "Windows or the run needs it";
    } else {
        platform::ServiceHandle manager(nuke.os, nuke.os.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
        if (manager) why = guard::RefusesService(nuke.os, manager.get(), service.c_str());
    }
    return why.empty() ? why : "it is the key of the service '" + service + "', which stays: " + why;
}

}  // namespace

DWORD CNuke::ExpandRegKeyEntry(const char* keyEntry) {
    if (!keyEntry) return ERROR_INVALID_DATA;
    // A root, a hive or a key of the system is refused whole, in any
    // spelling and either view; below an allowed key nothing is.
    const std::string why = KeyGuard().Refuses(keyEntry);
    if (!why.empty() && *keyEntry) {
        ++refused;
        TraceWrite("", -1, 0, "ExpandRegKeyEntry: refusing to remove '%s': %s\n", keyEntry, why.c_str());
        return ERROR_ACCESS_DENIED;
    }
    const std::string service = RefusesServiceKey(*this, keyEntry);
    if (!service.empty()) {
        ++refused;
        TraceWrite("", -1, 0, "ExpandRegKeyEntry: refusing to remove '%s': %s\n", keyEntry, service.c_str());
        return ERROR_ACCESS_DENIED;
    }
    if (RefusedThroughLink(*this, "ExpandRegKeyEntry", keyEntry, true)) return ERROR_ACCESS_DENIED;
    return ExpandKeyTree(*this, keyEntry);
}

namespace {

DWORD ExpandKeyTree(CNuke& nuke, const char* keyEntry) {
    platform::Platform& os = nuke.os;
    std::vector<char> copy(keyEntry, keyEntry + std::strlen(keyEntry) + 1);
    NormalizeEntry(copy.data());
    RegEntryParts parts;
    DWORD rc = SplitRegEntry(copy.data(), parts);
    if (rc != ERROR_SUCCESS) return rc;

    std::string subkey;
    JoinPath(subkey, {parts.path ? parts.path->c_str() : nullptr, parts.last ? parts.last->c_str() : nullptr});
    // Opened as itself: a link below the product's key is seen, not walked.
    const REGSAM access = KEY_ALL_ACCESS | KEY_WOW64_64KEY;
    platform::RegKey key(os);
    LSTATUS open = parts.root ? os.RegOpenKeyExA(parts.root, subkey.c_str(), REG_OPTION_OPEN_LINK, access, key.put())
                              : ERROR_FILE_NOT_FOUND;
    if (open == ERROR_ACCESS_DENIED) {
        nuke.GrantRegKeyAccess(parts.root, subkey.c_str(), KEY_WOW64_64KEY);
        open = os.RegOpenKeyExA(parts.root, subkey.c_str(), REG_OPTION_OPEN_LINK, access, key.put());
    }
    if (open != ERROR_SUCCESS) return static_cast<DWORD>(open);

    std::string entry;
    JoinPath(entry, {parts.rootText ? parts.rootText->c_str() : nullptr, subkey.c_str()});
    if (guard::IsKeyLink(os, key.get())) {
        TraceWrite("", -1, 0, "ExpandRegKeyEntry: not listing '%s' nor anything below it: it is a registry link\n",
                   entry.c_str());
        return ERROR_SUCCESS;
    }
    if (entry.size() >= kKeyEntryBufferSize) return ERROR_FILENAME_EXCED_RANGE;
    rc = nuke.expandedRegKeyList.Insert(entry.c_str());
    if (rc != ERROR_SUCCESS) return rc;
    // No room left for a backslash and the terminator: nothing below can be
    // listed. With just that room the unnamed value (an empty name) still is.
    if (entry.size() + 2 > kKeyEntryBufferSize) return ERROR_FILENAME_EXCED_RANGE;

    char buffer[kKeyEntryBufferSize] = {};
    std::memcpy(buffer, entry.c_str(), entry.size());
    buffer[entry.size()] = '\\';
    char* name = buffer + entry.size() + 1;
    const DWORD room = static_cast<DWORD>(kKeyEntryBufferSize - entry.size() - 1);

    // Names are read in wide text: one the code page cannot hold would come
    // back with best-fit look-alikes and name another key or value (a
    // fullwidth reverse solidus reads as a backslash, and the name as a path
    // through its neighbour). Such a name is left alone, and so is the key
    // that holds it.
    const auto unfaithful = [&](const std::string& narrow, const char* what) {
        TraceWrite("", -1, 0, "ExpandRegKeyEntry: leaving the %s '%s' of '%s' alone: its name does not fit the code "
                   "page; '%s' stays\n", what, narrow.c_str(), entry.c_str(), entry.c_str());
    };
    // Subkeys first; a name too long for the buffer ends the listing of
    // this key.
    for (DWORD index = 0;; ++index) {
        std::string narrow;
        const LSTATUS listed = guard::EnumSubkeyName(os, key.get(), index, narrow);
        if (listed == ERROR_NO_UNICODE_TRANSLATION) {
            unfaithful(narrow, "key");
            continue;
        }
        if (listed != ERROR_SUCCESS) break;
        if (narrow.size() + 1 > room) break;
        std::memcpy(name, narrow.c_str(), narrow.size() + 1);
        ExpandKeyTree(nuke, buffer);
    }
    // Then the key's own values; the unnamed one gives an entry ending in a
    // backslash.
    std::vector<wchar_t> wide(16384);
    for (DWORD index = 0;; ++index) {
        DWORD size = static_cast<DWORD>(wide.size());
        wide[0] = L'\0';
        const LSTATUS listed = os.RegEnumValueW(key.get(), index, wide.data(), &size, nullptr, nullptr, nullptr, nullptr);
        if (listed == ERROR_MORE_DATA) continue;
        if (listed != ERROR_SUCCESS) break;
        std::string narrow;
        if (!guard::ExactCodePageText(os, wide.data(), narrow)) {
            unfaithful(narrow, "value");
            continue;
        }
        // A name too long for the rest of the buffer is passed over; the
        // values after it (the unnamed one among them) are still listed.
        if (narrow.size() + 1 > room) continue;
        std::memcpy(name, narrow.c_str(), narrow.size() + 1);
        UpperCaseText(name);
        rc = nuke.expandedRegValueList.Insert(buffer);
        if (rc != ERROR_SUCCESS) break;
    }
    return rc;
}

}  // namespace

DWORD CNuke::PopulateRemoveServiceList() {
    platform::ServiceHandle manager(os, os.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE));
    const auto refuse = [this](const char* name, const std::string& why) {
        ++refused;
        TraceWrite("", -1, 0, "PopulateRemoveServiceList: refusing to remove service '%s': %s\n", name, why.c_str());
    };
    std::vector<std::string> candidates;
    const char* element = nullptr;
    for (DWORD rc = removeServiceList.GetFirst(element); rc == ERROR_SUCCESS; rc = removeServiceList.GetNext(element)) {
        if (guard::IsNeededService(element)) {
            refuse(element, "Windows or the run needs it");
        } else {
            const std::string windows = manager ? guard::RefusesService(os, manager.get(), element) : std::string();
            if (windows.empty()) {
                candidates.push_back(element);
            } else {
                refuse(element, windows);
            }
        }
        if (IsCancelled()) return ERROR_CANCELLED;
    }
    // A service that another service depends on goes only with it: one that
    // stays (not listed, refused, or ignored) keeps it, and so on down.
    const auto goes = [&](const std::string& name) {
        for (const std::string& candidate : candidates) {
            if (_stricmp(candidate.c_str(), name.c_str()) == 0) return !IsIgnored(ignoreServiceList, name.c_str());
        }
        return false;
    };
    const guard::ServiceDependents dependents(os, manager.get());
    for (bool changed = static_cast<bool>(manager); changed;) {
        changed = false;
        for (size_t i = 0; i < candidates.size(); ++i) {
            for (const std::string& dependent : dependents.Of(candidates[i].c_str())) {
                if (goes(dependent)) continue;
                refuse(candidates[i].c_str(), "'" + dependent + "', which stays, depends on it");
                candidates.erase(candidates.begin() + static_cast<std::ptrdiff_t>(i));
                changed = true;
                break;
            }
            if (changed) break;
        }
        if (IsCancelled()) return ERROR_CANCELLED;
    }
    for (const std::string& name : candidates) expandedServiceList.Insert(name.c_str());
    ExcludeIgnoreList(expandedServiceList, ignoreServiceList);
    return IsCancelled() ? ERROR_CANCELLED : ERROR_SUCCESS;
}

DWORD CNuke::PopulateRemoveMsiUpgradeCodeList() {
    const char* element = nullptr;
    for (DWORD rc = removeMsiUpgradeCodeList.GetFirst(element); rc == ERROR_SUCCESS;
         rc = removeMsiUpgradeCodeList.GetNext(element)) {
        expandedMsiUpgradeCodeList.Insert(element);
        if (IsCancelled()) return ERROR_CANCELLED;
    }
    ExcludeIgnoreList(expandedMsiUpgradeCodeList, ignoreMsiUpgradeCodeList);
    return IsCancelled() ? ERROR_CANCELLED : ERROR_SUCCESS;
}

DWORD CNuke::PopulateRemoveFileList() {
    const char* element = nullptr;
    for (DWORD rc = removeFileList.GetFirst(element); rc == ERROR_SUCCESS; rc = removeFileList.GetNext(element)) {
        // The expansion normalises its own copy; the configured list stays.
        std::vector<char> entry(element, element + std::strlen(element) + 1);
        ExpandRemoveFileEntry(entry.data());
        if (IsCancelled()) return ERROR_CANCELLED;
    }
    ExcludeIgnoreList(expandedFileList, ignoreFileList);
    return IsCancelled() ? ERROR_CANCELLED : ERROR_SUCCESS;
}

DWORD CNuke::PopulateRemoveRegList() {
    const char* element = nullptr;
    for (DWORD rc = removeRegKeyList.GetFirst(element); rc == ERROR_SUCCESS; rc = removeRegKeyList.GetNext(element)) {
        if (IsCancelled()) return ERROR_CANCELLED;
        ExpandRegKeyEntry(element);
    }
    // The configured values as they are (as CopyList would copy them), but
    // for one whose key is reached through a registry link. An insertion
    // that fails ends the copy; the step goes on.
    for (DWORD rc = removeRegValueList.GetFirst(element); rc == ERROR_SUCCESS; rc = removeRegValueList.GetNext(element)) {
        // A value of a key Windows needs whole stays, whatever named it.
        std::string whole = KeyGuard().RefusesWhole(element);
        if (whole.empty()) whole = RefusesServiceKey(*this, element);
        if (!whole.empty()) {
            ++refused;
            TraceWrite("", -1, 0, "PopulateRemoveRegList: refusing to remove '%s': %s\n", element, whole.c_str());
            continue;
        }
        if (RefusedThroughLink(*this, "PopulateRemoveRegList", element, false)) continue;
        if (expandedRegValueList.Insert(element) != ERROR_SUCCESS) break;
    }
    if (IsCancelled()) return ERROR_CANCELLED;
    ExcludeIgnoreList(expandedRegKeyList, ignoreRegKeyList);
    if (IsCancelled()) return ERROR_CANCELLED;
    ExcludeIgnoreList(expandedRegValueList, ignoreRegValueList);
    // A key that is to stay keeps its values too: the values below an
    // ignored key hold its text.
    ExcludeIgnoreList(expandedRegValueList, ignoreRegKeyList);
    return IsCancelled() ? ERROR_CANCELLED : ERROR_SUCCESS;
}

DWORD CNuke::PopulateLists() {
    struct Step {
        const char* name;
        DWORD (CNuke::*run)();
        TSet CNuke::*list;
    };
    static const Step kSteps[] = {
        {"PopulateRemoveServiceList", &CNuke::PopulateRemoveServiceList, &CNuke::expandedServiceList},
        {"PopulateRemoveRegList", &CNuke::PopulateRemoveRegList, nullptr},
        {"PopulateRemoveMsiUpgradeCodeList", &CNuke::PopulateRemoveMsiUpgradeCodeList,
         &CNuke::expandedMsiUpgradeCodeList},
        {"PopulateRemoveFileList", &CNuke::PopulateRemoveFileList, &CNuke::expandedFileList},
    };
    for (const Step& step : kSteps) {
        const DWORD rc = (this->*step.run)();
        // The registry step names both of its lists.
        const bool done = step.list ? TraceListStep(step.name, rc, (this->*step.list).Count())
                                    : TraceListStep(step.name, rc, expandedRegKeyList.Count(),
                                                    expandedRegValueList.Count());
        if (!done) return rc;
    }
    return ERROR_SUCCESS;
}
