#include "guard/run_folder.h"

#include <windows.h>
#include <shlobj.h>

#include "guard/own_files.h"
#include "platform/handles.h"
#include "platform/platform.h"

const char kTraceFolderName[] = "Velmoran clearway";

namespace guard {

const char kBackupPrefix[] = "Clearway backup ";
const char kPreviewReportName[] = "Clearway preview.txt";
const char kResultRecordName[] = "Clearway result.json";

std::string RunFolder(platform::Platform& os) {
    char common[MAX_PATH] = {};
    os.SHGetSpecialFolderPathA(nullptr, common, CSIDL_COMMON_APPDATA, FALSE);
    return std::string(common) + "\\" + kTraceFolderName;
}

std::string BackupName(const std::string& stamp) { return kBackupPrefix + stamp + ".reg"; }

std::string DeletionsName(const std::string& stamp) { return "Clearway deletions " + stamp + ".txt"; }

std::string UserRegistryName(const std::string& stamp, const std::string& sid) {
    return "Clearway user registry " + stamp + " " + sid + ".reg";
}

std::string WriteRunFile(platform::Platform& os, const std::string& name, const std::string& bytes, std::string& why) {
    const std::string folder = RunFolder(os);
    const std::string path = folder + "\\" + name;
    std::string done;
    why = PrepareOwnFolder(os, folder, done);
    if (why.empty()) {
        platform::FileHandle file(os, OpenOwnHandle(os, path, true, why));
        DWORD written = 0;
        if (file && (!os.WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
                     written != bytes.size())) {
            why = "it cannot be written";
        }
    }
    return why.empty() ? path : std::string();
}

}  // namespace guard
