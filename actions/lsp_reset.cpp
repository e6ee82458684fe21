// The LSP reset: every layered provider and protocol chain goes from the
// Winsock catalogue, base providers stay. This 32-bit process reaches only
// the 32-bit catalogue; on 64-bit Windows the utility instvelps_x64 resets
// the 64-bit one first.
#include "actions/lsp_reset.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "guard/own_files.h"
#include "platform/handles.h"
#include "platform/platform.h"
#include "platform/wide_text.h"
#include "profile/engine.h"
#include "trace/trace.h"

ProtocolCatalog::ProtocolCatalog(platform::Platform& os) : os_(os) { Clear(); }

ProtocolCatalog::~ProtocolCatalog() { Release(); }

void ProtocolCatalog::Clear() {
    count_ = 0;
    buffer_ = nullptr;
    size_ = 0;
}

void ProtocolCatalog::Release() {
    delete[] buffer_;
    Clear();
}

bool ProtocolCatalog::Load() {
    Release();
    DWORD size = 0;
    int error = 0;
    const int first = os_.WSCEnumProtocols(nullptr, nullptr, &size, &error);
    if (first == SOCKET_ERROR && error != WSAENOBUFS) return false;

    buffer_ = new (std::nothrow) BYTE[size]();
    if (!buffer_) return false;
    size_ = size;
    const int count = os_.WSCEnumProtocols(nullptr, reinterpret_cast<LPWSAPROTOCOL_INFOW>(buffer_), &size, &error);
    if (count == SOCKET_ERROR || count < 0) {
        Release();
        return false;
    }
    // Never more records than the buffer holds, whatever the call said.
    const DWORD capacity = size_ / sizeof(WSAPROTOCOL_INFOW);
    count_ = static_cast<DWORD>(count) > capacity ? static_cast<int>(capacity) : count;
    return true;
}

int ProtocolCatalog::GetEntryCount() const { return count_; }

const WSAPROTOCOL_INFOW* ProtocolCatalog::GetEntry(int index) const {
    if (index < 0 || index >= count_) return nullptr;
    return reinterpret_cast<const WSAPROTOCOL_INFOW*>(buffer_ + static_cast<size_t>(index) * sizeof(WSAPROTOCOL_INFOW));
}

DWORD CNuke::ResetLspStack() {
    if (Is64BitWindows()) {
        TraceWrite("", -1, 0, "%s", "Running in 64bit environment, removing LSP from 64bit stack.\n");
        LaunchLspUtility();
    }

    // The first pass and up to four more while anything but base providers
    // is left; no pause between them.
    for (int retries = 4;; --retries) {
        int count = 0;
        int kept = 0;
        ProtocolCatalog catalog(os);
        if (catalog.Load()) {
            count = catalog.GetEntryCount();
            for (int i = 0; i < count; ++i) {
                const WSAPROTOCOL_INFOW* entry = catalog.GetEntry(i);
                if (entry->ProtocolChain.ChainLen == BASE_PROTOCOL) {
                    ++kept;
                    continue;
                }
                // A provider deinstalled earlier in this pass (a chain of
                // the same provider) fails here; nothing to do about it.
                GUID provider = entry->ProviderId;
                int error = 0;
                if (os.WSCDeinstallProvider(&provider, &error) == 0) ++removed;
            }
        }
        catalog.Release();
        // Base providers only, or a catalogue that could not be read.
        if (count == kept || retries == 0) break;
    }

    if (IsCancelled()) return ERROR_CANCELLED;
    TraceWrite("", -1, 0, "ResetLspStack was successful\n");
    return ERROR_SUCCESS;
}

