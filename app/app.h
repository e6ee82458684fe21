// CZerlinApp: the program's entry. It reads the command line into the run
// switches, lets the installer service run in Windows safe mode, shows the
// main dialog and, at the end, removes the safe-mode preparation again.
#pragma once
#include <windows.h>

#include <ctime>
#include <string>
#include <vector>

#include "platform/handles.h"

class CNuke;
class CZerlinDlg;
namespace platform {
class Platform;
class PreviewPlatform;
}  // namespace platform

// The switches of a command line, as the one parser reads them: up to the
// first that stops the program (a help switch, an unknown one, or a
// --reboot-delay= without a number).
struct Switches {
    bool gui = false;
    bool removeAll = false;
    bool forceMsi = false;
    bool noReboot = false;
    bool preview = false;
    bool undo = false;
    DWORD rebootDelay = 0;
    enum Stop { kNone, kHelp, kUnknown, kNoDelay } stop = kNone;
    std::string stopping;  // the switch that stopped it
};
Switches ParseSwitches(int argumentCount, char** arguments);

class CZerlinApp {
public:
    // recorder: the preview platform os is, for a run with --preview (its
    // changes make the preview's report); null for a real run.
    CZerlinApp(platform::Platform& os, CNuke& engine, platform::PreviewPlatform* recorder = nullptr);
    virtual ~CZerlinApp();
    CZerlinApp(const CZerlinApp&) = delete;
    CZerlinApp& operator=(const CZerlinApp&) = delete;

    // Always false: the program ends when it returns. exitCode then says
    // what happened.
    bool InitInstance(int argumentCount, char** arguments);
    bool WriteSafeModeMsiKey();
    bool StartMsiServiceInSafeMode();
    void DeleteSafeModeMsiKey();

    int safeBootMode;
    const char* safeBootKeyPath = nullptr;
    DWORD exitCode = 0;
    // "--preview": the run changes nothing and reports what it would do;
    // the program gives this object a preview platform for it.
    int preview = 0;
    // "--undo": takes back the newest run that has not been undone.
    int undo = 0;
    std::string reportPath;
    // Set by the program's entry: before anything else, refuse to run (448)
    // when others can change the program, its configuration or its folder.
    bool checksProgramFolder = false;
    // "Clearway result.json" once the program has ended; empty when it could
    // not be written.
    std::string resultPath;

protected:
    // Shows the main dialog modally; tests replace it to look at the
    // switches without a window.
    virtual void ShowDialog(CZerlinDlg& dialog);
    // Takes the newest run back (--undo); its exit code. Tests replace it.
    virtual DWORD Undo();

private:
    void Usage(const char* programName);
    // A refusal before any run (kind "refused"), or the usage text (kind
    // "usage"): the text and the closing line go to a log of their own, and
    // exitCode is code.
    void Refuse(const char* text, DWORD code, const char* kind = "refused");
    // The log's last line, also printed on the console Clearway was started
    // from: the exit code and what it means.
    std::string ClosingLine() const;
    void Close();
    // False (refused with 1618) when another Clearway holds the run's
    // mutex; the mutex is then this run's until the program ends.
    bool TakeRunMutex();
    // True (refused with 1618) while Windows Installer is installing.
    bool InstallerBusy();
    // True (refused with 448) when others can change what the run does.
    bool ProgramFolderUnsafe();
    platform::ObjectHandle runMutex_;
    std::string kind_ = "run";  // the result record's kind
    std::vector<std::string> switches_;
    std::time_t started_ = 0;
    platform::Platform& os_;
    CNuke& engine_;
    platform::PreviewPlatform* recorder_;
    bool visibleSession_ = true;
};
