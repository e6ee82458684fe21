// The trace log against real files under Wine; the platform double only
// records debugger output, answers message boxes and fixes the clock.
// The log is a text-mode stream, so each "\n" reaches the file as "\r\n".
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/matchers.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_platform.h"
#include "trace/trace.h"

using testing_support::PathExists;
using testing_support::ProgramFolder;
using testing_support::ReadWholeFile;
using testing_support::TempFolder;
using testing_support::TestPlatform;
using testing_support::WriteWholeFile;

namespace {

const char* const kDateTime = "[ 0-9][0-9]/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\t";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

class TraceTest : public ::testing::Test {
protected:
    TraceTest() : folder_("trace") {}

    void SetUp() override {
        TraceSetPlatform(&os_);
        ResetTrace();
    }
    void TearDown() override {
        ResetTrace();
        TraceSetPlatform(nullptr);
    }

    // Back to the start-up defaults: no log file, no settings, default options.
    void ResetTrace() {
        TraceShutdown();
        std::string empty = folder_ / "empty.ini";
        WriteWholeFile(empty, "");
        TraceLoadSettings(empty.c_str());
        TraceLoadSettings(nullptr);
        TraceSetLineEnd("");
        TraceSetScopeEnabled(true);
        TraceSetModule(nullptr);
    }

    std::string LoadSettings(const std::string& text) {
        std::string path = folder_ / "trace.ini";
        WriteWholeFile(path, text);
        TraceLoadSettings(path.c_str());
        return path;
    }

    std::string Log() {
        TraceShutdown();  // closes and flushes, so the file is complete
        return ReadWholeFile(folder_ / "trace_tests.log");
    }

    TestPlatform os_;
    TempFolder folder_;
};

TEST_F(TraceTest, BeforeInitLinesGoToDebuggerOutputAndNoFileExists) {
    std::string besideProgram = ProgramFolder() + "trace_tests.log";
    ::DeleteFileA(besideProgram.c_str());
    TraceWrite("", -1, 0, "starting %d\n", 7);
    EXPECT_EQ(os_.DebugOutput(), "starting 7\n");
    EXPECT_STREQ(TraceLogPath(), "");
    EXPECT_FALSE(PathExists(besideProgram));
    EXPECT_FALSE(PathExists(folder_ / "trace_tests.log"));
}

TEST_F(TraceTest, BannerCarriesDateTimeBaseNameAndVersion) {
    InitTraceLog(nullptr, false, folder_.path().c_str());
    TraceWrite("", -1, 0, "second\n");
    std::vector<std::string> lines = Lines(Log());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(std::string(kDateTime) + "trace_tests v\\.1\\.2\\.3\\.4")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(std::string(kDateTime) + "second"))) << lines[1];
    EXPECT_EQ(os_.DebugOutput(), "");
}

TEST_F(TraceTest, InitStartsTheLogAfreshUnlessAppending) {
    WriteWholeFile(folder_ / "trace_tests.log", "old run\n");
    InitTraceLog(nullptr, false, folder_.path().c_str());
    EXPECT_THAT(Log(), Not(HasSubstr("old run")));

    WriteWholeFile(folder_ / "trace_tests.log", "old run\n");
    InitTraceLog(nullptr, true, folder_.path().c_str());
    std::string appended = Log();
    EXPECT_EQ(appended.rfind("old run\n", 0), 0u);
    EXPECT_THAT(appended, HasSubstr("trace_tests v.1.2.3.4"));
}

TEST_F(TraceTest, MissingFolderPutsTheLogBesideTheProgram) {
    std::string besideProgram = ProgramFolder() + "trace_tests.log";
    ::DeleteFileA(besideProgram.c_str());
    InitTraceLog(nullptr, false, (folder_ / "missing").c_str());
    EXPECT_EQ(std::string(TraceLogPath()), besideProgram);
    TraceShutdown();
    EXPECT_THAT(ReadWholeFile(besideProgram), HasSubstr("trace_tests v.1.2.3.4\r\n"));
    ::DeleteFileA(besideProgram.c_str());
}

