// The MSI tool without installed packages: the command line, the rights
// test, the console texts, the registry value operations and versions.
#include <windows.h>

#include <cwchar>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "msitool/command_line.h"
#include "msitool/console.h"
#include "msitool/msitool.h"
#include "msitool/product.h"
#include "msitool/product_family.h"
#include "msitool/registry_value.h"
#include "msitool/user_info.h"
#include "platform/handles.h"
#include "tests/msitool/msitool_test_support.h"
#include "tests/support/test_platform.h"

using msitool_testing::kUnknownUpgradeCode;
using msitool_testing::Narrow;
using testing_support::TestPlatform;

namespace {

const std::wstring kCode = kUnknownUpgradeCode;

// ---- command line ----

// Flags of a parsed command line, as a row states them.
enum : unsigned { Valid = 1, Help = 2, Uninstall = 4, Hide = 8, Enumerates = 16 };

TEST(MsiToolCommandLine, SwitchesAndResults) {
    const std::wstring C = kCode;  // nothing of it is installed
    const wchar_t* program = L"C:\\tools\\msitool.exe";
    // A text row goes to RunMsiTool; a row with `vector` set is an argument
    // vector (program first) and goes to MsiToolMain.
    struct Row {
        std::vector<std::wstring> words;
        bool vector;
        unsigned flags;  // Enumerates: the installer is asked for the code's products
        std::wstring upgradeCode;
        int argumentCount, result;
    };
    const Row rows[] = {
        {{L""}, false, 0, L"", 1, 160},
        {{L"   "}, false, 0, L"", 1, 160},
        {{L"/uninstall"}, false, Valid | Uninstall, L"", 2, 0},
        {{L"/uninstall /uninstall"}, false, Valid | Uninstall, L"", 3, 0},
        {{L"  /HideOldAddRemoves   /uninstall "}, false, Valid | Uninstall | Hide, L"", 3, 0},
        {{L"/? /bogus"}, false, Valid | Help, L"", 3, 0},
        {{L"-h /uninstall"}, false, Valid | Help, L"", 3, 0},
        {{L"--HELP"}, false, Valid | Help, L"", 2, 0},
        {{L"/bogus /?"}, false, 0, L"", 3, 160},
        {{L"/uninstall /bogus"}, false, Uninstall, L"", 3, 160},
        {{L"/U:" + C}, false, 0, L"", 2, 160},
        // Three words: the first two are parsed, the line is still invalid.
        {{L"/uninstall /u:{X} /?"}, false, Uninstall, L"{X}", 3, 160},
        {{L"/h /u:{X} /uninstall"}, false, Help, L"", 3, 160},
        {{L"/uninstall /u:" + C}, false, Valid | Uninstall | Enumerates, C, 3, 0},
        {{L"/u:" + C}, false, Valid | Enumerates, C, 2, 0},
        {{L"/uninstall /u:{X}:" + C}, false, Valid | Uninstall | Enumerates, C, 3, 0},
        {{L"x/u:" + C}, false, Valid | Enumerates, C, 2, 0},
        {{L"/hideoldaddremoves /u:" + C}, false, Valid | Hide | Enumerates, C, 3, 0},
        // A code the installer refuses ends the enumeration at once.
        {{L"/uninstall /u:not-a-code"}, false, Valid | Uninstall | Enumerates, L"not-a-code", 3, 0},
        {{program}, true, 0, L"", 1, 160},
        {{}, true, 0, L"", 0, 160},
        {{program, L"/uninstall", L"/u:" + C, L"/?"}, true, 0, L"", 4, 160},
        {{program, L"/uninstall", L"/u:" + C}, true, Valid | Uninstall | Enumerates, C, 3, 0},
        {{program, L"/?", L"/bogus"}, true, Valid | Help, L"", 3, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.vector ? "vector of " + std::to_string(row.words.size()) : "text '" + Narrow(row.words[0]) + "'");
        std::vector<wchar_t*> argv;
        for (const std::wstring& word : row.words) argv.push_back(const_cast<wchar_t*>(word.c_str()));
        const CommandLine parsed = row.vector ? CommandLine(static_cast<int>(argv.size()), argv.data())
                                              : CommandLine(row.words[0].c_str());
        EXPECT_EQ(parsed.IsValid(), (row.flags & Valid) != 0);
        EXPECT_EQ(parsed.help, (row.flags & Help) != 0);
        EXPECT_EQ(parsed.uninstall, (row.flags & Uninstall) != 0);
        EXPECT_EQ(parsed.hideOldAddRemoves, (row.flags & Hide) != 0);
        EXPECT_EQ(parsed.upgradeCode, row.upgradeCode);
        EXPECT_EQ(parsed.argumentCount, row.argumentCount);
        EXPECT_EQ(parsed.programName, row.vector && !argv.empty() ? std::wstring(program) : std::wstring());

        TestPlatform os;
        os.console = true;
        const int result = row.vector ? MsiToolMain(os, static_cast<int>(argv.size()), argv.data(), true)
                                      : RunMsiTool(os, row.words[0].c_str(), true);
        EXPECT_EQ(result, row.result);
        if (row.flags & Enumerates) {
            ASSERT_EQ(os.enumCalls.size(), 1u);
            EXPECT_EQ(os.enumCalls[0].upgradeCode, row.upgradeCode);
            EXPECT_NE(os.enumCalls[0].result, 0u);
        } else {
            EXPECT_TRUE(os.enumCalls.empty());
        }
        EXPECT_TRUE(os.configuredProducts.empty());
        EXPECT_EQ(os.consoleWrites.empty(), !row.vector);  // RunMsiTool writes nothing
    }
}

// ---- rights ----

// Changes the local Administrators group of a token's groups.
void EditAdministrators(TOKEN_GROUPS* groups, DWORD attributes, DWORD rid) {
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        if (!::IsWellKnownSid(groups->Groups[i].Sid, WinBuiltinAdministratorsSid)) continue;
        groups->Groups[i].Attributes = attributes;
        *::GetSidSubAuthority(groups->Groups[i].Sid, 1) = rid;
        return;
    }
    ADD_FAILURE() << "the token holds no Administrators group";
}

