// A stand-in for the maker's instvelps_x64.dll, for tests only (never
// shipped): the four exports with one-byte results, doing the least on the
// 64-bit Winsock catalogue that shows which one was called.
//
//   Install(path)  prints "Install <path>"; true when the path exists.
//   UnInstall()    deinstalls the layered entries and chains whose protocol
//   UnInstallAll() name holds "Velmoran"; prints "<name>: <n> removed".
//   PrintAll(x)    prints "PrintAll(<x>): <n> entries", then one line per
//                  entry: catalogue id, chain length, protocol name.
//
// With INSTVELPS_STAND_IN_FAIL=1 in the environment UnInstall, UnInstallAll
// and PrintAll report failure after doing their work. Built with
// STAND_IN_WITHOUT=<export> the library lacks that export.
#include <winsock2.h>
#include <windows.h>
#include <ws2spi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

#define STAND_IN_EXPORT extern "C" __declspec(dllexport)

namespace {

bool ForcedFailure() {
    const char* value = std::getenv("INSTVELPS_STAND_IN_FAIL");
    return value && std::strcmp(value, "1") == 0;
}

bool ReadCatalogue(std::vector<WSAPROTOCOL_INFOW>& entries) {
    DWORD size = 0;
    int error = 0;
    if (::WSCEnumProtocols(nullptr, nullptr, &size, &error) == SOCKET_ERROR && error != WSAENOBUFS) return false;
    entries.resize(size / sizeof(WSAPROTOCOL_INFOW) + 1);
    size = static_cast<DWORD>(entries.size() * sizeof(WSAPROTOCOL_INFOW));
    const int count = ::WSCEnumProtocols(nullptr, entries.data(), &size, &error);
    if (count == SOCKET_ERROR) return false;
    entries.resize(static_cast<size_t>(count));
    return true;
}

unsigned char RemoveMakerEntries(const char* name) {
    std::vector<WSAPROTOCOL_INFOW> entries;
    bool ok = ReadCatalogue(entries);
    int removed = 0;
    for (WSAPROTOCOL_INFOW& entry : entries) {
        if (entry.ProtocolChain.ChainLen == BASE_PROTOCOL || !std::wcsstr(entry.szProtocol, L"Velmoran")) continue;
        int error = 0;
        if (::WSCDeinstallProvider(&entry.ProviderId, &error) == 0) {
            ++removed;
        } else {
            ok = false;
        }
    }
    std::printf("%s: %d removed\n", name, removed);
    std::fflush(stdout);
    return ok && !ForcedFailure();
}

}  // namespace

#if !defined(STAND_IN_WITHOUT_Install)
STAND_IN_EXPORT unsigned char Install(const wchar_t* path) {
    std::printf("Install %ls\n", path);
    std::fflush(stdout);
    return ::GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}
#endif

#if !defined(STAND_IN_WITHOUT_UnInstall)
STAND_IN_EXPORT unsigned char UnInstall() { return RemoveMakerEntries("UnInstall"); }
#endif

#if !defined(STAND_IN_WITHOUT_UnInstallAll)
STAND_IN_EXPORT unsigned char UnInstallAll() { return RemoveMakerEntries("UnInstallAll"); }
#endif

#if !defined(STAND_IN_WITHOUT_PrintAll)
STAND_IN_EXPORT unsigned char PrintAll(void* reserved) {
    std::vector<WSAPROTOCOL_INFOW> entries;
    const bool ok = ReadCatalogue(entries);
    std::printf("PrintAll(%llu): %d entries\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(reserved)),
                static_cast<int>(entries.size()));
    for (const WSAPROTOCOL_INFOW& entry : entries) {
        std::printf("%lu\t%d\t%ls\n", static_cast<unsigned long>(entry.dwCatalogEntryId), entry.ProtocolChain.ChainLen,
                    entry.szProtocol);
    }
    std::fflush(stdout);
    return ok && !ForcedFailure();
}
#endif
