#include "actions/run_undo.h"
#include "actions/run_backup.h"

#include <shlobj.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "guard/own_files.h"
#include "guard/path_guard.h"
#include "guard/run_folder.h"
#include "platform/handles.h"
#include "platform/platform.h"
#include "platform/windows_version.h"
#include "platform/wide_text.h"
#include "profile/engine.h"
#include "profile/user_hives.h"
#include "trace/trace.h"

namespace {

const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingRenames[] = L"PendingFileRenameOperations";




// The lines of a UTF-16 file with its byte-order mark; false when it cannot
// be read.
bool ReadLines(platform::Platform& os, const std::string& path, std::vector<std::wstring>& lines) {
    lines.clear();
    std::FILE* file = os.OpenSharedStream(path.c_str(), "rb");
    if (!file) return false;
    std::string bytes;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.append(buffer, n);
    std::fclose(file);
    if (bytes.size() < 2 || bytes[0] != '\xFF' || bytes[1] != '\xFE') return false;
    std::wstring text((bytes.size() - 2) / 2, L'\0');
    std::memcpy(&text[0], bytes.data() + 2, text.size() * 2);
    size_t from = 0;
    while (from < text.size()) {
        size_t end = text.find(L"\r\n", from);
        if (end == std::wstring::npos) end = text.size();
        lines.push_back(text.substr(from, end - from));
        from = end + 2;
    }
    return true;
}

// The newest backup in folder that has not been taken back; empty if none.
std::string NewestBackup(platform::Platform& os, const std::string& folder) {
    WIN32_FIND_DATAA data = {};
    platform::FindHandle find(os, os.FindFirstFileA((folder + "\\" + guard::kBackupPrefix + "*.reg").c_str(), &data));
    if (!find) return std::string();
    std::string newest;
    FILETIME newestTime = {};
    do {
        const std::string name = data.cFileName;
        // "*.reg" also matches longer extensions in short names: only ".reg".
        if (name.size() < 4 || _stricmp(name.c_str() + name.size() - 4, ".reg") != 0) continue;
        if (newest.empty() || ::CompareFileTime(&data.ftLastWriteTime, &newestTime) > 0 ||
            (::CompareFileTime(&data.ftLastWriteTime, &newestTime) == 0 && name > newest)) {
            newest = name;
            newestTime = data.ftLastWriteTime;
        }
    } while (os.FindNextFileA(find.get(), &data));
    return newest;
}

// reg.exe of the system's own width: from a 32-bit program on 64-bit
// Windows the 64-bit one, which puts a Wow6432Node key into the 32-bit view.
DWORD ImportWithReg(platform::Platform& os, bool wow64, const std::string& backup) {
    char windows[MAX_PATH] = {};
    const UINT length = os.GetWindowsDirectoryA(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return ERROR_PATH_NOT_FOUND;
    const std::string reg = std::string(windows) + (wow64 ? "\\Sysnative\\reg.exe" : "\\System32\\reg.exe");
    std::wstring command = platform::WideText(os, "\"" + reg + "\" import \"" + backup + "\"");
    command.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info = {};
    if (!os.CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                           &info)) {
        return os.GetLastError();
    }
    platform::ObjectHandle process(os, info.hProcess), thread(os, info.hThread);
    if (os.WaitForSingleObject(process.get(), 300000) != WAIT_OBJECT_0) return WAIT_TIMEOUT;
    DWORD code = 0;
    if (!os.GetExitCodeProcess(process.get(), &code)) return os.GetLastError();
    return code;
}

// Takes the recorded paths out of the pending renames, every other pair
// kept as it was; the value is written back once. Returns how many were
// taken out.
size_t TakeOutOfPendingRenames(platform::Platform& os, const std::set<std::wstring>& recorded) {
    platform::RegKey key(os);
    if (os.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY,
                         key.put()) != ERROR_SUCCESS) {
        return 0;
    }
    DWORD type = 0, size = 0;
    if (os.RegQueryValueExW(key.get(), kPendingRenames, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ) {
        return 0;
    }
    std::vector<wchar_t> value(size / sizeof(wchar_t) + 2, L'\0');
    if (os.RegQueryValueExW(key.get(), kPendingRenames, nullptr, &type, reinterpret_cast<BYTE*>(value.data()),
                            &size) != ERROR_SUCCESS) {
        return 0;
    }
    // The strings as they stand, empty ones (a deletion's target) included.
    std::vector<std::wstring> strings;
    const size_t count = size / sizeof(wchar_t);
    for (size_t at = 0; at < count;) {
        const std::wstring text(value.data() + at);
        if (text.empty() && at + 1 >= count) break;  // the list's closing null
        strings.push_back(text);
        at += text.size() + 1;
    }
    std::vector<wchar_t> kept;
    size_t removed = 0;
    for (size_t i = 0; i < strings.size(); i += 2) {
        const std::wstring& source = strings[i];
        const std::wstring target = i + 1 < strings.size() ? strings[i + 1] : std::wstring();
        std::wstring path = source.compare(0, 4, L"\\??\\") == 0 ? source.substr(4) : source;
        if (target.empty() && recorded.count(platform::UpperWide(path))) {
            ++removed;
            continue;
        }
        kept.insert(kept.end(), source.begin(), source.end());
        kept.push_back(L'\0');
        if (i + 1 < strings.size()) {
            kept.insert(kept.end(), target.begin(), target.end());
            kept.push_back(L'\0');
        }
    }
    if (removed == 0) return 0;
    if (kept.empty()) {
        os.RegDeleteValueW(key.get(), kPendingRenames);
    } else {
        kept.push_back(L'\0');
        os.RegSetValueExW(key.get(), kPendingRenames, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                          static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
    }
    return removed;
}

// The noted keys of users' registries the run loaded itself, per SID (upper
// case): each key's header and value lines without their "; ", in the
// order the backup has them. noted gets the indexes of the lines taken.
std::map<std::string, std::vector<std::wstring>> LoadedHiveKeys(platform::Platform& os,
                                                                const std::vector<std::wstring>& lines,
                                                                std::set<size_t>& noted) {
    std::map<std::string, std::vector<std::wstring>> hives;
    const size_t keyLength = std::wcslen(kLoadedHiveKey);
    std::vector<std::wstring>* current = nullptr;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::wstring& line = lines[i];
        if (line.compare(0, keyLength, kLoadedHiveKey) == 0 && line.back() == L']') {
            std::wstring name = line.substr(keyLength);
            name = name.substr(0, name.find_first_of(L"\\]"));
            const size_t classes = name.size() > 8 ? name.size() - 8 : 0;
            if (classes > 0 && name.compare(classes, 8, L"_Classes") == 0) name.resize(classes);
            current = nullptr;
            // Only a SID's own characters: the name becomes part of a file's.
            if (name.compare(0, 4, L"S-1-") != 0 || name.find_first_not_of(L"S-0123456789") != std::wstring::npos) {
                continue;
            }
            current = &hives[platform::NarrowText(os, name)];
            current->push_back(std::wstring());
            current->push_back(line.substr(2));
            noted.insert(i);
        } else if (current && line.compare(0, 2, L"; ") == 0 && line.size() > 2 &&
                   (line[2] == L'"' || line[2] == L'@' || line.compare(2, 2, L"  ") == 0)) {
            current->push_back(line.substr(2));  // a value, or a wrapped line of one
            noted.insert(i);
        } else if (!line.empty()) {
            current = nullptr;
            if (line == kLoadedHiveNotes) noted.insert(i);
        }
    }
    return hives;
}

// Brings the noted keys of the users' registries back: each hive is loaded
// again where the user is not logged on (or used where Windows has it), the
// keys imported by reg.exe from a file in the run's own folder, checked,
// and the hive unloaded. Returns how many users' keys, or unloads, failed.
unsigned ImportLoadedHives(platform::Platform& os, bool wow64, const std::string& folder, const std::string& stamp,
                           const std::map<std::string, std::vector<std::wstring>>& noted) {
    std::set<std::string> sids;
    for (const auto& hive : noted) sids.insert(hive.first);
    // The file that carries the keys lies where only administrators can
    // make, hold or change a file: reg.exe imports it with full rights.
    std::string done;
    const std::string unsafe = guard::PrepareOwnFolder(os, folder, done);
    if (!unsafe.empty()) {
        for (const std::string& sid : sids) {
            TraceWrite("", -1, 0, "Undo: not restored: the registry data of '%s': the folder '%s' cannot be made "
                       "Clearway's own: %s\n",
                       sid.c_str(), folder.c_str(), unsafe.c_str());
        }
        return static_cast<unsigned>(sids.size());
    }
    UserHives hives(os);
    hives.Load(std::string(), &sids);  // traces what it loads and what it cannot
    unsigned failed = 0;
    std::set<std::string> reached;
    for (const UserHive& missed : hives.Missed()) {
        reached.insert(missed.sid);
        TraceWrite("", -1, 0, "Undo: not restored: the registry data of '%s': its registry could not be loaded\n",
                   missed.sid.c_str());
        ++failed;
    }
    for (const UserHive& hive : hives.Hives()) {
        reached.insert(hive.sid);
        const auto keys = noted.find(hive.sid);
        if (keys == noted.end()) continue;
        const std::wstring asNoted = L"[HKEY_USERS\\Clearway " + platform::WideText(os, hive.sid);
        const std::wstring asNow = L"[HKEY_USERS\\" + platform::WideText(os, hive.mount);
        std::wstring text = L"\xFEFFWindows Registry Editor Version 5.00\r\n";
        std::vector<std::wstring> imported;  // below HKEY_USERS
        bool classesMissing = false, skipping = false;
        for (const std::wstring& line : keys->second) {
            if (line.compare(0, asNoted.size(), asNoted) == 0) {
                // The classes of a user whose classes cannot be reached now
                // cannot come back.
                skipping = line.compare(asNoted.size(), 8, L"_Classes") == 0 && !hive.classes;
                classesMissing = classesMissing || skipping;
                if (skipping) continue;
                const std::wstring header = asNow + line.substr(asNoted.size());
                text += header + L"\r\n";
                imported.push_back(header.substr(12, header.size() - 13));  // within "[HKEY_USERS\" and "]"
            } else if (!skipping) {
                text += line + L"\r\n";
            }
        }
        if (classesMissing) {
            TraceWrite("", -1, 0, "Undo: not restored: the classes of '%s': the user's classes registry cannot be "
                       "reached\n",
                       hive.sid.c_str());
            ++failed;
        }
        if (imported.empty()) continue;
        const std::string file = folder + "\\" + guard::UserRegistryName(stamp, hive.sid);
        std::string why;
        os.DeleteFileA(file.c_str());  // an undo's own that a crash left
        {
            platform::FileHandle out(os, guard::OpenOwnHandle(os, file, true, why, true));
            const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
            DWORD written = 0;
            if (out && (!os.WriteFile(out.get(), text.data(), bytes, &written, nullptr) || written != bytes)) {
                why = "it cannot be written";
            }
        }
        if (why.empty()) {
            const DWORD rc = ImportWithReg(os, wow64, file);
            if (rc != ERROR_SUCCESS) why = "reg import failed with " + std::to_string(rc);
        }
        if (os.GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES) os.DeleteFileA(file.c_str());
        // reg.exe may answer 0 for a key it could not write: each is asked.
        for (const std::wstring& key : imported) {
            platform::RegKey back(os);
            if (why.empty() &&
                os.RegOpenKeyExW(HKEY_USERS, key.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, back.put()) != ERROR_SUCCESS) {
                why = "the key 'HKEY_USERS\\" + platform::NarrowText(os, key) + "' is not there after the import";
            }
        }
        if (!why.empty()) {
            TraceWrite("", -1, 0, "Undo: the registry data the run deleted for '%s' is not restored: '%s': %s\n",
                       hive.sid.c_str(), file.c_str(), why.c_str());
            ++failed;
            continue;
        }
        TraceWrite("", -1, 0, "Undo: the registry data the run deleted for '%s' is back in the user's registry "
                   "(%u keys; %s)\n",
                   hive.sid.c_str(), static_cast<unsigned>(imported.size()),
                   hive.loadedHere ? "loaded from the profile for the undo" : "the user is logged on");
    }
    for (const std::string& sid : sids) {
        if (reached.count(sid)) continue;
        // A profile Windows no longer records, or one without a folder.
        TraceWrite("", -1, 0, "Undo: not restored: the registry data of '%s': Windows records no profile for it\n",
                   sid.c_str());
        ++failed;
    }
    return failed + hives.UnloadAll();
}

}  // namespace

