#include "guard/tree_guard.h"

#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

#include "guard/own_files.h"
#include "guard/path_guard.h"
#include "platform/handles.h"
#include "platform/platform.h"
#include "platform/wide_text.h"

namespace guard {

namespace {

bool IsDotName(const wchar_t* name) { return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0; }

// A file name as the code page holds it; false when it cannot be had
// exactly, and for a conversion that made a path character (a stored name
// never holds one).
bool ExactText(platform::Platform& os, const wchar_t* wide, std::string& text) {
    return ExactCodePageText(os, wide, text) && std::strpbrk(text.c_str(), "\\/:") == nullptr;
}

}  // namespace

// The text of wide in the code page; false when it cannot be had exactly:
// a character the code page lacks, one Windows would replace by a best-fit
// look-alike, or a text that does not convert back to itself.
bool ExactCodePageText(platform::Platform& os, const wchar_t* wide, std::string& text) {
    text.clear();
    BOOL usedDefault = FALSE;
    const int size = os.WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, nullptr, 0, "?", nullptr);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) + 1 : 1, '\0');
    const int n = size > 0 ? os.WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, buffer.data(), size, "?",
                                                    &usedDefault)
                           : 0;
    if (n <= 0) {
        // No conversion: shown by a mark only.
        text = "?";
        return false;
    }
    text = buffer.data();
    if (usedDefault) return false;
    // The conversion back must give the stored name, character for
    // character: a code page whose table maps two characters to one byte
    // would otherwise pass.
    const int m = os.MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, buffer.data(), -1, nullptr, 0);
    if (m <= 0) return false;
    std::vector<wchar_t> back(static_cast<size_t>(m) + 1, L'\0');
    return os.MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, buffer.data(), -1, back.data(), m) > 0 &&
           std::wcscmp(back.data(), wide) == 0;
}

bool ListNames(platform::Platform& os, const std::string& pattern, std::vector<ListedName>& names) {
    names.clear();
    // The pattern is the run's own text in the code page (built from
    // faithful names), so it widens exactly.
    std::wstring wide(pattern.size() + 1, L'\0');
    const int n = os.MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, pattern.c_str(), -1, &wide[0],
                                         static_cast<int>(wide.size()));
    if (n <= 0) {
        os.SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    wide.resize(static_cast<size_t>(n - 1));
    WIN32_FIND_DATAW data;
    platform::FindHandle find(os, os.FindFirstFileW(wide.c_str(), &data));
    if (!find) return false;
    do {
        data.cFileName[MAX_PATH - 1] = L'\0';
        if (IsDotName(data.cFileName)) continue;
        ListedName listed;
        listed.attributes = data.dwFileAttributes;
        listed.faithful = ExactText(os, data.cFileName, listed.name);
        names.push_back(listed);
    } while (os.FindNextFileW(find.get(), &data));
    return true;
}

namespace {

const char kLinkNow[] = "it is a link now";
const char kCannotOpen[] = "it cannot be opened now";
const char kElsewhere[] = "it no longer resolves where it was listed (a folder on the way is a link now)";

// Why the open folder is not the one path (as listed) and real (the same,
// as a 32-bit program must name it) name: Windows' own final path of it,
// every folder on the way resolved, must be one of them.
const char* ResolvesElsewhere(platform::Platform& os, HANDLE object, const std::string& path, const std::string& real) {
    char buffer[1024] = {};
    const DWORD n = os.GetFinalPathNameByHandleA(object, buffer, sizeof buffer, 0);
    if (n == 0 || n >= sizeof buffer) return kCannotOpen;
    std::string final = UpperText(buffer);
    if (final.compare(0, 4, "\\\\?\\") == 0) final.erase(0, 4);
    if (final != UpperText(path.c_str()) && final != UpperText(real.c_str())) return kElsewhere;
    return nullptr;
}

const char* OutsideRoot(const std::string& path, const std::string& root) {
    if (path != root && !IsInside(path, root)) return "it lies outside the folder its entry names";
    return nullptr;
}

}  // namespace

