// CNuke: the removal engine. It owns the seventeen removal lists and runs
// every step of a removal run; each step returns a Win32 error code.
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "guard/key_guard.h"
#include "guard/path_guard.h"
#include "guard/run_folder.h"
#include "profile/user_hives.h"
#include "profile/tset.h"

class RunBackup;
struct MsiToolReport;

namespace platform { class Platform; }

// The state of a removal run, held by the main dialog. Finished: an undo
// ended; the exit code is its result.
enum RunState : LONG { Ready = 0, Failed = 1, Running = 2, Cancelled = 3, RestartNeeded = 4, Finished = 5 };

// What the engine reads from the main dialog during a run: the run state
// (for the cancel test) and the detector's product name and install folder.
// The dialog implements it; tests provide their own.
class CNukeDialogLink {
public:
    virtual ~CNukeDialogLink() = default;
    virtual RunState GetRunState() const = 0;
    virtual const char* GetProductName() const = 0;
    // The retry marker may supply the name when detection found none.
    virtual void SetProductName(const char* name) = 0;
    virtual const char* GetInstallPath() const = 0;
};

// The steps a removal run calls are virtual, so a test can script their
// results.
class CNuke {
public:
    explicit CNuke(platform::Platform& os);
    virtual ~CNuke();
    CNuke(const CNuke&) = delete;
    CNuke& operator=(const CNuke&) = delete;

    // ---- list initialisation (profile/engine.cpp) ----
    virtual DWORD InitializeLists(int removeAll, int forceMsi);
    // Opens the run's trace log: the program's base name with ".log" in the
    // folder "Velmoran clearway" below the common application data folder.
    // The folder is made the run's own first (created private, or taken
    // over); a folder or log file that is not safe gives no log at all,
    // said once on the console of a console parent.
    void OpenTraceLog();
    bool logRefusalSaid_ = false;
    bool logHeaderSaid_ = false;  // the command line, account and Windows, once a run
    // The backup of what this run deletes (registry data) and schedules
    // (files), made when first needed; with writesBackup false (a preview,
    // which changes nothing) it only counts.
    RunBackup& Backup();
    std::unique_ptr<RunBackup> backup;
    bool writesBackup = true;
    DWORD InitIgnoreServiceList();
    DWORD InitRemoveServiceList();
    DWORD InitStopProcessList();
    DWORD InitStartProcessList();
    DWORD InitIgnoreRegValueList();
    DWORD InitRemoveRegValueList();
    DWORD CheckIgnoreEntries(TSet& list, const char* step);
    DWORD InitIgnoreRegKeyList();
    DWORD InitRemoveRegKeyList();
    DWORD InitIgnoreFileList();
    DWORD InitRemoveFileList();
    DWORD InitIgnoreMsiUpgradeCodeList();
    DWORD InitRemoveMsiUpgradeCodeList();
    void InitISPCustomizationOverride();
    void ApplyStartMenuMask(TSet& list);
    bool IsStartMenuMaskActive() const;
    bool IsCancelled() const;
    // The loop of a cleanup step over count elements: a cancel test before
    // elements 0 (unless the step made it already), 20, 40 and so on, and
    // the step's closing line, its cancel line or its summary. body(i) is
    // false for an element that met errors; flush, when given, does what the
    // elements so far left to do, before either line.
    DWORD CleanupLoop(const char* step, size_t count, bool testedFirst, const std::function<bool(size_t)>& body,
                      const std::function<void()>& flush = nullptr);
    void SetErrorText(const char* text);
    DWORD Get64ProgramFilesPath(char* buffer, DWORD size);

