// A folder of the test's own under C:\clearway-work, made empty when created
// and removed with everything in it at the end.
#pragma once
#include <string>

namespace testing_support {

class TempFolder {
public:
    explicit TempFolder(const std::string& name);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    // path() joined with a relative name.
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

// Deletes a file or a folder tree, clearing read-only attributes on the way.
void RemoveTree(const std::string& path);

}  // namespace testing_support
