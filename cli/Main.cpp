// vyxctl: the dialog's operations from a shell, one command per run.
#include "cli/Commands.h"
#include "cli/LocaleText.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/StandardStreams.h"

int main(int argc, char** argv) {
    vyx::cli::EnsureStandardDescriptors();
    vyx::cli::IgnoreBrokenPipe();
    vyx::cli::UseEnvironmentLocale();
    const vyx::cli::ParseOutcome parsed = vyx::cli::ParseCommandLine(argc, argv);
    if (!parsed.invocation) {
        return vyx::cli::FinishStandardOutput(parsed.exitStatus);
    }
    return vyx::cli::FinishStandardOutput(vyx::cli::RunCommand(*parsed.invocation));
}
