#include "protocol/Download.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vyx::protocol {

namespace {

// Byte 9 ends the record with a carriage return. The tool is a Windows program whose
// text files end their lines with CR LF; in a file that already holds such a line
// ("U,0,S,1,3\r\n") the LF at offset 10 is kept, so the record stays a well-formed
// line, and in a fresh file the CR still ends the last comma-separated field.
constexpr std::uint8_t kRecordEnd = 0x0D;

void SetError(std::string* error, const char* call, int err) {
    if (error != nullptr) {
        *error = std::string(call) + ": " + std::strerror(err);
    }
}

}  // namespace

std::array<std::uint8_t, kRecordLength> BuildDownloadRecord(int comIndex) {
    return {0x55,      0x2C, 0x30,
            0x2C,      0x53, 0x2C,
            0x31,      0x2C, static_cast<std::uint8_t>((0x30 + comIndex) & 0xFF),
            kRecordEnd};
}

RecordWrite WriteDownloadRecord(const std::string& path,
                                const std::array<std::uint8_t, kRecordLength>& record,
                                std::string* error) {
    // Never O_CREAT or O_TRUNC: only an existing file is written, and bytes past the
    // record stay. O_NONBLOCK keeps the open itself from waiting on a FIFO or device,
    // which are refused just below.
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        SetError(error, "open", errno);
        return RecordWrite::NotOpened;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        SetError(error, "open", S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        ::close(fd);
        return RecordWrite::NotOpened;
    }
    // Held exclusively while open; a file locked by another program counts as one that
    // could not be opened, as an open without sharing would fail there.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        SetError(error, "flock", errno);
        ::close(fd);
        return RecordWrite::NotOpened;
    }
    std::size_t done = 0;
    while (done < record.size()) {
        const ssize_t n =
            ::pwrite(fd, record.data() + done, record.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            SetError(error, "pwrite", n < 0 ? errno : EIO);
            ::close(fd);
            return RecordWrite::WriteFailed;
        }
        done += static_cast<std::size_t>(n);
    }
    // A failing close can be the first report of a failed write (e.g. on NFS).
    if (::close(fd) != 0) {
        SetError(error, "close", errno);
        return RecordWrite::WriteFailed;
    }
    return RecordWrite::Written;
}

}  // namespace vyx::protocol
