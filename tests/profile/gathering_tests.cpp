// The gathering of the maker's leftover installer registrations, run through
// InitializeLists as a run does. The registrations are laid into the 64-bit
// view as the installer writes them (product records, upgrade code and
// component keys, folder values) and into both program-name caches, so the
// cases a real product cannot give (folder values, which Wine's installer
// does not write; odd publishers, value types and caches) are all here. The
// records of a product the real installer wrote: maker_product_tests.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "guard/path_guard.h"
#include "profile/engine.h"
#include "tests/support/list_text.h"
#include "tests/support/matchers.h"
#include "tests/support/test_dialog.h"
#include "tests/support/test_platform.h"
#include "trace/trace.h"

using testing_support::ProgramFolder;
using testing_support::ReadWholeFile;
using testing_support::TestDialog;
using testing_support::TestPlatform;
using testing_support::WriteWholeFile;

namespace {

using testing_support::SpecialFolder;

using Texts = std::vector<std::string>;

const char kInstaller[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer";
const char kUserData[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18";
const char kClassesUpgradeCodes[] = "SOFTWARE\\Classes\\Installer\\UpgradeCodes";
const char kMuiCache[] = "Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache";
const char kDefaultMuiCache[] = ".DEFAULT\\Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache";

// Every name the test lays down starts with this, so its entries can be told
// from whatever else the prefix's installer registered.
const char kMark[] = "C1EA";
const char kMakerProduct[] = "C1EA0000000000000000000000000001";      // publisher "VELMORAN Labs", no package
const char kMakerProductTwo[] = "C1EA0000000000000000000000000002";   // publisher "velmoran", cached package
const char kOtherProduct[] = "C1EA0000000000000000000000000003";      // another publisher

struct Value {
    HKEY root;
    std::string key;
    std::string name;
    DWORD type;
    std::string data;
};

std::string Under(const char* base, const std::string& rest) { return std::string(base) + "\\" + rest; }

// The machine: three product records, their upgrade code and component
// registrations, and the folder and cache values that name the maker.
std::vector<Value> Registrations() {
    const std::string products = Under(kUserData, "Products");
    const std::string components = Under(kUserData, "Components");
    const std::string upgrade = Under(kInstaller, "UpgradeCodes");
    return {
        {HKEY_LOCAL_MACHINE, products + "\\" + kMakerProduct + "\\InstallProperties", "Publisher", REG_SZ,
         "VELMORAN Labs"},
        {HKEY_LOCAL_MACHINE, products + "\\" + kMakerProductTwo + "\\InstallProperties", "Publisher", REG_SZ,
         "velmoran"},
        {HKEY_LOCAL_MACHINE, products + "\\" + kMakerProductTwo + "\\InstallProperties", "LocalPackage", REG_SZ,
         "C:\\Windows\\Installer\\c1ea0002.msi"},
        {HKEY_LOCAL_MACHINE, products + "\\" + kOtherProduct + "\\InstallProperties", "Publisher", REG_SZ,
         "Other Maker Inc"},
        {HKEY_LOCAL_MACHINE, products + "\\" + kOtherProduct + "\\InstallProperties", "LocalPackage", REG_SZ,
         "C:\\Windows\\Installer\\c1ea0003.msi"},
        {HKEY_LOCAL_MACHINE, upgrade + "\\C1EA00000000000000000000000000A1", kMakerProduct, REG_SZ, ""},
        {HKEY_LOCAL_MACHINE, upgrade + "\\C1EA00000000000000000000000000A3", kOtherProduct, REG_SZ, ""},
        {HKEY_LOCAL_MACHINE, Under(kClassesUpgradeCodes, "C1EA00000000000000000000000000A2"), kMakerProductTwo,
         REG_SZ, ""},
        // Found by the product id.
        {HKEY_LOCAL_MACHINE, components + "\\C1EA00000000000000000000000000C1", kMakerProduct, REG_SZ,
         "C:\\Program Files\\Acme\\a.dll"},
        // Found by its data, in every run: two values name the maker.
        {HKEY_LOCAL_MACHINE, components + "\\C1EA00000000000000000000000000C2", "C1EA00000000000000000000000000F1",
         REG_SZ, "c:\\program files\\VELMORAN\\a.dll"},
        {HKEY_LOCAL_MACHINE, components + "\\C1EA00000000000000000000000000C2", "C1EA00000000000000000000000000F2",
         REG_SZ, "C:\\Velmoran\\b.dll"},
        // Binary data is text up to its first zero byte, or its end.
        {HKEY_LOCAL_MACHINE, components + "\\C1EA00000000000000000000000000C3", "C1EA00000000000000000000000000F3",
         REG_BINARY, std::string("xxVelmoranxx", 12)},
        {HKEY_LOCAL_MACHINE, components + "\\C1EA00000000000000000000000000C4", "C1EA00000000000000000000000000F4",
         REG_BINARY, std::string("AB", 2)},
        {HKEY_LOCAL_MACHINE, components + "\\C1EA00000000000000000000000000C4", "C1EA00000000000000000000000000F6",
         REG_BINARY, std::string("zzzzzzzzzzzz", 12)},
        {HKEY_LOCAL_MACHINE, components + "\\C1EA00000000000000000000000000C5", "C1EA00000000000000000000000000F5",
         REG_SZ, "C:\\Program Files\\Acme\\b.dll"},
        {HKEY_LOCAL_MACHINE, Under(kInstaller, "Folders"), "C:\\Program Files\\Velmoran\\C1EA\\", REG_SZ, ""},
        {HKEY_LOCAL_MACHINE, Under(kInstaller, "Folders"), "C:\\Program Files\\Acme\\C1EA\\", REG_SZ, ""},
        {HKEY_CURRENT_USER, kMuiCache, "C:\\Program Files\\Velmoran\\C1EA.exe", REG_SZ, "Velmoran App"},
        {HKEY_USERS, kDefaultMuiCache, "C:\\Velmoran\\C1EATray.exe", REG_SZ, "Tray"},
    };
}

LSTATUS Write(const Value& v) {
    HKEY key = nullptr;
    LSTATUS rc = ::RegCreateKeyExA(v.root, v.key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                                   &key, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    rc = ::RegSetValueExA(key, v.name.c_str(), 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                          static_cast<DWORD>(v.data.size() + (v.type == REG_SZ ? 1 : 0)));
    ::RegCloseKey(key);
    return rc;
}

// Removes what Write laid down: the test's keys whole, the test's values in
// shared keys.
void Remove(const Value& v) {
    const size_t mark = v.key.find(kMark);
    if (mark != std::string::npos) {
        const size_t end = v.key.find('\\', mark);
        const std::string top = v.key.substr(0, end);
        const size_t slash = top.rfind('\\');
        HKEY parent = nullptr;
        if (::RegOpenKeyExA(v.root, top.substr(0, slash).c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &parent) ==
            ERROR_SUCCESS) {
            ::RegDeleteTreeA(parent, top.substr(slash + 1).c_str());
            ::RegCloseKey(parent);
        }
        return;
    }
    HKEY key = nullptr;
    if (::RegOpenKeyExA(v.root, v.key.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
        ::RegDeleteValueA(key, v.name.c_str());
        ::RegCloseKey(key);
    }
}

// Elements of a list that the test laid down.
Texts Marked(TSet& list) {
    Texts out;
    for (const std::string& element : testing_support::Elements(list)) {
        if (element.find(kMark) != std::string::npos || element.find("c1ea") != std::string::npos) {
            out.push_back(element);
        }
    }
    return out;
}

// Whatever the buffer held beyond the bytes an enumeration returned: here
// the maker's word, so a read past the returned data would find it.
class StaleBufferPlatform : public TestPlatform {
public:
    LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved, LPDWORD type,
                          LPBYTE data, LPDWORD dataSize) override {
        const DWORD capacity = dataSize ? *dataSize : 0;
        LSTATUS rc = TestPlatform::RegEnumValueW(key, index, name, nameSize, reserved, type, data, dataSize);
        if (rc == ERROR_SUCCESS && data) {
            static const char kWord[] = "VELMORAN";
            for (DWORD i = *dataSize; i < capacity; ++i) data[i] = static_cast<BYTE>(kWord[(i - *dataSize) % 8]);
        }
        return rc;
    }
};

class GatheringTest : public ::testing::Test {
protected:
    GatheringTest() : engine_(os_) { engine_.dialog = &dialog_; }

    void SetUp() override {
        TraceShutdown();
        for (const Value& v : Registrations()) ASSERT_EQ(Write(v), ERROR_SUCCESS) << v.key << "\\" << v.name;
    }
    void TearDown() override {
        TraceShutdown();
        for (const Value& v : Registrations()) Remove(v);
        ::DeleteFileA(ConfigPath().c_str());
    }
    static std::string ConfigPath() { return ProgramFolder() + "gathering_tests.cfg"; }

    DWORD Run(int forceMsi, const std::string& fileSection = "") {
        WriteWholeFile(ConfigPath(), "[msi upgradecode 1]\n[service 1]\n[process 1]\n[registry value 1]\n"
                                     "[registry key 1]\n[file 1]\n" +
                                         fileSection);
        return engine_.InitializeLists(0, forceMsi);
    }
    std::string Log() {
        TraceShutdown();
        return ReadWholeFile(SpecialFolder(CSIDL_COMMON_APPDATA) + "\\Velmoran clearway\\gathering_tests.log");
    }

    StaleBufferPlatform os_;
    TestDialog dialog_;
    CNuke engine_;
};

const std::string kHklm = "HKEY_LOCAL_MACHINE\\";

TEST_F(GatheringTest, WithoutForceMsiOnlyComponentsThatNameTheMakerAreTaken) {
    ASSERT_EQ(Run(0), 0u);
    const std::string components = kHklm + kUserData + "\\Components\\";
    // The binary value is matched within its own bytes only.
    EXPECT_EQ(Marked(engine_.removeRegKeyList),
              (Texts{components + "C1EA00000000000000000000000000C2", components + "C1EA00000000000000000000000000C3"}));
    EXPECT_EQ(Marked(engine_.removeRegValueList), Texts{});
    EXPECT_EQ(Marked(engine_.expandedFileList), Texts{});
    const std::string log = Log();
    EXPECT_THAT(log, HasSubstr("GatherS1518ComponentQtAssemblies()\r\n")) << log;
    EXPECT_THAT(log, Not(HasSubstr("ProductBasedMSIRemoval"))) << log;
}

TEST_F(GatheringTest, ForceMsiTakesTheMakersProductsWithEverythingThatRefersToThem) {
    ASSERT_EQ(Run(1), 0u);
    const std::string products = kHklm + kUserData + "\\Products\\";
    const std::string components = kHklm + kUserData + "\\Components\\";
    const std::string classes = kHklm + "SOFTWARE\\Classes\\Installer\\";
    Texts keys = {
        classes + "Features\\" + kMakerProduct,
        classes + "Features\\" + kMakerProductTwo,
        classes + "Products\\" + kMakerProduct,
        classes + "Products\\" + kMakerProductTwo,
        classes + "UpgradeCodes\\C1EA00000000000000000000000000A2",
        kHklm + kInstaller + "\\UpgradeCodes\\C1EA00000000000000000000000000A1",
        products + kMakerProduct,
        products + kMakerProductTwo,
        components + "C1EA00000000000000000000000000C1",
        components + "C1EA00000000000000000000000000C2",
        components + "C1EA00000000000000000000000000C3",
    };
    Texts marked = Marked(engine_.removeRegKeyList);
    std::sort(keys.begin(), keys.end(), [](const std::string& a, const std::string& b) {
        return _stricmp(a.c_str(), b.c_str()) < 0;
    });
    EXPECT_EQ(marked, keys);
    EXPECT_EQ(Marked(engine_.removeRegValueList),
              (Texts{"HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\ShellNoRoam\\MUICache\\"
                     "c:---program files---velmoran---c1ea.exe",
                     kHklm + kInstaller + "\\Folders\\c:---program files---velmoran---c1ea---",
                     "HKEY_USERS\\.DEFAULT\\Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache\\"
                     "c:---velmoran---c1eatray.exe"}));
    // The cached package in the form of every other file element.
    EXPECT_EQ(Marked(engine_.expandedFileList), Texts{"C:\\WINDOWS\\INSTALLER\\C1EA0002.MSI"});
    const std::string log = Log();
    EXPECT_THAT(log, HasSubstr(std::string("ProductBasedMSIRemoval: local cache MSI package '' retrieve failed with error "
                                   "'2'...\r\n")))
        << log;
    EXPECT_THAT(log, HasSubstr("ProductBasedMSIRemoval: adding local cache MSI package "
                       "'C:\\Windows\\Installer\\c1ea0002.msi' for deletion...\r\n"));
    EXPECT_THAT(log, Not(HasSubstr(kOtherProduct)));
}

// Names the code page cannot hold, laid down in wide text: read through the
// ANSI calls, a fullwidth reverse solidus shows as a backslash and a
// fullwidth letter as the letter, so each would name a neighbour's key or
// value, or pass for a product id. They are left alone, and so is the
// neighbour.
TEST_F(GatheringTest, NamesTheCodePageCannotHoldNameNothing) {
    const std::wstring components = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\"
                                    L"Components\\";
    const std::wstring folders = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";
    struct Wide {
        std::wstring key, name, data;
    };
    const Wide laid[] = {
        // "C1EA...C6\\C1EA...C7" in the ANSI listing, with the maker in its data.
        {components + L"C1EA00000000000000000000000000C6\xFF3C" L"C1EA00000000000000000000000000C7",
         L"C1EA00000000000000000000000000F7", L"C:\\Velmoran\\c.dll"},
        // The neighbour it would name: another maker's.
        {components + L"C1EA00000000000000000000000000C6\\C1EA00000000000000000000000000C7",
         L"C1EA00000000000000000000000000F8", L"C:\\Acme\\c.dll"},
        // A value whose name reads as another product's id next to it.
        {components + L"C1EA00000000000000000000000000C8", L"C1EA000000000000000000000000000\xFF11", L""},
        // The maker's word in fullwidth letters is not the maker's word.
        {components + L"C1EA00000000000000000000000000C9", L"C1EA00000000000000000000000000F9",
         L"C:\\\xFF36\xFF25\xFF2C\xFF2D\xFF2F\xFF32\xFF21\xFF2E\\d.dll"},
        // A folder value whose name reads as the maker's folder.
        {folders, L"C:\\Program Files\\Velmoran\\C1EA\\x\xFF3C", L""},
    };
    for (const Wide& w : laid) {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, w.key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                                    nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(::RegSetValueExW(key, w.name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(w.data.c_str()),
                                   static_cast<DWORD>((w.data.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
        ::RegCloseKey(key);
    }
    const DWORD rc = Run(1);
    for (const std::wstring& top : {components + L"C1EA00000000000000000000000000C6\xFF3C"
                                                L"C1EA00000000000000000000000000C7",
                                   components + L"C1EA00000000000000000000000000C6",
                                   components + L"C1EA00000000000000000000000000C8",
                                   components + L"C1EA00000000000000000000000000C9"}) {
        ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (top + L"\\C1EA00000000000000000000000000C7").c_str(),
                          KEY_WOW64_64KEY, 0);
        ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, top.c_str(), KEY_WOW64_64KEY, 0);
    }
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, folders.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key),
              ERROR_SUCCESS);
    ::RegDeleteValueW(key, laid[4].name.c_str());
    ::RegCloseKey(key);
    ASSERT_EQ(rc, 0u);

    // What the machine's own registrations give, and nothing of the above.
    const Texts keys = Marked(engine_.removeRegKeyList);
    for (const char* never : {"C6", "C7", "C8", "C9"}) {
        for (const std::string& k : keys) {
            EXPECT_EQ(k.find(std::string("000000000000000000000000") + never), std::string::npos) << k;
        }
    }
    for (const std::string& v : Marked(engine_.removeRegValueList)) {
        EXPECT_EQ(v.find("c1ea---x"), std::string::npos) << v;
    }
    const std::string log = Log();
    EXPECT_THAT(log, HasSubstr("EnumerateRegKeyEnumerateSubKeysAndMatchValue: leaving the key "
                               "'C1EA00000000000000000000000000C6?C1EA00000000000000000000000000C7' of '" +
                               std::string(kUserData) + "\\Components' alone: its name does not fit the code page"))
        << log;
    EXPECT_THAT(log, HasSubstr("EnumerateRegKeyAndMatchValue: leaving the value 'C1EA000000000000000000000000000?' of"))
        << log;
}

// A component two products share keeps the other product's registration:
// only the maker's client value goes, found by its product id or by its
// data, and the key stays.
TEST_F(GatheringTest, ASharedComponentLosesOnlyTheMakersClient) {
    const std::string component = Under(kUserData, "Components\\C1EA00000000000000000000000000CA");
    const Value clients[] = {
        {HKEY_LOCAL_MACHINE, component, kMakerProduct, REG_SZ, "C:\\Program Files\\Velmoran\\shared.dll"},
        {HKEY_LOCAL_MACHINE, component, kOtherProduct, REG_SZ, "C:\\Program Files\\Acme\\shared.dll"},
    };
    for (const Value& v : clients) ASSERT_EQ(Write(v), ERROR_SUCCESS);
    const DWORD rc = Run(1);
    Remove(clients[0]);
    ASSERT_EQ(rc, 0u);
    const std::string key = kHklm + component;
    for (const std::string& k : Marked(engine_.removeRegKeyList)) EXPECT_NE(k, key);
    const Texts values = Marked(engine_.removeRegValueList);
    const std::string makers = guard::UpperText((key + "\\" + kMakerProduct).c_str());
    bool found = false;
    for (const std::string& v : values) {
        found = found || guard::UpperText(v.c_str()) == makers;
        EXPECT_EQ(guard::UpperText(v.c_str()).find(kOtherProduct), std::string::npos) << v;
    }
    EXPECT_TRUE(found) << testing::PrintToString(values);
}

TEST_F(GatheringTest, AnIgnoredCachedPackageStays) {
    ASSERT_EQ(Run(1, "ignore=GUID,BY_VALUE,\"c:\\windows\\installer\\C1EA0002.MSI\"\n"), 0u);
    ASSERT_EQ(Marked(engine_.expandedFileList).size(), 1u);
    ASSERT_EQ(engine_.PopulateLists(), 0u);
    EXPECT_EQ(Marked(engine_.expandedFileList), Texts{});
}

TEST_F(GatheringTest, MissingKeysAreTracedWithTheirCode) {
    engine_.OpenTraceLog();
    EXPECT_EQ(engine_.EnumerateRegKeyAndMatchValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\C1EA\\Missing", "x",
                                                   engine_.removeRegValueList, false, false),
              2u);
    EXPECT_EQ(engine_.EnumerateRegKeyEnumerateSubKeysAndMatchValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\C1EA\\Missing",
                                                                   "x", engine_.removeRegKeyList, true),
              2u);
    std::string name = "unchanged";
    engine_.ParseRegKeyPrefixCString(HKEY_PERFORMANCE_DATA, name);
    EXPECT_EQ(name, "unchanged");
    const std::string log = Log();
    for (const char* line :
         {"EnumerateRegKeyAndMatchValue: Failed to open 'SOFTWARE\\C1EA\\Missing' with error '2'\r\n",
          "EnumerateRegKeyEnumerateSubKeysAndMatchValue: Failed to open 'SOFTWARE\\C1EA\\Missing', "
          "reported error '2'\r\n",
          "Warning: ParseRegKeyPrefixCString received invalid hrootKey parameter\r\n"}) {
        EXPECT_THAT(log, HasSubstr(line)) << line << "\n" << log;
    }
}

}  // namespace
