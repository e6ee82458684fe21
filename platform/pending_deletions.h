// Deletions at the next start of Windows, as MoveFileEx with
// MOVEFILE_DELAY_UNTIL_REBOOT and no target registers them: pairs of wide
// strings in PendingFileRenameOperations, the NT form of the path and an
// empty target, the list ended by an empty string. Windows carries them out
// in the order the list holds them.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace platform {

// The NT form ("\??\C:\...") of a full path on a drive as MoveFileExA
// would register it. False for a path it would refuse or turn into another
// (not a full path on a drive: a network path; "." or ".." parts, forward slashes or
// doubled backslashes; MAX_PATH characters or more; text the ANSI code page
// does not hold exactly): such a path is left to MoveFileExA itself.
bool PendingDeletionName(const std::string& path, std::wstring& ntName);

// value, the wide characters of PendingFileRenameOperations as read (empty
// when there is none), with a deletion pair appended for each name; every
// pair already there stays as it was. False, and value untouched, when the
// data is not a list of pairs that ends with its empty string.
bool AppendPendingDeletions(std::vector<wchar_t>& value, const std::vector<std::wstring>& ntNames);

}  // namespace platform
