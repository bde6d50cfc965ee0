// vyxctl: the dialog's operations from a shell, one command per run.
#include "cli/Commands.h"
#include "cli/LocaleText.h"
#include "cli/Options.h"

int main(int argc, char** argv) {
    vyx::cli::UseEnvironmentLocale();
    const vyx::cli::ParseOutcome parsed = vyx::cli::ParseCommandLine(argc, argv);
    if (!parsed.invocation) {
        return parsed.exitStatus;
    }
    return vyx::cli::RunCommand(*parsed.invocation);
}
