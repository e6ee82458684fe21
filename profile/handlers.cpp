// The entry handlers: each turns the argument of one configuration entry
// into zero, one or many elements of a removal list, looking at the machine
// (registry, files and folders, services, running processes) as it is while
// the profile is built.
#include <mbstring.h>
#include <shlobj.h>

#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "actions/reg_entry.h"
#include "actions/services.h"
#include "detect/google_plugin.h"
#include "guard/name_guard.h"
#include "guard/path_guard.h"
#include "guard/tree_guard.h"
#include "platform/handles.h"
#include "platform/platform.h"
#include "profile/engine.h"
#include "profile/entry_text.h"
#include "profile/folder_macros.h"
#include "profile/tset.h"
#include "trace/trace.h"

namespace {

// Registry enumeration names, the key prefix already in them included.
constexpr size_t kNameBufferSize = 261;
// Paths built by the file handlers: 259 characters and the terminator.
constexpr size_t kPathBufferSize = 260;

using Text = std::unique_ptr<char[]>;

// A zero-filled buffer of size + 1 bytes for registry data of size bytes, so
// the text ends inside it whatever was stored; null when it cannot be made.
Text DataBuffer(DWORD size) {
    if (size == MAXDWORD) return nullptr;
    const size_t bytes = static_cast<size_t>(size) + 1;
    Text data(new (std::nothrow) char[bytes]);
    if (data) std::memset(data.get(), 0, bytes);
    return data;
}

const char* OrNull(const std::optional<std::string>& text) { return text ? text->c_str() : nullptr; }
const char* OrEmpty(const std::optional<std::string>& text) { return text ? text->c_str() : ""; }

unsigned char* Bytes(char* text) { return reinterpret_cast<unsigned char*>(text); }
const unsigned char* Bytes(const char* text) { return reinterpret_cast<const unsigned char*>(text); }


// The registry entry text "<root>\<path>\", the form every enumerated name
// is appended to.
std::string KeyPrefix(const RegEntryParts& parts) {
    std::string prefix;
    JoinPath(prefix, {OrNull(parts.rootText), OrNull(parts.path)});
    prefix += '\\';
    return prefix;
}

// Inserts prefix + upper-cased name for every name that enumerate(index,
// buffer, size) yields and that matches pattern. Names are read into the
// rest of one 261-byte buffer behind the prefix; a name that does not fit
// there is skipped and the enumeration goes on. Returns the last Insert
// result; a failing Insert ends the enumeration.
template <typename Enumerate>
DWORD InsertMatchingNames(TSet& list, const std::string& prefix, const char* pattern, const char* handler,
                          Enumerate enumerate) {
    char buffer[kNameBufferSize] = {};
    if (prefix.size() + 1 >= sizeof buffer) {
        TraceWrite("", -1, 0, "%s: key '%s' is too long to list its names\n", handler, prefix.c_str());
        return ERROR_SUCCESS;
    }
    std::memcpy(buffer, prefix.data(), prefix.size());
    char* name = buffer + prefix.size();
    const DWORD room = static_cast<DWORD>(sizeof buffer - prefix.size());

    DWORD result = ERROR_SUCCESS;
    for (DWORD index = 0;; ++index) {
        name[0] = '\0';
        const LSTATUS rc = enumerate(index, name, room);
        if (rc == ERROR_MORE_DATA) {
            TraceWrite("", -1, 0, "%s: skipped a name too long for '%s' (index %lu)\n", handler, prefix.c_str(),
                       static_cast<unsigned long>(index));
            continue;
        }
        if (rc == ERROR_NO_UNICODE_TRANSLATION) {
            TraceWrite("", -1, 0, "%s: leaving '%s' in '%s' alone: its name does not fit the code page\n", handler, name,
                       prefix.c_str());
            continue;
        }
        if (rc != ERROR_SUCCESS) break;
        buffer[sizeof buffer - 1] = '\0';
        if (!WildcardMatch(name, pattern)) continue;
        UpperCaseText(name);
        result = list.Insert(buffer);
        if (result != ERROR_SUCCESS) break;
    }
    return result;
}

// Splits a registry value entry. An entry that ends in a backslash names the
// unnamed value of the key its whole path names.
DWORD SplitValueEntry(const char* entry, RegEntryParts& parts) {
    const DWORD rc = SplitRegEntry(entry, parts);
    if (rc != ERROR_SUCCESS) return rc;
    const size_t length = std::strlen(entry);
    const unsigned char* lastSlash = _mbsrchr(Bytes(entry), '\\');
    if (length > 0 && lastSlash == Bytes(entry) + length - 1 && parts.last) {
        std::string key;
        JoinPath(key, {OrNull(parts.path), parts.last->c_str()});
        parts.path = key;
        parts.last.reset();
    }
    return ERROR_SUCCESS;
}

using EntryHandler = DWORD (CNuke::*)(TSet&, char*);

}  // namespace

