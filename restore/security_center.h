// The maker's registrations in the Windows Security Center, removed through
// WMI so that Windows no longer reports the removed product as the machine's
// protection.
#pragma once
#include <windows.h>
#include <wbemcli.h>

#include "platform/handles.h"

namespace platform { class Platform; }

// Instance GUIDs of the maker's antivirus and firewall registrations.
extern const GUID kAntiVirusInstanceGuid;  // {CC1B717A-B08B-4F20-BD44-CAA59C03E090}
extern const GUID kFirewallInstanceGuid;   // {CB4DB4AD-857C-43EF-8C8C-734022F31108}

// Windows before XP Service Pack 2 has no Security Center.
bool IsBeforeXpSp2(platform::Platform& os);
// 0, or 1003 (ERROR_CAN_NOT_COMPLETE) before XP SP2 or when COM fails.
DWORD InitSecurityCenterCom(platform::Platform& os);
void UninitSecurityCenterCom(platform::Platform& os);
// The connection to "\\.\root\SecurityCenter"; services is set on success.
HRESULT ConnectSecurityCenter(platform::Platform& os, platform::ComPtr<IWbemServices>& services);
HRESULT DeleteAntiVirusProductInstance(platform::Platform& os);
HRESULT DeleteFirewallProductInstance(platform::Platform& os);
// Both deletions on NT-family Windows; reports nothing.
void CleanupSecurityCenter(platform::Platform& os);
