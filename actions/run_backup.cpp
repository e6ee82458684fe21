#include "actions/run_backup.h"

#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "guard/own_files.h"
#include "platform/platform.h"
#include "platform/windows_version.h"
#include "platform/registry_names.h"
#include "platform/wide_text.h"
#include "profile/engine.h"
#include "trace/trace.h"

namespace {

const wchar_t kRegHeader[] = L"\xFEFFWindows Registry Editor Version 5.00\r\n";




void AppendQuoted(std::wstring& text, const wchar_t* begin, size_t length) {
    text += L'"';
    for (size_t i = 0; i < length; ++i) {
        if (begin[i] == L'\\' || begin[i] == L'"') text += L'\\';
        text += begin[i];
    }
    text += L'"';
}

// A string value that reads back the same when written in quotes: one
// terminating null and no other, and no line break.
bool QuotesCleanly(const BYTE* data, DWORD size) {
    if (size < sizeof(wchar_t) || size % sizeof(wchar_t) != 0) return false;
    const size_t count = size / sizeof(wchar_t);
    std::vector<wchar_t> text(count);
    std::memcpy(text.data(), data, size);
    if (text[count - 1] != L'\0') return false;
    for (size_t i = 0; i + 1 < count; ++i) {
        if (text[i] == L'\0' || text[i] == L'\r' || text[i] == L'\n') return false;
    }
    return true;
}

// A name with a line break, a null or another control character: in a
// .reg file a line break ends the line, and what follows it would be read
// as keys and values of its own. Another user can give a key of theirs
// such a name.
bool HoldsControl(const std::wstring& name) {
    for (wchar_t c : name) {
        if (c < 0x20) return true;
    }
    return false;
}

// The name on one line, its control characters written as \xNN.
std::wstring Escaped(const std::wstring& name) {
    std::wstring out;
    for (wchar_t c : name) {
        if (c < 0x20) {
            wchar_t code[8];
            std::swprintf(code, 8, L"\\x%02x", static_cast<unsigned>(c));
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

// A note in place of a key or value that no .reg line can hold.
std::wstring NotBackedUp(const wchar_t* what, const std::wstring& name) {
    TraceWrite("", -1, 0, "RunBackup: the %ls '%ls' is not in the backup: its name holds a line break or another "
               "control character\n",
               what, Escaped(name).c_str());
    return std::wstring(L"\r\n; not in the backup: the ") + what + L" '" + Escaped(name) +
           L"' (its name holds a line break or another control character)\r\n";
}

// The value's line, or a note when its name cannot stand in one.
std::wstring ValueLineOrNote(const std::wstring& key, const std::wstring& name, DWORD type, const BYTE* data,
                             DWORD size) {
    if (HoldsControl(name)) return NotBackedUp(L"value", key + L" : " + name);
    return RegValueLine(name, type, data, size);
}

}  // namespace

const wchar_t kLoadedHiveNotes[] =
    L"; A user's registry that was not loaded when Clearway ran (the user was not logged on). Clearway --undo "
    L"loads it again for these lines; to take them back by hand: reg load \"HKU\\Clearway <SID>\" <the user's "
    L"NTUSER.DAT>, import these lines without their \"; \", then reg unload \"HKU\\Clearway <SID>\".";
const wchar_t kLoadedHiveKey[] = L"; [HKEY_USERS\\Clearway ";

std::wstring RegValueLine(const std::wstring& name, DWORD type, const BYTE* data, DWORD size) {
    std::wstring line;
    if (name.empty()) {
        line = L"@";
    } else {
        AppendQuoted(line, name.c_str(), name.size());
    }
    line += L'=';
    if (type == REG_SZ && QuotesCleanly(data, size)) {
        std::vector<wchar_t> text(size / sizeof(wchar_t));
        std::memcpy(text.data(), data, size);
        AppendQuoted(line, text.data(), text.size() - 1);
        return line + L"\r\n";
    }
    if (type == REG_DWORD && size == 4) {
        DWORD value = 0;
        std::memcpy(&value, data, 4);
        wchar_t digits[16];
        std::swprintf(digits, 16, L"dword:%08lx", static_cast<unsigned long>(value));
        return line + digits + L"\r\n";
    }
    wchar_t prefix[16];
    if (type == REG_BINARY) {
        std::wcscpy(prefix, L"hex:");
    } else {
        std::swprintf(prefix, 16, L"hex(%lx):", static_cast<unsigned long>(type));
    }
    line += prefix;
    // Lines wrapped as regedit wraps them, with a backslash before the break.
    size_t column = line.size();
    static const wchar_t kDigits[] = L"0123456789abcdef";
    for (DWORD i = 0; i < size; ++i) {
        line += kDigits[data[i] >> 4];
        line += kDigits[data[i] & 15];
        column += 2;
        if (i + 1 < size) {
            line += L',';
            ++column;
            if (column > 76) {
                line += L"\\\r\n  ";
                column = 2;
            }
        }
    }
    return line + L"\r\n";
}

std::wstring RegFileKeyName(const std::wstring& fullName) {
    static const struct {
        const wchar_t* kernel;
        const wchar_t* file;
    } kRoots[] = {{L"\\REGISTRY\\MACHINE", L"HKEY_LOCAL_MACHINE"}, {L"\\REGISTRY\\USER", L"HKEY_USERS"}};
    for (const auto& root : kRoots) {
        const size_t length = std::wcslen(root.kernel);
        if (fullName.size() >= length && _wcsnicmp(fullName.c_str(), root.kernel, length) == 0 &&
            (fullName.size() == length || fullName[length] == L'\\')) {
            return root.file + fullName.substr(length);
        }
    }
    return std::wstring();
}

RunBackup::RunBackup(platform::Platform& registry, platform::Platform& files, bool writing)
    : registry_(registry), files_(files), writing_(writing), backup_(files), record_(files) {
    wow64_ = platform::IsWow64(registry_);
}

bool RunBackup::AsksName(REGSAM view) const {
    // Only the 32-bit view of 64-bit Windows has names of its own
    // (Wow6432Node): Windows is asked for them. Elsewhere the name as spelled
    // is where an import puts the key back.
    return view == KEY_WOW64_32KEY || (view == 0 && wow64_);
}

RunBackup::~RunBackup() = default;

void RunBackup::Fail(const std::string& why) {
    if (!failed_) {
        TraceWrite("", -1, 0, "RunBackup: no backup of this run can be written: %s; the removal goes on without it\n",
                   why.c_str());
    }
    failed_ = true;
    backup_.reset();
    record_.reset();
}

bool RunBackup::Open() {
    if (failed_) return false;
    if (opened_) return writing_;
    opened_ = true;
    if (folder_.empty()) {
        folder_ = guard::RunFolder(files_);
    }
    std::string done;
    if (writing_) {
        const std::string why = guard::PrepareOwnFolder(files_, folder_, done);
        if (!why.empty()) {
            Fail("the folder '" + folder_ + "': " + why);
            return false;
        }
    }
    SYSTEMTIME now = {};
    files_.GetLocalTime(&now);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u%02u%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    // A second run in the same second gets a name of its own: no backup is
    // ever written over.
    for (int copy = 1; copy < 100; ++copy) {
        stamp_ = stamp;
        if (copy > 1) stamp_ += " (" + std::to_string(copy) + ")";
        backupPath_ = folder_ + "\\" + guard::BackupName(stamp_);
        recordPath_ = folder_ + "\\" + guard::DeletionsName(stamp_);
        if (files_.GetFileAttributesA(backupPath_.c_str()) == INVALID_FILE_ATTRIBUTES &&
            files_.GetFileAttributesA(recordPath_.c_str()) == INVALID_FILE_ATTRIBUTES) {
            break;
        }
    }
    if (!writing_) return false;
    std::string why;
    backup_.reset(guard::OpenOwnHandle(files_, backupPath_, false, why, true));
    if (backup_) record_.reset(guard::OpenOwnHandle(files_, recordPath_, false, why, true));
    if (!backup_ || !record_) {
        Fail(why);
        return false;
    }
    TraceWrite("", -1, 0, "RunBackup: what this run deletes is kept in '%s', the paths it schedules in '%s'\n",
               backupPath_.c_str(), recordPath_.c_str());
    Write(false, kRegHeader);
    Write(true, L"\xFEFF");
    return !failed_;
}

namespace {

// A key of a user's hive that the run loaded (the user was not logged on)
// cannot be imported while the hive is not loaded, and one key that cannot
// be written fails the whole import: such keys go into the backup as notes,
// with how to take them back by hand.
std::wstring AsNotesWhenNotLoaded(const std::wstring& text) {
    if (text.find(kLoadedHiveKey + 2) == std::wstring::npos) return text;
    std::wstring out = std::wstring(L"\r\n") + kLoadedHiveNotes;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(L"\r\n", at);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring line = text.substr(at, end - at);
        out += L"\r\n";
        if (!line.empty()) out += L"; " + line;
        at = end + 2;
    }
    return out;
}

}  // namespace

void RunBackup::Write(bool record, const std::wstring& original) {
    if (!Open()) return;
    const std::wstring text = record ? original : AsNotesWhenNotLoaded(original);
    HANDLE file = (record ? record_ : backup_).get();
    const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    DWORD written = 0;
    // One write per item: a run that ends half-way leaves everything it
    // deleted in the file.
    if (!files_.WriteFile(file, text.data(), bytes, &written, nullptr) || written != bytes) {
        Fail("'" + (record ? recordPath_ : backupPath_) + "' cannot be written");
    }
}

bool RunBackup::AppendKey(HKEY key, const std::wstring& fallbackName, std::wstring& text, bool subtree, bool askName,
                          unsigned& keys, unsigned& values) {
    std::wstring full;
    std::wstring name = askName && registry_.RegKeyFullName(key, full) ? RegFileKeyName(full) : std::wstring();
    if (name.empty()) name = fallbackName;
    if (HoldsControl(name)) {
        text += NotBackedUp(L"key", name);  // with its values and subkeys
        return true;
    }
    std::wstring block = L"\r\n[" + name + L"]\r\n";
    ++keys;
    // Most keys are empty by the time they go (their values and subkeys went
    // first): one question instead of two listings.
    DWORD subkeyCount = 1, valueCount = 1;
    registry_.RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeyCount, nullptr, nullptr, &valueCount, nullptr,
                               nullptr, nullptr, nullptr);
    std::vector<BYTE> data(4096);
    if (valueCount > 0) {
        std::vector<wchar_t> valueName(16384);
        for (DWORD index = 0;;) {
            DWORD nameSize = static_cast<DWORD>(valueName.size()), type = 0, size = static_cast<DWORD>(data.size());
            const LSTATUS rc = registry_.RegEnumValueW(key, index, valueName.data(), &nameSize, nullptr, &type,
                                                       data.data(), &size);
            if (rc == ERROR_MORE_DATA && size > data.size()) {
                data.resize(size);
                continue;  // the same index with room for its data
            }
            if (rc != ERROR_SUCCESS) break;
            block += ValueLineOrNote(name, std::wstring(valueName.data(), nameSize), type, data.data(), size);
            ++values;
            ++index;
        }
    }
    text += block;
    if (!subtree || subkeyCount == 0) return true;
    std::vector<std::wstring> subkeys;
    std::vector<wchar_t> subkeyName(256);
    for (DWORD index = 0;; ++index) {
        DWORD size = static_cast<DWORD>(subkeyName.size());
        if (registry_.RegEnumKeyExW(key, index, subkeyName.data(), &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        subkeys.emplace_back(subkeyName.data(), size);
    }
    for (const std::wstring& subkey : subkeys) {
        platform::RegKey child(registry_);
        if (registry_.RegOpenKeyExW(key, subkey.c_str(), 0, KEY_READ, child.put()) != ERROR_SUCCESS) {
            TraceWrite("", -1, 0, "RunBackup: a subkey of '%ls' cannot be read for the backup\n", name.c_str());
            continue;
        }
        AppendKey(child.get(), name + L"\\" + subkey, text, true, askName, keys, values);
    }
    return true;
}

void RunBackup::Key(HKEY root, const std::string& subkey, REGSAM view) {
    const wchar_t* rootName = platform::RootKeyNameW(root);
    if (!rootName || failed_) return;
    openKeys_.clear();  // the key is about to go: no value of it comes after
    const std::wstring path = platform::WideText(registry_, subkey);
    platform::RegKey key(registry_);
    const LSTATUS rc = registry_.RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put());
    if (rc == ERROR_FILE_NOT_FOUND) return;
    if (rc != ERROR_SUCCESS) {
        TraceWrite("", -1, 0, "RunBackup: '%ls\\%s' cannot be read for the backup (error %ld)\n", rootName,
                   subkey.c_str(), static_cast<long>(rc));
        return;
    }
    std::wstring text;
    unsigned keys = 0, values = 0;
    AppendKey(key.get(), std::wstring(rootName) + L"\\" + path, text, true, AsksName(view), keys, values);
    keys_ += keys;
    values_ += values;
    Write(false, text);
}

RunBackup::OpenKey& RunBackup::KeyFor(HKEY root, const std::string& subkey, REGSAM view) {
    OpenKey& open = openKeys_[view];
    if (open.root == root && open.subkey == subkey) return open;
    open = OpenKey();
    open.root = root;
    open.subkey = subkey;
    const std::wstring path = platform::WideText(registry_, subkey);
    platform::RegKey key(registry_);
    if (registry_.RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) {
        return open;  // remembered as missing
    }
    open.exists = true;
    // The key's values in one block, read and written once: the run
    // deletes the listed ones one after the other.
    std::wstring full;
    std::wstring name =
        AsksName(view) && registry_.RegKeyFullName(key.get(), full) ? RegFileKeyName(full) : std::wstring();
    if (name.empty()) name = std::wstring(platform::RootKeyNameW(root)) + L"\\" + path;
    const bool noted = HoldsControl(name);
    open.block = noted ? NotBackedUp(L"key", name) : L"\r\n[" + name + L"]\r\n";
    std::vector<wchar_t> valueName(16384);
    std::vector<BYTE> data(4096);
    for (DWORD index = 0;;) {
        DWORD nameSize = static_cast<DWORD>(valueName.size()), type = 0, size = static_cast<DWORD>(data.size());
        const LSTATUS rc =
            registry_.RegEnumValueW(key.get(), index, valueName.data(), &nameSize, nullptr, &type, data.data(), &size);
        if (rc == ERROR_MORE_DATA && size > data.size()) {
            data.resize(size);
            continue;  // the same index with room for its data
        }
        if (rc != ERROR_SUCCESS) break;
        const std::wstring own(valueName.data(), nameSize);
        open.valueNames.insert(platform::UpperWide(own));
        if (!noted) open.block += ValueLineOrNote(name, own, type, data.data(), size);
        ++index;
    }
    return open;
}

void RunBackup::Value(HKEY root, const std::string& subkey, const std::string& name, REGSAM view) {
    if (!platform::RootKeyNameW(root) || failed_) return;
    OpenKey& open = KeyFor(root, subkey, view);
    if (!open.exists || !open.valueNames.count(platform::UpperWide(platform::WideText(registry_, name)))) return;
    // Before the key's first value goes, all of them go into the backup,
    // each under its own name and letters (the lists hold upper case).
    if (!open.written) {
        Write(false, open.block);
        open.written = true;
    }
    ++values_;
}

void RunBackup::Note(const std::string& text) {
    if (failed_) return;
    Write(false, L"\r\n; " + platform::WideText(files_, text) + L"\r\n");
}

void RunBackup::ScheduledFile(const std::string& path) {
    if (failed_) return;
    Write(true, platform::WideText(files_, path) + L"\r\n");
}

void RunBackup::ScheduledFiles(const std::vector<std::string>& paths) {
    if (failed_ || paths.empty()) return;
    std::wstring lines;
    for (const std::string& path : paths) lines += platform::WideText(files_, path) + L"\r\n";
    Write(true, lines);
}

void RunBackup::HeldTree(const std::string& held, const std::string& original) {
    if (failed_) return;
    Write(true, platform::WideText(files_, held) + L"|" + platform::WideText(files_, original) + L"\r\n");
}
