// The engine's dialog link for tests: a run state, the detector's texts,
// and a way to cancel at a chosen moment.
#pragma once
#include <string>

#include "profile/engine.h"

namespace testing_support {

class TestDialog : public CNukeDialogLink {
public:
    RunState GetRunState() const override {
        ++stateReads;
        if (cancelAtRead != 0 && stateReads >= cancelAtRead) state = Cancelled;
        return state;
    }
    const char* GetProductName() const override { return productName.c_str(); }
    void SetProductName(const char* name) override { productName = name ? name : ""; }
    const char* GetInstallPath() const override { return installPath.c_str(); }

    mutable RunState state = Running;
    mutable int stateReads = 0;
    int cancelAtRead = 0;  // the state read from which on the run is cancelled; 0: never
    std::string productName = "Velmoran Client Security";
    std::string installPath;
};

}  // namespace testing_support
