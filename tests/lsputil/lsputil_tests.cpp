// instvelps_x64 under Wine with the stand-in library (stand_in_library.cpp),
// started from this 32-bit program as a 64-bit process, as Clearway starts
// it. The utility and the stand-ins lie beside this program (copied from the
// 64-bit tree when the tests run). Every run has a working utility and
// library planted in its current folder and on PATH: neither may be used.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "profile/engine.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_dialog.h"
#include "tests/support/test_platform.h"
#include "trace/trace.h"

namespace {

using testing_support::ProgramFolder;
using testing_support::ReadWholeFile;
using testing_support::TempFolder;
using testing_support::TestPlatform;

const char kUsage[] =
    "install.exe usage: \n\ninstall.exe [install <lsp_dll_path>|uninstall|uninstall_all|print_all]\n\n";
const char kNoLibrary[] = "install.dll must be placed in the current directory\n";

void CopyBeside(const std::string& name, const TempFolder& folder, const std::string& as) {
    ASSERT_TRUE(::CopyFileA((ProgramFolder() + name).c_str(), (folder / as).c_str(), FALSE))
        << name << ": " << ::GetLastError();
}

// A folder holding the utility and, unless library is empty, that library
// of the program folder under the name the utility loads.
void Stock(const TempFolder& folder, const std::string& library) {
    CopyBeside("instvelps_x64.exe", folder, "instvelps_x64.exe");
    if (!library.empty()) CopyBeside(library, folder, "instvelps_x64.dll");
}

// A working utility and library in the current folder and first on PATH,
// and a program under the utility's name that ends with 7 beside them.
class PlantedFolder {
public:
    PlantedFolder() : folder_("lsputil-planted") {
        Stock(folder_, "instvelps_x64.dll");
        CopyBeside("exit_seven.exe", folder_, "instvelps_x64.exe");
        char old[MAX_PATH] = {};
        ::GetCurrentDirectoryA(MAX_PATH, old);
        oldDirectory_ = old;
        ::SetCurrentDirectoryA(folder_.path().c_str());
        std::vector<char> path(32767);
        path.resize(::GetEnvironmentVariableA("PATH", path.data(), static_cast<DWORD>(path.size())));
        oldPath_.assign(path.begin(), path.end());
        ::SetEnvironmentVariableA("PATH", (folder_.path() + ";" + oldPath_).c_str());
    }
    ~PlantedFolder() {
        ::SetEnvironmentVariableA("PATH", oldPath_.c_str());
        ::SetCurrentDirectoryA(oldDirectory_.c_str());
    }
    PlantedFolder(const PlantedFolder&) = delete;
    PlantedFolder& operator=(const PlantedFolder&) = delete;

private:
    TempFolder folder_;
    std::string oldDirectory_, oldPath_;
};

// A file that takes what started programs write to their standard output,
// inheritable, for as long as it lives.
class OutputFile {
public:
    explicit OutputFile(const std::string& path) : path_(path) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        handle_.reset(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    HANDLE get() const { return handle_.get(); }
    // What was written, with the text-mode line ends of the C runtime
    // ("\r\n") read as "\n".
    std::string Close() {
        handle_.reset();
        std::string text;
        for (char c : ReadWholeFile(path_)) {
            if (c != '\r') text += c;
        }
        return text;
    }

private:
    std::string path_;
    platform::FileHandle handle_;
};

struct UtilityRun {
    DWORD exitCode;
    std::string output;
};

// Starts the utility of folder with the arguments, its output redirected.
UtilityRun RunUtility(const TempFolder& folder, const std::string& arguments, bool failing) {
    OutputFile out(folder / "output.txt");
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out.get();
    startup.hStdError = out.get();
    std::string line = "\"" + (folder / "instvelps_x64.exe") + "\"" + (arguments.empty() ? "" : " " + arguments);
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    ::SetEnvironmentVariableA("INSTVELPS_STAND_IN_FAIL", failing ? "1" : nullptr);
    PROCESS_INFORMATION info = {};
    BOOL started = FALSE;
    // Under the emulated 32-bit loader a start of a 64-bit program has once
    // failed with 1359 while both test trees ran; that start is made again.
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        started = ::CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                                   &startup, &info);
        if (!started && ::GetLastError() != ERROR_INTERNAL_ERROR) break;
    }
    ::SetEnvironmentVariableA("INSTVELPS_STAND_IN_FAIL", nullptr);
    if (!started) return {~0u, "not started: " + std::to_string(::GetLastError())};
    platform::ObjectHandle process(info.hProcess), thread(info.hThread);
    // A guard against a hung utility, not a measure of its speed.
    if (::WaitForSingleObject(process.get(), 60000) != WAIT_OBJECT_0) return {~0u, "did not end"};
    DWORD code = ~0u;
    ::GetExitCodeProcess(process.get(), &code);
    return {code, out.Close()};
}

