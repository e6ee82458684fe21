// Clearway.exe: the one removal engine and the application object, both on
// the production platform.
#include <windows.h>

#include <mbstring.h>

#include <cstdlib>

#include "app/app.h"
#include "platform/platform.h"
#include "platform/preview.h"
#include "profile/engine.h"

namespace {

CNuke theEngine(platform::ProductionPlatform());
CZerlinApp theApp(platform::ProductionPlatform(), theEngine);

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    bool preview = false;
    for (int i = 1; i < __argc; ++i) {
        preview = preview || _mbsicmp(reinterpret_cast<const unsigned char*>(__argv[i]),
                                      reinterpret_cast<const unsigned char*>("--preview")) == 0;
    }
    if (!preview) {
        theApp.InitInstance(__argc, __argv);
        return static_cast<int>(theApp.exitCode);
    }
    // A preview: the same engine and dialog on a platform that reads the
    // machine and changes nothing.
    static platform::PreviewPlatform previewPlatform;
    CNuke engine(previewPlatform);
    engine.writesBackup = false;
    CZerlinApp app(previewPlatform, engine, &previewPlatform);
    app.InitInstance(__argc, __argv);
    return static_cast<int>(app.exitCode);
}
