// Clearway.exe: the one removal engine and the application object, both on
// the production platform.
#include <windows.h>

#include <cstdlib>

#include "app/app.h"
#include "app/program.h"
#include "platform/platform.h"
#include "platform/preview.h"
#include "profile/engine.h"

namespace {

CNuke theEngine(platform::ProductionPlatform());
CZerlinApp theApp(platform::ProductionPlatform(), theEngine);

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return RunClearway(theApp, PreviewOfThisMachine, __argc, __argv);
}
