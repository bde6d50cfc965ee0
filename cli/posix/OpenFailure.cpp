#include "cli/OpenFailure.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vyx::cli {

namespace {

std::string HintFor(int error, const std::string& devicePath) {
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
            return "hint: close the other program (`fuser -v " + devicePath + "` shows which)";
        default:
            return {};
    }
}

}  // namespace

OpenFailure DiagnoseOpenFailure(const std::string& devicePath, const std::string& libraryLine) {
    // O_NONBLOCK: a modem line without carrier must not stall the diagnosis.
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return {std::strerror(error), HintFor(error, devicePath)};
    }
    const bool terminal = ::isatty(fd) == 1;
    ::close(fd);
    if (!terminal) {
        return {"not a serial device", HintFor(ENOENT, devicePath)};
    }
    // It opens now, so the port itself refused: another opener holds its lock, or the
    // line settings were not accepted (the library's line names the call).
    if (libraryLine.empty() || libraryLine.rfind("flock", 0) == 0) {
        return {"busy: another program holds it", HintFor(EBUSY, devicePath)};
    }
    return {libraryLine, {}};
}

}  // namespace vyx::cli
