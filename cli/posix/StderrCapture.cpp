#include "cli/StderrCapture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace vyx::cli {

StderrCapture::StderrCapture() {
    // An unlinked temporary file rather than a pipe: a long diagnostic cannot block.
    char name[] = "/tmp/vyxctl-stderr-XXXXXX";
    m_Capture = ::mkstemp(name);
    if (m_Capture < 0) {
        return;
    }
    ::unlink(name);
    std::fflush(stderr);
    m_SavedStderr = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (m_SavedStderr < 0 || ::dup2(m_Capture, STDERR_FILENO) < 0) {
        ::close(m_Capture);
        m_Capture = -1;
    }
}

StderrCapture::~StderrCapture() {
    const std::string held = Release();
    if (!held.empty()) {
        std::fputs(held.c_str(), stderr);
    }
}

std::string StderrCapture::Release() {
    if (m_Capture < 0) {
        return {};
    }
    std::fflush(stderr);
    ::dup2(m_SavedStderr, STDERR_FILENO);
    ::close(m_SavedStderr);
    std::string held;
    char chunk[512];
    ::lseek(m_Capture, 0, SEEK_SET);
    for (ssize_t n = ::read(m_Capture, chunk, sizeof chunk); n > 0;
         n = ::read(m_Capture, chunk, sizeof chunk)) {
        held.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(m_Capture);
    m_Capture = -1;
    m_SavedStderr = -1;
    return held;
}

}  // namespace vyx::cli
