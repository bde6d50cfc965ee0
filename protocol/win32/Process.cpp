// Starting the programming tool on Windows the way WinExec does: the program name alone
// as the command line, looked up by the system's search order, shown normally, not
// waited for.
#include <windows.h>

#include <cstdio>
#include <string>

#include "protocol/Download.h"
#include "protocol/win32/SystemMessage.h"

namespace vyx::protocol {

namespace {

// The NUL device for the tool's output, inheritable; null when it cannot be opened.
HANDLE OpenNul() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inherit, OPEN_EXISTING, 0, nullptr);
    return nul == INVALID_HANDLE_VALUE ? nullptr : nul;
}

}  // namespace

// On Windows the lookup is the system's, as WinExec's: the program's own folder, the
// current folder, the system folders, then PATH. The tool is usually installed beside
// the utility or started from its folder, which a PATH-only search would miss.
bool StartProgram(const std::string& program, std::string* error, ToolOutput output) {
    STARTUPINFOA start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESHOWWINDOW;
    start.wShowWindow = SW_SHOW;
    HANDLE nul = nullptr;
    BOOL inherit = FALSE;  // nothing of ours (the COM port above all) goes to the tool
    if (output == ToolOutput::Discarded) {
        // A caller reading our output until it ends must not wait for the tool too.
        // Standard input stays ours. Inheriting these passes no other handle of ours:
        // the COM port and the record file are opened not inheritable.
        nul = OpenNul();
        if (nul != nullptr) {
            start.dwFlags |= STARTF_USESTDHANDLES;
            start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
            start.hStdOutput = nul;
            start.hStdError = nul;
            inherit = TRUE;
        }
    }
    // The command line must be writable, and the program name alone is all of it.
    std::string commandLine = program;
    PROCESS_INFORMATION started{};
    const BOOL ok = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, inherit, 0,
                                   nullptr, nullptr, &start, &started);
    const DWORD code = ok ? 0 : GetLastError();
    if (nul != nullptr) {
        CloseHandle(nul);
    }
    if (!ok) {
        const std::string reason = "CreateProcess " + program + ": " + SystemMessage(code);
        if (error != nullptr) {
            *error = reason;
        } else {
            std::fprintf(stderr, "%s\n", reason.c_str());
        }
        return false;
    }
    // Not waited for; the system keeps nothing of an ended process once these go.
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return true;
}

}  // namespace vyx::protocol