static DWORD InsertFolderMatches(platform::Platform& os, TSet& list, char* path);

namespace {

// Hands text to handler unless it is longer than a file handler's path
// buffer holds; a cut path would name some other file or folder.
void HandleBuiltPath(CNuke& nuke, EntryHandler handler, TSet& list, std::string& text, const char* caller) {
    if (text.size() >= kPathBufferSize) {
        TraceWrite("", -1, 0, "%s: skipped '%s', longer than a path may be\n", caller, text.c_str());
        return;
    }
    (nuke.*handler)(list, &text[0]);
}

// The steps the two FILE_NAME_EXPAND handlers share: the folder macro at the
// start of the argument is replaced by its folder, and a per-user folder is
// taken in every user profile beside the current user's.
DWORD ExpandFolderMacro(CNuke& nuke, TSet& list, char* argument, bool forContent) {
    const char* caller = forContent ? "ListFoldersByContentExpand" : "ListFilesByNameExpand";
    const EntryHandler handler = forContent ? &CNuke::ListFoldersByContent : &CNuke::ListFilesByName;
    if (!argument) return ERROR_INVALID_DATA;

    NormalizeEntry(argument);
    const FolderMacro* macro = FindFolderMacro(argument);
    if (!macro) return ERROR_BAD_CONFIGURATION;

    char folder[kPathBufferSize];
    ResolveMacroFolder(nuke, macro->folder, forContent, folder);
    // An unresolved macro leaves the entry as written.
    if (!folder[0]) return (nuke.*handler)(list, argument);
    NormalizeEntry(folder);

    // The macro stands at the start; the argument holds it, so it is at
    // least that long.
    const char* rest = argument + std::strlen(macro->macro);
    std::string full;
    JoinPath(full, {folder, rest});

    // A folder of the running account's profile stands for the same folder
    // in every profile Windows records. The profile is taken as Windows
    // names it, never found by the account's name in the text (under
    // SYSTEM that name first occurs in the Windows folder), and the other
    // profiles come from Windows' own list, never from a listing of the
    // folder above: anyone may make a folder there.
    const std::string profile = guard::CurrentProfile(nuke.os);
    const std::string upperFolder = guard::UpperText(folder);
    if (!profile.empty() && (upperFolder == profile || guard::IsInside(upperFolder, profile))) {
        std::string tail;
        JoinPath(tail, {upperFolder.c_str() + profile.size(), rest});
        for (const std::string& each : guard::RecordedProfiles(nuke.os, profile)) {
            std::string path;
            JoinPath(path, {each.c_str(), tail.c_str()});
            HandleBuiltPath(nuke, handler, list, path, caller);
        }
        return ERROR_SUCCESS;
    }
    if (full.size() >= kPathBufferSize) {
        TraceWrite("", -1, 0, "%s: skipped '%s', longer than a path may be\n", caller, full.c_str());
        return ERROR_SUCCESS;
    }
    return (nuke.*handler)(list, &full[0]);
}

}  // namespace