TEST_F(TraceTest, MissingFolderWithALogOpenOnlyAddsABanner) {
    InitTraceLog(nullptr, false, folder_.path().c_str());
    std::string opened = TraceLogPath();
    InitTraceLog(nullptr, false, (folder_ / "missing").c_str());
    EXPECT_EQ(std::string(TraceLogPath()), opened);
    std::vector<std::string> lines = Lines(Log());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_THAT(lines[1], HasSubstr("trace_tests v.1.2.3.4"));
}

TEST_F(TraceTest, OverlongPathOpensNothingAndWritesNoBanner) {
    std::string deep = folder_.path();
    while (deep.size() < 245) {
        deep += "\\abcdefghij";
        ::CreateDirectoryA(deep.c_str(), nullptr);
    }
    ASSERT_TRUE(PathExists(deep));
    // Nothing is opened, in the folder or beside the program.
    std::string besideProgram = ProgramFolder() + "trace_tests.log";
    ::DeleteFileA(besideProgram.c_str());
    InitTraceLog(nullptr, false, deep.c_str());
    EXPECT_STREQ(TraceLogPath(), "");
    EXPECT_FALSE(PathExists(besideProgram));
    EXPECT_EQ(os_.DebugOutput(), "");

    // With a log open, the open log stays and gets no second banner.
    InitTraceLog(nullptr, false, folder_.path().c_str());
    std::string opened = TraceLogPath();
    InitTraceLog(nullptr, false, deep.c_str());
    EXPECT_EQ(std::string(TraceLogPath()), opened);
    std::vector<std::string> lines = Lines(Log());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_THAT(lines[0], HasSubstr("trace_tests v.1.2.3.4"));
    EXPECT_EQ(os_.DebugOutput(), "");
}

TEST_F(TraceTest, ReopeningTheOpenPathKeepsTheFileEvenWithModeW) {
    std::string path = folder_ / "trace_tests.log";
    TraceOpenLog(path.c_str(), "w");
    TraceWrite("", -1, 0, "kept\n");
    TraceOpenLog(path.c_str(), "w");
    TraceWrite("", -1, 0, "also\n");
    EXPECT_EQ(Log(), "kept\r\nalso\r\n");
}

TEST_F(TraceTest, UnopenableLogFileSendsLinesToTheDebugger) {
    // A folder cannot be opened as a file.
    TraceOpenLog(folder_.path().c_str(), "w");
    EXPECT_STREQ(TraceLogPath(), "");
    TraceWrite("", -1, 0, "still seen\n");
    EXPECT_EQ(os_.DebugOutput(), "still seen\n");
}

TEST_F(TraceTest, RelativeLogNamesUseTheModuleFolder) {
    std::string besideProgram = ProgramFolder() + "relative_trace.log";
    ::DeleteFileA(besideProgram.c_str());
    TraceOpenLog("relative_trace.log", "w");
    TraceWrite("", -1, 0, "here\n");
    TraceShutdown();
    EXPECT_EQ(ReadWholeFile(besideProgram), "here\r\n");
    ::DeleteFileA(besideProgram.c_str());
}

TEST_F(TraceTest, BaseNameLosesOnlyTheLastExtension) {
    std::string fake;
    os_.moduleFileName = [&fake](HMODULE, LPSTR buffer, DWORD size) -> DWORD {
        lstrcpynA(buffer, fake.c_str(), static_cast<int>(size));
        return static_cast<DWORD>(fake.size());
    };
    fake = folder_ / "tool.setup.exe";
    InitTraceLog(nullptr, false, folder_.path().c_str());
    EXPECT_EQ(std::string(TraceLogPath()), folder_ / "tool.setup.log");
    TraceShutdown();
    fake = folder_ / "noextension";
    InitTraceLog(nullptr, false, folder_.path().c_str());
    EXPECT_EQ(std::string(TraceLogPath()), folder_ / "noextension.log");
    TraceShutdown();
    EXPECT_THAT(ReadWholeFile(folder_ / "noextension.log"), HasSubstr("noextension v."));
}

