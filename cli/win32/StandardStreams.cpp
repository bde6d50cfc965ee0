#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "cli/StandardStreams.h"

namespace vyx::cli {

void EnsureStandardDescriptors() {
    // A program started without a console or with a stream closed has C runtime
    // descriptors 0 to 2 without a handle; give each such one the null device, so that
    // writes to it go nowhere instead of failing or landing in a file opened later.
    for (int fd = 0; fd <= 2; ++fd) {
        if (_get_osfhandle(fd) != -1) {
            continue;
        }
        const int opened = _open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
        if (opened >= 0 && opened != fd) {
            _dup2(opened, fd);
            _close(opened);
        }
    }
}

void IgnoreBrokenPipe() {
    // Windows has no SIGPIPE: a write to a pipe whose reader has gone fails, and
    // FinishStandardOutput tells so.
}

bool StderrIsTerminal() {
    // A console, not any character device: _isatty() is true for NUL too.
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

}  // namespace vyx::cli