    // ---- removal lists (profile/engine.cpp) ----
    // Removes every element that holds an ignore element, letters compared
    // as the lists compare them. The registry lists compare their
    // canonical key forms, so any spelling of an ignored key keeps it.
    DWORD ExcludeIgnoreList(TSet& list, TSet& ignoreList);
    // True when an element of ignoreList occurs in text (the test
    // ExcludeIgnoreList applies).
    bool IsIgnored(TSet& ignoreList, const char* text);
    bool IsIgnoreList(const TSet& list) const;
    void LogListContents(TSet& list);
    // The result line of a list step: how many items its list holds (values
    // >= 0: keys and values of the registry lists), or its error. True when
    // rc is success.
    bool TraceListStep(const char* name, DWORD rc, int items, int values = -1);

    // ---- configuration file (profile/config.cpp) ----
    DWORD InitConfigFile();
    DWORD ReadConfigList(TSet& list, const char* sectionKind, const char* key);
    DWORD ParseListEntry(TSet& list, const char* text);
    DWORD AddListEntry(TSet& list, const char* type, const char* method, const char* argument);

    // ---- entry handlers (profile/handlers.cpp) ----
    DWORD ListRegValueData(TSet& list, char* argument);
    DWORD ListRegValuesByName(TSet& list, char* argument);
    DWORD ListRegValuesByData(TSet& list, char* argument);
    DWORD ListRegKeysByName(TSet& list, char* argument);
    DWORD ListRegKeysByData(TSet& list, char* argument);
    DWORD ListFilesByName(TSet& list, char* argument);
    DWORD ListFilesByNameExpand(TSet& list, char* argument);
    DWORD ListFoldersByContent(TSet& list, char* argument);
    DWORD ListFoldersByContentExpand(TSet& list, char* argument);
    DWORD ListServicesByName(TSet& list, char* argument);
    DWORD ListProcessesByName(TSet& list, char* argument);
    DWORD InsertFileMatches(TSet& list, char* path);
    DWORD ListFolderMatches(TSet& list, char* argument);

    // ---- installer registry gathering (profile/gathering.cpp) ----
    DWORD GatherS1518ComponentQtAssemblies();
    void ProductBasedMSIRemoval();
    DWORD GatherCurrentVersionInstallerUpgradeCodeKeys(const char* productId);
    DWORD GatherClassesInstallerUpgradeCodeKeys(const char* productId);
    DWORD GatherS1518ComponentKeys(const char* productId);
    DWORD AddClassesInstallerFeaturesKey(const char* productId);
    DWORD AddClassesInstallerProductsKey(const char* productId);
    DWORD GatherInstallerFolderValues();
    DWORD GatherMUICaches();
    // Values of one key (64-bit view): by exact name (key entries), by data
    // (key entries) or by name (value entries).
    DWORD EnumerateRegKeyAndMatchValue(HKEY root, const char* keyPath, const char* pattern, TSet& list,
                                       bool exactName, bool matchData);
    // The same for each direct subkey: by exact name, or by data when
    // matchData is set.
    DWORD EnumerateRegKeyEnumerateSubKeysAndMatchValue(HKEY root, const char* keyPath, const char* pattern,
                                                       TSet& list, bool matchData);
    // The root's name, or out unchanged (with a warning) for another root.
    void ParseRegKeyPrefixCString(HKEY root, std::string& out);

    // ---- MSI uninstall (actions/msi_uninstall.cpp) ----
    virtual DWORD MsiUninstall();
    // The built-in table; false when the installer answered 1618.
    bool HCMSIUninstall();
    DWORD StopForBusyInstaller();
    // The MSI tool's in-process entry (RunMsiTool); tests put a stand-in here
    // to make the tool throw or answer as they need.
    int (*runMsiTool)(platform::Platform& os, const wchar_t* commandLine, bool skipRightsCheck,
                      MsiToolReport* report);
    // Uninstalls the products of one upgrade code through the tool (one more
    // call when the first throws) and traces the installer's answer for
    // each. busy: the installer answered 1618, another installation is in
    // progress.
    struct ToolCall {
        bool answered = false;  // false: the tool threw twice
        int value = 0;          // the tool's own result
        bool busy = false;
    };
    ToolCall UninstallUpgradeCode(const char* step, const char* upgradeCode);
    // Set when the installer answered 1618: the run stops after the MSI step.
    bool installerBusy = false;