// The registry entry a handler's argument names, split (a copy is split:
// the argument stays as written); ERROR_INVALID_DATA for no argument or a
// wildcard before the last name.
static DWORD SplitArgumentEntry(const char* argument, RegEntryParts& parts) {
    if (!argument) return ERROR_INVALID_DATA;
    Text copy = CopyText(argument);
    if (!copy) return ERROR_NOT_ENOUGH_MEMORY;
    const DWORD split = SplitRegEntry(copy.get(), parts);
    if (split != ERROR_SUCCESS) return split;
    return parts.path && HasWildcard(parts.path->c_str()) ? static_cast<DWORD>(ERROR_INVALID_DATA) : ERROR_SUCCESS;
}

DWORD CNuke::ListRegValueData(TSet& list, char* argument) {
    RegEntryParts parts;
    const DWORD split = SplitArgumentEntry(argument, parts);
    if (split != ERROR_SUCCESS) return split;
    if (!parts.root) return ERROR_SUCCESS;

    DWORD type = 0;
    DWORD size = 0;
    os.SHGetValueA(parts.root, OrEmpty(parts.path), OrNull(parts.last), &type, nullptr, &size);
    if (size == 0) return ERROR_SUCCESS;
    if (type != REG_SZ) return ERROR_INVALID_DATA;

    Text data = DataBuffer(size);
    if (!data) return ERROR_NOT_ENOUGH_MEMORY;
    DWORD read = size;
    const DWORD rc = os.SHGetValueA(parts.root, OrEmpty(parts.path), OrNull(parts.last), &type, data.get(), &read);
    if (rc != ERROR_SUCCESS) {
        TraceWrite("", -1, 0, "ListRegValueData: SHGetValue failed len=%d", static_cast<int>(size));
        return rc;
    }
    // A value that holds only its terminator names nothing.
    if (!data[0]) return ERROR_SUCCESS;
    return list.Insert(data.get());
}

// The by-name registry handlers: an argument whose last component holds no
// wildcard is inserted as written; otherwise the values (or subkeys) of the
// key that match it. Values are read in the program's own view, keys in the
// 64-bit view.
static DWORD ListRegNamesByPattern(CNuke& nuke, TSet& list, char* argument, bool subkeys, bool guarded) {
    RegEntryParts parts;
    const DWORD split = SplitArgumentEntry(argument, parts);
    if (split != ERROR_SUCCESS) return split;
    if (!parts.last || !HasWildcard(parts.last->c_str())) return list.Insert(argument);
    // A pattern directly inside a key of the system needs a literal start;
    // a data match filters its candidates and is not held to it.
    if (guarded && !nuke.handlingIgnoreEntry) {
        std::string key;
        JoinPath(key, {OrNull(parts.rootText), OrNull(parts.path)});
        const std::string why = nuke.KeyGuard().RefusesPattern(key.c_str(), parts.last->c_str());
        if (!why.empty()) {
            ++nuke.refused;
            TraceWrite("", -1, 0, "%s: refusing '%s': %s\n", subkeys ? "ListRegKeysByName" : "ListRegValuesByName",
                       argument, why.c_str());
            return ERROR_SUCCESS;
        }
    }

    platform::RegKey key(nuke.os);
    const REGSAM sam = subkeys ? KEY_READ | KEY_WOW64_64KEY : KEY_READ;
    if (!parts.root || nuke.os.RegOpenKeyExA(parts.root, OrEmpty(parts.path), 0, sam, key.put()) != ERROR_SUCCESS) {
        return list.Insert(argument);
    }
    platform::Platform& os = nuke.os;
    // Names are read in wide text: one the code page cannot hold would come
    // back with best-fit look-alikes and name another key or value.
    std::vector<wchar_t> wide(16384);
    const auto exact = [&os, &wide](char* name, DWORD size) -> LSTATUS {
        std::string narrow;
        const bool faithful = guard::ExactCodePageText(os, wide.data(), narrow);
        if (narrow.size() + 1 > size) return ERROR_MORE_DATA;
        std::memcpy(name, narrow.c_str(), narrow.size() + 1);
        return faithful ? ERROR_SUCCESS : ERROR_NO_UNICODE_TRANSLATION;
    };
    if (subkeys) {
        return InsertMatchingNames(list, KeyPrefix(parts), parts.last->c_str(), "ListRegKeysByName",
                                   [&](DWORD index, char* name, DWORD size) -> LSTATUS {
                                       DWORD length = static_cast<DWORD>(wide.size());
                                       const LSTATUS rc = os.RegEnumKeyExW(key.get(), index, wide.data(), &length,
                                                                           nullptr, nullptr, nullptr, nullptr);
                                       return rc == ERROR_SUCCESS ? exact(name, size) : rc;
                                   });
    }
    return InsertMatchingNames(list, KeyPrefix(parts), parts.last->c_str(), "ListRegValuesByName",
                               [&](DWORD index, char* name, DWORD size) -> LSTATUS {
                                   DWORD length = static_cast<DWORD>(wide.size());
                                   const LSTATUS rc = os.RegEnumValueW(key.get(), index, wide.data(), &length,
                                                                       nullptr, nullptr, nullptr, nullptr);
                                   return rc == ERROR_SUCCESS ? exact(name, size) : rc;
                               });
}

