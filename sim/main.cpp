// vyx-display-sim: a simulated customer display on a pseudo-terminal.
#include <fcntl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "resources/Version.h"
#include "sim/Options.h"
#include "sim/OwnSession.h"
#include "sim/PtyServer.h"

namespace {

// A closed standard descriptor would be handed to the pseudo-terminal's master, and the
// log written to the host: fill each gap with /dev/null before anything is opened.
void KeepStandardDescriptorsOpen() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd) {
            break;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    KeepStandardDescriptorsOpen();
    // Parse the options.
    vyx::sim::Options options;
    std::string error;
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!vyx::sim::ParseOptions(args, options, error)) {
        std::fprintf(stderr, "vyx-display-sim: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(vyx::sim::Usage().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::fputs("vyx-display-sim " VYX_VERSION_TEXT "\n", stdout);
        return 0;
    }
    // A session of our own first, when the pseudo-terminal is to be its terminal.
    if (options.ownTerminal && !vyx::sim::LeadOwnSession(error)) {
        std::fprintf(stderr, "vyx-display-sim: %s\n", error.c_str());
        return 1;
    }
    // Never take over a user's link unasked; then open the pseudo-terminal and its links,
    // serve until a signal, clean up.
    vyx::sim::PtyServer server(options);
    if (!server.CheckLinks(error)) {
        std::fprintf(stderr, "vyx-display-sim: %s\n", error.c_str());
        return 2;
    }
    if (!server.Open(error)) {
        std::fprintf(stderr, "vyx-display-sim: %s\n", error.c_str());
        return 1;
    }
    return server.Run();
}