// Text with at most one '*', which stands for any text.
bool Matches(const std::string& pattern, const std::string& text) {
    const size_t star = pattern.find('*');
    if (star == std::string::npos) return text == pattern;
    const std::string head = pattern.substr(0, star), tail = pattern.substr(star + 1);
    return text.size() >= head.size() + tail.size() && text.compare(0, head.size(), head) == 0 &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

struct CommandCase {
    const char* library;  // beside the utility as instvelps_x64.dll; "" for none
    std::string arguments;
    bool failing;  // the stand-in's UnInstall, UnInstallAll and PrintAll report failure
    std::string expected;
    // 0 when the action succeeded; 1 when it failed, 126 without the
    // library, 87 for a command it does not know.
    DWORD exitCode = 0;
};

TEST(LspUtility, CommandTable) {
    PlantedFolder planted;
    const std::string full = "instvelps_x64.dll";
    TempFolder existing("lsputil-existing");
    const std::string missing = "C:\\clearway-work\\lsputil-missing\\lsp.dll";
    // Paths of 258 and 259 characters: with the terminator the first just
    // fits the 259 units offered to the conversion, the second does not.
    const std::string fits = "C:\\" + std::string(255, 'p');
    const std::string tooLong = fits + "q";
    const std::string usage = kUsage;
    const CommandCase cases[] = {
        {"instvelps_x64.dll", "uninstall", false, "UnInstall: 0 removed\n"},
        {"instvelps_x64.dll", "UNINSTALL", false, "UnInstall: 0 removed\n"},
        {"instvelps_x64.dll", "Uninstall", false, "UnInstall: 0 removed\n"},
        {"instvelps_x64.dll", "uninstall_all", false, "UnInstallAll: 0 removed\n"},
        {"instvelps_x64.dll", "UnInstall_ALL", false, "UnInstallAll: 0 removed\n"},
        {"instvelps_x64.dll", "print_all", false, "PrintAll(0): *"},
        {"instvelps_x64.dll", "Print_All", false, "PrintAll(0): *"},
        {"instvelps_x64.dll", "install " + existing.path(), false, "Install " + existing.path() + "\n"},
        {"instvelps_x64.dll", "INSTALL " + missing, false, "Install " + missing + "\nInstall failed.\n", 1},
        {"instvelps_x64.dll", "install " + fits, false, "Install " + fits + "\nInstall failed.\n", 1},
        {"instvelps_x64.dll", "install " + tooLong, false, "Install failed.\n", 1},
        {"instvelps_x64.dll", "uninstall", true, "UnInstall: 0 removed\nUninstall failed.\n", 1},
        {"instvelps_x64.dll", "uninstall_all", true, "UnInstallAll: 0 removed\nUninstall all failed.\n", 1},
        {"instvelps_x64.dll", "print_all", true, "PrintAll(0): *Print all failed.\n", 1},
        {"instvelps_x64.dll", "", false, usage, 87},
        {"instvelps_x64.dll", "uninstall extra", false, usage, 87},
        {"instvelps_x64.dll", "uninstall_all extra", false, usage, 87},
        {"instvelps_x64.dll", "print_all extra", false, usage, 87},
        {"instvelps_x64.dll", "install", false, usage, 87},
        {"instvelps_x64.dll", "install " + missing + " extra", false, usage, 87},
        {"instvelps_x64.dll", "uninstal", false, usage, 87},
        // No library beside the utility: not even the usage text.
        {"", "uninstall", false, kNoLibrary, 126},
        {"", "", false, kNoLibrary, 126},
        // A missing export fails its own action only.
        {"instvelps_x64_without_Install.dll", "install " + existing.path(), false, "Install failed.\n", 1},
        {"instvelps_x64_without_UnInstall.dll", "uninstall", false, "Uninstall failed.\n", 1},
        {"instvelps_x64_without_UnInstallAll.dll", "uninstall_all", false, "Uninstall all failed.\n", 1},
        {"instvelps_x64_without_PrintAll.dll", "print_all", false, "Print all failed.\n", 1},
        {"instvelps_x64_without_PrintAll.dll", "uninstall", false, "UnInstall: 0 removed\n"},
    };
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(std::string(c.library) + " | " + c.arguments + (c.failing ? " | failing" : ""));
        TempFolder folder("lsputil-run");
        Stock(folder, c.library);
        const UtilityRun run = RunUtility(folder, c.arguments, c.failing);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_TRUE(Matches(c.expected, run.output)) << run.output;
        // Also where '*' stands for the listing: a failure line only where one is expected.
        EXPECT_EQ(run.output.find(" failed.\n") != std::string::npos, c.expected.find(" failed.\n") != std::string::npos);
    }
}

