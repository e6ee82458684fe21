#include "lsputil/lsp_utility.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

const char kLspLibraryName[] = "instvelps_x64.dll";

namespace {

using InstallFunction = unsigned char (*)(const wchar_t* path);
using UnInstallFunction = unsigned char (*)();
using PrintAllFunction = unsigned char (*)(void* reserved);

const char kUsage[] = "install.exe usage: \n\ninstall.exe [install <lsp_dll_path>|uninstall|uninstall_all|print_all]\n\n";

// The path buffer handed to Install: 264 units, of which the conversion may
// fill 259 (the terminator included).
const int kInstallPathUnits = 264;
const int kInstallPathConverted = 259;

template <typename Function>
Function Resolve(HMODULE library, const char* name) {
    // Through the generic function pointer type: a cast between unrelated
    // function pointer types is what the compilers warn about.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(library, name)));
}

// A missing export is a failed call: the action's failure line, never a
// call through a null pointer.
bool Install(InstallFunction install, const char* path) {
    if (!install) return false;
    wchar_t wide[kInstallPathUnits] = {};
    // A path that does not fit is not cut short: the conversion fails and so
    // does the action.
    if (::MultiByteToWideChar(CP_ACP, 0, path, -1, wide, kInstallPathConverted) == 0) return false;
    return (install(wide) & 0xFF) != 0;
}

bool Call(UnInstallFunction function) { return function && (function() & 0xFF) != 0; }

bool PrintAll(PrintAllFunction function) { return function && (function(nullptr) & 0xFF) != 0; }

}  // namespace

bool LspLibraryBesideProgram(wchar_t* path, unsigned long size) {
    // The ANSI form would turn characters outside the code page into '?',
    // naming a folder that does not exist.
    wchar_t module[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    wchar_t* slash = std::wcsrchr(module, L'\\');
    if (!slash) return false;
    slash[1] = L'\0';
    const size_t folder = std::wcslen(module);
    const size_t name = std::strlen(kLspLibraryName);
    if (folder + name + 1 > size) return false;
    std::wcscpy(path, module);
    for (size_t i = 0; i <= name; ++i) path[folder + i] = static_cast<wchar_t>(kLspLibraryName[i]);  // ASCII
    return true;
}

int RunLspUtility(int argc, char** argv, const wchar_t* libraryPath) {
    HMODULE library = libraryPath ? ::LoadLibraryW(libraryPath) : nullptr;
    if (!library) {
        std::printf("install.dll must be placed in the current directory\n");
        return ERROR_MOD_NOT_FOUND;
    }
    const InstallFunction install = Resolve<InstallFunction>(library, "Install");
    const UnInstallFunction uninstall = Resolve<UnInstallFunction>(library, "UnInstall");
    const UnInstallFunction uninstallAll = Resolve<UnInstallFunction>(library, "UnInstallAll");
    const PrintAllFunction printAll = Resolve<PrintAllFunction>(library, "PrintAll");

    // The exit code says how it went: Clearway, which starts it, reads it.
    const char* action = argc >= 2 ? argv[1] : "";
    int result = 0;
    const char* failure = nullptr;
    if (argc == 3 && _stricmp(action, "install") == 0) {
        if (!Install(install, argv[2])) failure = "Install failed.\n";
    } else if (argc == 2 && _stricmp(action, "uninstall") == 0) {
        if (!Call(uninstall)) failure = "Uninstall failed.\n";
    } else if (argc == 2 && _stricmp(action, "uninstall_all") == 0) {
        if (!Call(uninstallAll)) failure = "Uninstall all failed.\n";
    } else if (argc == 2 && _stricmp(action, "print_all") == 0) {
        if (!PrintAll(printAll)) failure = "Print all failed.\n";
    } else {
        std::printf("%s", kUsage);
        result = ERROR_INVALID_PARAMETER;
    }
    if (failure) {
        std::printf("%s", failure);
        result = 1;
    }
    std::fflush(stdout);
    ::FreeLibrary(library);
    return result;
}
