// The engine's list initialisation against a real configuration file beside
// the test program, real registry keys and a real trace log file.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <mbstring.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <memory>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/handles.h"
#include "profile/engine.h"
#include "profile/folder_macros.h"
#include "tests/support/matchers.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_dialog.h"
#include "tests/support/test_key.h"
#include "tests/support/test_platform.h"
#include "tests/support/list_text.h"
#include "trace/trace.h"

using testing_support::Elements;
using testing_support::Texts;
using testing_support::ProgramFolder;
using testing_support::ReadWholeFile;
using testing_support::TestDialog;
using testing_support::TestPlatform;
using testing_support::WriteWholeFile;

namespace {

using testing_support::SpecialFolder;

std::string ConfigPath() { return ProgramFolder() + "engine_tests.cfg"; }

std::string LogPath() { return SpecialFolder(CSIDL_COMMON_APPDATA) + "\\Velmoran clearway\\engine_tests.log"; }

// The marker key as the 32-bit program sees it.
const REGSAM kView32 = KEY_WOW64_32KEY;

void DeleteMarker() { ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Velmoran Clearway", kView32, 0); }

std::string ReadMarker() {
    char buffer[300] = {};
    DWORD size = sizeof buffer - 1;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Velmoran Clearway", 0, KEY_READ | kView32, &key) !=
        ERROR_SUCCESS) {
        return "<none>";
    }
    LSTATUS rc = ::RegQueryValueExA(key, "ApplicationName", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    ::RegCloseKey(key);
    return rc == ERROR_SUCCESS ? std::string(buffer) : "<none>";
}

void WriteMarker(const std::string& name) {
    testing_support::SetText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Velmoran Clearway", "ApplicationName", name, kView32);
}

// Six empty sections, then extra lines per section kind.
std::string Sections(const std::string& msi = "", const std::string& service = "", const std::string& process = "",
                     const std::string& value = "", const std::string& key = "", const std::string& file = "") {
    return "[msi upgradecode 1]\n" + msi + "[service 1]\n" + service + "[process 1]\n" + process +
           "[registry value 1]\n" + value + "[registry key 1]\n" + key + "[file 1]\n" + file;
}

class EngineTest : public ::testing::Test {
protected:
    EngineTest() : engine_(os_) { engine_.dialog = &dialog_; }

    void SetUp() override {
        TraceShutdown();
        DeleteMarker();
    }
    void TearDown() override {
        TraceShutdown();
        ::DeleteFileA(ConfigPath().c_str());
        DeleteMarker();
    }

    DWORD Run(const std::string& config, int removeAll = 0) {
        WriteWholeFile(ConfigPath(), config);
        return engine_.InitializeLists(removeAll, 0);
    }

    // For steps called without InitializeLists, which opens the log itself.
    void OpenLog() {
        ::CreateDirectoryA((SpecialFolder(CSIDL_COMMON_APPDATA) + "\\Velmoran clearway").c_str(), nullptr);
        TraceSetOptions(-1, 0, false, false);
        TraceOpenLog(LogPath().c_str(), "w");
    }

    std::string Log() {
        TraceShutdown();
        return ReadWholeFile(LogPath());
    }

    TestPlatform os_;
    TestDialog dialog_;
    CNuke engine_;
};

TEST_F(EngineTest, MissingConfigurationFileStopsTheRunWith2) {
    ::DeleteFileA(ConfigPath().c_str());
    EXPECT_EQ(engine_.InitializeLists(0, 0), 2u);
    EXPECT_EQ(std::string(engine_.configFilePath), ConfigPath());
    std::string log = Log();
    EXPECT_THAT(log, HasSubstr("engine_tests v."));
    EXPECT_THAT(log, HasSubstr("InitConfigFile failed and returned error code '0002'")) << log;
}

TEST_F(EngineTest, GuidEntriesFillTheirListsAndEveryStepIsTraced) {
    ASSERT_EQ(Run(Sections("remove=GUID,BY_VALUE,\"{abcdef00-0000-0000-0000-000000000001}\"\n"
                           "REMOVE=guid,by_value,{ABCDEF00-0000-0000-0000-000000000001}\n"
                           "ignore=GUID,BY_VALUE,{11111111-0000-0000-0000-000000000002}\n")),
              0u);
    EXPECT_EQ(Elements(engine_.removeMsiUpgradeCodeList), Texts{"{ABCDEF00-0000-0000-0000-000000000001}"});
    EXPECT_EQ(Elements(engine_.ignoreMsiUpgradeCodeList), Texts{"{11111111-0000-0000-0000-000000000002}"});
    std::string log = Log();
    EXPECT_THAT(log, HasSubstr("InitConfigFile was successful.\r\n"));
    EXPECT_THAT(log, HasSubstr("InitializeLists: Config file found as '" + ConfigPath() + "'"));
    size_t at = 0;
    for (const char* step : {"InitIgnoreServiceList", "InitRemoveServiceList", "InitStopProcessList",
                             "InitStartProcessList", "InitIgnoreRegValueList", "InitRemoveRegValueList",
                             "InitIgnoreRegKeyList", "InitRemoveRegKeyList", "InitIgnoreFileList",
                             "InitRemoveFileList"}) {
        at = log.find(std::string(step) + " was successful with '0' items in the list", at);
        EXPECT_NE(at, std::string::npos) << step;
    }
    EXPECT_THAT(log, HasSubstr("InitIgnoreMsiUpgradeCodeList was successful with '1' items in the list"));
    EXPECT_THAT(log, HasSubstr("InitRemoveMsiUpgradeCodeList was successful with '1' items in the list"));
    EXPECT_THAT(log, HasSubstr("--- --- --- Logging list contents... --- --- ---"));
}

TEST_F(EngineTest, SectionHeaderRules) {
    // Header case and text after the header are accepted.
    ASSERT_EQ(Run("[MSI UPGRADECODE 1] notes\nremove=GUID,BY_VALUE,{A}\n[service 1]\n[process 1]\n"
                  "[registry value 1]\n[registry key 1]\n[file 1]"),
              0u);
    EXPECT_EQ(Elements(engine_.removeMsiUpgradeCodeList), Texts{"{A}"});

    // [file 2] and a header after a leading blank are not headers.
    CNuke second(os_);
    second.dialog = &dialog_;
    WriteWholeFile(ConfigPath(), "[msi upgradecode 1]\n[service 1]\n[process 1]\n[registry value 1]\n"
                                 "[registry key 1]\n[file 2]\n [file 1]\nremove=GUID,BY_VALUE,{B}\n");
    EXPECT_EQ(second.InitializeLists(0, 0), 1610u);
    std::string log = Log();
    // The missing section keeps the error text of before.
    EXPECT_THAT(log, HasSubstr("InitIgnoreFileList reported error message '<error not initialized>' and returned error "
                       "code '1610'"))
        << log;
}

TEST_F(EngineTest, SectionsEndAtABracketAndTheLastLineNeedsNoLineEnd) {
    ASSERT_EQ(Run("note before any section\n[msi upgradecode 1]\nremove=GUID,BY_VALUE,{A}\n"
                  "[not a known header]\nremove=GUID,BY_VALUE,{OUTSIDE}\n[service 1]\n\nsome note\n"
                  " remove=GUID,BY_VALUE,{LEADING BLANK}\n[process 1]\nstop=GUID,BY_VALUE,{STOP}\n"
                  "[registry value 1]\n[registry key 1]\n[file 1]\nremove=GUID,BY_VALUE,{LAST}"),
              0u);
    EXPECT_EQ(Elements(engine_.removeMsiUpgradeCodeList), Texts{"{A}"});
    EXPECT_TRUE(engine_.removeServiceList.IsEmpty());
    EXPECT_EQ(Elements(engine_.stopProcessList), Texts{"{STOP}"});
    // The product name holds the product word, so the mask adds nothing here.
    EXPECT_EQ(Elements(engine_.removeFileList), Texts{"{LAST}"});

    // A header on the last line opens an empty section.
    CNuke second(os_);
    second.dialog = &dialog_;
    WriteWholeFile(ConfigPath(), "[msi upgradecode 1]\n[service 1]\n[process 1]\n[registry value 1]\n"
                                 "[registry key 1]\n[file 1]");
    EXPECT_EQ(second.InitializeLists(0, 0), 0u);
}

TEST_F(EngineTest, BadEntryLinesFailTheirSectionWithTheLineAsErrorText) {
    // A blank after the first comma: the method does not follow directly.
    EXPECT_EQ(Run(Sections("remove=GUID, BY_VALUE,{A}\nremove=GUID,BY_VALUE,{NOT READ}\n")), 1610u);
    EXPECT_STREQ(engine_.errorText, "remove=GUID, BY_VALUE,{A}");
    EXPECT_TRUE(engine_.removeMsiUpgradeCodeList.IsEmpty());

    for (const char* line : {"remove=REG_VALUE_EXPAND,BY_VALUE,X", "remove=REG_KEY_EXPAND,BY_DATA_MATCH,X",
                             "remove=GUID,BY_REFERENCE,X", "remove=UNKNOWN,BY_VALUE,X", "remove=GUID,BY_NOTHING,X",
                             "remove=FILE_NAME,BY_REFERENCE,X", "remove=SERVICE_NAME,BY_DATA_MATCH,X"}) {
        CNuke engine(os_);
        engine.dialog = &dialog_;
        WriteWholeFile(ConfigPath(), Sections(std::string(line) + "\n"));
        EXPECT_EQ(engine.InitializeLists(0, 0), 1610u) << line;
        EXPECT_STREQ(engine.errorText, line);
    }
    std::string log = Log();
    EXPECT_THAT(log, HasSubstr("InitRemoveMsiUpgradeCodeList reported error message 'remove=SERVICE_NAME,BY_DATA_MATCH,X' and "
                       "returned error code '1610'"));
}

TEST_F(EngineTest, OverlongLinesAreNeverCutIntoEntries) {
    // An over-long entry line fails its section with its first 359
    // characters as the error text; any other over-long line is skipped.
    std::string longPath = "C:\\KEEP\\" + std::string(400, 'A');
    std::string longNote = "note " + std::string(500, 'n') + "[file 1]";
    EXPECT_EQ(Run(Sections("remove=GUID,BY_VALUE,{A}\n" + longNote + "\nremove=GUID,BY_VALUE,{B}\n")), 0u);
    EXPECT_EQ(Elements(engine_.removeMsiUpgradeCodeList), (Texts{"{A}", "{B}"}));

    CNuke second(os_);
    second.dialog = &dialog_;
    std::string longLine = "remove=GUID,BY_VALUE," + longPath;
    WriteWholeFile(ConfigPath(), Sections(longLine + "\n"));
    EXPECT_EQ(second.InitializeLists(0, 0), 1610u);
    EXPECT_EQ(std::string(second.errorText), longLine.substr(0, 359));
    EXPECT_TRUE(second.removeMsiUpgradeCodeList.IsEmpty());

    // A line's first character decides: an over-long line that begins with
    // "[" ends the section, and a header followed by a long note is a header.
    CNuke third(os_);
    third.dialog = &dialog_;
    WriteWholeFile(ConfigPath(), "[msi upgradecode 1]\nremove=GUID,BY_VALUE,{A}\n[notes " + std::string(400, 'n') +
                                     "]\nremove=GUID,BY_VALUE,{FROM-NOTES}\n[service 1] ; " + std::string(400, 'c') +
                                     "\nremove=GUID,BY_VALUE,{S}\n[process 1]\n[registry value 1]\n"
                                     "[registry key 1]\n[file 1]\n");
    EXPECT_EQ(third.InitializeLists(0, 0), 0u);
    EXPECT_EQ(Elements(third.removeMsiUpgradeCodeList), Texts{"{A}"});
    EXPECT_EQ(Elements(third.removeServiceList), Texts{"{S}"});
}

TEST_F(EngineTest, CancelDuringTheReadStopsWith1223) {
    // Reads 2-5 go to the service ignore section, 6 is the first one of the
    // service remove section: the cancel comes before its entry is read.
    dialog_.cancelAtRead = 6;
    EXPECT_EQ(Run(Sections("remove=GUID,BY_VALUE,{A}\n", "remove=GUID,BY_VALUE,{S}\n",
                           "stop=GUID,BY_VALUE,{P}\n", "", "", "remove=GUID,BY_VALUE,C:\\F\n")),
              1223u);
    EXPECT_EQ(dialog_.stateReads, 6);
    std::string log = Log();
    EXPECT_THAT(log, HasSubstr("InitIgnoreServiceList was successful with '0' items in the list")) << log;
    EXPECT_THAT(log, HasSubstr("InitRemoveServiceList reported error message '<error not initialized>' and returned error "
                       "code '1223'\r\n"))
        << log;
    // The cancelled step is the last one traced, and no later list was read.
    EXPECT_EQ(log.find("1223"), log.rfind("1223")) << log;
    for (const char* later : {"InitStopProcessList", "InitStartProcessList", "InitIgnoreRegValueList",
                              "InitRemoveFileList", "InitRemoveMsiUpgradeCodeList"}) {
        EXPECT_THAT(log, Not(HasSubstr(later))) << later;
    }
    for (TSet* untouched : {&engine_.removeServiceList, &engine_.stopProcessList, &engine_.removeFileList,
                            &engine_.removeMsiUpgradeCodeList}) {
        EXPECT_TRUE(untouched->IsEmpty());
    }
}

TEST_F(EngineTest, RemoveAllSkipsTheIgnoreListsAndAddsTheProductsFolders) {
    dialog_.productName = "Acme Shield";
    dialog_.installPath = "C:\\Program Files\\Acme Shield";
    // The ignore lines would fail the run if they were read.
    ASSERT_EQ(Run(Sections("ignore=BROKEN\n", "ignore=BROKEN\n", "", "ignore=BROKEN\n", "ignore=BROKEN\n",
                           "ignore=BROKEN\n"),
                  1),
              0u);
    EXPECT_TRUE(engine_.ignoreFileList.IsEmpty());
    EXPECT_TRUE(engine_.ignoreServiceList.IsEmpty());
    std::string menu = SpecialFolder(CSIDL_COMMON_PROGRAMS) + "\\Acme Shield";
    Texts files = Elements(engine_.removeFileList);
    EXPECT_NE(std::find(files.begin(), files.end(), "C:\\Program Files\\Acme Shield"), files.end());
    EXPECT_NE(std::find(files.begin(), files.end(), menu), files.end());
    std::string log = Log();
    EXPECT_THAT(log, Not(HasSubstr("InitIgnoreServiceList")));
    EXPECT_THAT(log, HasSubstr("InitRemoveFileList: removeFileList.Insert(C:\\Program Files\\Acme Shield)"));
    EXPECT_THAT(log, HasSubstr("InitRemoveFileList: removeFileList.Insert(" + menu + ")"));
    EXPECT_THAT(log, HasSubstr("InitRemoveFileList: removeFileList.Insert(%COMMON_DESKTOPDIRECTORY%\\Acme Shield*)"));
    EXPECT_THAT(log, HasSubstr("removeall -parameter in use, specific removal for customized content will be executed."));
}

TEST_F(EngineTest, RemoveAllWithEmptyDetectorTexts) {
    dialog_.productName = "";
    ASSERT_EQ(Run(Sections(), 1), 0u);
    EXPECT_TRUE(engine_.removeFileList.IsEmpty());
    std::string log = Log();
    EXPECT_THAT(log, HasSubstr("--removeall parameter in use, but root installation path empty!!"));
    EXPECT_THAT(log, HasSubstr("--removeall parameter in use, but product name empty!!"));
}

TEST_F(EngineTest, RemoveAllDeletesTheMarkerKeyAnEarlierRunLeft) {
    WriteMarker("Acme");
    dialog_.productName = "Acme";
    ASSERT_EQ(Run(Sections(), 1), 0u);
    EXPECT_EQ(engine_.markerFound, 1);
    EXPECT_EQ(Elements(engine_.removeRegKeyList), Texts{"HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORAN CLEARWAY"});
    EXPECT_THAT(Log(), HasSubstr("InitRemoveRegKeyList: removeRegKeyList.Insert(HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmoran "
                         "Clearway)"));
}

TEST_F(EngineTest, ProductNameWithTheProductWordMasksEveryFileEntry) {
    dialog_.productName = "Velmoran Client Security";
    ASSERT_EQ(Run(Sections("", "", "", "", "", "remove=GUID,BY_VALUE,C:\\Velmoran\\Data\n")), 0u);
    EXPECT_EQ(engine_.startMenuMask, "Velmoran Client Security");
    // A blank sorts before a backslash.
    EXPECT_EQ(Elements(engine_.removeFileList),
              (Texts{"C:\\Velmoran Client Security\\DATA", "C:\\VELMORAN\\DATA"}));
    std::string log = Log();
    EXPECT_THAT(log, HasSubstr("product name is not ISP customized. Override is not committed."));
    EXPECT_THAT(log, Not(HasSubstr("customization start menu mask=")));
    EXPECT_EQ(ReadMarker(), "<none>");
}

TEST_F(EngineTest, OneWordNameEmptiesTheMaskAndWritesTheMarker) {
    dialog_.productName = "Acme";
    ASSERT_EQ(Run(Sections("", "", "", "", "", "remove=GUID,BY_VALUE,C:\\Velmoran\\Data\n")), 0u);
    EXPECT_TRUE(engine_.startMenuMask.empty());
    EXPECT_EQ(Elements(engine_.removeFileList), Texts{"C:\\VELMORAN\\DATA"});
    EXPECT_EQ(engine_.marked, 1);
    EXPECT_EQ(engine_.markerFound, 0);  // the read returns at once after a mark
    EXPECT_EQ(ReadMarker(), "Acme");
    std::string log = Log();
    EXPECT_THAT(log, HasSubstr("'Acme' override not considered safe enough for start menu item deletion."));
    EXPECT_THAT(log, HasSubstr("MarkRegistryForPossibleRemovalRetry: marking the registry successful."));
    EXPECT_THAT(log, HasSubstr("customization start menu mask=\r\n"));

    // The next run, whose detection finds no name, takes the stored one.
    TestDialog nextDialog;
    nextDialog.productName = "";
    CNuke next(os_);
    next.dialog = &nextDialog;
    next.removeAll = 1;
    next.InitISPCustomizationOverride();
    EXPECT_EQ(next.markerFound, 1);
    EXPECT_EQ(nextDialog.productName, "Acme");
}

TEST_F(EngineTest, TwoWordNameStaysTheMask) {
    WriteMarker("Stored Name");
    dialog_.productName = "Acme Shield";
    ASSERT_EQ(Run(Sections("", "", "", "", "", "remove=GUID,BY_VALUE,C:\\Velmoran\\Data\n"
                                                "ignore=GUID,BY_VALUE,\"d:/velmoran//keep/\"\n")),
              0u);
    EXPECT_EQ(engine_.startMenuMask, "Acme Shield");
    EXPECT_EQ(Elements(engine_.removeFileList), (Texts{"C:\\Acme Shield\\DATA", "C:\\VELMORAN\\DATA"}));
    // Ignore entries take the upper case of the expanded lists, variants too.
    EXPECT_EQ(Elements(engine_.ignoreFileList), (Texts{"D:\\ACME SHIELD\\KEEP", "D:\\VELMORAN\\KEEP"}));
    EXPECT_EQ(engine_.marked, 0);
    EXPECT_EQ(engine_.markerFound, 1);
    EXPECT_EQ(dialog_.productName, "Acme Shield");  // a detected name is never replaced
    EXPECT_THAT(Log(), HasSubstr("customization start menu mask=Acme Shield\r\n"));
}

TEST_F(EngineTest, EmptyNameMarksNothingAndTakesAStoredNameWithoutBlanks) {
    WriteMarker("  \tAcme Shield \t ");
    dialog_.productName = "";
    ASSERT_EQ(Run(Sections()), 0u);
    EXPECT_EQ(dialog_.productName, "Acme Shield");
    EXPECT_EQ(engine_.marked, 0);
    EXPECT_EQ(ReadMarker(), "  \tAcme Shield \t ");
    std::string log = Log();
    EXPECT_THAT(log, HasSubstr("MarkRegistryForPossibleRemovalRetry: source empty. Registry NOT marked."));
    EXPECT_THAT(log, HasSubstr("ReadRegistryForRemovalRetry: ApplicationName='Acme Shield'"));
}

TEST_F(EngineTest, RetryMarkerFailures) {
    OpenLog();
    dialog_.productName = "";
    engine_.ReadRegistryForRemovalRetry();
    EXPECT_EQ(engine_.markerFound, 0);

    WriteMarker(std::string(300, 'x'));  // too long for the 260-byte read
    engine_.ReadRegistryForRemovalRetry();
    EXPECT_EQ(engine_.markerFound, 1);
    EXPECT_EQ(dialog_.productName, "");
    std::string log = Log();
    EXPECT_THAT(log, HasSubstr("ReadRegistryForRemovalRetry: ApplicationName not found 234")) << log;
}

TEST_F(EngineTest, Get64ProgramFilesPathReadsThe64BitView) {
    char buffer[MAX_PATH] = {};
    ASSERT_EQ(engine_.Get64ProgramFilesPath(buffer, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "C:\\Program Files");
    EXPECT_EQ(engine_.Get64ProgramFilesPath(nullptr, 10), 87u);
    EXPECT_EQ(engine_.Get64ProgramFilesPath(buffer, 0), 87u);
    char small[4] = {'x', 'x', 'x', 'x'};
    engine_.Get64ProgramFilesPath(small, sizeof small);
    EXPECT_LT(std::strlen(small), sizeof small);  // never unterminated
}

TEST_F(EngineTest, ExcludeIgnoreListRemovesByContainmentWhateverTheCase) {
    TSet list;
    TSet ignore;
    for (const char* p : {"C:\\APP\\SHARED\\A.DLL", "C:\\APP\\BIN", "C:\\APP\\SHARED", "C:\\app\\shared\\lower"}) {
        list.Insert(p);
    }
    EXPECT_EQ(engine_.ExcludeIgnoreList(list, ignore), 0u);  // an empty ignore list removes nothing
    EXPECT_EQ(list.Count(), 4);
    ignore.Insert("SHARED");
    ignore.Insert("A.DLL");  // a second match of one element removes it once
    EXPECT_EQ(engine_.ExcludeIgnoreList(list, ignore), 0u);
    // Letters match as the lists match them: text a handler took as the
    // system spells it is kept by an upper-case ignore entry.
    EXPECT_EQ(Elements(list), Texts{"C:\\APP\\BIN"});
}

TEST_F(EngineTest, LogListContentsWritesEveryElementBetweenItsMarkers) {
    OpenLog();
    TSet list;
    list.Insert("B");
    list.Insert("A");
    engine_.LogListContents(list);
    EXPECT_EQ(Log(), "--- --- --- Logging list contents... --- --- ---\r\nA\r\nB\r\n"
                     "--- --- --- List content logged! --- --- ---\r\n");
}

// The hand-written example configuration against a machine with a matching
// service and a running tray program.
// Empty ignore elements (an empty GUID, an empty service name, a value that
// holds only a backslash) would occur in every text: a run with them must
// remove exactly what it removes without them.
TEST_F(EngineTest, EmptyIgnoreEntriesChangeNothing) {
    testing_support::TempFolder folder("empties");
    ::CreateDirectoryA((folder / "Dir").c_str(), nullptr);
    ::CreateDirectoryA((folder / "Dir\\Sub").c_str(), nullptr);
    WriteWholeFile(folder / "Dir\\a.txt", "a");
    WriteWholeFile(folder / "Dir\\Sub\\b.txt", "b");
    const testing_support::TestKey base(HKEY_LOCAL_MACHINE, "SOFTWARE\\ClearwayTests\\Empties");
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) ASSERT_TRUE(base.SetText("Sub", "Backslash", "\\", view));
    const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\ClearwayTests\\Empties";
    const std::string none = "ignore=GUID,BY_VALUE,\"\"\n";
    const std::string plain = Sections("remove=GUID,BY_VALUE,{A}\n", "remove=GUID,BY_VALUE,VELSVC\n", "",
                                       "remove=GUID,BY_VALUE," + key + "\\OTHER\n", "remove=REG_KEY,BY_VALUE," + key + "\n",
                                       "remove=FILE_NAME,BY_VALUE," + folder / "Dir" + "\n");
    const std::string empties =
        Sections("remove=GUID,BY_VALUE,{A}\n" + none, "remove=GUID,BY_VALUE,VELSVC\n" + none +
                                                          "ignore=SERVICE_NAME,BY_VALUE,\"\"\n",
                 "", "remove=GUID,BY_VALUE," + key + "\\OTHER\n" + none,
                 "remove=REG_KEY,BY_VALUE," + key + "\n" + none,
                 "remove=FILE_NAME,BY_VALUE," + folder / "Dir" + "\n" + none +
                     "ignore=REG_VALUE,BY_REFERENCE," + key + "\\Sub\\Backslash\n");
    std::vector<std::vector<Texts>> results;
    for (const std::string& config : {plain, empties}) {
        CNuke engine(os_);
        engine.dialog = &dialog_;
        WriteWholeFile(ConfigPath(), config);
        ASSERT_EQ(engine.InitializeLists(0, 0), 0u) << engine.errorText;
        ASSERT_EQ(engine.PopulateLists(), 0u);
        for (TSet* ignore : {&engine.ignoreFileList, &engine.ignoreServiceList, &engine.ignoreRegKeyList,
                             &engine.ignoreRegValueList, &engine.ignoreMsiUpgradeCodeList}) {
            EXPECT_FALSE(ignore->Contains(""));
        }
        results.push_back({Elements(engine.expandedFileList), Elements(engine.expandedRegKeyList),
                           Elements(engine.expandedRegValueList), Elements(engine.expandedServiceList),
                           Elements(engine.expandedMsiUpgradeCodeList)});
    }
    base.Delete();
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[1], results[0]);
    EXPECT_EQ(results[0][0].size(), 4u);  // the folder, its subfolder and two files
    EXPECT_EQ(results[0][1].size(), 2u);  // the key and its subkey (64-bit view)
    const std::string log = Log();
    EXPECT_THAT(log, HasSubstr("TSet::Insert: an empty entry is never listed, skipped\r\n")) << log;
}

TEST_F(EngineTest, ExampleConfigurationOnAPreparedMachine) {
    testing_support::TempFolder folder("engine");
    platform::ServiceHandle scm(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(scm);
    {
        platform::ServiceHandle old(::OpenServiceA(scm.get(), "VELSERVICE_TEST", DELETE));
        if (old) ::DeleteService(old.get());
    }
    platform::ServiceHandle service(::CreateServiceA(
        scm.get(), "VELSERVICE_TEST", "VELSERVICE_TEST", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
        SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, "C:\\windows\\system32\\notepad.exe", nullptr, nullptr, nullptr,
        nullptr, nullptr));
    ASSERT_TRUE(service);
    std::string tray = folder / "veltray.exe";
    char system[MAX_PATH] = {};
    ::GetSystemDirectoryA(system, MAX_PATH);
    ASSERT_TRUE(::CopyFileA((std::string(system) + "\\cmd.exe").c_str(), tray.c_str(), FALSE));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string commandLine = "\"" + tray + "\" /c ping -n 60 127.0.0.1 >nul";
    ASSERT_TRUE(::CreateProcessA(tray.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                 nullptr, &startup, &process));

    dialog_.productName = "Velmoran";
    DWORD rc = Run("[msi upgradecode 1]\n"
                   "remove=GUID,BY_VALUE,{00000000-0000-0000-0000-000000000000}\n"
                   "[service 1]\n"
                   "remove=SERVICE_NAME,BY_VALUE,VELSERVICE*\n"
                   "[process 1]\n"
                   "stop=PROCESS_NAME,BY_VALUE,VELTRAY.EXE\n"
                   "[registry value 1]\n"
                   "[registry key 1]\n"
                   "remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmoran\\Client\n"
                   "[file 1]\n"
                   "remove=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\\Velmoran\\Client\n"
                   "ignore=FILE_NAME,BY_VALUE,C:\\Program Files\\Velmoran\\Shared\n");
    ::TerminateProcess(process.hProcess, 0);
    ::WaitForSingleObject(process.hProcess, 5000);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    ::DeleteService(service.get());
    ASSERT_EQ(rc, 0u) << engine_.errorText;

    EXPECT_EQ(Elements(engine_.removeMsiUpgradeCodeList), Texts{"{00000000-0000-0000-0000-000000000000}"});
    EXPECT_EQ(Elements(engine_.removeServiceList), Texts{"VELSERVICE_TEST"});
    EXPECT_EQ(Elements(engine_.stopProcessList), Texts{"veltray.exe"});
    EXPECT_EQ(Elements(engine_.removeRegKeyList), Texts{"HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORAN\\CLIENT"});
    // The 32-bit program's Program Files folder.
    EXPECT_EQ(Elements(engine_.removeFileList), Texts{"C:\\PROGRAM FILES (X86)\\VELMORAN\\CLIENT"});
    EXPECT_EQ(Elements(engine_.ignoreFileList), Texts{"C:\\PROGRAM FILES\\VELMORAN\\SHARED"});
    for (TSet* empty : {&engine_.ignoreMsiUpgradeCodeList, &engine_.ignoreServiceList, &engine_.startProcessList,
                        &engine_.removeRegValueList, &engine_.ignoreRegValueList, &engine_.ignoreRegKeyList}) {
        EXPECT_TRUE(empty->IsEmpty());
    }
}

// Every accepted type and method of the handler table in one file, read
// against keys in both registry views, files, folders and user profiles.
TEST_F(EngineTest, EveryHandlerCellOnAPreparedMachine) {
    const testing_support::TestKey cells(HKEY_LOCAL_MACHINE, "SOFTWARE\\ClearwayTests\\Cells");
    // The 32-bit view holds the values, the 64-bit view the keys.
    cells.SetText("", "InstallDir", "C:\\Cells\\Data", KEY_WOW64_32KEY);
    cells.SetText("", "VelOne", "plain", KEY_WOW64_32KEY);
    cells.SetText("", "Other", "holds velmoran text", KEY_WOW64_32KEY);
    cells.SetText("", "VelOnly64", "x", KEY_WOW64_64KEY);
    cells.SetText("SubA", "Owner", "Velmoran Ltd", KEY_WOW64_64KEY);
    cells.SetText("SubB", "Owner", "someone else", KEY_WOW64_64KEY);

    testing_support::TempFolder folder("cells");
    for (const char* d : {"\\both", "\\half"}) ::CreateDirectoryA((folder.path() + d).c_str(), nullptr);
    for (const char* f : {"\\x.dll", "\\y.dll", "\\both\\a.dll", "\\both\\b.exe", "\\half\\a.dll"}) {
        WriteWholeFile(folder.path() + f, "x");
    }
    platform::ServiceHandle scm(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    platform::ServiceHandle service(::CreateServiceA(
        scm.get(), "VELCELLSVC", "VELCELLSVC", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
        SERVICE_ERROR_IGNORE, "C:\\windows\\system32\\notepad.exe", nullptr, nullptr, nullptr, nullptr, nullptr));

    dialog_.productName = "Velmoran";
    const std::string k = "HKEY_LOCAL_MACHINE\\SOFTWARE\\ClearwayTests\\Cells";
    DWORD rc = Run(Sections("", "remove=SERVICE_NAME,BY_VALUE,VELCELL*\n", "",
                            "remove=REG_VALUE,BY_REFERENCE," + k + "\\InstallDir\n"
                            "remove=REG_VALUE,BY_VALUE," + k + "\\Vel*\n"
                            "remove=REG_VALUE,BY_DATA_MATCH,\"" + k + "\\*\",\"*VELMORAN*\"\n",
                            "remove=REG_KEY,BY_VALUE," + k + "\\Sub*\n"
                            "ignore=REG_KEY,BY_DATA_MATCH,\"" + k + "\\Sub*\",\"Owner\",\"*VELMORAN*\"\n",
                            "remove=FILE_NAME,BY_VALUE," + folder.path() + "\\*.dll\n"
                            "remove=FILE_NAME,BY_DATA_MATCH,\"" + folder.path() + "\\*\",\"A.DLL\",\"B.EXE\"\n"
                            "remove=FILE_NAME_EXPAND,BY_VALUE,%APPDATA%\\VelCells\n"));
    ::DeleteService(service.get());
    cells.Delete();
    ASSERT_EQ(rc, 0u) << engine_.errorText;

    const std::string K = "HKEY_LOCAL_MACHINE\\SOFTWARE\\CLEARWAYTESTS\\CELLS";
    EXPECT_EQ(Elements(engine_.removeServiceList), Texts{"VELCELLSVC"});
    // The stored text as read, the matching value name, the value whose text
    // holds the product word: all from the 32-bit view.
    EXPECT_EQ(Elements(engine_.removeRegValueList), (Texts{"C:\\Cells\\Data", K + "\\OTHER", K + "\\VELONE"}));
    EXPECT_EQ(Elements(engine_.removeRegKeyList), (Texts{K + "\\SUBA", K + "\\SUBB"}));
    EXPECT_EQ(Elements(engine_.ignoreRegKeyList), Texts{K + "\\SUBA"});

    const std::string F = "C:\\CLEARWAY-WORK\\CELLS";
    Texts files = Elements(engine_.removeFileList);
    Texts expected{F + "\\BOTH", F + "\\X.DLL", F + "\\Y.DLL"};
    // %APPDATA% is the user's folder: the entry is made for every profile
    // Windows records (the prefix's user, and the Default profile new ones
    // are copied from); a folder of the profiles folder that no profile list
    // names, such as Public, is none.
    char appData[MAX_PATH] = {}, profile[MAX_PATH] = {};
    ::SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, FALSE);
    ::SHGetSpecialFolderPathA(nullptr, profile, CSIDL_PROFILE, FALSE);
    const std::string below = std::string(appData).substr(std::strlen(profile));  // \AppData\Roaming
    const std::string profiles = std::string(profile).substr(0, std::string(profile).rfind('\\') + 1);
    for (const std::string& each : {std::string(profile), profiles + "Default"}) {
        std::string entry = each + below + "\\VELCELLS";
        for (char& c : entry) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        expected.push_back(entry);
    }
    std::sort(expected.begin(), expected.end(), [](const std::string& a, const std::string& b) {
        return _stricmp(a.c_str(), b.c_str()) < 0;
    });
    EXPECT_EQ(files, expected);
}

// Generated entry lines through the line parser and the handlers: no
// crash, no overrun, and every result one the reader knows.
TEST_F(EngineTest, FuzzedEntryLinesGiveOnlyKnownResults) {
    // Service and process entries enumerate the whole machine on every line;
    // their handlers have tests of their own.
    static const char* const types[] = {"REG_VALUE", "REG_KEY", "REG_VALUE_EXPAND", "REG_KEY_EXPAND", "FILE_NAME",
                                        "FILE_NAME_EXPAND", "GUID", "GUID", "reg_value", "GUI", "", "FILE"};
    static const char* const methods[] = {"BY_REFERENCE", "BY_VALUE", "BY_DATA_MATCH", "by_value", "BY_", ""};
    static const char* const starts[] = {"", "\"", "HKEY_LOCAL_MACHINE\\SOFTWARE\\ClearwayFuzz\\",
                                         "HKEY_CURRENT_USER\\", "C:\\clearway-work\\fuzz\\", "\"\"\"", "%NOPE%"};
    static const char alphabet[] = "ab\\/\",*?%. -_\x81\x5C\xE4\xFF";
    unsigned seed = 2024;
    auto next = [&seed](unsigned range) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % range;
    };
    std::unique_ptr<TSet> scratch(new TSet);
    int accepted = 0;
    for (int i = 0; i < 100000; ++i) {
        std::string line = types[next(12)];
        if (next(8) != 0) line += ",";
        line += methods[next(6)];
        if (next(8) != 0) line += ",";
        line += starts[next(7)];
        unsigned length = next(10) == 0 ? next(2000) : next(40);
        for (unsigned k = 0; k < length; ++k) line += alphabet[next(sizeof alphabet - 1)];
        DWORD rc = engine_.ParseListEntry(*scratch, line.c_str());
        ASSERT_TRUE(rc == 0 || rc == 13 || rc == 1610) << rc << " for " << line;
        if (rc == 0) ++accepted;
        if (i % 1000 == 999) scratch.reset(new TSet);
    }
    EXPECT_GT(accepted, 1000);  // the generator reaches the handlers, not only the keyword check
}

std::string UpperNoTrailingSeparator(std::string path) {
    while (path.size() > 3 && path.back() == '\\') path.pop_back();
    for (char& c : path) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return path;
}

// The folders no removal may take, as Windows names them: the Windows folder
// and its system folders, the Program Files folders, the profiles folder and
// every folder in it, and every folder a folder macro names (the per-user
// ones in every profile).
Texts RefusedFolders() {
    Texts out;
    char buffer[MAX_PATH] = {};
    ::GetWindowsDirectoryA(buffer, MAX_PATH);
    const std::string windows = buffer;
    for (const char* below : {"", "\\SYSTEM32", "\\SYSWOW64"}) out.push_back(UpperNoTrailingSeparator(windows + below));
    if (::GetEnvironmentVariableA("ProgramW6432", buffer, MAX_PATH)) out.push_back(UpperNoTrailingSeparator(buffer));
    for (int csidl : {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86, CSIDL_SYSTEMX86}) {
        out.push_back(UpperNoTrailingSeparator(SpecialFolder(csidl)));
    }
    const std::string profile = UpperNoTrailingSeparator(SpecialFolder(CSIDL_PROFILE));
    const std::string profiles = profile.substr(0, profile.rfind('\\'));
    Texts users{profile};
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((profiles + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != "." && name != "..") {
                users.push_back(UpperNoTrailingSeparator(profiles + "\\" + name));
            }
        } while (::FindNextFileA(find, &data));
        ::FindClose(find);
    }
    out.push_back(profiles);
    out.insert(out.end(), users.begin(), users.end());
    for (const FolderMacro& macro : kFolderMacros) {
        if (macro.folder == kProgramFiles64Folder || macro.folder == kGoogleGadgetsFolder) continue;
        const std::string folder = UpperNoTrailingSeparator(SpecialFolder(macro.folder));
        if (folder.empty()) continue;
        if (folder.compare(0, profile.size() + 1, profile + "\\") != 0) {
            out.push_back(folder);
            continue;
        }
        for (const std::string& user : users) out.push_back(user + folder.substr(profile.size()));
    }
    return out;
}