TEST(MsiToolRights, AdministratorsGroupDecides) {
    const DWORD kReal = ~0u;  // the token as Wine gives it
    struct Row {
        const char* name;
        DWORD attributes;  // of the Administrators group, or kReal
        DWORD rid;         // the group's alias: 544 administrators, 546 guests, 545 users
        DWORD majorVersion;
        bool administrator, guest;
    };
    const DWORD denyOnly = SE_GROUP_USE_FOR_DENY_ONLY;
    const DWORD enabled = SE_GROUP_ENABLED | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_MANDATORY;
    const Row rows[] = {
        {"Wine's token (the prefix user is an administrator)", kReal, 544, 0, true, false},
        {"deny-only on Windows 6: without elevation", denyOnly, 544, 6, true, false},
        {"deny-only on Windows 5", denyOnly, 544, 5, false, false},
        {"present but not enabled", 0, 544, 6, false, false},
        {"enabled on Windows 5", enabled, 544, 5, true, false},
        {"users only", enabled, 545, 6, false, false},
        {"guests", enabled, 546, 6, false, true},
        {"guests deny-only on Windows 6", denyOnly, 546, 6, false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TestPlatform os;
        os.console = true;
        os.windowsMajorVersion = row.majorVersion;
        if (row.attributes != kReal) {
            os.editTokenGroups = [&row](TOKEN_GROUPS* groups) { EditAdministrators(groups, row.attributes, row.rid); };
        }
        UserInfo user(os);
        EXPECT_EQ(user.IsAdministrator(), row.administrator);
        EXPECT_EQ(user.IsGuest(), row.guest);
        EXPECT_TRUE(os.consoleWrites.empty());

        // The entries test the rights unless told not to.
        EXPECT_EQ(RunMsiTool(os, (L"/uninstall /u:" + kCode).c_str(), false), row.administrator ? 0 : 5);
        if (row.administrator) {
            EXPECT_TRUE(os.consoleWrites.empty());
            EXPECT_EQ(os.enumCalls.size(), 1u);
        } else {
            ASSERT_EQ(os.consoleWrites.size(), 1u);
            EXPECT_EQ(os.consoleWrites[0].which, static_cast<DWORD>(STD_ERROR_HANDLE));
            EXPECT_TRUE(os.consoleWrites[0].throughConsole);
            EXPECT_EQ(os.consoleWrites[0].text,
                      L"Initialization Error: Insufficient privileges.\nThis tool needs to be run with administrative "
                      L"rights.\nPlease log in as an administrator or use the 'Run as...'\nfunctionality to run the "
                      L"tool with administrative rights.\n");
            EXPECT_TRUE(os.enumCalls.empty());
            os.consoleWrites.clear();
            EXPECT_FALSE(UserInfo(os).CheckAdministrator(false));
            EXPECT_TRUE(os.consoleWrites.empty());
        }
        EXPECT_EQ(RunMsiTool(os, (L"/uninstall /u:" + kCode).c_str(), true), 0);
    }
}

// ---- console texts ----

const std::wstring kBanner = L"\nVelmoran Msi Tool v1.0.56 \n";
const std::wstring kUsage = FormatConsoleText(kMsiToolUsage, L"msitool_tests.exe");

TEST(MsiToolMain, BannerAlwaysAndUsageForHelpOrABadLineOnTheConsole) {
    const std::wstring codeSwitch = L"/u:" + kCode;
    struct Row {
        std::vector<const wchar_t*> arguments;
        bool usage;
        int result;
    };
    const Row rows[] = {
        {{L"C:\\anywhere\\msitool.exe"}, true, 160},
        {{L"msitool.exe", L"/?"}, true, 0},
        {{L"msitool.exe", L"/hideoldaddremoves", L"/bogus"}, true, 160},
        {{L"msitool.exe", codeSwitch.c_str()}, false, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments.size());
        TestPlatform os;
        os.console = true;
        std::vector<wchar_t*> argv;
        for (const wchar_t* argument : row.arguments) argv.push_back(const_cast<wchar_t*>(argument));
        EXPECT_EQ(MsiToolMain(os, static_cast<int>(argv.size()), argv.data(), false), row.result);
        ASSERT_EQ(os.consoleWrites.size(), row.usage ? 2u : 1u);
        for (const auto& write : os.consoleWrites) {
            EXPECT_EQ(write.which, static_cast<DWORD>(STD_OUTPUT_HANDLE));
            EXPECT_TRUE(write.throughConsole);
        }
        EXPECT_EQ(os.consoleWrites[0].text, kBanner);
        // The usage names the running program, not the first argument.
        if (row.usage) {
            EXPECT_EQ(os.consoleWrites[1].text, kUsage);
        }
    }
}

TEST(MsiToolMain, OutputRedirectedToAFileIsWrittenAsUtf8) {
    wchar_t folder[MAX_PATH] = {};
    ASSERT_NE(::GetTempPathW(MAX_PATH, folder), 0u);
    const std::wstring path = std::wstring(folder) + L"clearway msitool output.txt";
    platform::FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    const HANDLE standardOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    ASSERT_TRUE(::SetStdHandle(STD_OUTPUT_HANDLE, file.get()));
    wchar_t program[] = L"msitool.exe";
    wchar_t* argv[] = {program};
    TestPlatform os;  // the real handles: a file is no console
    const int result = MsiToolMain(os, 1, argv, true);
    ::SetStdHandle(STD_OUTPUT_HANDLE, standardOutput);
    file.reset();
    EXPECT_EQ(result, 160);

    const std::string written = testing_support::ReadWholeFile(Narrow(path));
    ::DeleteFileW(path.c_str());
    EXPECT_EQ(written, Narrow(kBanner + kUsage));
    ASSERT_EQ(os.consoleWrites.size(), 2u);
    EXPECT_FALSE(os.consoleWrites[0].throughConsole);
}

// ---- an installer that throws ----

TEST(MsiToolInstallerFaults, ExceptionsLeaveTheEntryWithTheInterfaceLevelRestored) {
    TestPlatform os;
    os.enumRelatedProducts = [](LPCWSTR, DWORD, LPWSTR) -> UINT { throw std::runtime_error("installer fault"); };
    EXPECT_THROW(RunMsiTool(os, (L"/uninstall /u:" + kCode).c_str(), true), std::runtime_error);

    // One product whose removal throws: the family is torn down on the way
    // out and the installer's interface level comes back.
    os.enumRelatedProducts = [](LPCWSTR, DWORD index, LPWSTR productCode) -> UINT {
        if (index > 0) return ERROR_NO_MORE_ITEMS;
        wcscpy(productCode, L"{00000000-0000-4000-8000-000000000001}");
        return ERROR_SUCCESS;
    };
    os.configureProductFault = [](LPCWSTR) -> UINT { throw std::runtime_error("installer fault"); };
    EXPECT_THROW(RunMsiTool(os, (L"/uninstall /u:" + kCode).c_str(), true), std::runtime_error);
    ASSERT_EQ(os.uiLevels.size(), 2u);
    EXPECT_EQ(os.uiLevels[0], INSTALLUILEVEL_NONE);
    EXPECT_NE(os.uiLevels[1], INSTALLUILEVEL_NONE);
    EXPECT_EQ(::MsiSetInternalUI(INSTALLUILEVEL_NOCHANGE, nullptr), os.uiLevels[1]);
}

// ---- versions ----

// A product record with a version of the test's choosing.
class VersionedProduct : public Product {
public:
    VersionedProduct(platform::Platform& os, const wchar_t* version)
        : Product(os, L"{00000000-0000-4000-8000-00000000000F}") {
        versionString = version;
    }
};

TEST(MsiToolVersions, ParseGivesMinusOneForMissingParts) {
    struct Row {
        const wchar_t* text;
        bool ok;
        int parts[4];
    };
    const Row rows[] = {
        {L"1.2.3.4", true, {1, 2, 3, 4}},  {L"1.2.3", true, {1, 2, 3, -1}},
        {L"10.20", true, {10, 20, -1, -1}}, {L"7", true, {7, -1, -1, -1}},
        {L"  3.1  ", true, {3, 1, -1, -1}}, {L"2.0beta", true, {2, 0, -1, -1}},
        {L"v2.0", false, {99, 99, 99, 99}}, {L"", false, {99, 99, 99, 99}},
    };
    TestPlatform os;
    for (const Row& row : rows) {
        SCOPED_TRACE(Narrow(row.text));
        VersionedProduct product(os, row.text);
        int parts[4] = {99, 99, 99, 99};  // untouched on failure
        EXPECT_EQ(product.ParseVersion(parts[0], parts[1], parts[2], parts[3]), row.ok);
        EXPECT_EQ(std::vector<int>(parts, parts + 4), std::vector<int>(row.parts, row.parts + 4));
    }
}

TEST(MsiToolVersions, NewerComparesPartByPart) {
    struct Row {
        const wchar_t *a, *b;
        int order;  // 1: a is newer, -1: b is newer, 0: neither
    };
    const Row rows[] = {
        {L"2.0.0.0", L"2.0", 1},      {L"5.0", L"5", 1},          {L"5.0.0", L"5.0", 1},
        {L"1.10", L"1.9", 1},         {L"10.0", L"9.9.9.9", 1},  {L"1.2.3.4", L"1.2.3.4", 0},
        {L" 3.1 ", L"3.1", 0},        {L"v9", L"0.0.0.0", 0},    {L"v9", L"0.0.0.1", -1},
        {L"", L"-1", 1},              {L"1.0.0.1", L"1.0.0.0", 1},
    };
    TestPlatform os;
    for (const Row& row : rows) {
        SCOPED_TRACE(Narrow(row.a) + " against " + Narrow(row.b));
        VersionedProduct a(os, row.a), b(os, row.b);
        EXPECT_EQ(a.IsNewerThan(b), row.order > 0);
        EXPECT_EQ(b.IsNewerThan(a), row.order < 0);
    }
}

TEST(MsiToolText, Trim) {
    struct Row {
        const wchar_t *text, *characters, *trimmed;
    };
    const Row rows[] = {
        {L"  3.1  ", L" ", L"3.1"}, {L"xy-a b-yx", L"xy-", L"a b"}, {L"   ", L" ", L""},
        {L" a ", L"", L" a "},      {L"", L" ", L""},              {L"a", L" ", L"a"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Trim(row.text, row.characters), row.trimmed) << Narrow(row.text);
    }
}

// ---- registry values ----

const wchar_t kUserKey[] = L"HKEY_CURRENT_USER\\Software\\Clearway Tests\\msitool";
const wchar_t kMachineKey[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Clearway Tests\\msitool view";

class MsiToolRegistryValues : public ::testing::Test {
protected:
    void SetUp() override {
        Clean();
        platform::RegKey key;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Clearway Tests\\msitool", 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        const wchar_t name[] = L"Velmoran Agent";
        ASSERT_EQ(::RegSetValueExW(key.get(), L"Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(name), sizeof name),
                  ERROR_SUCCESS);
    }
    void TearDown() override { Clean(); }
    static void Clean() {
        ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Clearway Tests\\msitool");
        ::RegDeleteValueA(HKEY_CURRENT_USER, "Clearway msitool probe");
        platform::RegKey machine;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Clearway Tests", 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                            machine.put()) == ERROR_SUCCESS) {
            ::RegDeleteTreeA(machine.get(), "msitool view");
        }
    }
    TestPlatform os_;
};

TEST_F(MsiToolRegistryValues, ResultCodesInOrder) {
    enum Operation { Read, Write };
    const DWORD kNoCheck = ~0u;
    struct Row {
        Operation operation;
        std::wstring spec;
        DWORD view;
        DWORD bytes;  // read buffer
        DWORD result;
        DWORD number;          // a read's double word, or kNoCheck
        const wchar_t* text;   // a read's text, or null
    };
    const std::wstring user = kUserKey;
    const std::wstring machine = kMachineKey;
    const Row rows[] = {
        {Read, user + L"\\\\Name", 0, 2000, 0, kNoCheck, L"Velmoran Agent"},
        {Read, L"hkey_current_user\\Software\\Clearway Tests\\msitool\\\\Name  ", 0, 2000, 0, kNoCheck,
         L"Velmoran Agent"},
        {Read, user + L"\\\\Name", 0, 8, 3, kNoCheck, nullptr},
        {Read, user + L"\\\\Missing", 0, 2000, 2, kNoCheck, nullptr},
        {Read, user + L"\\Missing\\\\Name", 0, 2000, 1, kNoCheck, nullptr},
        {Read, L"HKEY_CURRENT_USER", 0, 2000, 4, kNoCheck, nullptr},
        {Read, user + L"\\Name", 0, 2000, 4, kNoCheck, nullptr},
        {Read, L"HKEY_NOWHERE\\Software\\\\Name", 0, 2000, 4, kNoCheck, nullptr},
        {Write, user + L"\\\\Count", 0, 0, 4, kNoCheck, nullptr},
        {Write, user + L"\\\\Count|-5  ", 0, 0, 0, kNoCheck, nullptr},
        {Read, user + L"\\\\Count", 0, 4, 0, 0xFFFFFFFBu, nullptr},
        {Write, user + L"\\\\Count|", 0, 0, 0, kNoCheck, nullptr},
        {Read, user + L"\\\\Count", 0, 4, 2, kNoCheck, nullptr},
        {Write, user + L"\\\\Count|", 0, 0, 2, kNoCheck, nullptr},
        {Write, user + L"\\Made\\Here\\\\Count|12", 0, 0, 0, kNoCheck, nullptr},
        {Read, user + L"\\Made\\Here\\\\Count", 0, 4, 0, 12, nullptr},
        // The value of a root key itself.
        {Write, L"HKEY_CURRENT_USER\\\\Clearway msitool probe|3", 0, 0, 0, kNoCheck, nullptr},
        {Read, L"HKEY_CURRENT_USER\\\\Clearway msitool probe", 0, 4, 0, 3, nullptr},
        {Write, L"HKEY_CURRENT_USER\\\\Clearway msitool probe|", 0, 0, 0, kNoCheck, nullptr},
        {Read, L"HKEY_CURRENT_USER\\\\Clearway msitool probe", 0, 4, 2, kNoCheck, nullptr},
        // Views: a key written in the 64-bit view is not in the 32-bit one,
        // which is also the view of the 32-bit program itself.
        {Write, machine + L"\\\\Shown|1", RegistryView64, 0, 0, kNoCheck, nullptr},
        {Read, machine + L"\\\\Shown", RegistryView64, 4, 0, 1, nullptr},
        {Read, machine + L"\\\\Shown", RegistryView32, 4, 1, kNoCheck, nullptr},
        {Read, machine + L"\\\\Shown", 0, 4, 1, kNoCheck, nullptr},
        {Read, machine + L"\\\\Shown", RegistryView32 | RegistryView64, 4, 0, 1, nullptr},
    };
    int step = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE("step " + std::to_string(step++) + ": " + Narrow(row.spec));
        if (row.operation == Write) {
            EXPECT_EQ(WriteRegistryValue(os_, row.spec, true, REG_DWORD, row.view), row.result);
            continue;
        }
        BYTE buffer[2000] = {};
        EXPECT_EQ(ReadRegistryValue(os_, buffer, row.bytes, row.spec, row.view), row.result);
        if (row.number != kNoCheck) {
            EXPECT_EQ(*reinterpret_cast<const DWORD*>(buffer), row.number);
        }
        if (row.text) {
            EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(buffer)), row.text);
        }
    }
}

}  // namespace
