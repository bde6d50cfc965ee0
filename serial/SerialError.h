#pragma once

#include <functional>
#include <string>

namespace vyx {

// Why a serial operation failed: the call, the device and the operating system's code,
// as a value its owner can read instead of a line on standard error to parse.
struct SerialError {
    // What kind of failure, in words that mean the same on every platform, so that an
    // owner can give its own hint without knowing errno or GetLastError values.
    enum class Kind {
        NoError,           // no failure (not "None": X11 defines that name)
        NotAPortName,      // the name is neither "COMn" nor a device path
        NoDevice,          // nothing (usable) at that path (ENOENT, ENODEV, ENXIO, EIO)
        AccessDenied,      // the user may not open it (EACCES, EPERM)
        Busy,              // another opener holds it (EBUSY, a held lock)
        NotASerialDevice,  // it opened, but is no terminal device
        BadSetting,        // the line settings were refused (rate, line state)
        Lost,              // the device hung up or went away while open
        Other,             // anything else; `code` and `message` tell
    };

    Kind kind = Kind::NoError;
    std::string call;     // the call that failed: "open", "flock", "tcsetattr", "read", ...
    std::string path;     // the device path; the name given when it names no device
    int code = 0;         // errno on POSIX, GetLastError() on Windows; 0: not the OS's code
    std::string message;  // the reason: the system's text for `code`, or our own words

    bool Failed() const { return kind != Kind::NoError; }
    // "call path: message", the one line the default sink prints.
    std::string Line() const;
};

// Receives every failure a port reports: on the owner's thread for OpenPort, on any
// thread for what happens while open (a lost device, a failed read or write). It must
// not call back into the port.
using DiagnosticSink = std::function<void(const SerialError&)>;

// The default sink: Line() on standard error, written with one call so that lines from
// two threads never mix.
void PrintToStderr(const SerialError& error);

}  // namespace vyx