TEST_F(TraceTest, LevelAndTypeFilters) {
    InitTraceLog(nullptr, false, folder_.path().c_str());
    TraceWrite("", -1, 1, "level one\n");
    TraceWrite("", 2, 0, "type two\n");
    TraceSetOptions(4, 5, false, false);
    TraceWrite("", 2, 0, "masked\n");
    TraceWrite("", 4, 5, "level five\n");
    TraceWrite("", 4, 6, "level six\n");
    TraceSetOptions(-1, -7, false, false);  // a negative threshold is stored as 0
    TraceWrite("", -1, 0, "zero\n");
    TraceWrite("", -1, -1, "negative\n");
    TraceWrite("", -1, 1, "one\n");
    std::string log = Log();
    EXPECT_THAT(log, Not(HasSubstr("level one")));
    EXPECT_THAT(log, HasSubstr("type two"));
    EXPECT_THAT(log, Not(HasSubstr("masked")));
    EXPECT_THAT(log, HasSubstr("level five"));
    EXPECT_THAT(log, Not(HasSubstr("level six")));
    EXPECT_THAT(log, HasSubstr("\r\nzero\r\nnegative\r\n"));
    EXPECT_THAT(log, Not(HasSubstr("\none\r\n")));
}

TEST_F(TraceTest, ComponentFilters) {
    LoadSettings("include=engine, dialog\n");
    TraceWrite("ENGINE", -1, 0, "a");
    TraceWrite("other", -1, 0, "b");
    TraceWrite(nullptr, -1, 0, "c");
    EXPECT_EQ(os_.DebugOutput(), "a");

    os_.ClearDebugOutput();
    LoadSettings("exclude=engine\n");
    TraceWrite("Engine", -1, 0, "a");
    TraceWrite("other", -1, 0, "b");
    TraceWrite(nullptr, -1, 0, "c");
    EXPECT_EQ(os_.DebugOutput(), "bc");

    // With both lists only the include list counts.
    os_.ClearDebugOutput();
    LoadSettings("include=engine\nexclude=engine\n");
    TraceWrite("engine", -1, 0, "a");
    TraceWrite("other", -1, 0, "b");
    EXPECT_EQ(os_.DebugOutput(), "a");
}

