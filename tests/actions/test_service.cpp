// A small helper program for the service and process step tests.
//   test_service.exe              as a service: reports running and stops on
//                                 the stop control. Started as a plain program
//                                 it writes "<its own path>.started" and ends.
//   test_service.exe --sleep N    waits N milliseconds and ends.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "platform/handles.h"

namespace {

SERVICE_STATUS_HANDLE statusHandle = nullptr;
platform::ObjectHandle stopEvent;

void Report(DWORD state) {
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    ::SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID) {
    if (control == SERVICE_CONTROL_STOP) {
        // Stopped is reported before the control returns to its sender, so
        // the sender's first status query already sees it.
        Report(SERVICE_STOPPED);
        ::SetEvent(stopEvent.get());
    }
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
    statusHandle = ::RegisterServiceCtrlHandlerExA("", Handler, nullptr);
    if (!statusHandle) return;
    Report(SERVICE_RUNNING);
    ::WaitForSingleObject(stopEvent.get(), INFINITE);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--sleep") == 0) {
        ::Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
        return 0;
    }
    stopEvent.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    char name[] = "";
    SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    if (::StartServiceCtrlDispatcherA(table)) return 0;

    // Not started by the service control manager: leave the sign of a start.
    char path[MAX_PATH + 16] = {};
    DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::strcpy(path + n, ".started");
    platform::FileHandle file(
        ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file ? 0 : 1;
}