// A folder whose name the ANSI code page cannot hold (Cyrillic under code
// page 1252): the utility still finds the library beside it.
// A folder below parent whose name the ANSI code page cannot hold
// (Cyrillic under code page 1252), holding the utility and the library.
// Removed with its files at the end of its scope.
class WideFolder {
public:
    explicit WideFolder(const TempFolder& parent)
        : path_(std::wstring(parent.path().begin(), parent.path().end()) +
                L"\\\x0416\x0438\x0437\x043D\x044C") {  // "Zhizn'"
        BOOL lossy = FALSE;
        ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path_.c_str(), -1, nullptr, 0, nullptr, &lossy);
        EXPECT_TRUE(lossy) << "the code page " << ::GetACP() << " holds the folder's name";
        EXPECT_TRUE(::CreateDirectoryW(path_.c_str(), nullptr));
        const std::string source = ProgramFolder();
        for (const wchar_t* name : {L"instvelps_x64.exe", L"instvelps_x64.dll"}) {
            EXPECT_TRUE(::CopyFileW(std::wstring(source.begin(), source.end()).append(name).c_str(),
                                    (path_ + L"\\" + name).c_str(), FALSE));
        }
    }
    ~WideFolder() {
        ::DeleteFileW((path_ + L"\\instvelps_x64.exe").c_str());
        ::DeleteFileW((path_ + L"\\instvelps_x64.dll").c_str());
        ::RemoveDirectoryW(path_.c_str());
    }
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
};

TEST(LspUtility, FindsItsLibraryInAFolderNamedOutsideTheCodePage) {
    PlantedFolder planted;
    TempFolder parent("lsputil-wide");
    WideFolder folder(parent);
    const std::wstring utility = folder.path() + L"\\instvelps_x64.exe";
    UtilityRun run = {~0u, "not started"};
    {
        OutputFile out(parent / "output.txt");
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out.get();
        startup.hStdError = out.get();
        std::wstring line = L"\"" + utility + L"\" uninstall";
        PROCESS_INFORMATION info = {};
        if (::CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                             &info)) {
            platform::ObjectHandle process(info.hProcess), thread(info.hThread);
            // A guard against a hung utility, not a measure of its speed.
            if (::WaitForSingleObject(process.get(), 60000) == WAIT_OBJECT_0) {
                ::GetExitCodeProcess(process.get(), &run.exitCode);
                run.output = out.Close();
            }
        }
    }
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.output, "UnInstall: 0 removed\n");
}

// CNuke starts the utility from the folder of its own executable, by the
// full quoted path, with the utility's output on its own standard output.
struct LaunchCase {
    const char* name;
    const char* moduleFolder;  // a TempFolder name, stocked with the utility; null: this program's folder
    bool stocked;
    bool wide;  // the program lies in a folder below it named outside the code page
    bool openToOthers;  // every user may write to the folder
    int result;
    const char* trace;
    const char* output;  // what the utility printed
    const char* library = "instvelps_x64.dll";  // stocked beside the utility; "" for none
};

