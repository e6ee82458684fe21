// The Security Center clean-up and the firewall restore with stand-ins for
// the WMI and firewall objects (Wine has them only in part), and once each
// against what Wine itself answers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "restore/firewall.h"
#include "restore/security_center.h"
#include "tests/support/test_platform.h"

using testing_support::TestPlatform;

namespace {

// An object the stand-in hands out: only its reference count matters.
class FakeObject final : public IUnknown {
public:
    explicit FakeObject(int& live) : live_(live) { ++live_; }
    virtual ~FakeObject() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        if (--references_ != 0) return references_;
        --live_;
        delete this;
        return 0;
    }

private:
    int& live_;
    ULONG references_ = 1;
};

template <typename Interface>
Interface* NewFake(int& live) {
    return reinterpret_cast<Interface*>(static_cast<IUnknown*>(new FakeObject(live)));
}

// A machine with a chosen Windows version, COM state and firewall.
class RestorePlatform : public TestPlatform {
public:
    DWORD major = 5, minor = 1, servicePack = 2;
    BOOL GetVersionExA(LPOSVERSIONINFOA info) override {
        TestPlatform::GetVersionExA(info);
        info->dwMajorVersion = major;
        info->dwMinorVersion = minor;
        if (info->dwOSVersionInfoSize >= sizeof(OSVERSIONINFOEXA)) {
            reinterpret_cast<OSVERSIONINFOEXA*>(info)->wServicePackMajor = static_cast<WORD>(servicePack);
        }
        return TRUE;
    }

    bool fake = true;  // false: Wine's own COM objects answer
    HRESULT initResult = S_OK, createResult = S_OK, policyResult = S_OK, profileResult = S_OK;
    HRESULT getResult = S_OK, putOffResult = S_OK, putOnResult = S_OK, connectResult = S_OK;
    bool firewallOn = false;
    int live = 0, initCalls = 0, uninitCalls = 0, stateChanges = 0;
    std::string printed;
    std::vector<std::wstring> deleted, namespaces;

    int PrintStdout(const char* text) override {
        printed += text;
        return fake ? 0 : TestPlatform::PrintStdout(text);
    }
    HRESULT CoInitialize(LPVOID reserved) override {
        ++initCalls;
        return fake ? initResult : TestPlatform::CoInitialize(reserved);
    }
    HRESULT CoInitializeEx(LPVOID reserved, DWORD model) override {
        ++initCalls;
        return fake ? initResult : TestPlatform::CoInitializeEx(reserved, model);
    }
    void CoUninitialize() override {
        ++uninitCalls;
        if (!fake) TestPlatform::CoUninitialize();
    }
    HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object) override {
        if (!fake) return TestPlatform::CoCreateInstance(clsid, outer, context, iid, object);
        if (FAILED(createResult)) return createResult;
        *object = NewFake<IUnknown>(live);
        return S_OK;
    }
    HRESULT ConnectServer(IWbemLocator* locator, const BSTR nameSpace, const BSTR user, const BSTR password,
                          const BSTR locale, long flags, const BSTR authority, IWbemContext* context,
                          IWbemServices** services) override {
        if (!fake) {
            return TestPlatform::ConnectServer(locator, nameSpace, user, password, locale, flags, authority, context,
                                               services);
        }
        namespaces.push_back(nameSpace);
        EXPECT_TRUE(!user && !password && !locale && !authority && !context && flags == 0);
        if (FAILED(connectResult)) return connectResult;
        *services = NewFake<IWbemServices>(live);
        return S_OK;
    }
    HRESULT DeleteInstance(IWbemServices* services, const BSTR path, long flags, IWbemContext* context,
                           IWbemCallResult** result) override {
        if (!fake) return TestPlatform::DeleteInstance(services, path, flags, context, result);
        deleted.push_back(path);
        return WBEM_E_NOT_FOUND;
    }
    HRESULT get_LocalPolicy(INetFwMgr* manager, INetFwPolicy** policy) override {
        if (!fake) return TestPlatform::get_LocalPolicy(manager, policy);
        if (FAILED(policyResult)) return policyResult;
        *policy = NewFake<INetFwPolicy>(live);
        return S_OK;
    }
    HRESULT get_CurrentProfile(INetFwPolicy* policy, INetFwProfile** profile) override {
        if (!fake) return TestPlatform::get_CurrentProfile(policy, profile);
        if (FAILED(profileResult)) return profileResult;
        *profile = NewFake<INetFwProfile>(live);
        return S_OK;
    }
    HRESULT get_FirewallEnabled(INetFwProfile* profile, VARIANT_BOOL* enabled) override {
        if (!fake) return TestPlatform::get_FirewallEnabled(profile, enabled);
        *enabled = firewallOn ? VARIANT_TRUE : VARIANT_FALSE;
        return getResult;
    }
    HRESULT put_FirewallEnabled(INetFwProfile* profile, VARIANT_BOOL enabled) override {
        if (!fake) return TestPlatform::put_FirewallEnabled(profile, enabled);
        const HRESULT result = enabled ? putOnResult : putOffResult;
        if (SUCCEEDED(result)) {
            firewallOn = enabled != VARIANT_FALSE;
            ++stateChanges;
        }
        return result;
    }
};

