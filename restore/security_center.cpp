#include "restore/security_center.h"

#include <cwchar>

#include "platform/platform.h"
#include "platform/windows_version.h"

const GUID kAntiVirusInstanceGuid = {0xCC1B717A, 0xB08B, 0x4F20, {0xBD, 0x44, 0xCA, 0xA5, 0x9C, 0x03, 0xE0, 0x90}};
const GUID kFirewallInstanceGuid = {0xCB4DB4AD, 0x857C, 0x43EF, {0x8C, 0x8C, 0x73, 0x40, 0x22, 0xF3, 0x11, 0x08}};

namespace {

// A BSTR owned by one holder.
class Bstr {
public:
    Bstr(platform::Platform& os, const wchar_t* text) : os_(os), text_(os.SysAllocString(text)) {}
    ~Bstr() {
        if (text_) os_.SysFreeString(text_);
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return text_; }

private:
    platform::Platform& os_;
    BSTR text_;
};

HRESULT DeleteInstance(platform::Platform& os, const wchar_t* objectClass, const GUID& instance) {
    platform::ComPtr<IWbemServices> services;
    HRESULT hr = ConnectSecurityCenter(os, services);
    if (FAILED(hr)) return hr;
    wchar_t guid[40] = {};
    ::StringFromGUID2(instance, guid, 40);
    wchar_t path[228 + 1] = {};
    const int length = std::swprintf(path, 228, L"%ls.instanceGuid=\"%ls\"", objectClass, guid);
    if (length > 0) {
        Bstr objectPath(os, path);
        hr = objectPath.get() ? os.DeleteInstance(services.get(), objectPath.get(), 0, nullptr, nullptr)
                              : E_OUTOFMEMORY;
    }
    return hr;
}

}  // namespace

bool IsBeforeXpSp2(platform::Platform& os) {
    OSVERSIONINFOEXA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    os.GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&version));
    if (version.dwMajorVersion < 5) return true;
    if (version.dwMajorVersion == 5 && version.dwMinorVersion == 0) return true;
    return version.dwMajorVersion == 5 && version.dwMinorVersion == 1 && version.wServicePackMajor < 2;
}

DWORD InitSecurityCenterCom(platform::Platform& os) {
    if (IsBeforeXpSp2(os)) return ERROR_CAN_NOT_COMPLETE;
    return FAILED(os.CoInitialize(nullptr)) ? ERROR_CAN_NOT_COMPLETE : ERROR_SUCCESS;
}

void UninitSecurityCenterCom(platform::Platform& os) {
    if (!IsBeforeXpSp2(os)) os.CoUninitialize();
}

HRESULT ConnectSecurityCenter(platform::Platform& os, platform::ComPtr<IWbemServices>& services) {
    platform::ComPtr<IWbemLocator> locator;
    HRESULT hr = os.CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                     IID_IWbemLocator, reinterpret_cast<void**>(locator.put()));
    if (FAILED(hr)) return hr;
    Bstr nameSpace(os, L"\\\\.\\root\\SecurityCenter");
    if (!nameSpace.get()) return E_OUTOFMEMORY;
    return os.ConnectServer(locator.get(), nameSpace.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                            services.put());
}

HRESULT DeleteAntiVirusProductInstance(platform::Platform& os) {
    return DeleteInstance(os, L"AntiVirusProduct", kAntiVirusInstanceGuid);
}

HRESULT DeleteFirewallProductInstance(platform::Platform& os) {
    return DeleteInstance(os, L"FirewallProduct", kFirewallInstanceGuid);
}

void CleanupSecurityCenter(platform::Platform& os) {
    if (!platform::IsWindowsNT(os)) return;
    if (InitSecurityCenterCom(os) != ERROR_SUCCESS) return;
    DeleteAntiVirusProductInstance(os);
    DeleteFirewallProductInstance(os);
    UninitSecurityCenterCom(os);
}