const char* LeavesTree(platform::Platform& os, const std::string& path, const std::string& root) {
    if (const char* outside = OutsideRoot(path, root)) return outside;
    const std::string real = Unredirected(os, path);
    if (!os.HasGetFinalPathNameByHandleA()) {
        // Without the final path, every folder on the way is asked.
        std::string final;
        if (const char* reason = ResolveFinalPath(os, path.c_str(), final)) return reason;
        if (final != UpperText(path.c_str())) return kElsewhere;
        const DWORD attributes = os.GetFileAttributesA(real.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return kLinkNow;
        return nullptr;
    }
    // The object itself, never followed at its name: it must be no link,
    // and it must resolve where it was listed.
    platform::FileHandle object(os, os.CreateFileA(real.c_str(), FILE_READ_ATTRIBUTES,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                                   nullptr));
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!object || !os.GetFileInformationByHandle(object.get(), &information)) return kCannotOpen;
    if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return kLinkNow;
    return ResolvesElsewhere(os, object.get(), path, real);
}

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const DWORD kFolderFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

// Whoever may do one of these in a folder could have put a name there, or
// let others do it.
const ACCESS_MASK kAddRights = FILE_ADD_FILE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;

}  // namespace

WalkedFolder::WalkedFolder(platform::Platform& os, const std::string& path)
    : os_(os), path_(path), real_(Unredirected(os, path)), handle_(os) {
    // Without the by-handle reads (XP), every question goes by name.
    byHandle_ = os.HasGetFileInformationByHandleEx() && os.HasGetFinalPathNameByHandleA();
    if (byHandle_) Open();
}

void WalkedFolder::Open() {
    // Listing, reading what it is and who may change it, from one open; a
    // folder that may not be listed is still looked at.
    const DWORD wanted[] = {FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL,
                            FILE_READ_ATTRIBUTES | READ_CONTROL, FILE_READ_ATTRIBUTES};
    for (DWORD access : wanted) {
        handle_.reset(os_.CreateFileA(real_.c_str(), access, kShareAll, nullptr, OPEN_EXISTING, kFolderFlags, nullptr));
        if (handle_) {
            access_ = access;
            return;
        }
        openError_ = os_.GetLastError();
        if (openError_ != ERROR_ACCESS_DENIED) return;
    }
}

