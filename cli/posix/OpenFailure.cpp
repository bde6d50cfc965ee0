#include "cli/OpenFailure.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vyx::cli {

namespace {

std::string HintFor(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return "hint: serial devices belong to the dialout group: "
                   "sudo usermod -aG dialout \"$USER\", then log in again";
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case EIO:
            return "hint: `vyxctl ports` lists the COM names and the serial devices present";
        case EBUSY:
            return "hint: another program holds the port; close it (fuser shows which)";
        default:
            return {};
    }
}

}  // namespace

OpenFailure DiagnoseOpenFailure(const std::string& devicePath) {
    // O_NONBLOCK: a modem line without carrier must not stall the diagnosis.
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return {std::strerror(error), HintFor(error), false};
    }
    const bool terminal = ::isatty(fd) == 1;
    ::close(fd);
    if (!terminal) {
        return {"not a serial device", HintFor(ENOENT), false};
    }
    // It opens now, so the port itself refused: held exclusively, or the line settings
    // were not accepted.
    return {"busy or its line settings were refused", HintFor(EBUSY), true};
}

}  // namespace vyx::cli