DWORD CNuke::ListRegValuesByName(TSet& list, char* argument) {
    return ListRegNamesByPattern(*this, list, argument, false, true);
}

DWORD CNuke::ListRegKeysByName(TSet& list, char* argument) {
    return ListRegNamesByPattern(*this, list, argument, true, true);
}

// The quoted fields of a data-match argument, split in a normalised copy
// that copy keeps alive: 13 when the argument or any field is missing.
static DWORD SplitDataMatchArgument(const char* argument, Text& copy, std::initializer_list<char**> fields) {
    if (!argument) return ERROR_INVALID_DATA;
    copy = CopyText(argument);
    if (!copy) return ERROR_NOT_ENOUGH_MEMORY;
    NormalizeEntry(copy.get());
    SplitQuotedFields(copy.get(), fields);
    for (char** field : fields) {
        if (!*field) return ERROR_INVALID_DATA;
    }
    return ERROR_SUCCESS;
}

// A data match filters the names a pattern lists, so it may list directly
// inside a key of the system; there its data pattern must hold a word of
// its own (three letters that are not a file extension), or it filters
// nothing. Inside a key Windows needs whole, nothing is matched at all.
static bool RefusedDataMatch(CNuke& nuke, const char* handler, const char* entry, const char* pattern) {
    if (nuke.handlingIgnoreEntry) return false;
    RegEntryParts parts;
    if (SplitRegEntry(entry, parts) != ERROR_SUCCESS || !parts.last) return false;
    std::string key;
    JoinPath(key, {OrNull(parts.rootText), OrNull(parts.path)});
    const std::string whole = nuke.KeyGuard().RefusesWhole(key.c_str());
    const char* why = nullptr;
    if (!whole.empty()) {
        why = whole.c_str();
    } else if (!nuke.KeyGuard().RefusesPattern(key.c_str(), parts.last->c_str()).empty() &&
               !guard::HoldsWord(pattern)) {
        why = "a data match inside a key of the system needs three letters in its pattern that are not a file "
              "extension";
    }
    if (!why) return false;
    ++nuke.refused;
    TraceWrite("", -1, 0, "%s: refusing '%s' with '%s': %s\n", handler, entry, pattern ? pattern : "", why);
    return true;
}

