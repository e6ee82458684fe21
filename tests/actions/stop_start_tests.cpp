// The service and process steps against real services and processes of the
// prefix; the platform seam stands in only for a service that never stops,
// more than 64 matching processes and failing calls.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "actions/run_backup.h"
#include "platform/handles.h"
#include "profile/engine.h"
#include "tests/support/matchers.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_dialog.h"
#include "tests/support/test_platform.h"
#include "trace/trace.h"

namespace {

using testing_support::TestPlatform;

// Trace lines go to the platform's debugger output for one test.
class TraceCapture {
public:
    explicit TraceCapture(TestPlatform& os) { TraceSetPlatform(&os); }
    ~TraceCapture() { TraceSetPlatform(nullptr); }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;
};

std::string HelperProgram() { return testing_support::BuiltProgram("test_service.exe"); }

const char kNotThereLine[] =
    "doesn't exist. The current product installation is not using this legacy service anymore\n";

platform::ServiceHandle OpenManager() {
    return platform::ServiceHandle(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

// A fresh demand-start service running the helper program.
void CreateTestService(const char* name) {
    platform::ServiceHandle scm = OpenManager();
    ASSERT_TRUE(scm);
    {
        platform::ServiceHandle old(::OpenServiceA(scm.get(), name, SERVICE_ALL_ACCESS));
        if (old) {
            SERVICE_STATUS status = {};
            ::ControlService(old.get(), SERVICE_CONTROL_STOP, &status);
            ::DeleteService(old.get());
        }
    }
    std::string binPath = "\"" + HelperProgram() + "\"";
    platform::ServiceHandle created(::CreateServiceA(scm.get(), name, name, SERVICE_ALL_ACCESS,
                                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                                     SERVICE_ERROR_IGNORE, binPath.c_str(), nullptr, nullptr, nullptr,
                                                     nullptr, nullptr));
    ASSERT_TRUE(created) << ::GetLastError();
}

// The error of opening a service, waiting up to five seconds for a deleted
// service to go once its last handle is closed.
DWORD OpenServiceError(const char* name) {
    platform::ServiceHandle scm = OpenManager();
    DWORD code = 0;
    for (int i = 0; i < 50; ++i) {
        platform::ServiceHandle service(::OpenServiceA(scm.get(), name, SERVICE_QUERY_STATUS));
        if (service) {
            code = 0;
        } else {
            code = ::GetLastError();
            if (code == ERROR_SERVICE_DOES_NOT_EXIST) break;
        }
        ::Sleep(100);
    }
    return code;
}

void RemoveTestService(const char* name) {
    platform::ServiceHandle scm = OpenManager();
    platform::ServiceHandle service(::OpenServiceA(scm.get(), name, SERVICE_ALL_ACCESS));
    if (!service) return;
    SERVICE_STATUS status = {};
    ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    ::DeleteService(service.get());
}

// Number of running processes with this image name.
int CountProcesses(const char* imageName) {
    platform::SnapshotHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    int count = 0;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32First(snapshot.get(), &entry); more; more = ::Process32Next(snapshot.get(), &entry)) {
        if (lstrcmpiA(entry.szExeFile, imageName) == 0) ++count;
    }
    return count;
}

// Waits up to ten seconds until no process of this image name runs.
bool WaitUntilGone(const char* imageName) {
    for (int i = 0; i < 100; ++i) {
        if (CountProcesses(imageName) == 0) return true;
        ::Sleep(100);
    }
    return false;
}

bool WaitForFile(const std::string& path) {
    for (int i = 0; i < 100; ++i) {
        if (testing_support::PathExists(path)) return true;
        ::Sleep(100);
    }
    return false;
}

// The step's own trace lines are what these tests read: the backup of what
// it deletes only counts here (its own tests write and import it).
struct Engine {
    explicit Engine(TestPlatform& os) : nuke(os) {
        nuke.dialog = &dialog;
        nuke.backup.reset(new RunBackup(os, os, false));
    }
    testing_support::TestDialog dialog;
    CNuke nuke;
};

// What one engine step did: its code, its trace lines and the pauses it
// asked for.
struct StepRun {
    DWORD code;
    std::string trace;
    std::vector<DWORD> pauses;
};

// Runs step on an engine of its own on os, with entries in list.
StepRun RunStep(TestPlatform& os, DWORD (CNuke::*step)(), TSet CNuke::*list = nullptr,
                std::initializer_list<const char*> entries = {}) {
    Engine engine(os);
    for (const char* entry : entries) (engine.nuke.*list).Insert(entry);
    DWORD code = 0;
    {
        TraceCapture capture(os);
        code = (engine.nuke.*step)();
    }
    return {code, os.DebugOutput(), os.sleeps};
}

// ---------------------------------------------------------------- services

// Records the manager access, the database lock and the closes, forwarding
// them: handles the step opens close through the platform they came from.
class ManagerRecordingPlatform : public TestPlatform {
public:
    BOOL UnlockServiceDatabase(SC_LOCK lock) override {
        ++unlockCalls;
        return TestPlatform::UnlockServiceDatabase(lock);
    }
    BOOL CloseServiceHandle(SC_HANDLE handle) override {
        ++serviceCloses;
        return TestPlatform::CloseServiceHandle(handle);
    }
    int unlockCalls = 0;
    int serviceCloses = 0;
    SC_HANDLE OpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access) override {
        managerAccess.push_back(access);
        return TestPlatform::OpenSCManagerA(machine, database, access);
    }
    SC_LOCK LockServiceDatabase(SC_HANDLE manager) override {
        ++lockCalls;
        return TestPlatform::LockServiceDatabase(manager);
    }
    std::vector<DWORD> managerAccess;
    int lockCalls = 0;
};

TEST(StopNTServicesTest, StopsAndDeletesARunningService) {
    const char* name = "CWSTOPSVC1";
    CreateTestService(name);
    {
        platform::ServiceHandle scm = OpenManager();
        platform::ServiceHandle service(::OpenServiceA(scm.get(), name, SERVICE_ALL_ACCESS));
        ASSERT_TRUE(::StartServiceA(service.get(), 0, nullptr)) << ::GetLastError();
        SERVICE_STATUS status = {};
        for (int i = 0; i < 100 && status.dwCurrentState != SERVICE_RUNNING; ++i) {
            ::QueryServiceStatus(service.get(), &status);
            if (status.dwCurrentState != SERVICE_RUNNING) ::Sleep(100);
        }
        ASSERT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    }
    ASSERT_EQ(CountProcesses("test_service.exe"), 1);

    TestPlatform os;
    const StepRun run = RunStep(os, &CNuke::StopNTServices, &CNuke::expandedServiceList, {name});
    EXPECT_EQ(run.code, 0u);
    EXPECT_EQ(run.trace,
              "Terminating service 'CWSTOPSVC1' was successful\n"
              "StopNTServices was successful\n");
    // The helper reports stopped while handling the control: one poll.
    EXPECT_EQ(run.pauses, std::vector<DWORD>({1000}));
    EXPECT_TRUE(WaitUntilGone("test_service.exe"));
    EXPECT_EQ(OpenServiceError(name), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    RemoveTestService(name);
}

TEST(StopNTServicesTest, StoppedServiceCostsOnePauseAndMissingServiceIsNoError) {
    const char* name = "CWSTOPSVC2";
    CreateTestService(name);
    TestPlatform os;
    const StepRun run = RunStep(os, &CNuke::StopNTServices, &CNuke::expandedServiceList,
                                {"cwstopsvc2", "CWNOSUCHSVC"});
    EXPECT_EQ(run.code, 0u);
    EXPECT_EQ(run.trace, std::string("Service 'CWNOSUCHSVC' ") + kNotThereLine +
                                    "Terminating service 'cwstopsvc2' was successful\n"
                                    "StopNTServices was successful\n");
    EXPECT_EQ(run.pauses, std::vector<DWORD>({1000}));
    EXPECT_EQ(OpenServiceError(name), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    RemoveTestService(name);
}

TEST(StopNTServicesTest, EmptyListStillOpensAndLocksTheDatabase) {
    ManagerRecordingPlatform os;
    const StepRun run = RunStep(os, &CNuke::StopNTServices);
    EXPECT_EQ(run.code, 0u);
    EXPECT_EQ(run.trace, "StopNTServices was successful\n");
    EXPECT_EQ(os.managerAccess, std::vector<DWORD>({0xF003F}));
    EXPECT_EQ(os.lockCalls, 1);
    EXPECT_EQ(os.unlockCalls, 1);
    EXPECT_EQ(os.serviceCloses, 1);  // the manager
    EXPECT_TRUE(run.pauses.empty());
}

// A service that takes the stop control and never stops.
class NeverStopsPlatform : public TestPlatform {
public:
    BOOL ControlService(SC_HANDLE, DWORD control, LPSERVICE_STATUS status) override {
        controls.push_back(control);
        status->dwCurrentState = SERVICE_STOP_PENDING;
        return TRUE;
    }
    BOOL QueryServiceStatus(SC_HANDLE, LPSERVICE_STATUS status) override {
        ++queries;
        status->dwCurrentState = SERVICE_STOP_PENDING;
        return TRUE;
    }
    std::vector<DWORD> controls;
    int queries = 0;
};

TEST(StopNTServicesTest, ServiceThatNeverStopsIsDeletedAfterThirtyPolls) {
    const char* name = "CWSTOPSVC3";
    CreateTestService(name);
    NeverStopsPlatform os;
    const StepRun run = RunStep(os, &CNuke::StopNTServices, &CNuke::expandedServiceList, {name});
    EXPECT_EQ(run.code, 0u);
    EXPECT_EQ(os.controls, std::vector<DWORD>({SERVICE_CONTROL_STOP}));
    EXPECT_EQ(os.queries, 30);
    EXPECT_EQ(run.pauses, std::vector<DWORD>(30, 1000));
    EXPECT_EQ(run.trace,
              "Terminating service 'CWSTOPSVC3' was successful\n"
              "StopNTServices was successful\n");
    EXPECT_EQ(OpenServiceError(name), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    RemoveTestService(name);
}

// Access denied, which Wine never gives an administrator, for one named
// service.
class DeniedPlatform : public TestPlatform {
public:
    SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access) override {
        if (lstrcmpiA(name, "CWDENIEDSVC") == 0) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        return TestPlatform::OpenServiceA(manager, name, access);
    }
};

TEST(StopNTServicesTest, ServiceThatCannotBeOpenedMakesTheSummaryAnError) {
    DeniedPlatform os;
    const StepRun run = RunStep(os, &CNuke::StopNTServices, &CNuke::expandedServiceList,
                                {"CWNOSUCHSVC", "CWDENIEDSVC"});
    EXPECT_EQ(run.code, 0u);
    EXPECT_EQ(run.trace, std::string("Terminating service 'CWDENIEDSVC' reported error code '5'\n") +
                                    "Service 'CWNOSUCHSVC' " + kNotThereLine + "StopNTServices encountered errors\n");
    EXPECT_TRUE(run.pauses.empty());
}

// A delete that fails: the service was marked for deletion already and is
// kept by another open handle.
TEST(StopNTServicesTest, FailedDeleteIsLoggedButIsNoError) {
    const char* name = "CWSTOPSVC4";
    CreateTestService(name);
    platform::ServiceHandle scm = OpenManager();
    platform::ServiceHandle holder(::OpenServiceA(scm.get(), name, SERVICE_ALL_ACCESS));
    ASSERT_TRUE(holder);
    ASSERT_TRUE(::DeleteService(holder.get()));

    TestPlatform os;
    const StepRun run = RunStep(os, &CNuke::StopNTServices, &CNuke::expandedServiceList, {name});
    EXPECT_EQ(run.code, 0u);
    EXPECT_EQ(run.trace,
              "Service 'CWSTOPSVC4' stopped, service delete returned with error '1072'\n"
              "StopNTServices was successful\n");
    EXPECT_EQ(run.pauses, std::vector<DWORD>({1000}));
    holder.reset();
    EXPECT_EQ(OpenServiceError(name), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

// --------------------------------------------------------------- processes

// Records the wait, forwarding it.
class WaitRecordingPlatform : public TestPlatform {
public:
    DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) override {
        waitCounts.push_back(count);
        waitAll_ = waitAll;
        waitTime = milliseconds;
        waitTimes.push_back(milliseconds);
        clock += waitCost;
        DWORD result = TestPlatform::WaitForMultipleObjects(count, handles, waitAll, milliseconds);
        waitResults.push_back(result);
        return result;
    }
    // A clock that only the waits advance, by waitCost each.
    DWORD GetTickCount() override { return clock; }
    std::vector<DWORD> waitCounts;
    std::vector<DWORD> waitResults;
    std::vector<DWORD> waitTimes;
    BOOL waitAll_ = FALSE;
    DWORD waitTime = 0;
    DWORD clock = 5000;
    DWORD waitCost = 0;
};

platform::ObjectHandle StartSleeper(const std::string& program, const char* imageName) {
    std::string commandLine = std::string(imageName) + " --sleep 60000";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &startup, &info)) {
        return platform::ObjectHandle();
    }
    platform::ObjectHandle thread(info.hThread);
    return platform::ObjectHandle(info.hProcess);
}

// Ends a sleeper a failed test left behind.
struct SleeperGuard {
    std::vector<platform::ObjectHandle>& processes;
    ~SleeperGuard() {
        for (auto& process : processes) {
            if (process && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) {
                ::TerminateProcess(process.get(), 1);
                ::WaitForSingleObject(process.get(), 5000);
            }
        }
    }
};

TEST(StopNTProcessesTest, TerminatesEveryRunningCopyAndWaitsForThem) {
    testing_support::TempFolder folder("stop_start_processes");
    std::string program = folder / "cwstoptest.exe";
    ASSERT_TRUE(::CopyFileA(HelperProgram().c_str(), program.c_str(), FALSE)) << ::GetLastError();
    std::vector<platform::ObjectHandle> processes;
    SleeperGuard guard{processes};
    processes.push_back(StartSleeper(program, "cwstoptest.exe"));
    processes.push_back(StartSleeper(program, "cwstoptest.exe"));
    ASSERT_TRUE(processes[0] && processes[1]);
    for (int i = 0; i < 50 && CountProcesses("cwstoptest.exe") < 2; ++i) ::Sleep(100);
    ASSERT_EQ(CountProcesses("cwstoptest.exe"), 2);

    WaitRecordingPlatform os;
    const StepRun run = RunStep(os, &CNuke::StopNTProcesses, &CNuke::stopProcessList,
                                {"CWSTOPTEST.EXE", "cwnotrunning.exe"});  // listed in another case
    EXPECT_EQ(run.code, 0u);
    EXPECT_EQ(run.trace,
              "Terminating process: 'cwstoptest.exe'\n"
              "Terminating process: 'cwstoptest.exe'\n"
              "StopNTProcesses was successful\n");
    EXPECT_EQ(os.waitCounts, std::vector<DWORD>({2}));
    EXPECT_EQ(os.waitAll_, TRUE);
    EXPECT_EQ(os.waitTime, 10000u);
    EXPECT_EQ(run.pauses, std::vector<DWORD>({1000}));
    // The step waited for both: they have ended by the time it returns.
    for (auto& process : processes) {
        EXPECT_EQ(::WaitForSingleObject(process.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
        DWORD exitCode = 0;
        ::GetExitCodeProcess(process.get(), &exitCode);
        EXPECT_EQ(exitCode, 0xFFFFFFFFu);
    }
}

TEST(StopNTProcessesTest, NoMatchingProcessStillPausesAndSucceeds) {
    WaitRecordingPlatform os;
    const StepRun run = RunStep(os, &CNuke::StopNTProcesses, &CNuke::stopProcessList, {"cwnotrunning.exe"});
    EXPECT_EQ(run.code, 0u);
    EXPECT_EQ(run.trace, "StopNTProcesses was successful\n");
    EXPECT_TRUE(os.waitCounts.empty());  // nothing to wait for
    EXPECT_EQ(run.pauses, std::vector<DWORD>({1000}));
}

// A snapshot of 70 matching processes (and one that cannot be opened), whose
// opening gives real event handles and whose termination is only recorded.
class ManyProcessesPlatform : public WaitRecordingPlatform {
public:
    static constexpr DWORD kMatching = 70;
    BOOL Process32First(HANDLE, LPPROCESSENTRY32 entry) override {
        next_ = 0;
        return Fill(entry);
    }
    BOOL Process32Next(HANDLE, LPPROCESSENTRY32 entry) override { return Fill(entry); }
    HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId) override {
        accesses.push_back(access);
        if (processId < 1000) return TestPlatform::OpenProcess(access, inherit, processId);  // pid 0 fails for real
        HANDLE event = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
        opened.push_back(event);
        return event;
    }
    BOOL TerminateProcess(HANDLE process, UINT exitCode) override {
        terminated.push_back(process);
        exitCodes.push_back(exitCode);
        return TRUE;
    }
    std::vector<DWORD> accesses;
    std::vector<HANDLE> opened;
    std::vector<HANDLE> terminated;
    std::vector<UINT> exitCodes;

private:
    BOOL Fill(LPPROCESSENTRY32 entry) {
        // 0: "cwmany.exe" with pid 0; 1: "notlisted.exe"; then the 70, every
        // other one as a full path in another case.
        DWORD i = next_++;
        if (i >= kMatching + 2) {
            ::SetLastError(ERROR_NO_MORE_FILES);
            return FALSE;
        }
        const char* name = i == 0 ? "cwmany.exe" : i == 1 ? "notlisted.exe" : i % 2 ? "C:\\Velmoran\\CwMany.exe"
                                                                                     : "cwmany.exe";
        lstrcpynA(entry->szExeFile, name, MAX_PATH);
        // Numbers clear of this test's own process, which is never ended.
        const DWORD self = ::GetCurrentProcessId();
        const DWORD base = self > 1000 && self <= 1000 + kMatching + 1 ? 2000 : 1000;
        entry->th32ProcessID = i == 0 ? 0 : base + i;
        return TRUE;
    }
    DWORD next_ = 0;
};

// More handles than one wait takes are waited for in groups.
TEST(StopNTProcessesTest, MoreThanSixtyFourProcessesAreAllTerminatedAndAllWaitedFor) {
    ManyProcessesPlatform os;
    const StepRun run = RunStep(os, &CNuke::StopNTProcesses, &CNuke::stopProcessList, {"CWMANY.EXE"});
    EXPECT_EQ(run.code, 0u);
    std::string expected = "Terminating process: 'cwmany.exe'\n";  // pid 0: not opened, skipped
    for (DWORD i = 2; i < ManyProcessesPlatform::kMatching + 2; ++i) {
        expected += i % 2 ? "Terminating process: 'CwMany.exe'\n" : "Terminating process: 'cwmany.exe'\n";
    }
    expected += "StopNTProcesses was successful\n";
    EXPECT_EQ(run.trace, expected);
    EXPECT_EQ(os.accesses, std::vector<DWORD>(ManyProcessesPlatform::kMatching + 1, 0x100001));
    EXPECT_EQ(os.terminated, os.opened);
    EXPECT_EQ(os.exitCodes, std::vector<UINT>(ManyProcessesPlatform::kMatching, 0xFFFFFFFFu));
    EXPECT_EQ(os.waitCounts, std::vector<DWORD>({MAXIMUM_WAIT_OBJECTS, ManyProcessesPlatform::kMatching - 64}));
    EXPECT_EQ(os.waitResults, std::vector<DWORD>({WAIT_OBJECT_0, WAIT_OBJECT_0}));
    EXPECT_EQ(run.pauses, std::vector<DWORD>({1000}));
    // Every kept handle was closed.
    for (HANDLE handle : os.opened) {
        DWORD flags = 0;
        EXPECT_FALSE(::GetHandleInformation(handle, &flags));
    }
}

// The groups share the ten seconds: what the first wait used is not given
// again, and a spent budget waits no more.
TEST(StopNTProcessesTest, WaitGroupsShareTheTenSeconds) {
    ManyProcessesPlatform os;
    os.waitCost = 4000;
    Engine engine(os);
    engine.nuke.stopProcessList.Insert("CWMANY.EXE");
    EXPECT_EQ(engine.nuke.StopNTProcesses(), 0u);
    EXPECT_EQ(os.waitTimes, std::vector<DWORD>({10000, 6000}));

    ManyProcessesPlatform spent;
    spent.waitCost = 10000;
    Engine second(spent);
    second.nuke.stopProcessList.Insert("CWMANY.EXE");
    EXPECT_EQ(second.nuke.StopNTProcesses(), 0u);
    EXPECT_EQ(spent.waitTimes, std::vector<DWORD>({10000}));
    EXPECT_EQ(spent.sleeps, std::vector<DWORD>({1000}));
}

// A step whose first call is refused (the service manager, the process
// snapshot) ends with that call's error, without a line or a pause.
TEST(StopStepsTest, AFirstCallRefusedGivesItsErrorWithoutALine) {
    struct Case {
        const char* name;
        DWORD TestPlatform::*fault;
        DWORD error;
        DWORD (CNuke::*step)();
        TSet CNuke::*list;
        const char* entry;
    };
    const Case cases[] = {
        {"service manager", &TestPlatform::serviceManagerError, ERROR_ACCESS_DENIED, &CNuke::StopNTServices,
         &CNuke::expandedServiceList, "CWNOSUCHSVC"},
        {"process snapshot", &TestPlatform::snapshotError, ERROR_NOT_ENOUGH_MEMORY, &CNuke::StopNTProcesses,
         &CNuke::stopProcessList, "cwmany.exe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPlatform os;
        os.*c.fault = c.error;
        const StepRun run = RunStep(os, c.step, c.list, {c.entry});
        EXPECT_EQ(run.code, c.error);
        EXPECT_EQ(run.trace, "");
        EXPECT_TRUE(run.pauses.empty());
    }
}

// Opens nothing for termination: records which processes the step tried to
// end, so a fault in the guard cannot end the prefix's own processes.
class TerminationRecordingPlatform : public TestPlatform {
public:
    HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId) override {
        if (access & PROCESS_TERMINATE) {
            opened.push_back(processId);
            ::SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        return TestPlatform::OpenProcess(access, inherit, processId);
    }
    // Opens that could change a service; reading its configuration changes
    // nothing.
    SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access) override {
        if (access & ~static_cast<DWORD>(SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS)) services.push_back(name);
        return TestPlatform::OpenServiceA(manager, name, access);
    }
    std::vector<DWORD> opened;
    std::vector<std::string> services;
};

TEST(StopNTProcessesTest, TheSystemsOwnProcessesAndTheRunItselfAreNeverEnded) {
    TerminationRecordingPlatform os;
    Engine engine(os);
    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string image = std::strrchr(self, '\\') + 1;
    // Whatever the list says: the prefix runs services.exe and svchost.exe.
    for (const std::string& name : {image, std::string("SERVICES.EXE"), std::string("svchost.exe")}) {
        engine.nuke.stopProcessList.Insert(name.c_str());
    }
    ASSERT_GT(CountProcesses("services.exe"), 0);
    {
        TraceCapture capture(os);
        EXPECT_EQ(engine.nuke.StopNTProcesses(), 0u);
    }
    EXPECT_TRUE(os.opened.empty());
    const std::string log = os.DebugOutput();
    EXPECT_THAT(log, HasSubstr("StopNTProcesses: refusing to end '" + image + "' (process " +
                       std::to_string(::GetCurrentProcessId()) + "): it is this run\n"))
        << log;
    EXPECT_THAT(log, HasSubstr("StopNTProcesses: refusing to end 'services.exe'")) << log;

    // The services the run and Windows need are neither opened nor listed.
    engine.nuke.removeServiceList.Insert("msiserver");
    engine.nuke.removeServiceList.Insert("RPCSS");
    engine.nuke.removeServiceList.Insert("cwnosuchservice");
    {
        TraceCapture capture(os);
        EXPECT_EQ(engine.nuke.PopulateRemoveServiceList(), 0u);
        engine.nuke.expandedServiceList.Insert("WinMgmt");  // however it got there
        EXPECT_EQ(engine.nuke.StopNTServices(), 0u);
    }
    EXPECT_EQ(os.services, std::vector<std::string>{"cwnosuchservice"});
    EXPECT_THAT(os.DebugOutput(), HasSubstr("PopulateRemoveServiceList: refusing to remove service 'RPCSS'"));
    EXPECT_THAT(os.DebugOutput(), HasSubstr("StopNTServices: refusing to remove service 'WinMgmt'"));
}

// What the machine is working with stays, whatever the list says: the
// process that started this run, Windows Installer while an installation
// holds its mutex, and the shell of a session where none of the product's
// processes runs. Real processes of the prefix; nothing is ended.
TEST(StopNTProcessesTest, WhatTheMachineIsWorkingWithIsSpared) {
    testing_support::TempFolder folder("stop_start_spared");
    const std::string installer = folder / "msiexec.exe";
    ASSERT_TRUE(::CopyFileA(HelperProgram().c_str(), installer.c_str(), FALSE)) << ::GetLastError();
    std::vector<platform::ObjectHandle> processes;
    SleeperGuard guard{processes};
    processes.push_back(StartSleeper(installer, "msiexec.exe"));
    ASSERT_TRUE(processes[0]);
    for (int i = 0; i < 50 && CountProcesses("msiexec.exe") < 1; ++i) ::Sleep(100);
    ASSERT_GT(CountProcesses("explorer.exe"), 0);

    const std::string product = folder / "cwproduct.exe";
    ASSERT_TRUE(::CopyFileA(HelperProgram().c_str(), product.c_str(), FALSE)) << ::GetLastError();
    processes.push_back(StartSleeper(product, "cwproduct.exe"));
    ASSERT_TRUE(processes[1]);
    for (int i = 0; i < 50 && CountProcesses("cwproduct.exe") < 1; ++i) ::Sleep(100);

    // Other tests run beside this one, with start.exe and explorer.exe of
    // their own: only this test's parent and its own sleepers are judged by
    // number.
    DWORD parent = 0;
    {
        platform::SnapshotHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32 entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = ::Process32First(snapshot.get(), &entry); more; more = ::Process32Next(snapshot.get(), &entry)) {
            if (entry.th32ProcessID == ::GetCurrentProcessId()) parent = entry.th32ParentProcessID;
        }
    }
    ASSERT_NE(parent, 0u);
    const DWORD installerId = ::GetProcessId(processes[0].get());
    struct Stopped {
        std::vector<DWORD> opened;
        std::string trace;
    };
    const auto stop = [](bool installing, std::initializer_list<const char*> names) {
        platform::ObjectHandle transaction;
        if (installing) transaction.reset(::CreateMutexA(nullptr, FALSE, "Global\\_MSIExecute"));
        TerminationRecordingPlatform os;
        Engine engine(os);
        for (const char* name : names) engine.nuke.stopProcessList.Insert(name);
        TraceCapture capture(os);
        EXPECT_EQ(engine.nuke.StopNTProcesses(), 0u);
        return Stopped{os.opened, os.DebugOutput()};
    };
    const auto opened = [](const Stopped& run, DWORD id) {
        return std::find(run.opened.begin(), run.opened.end(), id) != run.opened.end();
    };
    // This test program was started by the prefix's start.exe.
    const Stopped installing = stop(true, {"start.exe", "msiexec.exe"});
    EXPECT_FALSE(opened(installing, parent)) << installing.trace;
    EXPECT_FALSE(opened(installing, installerId)) << installing.trace;
    EXPECT_THAT(installing.trace, HasSubstr("'start.exe' (process " + std::to_string(parent) + "): it started this run\n"));
    EXPECT_THAT(installing.trace, HasSubstr("'msiexec.exe' (process " + std::to_string(installerId) +
                                            "): Windows Installer is in the middle of an installation\n"));
    // Without an installation under way the installer is ended like any
    // listed process; the shell is not, with none of the product's
    // processes in its session.
    const Stopped idle = stop(false, {"explorer.exe", "msiexec.exe"});
    EXPECT_TRUE(opened(idle, installerId)) << idle.trace;
    EXPECT_EQ(idle.opened.size(), 1u) << idle.trace;
    EXPECT_THAT(idle.trace, HasSubstr("): it is the shell of a session where none of the product's processes runs\n"));
    // The shell of the session the product runs in is ended with it.
    const Stopped withProduct = stop(false, {"explorer.exe", "cwproduct.exe"});
    EXPECT_TRUE(opened(withProduct, ::GetProcessId(processes[1].get()))) << withProduct.trace;
    EXPECT_GE(withProduct.opened.size(), 2u) << withProduct.trace;
    EXPECT_THAT(withProduct.trace, HasSubstr("Terminating process: 'explorer.exe'\n")) << withProduct.trace;
}

// ---------------------------------------------------------- program start

// Only a program named by its full path that nobody else can change or
// swap is started; a bare name is never searched for, and a program in a
// folder others may write to (Wine shows mode 777 as Everyone may change
// it) is refused. Refusals are traced and the step goes on.
TEST(StartProcessesTest, StartsOnlyFullPathsNobodyElseCanChange) {
    testing_support::TempFolder folder("stop_start_programs");
    testing_support::TempFolder open("stop_start_open");
    const std::string byPath = folder / "cwstart1.exe";
    const std::string planted = open / "cwstart2.exe";
    const std::string inWindows = "C:\\windows\\cwstartprobe.exe";
    for (const std::string& copy : {byPath, planted, inWindows}) {
        ASSERT_TRUE(::CopyFileA(HelperProgram().c_str(), copy.c_str(), FALSE)) << ::GetLastError();
        ::DeleteFileA((copy + ".started").c_str());
    }
    ASSERT_EQ(testing_support::RunUnix("/bin/chmod 777 " + testing_support::UnixPath(open.path())), 0u);
    const std::string missing = folder / "cwnosuchprogram.exe";

    TestPlatform os;
    const StepRun run = RunStep(os, &CNuke::StartProcesses, &CNuke::startProcessList,
                                {byPath.c_str(), missing.c_str(), "cwstartprobe.exe", planted.c_str()});
    EXPECT_EQ(run.code, 0u);
    // In the list's order (sorted, ignoring case).
    EXPECT_EQ(run.trace,
              "Starting process '" + planted + "'...\n" +
                  "StartProcesses: refusing to start '" + planted + "': '" + open.path() + "': S-1-1-0 may change it\n"
                  "Starting process '" + missing + "'...\n"
                  "Starting of process '" + missing + "' reported \"file\" not found\n"
                  "Starting process '" + byPath + "'...\n"
                  "Process '" + byPath + "' started successfully\n"
                  "Starting process 'cwstartprobe.exe'...\n"
                  "StartProcesses: refusing to start 'cwstartprobe.exe': it is not a full path, and a bare name would "
                  "be searched for in folders others may write to\n");
    EXPECT_TRUE(run.pauses.empty());
    // The one allowed really ran (it leaves its mark beside itself) and ends
    // by itself; the others never started.
    EXPECT_TRUE(WaitForFile(byPath + ".started"));
    EXPECT_TRUE(WaitUntilGone("cwstart1.exe"));
    EXPECT_FALSE(testing_support::PathExists(planted + ".started"));
    EXPECT_FALSE(testing_support::PathExists(inWindows + ".started"));
    ::DeleteFileA(inWindows.c_str());
}

}  // namespace
