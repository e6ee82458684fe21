// The backup of a run on the real registry of the prefix: what it writes
// goes back with the system's own "reg import" (the 64-bit one, as an
// administrator would run it) byte for byte, into the view it came from.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "actions/run_backup.h"
#include "actions/run_undo.h"
#include "platform/handles.h"
#include "profile/engine.h"
#include "tests/support/matchers.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_key.h"
#include "tests/support/test_dialog.h"
#include "tests/support/test_platform.h"
#include "trace/trace.h"

namespace {

using testing_support::PathExists;
using testing_support::ReadWholeFile;
using testing_support::RunAndWait;
using testing_support::TempFolder;
using testing_support::TestPlatform;
using testing_support::WriteWholeFile;

const wchar_t kKey[] = L"SOFTWARE\\ClearwayTests\\Backup";

struct Value {
    const char* row;
    std::wstring name;
    DWORD type;
    std::vector<BYTE> data;
};

std::vector<BYTE> Bytes(const void* data, size_t size) {
    const BYTE* p = static_cast<const BYTE*>(data);
    return std::vector<BYTE>(p, p + size);
}
std::vector<BYTE> Text(const std::wstring& text) {  // with its terminator
    return Bytes(text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

std::string CharUpperText(std::string text) {
    for (char& c : text) c = static_cast<char>(::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The values of kKey in a view, by name.
std::vector<Value> Read(REGSAM view) {
    std::vector<Value> out;
    platform::RegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return out;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        BYTE data[4096];
        DWORD nameSize = 256, dataSize = sizeof data, type = 0;
        if (::RegEnumValueW(key.get(), index, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) break;
        out.push_back({"", std::wstring(name, nameSize), type, Bytes(data, dataSize)});
    }
    return out;
}

void DeleteTree(REGSAM view) {
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kKey) + L"\\Sub").c_str(), view, 0);
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, view, 0);
}

// A .reg file of ASCII text as regedit writes it: UTF-16 with its mark.
void WriteRegFile(const std::string& path, const std::string& text) {
    std::string utf16 = "\xFF\xFE";
    for (char c : text) utf16 += std::string(1, c) + '\0';
    WriteWholeFile(path, utf16);
}

class RunBackupTest : public ::testing::Test {
protected:
    void SetUp() override {
        TraceShutdown();
        TraceSetOptions(-1, 0, false, false);
        TraceSetPlatform(&os_);
    }
    void TearDown() override {
        TraceSetPlatform(nullptr);
        DeleteTree(KEY_WOW64_32KEY);
        DeleteTree(KEY_WOW64_64KEY);
    }
    TestPlatform os_;
    TempFolder folder_{"run-backup"};
};

TEST_F(RunBackupTest, EveryTypeGoesBackByteForByteIntoItsView) {
    const DWORD dword = 0x01020304;
    const unsigned long long qword = 0x0102030405060708ull;
    const BYTE binary[] = {0, 1, 0, 0, 255, 0};
    const wchar_t multi[] = L"one\0\0three\0";  // an empty element between two
    const std::vector<Value> values = {
        {"string", L"Plain", REG_SZ, Text(L"C:\\Program Files\\\"Velmoran\"")},
        {"unnamed", L"", REG_SZ, Text(L"default")},
        {"string with a line break", L"Lines", REG_SZ, Text(L"one\r\ntwo")},
        {"expandable", L"Expand", REG_EXPAND_SZ, Text(L"%SystemRoot%\\x")},
        {"multi-string with an empty element", L"Multi", REG_MULTI_SZ, Bytes(multi, sizeof multi)},
        {"double word", L"Dword", REG_DWORD, Bytes(&dword, 4)},
        {"quad word", L"Qword", REG_QWORD, Bytes(&qword, 8)},
        {"binary with zeros", L"Binary", REG_BINARY, Bytes(binary, sizeof binary)},
        {"empty binary", L"Empty", REG_BINARY, {}},
        {"no type", L"None", REG_NONE, Bytes(binary, 2)},
        {"a type of its own", L"Other", 0x20, Bytes(binary, 3)},
        {"outside ASCII, in the code page", L"Caf\x00E9", REG_SZ, Text(L"na\x00EFve \x00A3")},
    };
    {
        platform::RegKey key, sub;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                                    nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        for (const Value& v : values) {
            ASSERT_EQ(::RegSetValueExW(key.get(), v.name.c_str(), 0, v.type, v.data.data(),
                                       static_cast<DWORD>(v.data.size())),
                      ERROR_SUCCESS)
                << v.row;
        }
        ASSERT_EQ(::RegCreateKeyExW(key.get(), L"Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, sub.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExW(sub.get(), L"Deep", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword), 4),
                  ERROR_SUCCESS);
    }
    const std::vector<Value> before = Read(KEY_WOW64_32KEY);
    ASSERT_EQ(before.size(), values.size());

    std::string path;
    {
        RunBackup backup(os_, os_, true);
        backup.SetFolder(folder_.path());
        backup.Key(HKEY_LOCAL_MACHINE, "SOFTWARE\\ClearwayTests\\Backup", 0);  // this 32-bit program's own view
        EXPECT_EQ(backup.Keys(), 2u);
        EXPECT_EQ(backup.Values(), values.size() + 1);
        path = backup.BackupPath();
    }
    const std::string file = ReadWholeFile(path);
    const std::string header = "\xFF\xFE" "W\0i\0n\0d\0o\0w\0s\0 \0R\0e\0g\0";
    EXPECT_EQ(file.compare(0, header.size(), header), 0);
    DeleteTree(KEY_WOW64_32KEY);
    ASSERT_TRUE(Read(KEY_WOW64_32KEY).empty());

    // The 64-bit reg.exe puts the key back in the 32-bit view through its
    // Wow6432Node name, and nothing into the 64-bit view.
    EXPECT_EQ(RunAndWait("C:\\windows\\sysnative\\reg.exe import \"" + path + "\"", 60000), 0u);
    const std::vector<Value> after = Read(KEY_WOW64_32KEY);
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
        SCOPED_TRACE(values[i].row);
        EXPECT_EQ(after[i].name, before[i].name);
        EXPECT_EQ(after[i].type, before[i].type);
        EXPECT_EQ(after[i].data, before[i].data);
    }
    EXPECT_TRUE(Read(KEY_WOW64_64KEY).empty());
    platform::RegKey sub;
    EXPECT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kKey) + L"\\Sub").c_str(), 0,
                              KEY_READ | KEY_WOW64_32KEY, sub.put()),
              ERROR_SUCCESS);
}

