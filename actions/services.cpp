#include "actions/services.h"

#include <new>
#include <vector>

#include "platform/platform.h"
#include "profile/tset.h"

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
