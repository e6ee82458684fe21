// The guard against real folders, links and keys of the prefix: every
// spelling of one place resolves to one form, every form that could reach
// somewhere else is refused, and the places no removal may take are refused
// in every spelling, with a wildcard directly inside them as well.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

#include "guard/key_guard.h"
#include "guard/name_guard.h"
#include "guard/path_guard.h"
#include "platform/platform.h"
#include "tests/support/matchers.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_key.h"
#include "tests/support/test_platform.h"

namespace {

using testing_support::Lower;
using testing_support::SpecialFolder;
using testing_support::Upper;

using testing_support::TempFolder;

// Resolves path; the form, or "refused: <reason>".
std::string Resolve(platform::Platform& os, const std::string& path) {
    std::string resolved;
    const char* reason = guard::ResolvePath(os, path.c_str(), resolved);
    return reason ? std::string("refused: ") + reason : resolved;
}

class GuardTest : public ::testing::Test {
protected:
    GuardTest() : tree_("guard") {
        ::CreateDirectoryA((tree_ / "Long Folder Name").c_str(), nullptr);
        ::CreateDirectoryA((tree_ / "Long Folder Name\\Inner").c_str(), nullptr);
        ::CreateDirectoryA((tree_ / "Target").c_str(), nullptr);
        testing_support::WriteWholeFile(tree_ / "Target\\file.txt", "x");
    }
    platform::Platform os_;
    TempFolder tree_;
};

TEST_F(GuardTest, EverySpellingOfAPathResolvesToOneForm) {
    const std::string base = Upper(tree_.path());
    const std::string inner = base + "\\LONG FOLDER NAME\\INNER";
    char shortName[MAX_PATH] = {};
    ::GetShortPathNameA((tree_ / "Long Folder Name").c_str(), shortName, MAX_PATH);
    const struct {
        std::string spelling;
        std::string resolved;
    } cases[] = {
        {inner, inner},
        {Lower(tree_.path()) + "\\long folder name\\inner", inner},
        {base + "\\Long Folder Name\\.\\Inner", inner},
        {base + "\\Long Folder Name\\Gone\\..\\Inner", inner},
        {base + "\\\\Long Folder Name\\\\Inner\\", inner},
        {tree_.path() + "/Long Folder Name/Inner", inner},
        {base + "\\Long Folder Name.\\Inner. ", inner},
        {std::string(shortName) + "\\Inner", inner},
        {base + "\\NOT THERE\\..\\..\\" + base.substr(base.rfind('\\') + 1), base},
        {base + "\\No Such\\Deeper", base + "\\NO SUCH\\DEEPER"},  // below what exists, as written
        {"C:", "C:\\"},                                            // a root without its backslash
        // The real System32, not the folder the redirector shows a 32-bit
        // program: the restart deletes in the real one.
        {SpecialFolder(CSIDL_SYSTEM) + "\\drivers\\velfs.sys", Upper(SpecialFolder(CSIDL_SYSTEM)) + "\\DRIVERS\\VELFS.SYS"},
    };
    ASSERT_NE(std::strchr(shortName, '~'), nullptr) << shortName;
    for (const auto& c : cases) EXPECT_EQ(Resolve(os_, c.spelling), c.resolved) << c.spelling;
}

TEST_F(GuardTest, FormsThatCouldReachElsewhereAreRefused) {
    const struct {
        const char* spelling;
        const char* reason;
    } cases[] = {
        {"\\WINDOWS", "not a full path"},            // the current drive's
        {"\\Program Files\\X", "not a full path"},
        {"WINDOWS\\SYSTEM32", "not a full path"},   // the current folder's: System32 when elevated
        {"..\\X", "not a full path"},
        {"C:WINDOWS", "not a full path"},           // drive-relative
        {"\\\\?\\C:\\WINDOWS", "UNC, device or NT"},
        {"\\\\.\\C:", "UNC, device or NT"},
        {"\\??\\C:\\WINDOWS", "UNC, device or NT"},
        {"\\\\SERVER\\SHARE\\X", "UNC, device or NT"},
        {"//server/share", "UNC, device or NT"},
        {"C:\\X::$INDEX_ALLOCATION", "colon after the drive"},
        {"C:\\X:STREAM", "colon after the drive"},
        {"", "empty"},
    };
    for (const auto& c : cases) {
        const std::string result = Resolve(os_, c.spelling);
        EXPECT_EQ(result.find("refused: "), 0u) << c.spelling << " -> " << result;
        EXPECT_THAT(result, HasSubstr(c.reason)) << c.spelling << " -> " << result;
    }
}

TEST_F(GuardTest, AFolderReachedThroughALinkIsJudgedByItsTarget) {
    // Wine shows a Unix symbolic link to a folder as a link (a reparse point).
    testing_support::UnixLink link(testing_support::UnixPath(tree_ / "Target"),
                                   testing_support::UnixPath(tree_ / "Link"));
    ASSERT_EQ(link.made, 0u);
    ASSERT_NE(::GetFileAttributesA((tree_ / "Link").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    const std::string base = Upper(tree_.path());
    // The link itself, as the last name, is kept as a name: it is removed as
    // itself, never followed.
    EXPECT_EQ(Resolve(os_, tree_ / "Link"), base + "\\LINK");
    const std::string through = Resolve(os_, tree_ / "Link\\file.txt");
    std::string final;
    guard::ResolveFinalPath(os_, (tree_ / "Link").c_str(), final);
    if (os_.HasGetFinalPathNameByHandleA() && final == base + "\\TARGET") {
        EXPECT_EQ(through, base + "\\TARGET\\FILE.TXT");
    } else {
        // A link that could not be resolved is refused rather than judged
        // by its name.
        EXPECT_EQ(through, "refused: a folder along it is a link that could not be resolved");
    }
}

// The folders a guard made on this machine refuses, in several spellings.
TEST_F(GuardTest, ProtectedFoldersAreRefusedInEverySpellingAndSoAreBareWildcardsInThem) {
    const std::vector<std::string> macros = {SpecialFolder(CSIDL_APPDATA), SpecialFolder(CSIDL_COMMON_APPDATA),
                                             SpecialFolder(CSIDL_PERSONAL), SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY)};
    guard::FolderGuard folders(os_, macros);
    const std::string windows = SpecialFolder(CSIDL_WINDOWS);
    const std::string profile = SpecialFolder(CSIDL_PROFILE);
    const std::string users = profile.substr(0, profile.rfind('\\'));
    const std::string appData = SpecialFolder(CSIDL_APPDATA);
    const std::string common = SpecialFolder(CSIDL_COMMON_APPDATA);
    const std::string programs = SpecialFolder(CSIDL_PROGRAM_FILES);
    char shortPrograms[MAX_PATH] = {};
    ::GetShortPathNameA(programs.c_str(), shortPrograms, MAX_PATH);

    auto refused = [&](const std::string& path) {
        std::string resolved;
        if (const char* reason = guard::ResolvePath(os_, path.c_str(), resolved)) return std::string(reason);
        return folders.Refuses(resolved);
    };
    for (const std::string& path :
         {std::string("C:"), std::string("c:\\"), windows, Lower(windows) + "\\system32\\..", windows + "\\.",
          windows + "\\System32", windows + "\\SysWOW64", programs, std::string(shortPrograms),
          programs + "\\Gone\\..", users, profile, profile + "\\..\\.\\" + profile.substr(users.size() + 1),
          users + "\\Somebody-Else", appData, users + "\\Somebody-Else" + appData.substr(profile.size()), common,
          Lower(common) + "\\\\"}) {
        EXPECT_FALSE(refused(path).empty()) << path;
    }
    for (const std::string& path : {common + "\\Velmoran", appData + "\\Velmoran", programs + "\\Velmoran",
                                    windows + "\\System32\\drivers\\velfs.sys", tree_.path()}) {
        EXPECT_EQ(refused(path), "") << path;
    }

    // A wildcard name directly inside them needs three literal characters.
    for (const std::string& folder : {std::string("C:"), common, appData, programs, windows, windows + "\\System32",
                                      profile, Lower(common) + "\\.\\"}) {
        for (const char* bare : {"*", "*.*", "?*", "*.log", "Ve*", "<", ">>>*", "Velmoran*\\..\\*"}) {
            const std::string pattern = folder + "\\" + bare;
            EXPECT_NE(folders.RefusesPattern(pattern.c_str()), "") << pattern;
        }
        for (const char* literal : {"Velmoran*", "Vel*.log", "Velmoran Parlowe*.lnk"}) {
            const std::string pattern = folder + "\\" + literal;
            EXPECT_EQ(folders.RefusesPattern(pattern.c_str()), "") << pattern;
        }
    }
    // Deeper than directly inside, a bare wildcard is the product's own.
    EXPECT_EQ(folders.RefusesPattern((common + "\\Velmoran\\*").c_str()), "");
    EXPECT_EQ(folders.RefusesPattern((common + "\\Velmoran\\*\\x.log").c_str()), "");
}

TEST_F(GuardTest, AProfileReachedThroughACompatibilityLinkIsRefused) {
    // The profiles folder under another name, as "Documents and Settings"
    // names it on later Windows.
    const std::string profile = SpecialFolder(CSIDL_PROFILE);
    const std::string users = profile.substr(0, profile.rfind('\\'));
    testing_support::UnixLink link(testing_support::UnixPath(users), testing_support::UnixPath(tree_ / "Compat"));
    ASSERT_EQ(link.made, 0u);
    guard::FolderGuard folders(os_, {SpecialFolder(CSIDL_APPDATA)});
    const std::string viaLink = tree_ / ("Compat" + profile.substr(users.size()));
    std::string resolved;
    const char* reason = guard::ResolvePath(os_, viaLink.c_str(), resolved);
    EXPECT_TRUE(reason || !folders.Refuses(resolved).empty()) << viaLink << " -> " << resolved;
    const std::string pattern = tree_ / ("Compat" + profile.substr(users.size()) + "\\*");
    EXPECT_NE(folders.RefusesPattern(pattern.c_str()), "") << pattern;
    // A link named as the very folder a wildcard is listed in lists its
    // target: a bare wildcard there is judged by the target.
    EXPECT_NE(folders.RefusesPattern((tree_ / "Compat\\*").c_str()), "");
    EXPECT_EQ(folders.RefusesPattern((tree_ / "Compat\\Velmoran*").c_str()), "");
}

TEST(GuardKeys, EverySpellingOfAKeyOfTheSystemIsRefusedInEitherView) {
    platform::Platform os;
    guard::KeyGuard keys(os);
    for (const char* entry : {
             "HKEY_LOCAL_MACHINE", "HKEY_LOCAL_MACHINE\\", "HKEY_USERS", "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER\\",
             "HKEY_CURRENT_CONFIG", "HKEY_LOCAL_MACHINE\\SOFTWARE\\", "hkey_local_machine\\software",
             "HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Microsoft\\", "HKEY_LOCAL_MACHINE/SOFTWARE/Microsoft/Windows",
             "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node", "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432NODE\\Microsoft",
             "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
             "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
             "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\",
             "HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes",
             "HKEY_CLASSES_ROOT\\CLSID", "HKEY_CLASSES_ROOT\\Wow6432Node\\CLSID", "HKEY_LOCAL_MACHINE\\SYSTEM",
             "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet", "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services",
             "HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\\", "HKEY_LOCAL_MACHINE\\SAM",
             "HKEY_CURRENT_USER\\Software", "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
             "HKEY_USERS\\S-1-5-21-1-2-3-1001", "HKEY_USERS\\S-1-5-21-1-2-3-1001\\Software",
             "HKEY_USERS\\.DEFAULT\\Software\\Classes", "HKEY_USERS\\S-1-5-21-1-2-3-1001_Classes",
             "SOFTWARE\\Velmoran",  // no root: nothing a removal can name
         }) {
        EXPECT_NE(keys.Refuses(entry), "") << entry;
    }
    for (const char* entry : {
             "HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmoran", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Velmoran",
             "HKEY_CLASSES_ROOT\\VelmoranShell.Handler", "HKEY_CLASSES_ROOT\\CLSID\\{0F1E2D3C-0000-0000-0000-000000000001}",
             "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmoran Parlowe",
             "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VelParlowe",
             "HKEY_CURRENT_USER\\Software\\Velmoran", "HKEY_USERS\\S-1-5-21-1-2-3-1001\\Software\\Velmoran",
         }) {
        EXPECT_EQ(keys.Refuses(entry), "") << entry;
    }
    // Every spelling of one key compares as one; the 32-bit view's key
    // written out is the same key for a removal, which takes both views.
    const std::string product = keys.Canonical("HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmoran\\Shared");
    for (const char* spelling : {"hkey_local_machine\\software\\velmoran\\shared\\",
                                 "HKEY_LOCAL_MACHINE\\\\SOFTWARE\\Wow6432Node\\Velmoran\\Shared",
                                 "HKEY_LOCAL_MACHINE/SOFTWARE/VELMORAN//SHARED"}) {
        EXPECT_EQ(keys.Canonical(spelling), product) << spelling;
    }
    EXPECT_EQ(keys.Canonical("HKEY_CLASSES_ROOT\\VelFile"), keys.Canonical("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\VelFile"));
    EXPECT_EQ(keys.Canonical("HKEY_CLASSES_ROOT\\Wow6432Node\\CLSID\\{X}"),
              keys.Canonical("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{X}"));
    // The current user's hive and classes under each of their names.
    const std::string sid = testing_support::UserSid();
    ASSERT_FALSE(sid.empty());
    const struct {
        std::string one, other;
    } sameKeys[] = {
        {"HKEY_CURRENT_USER\\Software\\Velmoran", "HKEY_USERS\\" + sid + "\\Software\\Velmoran"},
        {"HKEY_USERS\\" + sid + "_Classes\\VelFile", "HKEY_CURRENT_USER\\Software\\Classes\\VelFile"},
        {"hkey_users\\" + sid + "_classes\\Wow6432Node\\CLSID\\{X}", "HKEY_CURRENT_USER\\Software\\Classes\\CLSID\\{X}"},
    };
    for (const auto& c : sameKeys) EXPECT_EQ(keys.Canonical(c.one.c_str()), keys.Canonical(c.other.c_str())) << c.one;
    EXPECT_EQ(keys.Forms("HKEY_CLASSES_ROOT\\VelFile"),
              (std::vector<std::string>{keys.Canonical("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\VelFile"),
                                        keys.Canonical("HKEY_CURRENT_USER\\Software\\Classes\\VelFile")}));
    EXPECT_NE(keys.Refuses(("HKEY_USERS\\" + sid + "_Classes\\CLSID").c_str()), "");
    EXPECT_EQ(keys.Refuses(("HKEY_USERS\\" + sid + "_Classes\\VelFile").c_str()), "");
    const std::string services = keys.Canonical("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VelParlowe");
    EXPECT_THAT(services, Not(HasSubstr("CURRENTCONTROLSET"))) << services;  // the numbered set it stands for
    EXPECT_THAT(services, HasSubstr("\\CONTROLSET00")) << services;

    // A name pattern directly inside such a key needs a literal start; a
    // key of the product takes any pattern.
    const char* run = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    for (const char* bare : {"*", "?*", "*VELMORAN*", "Ve*"}) {
        EXPECT_NE(keys.RefusesPattern(run, bare), "") << bare;
        EXPECT_NE(keys.RefusesPattern("HKEY_LOCAL_MACHINE\\SOFTWARE\\", bare), "") << bare;
        EXPECT_NE(keys.RefusesPattern("HKEY_CLASSES_ROOT", bare), "") << bare;
        EXPECT_EQ(keys.RefusesPattern("HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmoran", bare), "") << bare;
    }
    EXPECT_EQ(keys.RefusesPattern(run, "Velmoran*"), "");
    EXPECT_EQ(keys.RefusesPattern(run, "VelmoranTray"), "");
}

// A data pattern holds a word of its own, or it filters nothing.
TEST(GuardNames, ADataPatternNeedsAWordThatIsNoExtension) {
    for (const char* pattern : {"*VELMORAN*", "*\\Velmoran\\*.sys", "velparlowe*", "*.velmoran*", "*\xE9tude*"}) {
        EXPECT_TRUE(guard::HoldsWord(pattern)) << pattern;
    }
    for (const char* pattern : {"*", "*.SYS*", "*EXE*", "*\\*", "*.dll", "*a*b*c*", "*C:\\*", "*12345*", ""}) {
        EXPECT_FALSE(guard::HoldsWord(pattern)) << pattern;
    }
}

TEST(GuardNames, PatternsThatCouldReachTheSystemsOwnAreRefused) {
    for (const char* pattern : {"*", "?*", "*.exe", "V*", "VE?*", "sv*"}) {
        EXPECT_NE(guard::RefusesNamePattern(pattern), "") << pattern;
    }
    for (const char* pattern : {"VEL*", "velparlowe*", "VELPARLOWEUPDATE", "svchost.exe", "vel?arlowe"}) {
        EXPECT_EQ(guard::RefusesNamePattern(pattern), "") << pattern;
    }
    for (const char* name : {"System", "smss.exe", "CSRSS.EXE", "wininit.exe", "winlogon.exe", "Services.exe",
                             "lsass.exe", "svchost.exe"}) {
        EXPECT_TRUE(guard::IsSystemProcess(name)) << name;
    }
    EXPECT_FALSE(guard::IsSystemProcess("velparlowe.exe"));
    for (const char* name : {"msiserver", "MSISERVER", "winmgmt", "RpcSs", "rpcss", "DcomLaunch"}) {
        EXPECT_TRUE(guard::IsNeededService(name)) << name;
    }
    EXPECT_FALSE(guard::IsNeededService("VelParlowe"));
}

}  // namespace