namespace {

const wchar_t kUtilityWideName[] = L"instvelps_x64.exe";
const wchar_t kLibraryWideName[] = L"instvelps_x64.dll";

// The folder of this program's own executable, ending in a backslash; empty
// when it cannot be had. Wide text: a folder whose name the ANSI code page
// cannot hold would come back with '?' in it and name no file.
std::wstring ProgramFolder(platform::Platform& os) {
    const std::wstring path = guard::ProgramPath(os);
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}


// Why the utility must not be started from folder, empty when it may. It
// runs with this run's full rights and loads the library beside it: if
// anyone but SYSTEM, Administrators, TrustedInstaller or the running account
// could change the folder or either file (a copy unpacked in C:\Temp or on a
// share), it would run what they put there.
std::string UnsafeUtilityFolder(platform::Platform& os, const std::wstring& folder) {
    for (const wchar_t* name : {L"", kUtilityWideName, kLibraryWideName}) {
        // The folder without its last backslash, but a drive root with it:
        // "C:" alone names the drive's current folder.
        const std::wstring path = *name ? folder + name
                                        : folder.size() <= 3 ? folder : folder.substr(0, folder.size() - 1);
        bool missing = false;
        const std::string why = guard::OthersCanChange(os, path, missing);
        if (!why.empty()) return "'" + platform::NarrowText(os, path) + "': " + why;
    }
    return std::string();
}

}  // namespace

int CNuke::LaunchLspUtility() {
    TraceWrite("", -1, 0, "%s", "Calling UnInstall function from the installation utility.\n");

    // CreateProcessW may write to the command line, so it gets a buffer of
    // its own. MAX_PATH characters at least; more when the folder is deep,
    // since a cut path would name another file.
    // The full path, quoted, in the folder of this program's own
    // executable: naming it keeps the system from looking for the program
    // anywhere else (the current folder, PATH), where anyone could have put
    // a file of that name for an administrator to run.
    std::wstring command;
    std::vector<wchar_t> buffer;
    try {
        const std::wstring folder = ProgramFolder(os);
        if (!folder.empty()) {
            const std::string unsafe = UnsafeUtilityFolder(os, folder);
            if (!unsafe.empty()) {
                TraceWrite("", -1, 0, "instvelps_x64 is not started: others can change %s\n", unsafe.c_str());
                TraceWrite("", -1, 0, "%s", "Calling instvelps_x64 failed!\n");
                Left("the 64-bit Winsock catalogue is not reset: instvelps_x64 is not started, others can change " +
                     unsafe);
                return 0;
            }
            command = L"\"" + folder + kUtilityWideName + L"\" uninstall";
        }
        buffer.assign(command.size() + 1 > MAX_PATH ? command.size() + 1 : MAX_PATH, L'\0');
    } catch (const std::bad_alloc&) {
        return 1;
    }
    std::copy(command.begin(), command.end(), buffer.begin());

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info = {};
    if (command.empty() || !os.CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                                              nullptr, nullptr, &startup, &info)) {
        const DWORD error = command.empty() ? ERROR_FILE_NOT_FOUND : os.GetLastError();
        TraceWrite("", -1, 0, "%s", "Calling instvelps_x64 failed!\n");
        Left("the 64-bit Winsock catalogue is not reset: instvelps_x64.exe could not be started from Clearway's "
             "folder (error " + std::to_string(error) + ")");
        return 0;
    }
    platform::ObjectHandle process(os, info.hProcess);
    platform::ObjectHandle thread(os, info.hThread);

    // A utility still running after a minute is left to itself.
    if (os.WaitForSingleObject(process.get(), 60000) == WAIT_OBJECT_0) {
        DWORD exitCode = 0;
        if (os.GetExitCodeProcess(process.get(), &exitCode)) {
            TraceWrite("", -1, 0, "instvelps_x64 process finished with code: %d\n", static_cast<int>(exitCode));
            if (exitCode == ERROR_MOD_NOT_FOUND) {
                Left("the 64-bit Winsock catalogue is not reset: instvelps_x64 found no instvelps_x64.dll beside it "
                     "(the maker's library is not in Clearway's package; place it beside instvelps_x64.exe)");
            } else if (exitCode != 0) {
                Left("the 64-bit Winsock catalogue is not reset: instvelps_x64 ended with code " +
                     std::to_string(exitCode));
            }
        } else {
            TraceWrite("", -1, 0, "%s", "instvelps_x64 process finished but result unknown\n");
            Left("the 64-bit Winsock catalogue may not be reset: the exit code of instvelps_x64 cannot be read");
        }
    } else {
        Left("the 64-bit Winsock catalogue may not be reset: instvelps_x64 did not end within a minute");
    }
    return 1;
}