DWORD CNuke::ListRegValuesByData(TSet& list, char* argument) {
    Text copy;
    char* entry = nullptr;
    char* pattern = nullptr;
    const DWORD fields = SplitDataMatchArgument(argument, copy, {&entry, &pattern});
    if (fields != ERROR_SUCCESS) return fields;

    if (RefusedDataMatch(*this, "ListRegValuesByData", entry, pattern)) return ERROR_SUCCESS;
    TSet candidates;
    if (ListRegNamesByPattern(*this, candidates, entry, false, false) != ERROR_SUCCESS) return ERROR_INVALID_DATA;

    const char* candidate = nullptr;
    for (DWORD more = candidates.GetFirst(candidate); more == ERROR_SUCCESS; more = candidates.GetNext(candidate)) {
        if (list.Contains(candidate)) continue;
        RegEntryParts parts;
        const DWORD split = SplitValueEntry(candidate, parts);
        if (split != ERROR_SUCCESS) return split;
        if (!parts.root) continue;

        DWORD type = 0;
        DWORD size = 0;
        os.SHGetValueA(parts.root, OrEmpty(parts.path), OrNull(parts.last), &type, nullptr, &size);
        if (size == 0) continue;
        // A value that is not text fails the whole entry.
        if (type != REG_SZ) return ERROR_INVALID_DATA;
        Text data = DataBuffer(size);
        if (!data) return ERROR_INVALID_DATA;
        DWORD read = size;
        const DWORD rc =
            os.SHGetValueA(parts.root, OrEmpty(parts.path), OrNull(parts.last), &type, data.get(), &read);
        if (rc != ERROR_SUCCESS) return rc;
        if (WildcardMatch(data.get(), pattern)) list.Insert(candidate);
    }
    return ERROR_SUCCESS;
}

DWORD CNuke::ListRegKeysByData(TSet& list, char* argument) {
    Text copy;
    char* entry = nullptr;
    char* valueName = nullptr;
    char* pattern = nullptr;
    const DWORD fields = SplitDataMatchArgument(argument, copy, {&entry, &valueName, &pattern});
    if (fields != ERROR_SUCCESS) return fields;
    if (HasWildcard(valueName)) return ERROR_INVALID_DATA;

    if (RefusedDataMatch(*this, "ListRegKeysByData", entry, pattern)) return ERROR_SUCCESS;
    TSet candidates;
    if (ListRegNamesByPattern(*this, candidates, entry, true, false) != ERROR_SUCCESS) return ERROR_INVALID_DATA;

    const char* candidate = nullptr;
    for (DWORD more = candidates.GetFirst(candidate); more == ERROR_SUCCESS; more = candidates.GetNext(candidate)) {
        if (list.Contains(candidate)) continue;
        // The value name is joined to the candidate and the whole split
        // again, so a name may reach into a subkey ("InstallProperties\Name");
        // an empty name names the candidate itself as a value of its parent.
        std::string joined;
        JoinPath(joined, {candidate, valueName});
        RegEntryParts parts;
        const DWORD split = SplitRegEntry(joined.c_str(), parts);
        if (split != ERROR_SUCCESS) return split;
        if (!parts.root) continue;
        const char* keyPath = parts.path ? parts.path->c_str() : "";
        const char* name = parts.last ? parts.last->c_str() : "";

        platform::RegKey key(os);
        if (os.RegOpenKeyExA(parts.root, keyPath, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS) {
            continue;
        }
        DWORD type = 0;
        DWORD size = 0;
        os.RegQueryValueExA(key.get(), name, nullptr, &type, nullptr, &size);
        // Values that are not text, and empty ones, are passed over.
        if (size == 0 || type != REG_SZ) continue;
        Text data = DataBuffer(size);
        if (!data) return ERROR_INVALID_DATA;
        DWORD read = size;
        if (os.RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<LPBYTE>(data.get()), &read) ==
                ERROR_SUCCESS &&
            WildcardMatch(data.get(), pattern)) {
            list.Insert(candidate);
        }
    }
    return ERROR_SUCCESS;
}

// While the start-menu mask is active, the entry's variant with the
// product's own name is listed first (its result is not used).
static DWORD WithStartMenuVariant(CNuke& nuke, TSet& list, char* argument, DWORD (CNuke::*step)(TSet&, char*)) {
    if (!argument) return ERROR_INVALID_DATA;
    if (nuke.IsStartMenuMaskActive()) {
        std::string variant = nuke.StartMenuVariant(argument);
        if (!variant.empty()) (nuke.*step)(list, &variant[0]);
    }
    return (nuke.*step)(list, argument);
}

