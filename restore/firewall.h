// CWinFirewall: leaves the Windows Firewall of the current profile switched
// on after a removal, switching it off first when it is on. Every message
// goes to standard output.
#pragma once
#include <windows.h>
#include <netfw.h>

namespace platform { class Platform; }

class CWinFirewall {
public:
    explicit CWinFirewall(platform::Platform& os);
    virtual ~CWinFirewall() = default;

    // Always 0; failures end the sequence with their message.
    DWORD RestoreWindowsFirewall();

    // The current profile of the local policy; *profile is set on success.
    HRESULT WindowsFirewallInitialize(INetFwProfile** profile);
    HRESULT WindowsFirewallIsOn(INetFwProfile* profile, BOOL* on);
    HRESULT WindowsFirewallTurnOn(INetFwProfile* profile);
    HRESULT WindowsFirewallTurnOff(INetFwProfile* profile);
    // Releases the profile when there is one.
    void WindowsFirewallCleanup(INetFwProfile* profile);

private:
    void Print(const char* format, HRESULT hr);
    HRESULT TurnTo(INetFwProfile* profile, bool on);
    platform::Platform& os_;
};