DWORD UndoNewestRun(platform::Platform& os, const std::string& givenFolder) {
    std::string folder = givenFolder;
    if (folder.empty()) {
        folder = guard::RunFolder(os);
    }
    const std::string name = NewestBackup(os, folder);
    if (name.empty()) {
        TraceWrite("", -1, 0, "Undo: no run to take back: no backup in '%s' that has not been undone\n",
                   folder.c_str());
        return kUndoNothing;
    }
    const std::string stamp = name.substr(std::strlen(guard::kBackupPrefix), name.size() - std::strlen(guard::kBackupPrefix) - 4);
    const std::string backup = folder + "\\" + name;
    const std::string record = folder + "\\" + guard::DeletionsName(stamp);
    // Imported with full rights: only files no other user could have put
    // there or changed (a folder an earlier version made let every user
    // create files in it).
    for (const std::string& path : {backup, record}) {
        bool missing = false;
        const std::string why = guard::OthersCanChange(os, platform::WideText(os, path), missing);
        if (!why.empty()) {
            TraceWrite("", -1, 0, "Undo: '%s' is not used, others can change it: %s; nothing was taken back\n",
                       path.c_str(), why.c_str());
            return kUndoNothing;
        }
    }
    TraceWrite("", -1, 0, "Undo: taking back the run of %s from '%s'\n", stamp.c_str(), backup.c_str());

    std::vector<std::wstring> lines;
    if (!ReadLines(os, backup, lines)) {
        TraceWrite("", -1, 0, "Undo: '%s' cannot be read; nothing was taken back\n", backup.c_str());
        return kUndoNothing;
    }
    // reg.exe ends a line at a lone line break too: what followed one would
    // be imported as keys of its own. The run writes none.
    for (const std::wstring& line : lines) {
        if (line.find_first_of(std::wstring(L"\r\n\0", 3)) != std::wstring::npos) {
            TraceWrite("", -1, 0, "Undo: '%s' holds a line break or a null inside a line, which Clearway does not "
                       "write; nothing was taken back\n",
                       backup.c_str());
            return ERROR_INVALID_DATA;
        }
    }
    bool services = false;
    std::set<size_t> noted;
    const auto loadedHives = LoadedHiveKeys(os, lines, noted);
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::wstring& line = lines[i];
        const std::wstring upper = platform::UpperWide(line);
        if (upper.compare(0, 26, L"[HKEY_LOCAL_MACHINE\\SYSTEM") == 0 && upper.find(L"\\SERVICES\\") != std::wstring::npos) {
            services = true;
        }
        if (line.compare(0, 2, L"; ") == 0 && !noted.count(i)) {
            TraceWrite("", -1, 0, "Undo: not restored: %s\n", platform::NarrowText(os, line.substr(2)).c_str());
        }
    }
    const DWORD imported = ImportWithReg(os, platform::IsWow64(os), backup);
    if (imported == 0) {
        TraceWrite("", -1, 0, "Undo: the registry data the run deleted is back, in both views\n");
    } else {
        TraceWrite("", -1, 0, "Undo: reg import of '%s' failed with %lu; the registry is not restored\n",
                   backup.c_str(), static_cast<unsigned long>(imported));
    }
    const unsigned hivesLeft =
        loadedHives.empty() ? 0 : ImportLoadedHives(os, platform::IsWow64(os), folder, stamp, loadedHives);

    // The deletions at the restart the run scheduled.
    std::set<std::wstring> recorded;
    std::vector<std::pair<std::wstring, std::wstring>> held;  // held, original; in the order they were moved
    std::vector<std::wstring> paths;
    if (ReadLines(os, record, paths)) {
        for (const std::wstring& path : paths) {
            const size_t bar = path.find(L'|');
            if (bar != std::wstring::npos) {
                held.emplace_back(path.substr(0, bar), path.substr(bar + 1));
            } else if (!path.empty()) {
                recorded.insert(platform::UpperWide(path));
            }
        }
    }
    const size_t takenOut = TakeOutOfPendingRenames(os, recorded);
    size_t gone = 0;
    for (const std::wstring& path : recorded) {
        if (os.GetFileAttributesA(platform::NarrowText(os, path).c_str()) == INVALID_FILE_ATTRIBUTES) ++gone;
    }
    // Trees the run held until the restart go back where they were, the
    // outermost first, each only into a folder that still resolves to
    // itself: a folder swapped for a link since would send them elsewhere.
    for (const auto& tree : held) {
        const std::string from = platform::NarrowText(os, tree.first);
        const std::string to = platform::NarrowText(os, tree.second);
        if (os.GetFileAttributesA(from.c_str()) == INVALID_FILE_ATTRIBUTES) continue;  // a restart took it
        std::string parent = to.substr(0, to.find_last_of('\\'));
        if (parent.size() == 2) parent += '\\';
        std::string resolved;
        const char* reason = guard::ResolveFinalPath(os, parent.c_str(), resolved);
        if (!reason && resolved != guard::UpperText(parent.c_str())) reason = "the folder it came from is a link now";
        if (!reason && !os.MoveFileExA(from.c_str(), to.c_str(), 0)) reason = "the move failed";
        if (reason) {
            TraceWrite("", -1, 0, "Undo: '%s' stays in '%s': %s\n", to.c_str(), from.c_str(), reason);
        } else {
            TraceWrite("", -1, 0, "Undo: '%s' is back in its place\n", to.c_str());
        }
    }
    TraceWrite("", -1, 0, "Undo: %u of the run's %u deletions at the restart taken back\n",
               static_cast<unsigned>(takenOut), static_cast<unsigned>(recorded.size()));
    if (gone > 0) {
        TraceWrite("", -1, 0, "Undo: %u of its files and folders are gone already: a restart deleted them\n",
                   static_cast<unsigned>(gone));
    }

    // Taken back: not again.
    for (const std::string& done : {backup, record}) {
        if (os.GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES) {
            os.MoveFileExA(done.c_str(), (done + ".undone").c_str(), 0);
        }
    }
    if (imported != 0) return imported;  // reg.exe's own code
    if (hivesLeft > 0) return kUndoIncomplete;
    if (gone > 0) return kUndoFilesGone;
    return services ? kUndoRestartNeeded : kUndoRestored;
}
