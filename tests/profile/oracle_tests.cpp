// An oracle that shares none of the product's text logic. Configurations
// are generated that reach protected and ignored places through every
// spelling (case, "." and "..", doubled separators, trailing dots, short
// names, links, macros, relative and device forms, bare wildcards), the
// profile is built from each on the real machine, and then:
// - every listed file and folder is identified by its file identity (volume
//   serial and file index): none is a protected folder, and none is, or
//   lies inside, a folder that must stay whole (walking up the real parents
//   as Windows opens them, links followed);
// - a planted name the code page cannot hold, which the ANSI calls show as a
//   climb out of the product's folder, lists nothing of where it points;
// - every folder given new permissions is no link, and neither is nor holds
//   anything that must stay;
// - every listed key and value's key is opened in each view it would be
//   deleted from and named by the registry itself: none is a key of the
//   system, and none is, or lies inside, a key that must stay.
// CLEARWAY_ORACLE_CASES sets the number of cases: 250 in make test, 2,000 in
// make fuzz.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "profile/engine.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_dialog.h"
#include "tests/support/test_key.h"
#include "tests/support/test_platform.h"
#include "trace/trace.h"

namespace {

using testing_support::SpecialFolder;

using testing_support::ProgramFolder;
using testing_support::TempFolder;
using testing_support::TestPlatform;
using testing_support::WriteWholeFile;

// ---- files by identity ----

struct FileId {
    DWORD volume = 0, high = 0, low = 0;
    bool operator<(const FileId& o) const {
        return volume != o.volume ? volume < o.volume : high != o.high ? high < o.high : low < o.low;
    }
};

// The identity of what path opens: the last name itself when it is a link
// and followLast is false, else what Windows reaches through it.
bool Identify(const std::string& path, bool followLast, FileId& id) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLast ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    platform::FileHandle file(::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, flags, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!file || !::GetFileInformationByHandle(file.get(), &info)) return false;
    id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

// Every folder a path's deletion passes through, by identity: each textual
// parent opened as Windows opens it.
std::vector<FileId> ParentIds(const std::string& path) {
    std::vector<FileId> ids;
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1)) {
        FileId id;
        if (Identify(path.substr(0, at), true, id)) ids.push_back(id);
    }
    FileId root;
    if (path.size() >= 3 && Identify(path.substr(0, 3), true, root)) ids.push_back(root);
    return ids;
}

// ---- keys by the name the registry gives them ----

using NtQueryKeyFunction = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);