// Two runs in one second: the second gets a name of its own and the first
// backup stays as it was. A backup folder that cannot be made is said once
// and costs nothing else.
TEST_F(RunBackupTest, NoBackupIsWrittenOverAndAFolderThatCannotBeUsedIsSaidOnce) {
    os_.localTime = [](LPSYSTEMTIME time) {
        *time = SYSTEMTIME{2026, 12, 2, 8, 23, 59, 58, 0};
    };
    {
        platform::RegKey key;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                                    nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExW(key.get(), L"A", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"1"), 4),
                  ERROR_SUCCESS);
    }
    std::string first, second;
    for (std::string* path : {&first, &second}) {
        RunBackup backup(os_, os_, true);
        backup.SetFolder(folder_.path());
        backup.Value(HKEY_LOCAL_MACHINE, "SOFTWARE\\ClearwayTests\\Backup", "A", 0);
        backup.ScheduledFile("C:\\Program Files\\Velmoran\\x.dll");
        *path = backup.BackupPath();
    }
    EXPECT_EQ(first, folder_ / "Clearway backup 2026-12-08 235958.reg");
    EXPECT_EQ(second, folder_ / "Clearway backup 2026-12-08 235958 (2).reg");
    EXPECT_EQ(ReadWholeFile(first), ReadWholeFile(second));
    const std::string record = ReadWholeFile(folder_ / "Clearway deletions 2026-12-08 235958.txt");
    EXPECT_EQ(record, std::string("\xFF\xFE" "C\0:\0\\\0P\0", 10) + record.substr(10));
    EXPECT_THAT(record, HasSubstr(std::string("x\0.\0d\0l\0l\0\r\0\n\0", 14)));

    WriteWholeFile(folder_ / "taken", "a file where the folder would be");
    os_.ClearDebugOutput();
    RunBackup backup(os_, os_, true);
    backup.SetFolder(folder_ / "taken");
    backup.Value(HKEY_LOCAL_MACHINE, "SOFTWARE\\ClearwayTests\\Backup", "A", 0);
    backup.Key(HKEY_LOCAL_MACHINE, "SOFTWARE\\ClearwayTests\\Backup", 0);
    backup.ScheduledFile("C:\\x");
    const std::string trace = os_.DebugOutput();
    EXPECT_THAT(trace, HasSubstr("RunBackup: no backup of this run can be written: the folder '" + (folder_ / "taken") +
                         "': it is not a folder; the removal goes on without it\n"))
        << trace;
    EXPECT_EQ(trace.find("RunBackup: no backup"), trace.rfind("RunBackup: no backup"));
}