    // ---- populate step (profile/populate.cpp) ----
    virtual DWORD PopulateLists();
    DWORD PopulateRemoveServiceList();
    DWORD PopulateRemoveRegList();
    DWORD PopulateRemoveMsiUpgradeCodeList();
    DWORD PopulateRemoveFileList();
    DWORD ExpandRegKeyEntry(const char* keyEntry);
    DWORD CopyList(TSet& target, TSet& source);

    // ---- file removal (actions/file_removal.cpp) and access control
    // (actions/access_control.cpp) ----
    virtual DWORD CleanupFiles();
    // One path scheduled on its own (MoveFileExA), and on failure once more
    // after DropFileAcl.
    void ScheduleFileRemoval(const char* path);
    // A path made ready to be scheduled (no read-only bit); true when it
    // stands there to be deleted (a file, or a folder that is empty).
    bool PrepareFileRemoval(const char* path);
    // Paths made ready, scheduled in one write of the pending renames, each
    // traced and counted as a call of its own would be; on a failed write
    // each goes the way of a failed call. Empties batch.
    void ScheduleFileRemovals(std::vector<std::pair<std::string, bool>>& batch);
    void RetryFileRemoval(const char* path, bool exists);
    // Paths left unscheduled because the pending renames cannot be added to.
    void PendingRenamesUnreadable(const std::vector<std::pair<std::string, bool>>& paths);
    int DropFileAcl(const char* path);
    // Normalises entry in place; the GetLastError code when it does not exist.
    DWORD ExpandRemoveFileEntry(char* entry);
    // Gives Administrators full control of the key in the view of the open
    // that was refused: KEY_WOW64_64KEY in view names the 64-bit view, else
    // the program's own view.
    // The permissions a key had before GrantRegKeyAccess changed them: its
    // DACL, as a self-relative security descriptor.
    struct KeyDacl {
        std::vector<BYTE> descriptor;  // empty: nothing was saved
    };
    // before: when given and still empty, receives the key's DACL as it was.
    DWORD GrantRegKeyAccess(HKEY root, const char* subkeyPath, REGSAM view = 0, KeyDacl* before = nullptr);
    // Gives a key that stays the DACL it had before the grant, through a
    // handle to the key itself.
    DWORD RestoreRegKeyAccess(HKEY root, const char* subkeyPath, REGSAM view, const KeyDacl& before);

    // ---- registry removal (actions/registry_removal.cpp) ----
    virtual DWORD CleanupRegValues();
    virtual DWORD CleanupRegKeys();
    bool DeleteRegValue(HKEY root, const char* subkey, const char* valueName, const char* display);
    DWORD DeleteRegValue64(HKEY root, const char* subkey, const char* valueName);
    DWORD DeleteRegKey64(const char* entry);
    bool Is64BitWindows();

    // ---- removal-retry marker (actions/retry_marker.cpp) ----
    void MarkRegistryForPossibleRemovalRetry();
    void ReadRegistryForRemovalRetry();

    // ---- services and processes (actions/services.cpp) ----
    virtual DWORD StopNTServices();
    virtual DWORD StopNTProcesses();
    virtual DWORD StartProcesses();

    // ---- LSP reset (actions/lsp_reset.cpp) ----
    virtual DWORD ResetLspStack();
    int LaunchLspUtility();

    // The seventeen lists, in this order.
    TSet expandedMsiUpgradeCodeList;
    TSet removeMsiUpgradeCodeList;
    TSet ignoreMsiUpgradeCodeList;
    TSet expandedFileList;
    TSet expandedRegValueList;
    TSet expandedRegKeyList;
    TSet expandedServiceList;
    TSet removeFileList;
    TSet ignoreFileList;
    TSet removeRegKeyList;
    TSet ignoreRegKeyList;
    TSet removeRegValueList;
    TSet ignoreRegValueList;
    TSet startProcessList;
    TSet stopProcessList;
    TSet removeServiceList;
    TSet ignoreServiceList;

