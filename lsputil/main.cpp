#include <windows.h>

#include "lsputil/lsp_utility.h"

int main(int argc, char** argv) {
    // The library is loaded by its full path in this program's folder, and
    // the current folder leaves the search for what the library itself
    // loads: this program runs as administrator, and the current folder may
    // be anyone's.
    ::SetDllDirectoryA("");
    wchar_t library[MAX_PATH] = {};
    return RunLspUtility(argc, argv, LspLibraryBesideProgram(library, sizeof library / sizeof library[0]) ? library : nullptr);
}
