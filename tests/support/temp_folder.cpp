#include "tests/support/temp_folder.h"

#include <windows.h>

namespace testing_support {

namespace {

// By the names as stored: the ANSI listing shows a name the code page cannot
// hold with look-alikes ("..\..\WINDOWS" for fullwidth dots and reverse
// solidi), and a removal that followed those would leave the folder.
void RemoveWideTree(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL | (attributes & FILE_ATTRIBUTE_DIRECTORY));
    // A link is removed itself; what it points at is left alone.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW data;
        HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = data.cFileName;
                if (name != L"." && name != L"..") RemoveWideTree(path + L"\\" + name);
            } while (::FindNextFileW(find, &data));
            ::FindClose(find);
        }
        ::RemoveDirectoryW(path.c_str());
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        ::RemoveDirectoryW(path.c_str());
    } else {
        ::DeleteFileW(path.c_str());
    }
}

}  // namespace

void RemoveTree(const std::string& path) {
    std::wstring wide(path.size() + 1, L'\0');
    const int n = ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    if (n <= 0) return;
    wide.resize(static_cast<size_t>(n - 1));
    RemoveWideTree(wide);
}

TempFolder::TempFolder(const std::string& name) : path_("C:\\clearway-work\\" + name) {
    ::CreateDirectoryA("C:\\clearway-work", nullptr);
    RemoveTree(path_);
    ::CreateDirectoryA(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() { RemoveTree(path_); }

}  // namespace testing_support
