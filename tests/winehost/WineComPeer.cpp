// The far end of a Wine COM port for the Windows tests: a pseudo-terminal whose slave is
// linked as a dosdevices entry (e.g. $WINEPREFIX/dosdevices/com4), answering the frames
// that the Windows test program writes while it runs.
//
//   wine-com-peer LINK -- COMMAND [ARGS...]
//
// Exit status: the command's own, or 1 when the peer itself failed. Every frame
// received and every reply sent is logged on standard error.
//
// Frames are STX LEN CMD DATA ETX BCC (BCC: XOR of LEN through ETX). Commands:
//   'E' data      the same frame back, byte for byte
//   'L'           an 'L' frame whose data describe the line state the host set
//   'D'           (only the exact information query 02 01 44 03 46) a fixed reply
//   'B' n1 n0     n = n1*256+n0 bytes of a counting pattern, unframed
//   'S' t1 t0     the frame back, then no reading for t = t1*256+t0 ms
//   'H'           no answer: a hang-up at once; a fresh pty takes over the link

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;
// The whole run may not take longer than this; the command is then killed.
constexpr auto kRunLimit = std::chrono::seconds(300);

void Fail(const char* call) {
    std::fprintf(stderr, "wine-com-peer: %s: %s\n", call, std::strerror(errno));
}

void Log(const char* what, const Bytes& bytes) {
    std::string line = std::string("wine-com-peer: ") + what;
    char hex[4];
    for (std::size_t i = 0; i < bytes.size() && i < 48; ++i) {
        std::snprintf(hex, sizeof hex, " %02X", bytes[i]);
        line += hex;
    }
    if (bytes.size() > 48) {
        line += " ... (" + std::to_string(bytes.size()) + " bytes)";
    }
    std::fprintf(stderr, "%s\n", line.c_str());
}

std::uint8_t Bcc(const Bytes& frame) {
    std::uint8_t x = 0;
    for (std::size_t i = 1; i + 1 < frame.size(); ++i) {
        x = static_cast<std::uint8_t>(x ^ frame[i]);
    }
    return x;
}

Bytes MakeFrame(std::uint8_t cmd, const std::string& data) {
    Bytes f{kStx, static_cast<std::uint8_t>(data.size() + 1), cmd};
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(kEtx);
    f.push_back(0);
    f.back() = Bcc(f);
    return f;
}

// One pseudo-terminal: the master we talk through, and a slave descriptor we hold as
// our controlling terminal. Wine makes a pty the controlling terminal of its wineserver
// when it can, and the server then dies of SIGHUP at the hang-up; holding it ourselves
// prevents that, and keeps the master from seeing a hang-up between openings.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string slavePath;
};

bool OpenPty(Pty& pty) {
    pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0) {
        Fail("posix_openpt");
        return false;
    }
    const char* name = ptsname(pty.master);
    if (name == nullptr) {
        Fail("ptsname");
        return false;
    }
    pty.slavePath = name;
    pty.slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.slave < 0) {
        Fail("open slave");
        return false;
    }
    if (ioctl(pty.slave, TIOCSCTTY, 0) != 0) {
        Fail("ioctl TIOCSCTTY");
        return false;
    }
    // Start from a line state unlike the display's, so that the 'L' reply shows what
    // the host changed; the hardware handshake is on, and must stay on.
    termios tio{};
    tcgetattr(pty.slave, &tio);
    cfsetispeed(&tio, B1200);
    cfsetospeed(&tio, B1200);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
    tio.c_cflag |= CS7 | PARENB | CSTOPB | CRTSCTS;
    tio.c_iflag |= IXON | IXOFF;
    if (tcsetattr(pty.slave, TCSANOW, &tio) != 0) {
        Fail("tcsetattr");
        return false;
    }
    return true;
}

bool Link(const Pty& pty, const std::string& link) {
    unlink(link.c_str());
    if (symlink(pty.slavePath.c_str(), link.c_str()) != 0) {
        Fail("symlink");
        return false;
    }
    return true;
}

std::string LineState(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        return "tcgetattr failed";
    }
    const speed_t speed = cfgetospeed(&tio);
    std::string s = speed == B9600     ? "9600"
                    : speed == B19200  ? "19200"
                    : speed == B38400  ? "38400"
                    : speed == B57600  ? "57600"
                    : speed == B115200 ? "115200"
                    : speed == B1200   ? "1200"
                                       : "other";
    s += (tio.c_cflag & CSIZE) == CS8 ? " cs8" : " -cs8";
    s += (tio.c_cflag & PARENB) != 0 ? " parenb" : " -parenb";
    s += (tio.c_cflag & CSTOPB) != 0 ? " cstopb" : " -cstopb";
    s += (tio.c_iflag & IXON) != 0 ? " ixon" : " -ixon";
    s += (tio.c_iflag & IXOFF) != 0 ? " ixoff" : " -ixoff";
    s += (tio.c_cflag & CRTSCTS) != 0 ? " crtscts" : " -crtscts";
    const bool raw = (tio.c_lflag & (ICANON | ECHO | ISIG)) == 0 && (tio.c_oflag & OPOST) == 0;
    s += raw ? " raw" : " -raw";
    return s;
}

