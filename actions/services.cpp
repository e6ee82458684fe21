#include "actions/services.h"

#include "actions/run_backup.h"
#include "guard/name_guard.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <utility>
#include <vector>

#include "actions/report.h"
#include "guard/own_files.h"
#include "platform/handles.h"
#include "platform/platform.h"
#include "platform/wide_text.h"
#include "profile/engine.h"
#include "profile/tset.h"
#include "trace/trace.h"

DWORD EnumServiceNames(platform::Platform& os, SC_HANDLE scm, TSet& set) {
    DWORD needed = 0;
    DWORD count = 0;
    DWORD resume = 0;
    os.EnumServicesStatusA(scm, SERVICE_DRIVER | SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, 0, &needed, &count,
                           &resume);
    if (needed == 0) return os.GetLastError();
    // A little more than asked, for services added in between. One call.
    std::vector<ENUM_SERVICE_STATUSA> buffer;
    try {
        buffer.resize((needed + 100) / sizeof(ENUM_SERVICE_STATUSA) + 1);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    count = 0;
    os.EnumServicesStatusA(scm, SERVICE_DRIVER | SERVICE_WIN32, SERVICE_STATE_ALL, buffer.data(),
                           static_cast<DWORD>(buffer.size() * sizeof(ENUM_SERVICE_STATUSA)), &needed, &count,
                           &resume);
    for (DWORD i = 0; i < count && i < buffer.size(); ++i) {
        if (buffer[i].lpServiceName) set.Insert(buffer[i].lpServiceName);
    }
    return ERROR_SUCCESS;
}

DWORD CNuke::StopNTServices() {
    platform::ServiceHandle scm(os, os.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!scm) return os.GetLastError();
    // Held for the whole walk when granted; the walk goes on without it.
    platform::ServiceLock lock(os, os.LockServiceDatabase(scm.get()));
    bool failed = false;

    const char* name = nullptr;
    for (DWORD rc = expandedServiceList.GetFirst(name); rc == ERROR_SUCCESS; rc = expandedServiceList.GetNext(name)) {
        if (guard::IsNeededService(name)) {
            ++refused;
            TraceWrite("", -1, 0, "StopNTServices: refusing to remove service '%s': Windows or the run needs it\n",
                       name);
            continue;
        }
        platform::ServiceHandle service(os, os.OpenServiceA(scm.get(), name, SERVICE_ALL_ACCESS));
        if (!service) {
            DWORD code = os.GetLastError();
            if (code == ERROR_SERVICE_DOES_NOT_EXIST) {
                TraceWrite("", -1, 0,
                           "Service '%s' doesn't exist. The current product installation is not using this legacy "
                           "service anymore\n",
                           name);
            } else {
                failed = true;
                ++failures;
                ReportOperationError(code, "Terminating service", name);
            }
            continue;
        }
        SERVICE_STATUS status = {};
        os.ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        // At most 30 polls a second apart; the first pause comes even for a
        // service that was stopped already.
        int polls = 0;
        do {
            os.Sleep(1000);
            os.QueryServiceStatus(service.get(), &status);
            ++polls;
        } while (status.dwCurrentState != SERVICE_STOPPED && polls < 30);

        // Deleted whether it stopped or not: the removal goes in at the restart.
        // Its key first into the backup: imported, it brings the service back.
        Backup().Key(HKEY_LOCAL_MACHINE, std::string("SYSTEM\\CurrentControlSet\\Services\\") + name, KEY_WOW64_64KEY);
        if (os.DeleteService(service.get())) {
            ++removed;
            TraceWrite("", -1, 0, "Terminating service '%s' was successful\n", name);
        } else {
            // Marked for deletion already (a run before the restart) is no failure.
            if (os.GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) ++failures;
            TraceWrite("", -1, 0, "Service '%s' stopped, service delete returned with error '%d'\n", name,
                       static_cast<int>(os.GetLastError()));
        }
    }
    lock.reset();
    scm.reset();

    TraceWrite("", -1, 0, "%s", failed ? "StopNTServices encountered errors\n" : "StopNTServices was successful\n");
    return ERROR_SUCCESS;
}

DWORD CNuke::StopNTProcesses() {
    platform::SnapshotHandle snapshot(os, os.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return os.GetLastError();
    std::vector<PROCESSENTRY32> processes;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;  // the narrow record: 296 bytes in the 32-bit program
    for (BOOL more = os.Process32First(snapshot.get(), &entry); more; more = os.Process32Next(snapshot.get(), &entry)) {
        entry.szExeFile[MAX_PATH - 1] = '\0';
        processes.push_back(entry);
    }
    const auto nameOf = [this](const PROCESSENTRY32& process) {
        const char* name = os.PathFindFileNameA(process.szExeFile);
        return name ? name : "";
    };
    // The processes that started this run, up to the first one no longer
    // running: the deployment agent among them. A parent number can have
    // been given to a newer process since, which is then spared too.
    std::vector<DWORD> starters;
    for (DWORD pid = os.GetCurrentProcessId(); starters.size() < 64;) {
        DWORD parent = 0;
        for (const PROCESSENTRY32& process : processes) {
            if (process.th32ProcessID == pid) parent = process.th32ParentProcessID;
        }
        if (parent == 0 || std::find(starters.begin(), starters.end(), parent) != starters.end()) break;
        starters.push_back(parent);
        pid = parent;
    }
    // Windows Installer holds this while it installs or removes anything: an
    // installation half done leaves its product broken.
    platform::ObjectHandle transaction(os, os.OpenMutexA(SYNCHRONIZE, FALSE, "Global\\_MSIExecute"));
    // The shell is ended only in a session where one of the product's own
    // listed processes runs (one this step ends).
    const auto spared = [&](const PROCESSENTRY32& process) {
        const char* name = nameOf(process);
        return guard::IsSystemProcess(name) || process.th32ProcessID == os.GetCurrentProcessId() ||
               std::find(starters.begin(), starters.end(), process.th32ProcessID) != starters.end() ||
               _stricmp(name, "explorer.exe") == 0 || _stricmp(name, "msiexec.exe") == 0;
    };
    std::vector<DWORD> productSessions;
    for (const PROCESSENTRY32& process : processes) {
        DWORD session = 0;
        if (stopProcessList.Contains(nameOf(process)) && !spared(process) &&
            os.ProcessIdToSessionId(process.th32ProcessID, &session)) {
            productSessions.push_back(session);
        }
    }

    // One handle per process opened for termination, however many share a name.
    std::vector<platform::ObjectHandle> kept;
    std::vector<HANDLE> waitList;
    for (const PROCESSENTRY32& process : processes) {
        const char* fileName = nameOf(process);
        if (!*fileName || !stopProcessList.Contains(fileName)) continue;
        // Neither the system's own processes, nor the run and what started
        // it, nor what Windows is working with, whatever the list says.
        const char* why = nullptr;
        DWORD session = 0;
        if (guard::IsSystemProcess(fileName)) {
            why = "it is a process of the system";
        } else if (process.th32ProcessID == os.GetCurrentProcessId()) {
            why = "it is this run";
        } else if (std::find(starters.begin(), starters.end(), process.th32ProcessID) != starters.end()) {
            why = "it started this run";
        } else if (transaction && _stricmp(fileName, "msiexec.exe") == 0) {
            why = "Windows Installer is in the middle of an installation";
        } else if (_stricmp(fileName, "explorer.exe") == 0 &&
                   (!os.ProcessIdToSessionId(process.th32ProcessID, &session) ||
                    std::find(productSessions.begin(), productSessions.end(), session) == productSessions.end())) {
            why = "it is the shell of a session where none of the product's processes runs";
        }
        if (why) {
            ++refused;
            TraceWrite("", -1, 0, "StopNTProcesses: refusing to end '%s' (process %lu): %s\n", fileName,
                       static_cast<unsigned long>(process.th32ProcessID), why);
            continue;
        }
        TraceWrite("", -1, 0, "Terminating process: '%s'\n", fileName);
        platform::ObjectHandle handle(os, os.OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, process.th32ProcessID));
        if (!handle) continue;
        if (os.TerminateProcess(handle.get(), 0xFFFFFFFF)) ++removed;
        waitList.push_back(handle.get());
        kept.push_back(std::move(handle));
    }

    // Wait for all of them, at most 10 seconds in all. One wait takes at most
    // MAXIMUM_WAIT_OBJECTS handles (more make it fail at once, leaving the
    // rest unwaited for), so larger sets are waited for in groups that share
    // the time.
    const DWORD kWaitBudget = 10000;
    const DWORD started = os.GetTickCount();
    for (size_t first = 0; first < waitList.size(); first += MAXIMUM_WAIT_OBJECTS) {
        const DWORD elapsed = os.GetTickCount() - started;
        if (elapsed >= kWaitBudget) break;
        const size_t count = std::min<size_t>(MAXIMUM_WAIT_OBJECTS, waitList.size() - first);
        os.WaitForMultipleObjects(static_cast<DWORD>(count), waitList.data() + first, TRUE, kWaitBudget - elapsed);
    }
    os.Sleep(1000);
    waitList.clear();
    kept.clear();
    snapshot.reset();

    TraceWrite("", -1, 0, "%s", "StopNTProcesses was successful\n");
    return ERROR_SUCCESS;
}

DWORD CNuke::StartProcesses() {
    const char* entry = nullptr;
    for (DWORD rc = startProcessList.GetFirst(entry); rc == ERROR_SUCCESS; rc = startProcessList.GetNext(entry)) {
        TraceWrite("", -1, 0, "Starting process '%s'...\n", entry);
        // The program runs with this run's full rights: never one found by
        // a search (the current folder, the drive's root, PATH), where
        // anyone may have put a file of that name, and only one that
        // nobody else can change or swap.
        const std::string path = entry;
        const bool full = path.size() > 3 && path[1] == ':' && path[2] == '\\';
        const std::string why = full ? guard::OthersCanSteerFile(os, platform::WideText(os, path))
                                     : std::string("it is not a full path, and a bare name would be searched for in "
                                                   "folders others may write to");
        if (!why.empty()) {
            ++refused;
            TraceWrite("", -1, 0, "StartProcesses: refusing to start '%s': %s\n", entry, why.c_str());
            continue;
        }

        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (!os.CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
            ReportOperationError(os.GetLastError(), "Starting of process", path.c_str());
            continue;
        }
        // Not waited for; closing these handles leaves the program running.
        platform::ObjectHandle process(os, info.hProcess);
        platform::ObjectHandle thread(os, info.hThread);
        TraceWrite("", -1, 0, "Process '%s' started successfully\n", path.c_str());
    }
    return ERROR_SUCCESS;
}
