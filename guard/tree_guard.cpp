#include "guard/tree_guard.h"

#include <cstring>

#include "guard/own_files.h"
#include "guard/path_guard.h"
#include "platform/handles.h"
#include "platform/platform.h"
#include "platform/wide_text.h"

namespace guard {

namespace {

bool IsDotName(const wchar_t* name) { return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0; }

// The text of wide in the code page; false when it cannot be had exactly:
// a character the code page lacks, one Windows would replace by a best-fit
// look-alike, or a text that does not convert back to itself.
bool ExactText(platform::Platform& os, const wchar_t* wide, std::string& text) {
    text.clear();
    BOOL usedDefault = FALSE;
    char buffer[MAX_PATH * 2] = {};
    const int n = os.WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, buffer, sizeof buffer - 1, "?",
                                         &usedDefault);
    if (n <= 0) {
        // Too long for the buffer, or no conversion: shown by its length only.
        text = "?";
        return false;
    }
    buffer[sizeof buffer - 1] = '\0';
    text = buffer;
    if (usedDefault) return false;
    // The conversion back must give the stored name, character for
    // character: a code page whose table maps two characters to one byte
    // would otherwise pass.
    wchar_t back[MAX_PATH * 2] = {};
    const int m = os.MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, buffer, -1, back, MAX_PATH * 2 - 1);
    if (m <= 0 || std::wcscmp(back, wide) != 0) return false;
    // A stored name never holds these; a conversion that made one is not
    // the name.
    return std::strpbrk(buffer, "\\/:") == nullptr;
}

}  // namespace

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

const char* LeavesTree(platform::Platform& os, const std::string& path, const std::string& root) {
    if (path != root && !IsInside(path, root)) return "it lies outside the folder its entry names";
    const std::string real = Unredirected(os, path);
    if (!os.HasGetFinalPathNameByHandleA()) {
        // Without the final path, every folder on the way is asked.
        std::string final;
        if (const char* reason = ResolveFinalPath(os, path.c_str(), final)) return reason;
        if (final != UpperText(path.c_str())) return "it no longer resolves where it was listed (a folder on the way is a link now)";
        const DWORD attributes = os.GetFileAttributesA(real.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return "it is a link now";
        return nullptr;
    }
    // The object itself, never followed at its name: it must be no link,
    // and Windows' own final path of it, every folder on the way resolved,
    // must be the path as listed.
    platform::FileHandle object(os, os.CreateFileA(real.c_str(), FILE_READ_ATTRIBUTES,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                                   nullptr));
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!object || !os.GetFileInformationByHandle(object.get(), &information)) return "it cannot be opened now";
    if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return "it is a link now";
    char buffer[1024] = {};
    const DWORD n = os.GetFinalPathNameByHandleA(object.get(), buffer, sizeof buffer, 0);
    if (n == 0 || n >= sizeof buffer) return "it cannot be opened now";
    std::string final = UpperText(buffer);
    if (final.compare(0, 4, "\\\\?\\") == 0) final.erase(0, 4);
    if (final != UpperText(path.c_str()) && final != UpperText(real.c_str())) {
        return "it no longer resolves where it was listed (a folder on the way is a link now)";
    }
    return nullptr;
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
    platform::FileHandle file(os, os.CreateFileA(Unredirected(os, path).c_str(), FILE_READ_ATTRIBUTES,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                 OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION information = {};
    return file && os.GetFileInformationByHandle(file.get(), &information) && information.nNumberOfLinks > 1;
}

}  // namespace guard