// The registry's own name of the key (\REGISTRY\MACHINE\...), upper case;
// empty when it does not open in that view.
std::string KeyName(const std::string& entry, REGSAM view) {
    static const NtQueryKeyFunction query = reinterpret_cast<NtQueryKeyFunction>(
        reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQueryKey")));
    const size_t slash = entry.find('\\');
    const std::string rootText = entry.substr(0, slash);
    const std::map<std::string, HKEY> roots = {{"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                                               {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                                               {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
                                               {"HKEY_USERS", HKEY_USERS}};
    const auto root = roots.find(rootText);
    if (!query || root == roots.end()) return "";
    platform::RegKey key;
    const std::string path = slash == std::string::npos ? "" : entry.substr(slash + 1);
    if (::RegOpenKeyExA(root->second, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return "";
    std::vector<ULONG> buffer(1024);
    ULONG length = 0;
    if (query(key.get(), 3 /* KeyNameInformation */, buffer.data(), static_cast<ULONG>(buffer.size() * 4),
              &length) != 0) {
        return "";
    }
    const wchar_t* name = reinterpret_cast<const wchar_t*>(&buffer[1]);
    std::string out;
    for (ULONG i = 0; i < buffer[0] / 2; ++i) out += static_cast<char>(std::toupper(name[i] & 0x7F));
    return out;
}

bool SameOrInside(const std::string& name, const std::string& folder) {
    return !folder.empty() && (name == folder || name.compare(0, folder.size() + 1, folder + "\\") == 0);
}

const char kKeyBase[] = "SOFTWARE\\ClearwayTests\\Oracle";
const std::string kK = std::string("HKEY_LOCAL_MACHINE\\") + kKeyBase;

class OracleTest : public ::testing::Test {
protected:
    OracleTest() : tree_("oracle") {
        t_ = tree_.path();
        for (const char* folder : {"Product Files", "Product Files\\Sub", "Product Files\\Keep",
                                   "Product Files\\Keep\\Inner", "Product Files\\Deep", "Product Files\\Deep\\x",
                                   "Product Files\\Deep\\x\\Keep2", "Other"}) {
            ::CreateDirectoryA((tree_ / folder).c_str(), nullptr);
        }
        for (const char* file : {"Product Files\\a.dll", "Product Files\\Sub\\b.log", "Product Files\\Keep\\k.dat",
                                 "Product Files\\Keep\\Inner\\i.dat", "Product Files\\Deep\\x\\Keep2\\k2.dat",
                                 "Other\\o.dat"}) {
            WriteWholeFile(tree_ / file, "x");
        }
        // A name another user chose that the code page cannot hold: the ANSI
        // calls show fullwidth dots and a reverse solidus as "..\Other".
        std::wstring climbing;
        for (char c : tree_ / "Product Files") climbing += static_cast<wchar_t>(static_cast<unsigned char>(c));
        climbing += L"\\\xFF0E\xFF0E\xFF3COther";
        ::CreateDirectoryW(climbing.c_str(), nullptr);
        platform::FileHandle planted(::CreateFileW((climbing + L"\\planted.dat").c_str(), GENERIC_WRITE, 0, nullptr,
                                                   CREATE_ALWAYS, 0, nullptr));
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            for (const char* sub : {"\\Product\\Keep\\Deeper", "\\Product\\Drop", "\\Other\\X"}) {
                testing_support::SetText(HKEY_LOCAL_MACHINE, std::string(kKeyBase) + sub, "V", "x", view);
            }
        }
    }
    ~OracleTest() override {
        testing_support::DeleteKeyTree(HKEY_LOCAL_MACHINE, kKeyBase);
        ::DeleteFileA((ProgramFolder() + "oracle_tests.cfg").c_str());
    }
    TempFolder tree_;
    std::string t_;
};

TEST_F(OracleTest, GeneratedConfigurationsNeverReachWhatMustStay) {
    const std::string profile = SpecialFolder(CSIDL_PROFILE);
    const std::string users = profile.substr(0, profile.rfind('\\'));
    const std::string me = profile.substr(users.size() + 1);
    testing_support::UnixLink toProduct(testing_support::UnixPath(tree_ / "Product Files"),
                                        testing_support::UnixPath(tree_ / "ToProduct"));
    testing_support::UnixLink toUsers(testing_support::UnixPath(users), testing_support::UnixPath(tree_ / "ToUsers"));
    ASSERT_EQ(toProduct.made, 0u);
    ASSERT_EQ(toUsers.made, 0u);
    // A registry link in the product's key that shows a key that stays.
    const testing_support::KeyLink keyLink(HKEY_LOCAL_MACHINE, std::string(kKeyBase) + "\\Product\\Link",
                                           std::string(kKeyBase) + "\\Other");
    char shortProduct[MAX_PATH] = {};
    ::GetShortPathNameA((tree_ / "Product Files").c_str(), shortProduct, MAX_PATH);
    char shortPrograms[MAX_PATH] = {};
    ::GetShortPathNameA(SpecialFolder(CSIDL_PROGRAM_FILES).c_str(), shortPrograms, MAX_PATH);
    const std::string windows = SpecialFolder(CSIDL_WINDOWS);
    const std::string common = SpecialFolder(CSIDL_COMMON_APPDATA);

    // Folders no removal may list themselves, and folders nothing of which
    // may be listed.
    std::set<FileId> protectedIds;
    for (const std::string& folder : {std::string("C:\\"), windows, SpecialFolder(CSIDL_SYSTEM), SpecialFolder(CSIDL_SYSTEMX86),
                                      SpecialFolder(CSIDL_PROGRAM_FILES), SpecialFolder(CSIDL_PROGRAM_FILESX86), common, users,
                                      profile, SpecialFolder(CSIDL_APPDATA), SpecialFolder(CSIDL_LOCAL_APPDATA)}) {
        FileId id;
        if (Identify(folder, true, id)) protectedIds.insert(id);
    }
    ASSERT_GE(protectedIds.size(), 8u);
    struct Kept {
        std::string path;
        std::vector<std::string> spellings;  // ignore entries that name it
    };
    const std::vector<Kept> ignorable = {
        {t_ + "\\Product Files\\Keep",
         {t_ + "\\PRODUCT FILES\\KEEP", t_ + "\\product files\\keep\\", t_ + "\\Product Files\\.\\Keep",
          t_ + "\\Product Files\\Sub\\..\\Keep", std::string(shortProduct) + "\\Keep", t_ + "\\ToProduct\\Keep",
          t_ + "\\\\Product Files\\\\Keep", t_ + "\\Product Files.\\Keep. ", "Product Files\\Keep"}},
        {t_ + "\\Product Files\\Deep\\x\\Keep2",
         {t_ + "\\ToProduct\\Deep\\X\\KEEP2", std::string(shortProduct) + "\\deep\\x\\keep2",
          t_ + "\\Product Files\\Deep\\..\\Deep\\x\\Keep2\\", "keep2"}},
    };
    // What must stay whole in every case: another vendor's folder, the
    // Windows folder, and everything directly inside the folders that hold
    // more than the product (the test's own work folder aside).
    std::vector<std::string> alwaysWhole = {windows, t_ + "\\Other"};
    for (const std::string& folder : {std::string("C:"), common, SpecialFolder(CSIDL_APPDATA), SpecialFolder(CSIDL_PROGRAM_FILES),
                                      SpecialFolder(CSIDL_PROGRAM_FILESX86), profile}) {
        WIN32_FIND_DATAA data;
        platform::FindHandle find(::FindFirstFileA((folder + "\\*").c_str(), &data));
        for (bool more = static_cast<bool>(find); more; more = ::FindNextFileA(find.get(), &data) != FALSE) {
            const std::string name = data.cFileName;
            const std::string path = folder + "\\" + name;
            if (name == "." || name == ".." || _stricmp(path.c_str(), "C:\\clearway-work") == 0) continue;
            alwaysWhole.push_back(path);
        }
    }
    const size_t firstIgnored = alwaysWhole.size();
    std::set<FileId> alwaysWholeIds;
    for (const std::string& folder : alwaysWhole) {
        FileId id;
        if (Identify(folder, true, id)) alwaysWholeIds.insert(id);
    }
    ASSERT_GT(alwaysWholeIds.size(), 10u);

    // Removal entries: the product's own folder in several spellings, and
    // mistakes that would reach everything else.
    const std::vector<std::string> legit = {
        "FILE_NAME,BY_VALUE," + t_ + "\\Product Files", "FILE_NAME,BY_VALUE," + t_ + "\\product files\\",
        "FILE_NAME,BY_VALUE," + t_ + "\\ToProduct", "FILE_NAME,BY_VALUE," + t_ + "\\ToProduct\\Deep",
        "FILE_NAME,BY_VALUE," + std::string(shortProduct), "FILE_NAME,BY_VALUE," + t_ + "\\Product*",
        "FILE_NAME,BY_VALUE," + t_ + "\\Product Files\\Sub\\..\\Deep",
    };
    const std::vector<std::string> mistakes = {
        "FILE_NAME,BY_VALUE,C:\\", "FILE_NAME,BY_VALUE,c:/", "FILE_NAME,BY_VALUE,C:\\*",
        "FILE_NAME,BY_VALUE," + windows + "\\System32\\..", "FILE_NAME,BY_VALUE,\\" + windows.substr(3),
        "FILE_NAME,BY_VALUE," + windows.substr(3), "FILE_NAME,BY_VALUE,C:" + windows.substr(3),
        "FILE_NAME,BY_VALUE,\\\\?\\" + windows, "FILE_NAME,BY_VALUE," + windows + "::$INDEX_ALLOCATION",
        "FILE_NAME,BY_VALUE," + windows + "\\*.*", "FILE_NAME,BY_VALUE," + common + "\\*",
        "FILE_NAME,BY_VALUE," + common + "\\?*", "FILE_NAME,BY_VALUE," + common + "\\*.log",
        "FILE_NAME_EXPAND,BY_VALUE,%COMMON_APPDATA%\\*", "FILE_NAME_EXPAND,BY_VALUE,%APPDATA%\\*",
        "FILE_NAME_EXPAND,BY_VALUE,%APPDATA%", "FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\\.",
        "FILE_NAME,BY_VALUE," + std::string(shortPrograms), "FILE_NAME,BY_VALUE," + std::string(shortPrograms) + "\\*",
        "FILE_NAME,BY_VALUE," + users, "FILE_NAME,BY_VALUE," + t_ + "\\ToUsers\\" + me,
        "FILE_NAME,BY_VALUE," + t_ + "\\ToUsers\\" + me + "\\*", "FILE_NAME,BY_VALUE," + profile + "\\..\\" + me,
        "FILE_NAME,BY_DATA_MATCH,\"" + common + "\\*\",\"*\"", "FILE_NAME,BY_VALUE,..\\..\\..",
        "FILE_NAME,BY_VALUE," + t_ + "\\ToUsers",  // the link itself goes, never what it reaches
    };
    // Keys: the product's key in several spellings and views, and mistakes.
    const std::vector<std::string> keyLegit = {
        "REG_KEY,BY_VALUE," + kK + "\\Product", "REG_KEY,BY_VALUE,hkey_local_machine\\software\\clearwaytests\\oracle\\product\\",
        "REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\ClearwayTests\\Oracle\\Product",
        "REG_KEY,BY_VALUE," + kK + "\\P*", "REG_VALUE,BY_VALUE," + kK + "\\Product\\Keep\\Deeper\\*",
    };
    const std::vector<std::string> keyMistakes = {
        "REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\", "REG_KEY,BY_VALUE,hkey_local_machine\\software\\microsoft",
        "REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\", "REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE",
        "REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Microsoft\\\\Windows\\CurrentVersion\\Run",
        "REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\*", "REG_KEY,BY_VALUE,HKEY_CLASSES_ROOT\\CLSID\\*",
        "REG_VALUE,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\*",
        "REG_VALUE,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run\\?*",
        "REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services",
        "REG_KEY,BY_VALUE,SOFTWARE\\ClearwayTests\\Oracle\\Product",
        "REG_KEY,BY_VALUE," + kK + "\\Product\\Link", "REG_KEY,BY_VALUE," + kK + "\\product\\link\\X\\",
        "REG_VALUE,BY_VALUE," + kK + "\\Product\\Link\\X\\V", "REG_VALUE,BY_VALUE," + kK + "\\Product\\Link\\X\\*",
    };
    const std::vector<std::string> keyIgnores = {
        "REG_KEY,BY_VALUE,hkey_local_machine\\software\\clearwaytests\\oracle\\product\\keep\\",
        "REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\ClearwayTests\\Oracle\\Product\\Keep",
        "REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\ClearwayTests\\Oracle\\Product\\Keep",
    };
    std::set<std::string> protectedKeys;
    for (const char* key : {"HKEY_LOCAL_MACHINE", "HKEY_LOCAL_MACHINE\\SOFTWARE", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft",
                            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
                            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes", "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services",
                            "HKEY_CURRENT_USER\\Software"}) {
        for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)}) {
            const std::string name = KeyName(key, view);
            if (!name.empty()) protectedKeys.insert(name);
        }
    }
    ASSERT_GE(protectedKeys.size(), 8u);

    const char* env = std::getenv("CLEARWAY_ORACLE_CASES");
    const int cases = env && std::atoi(env) > 0 ? std::atoi(env) : 250;
    unsigned seed = 17;
    auto next = [&seed](size_t range) {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<size_t>((seed >> 8) % range);
    };
    auto pick = [&next](const std::vector<std::string>& from) { return from[next(from.size())]; };

    const auto start = std::chrono::steady_clock::now();
    size_t listedFiles = 0, listedKeys = 0;
    for (int i = 0; i < cases; ++i) {
        std::string files, keyEntries, valueEntries;
        std::vector<std::string> whole = alwaysWhole;
        for (size_t n = 1 + next(3); n > 0; --n) files += "remove=" + pick(next(3) ? mistakes : legit) + "\n";
        for (const Kept& kept : ignorable) {
            if (next(2)) continue;
            whole.push_back(kept.path);
            files += "ignore=FILE_NAME,BY_VALUE," + pick(kept.spellings) + "\n";
        }
        const bool keepKey = next(2) == 0;
        for (size_t n = 1 + next(2); n > 0; --n) {
            const std::string entry = pick(next(2) ? keyMistakes : keyLegit);
            (entry.compare(0, 7, "REG_KEY") == 0 ? keyEntries : valueEntries) += "remove=" + entry + "\n";
        }
        if (keepKey) keyEntries += "ignore=" + pick(keyIgnores) + "\n";
        WriteWholeFile(ProgramFolder() + "oracle_tests.cfg",
                       "[msi upgradecode 1]\n[service 1]\n[process 1]\n[registry value 1]\n" + valueEntries +
                           "[registry key 1]\n" + keyEntries + "[file 1]\n" + files);

        TestPlatform os;
        os.keepFilePermissions = true;  // the generated entries name real system folders
        testing_support::TestDialog dialog;
        CNuke engine(os);
        engine.dialog = &dialog;
        ASSERT_EQ(engine.InitializeLists(0, 0), 0u) << engine.errorText;
        ASSERT_EQ(engine.PopulateLists(), 0u);

        std::set<FileId> wholeIds = alwaysWholeIds;
        std::vector<std::vector<FileId>> wholeParents(firstIgnored);
        for (size_t k = firstIgnored; k < whole.size(); ++k) {
            FileId id;
            if (Identify(whole[k], true, id)) wholeIds.insert(id);
            wholeParents.push_back(ParentIds(whole[k]));
        }
        std::string problem;
        const char* element = nullptr;
        for (DWORD rc = engine.expandedFileList.GetFirst(element); rc == 0; rc = engine.expandedFileList.GetNext(element)) {
            ++listedFiles;
            FileId self;
            if (!Identify(element, false, self)) continue;  // gone, or never there
            // A link goes as itself. Wine opens a link's target even when
            // asked for the link (Windows opens the link), so a link is
            // judged by the folders above it only.
            const bool link = (::GetFileAttributesA(element) & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if (!link && protectedIds.count(self)) problem += std::string("protected '") + element + "' is listed\n";
            if (!link && wholeIds.count(self)) problem += std::string("kept '") + element + "' is listed\n";
            for (const FileId& parent : ParentIds(element)) {
                if (wholeIds.count(parent)) problem += std::string("'") + element + "' lies inside a kept folder\n";
            }
        }
        for (const std::string& path : os.filePermissionChanges) {
            FileId self;
            if (!Identify(path, false, self)) continue;
            const DWORD attributes = ::GetFileAttributesA(path.c_str());
            if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) problem += "link '" + path + "' got new permissions\n";
            FileId reached;
            Identify(path, true, reached);
            if (protectedIds.count(reached) || wholeIds.count(reached)) {
                problem += "protected or kept '" + path + "' got new permissions\n";
            }
            for (size_t k = firstIgnored; k < whole.size(); ++k) {  // the ignored ones: their holders keep theirs
                for (const FileId& holder : wholeParents[k]) {
                    if (!(holder < reached) && !(reached < holder)) {
                        problem += "'" + path + "' holds ignored '" + whole[k] + "' and got new permissions\n";
                    }
                }
            }
        }
        std::vector<std::string> keptKeys;
        if (keepKey) {
            for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)}) {
                keptKeys.push_back(KeyName(kK + "\\Product\\Keep", view));
            }
        }
        for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)}) keptKeys.push_back(KeyName(kK + "\\Other", view));
        auto checkKey = [&](const std::string& entry, const char* what) {
            if (entry.find('\\') == std::string::npos) problem += std::string(what) + " '" + entry + "' is a root\n";
            for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)}) {
                const std::string name = KeyName(entry, view);
                if (name.empty()) continue;
                if (protectedKeys.count(name)) problem += std::string(what) + " of the system '" + entry + "' is listed\n";
                for (const std::string& kept : keptKeys) {
                    if (SameOrInside(name, kept)) problem += std::string(what) + " '" + entry + "' lies in a kept key\n";
                }
            }
        };
        for (DWORD rc = engine.expandedRegKeyList.GetFirst(element); rc == 0;
             rc = engine.expandedRegKeyList.GetNext(element)) {
            ++listedKeys;
            checkKey(element, "key");
        }
        for (DWORD rc = engine.expandedRegValueList.GetFirst(element); rc == 0;
             rc = engine.expandedRegValueList.GetNext(element)) {
            const std::string value = element;
            checkKey(value.substr(0, value.rfind('\\')), "the key of a value");
        }
        ASSERT_EQ(problem, "") << "case " << i << ":\n" << files << keyEntries << valueEntries;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("[ FIGURES  ] %d cases in %.1f s: %.1f cases per second; %zu files and %zu keys listed and checked\n",
                cases, seconds, cases / seconds, listedFiles, listedKeys);
    // The generator reaches the product, not only refusals.
    EXPECT_GT(listedFiles, static_cast<size_t>(cases));
    EXPECT_GT(listedKeys, static_cast<size_t>(cases) / 2);
}

}  // namespace