DWORD CNuke::ListFilesByName(TSet& list, char* argument) {
    return WithStartMenuVariant(*this, list, argument, &CNuke::InsertFileMatches);
}

DWORD CNuke::InsertFileMatches(TSet& list, char* path) {
    if (!path) return ERROR_SUCCESS;
    NormalizeEntry(path);
    // Nothing left (a bare separator, quotes) names no file; as a folder it
    // would stand for the root of the current drive.
    if (!path[0]) return ERROR_SUCCESS;
    // A path that is not fully qualified is never looked up: Windows would
    // resolve it against the current folder or drive (System32, for an
    // elevated prompt). It stays as written: a fragment in an ignore list,
    // refused when a removal list is expanded.
    if (!guard::IsFullyQualified(path)) {
        list.Insert(path);
        return ERROR_SUCCESS;
    }
    if (!handlingIgnoreEntry) {
        const std::string why = FolderGuard().RefusesPattern(path);
        if (!why.empty()) {
            ++refused;
            TraceWrite("", -1, 0, "InsertFileMatches: refusing '%s': %s\n", path, why.c_str());
            return ERROR_SUCCESS;
        }
    }
    return InsertFolderMatches(os, list, path);
}

// Every name that matches the last component of path (normalised, fully
// qualified) put in its place and inserted; the path itself when nothing
// matches.
static DWORD InsertFolderMatches(platform::Platform& os, TSet& list, char* path) {
    // Matched where the restart deletes: the real System32, not the folder
    // a 32-bit program is shown; by the names as stored, since the ANSI
    // calls show a name the code page cannot hold with look-alike
    // characters (separators and dots among them).
    std::vector<guard::ListedName> names;
    if (!guard::ListNames(os, guard::Unredirected(os, path), names)) {
        list.Insert(path);
        return ERROR_SUCCESS;
    }

    // Each found name takes the place of the last path component.
    const unsigned char* lastSlash = _mbsrchr(Bytes(path), '\\');
    const size_t folderLength = lastSlash ? static_cast<size_t>(lastSlash - Bytes(path)) + 1 : 0;
    const std::string folder(path, folderLength);
    for (const guard::ListedName& name : names) {
        if (!name.faithful) {
            TraceWrite("", -1, 0, "InsertFileMatches: leaving '%s' in '%s' alone: its name does not fit the code page\n",
                       name.name.c_str(), path);
            continue;
        }
        if (folderLength + name.name.size() >= kPathBufferSize) {
            TraceWrite("", -1, 0, "InsertFileMatches: skipped '%s' in '%s', longer than a path may be\n",
                       name.name.c_str(), path);
            continue;
        }
        list.Insert((folder + guard::UpperText(name.name.c_str())).c_str());
    }
    return ERROR_SUCCESS;
}

DWORD CNuke::ListFilesByNameExpand(TSet& list, char* argument) {
    return ExpandFolderMacro(*this, list, argument, false);
}

DWORD CNuke::ListFoldersByContent(TSet& list, char* argument) {
    return WithStartMenuVariant(*this, list, argument, &CNuke::ListFolderMatches);
}