// The engine backs up each value just before it deletes it, in the view it
// deletes it from: here only the 64-bit view holds it.
TEST_F(RunBackupTest, TheEngineBacksUpWhatItDeletesInTheViewItDeletesItFrom) {
    {
        platform::RegKey key;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                                    nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExW(key.get(), L"Only64", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"v"), 4),
                  ERROR_SUCCESS);
    }
    testing_support::TestDialog dialog;
    CNuke engine(os_);
    engine.dialog = &dialog;
    engine.Backup().SetFolder(folder_.path());
    engine.expandedRegValueList.Insert("HKEY_LOCAL_MACHINE\\SOFTWARE\\CLEARWAYTESTS\\BACKUP\\ONLY64");
    EXPECT_EQ(engine.CleanupRegValues(), 0u);
    EXPECT_TRUE(Read(KEY_WOW64_64KEY).empty());
    EXPECT_EQ(engine.Backup().Values(), 1u);
    // Under its own name and in its own letters, not the list's upper case.
    std::string file = ReadWholeFile(engine.Backup().BackupPath());
    std::string narrow;
    for (size_t i = 2; i < file.size(); i += 2) narrow += file[i];
    EXPECT_THAT(CharUpperText(narrow), HasSubstr("[HKEY_LOCAL_MACHINE\\SOFTWARE\\CLEARWAYTESTS\\BACKUP]\r\n\"ONLY64\"=\"V\"\r\n"))
        << narrow;
    EXPECT_THAT(narrow, HasSubstr("\"Only64\"=\"v\"")) << narrow;
}

// A backup another user could have written is never imported with the
// undo's full rights (Wine shows a file whose Unix mode lets others write as
// one Everyone may change).
TEST_F(RunBackupTest, AnUndoImportsNoBackupOthersCouldHaveWritten) {
    const std::string path = folder_ / "Clearway backup 2099-01-01 000000.reg";
    const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ClearwayTests\\"
                             "Backup]\r\n\"Planted\"=\"1\"\r\n";
    WriteRegFile(path, text);
    // Unix paths with blanks do not pass through here: find names the file.
    testing_support::RunUnix("/usr/bin/find " + testing_support::UnixPath(folder_.path()) +
                             " -name Clearway* -exec /bin/chmod o+w {} +");
    EXPECT_EQ(UndoNewestRun(os_, folder_.path()), 1168u);
    EXPECT_THAT(os_.DebugOutput(), HasSubstr("others can change it: S-1-1-0 may change it; nothing was taken back"))
        << os_.DebugOutput();
    EXPECT_TRUE(Read(KEY_WOW64_32KEY).empty());
    EXPECT_TRUE(Read(KEY_WOW64_64KEY).empty());
}