TEST_F(TraceTest, PrefixesComeInTheirOrderEachAsAPiece) {
    os_.localTime = [](LPSYSTEMTIME t) {
        *t = SYSTEMTIME{};
        t->wYear = 2008;
        t->wMonth = 3;
        t->wDay = 4;
        t->wHour = 5;
        t->wMinute = 6;
        t->wSecond = 7;
    };
    LoadSettings("hpc=1\ntc=1\ndt=1\ntid=1\n");
    TraceWrite("", -1, 0, "first\n");
    TraceWrite("", -1, 0, "second\n");
    std::vector<std::string> lines = Lines(os_.DebugOutput());
    ASSERT_EQ(lines.size(), 2u);
    char tid[16];
    std::snprintf(tid, sizeof tid, "%lX", static_cast<unsigned long>(::GetCurrentThreadId()));
    // thread id, date and time (a year below 10 as a blank and one digit),
    // tick count, counter delta (0 on the first line), then the text.
    std::regex shape(std::string(tid) + "\t 8/03/04 05:06:07\t[0-9A-F]{8}\t +([0-9]+)\t(first|second)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, shape)) << lines[0];
    EXPECT_EQ(m[1].str(), "0");
    EXPECT_EQ(lines[0].substr(lines[0].size() - 5 - 9, 9), "       0\t");
    EXPECT_TRUE(std::regex_match(lines[1], shape)) << lines[1];
}

TEST_F(TraceTest, SettingsKeywordsAndTheSubstringRule) {
    // "tc" inside an include value makes the line a tick-count line.
    LoadSettings("# tid=1 is a comment\ninclude=fetch\n");
    TraceWrite("fetch", -1, 0, "x\n");
    EXPECT_TRUE(std::regex_match(os_.DebugOutput(), std::regex("[0-9A-F]{8}\tx\n"))) << os_.DebugOutput();

    os_.ClearDebugOutput();
    LoadSettings("tl=3\nts=2\n");
    TraceWrite("", 2, 3, "a");
    TraceWrite("", 1, 3, "b");
    TraceWrite("", 2, 4, "c");
    EXPECT_EQ(os_.DebugOutput(), "a");

    os_.ClearDebugOutput();
    LoadSettings("notrace=1\n");
    TraceWrite("", -1, 0, "dropped");
    EXPECT_EQ(os_.DebugOutput(), "");

    os_.ClearDebugOutput();
    LoadSettings("tid\ndt=\n");  // no equals sign, or nothing after it: no effect
    TraceWrite("", -1, 0, "plain");
    EXPECT_EQ(os_.DebugOutput(), "plain");
}

TEST_F(TraceTest, IndentationFollowsNestedScopesUnlessSwitchedOff) {
    {
        TraceScope outer("", "outer");
        TraceWrite("", -1, 0, "inside\n");
    }
    EXPECT_EQ(os_.DebugOutput(), "{ outer   inside\n} outer");

    os_.ClearDebugOutput();
    LoadSettings("nid=1\n");
    {
        TraceScope outer("", "outer");
        TraceWrite("", -1, 0, "inside\n");
    }
    EXPECT_EQ(os_.DebugOutput(), "{ outerinside\n} outer");
}

TEST_F(TraceTest, ScopeRestoresTheScopeSwitch) {
    {
        TraceScope scope("", "s");
        TraceSetScopeEnabled(false);
        TraceWrite("", -1, 0, "hidden\n");
    }
    TraceWrite("", -1, 0, "shown\n");
    EXPECT_EQ(os_.DebugOutput(), "{ s} sshown\n");
}

TEST_F(TraceTest, LineEndTextIsAppendedToTheFormat) {
    LoadSettings("eol=\\r\\n\n");
    TraceWrite("", -1, 0, "a");
    EXPECT_EQ(os_.DebugOutput(), "a\r\n");

    os_.ClearDebugOutput();
    TraceSetLineEnd(" [%d]\n");  // a per cent sign in it acts as a conversion
    TraceWrite("", -1, 0, "b", 42);
    EXPECT_EQ(os_.DebugOutput(), "b [42]\n");

    os_.ClearDebugOutput();
    LoadSettings("eol=\\t-\\q\n");  // plain characters and unknown escapes stay literal
    TraceWrite("", -1, 0, "c");
    EXPECT_EQ(os_.DebugOutput(), "c\t-\\q");
}

TEST_F(TraceTest, TfOpensTheLogWithAndWithoutAMode) {
    // The path holds none of the keywords, which are found anywhere in a line.
    std::string path = folder_ / "flow.log";
    WriteWholeFile(path, "before\n");
    LoadSettings("tf=" + path + ", a+\n");
    TraceWrite("", -1, 0, "appended\n");
    TraceShutdown();
    EXPECT_EQ(ReadWholeFile(path), "before\n\r\r\nappended\r\n");

    LoadSettings("dt=1\ntf=" + path + "\n");
    TraceWrite("", 2, 0, "fresh\n");
    TraceShutdown();
    std::string log = ReadWholeFile(path);
    EXPECT_EQ(log.rfind("dt \r\r\n", 0), 0u) << log;  // header of the switches that are on
    EXPECT_THAT(log, Not(HasSubstr("before")));
}

TEST_F(TraceTest, RefreshPeriodRereadsTheSettingsFile) {
    std::time_t clock = 1000;
    os_.now = [&clock] { return clock; };
    std::string path = LoadSettings("tfr=10\n");
    WriteWholeFile(path, "tfr=10\nnotrace=1\n");
    clock = 1009;
    TraceWrite("", -1, 0, "a");
    clock = 1010;
    TraceWrite("", -1, 0, "b");
    EXPECT_EQ(os_.DebugOutput(), "a");
}

TEST_F(TraceTest, LongLinesAreCutTo1023Characters) {
    InitTraceLog(nullptr, false, folder_.path().c_str());
    TraceSetOptions(-1, 0, false, false);
    std::string longText(5000, 'x');
    TraceWrite("", -1, 0, "%s", longText.c_str());
    TraceWrite("", -1, 0, "\nafter\n");
    std::vector<std::string> lines = Lines(Log());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], std::string(1023, 'x'));
    EXPECT_EQ(lines[2], "after");
}

