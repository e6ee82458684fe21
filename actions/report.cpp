#include "actions/report.h"

#include "trace/trace.h"

void ReportOperationError(DWORD code, const char* operation, const char* object) {
    const char* op = operation ? operation : "";
    const char* name = object ? object : "";
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
            TraceWrite("", -1, 0, "%s '%s' reported \"file\" not found\n", op, name);
            break;
        case ERROR_INVALID_HANDLE:
            TraceWrite("", -1, 0, "%s '%s' reported invalid handle\n", op, name);
            break;
        case ERROR_DIR_NOT_EMPTY:
            TraceWrite("", -1, 0, "%s '%s' reported the directory is not empty\n", op, name);
            break;
        default:
            TraceWrite("", -1, 0, "%s '%s' reported error code '%d'\n", op, name, static_cast<int>(code));
            break;
    }
}
