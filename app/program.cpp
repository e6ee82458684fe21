#include "app/program.h"

#include "app/app.h"
#include "platform/platform.h"
#include "platform/preview.h"
#include "profile/engine.h"

platform::PreviewPlatform& PreviewOfThisMachine() {
    static platform::PreviewPlatform preview;
    return preview;
}

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

int RunClearway(CZerlinApp& app, platform::PreviewPlatform& (*previewPlatform)(), int argumentCount,
                char** arguments) {
    // A library the program loads by name comes from the system folder
    // only, never from its own folder or the current one.
    platform::ProductionPlatform().SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!ParseSwitches(argumentCount, arguments).preview) {
        app.checksProgramFolder = true;
        app.InitInstance(argumentCount, arguments);
        return static_cast<int>(app.exitCode);
    }
    platform::PreviewPlatform& recorder = previewPlatform();
    CNuke engine(recorder);
    engine.writesBackup = false;
    CZerlinApp previewApp(recorder, engine, &recorder);
    previewApp.checksProgramFolder = true;
    previewApp.InitInstance(argumentCount, arguments);
    return static_cast<int>(previewApp.exitCode);
}
