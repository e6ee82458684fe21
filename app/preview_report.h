// The report of a preview run: what a removal run with the same switches
// would change, step by step, and what the ignore entries kept.
#pragma once
#include <string>

#include "app/run.h"

class CNuke;
namespace platform { class PreviewPlatform; }

// Files each change a preview records under the run step it belongs to.
class PreviewSteps : public RunObserver {
public:
    explicit PreviewSteps(platform::PreviewPlatform* recorder) : recorder_(recorder) {}
    void StepStarting(const char* name) override;

private:
    platform::PreviewPlatform* recorder_;
};

// The report's text, from what the preview platform recorded and the
// profile the run built. keptBy is filled from a second profile built
// without ignore entries (recording paused).
std::string BuildPreviewReport(platform::PreviewPlatform& os, CNuke& engine, RunPanel& dialog);

// Writes the report to "Clearway preview.txt" in the trace folder and, when
// the program was started from a console, to that console. Returns the
// report file's path, empty when it could not be written safely (traced).
std::string WritePreviewReport(platform::PreviewPlatform& os, const std::string& report);
