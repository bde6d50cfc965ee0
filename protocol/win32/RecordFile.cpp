// The download record on Windows: an existing file opened without sharing, so that no
// other program reads or writes it while the record goes in, as the tool expects.
#include <windows.h>

#include <string>

#include "protocol/Download.h"
#include "protocol/win32/SystemMessage.h"

namespace vyx::protocol {

namespace {

RecordOutcome Failed(RecordWrite result, const char* call, DWORD code) {
    RecordOutcome outcome;
    outcome.result = result;
    outcome.error = std::string(call) + ": " + SystemMessage(code);
    if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION) {
        outcome.error += " (held by another program)";
    }
    return outcome;
}

}  // namespace

RecordOutcome WriteRecordFile(const std::string& path,
                              const std::array<std::uint8_t, kRecordLength>& record) {
    // OPEN_EXISTING: never created, never truncated; bytes past the record stay. Share
    // mode 0: a file another program has open is refused, and nobody opens it meanwhile.
    // The handle is not inherited by the tool started next.
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        RecordOutcome outcome = Failed(RecordWrite::NotOpened, "CreateFile", code);
        outcome.missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
        return outcome;
    }
    // A device or pipe under that name is no record file.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return Failed(RecordWrite::NotOpened, "CreateFile", ERROR_BAD_FILE_TYPE);
    }
    std::size_t done = 0;
    while (done < record.size()) {
        OVERLAPPED at{};  // the offset of a synchronous write: the file pointer is not used
        at.Offset = static_cast<DWORD>(done);
        DWORD n = 0;
        const BOOL ok = WriteFile(file, record.data() + done,
                                  static_cast<DWORD>(record.size() - done), &n, &at);
        if (!ok || n == 0) {
            // A write that takes nothing would repeat for ever: count it as failed.
            const DWORD code = ok ? static_cast<DWORD>(ERROR_WRITE_FAULT) : GetLastError();
            CloseHandle(file);
            return Failed(RecordWrite::WriteFailed, "WriteFile", code);
        }
        done += n;
    }
    // A failing close can be the first report of a failed write (a network share).
    if (!CloseHandle(file)) {
        return Failed(RecordWrite::WriteFailed, "CloseHandle", GetLastError());
    }
    return {RecordWrite::Written, false, {}};
}

}  // namespace vyx::protocol
