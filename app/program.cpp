#include "app/program.h"

#include <mbstring.h>

#include "app/app.h"
#include "platform/preview.h"
#include "profile/engine.h"

int RunClearway(CZerlinApp& app, platform::PreviewPlatform& (*previewPlatform)(), int argumentCount,
                char** arguments) {
    bool preview = false;
    for (int i = 1; i < argumentCount; ++i) {
        preview = preview || (arguments[i] && _mbsicmp(reinterpret_cast<const unsigned char*>(arguments[i]),
                                                      reinterpret_cast<const unsigned char*>("--preview")) == 0);
    }
    if (!preview) {
        app.InitInstance(argumentCount, arguments);
        return static_cast<int>(app.exitCode);
    }
    platform::PreviewPlatform& recorder = previewPlatform();
    CNuke engine(recorder);
    engine.writesBackup = false;
    CZerlinApp previewApp(recorder, engine, &recorder);
    previewApp.InitInstance(argumentCount, arguments);
    return static_cast<int>(previewApp.exitCode);
}
