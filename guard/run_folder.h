// The run's own folder and the names of everything a run keeps in it: the
// trace logs, each run's backup and deletions record, the preview report
// and the result record. Only SYSTEM and Administrators can change it, and
// every file of the run is made there through one way.
#pragma once
#include <string>

namespace platform { class Platform; }

extern const char kTraceFolderName[];  // "Velmoran clearway"

namespace guard {

// %ProgramData%\Velmoran clearway (below All Users\Application Data on XP),
// where os shows the common application data.
std::string RunFolder(platform::Platform& os);

// A run's files, by the run's stamp ("2026-12-11 031200").
extern const char kBackupPrefix[];  // "Clearway backup "
std::string BackupName(const std::string& stamp);     // "Clearway backup <stamp>.reg"
std::string DeletionsName(const std::string& stamp);  // "Clearway deletions <stamp>.txt"
// The keys --undo gives back to a user's registry, until they are imported.
std::string UserRegistryName(const std::string& stamp, const std::string& sid);
extern const char kPreviewReportName[];  // "Clearway preview.txt"
extern const char kResultRecordName[];   // "Clearway result.json"

// Writes bytes as the file name in the run's folder, the folder and the file
// made the run's own first and the file never written through a link.
// Returns the file's path; empty with why when it is not written.
std::string WriteRunFile(platform::Platform& os, const std::string& name, const std::string& bytes, std::string& why);

}  // namespace guard
