// Clearway.exe as the exit-code tests start it: the program of this build
// tree with every call reaching Windows, but without its fixed pauses (half
// a minute after the MSI step, ten seconds after each built-in upgrade
// code, a second per service poll), which tests must not wait for. The
// tests copy it beside its configuration as Clearway.exe, so its log and
// configuration carry the product's names.
#include <windows.h>

#include <cstdlib>

#include "app/app.h"
#include "app/program.h"
#include "platform/platform.h"
#include "platform/preview.h"
#include "profile/engine.h"

namespace {

class WithoutPauses : public platform::Platform {
public:
    void Sleep(DWORD) override {}
};

WithoutPauses thePlatform;
CNuke theEngine(thePlatform);
CZerlinApp theApp(thePlatform, theEngine);

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return RunClearway(theApp, PreviewOfThisMachine, __argc, __argv);
}