const HRESULT kFail = E_FAIL;  // 0x80004005

TEST(FirewallRestoreTest, EndsSwitchedOnOrSaysWhereItStopped) {
    struct Case {
        const char* name;
        void (*setup)(RestorePlatform&);
        const char* printed;
        bool onAfter;
        int stateChanges;
        int uninitCalls;
    };
    const Case cases[] = {
        {"off", [](RestorePlatform&) {}, "The firewall is off.\nThe firewall is off.\nThe firewall is now on.\n",
         true, 1, 1},
        {"on", [](RestorePlatform& p) { p.firewallOn = true; },
         "The firewall is on.\nThe firewall is now off.\nThe firewall is off.\nThe firewall is now on.\n", true, 2, 1},
        {"version 6", [](RestorePlatform& p) { p.major = 6; }, "", false, 0, 0},
        {"apartment already multi-threaded", [](RestorePlatform& p) { p.initResult = RPC_E_CHANGED_MODE; },
         "The firewall is off.\nThe firewall is off.\nThe firewall is now on.\n", true, 1, 0},
        {"COM fails", [](RestorePlatform& p) { p.initResult = kFail; }, "CoInitializeEx failed: 0x80004005\n", false,
         0, 0},
        {"no manager", [](RestorePlatform& p) { p.createResult = REGDB_E_CLASSNOTREG; },
         "CoCreateInstance failed: 0x80040154\nWindowsFirewallInitialize failed: 0x80040154\n", false, 0, 1},
        {"no policy", [](RestorePlatform& p) { p.policyResult = kFail; },
         "get_LocalPolicy failed: 0x80004005\nWindowsFirewallInitialize failed: 0x80004005\n", false, 0, 1},
        {"no profile", [](RestorePlatform& p) { p.profileResult = kFail; },
         "get_CurrentProfile failed: 0x80004005\nWindowsFirewallInitialize failed: 0x80004005\n", false, 0, 1},
        {"state unreadable", [](RestorePlatform& p) { p.getResult = kFail; },
         "get_FirewallEnabled failed: 0x80004005\nWindowsFirewallIsOn failed: 0x80004005\n"
         "WindowsFirewallTurnOff failed: 0x80004005\n",
         false, 0, 1},
        {"cannot switch off",
         [](RestorePlatform& p) {
             p.firewallOn = true;
             p.putOffResult = kFail;
         },
         "The firewall is on.\nput_FirewallEnabled failed: 0x80004005\nWindowsFirewallTurnOff failed: 0x80004005\n",
         true, 0, 1},
        {"cannot switch on", [](RestorePlatform& p) { p.putOnResult = kFail; },
         "The firewall is off.\nThe firewall is off.\nput_FirewallEnabled failed: 0x80004005\n"
         "WindowsFirewallTurnOn failed: 0x80004005\n",
         false, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RestorePlatform os;
        c.setup(os);
        CWinFirewall firewall(os);
        EXPECT_EQ(firewall.RestoreWindowsFirewall(), 0u);
        EXPECT_EQ(os.printed, c.printed);
        EXPECT_EQ(os.firewallOn, c.onAfter);
        EXPECT_EQ(os.stateChanges, c.stateChanges);
        EXPECT_EQ(os.uninitCalls, c.uninitCalls);
        EXPECT_EQ(os.live, 0);  // manager, policy and profile all released
    }
}

TEST(SecurityCenterTest, RemovesBothRegistrationsFromXpSp2On) {
    const std::wstring antivirus = L"AntiVirusProduct.instanceGuid=\"{CC1B717A-B08B-4F20-BD44-CAA59C03E090}\"";
    const std::wstring firewall = L"FirewallProduct.instanceGuid=\"{CB4DB4AD-857C-43EF-8C8C-734022F31108}\"";
    struct Case {
        const char* name;
        DWORD major, minor, servicePack, platformId;
        HRESULT initResult, connectResult;
        std::vector<std::wstring> deleted;
        int connections;
    };
    const Case cases[] = {
        {"XP SP2", 5, 1, 2, VER_PLATFORM_WIN32_NT, S_OK, S_OK, {antivirus, firewall}, 2},
        {"Windows 7", 6, 1, 0, VER_PLATFORM_WIN32_NT, S_OK, S_OK, {antivirus, firewall}, 2},
        {"XP SP1", 5, 1, 1, VER_PLATFORM_WIN32_NT, S_OK, S_OK, {}, 0},
        {"Windows 2000", 5, 0, 4, VER_PLATFORM_WIN32_NT, S_OK, S_OK, {}, 0},
        {"Windows 98", 5, 1, 2, VER_PLATFORM_WIN32_WINDOWS, S_OK, S_OK, {}, 0},
        {"COM fails", 5, 1, 2, VER_PLATFORM_WIN32_NT, kFail, S_OK, {}, 0},
        {"no connection", 5, 1, 2, VER_PLATFORM_WIN32_NT, S_OK, static_cast<HRESULT>(WBEM_E_INVALID_NAMESPACE), {}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RestorePlatform os;
        os.major = c.major;
        os.minor = c.minor;
        os.servicePack = c.servicePack;
        os.platformId = c.platformId;
        os.initResult = c.initResult;
        os.connectResult = c.connectResult;
        CleanupSecurityCenter(os);
        EXPECT_EQ(os.deleted, c.deleted);
        EXPECT_EQ(os.namespaces, std::vector<std::wstring>(c.connections, L"\\\\.\\root\\SecurityCenter"));
        EXPECT_EQ(os.uninitCalls, c.connections ? 1 : 0);
        EXPECT_EQ(os.live, 0);
    }
}

// What the system's own objects do. Wine has no Security Center namespace,
// and its firewall profile reads its state but cannot change it (E_NOTIMPL);
// on Windows the namespace answers and the restore ends with the firewall on.
TEST(WineObjectsTest, SecurityCenterAndFirewallAsTheSystemAnswers) {
    RestorePlatform os;
    os.fake = false;
    os.major = 6;
    ASSERT_EQ(InitSecurityCenterCom(os), 0u);
    platform::ComPtr<IWbemServices> services;
    const HRESULT connected = ConnectSecurityCenter(os, services);
    const HRESULT removed = DeleteAntiVirusProductInstance(os);
    services.reset();
    UninitSecurityCenterCom(os);
    EXPECT_TRUE(FAILED(removed));  // nothing of ours is registered

    os.major = 5;
    CWinFirewall firewall(os);
    EXPECT_EQ(firewall.RestoreWindowsFirewall(), 0u);
    if (testing_support::RunningOnWine()) {
        EXPECT_EQ(connected, static_cast<HRESULT>(WBEM_E_INVALID_NAMESPACE));
        EXPECT_EQ(os.printed,
                  "The firewall is off.\nThe firewall is off.\nput_FirewallEnabled failed: 0x80004001\n"
                  "WindowsFirewallTurnOn failed: 0x80004001\n");
    } else {
        EXPECT_EQ(connected, S_OK);
        EXPECT_EQ(os.printed.substr(os.printed.size() - std::strlen("The firewall is now on.\n")),
                  "The firewall is now on.\n");
    }
}

}  // namespace
