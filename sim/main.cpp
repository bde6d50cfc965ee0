// vyx-display-sim: a simulated customer display on a pseudo-terminal.
#include <cstdio>
#include <string>
#include <vector>

#include "sim/Options.h"
#include "sim/PtyServer.h"

int main(int argc, char** argv) {
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