    char* errorText;       // owned; the text of the last failing configuration line
    char* configFilePath;  // owned; null until InitConfigFile
    CNukeDialogLink* dialog = nullptr;  // not owned
    int removeAll = 0;
    std::string startMenuMask;
    int marked = 0;
    int markerFound = 0;
    int forceMsi = 0;

    platform::Platform& os;

    // ---- what the run got done: its exit code and closing lines ----
    // What the run really changed. removed: keys and values deleted,
    // services deleted, processes ended, installer packages uninstalled,
    // catalogue entries removed; scheduled: files and empty folders that
    // exist, scheduled for deletion at the restart. Neither after a run that
    // found nothing left to remove.
    unsigned removed = 0;
    unsigned scheduled = 0;
    unsigned Changes() const { return removed + scheduled; }
    // Entries the guard refused: the run doing its job, not a failure.
    unsigned refused = 0;
    // The installer's answer for each product the run handed it.
    struct InstallerAnswer {
        std::string upgradeCode, productCode;
        UINT code = 0;            // the silent uninstall
        bool cachedTried = false;
        UINT cachedCode = 0;      // the retry from the cached package
        bool removed = false;
    };
    std::vector<InstallerAnswer> installerAnswers;
    // Each step's name and code, in the order the run called them.
    std::vector<std::pair<std::string, DWORD>> stepResults;
    // Items whose deletion or scheduling failed; one already gone is no
    // failure.
    unsigned failures = 0;
    // What the run was asked to remove and did not get, one line each;
    // Left traces the line as it records it (not in a preview).
    std::vector<std::string> left;
    void Left(const std::string& what);
    // Nothing left that the run was asked to remove.
    bool Complete() const { return left.empty() && failures == 0; }

    // The guard, made on first use in a run: the protected folders (with
    // the folders the configuration's macros name) and the system's keys.
    const guard::FolderGuard& FolderGuard();
    const guard::KeyGuard& KeyGuard();
    // Files and folders whose permissions stay as they are: links, ignored
    // items and the folders that hold them. Filled while the file list is
    // expanded; DropFileAcl refuses them.
    std::set<std::string> keptPermissions;
    // True while an entry of an ignore list is handled: a broad ignore
    // pattern keeps more, so the pattern rules do not apply to it.
    bool handlingIgnoreEntry = false;

    // The start-menu variant of an entry: an upper-case copy with every
    // product word replaced by the mask; empty when nothing was replaced.
    std::string StartMenuVariant(const char* entry) const;
    // The detector's texts through the dialog link; empty without a link.
    const char* ProductName() const;
    const char* InstallPath() const;

private:
    std::unique_ptr<guard::FolderGuard> folderGuard_;
    std::unique_ptr<guard::KeyGuard> keyGuard_;

public:
    // Every other user's hive, loaded for the run where Windows has not; a
    // HKEY_CURRENT_USER entry is applied to each of them too.
    UserHives userHives{os};
    void UnloadUserHives() { userHives.UnloadAll(); }
};

// Fixed names of the system.
// A console program that started this one (a command prompt, a script)
// gets the text on its console; without one nothing is written.
void SayOnParentConsole(platform::Platform& os, const std::string& text);
// A list's elements in its order, or the other way round.
std::vector<std::string> ListElements(TSet& list, bool descending);

extern const char kRetryMarkerKeyEntry[];    // "HKEY_LOCAL_MACHINE\SOFTWARE\Velmoran Clearway"
extern const char kRetryMarkerSubkey[];      // "SOFTWARE\Velmoran Clearway"
extern const char kProductWordInEntries[];   // "VELMORAN"
extern const char kProductWordInNames[];     // "Velmoran"