TEST_F(TraceTest, BadInputDoesNotCrash) {
    TraceWrite(nullptr, -1, 0, nullptr);
    TraceWrite("", -1, 0, "");
    std::string longFormat(3000, 'f');
    TraceSetLineEnd("\n");
    TraceWrite("", -1, 0, longFormat.c_str());
    EXPECT_EQ(os_.DebugOutput(), std::string(1023, 'f'));
    TraceOpenLog(nullptr, nullptr);
    TraceLoadSettings((folder_ / "missing.ini").c_str());
    InitTraceLog(nullptr, false, nullptr);  // beside the program
    EXPECT_THAT(std::string(TraceLogPath()), HasSubstr("trace_tests.log"));
    std::string besideProgram = TraceLogPath();
    TraceShutdown();
    ::DeleteFileA(besideProgram.c_str());
}

TEST_F(TraceTest, EightThreadsNeverInterleaveInsideALine) {
    InitTraceLog(nullptr, false, folder_.path().c_str());
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 1000; ++i) {
                TraceWrite("", -1, 0, "thread %d line %04d %s\n", t, i, "abcdefghijklmnopqrstuvwxyz");
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    std::vector<std::string> lines = Lines(Log());
    ASSERT_EQ(lines.size(), 8001u);
    std::regex shape(std::string(kDateTime) + "thread ([0-7]) line ([0-9]{4}) abcdefghijklmnopqrstuvwxyz");
    std::vector<int> next(8, 0);
    for (size_t i = 1; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, shape)) << "line " << i << ": " << lines[i];
        int thread = std::stoi(m[1].str());
        EXPECT_EQ(std::stoi(m[2].str()), next[thread]++);  // each thread's lines in its order
    }
}

TEST_F(TraceTest, AssertTracesAndAsksAbortRetryIgnore) {
    InitTraceLog(nullptr, false, folder_.path().c_str());
    os_.messageBoxAnswer = IDIGNORE;
    TraceAssert("engine.cpp", 12, "count > 0");
    ASSERT_EQ(os_.boxes.size(), 1u);
    EXPECT_EQ(os_.boxes[0].text, "engine.cpp (12). Assertion Failed: count > 0\n");
    EXPECT_EQ(os_.boxes[0].caption, "Assertion");
    EXPECT_EQ(os_.boxes[0].type, static_cast<UINT>(MB_SYSTEMMODAL | MB_ICONERROR | MB_ABORTRETRYIGNORE));
    EXPECT_EQ(os_.debugBreaks, 0);
    EXPECT_TRUE(os_.exitCodes.empty());

    os_.messageBoxAnswer = IDRETRY;
    TraceAssert("engine.cpp", 13, nullptr);
    EXPECT_EQ(os_.boxes.back().text, "engine.cpp (13). Assertion Failed.\n");
    EXPECT_EQ(os_.debugBreaks, 1);

    os_.messageBoxAnswer = IDABORT;
    std::string longExpression(600, 'e');
    TraceAssert("engine.cpp", 14, longExpression.c_str());
    EXPECT_EQ(os_.boxes.back().text.size(), 255u);
    EXPECT_EQ(os_.exitCodes.size(), 1u);

    // Each assertion is logged once, to the open log only.
    std::vector<std::string> lines = Lines(Log());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(std::string(kDateTime) +
                                                      "engine\\.cpp \\(12\\)\\. Assertion Failed: count > 0")))
        << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(std::string(kDateTime) +
                                                      "engine\\.cpp \\(13\\)\\. Assertion Failed\\.")))
        << lines[2];
    EXPECT_TRUE(std::regex_match(lines[3], std::regex(std::string(kDateTime) + "engine\\.cpp \\(14\\)\\. "
                                                      "Assertion Failed: e{220}")))
        << lines[3];
    EXPECT_EQ(os_.DebugOutput(), "");
}

}  // namespace
