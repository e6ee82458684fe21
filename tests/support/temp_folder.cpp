#include "tests/support/temp_folder.h"

#include <windows.h>

namespace testing_support {

void RemoveTree(const std::string& path) {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL | (attributes & FILE_ATTRIBUTE_DIRECTORY));
    // A link is removed itself; what it points at is left alone.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAA data;
        HANDLE find = ::FindFirstFileA((path + "\\*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                std::string name = data.cFileName;
                if (name != "." && name != "..") RemoveTree(path + "\\" + name);
            } while (::FindNextFileA(find, &data));
            ::FindClose(find);
        }
        ::RemoveDirectoryA(path.c_str());
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        ::RemoveDirectoryA(path.c_str());
    } else {
        ::DeleteFileA(path.c_str());
    }
}

TempFolder::TempFolder(const std::string& name) : path_("C:\\clearway-work\\" + name) {
    ::CreateDirectoryA("C:\\clearway-work", nullptr);
    RemoveTree(path_);
    ::CreateDirectoryA(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() { RemoveTree(path_); }

}  // namespace testing_support