// Generated configuration files through InitializeLists and PopulateLists
// against a small folder tree and registry subtree (both views), with the
// refused folders in many spellings among the entries. After every case no
// expanded element may lie inside an element of its ignore lists, no refused
// folder may be listed for removal, and no refused, ignored or ignore-holding
// path may have been given a new ACL.
TEST_F(EngineTest, FuzzedConfigurationFilesKeepIgnoredAndRefusedFolders) {
    testing_support::TempFolder tree("fuzzcfg");
    const std::string t = tree.path();
    for (const char* d : {"\\a", "\\a\\keep", "\\a\\sub", "\\a\\Velmoran", "\\a\\Acme Shield", "\\b",
                          "\\long folder name"}) {
        ::CreateDirectoryA((t + d).c_str(), nullptr);
    }
    for (const char* f : {"\\a\\keep\\k.dll", "\\a\\x.dll", "\\a\\sub\\y.exe", "\\a\\Velmoran\\v.dll",
                          "\\a\\Acme Shield\\s.dll", "\\b\\b.txt", "\\c.dll", "\\long folder name\\l.dll"}) {
        WriteWholeFile(t + f, "x");
    }
    char shortName[MAX_PATH] = {};
    ::GetShortPathNameA((t + "\\long folder name").c_str(), shortName, MAX_PATH);

    const Texts refused = RefusedFolders();
    // Spellings of refused folders: as Windows names them, in lower case,
    // with a trailing separator, "." and ".." segments, doubled separators,
    // short names; the folder macros alone.
    Texts refusedSpellings{"C:", "C:\\", "C:\\.", "\\", "C:\\WINDOWS\\.", "C:\\WINDOWS\\SYSTEM32\\..",
                           "C:\\PROGRA~1", "C:\\PROGRA~2\\.", "C:\\PROGRAM FILES\\X\\..", "C:\\\\WINDOWS\\\\"};
    for (size_t i = 0; i < refused.size(); i += 3) {
        std::string lower = refused[i];
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (const std::string& spelling : {refused[i], lower + "\\", refused[i] + "\\.",
                                            refused[i] + "\\NOSUCH\\.."}) {
            refusedSpellings.push_back(spelling);
        }
        char shortForm[MAX_PATH] = {};
        if (::GetShortPathNameA(refused[i].c_str(), shortForm, MAX_PATH)) refusedSpellings.push_back(shortForm);
    }
    Texts macroSpellings;
    for (const char* macro : {"%APPDATA%", "%COMMON_APPDATA%", "%PROGRAM_FILES%", "%PROGRAM_FILES_64%", "%WINDOWS%",
                              "%SYSTEM%", "%PERSONAL%", "%STARTMENU%", "%COMMON_PROGRAMS%", "%DESKTOPDIRECTORY%"}) {
        for (const char* suffix : {"", "\\", "\\.", "\\NOSUCH\\.."}) {
            macroSpellings.push_back(std::string(macro) + suffix);
        }
    }
    // Wildcards and folder contents that reach refused folders only.
    const Texts reaching{"C:\\USERS\\*", "C:\\PROGRA*", "C:\\WIN*"};
    const Texts reachingByContent{"\"C:\\*\",\"SYSTEM32\"", "\"C:\\USERS\\*\",\"APPDATA\""};
    const Texts macroByContent{"\"%COMMON_APPDATA%\",\"MICROSOFT\"", "\"%WINDOWS%\",\"SYSTEM32\""};
    const Texts inTree{"", "\\a", "\\A\\KEEP", "\\a\\keep\\k.dll", "\\a\\x.dll", "\\a\\sub", "\\a\\Velmoran",
                       "\\a\\Acme Shield", "\\b", "\\c.dll", "\\long folder name", "\\*", "\\a\\*", "\\*.dll",
                       "\\a\\k*", "\\missing", "\\a\\keep\\..", "\\a\\.\\keep", "\\\\a", "\\a  ", "\\a\\velmoran\\*"};

    // The registry subtree: keys in the 64-bit view, values read by reference
    // in the program's own view, some of them naming refused folders.
    const testing_support::TestKey base(HKEY_LOCAL_MACHINE, "SOFTWARE\\ClearwayTests\\FuzzCfg");
    auto setValue = [&base](REGSAM view, const std::string& sub, const char* name, const std::string& data) {
        base.SetText(sub.empty() ? sub : sub.substr(1), name, data, view);  // sub begins with its separator
    };
    setValue(KEY_WOW64_64KEY, "", "", "default");
    setValue(KEY_WOW64_64KEY, "", "Own", "x");
    setValue(KEY_WOW64_64KEY, "\\Keep\\Deeper", "V", "x");
    setValue(KEY_WOW64_64KEY, "\\Drop", "W", "x");
    setValue(KEY_WOW64_64KEY, "\\Velmoran", "Owner", "Velmoran Ltd");
    const Texts referenced{t + "\\a", t + "\\a\\keep", "C:\\WINDOWS\\.", "C:\\PROGRA~1", "\\", refused.back(),
                           refused[refused.size() / 2] + "\\.", t + "\\*"};
    for (size_t i = 0; i < referenced.size(); ++i) {
        setValue(KEY_WOW64_32KEY, "", ("Ref" + std::to_string(i)).c_str(), referenced[i]);
    }
    setValue(KEY_WOW64_32KEY, "\\Only32", "Owner", "Velmoran");
    const std::string k = "HKEY_LOCAL_MACHINE\\SOFTWARE\\ClearwayTests\\FuzzCfg";

    unsigned seed = 8;
    auto next = [&seed](unsigned range) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % range;
    };
    auto pick = [&next](const Texts& texts) { return texts[next(static_cast<unsigned>(texts.size()))]; };
    auto filePath = [&]() -> std::string {
        switch (next(6)) {
        case 0: return pick(refusedSpellings);
        case 1: return pick(reaching);
        case 2: return std::string(shortName) + (next(2) ? "\\L.DLL" : "");
        default: return t + pick(inTree);
        }
    };
    // One argument for each handler cell of the table.
    auto argument = [&](unsigned kind, bool ignore) -> std::string {
        switch (kind) {
        case 0: return "FILE_NAME,BY_VALUE," + filePath();
        case 1: return "FILE_NAME,BY_DATA_MATCH," + (next(3) == 0 ? pick(reachingByContent)
                                                                 : "\"" + t + pick(inTree) + "\",\"*.DLL\"");
        case 2: return "FILE_NAME_EXPAND,BY_VALUE," + pick(macroSpellings) + (next(3) == 0 ? "\\VelFuzz" : "");
        case 3: return "FILE_NAME_EXPAND,BY_DATA_MATCH," + pick(macroByContent);
        case 4: return "REG_VALUE,BY_REFERENCE," + k + "\\Ref" + std::to_string(next(9));
        case 5: return "REG_VALUE,BY_VALUE," + k + pick({"\\Own", "\\Ref*", "\\*", "\\Keep\\Deeper\\V", "\\"});
        case 6: return "REG_VALUE,BY_DATA_MATCH,\"" + k + "\\*\",\"" + pick({"*CLEARWAY*", "*", "*WINDOWS*"}) + "\"";
        case 7: return "REG_KEY,BY_VALUE," + (next(4) == 0 ? "hkey_local_machine\\software\\clearwaytests\\fuzzcfg"
                                                           : k) +
                       pick({"", "\\Keep", "\\Drop", "\\Velmoran", "\\*", "\\K*", "\\Missing", "\\Keep\\Deeper"});
        case 8: return "REG_KEY,BY_DATA_MATCH,\"" + k + "\\*\",\"" + pick({"Owner", "Deeper\\V", ""}) +
                       "\",\"*VELMORAN*\"";
        case 9: return "SERVICE_NAME,BY_VALUE," + pick({"VELFUZZSVC", "velfuzz*", "\"\""});
        case 10: return "PROCESS_NAME,BY_VALUE," + pick({"velfuzz.exe", "VELFUZZ*"});
        default: return "GUID,BY_VALUE," + pick({"{A}", "\"{B}\"", "{a}", ignore ? "\"\"" : "{C}"});
        }
    };
    struct Section {
        const char* header;
        Texts keys;
        std::vector<unsigned> kinds;  // the handler cells the section's own entries use
    };
    const std::vector<Section> sections{
        {"[msi upgradecode 1]", {"remove", "ignore"}, {11}},
        {"[service 1]", {"remove", "ignore"}, {9, 11}},
        {"[process 1]", {"stop", "start"}, {10, 11}},
        {"[registry value 1]", {"remove", "ignore"}, {4, 5, 6}},
        {"[registry key 1]", {"remove", "ignore"}, {7, 8}},
        {"[file 1]", {"remove", "ignore"}, {0, 1, 2, 3, 4, 0, 0}},
    };
    const Texts noise{"; a note", "# remove=GUID,BY_VALUE,{NOTE}", "", "   ", "\t", "[notes]",
                      "remove=GUID,BY_VALUE,{OUTSIDE}", std::string(420, 'n'), "[" + std::string(400, 'l') + "]",
                      "  remove=FILE_NAME,BY_VALUE,C:\\WINDOWS", "remove=FILE_NAME, BY_VALUE,x"};
    const Texts names{"Velmoran Client Security", "Acme Shield", ".."};
    const Texts installPaths{"", t + "\\a", "C:\\PROGRA~1\\.", "C:\\WINDOWS"};

    const int kCases = 160;
    int populated = 0;
    int refusals = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCases; ++i) {
        const char* end = next(2) ? "\n" : "\r\n";
        std::string config;
        std::vector<size_t> order{0, 1, 2, 3, 4, 5};
        for (size_t j = order.size(); j > 1; --j) std::swap(order[j - 1], order[next(static_cast<unsigned>(j))]);
        for (size_t index : order) {
            const Section& section = sections[index];
            std::string header = section.header;
            if (next(6) == 0) header += next(2) ? " ; " + std::string(400, 'c') : "   notes";
            config += header + end;
            for (unsigned n = next(7); n > 0; --n) {
                if (next(5) == 0) {
                    config += pick(noise) + end;
                    continue;
                }
                const bool ignore = next(3) == 0;
                const std::string& key = section.keys[ignore ? 1 : 0];
                const unsigned kind = next(5) == 0 ? next(12) : section.kinds[next(
                                                                    static_cast<unsigned>(section.kinds.size()))];
                config += key + "=" + argument(kind, key == "ignore") + (next(8) == 0 ? "  " : "") + end;
            }
        }
        if (next(4) == 0) config.resize(config.size() - std::strlen(end));  // no line end after the last line

        DeleteMarker();
        TestPlatform os;
        os.keepFilePermissions = true;  // the generated entries name real system folders
        TestDialog dialog;
        dialog.productName = pick(names);
        dialog.installPath = pick(installPaths);
        CNuke engine(os);
        engine.dialog = &dialog;
        WriteWholeFile(ConfigPath(), config);
        const DWORD rc = engine.InitializeLists(next(8) == 0 ? 1 : 0, 0);
        ASSERT_TRUE(rc == 0 || rc == 13 || rc == 1610) << rc << " in case " << i << ":\n" << config;
        if (rc != 0) continue;
        ASSERT_EQ(engine.PopulateLists(), 0u) << "case " << i << ":\n" << config;
        ++populated;

        std::string problem;
        auto inside = [](const char* element, TSet& ignoreList) {
            const char* ignore = nullptr;
            for (DWORD more = ignoreList.GetFirst(ignore); more == 0; more = ignoreList.GetNext(ignore)) {
                if (*ignore && _mbsstr(reinterpret_cast<const unsigned char*>(element),
                                       reinterpret_cast<const unsigned char*>(ignore))) {
                    return std::string(ignore);
                }
            }
            return std::string();
        };
        const struct {
            TSet* expanded;
            std::vector<TSet*> ignores;
        } pairs[] = {
            {&engine.expandedFileList, {&engine.ignoreFileList}},
            {&engine.expandedRegKeyList, {&engine.ignoreRegKeyList}},
            {&engine.expandedRegValueList, {&engine.ignoreRegValueList, &engine.ignoreRegKeyList}},
            {&engine.expandedServiceList, {&engine.ignoreServiceList}},
            {&engine.expandedMsiUpgradeCodeList, {&engine.ignoreMsiUpgradeCodeList}},
        };
        for (const auto& pair : pairs) {
            for (const std::string& element : Elements(*pair.expanded)) {
                for (TSet* ignoreList : pair.ignores) {
                    const std::string ignore = inside(element.c_str(), *ignoreList);
                    if (!ignore.empty()) problem += "'" + element + "' lies inside ignored '" + ignore + "'\n";
                }
            }
            for (TSet* ignoreList : pair.ignores) {
                for (const std::string& ignore : Elements(*ignoreList)) {
                    if (ignore.empty()) problem += "an ignore list holds an empty element\n";
                }
            }
        }
        auto isRefused = [&refused](std::string path) {
            path = UpperNoTrailingSeparator(path);
            if (path == "\\" || (path.size() <= 3 && path.size() >= 2 && path[1] == ':')) return true;
            return std::find(refused.begin(), refused.end(), path) != refused.end();
        };
        for (const std::string& element : Elements(engine.expandedFileList)) {
            if (isRefused(element)) problem += "refused '" + element + "' is listed\n";
        }
        for (const std::string& path : os.filePermissionChanges) {
            const std::string upper = UpperNoTrailingSeparator(path);
            if (isRefused(upper)) problem += "refused '" + path + "' got a new ACL\n";
            if (!inside(upper.c_str(), engine.ignoreFileList).empty()) {
                problem += "ignored '" + path + "' got a new ACL\n";
            }
            for (const std::string& ignore : Elements(engine.ignoreFileList)) {
                if (ignore.compare(0, upper.size() + 1, upper + "\\") == 0) {
                    problem += "'" + path + "' holds ignored '" + ignore + "' and got a new ACL\n";
                }
            }
        }
        ASSERT_EQ(problem, "") << "case " << i << ":\n" << config;
        const std::string log = Log();
        if (log.find("refusing to remove") != std::string::npos) ++refusals;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("[ FIGURES  ] %d generated configuration files, %d populated, %d with refused folders, %.1f s\n",
                kCases, populated, refusals, seconds);
    base.Delete();
    // The generator reaches the populate step and the refusals, not only the reader.
    EXPECT_GT(populated, kCases / 2);
    EXPECT_GT(refusals, kCases / 10);
}

}  // namespace
