#include "restore/firewall.h"

#include <cstdio>

#include "platform/handles.h"
#include "platform/platform.h"
#include "platform/windows_version.h"

namespace {

// The firewall manager's class and interface (not every SDK's libraries
// define them).
const CLSID kNetFwMgrClass = {0x304ce942, 0x6e39, 0x40d8, {0x94, 0x3a, 0xb9, 0x13, 0xc4, 0x0c, 0x9c, 0xd4}};
const IID kNetFwMgrInterface = {0xf7898af5, 0xcac4, 0x4632, {0xa2, 0xec, 0xda, 0x06, 0xe5, 0x11, 0x1a, 0xf2}};

}  // namespace

CWinFirewall::CWinFirewall(platform::Platform& os) : os_(os) {}

void CWinFirewall::Print(const char* format, HRESULT hr) {
    char text[128];
    std::snprintf(text, sizeof text, format, static_cast<unsigned long>(hr));
    os_.PrintStdout(text);
}

HRESULT CWinFirewall::WindowsFirewallInitialize(INetFwProfile** profile) {
    *profile = nullptr;
    platform::ComPtr<INetFwMgr> manager;
    HRESULT hr = os_.CoCreateInstance(kNetFwMgrClass, nullptr, CLSCTX_INPROC_SERVER, kNetFwMgrInterface,
                                      reinterpret_cast<void**>(manager.put()));
    if (FAILED(hr)) {
        Print("CoCreateInstance failed: 0x%08lx\n", hr);
        return hr;
    }
    platform::ComPtr<INetFwPolicy> policy;
    hr = os_.get_LocalPolicy(manager.get(), policy.put());
    if (FAILED(hr)) {
        Print("get_LocalPolicy failed: 0x%08lx\n", hr);
        return hr;
    }
    hr = os_.get_CurrentProfile(policy.get(), profile);
    if (FAILED(hr)) Print("get_CurrentProfile failed: 0x%08lx\n", hr);
    return hr;
}

HRESULT CWinFirewall::WindowsFirewallIsOn(INetFwProfile* profile, BOOL* on) {
    *on = FALSE;
    VARIANT_BOOL enabled = VARIANT_FALSE;
    HRESULT hr = os_.get_FirewallEnabled(profile, &enabled);
    if (FAILED(hr)) {
        Print("get_FirewallEnabled failed: 0x%08lx\n", hr);
        return hr;
    }
    *on = enabled != VARIANT_FALSE;
    os_.PrintStdout(*on ? "The firewall is on.\n" : "The firewall is off.\n");
    return hr;
}

HRESULT CWinFirewall::TurnTo(INetFwProfile* profile, bool on) {
    BOOL isOn = FALSE;
    HRESULT hr = WindowsFirewallIsOn(profile, &isOn);
    if (FAILED(hr)) {
        Print("WindowsFirewallIsOn failed: 0x%08lx\n", hr);
        return hr;
    }
    if ((isOn != FALSE) == on) return hr;
    hr = os_.put_FirewallEnabled(profile, on ? VARIANT_TRUE : VARIANT_FALSE);
    if (FAILED(hr)) {
        Print("put_FirewallEnabled failed: 0x%08lx\n", hr);
        return hr;
    }
    os_.PrintStdout(on ? "The firewall is now on.\n" : "The firewall is now off.\n");
    return hr;
}

HRESULT CWinFirewall::WindowsFirewallTurnOn(INetFwProfile* profile) { return TurnTo(profile, true); }

HRESULT CWinFirewall::WindowsFirewallTurnOff(INetFwProfile* profile) { return TurnTo(profile, false); }

void CWinFirewall::WindowsFirewallCleanup(INetFwProfile* profile) {
    if (profile) profile->Release();
}

DWORD CWinFirewall::RestoreWindowsFirewall() {
    OSVERSIONINFOA version;
    platform::GetWindowsVersion(os_, version);
    if (version.dwMajorVersion == 6) return 0;

    const HRESULT init = os_.CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    INetFwProfile* profile = nullptr;
    // An apartment that is already multi-threaded serves as it is; it is not
    // ours to end.
    if (FAILED(init) && init != RPC_E_CHANGED_MODE) {
        Print("CoInitializeEx failed: 0x%08lx\n", init);
    } else {
        HRESULT hr = WindowsFirewallInitialize(&profile);
        if (FAILED(hr)) {
            Print("WindowsFirewallInitialize failed: 0x%08lx\n", hr);
        } else if (FAILED(hr = WindowsFirewallTurnOff(profile))) {
            Print("WindowsFirewallTurnOff failed: 0x%08lx\n", hr);
        } else if (FAILED(hr = WindowsFirewallTurnOn(profile))) {
            Print("WindowsFirewallTurnOn failed: 0x%08lx\n", hr);
        }
    }
    WindowsFirewallCleanup(profile);
    if (SUCCEEDED(init)) os_.CoUninitialize();
    return 0;
}
