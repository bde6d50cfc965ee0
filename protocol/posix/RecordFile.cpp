#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "protocol/Download.h"

namespace vyx::protocol {

namespace {

RecordOutcome Failed(RecordWrite result, const char* call, int err) {
    RecordOutcome outcome;
    outcome.result = result;
    outcome.error = std::string(call) + ": " + std::strerror(err);
    if (err == EWOULDBLOCK || err == EACCES) {
        // A lock that is not ours reads as "try again"; say whose it is.
        if (std::strcmp(call, "open") != 0) {
            outcome.error += " (held by another program)";
        }
    }
    return outcome;
}

// Held exclusively while open; a file another program locks counts as one that could
// not be opened, as an open without sharing would fail there. Both lock families are
// checked: flock and POSIX record locks (fcntl, lockf) do not see each other on Linux.
const char* LockExclusively(int fd) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return "flock";
    }
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    whole.l_start = 0;
    whole.l_len = 0;  // to the end of the file, however long it grows
    if (::fcntl(fd, F_SETLK, &whole) != 0) {
        return "fcntl F_SETLK";
    }
    return nullptr;
}

}  // namespace

RecordOutcome WriteRecordFile(const std::string& path,
                              const std::array<std::uint8_t, kRecordLength>& record) {
    // Never O_CREAT or O_TRUNC: only an existing file is written, and bytes past the
    // record stay. O_NONBLOCK keeps the open itself from waiting on a FIFO or device,
    // which are refused just below.
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        RecordOutcome outcome = Failed(RecordWrite::NotOpened, "open", errno);
        outcome.missing = errno == ENOENT;
        return outcome;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Failed(RecordWrite::NotOpened, "open", S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    }
    if (const char* call = LockExclusively(fd)) {
        const int err = errno;
        ::close(fd);
        return Failed(RecordWrite::NotOpened, call, err);
    }
    std::size_t done = 0;
    while (done < record.size()) {
        const ssize_t n =
            ::pwrite(fd, record.data() + done, record.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int err = n < 0 ? errno : EIO;
            ::close(fd);
            return Failed(RecordWrite::WriteFailed, "pwrite", err);
        }
        done += static_cast<std::size_t>(n);
    }
    // A failing close can be the first report of a failed write (e.g. on NFS).
    if (::close(fd) != 0) {
        return Failed(RecordWrite::WriteFailed, "close", errno);
    }
    return {RecordWrite::Written, false, {}};
}

}  // namespace vyx::protocol