DWORD CNuke::ListFolderMatches(TSet& list, char* argument) {
    if (!argument) return ERROR_INVALID_DATA;
    Text copy = CopyText(argument);
    if (!copy) return ERROR_NOT_ENOUGH_MEMORY;
    char* text = copy.get();
    NormalizeEntry(text);
    // Where the normalised text ends; every field start is checked against
    // it, so the scan stays inside the text whatever normalisation removed.
    const size_t length = std::strlen(text);

    char* folderField = nullptr;
    SplitQuotedFields(text, {&folderField});
    if (!folderField) return ERROR_INVALID_DATA;

    // Each further field starts two characters after the end of the one
    // before: past the terminator that replaced the quote and the comma.
    TSet patterns;
    size_t next = static_cast<size_t>(folderField - text) + std::strlen(folderField) + 2;
    while (next < length) {
        char* pattern = nullptr;
        SplitQuotedFields(text + next, {&pattern});
        if (!pattern) break;
        patterns.Insert(pattern);
        next = static_cast<size_t>(pattern - text) + std::strlen(pattern) + 2;
    }
    if (patterns.IsEmpty()) return ERROR_INVALID_DATA;

    TSet folders;
    ListFilesByName(folders, folderField);

    const char* folder = nullptr;
    for (DWORD more = folders.GetFirst(folder); more == ERROR_SUCCESS; more = folders.GetNext(folder)) {
        TSet remaining;
        remaining.AddAll(patterns);
        // The folder's own entries only: a start-menu variant of the folder
        // is a folder of its own, matched by ListFoldersByContent.
        TSet entries;
        std::string contents = std::string(folder) + "\\*";
        InsertFolderMatches(os, entries, &contents[0]);

        const char* entry = nullptr;
        for (DWORD more2 = entries.GetFirst(entry); more2 == ERROR_SUCCESS; more2 = entries.GetNext(entry)) {
            const char* name = os.PathFindFileNameA(entry);
            const char* candidate = nullptr;
            DWORD rc = remaining.GetFirst(candidate);
            while (rc == ERROR_SUCCESS) {
                rc = WildcardMatch(name, candidate) ? remaining.RemoveCurrentAndGetNext(candidate)
                                                    : remaining.GetNext(candidate);
            }
            if (remaining.IsEmpty()) {
                list.Insert(folder);
                break;
            }
        }
    }
    return ERROR_SUCCESS;
}

DWORD CNuke::ListFoldersByContentExpand(TSet& list, char* argument) {
    return ExpandFolderMacro(*this, list, argument, true);
}

// A wildcard pattern of a removal list must not be able to reach the
// system's own services or processes; the entry is refused, the run goes on.
static bool RefusedNamePattern(CNuke& nuke, const char* handler, const char* argument) {
    if (nuke.handlingIgnoreEntry) return false;
    const std::string why = guard::RefusesNamePattern(argument);
    if (why.empty()) return false;
    ++nuke.refused;
    TraceWrite("", -1, 0, "%s: refusing '%s': %s\n", handler, argument, why.c_str());
    return true;
}

DWORD CNuke::ListServicesByName(TSet& list, char* argument) {
    if (!argument) return ERROR_INVALID_DATA;
    if (!HasWildcard(argument)) return list.Insert(argument);
    if (RefusedNamePattern(*this, "ListServicesByName", argument)) return ERROR_SUCCESS;

    platform::ServiceHandle scm(os, os.OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
    if (!scm) return os.GetLastError();
    TSet names;
    EnumServiceNames(os, scm.get(), names);

    const char* name = nullptr;
    for (DWORD more = names.GetFirst(name); more == ERROR_SUCCESS; more = names.GetNext(name)) {
        if (WildcardMatch(name, argument)) list.Insert(name);
    }
    return ERROR_SUCCESS;
}

DWORD CNuke::ListProcessesByName(TSet& list, char* argument) {
    if (!argument) return ERROR_INVALID_DATA;
    if (RefusedNamePattern(*this, "ListProcessesByName", argument)) return ERROR_SUCCESS;
    platform::SnapshotHandle snapshot(os, os.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return os.GetLastError();

    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = os.Process32First(snapshot.get(), &entry); more;
         more = os.Process32Next(snapshot.get(), &entry)) {
        entry.szExeFile[MAX_PATH - 1] = '\0';
        const char* name = os.PathFindFileNameA(entry.szExeFile);
        if (!name || !WildcardMatch(name, argument)) continue;
        // Ending one of the system's own processes stops the machine.
        if (!handlingIgnoreEntry && guard::IsSystemProcess(name)) {
            ++refused;
            TraceWrite("", -1, 0, "ListProcessesByName: refusing '%s': it is a process of the system\n", name);
            continue;
        }
        list.Insert(name);
    }
    return ERROR_SUCCESS;
}
