// Clearway.exe: the one removal engine and the application object, both on
// the production platform.
#include <windows.h>

#include <cstdlib>

#include "app/app.h"
#include "platform/platform.h"
#include "profile/engine.h"

namespace {

CNuke theEngine(platform::ProductionPlatform());
CZerlinApp theApp(platform::ProductionPlatform(), theEngine);

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    theApp.InitInstance(__argc, __argv);
    return static_cast<int>(theApp.exitCode);
}
