#pragma once

#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace vyx::cli {

// What a shell may offer for an option or argument.
struct CompletionOption {
    std::vector<std::string> names;  // "--port", "-p"; empty for an argument
    std::string description;
    bool takesValue = false;          // always true for an argument
    std::vector<std::string> values;  // the words it accepts, when they are few and known
    bool files = false;               // a path may be given too
};

struct CompletionCommand {
    std::string name;
    std::string description;
    std::vector<CompletionOption> options;
    std::vector<CompletionOption> arguments;  // in order
};

// The command line as the shells need it: the program's own options and its commands.
struct CompletionModel {
    std::string program;
    std::vector<CompletionOption> options;
    std::vector<CompletionCommand> commands;
};

// Walks the parser's commands and options, so that a command added to it is completed
// without further work. Values come from the parser's own checks (a set of accepted
// words) and, for COM names and list entries, from the resources' tables.
CompletionModel CompletionModelOf(const CLI::App& app);

// The completion script for "bash", "zsh" or "fish"; std::nullopt for another shell.
std::optional<std::string> CompletionScript(const CompletionModel& model, const std::string& shell);

// The shells CompletionScript knows.
inline const std::vector<std::string> kCompletionShells{"bash", "zsh", "fish"};

}  // namespace vyx::cli