const char* WalkedFolder::Leaves(const std::string& root) {
    if (!byHandle_) return LeavesTree(os_, path_, root);
    if (const char* outside = OutsideRoot(path_, root)) return outside;
    if (!handle_) return kCannotOpen;
    FILE_BASIC_INFO basic = {};
    if (!os_.GetFileInformationByHandleEx(handle_.get(), FileBasicInfo, &basic, sizeof basic)) return kCannotOpen;
    if (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return kLinkNow;
    return ResolvesElsewhere(os_, handle_.get(), path_, real_);
}

bool WalkedFolder::List(std::vector<ListedName>& names) {
    names.clear();
    if (!byHandle_) return ListNames(os_, real_ + "\\*", names);
    if (handle_ && !(access_ & FILE_LIST_DIRECTORY)) {
        // Asked again after the folder's permissions were opened: the new
        // open must be the object already looked at.
        platform::FileHandle again(os_, os_.CreateFileA(real_.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL,
                                                        kShareAll, nullptr, OPEN_EXISTING, kFolderFlags, nullptr));
        if (!again) return false;
        BY_HANDLE_FILE_INFORMATION before = {}, after = {};
        if (!os_.GetFileInformationByHandle(handle_.get(), &before) ||
            !os_.GetFileInformationByHandle(again.get(), &after) ||
            before.dwVolumeSerialNumber != after.dwVolumeSerialNumber || before.nFileIndexHigh != after.nFileIndexHigh ||
            before.nFileIndexLow != after.nFileIndexLow) {
            os_.SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
        handle_ = std::move(again);
        access_ = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL;
    }
    if (!handle_) {
        os_.SetLastError(openError_);
        return false;
    }
    // 64 KB at a time, aligned for the records' 64-bit fields.
    std::vector<LONGLONG> buffer(8192);
    const DWORD size = static_cast<DWORD>(buffer.size() * sizeof(LONGLONG));
    for (bool first = true;; first = false) {
        if (!os_.GetFileInformationByHandleEx(handle_.get(), first ? FileIdBothDirectoryRestartInfo : FileIdBothDirectoryInfo,
                                              buffer.data(), size)) {
            const DWORD error = os_.GetLastError();
            if (error == ERROR_NO_MORE_FILES) return true;
            os_.SetLastError(error);
            return false;
        }
        const BYTE* base = reinterpret_cast<const BYTE*>(buffer.data());
        for (DWORD at = 0;;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(base + at);
            const DWORD nameAt = at + static_cast<DWORD>(offsetof(FILE_ID_BOTH_DIR_INFO, FileName));
            if (nameAt > size || entry->FileNameLength > size - nameAt) break;  // never read past what was given
            const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (!name.empty() && name != L"." && name != L"..") {
                ListedName listed;
                listed.attributes = entry->FileAttributes;
                // A name holding a NUL is no name a path can give.
                listed.faithful = name.find(L'\0') == std::wstring::npos && ExactText(os_, name.c_str(), listed.name);
                names.push_back(listed);
            }
            if (entry->NextEntryOffset == 0 || entry->NextEntryOffset > size - at) break;
            at += entry->NextEntryOffset;
        }
    }
}

std::string WalkedFolder::OthersMayAdd(const TrustedAccounts& accounts) {
    if (byHandle_ && handle_ && (access_ & READ_CONTROL)) return OthersMayOn(os_, handle_.get(), kAddRights, accounts);
    bool missing = false;
    const std::string why = OthersMay(os_, platform::WideText(os_, real_), kAddRights, missing);
    return missing ? std::string("it cannot be examined") : why;
}

bool WalkedFolder::OwnedByTrustedInstaller() {
    if (byHandle_ && handle_ && (access_ & READ_CONTROL)) return guard::OwnedByTrustedInstaller(os_, handle_.get());
    return guard::OwnedByTrustedInstaller(os_, path_);
}

std::string OthersCanReplace(platform::Platform& os, const std::string& folder) {
    const std::string real = Unredirected(os, folder);
    const size_t slash = real.find_last_of('\\');
    if (slash == std::string::npos || real.size() <= 3) return std::string();
    const std::string parent = slash == 2 ? real.substr(0, 3) : real.substr(0, slash);
    bool missing = false;
    std::string why = OthersMay(os, platform::WideText(os, real), DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL, missing);
    if (!why.empty()) return "'" + folder + "': " + why;
    why = OthersMay(os, platform::WideText(os, parent), FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_ALL, missing);
    if (!why.empty()) return "'" + parent + "', which holds it: " + why;
    return std::string();
}

bool HasOtherNames(platform::Platform& os, const std::string& path) {
    platform::FileHandle file(os, os.CreateFileA(Unredirected(os, path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                                 OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return false;
    // The standard record holds the count alone; the full one also asks
    // for the volume, which costs many times more.
    if (os.HasGetFileInformationByHandleEx()) {
        FILE_STANDARD_INFO standard = {};
        return os.GetFileInformationByHandleEx(file.get(), FileStandardInfo, &standard, sizeof standard) &&
               standard.NumberOfLinks > 1;
    }
    BY_HANDLE_FILE_INFORMATION information = {};
    return os.GetFileInformationByHandle(file.get(), &information) && information.nNumberOfLinks > 1;
}

}  // namespace guard