// Another user may give a key or value of theirs a name with a line break:
// in the backup it would end the line, and an undo would import what
// follows it as keys of its own, with full rights. Such a key and value are
// noted, never written, and an undo refuses a backup that holds a lone line
// break.
TEST_F(RunBackupTest, NamesThatBreakTheLineAreNotedAndNothingOfThemIsImported) {
    const std::wstring planted =
        L"x\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ClearwayTests\\Planted]\n\"planted\"=hex(2):43,00,3a,00,00,00\n;";
    const std::wstring plantedValue = L"v\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ClearwayTests\\PlantedToo]\n\"p\"=dword:1\n;";
    struct Cleanup {
        ~Cleanup() {
            for (const char* key : {"SOFTWARE\\ClearwayTests\\Backup", "SOFTWARE\\ClearwayTests\\Planted",
                                    "SOFTWARE\\ClearwayTests\\PlantedToo"}) {
                testing_support::DeleteKeyTree(HKEY_LOCAL_MACHINE, key);
            }
        }
    } cleanup;
    {
        platform::RegKey key, chain;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                                    nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        const DWORD one = 1;
        ASSERT_EQ(::RegSetValueExW(key.get(), plantedValue.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                                   4),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegCreateKeyExW(key.get(), planted.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                                    nullptr, chain.put(), nullptr),
                  ERROR_SUCCESS);
    }
    std::string path;
    {
        RunBackup backup(os_, os_, true);
        backup.SetFolder(folder_.path());
        backup.Key(HKEY_LOCAL_MACHINE, "SOFTWARE\\ClearwayTests\\Backup", KEY_WOW64_64KEY);
        path = backup.BackupPath();
    }
    const std::string file = ReadWholeFile(path);
    for (size_t i = 2; i + 1 < file.size(); i += 2) {
        const bool lineFeed = file[i] == '\n' && file[i + 1] == '\0';
        ASSERT_FALSE(lineFeed && !(i >= 4 && file[i - 2] == '\r' && file[i - 1] == '\0')) << "a lone line break";
    }
    EXPECT_THAT(os_.DebugOutput(), HasSubstr("is not in the backup: its name holds a line break"));
    EXPECT_EQ(UndoNewestRun(os_, folder_.path()), 0u) << os_.DebugOutput();
    EXPECT_THAT(os_.DebugOutput(), HasSubstr("Undo: the registry data the run deleted is back"));
    for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        EXPECT_FALSE(testing_support::KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\ClearwayTests\\Planted", view));
        EXPECT_FALSE(testing_support::KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\ClearwayTests\\PlantedToo", view));
    }

    // A backup that holds a lone line break all the same is not imported.
    const std::string crafted = folder_ / "Clearway backup 2099-01-02 000000.reg";
    const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n; x\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\"
                             "ClearwayTests\\Planted]\r\n";
    WriteRegFile(crafted, text);
    EXPECT_EQ(UndoNewestRun(os_, folder_.path()), static_cast<DWORD>(ERROR_INVALID_DATA)) << os_.DebugOutput();
    EXPECT_FALSE(testing_support::KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\ClearwayTests\\Planted", KEY_WOW64_64KEY));
}

// The pending renames of the prefix as one text, upper case.
std::string PendingRenames() {
    platform::RegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                        KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS) {
        return std::string();
    }
    DWORD size = 0;
    if (::RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) !=
        ERROR_SUCCESS) {
        return std::string();
    }
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, L'\0');
    ::RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, nullptr,
                       reinterpret_cast<BYTE*>(data.data()), &size);
    std::string out;
    for (size_t i = 0; i < size / sizeof(wchar_t); ++i) {
        out += data[i] ? static_cast<char>(::toupper(static_cast<unsigned char>(data[i] & 0x7F))) : '|';
    }
    return out;
}

// A tree the run held until the restart goes back where it was.
TEST_F(RunBackupTest, AnUndoMovesAHeldTreeBack) {
    TempFolder profile("run-backup-user-profile");
    const std::string tree = profile / "Velmoran";
    ASSERT_TRUE(::CreateDirectoryA(tree.c_str(), nullptr));
    WriteWholeFile(tree + "\\user.dat", "mine");
    // Everyone may change the folder above (Wine reports the Unix mode).
    ASSERT_EQ(testing_support::RunUnix("/bin/chmod 777 " + testing_support::UnixPath(profile.path())), 0u);
    os_.keepFilePermissions = true;
    testing_support::TestDialog dialog;
    CNuke engine(os_);
    engine.dialog = &dialog;
    engine.Backup().SetFolder(folder_.path());
    std::string entry = tree;
    ASSERT_EQ(engine.ExpandRemoveFileEntry(&entry[0]), 0u);
    ASSERT_EQ(engine.CleanupFiles(), 0u);
    ASSERT_FALSE(PathExists(tree)) << os_.DebugOutput();
    EXPECT_THAT(PendingRenames(), HasSubstr("\\CLEARWAY-"));

    EXPECT_EQ(UndoNewestRun(os_, folder_.path()), 0u) << os_.DebugOutput();
    EXPECT_EQ(ReadWholeFile(tree + "\\user.dat"), "mine");
    EXPECT_THAT(os_.DebugOutput(), HasSubstr("Undo: '" + CharUpperText(tree) + "' is back in its place\n"));
    EXPECT_THAT(PendingRenames(), Not(HasSubstr("\\CLEARWAY-")));
}

}  // namespace
