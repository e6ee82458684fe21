// The program's life from its entry: a real run through the application
// object, or with --preview the same engine and dialog on a platform that
// reads the machine and changes nothing. Clearway.exe calls it with the
// production objects; the exit code is the program's.
#pragma once

class CZerlinApp;
namespace platform { class PreviewPlatform; }

int RunClearway(CZerlinApp& app, platform::PreviewPlatform& (*previewPlatform)(), int argumentCount,
                char** arguments);

// The preview platform over this machine, made on first use.
platform::PreviewPlatform& PreviewOfThisMachine();