bool WriteAll(int fd, const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            pollfd out{fd, POLLOUT, 0};
            poll(&out, 1, 1000);
            continue;
        }
        if (n <= 0) {
            Fail("write");
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// What the serving loop is asked to do after a frame.
struct Action {
    Clock::time_point quietUntil{};  // no reading before this
    bool hangUp = false;
};

void Answer(const Bytes& frame, int master, Action& action) {
    Log("received", frame);
    const std::uint8_t cmd = frame[2];
    Bytes reply;
    if (cmd == 'E') {
        reply = frame;
    } else if (cmd == 'L') {
        reply = MakeFrame('L', LineState(master));
    } else if (cmd == 'D' && frame == Bytes{0x02, 0x01, 0x44, 0x03, 0x46}) {
        reply = {0x02, 0x12, 'D', 'V', '1',  '.',  '2',  '3',  0,    0,    0,
                 0,    0,    0,   0,   0x01, 0x02, 0x03, 0x01, 0x00, 0x03, 0x00};
    } else if (cmd == 'B' && frame.size() == 7) {
        const std::size_t n = static_cast<std::size_t>(frame[3]) * 256U + frame[4];
        reply.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            reply[i] = static_cast<std::uint8_t>((i * 7 + 3) & 0xFF);
        }
    } else if (cmd == 'S' && frame.size() == 7) {
        reply = frame;
        const int ms = frame[3] * 256 + frame[4];
        action.quietUntil = Clock::now() + std::chrono::milliseconds(ms);
    } else if (cmd == 'H') {
        // No answer: a hang-up discards what the host has not read yet.
        action.hangUp = true;
        return;
    } else {
        return;  // not ours: no answer, as a display ignores what it does not know
    }
    Log("sent", reply);
    WriteAll(master, reply);
}

// Takes every complete, valid frame from the front of `input`; bytes that start no
// valid frame are dropped one at a time, so the parser finds the next STX.
void Serve(Bytes& input, int master, Action& action) {
    while (!input.empty()) {
        if (input[0] != kStx) {
            input.erase(input.begin());
            continue;
        }
        if (input.size() < 2) {
            return;
        }
        const std::size_t total = static_cast<std::size_t>(input[1]) + 4;
        if (input[1] == 0) {
            input.erase(input.begin());
            continue;
        }
        if (input.size() < total) {
            return;
        }
        const Bytes frame(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(total));
        if (frame[total - 2] != kEtx || frame[total - 1] != Bcc(frame)) {
            input.erase(input.begin());
            continue;
        }
        input.erase(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(total));
        Answer(frame, master, action);
    }
}

int ExitStatus(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    std::fprintf(stderr, "wine-com-peer: command ended by signal %d\n", WTERMSIG(status));
    return 1;
}

int Run(const std::string& link, char** command) {
    // The hang-up of our own controlling terminal must not end us.
    signal(SIGHUP, SIG_IGN);
    if (setsid() < 0) {
        Fail("setsid");
        return 1;
    }
    Pty pty;
    if (!OpenPty(pty) || !Link(pty, link)) {
        return 1;
    }
    const pid_t child = fork();
    if (child < 0) {
        Fail("fork");
        return 1;
    }
    if (child == 0) {
        // Out of our session: Wine's processes must never share our terminal.
        setsid();
        signal(SIGHUP, SIG_DFL);
        execvp(command[0], command);
        Fail("execvp");
        _exit(127);
    }
    const int childFd = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
    if (childFd < 0) {
        Fail("pidfd_open");
        kill(child, SIGKILL);
        return 1;
    }
    const auto giveUp = Clock::now() + kRunLimit;
    Bytes input;
    Action action;
    while (true) {
        const auto now = Clock::now();
        if (now >= giveUp) {
            std::fprintf(stderr, "wine-com-peer: command still running after the limit\n");
            kill(child, SIGKILL);
        }
        const bool reading = now >= action.quietUntil;
        pollfd fds[2] = {{childFd, POLLIN, 0},
                         {pty.master, static_cast<short>(reading ? POLLIN : 0), 0}};
        int timeout = 1000;
        if (!reading) {
            timeout = static_cast<int>(
                std::chrono::ceil<std::chrono::milliseconds>(action.quietUntil - now).count());
        }
        if (poll(fds, 2, timeout) < 0 && errno != EINTR) {
            Fail("poll");
            kill(child, SIGKILL);
        }
        if (fds[0].revents != 0) {
            break;
        }
        if (reading && (fds[1].revents & POLLIN) != 0) {
            std::uint8_t buffer[4096];
            const ssize_t n = read(pty.master, buffer, sizeof buffer);
            if (n > 0) {
                input.insert(input.end(), buffer, buffer + n);
                Serve(input, pty.master, action);
            }
        }
        if (action.hangUp) {
            close(pty.master);
            close(pty.slave);
            input.clear();
            action = Action{};
            if (!OpenPty(pty) || !Link(pty, link)) {
                kill(child, SIGKILL);
            }
        }
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    unlink(link.c_str());
    return ExitStatus(status);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || std::strcmp(argv[2], "--") != 0) {
        std::fprintf(stderr, "usage: wine-com-peer LINK -- COMMAND [ARGS...]\n");
        return 2;
    }
    // setsid() needs a process that leads no process group; a shell with job control
    // starts us as one, so the work runs in a child.
    const pid_t worker = fork();
    if (worker < 0) {
        Fail("fork");
        return 1;
    }
    if (worker == 0) {
        _exit(Run(argv[1], argv + 3));
    }
    int status = 0;
    while (waitpid(worker, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