TEST(LspUtility, LaunchFromTheProgramFolder) {
    const LaunchCase cases[] = {
        {"beside the program", nullptr, true, false, false, 1,
         "Calling UnInstall function from the installation utility.\n"
         "instvelps_x64 process finished with code: 0\n",
         "UnInstall: 0 removed\n"},
        {"folder name with spaces", "lsputil launch folder", true, false, false, 1,
         "Calling UnInstall function from the installation utility.\n"
         "instvelps_x64 process finished with code: 0\n",
         "UnInstall: 0 removed\n"},
        {"folder named outside the code page", "lsputil launch wide", false, true, false, 1,
         "Calling UnInstall function from the installation utility.\n"
         "instvelps_x64 process finished with code: 0\n",
         "UnInstall: 0 removed\n"},
        // Only the planted copies could be started: none is.
        // The utility would run with full rights whatever another user put
        // beside it: it is not started (Wine shows a folder whose Unix
        // mode lets others write as one Everyone may change).
        {"folder others can write to", "lsputil-open-folder", true, false, true, 0,
         "Calling UnInstall function from the installation utility.\n"
         "instvelps_x64 is not started: others can change 'C:\\clearway-work\\lsputil-open-folder': "
         "S-1-1-0 may change it\n"
         "Calling instvelps_x64 failed!\n"
         "Not removed: the 64-bit Winsock catalogue is not reset: instvelps_x64 is not started, others can change "
         "'C:\\clearway-work\\lsputil-open-folder': S-1-1-0 may change it\n",
         ""},
        {"not beside the program", "lsputil empty folder", false, false, false, 0,
         "Calling UnInstall function from the installation utility.\n"
         "Calling instvelps_x64 failed!\n"
         "Not removed: the 64-bit Winsock catalogue is not reset: instvelps_x64.exe could not be started from "
         "Clearway's folder (error 2)\n",
         ""},
        // The package as shipped: the maker's library is not in it.
        {"no library beside the utility", "lsputil no library", true, false, false, 1,
         "Calling UnInstall function from the installation utility.\n"
         "instvelps_x64 process finished with code: 126\n"
         "Not removed: the 64-bit Winsock catalogue is not reset: instvelps_x64 found no instvelps_x64.dll beside it "
         "(the maker's library is not in Clearway's package; place it beside instvelps_x64.exe)\n",
         "install.dll must be placed in the current directory\n", ""},
    };
    for (const LaunchCase& c : cases) {
        SCOPED_TRACE(c.name);
        PlantedFolder planted;
        TestPlatform os;
        std::unique_ptr<TempFolder> moduleFolder;
        std::unique_ptr<WideFolder> wideFolder;
        if (c.moduleFolder) {
            moduleFolder.reset(new TempFolder(c.moduleFolder));
            if (c.stocked) Stock(*moduleFolder, c.library);
            if (c.openToOthers) testing_support::RunUnix("/bin/chmod o+w " + testing_support::UnixPath(moduleFolder->path()));
            const std::string folder = moduleFolder->path();
            std::wstring module = std::wstring(folder.begin(), folder.end()) + L"\\Clearway.exe";
            if (c.wide) {
                wideFolder.reset(new WideFolder(*moduleFolder));
                module = wideFolder->path() + L"\\Clearway.exe";
            }
            os.moduleFileNameW = [module](HMODULE, LPWSTR buffer, DWORD size) {
                lstrcpynW(buffer, module.c_str(), static_cast<int>(size));
                return static_cast<DWORD>(module.size() < size ? module.size() : size);
            };
        }
        TempFolder outputFolder("lsputil-output");
        OutputFile out(outputFolder / "output.txt");
        const HANDLE oldOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
        ::SetStdHandle(STD_OUTPUT_HANDLE, out.get());
        testing_support::TestDialog dialog;
        CNuke engine(os);
        engine.dialog = &dialog;
        TraceShutdown();
        TraceSetOptions(-1, 0, false, false);
        TraceSetPlatform(&os);
        const int result = engine.LaunchLspUtility();
        TraceSetPlatform(nullptr);
        ::SetStdHandle(STD_OUTPUT_HANDLE, oldOutput);

        EXPECT_EQ(result, c.result);
        EXPECT_EQ(os.DebugOutput(), c.trace);
        EXPECT_EQ(out.Close(), c.output);
    }
}

}  // namespace
