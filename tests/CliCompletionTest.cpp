// `vyxctl completion`: the scripts it writes, run in the real shells.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "tests/CliTestCommon.h"

namespace vyx::test {
namespace {

std::vector<std::string> SplitLines(const std::string& text, char cut = '\0') {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(cut != '\0' ? line.substr(0, line.find(cut)) : line);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

struct CompletionCase {
    std::vector<std::string> words;     // the command line, the last word being completed
    std::vector<std::string> expected;  // offered (as the shell would insert them)
    bool exact;                         // nothing else is offered
};

// The script vyxctl writes for `shell`, saved where the shell can read it.
std::string WriteScript(const TempDir& dir, const std::string& shell) {
    const ProcessResult result = Vyxctl({"completion", shell});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_FALSE(result.out.empty());
    std::string path = dir / ("vyxctl." + shell);
    EXPECT_TRUE(WriteFileBytes(path, result.out));
    return path;
}

void ExpectOffered(const std::vector<std::string>& offered, const CompletionCase& c) {
    for (const std::string& word : c.expected) {
        EXPECT_NE(std::find(offered.begin(), offered.end(), word), offered.end())
            << "not offered: " << word;
    }
    if (c.exact) {
        std::vector<std::string> expected = c.expected;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(offered, expected);
    }
}

TEST(CliCompletion, BashOffersCommandsOptionsListEntriesAndComNames) {
    TempDir dir;
    const std::string script = WriteScript(dir, "bash");
    const CompletionCase cases[] = {
        {{""}, {"info", "ports", "map", "completion", "language"}, false},
        {{"--port", "COM1"}, {"COM1", "COM10", "COM15", "COM19"}, false},
        {{"--baud", "1"}, {"19200", "115200"}, true},
        {{"cell-test", "b"}, {"blank", "block"}, true},
        {{"cell-test", "--help", "b"}, {"blank", "block"}, true},  // a flag takes no value
        {{"completion", ""}, {"bash", "zsh", "fish"}, true},
        {{"font-set", "Euro"}, {"Euro\\(CP-858\\)"}, true},
        {{"language", "(F"}, {"\\(FR\\)\\ France"}, true},
        {{"--port", "COM3", "command-set", "EP"}, {"EPSON\\ POS\\ D101"}, true},
        {{"info", "--"}, {"--json", "--timeout", "--port"}, false},
        {{"ports", "--j"}, {"--json"}, true},
        {{"map", "COM2", "/dev/nul"}, {"/dev/null"}, true},
        {{"map", ""}, {"COM1", "COM20"}, false},
        {{"apply", "--"}, {"--check", "--probe", "--json"}, false},
        {{"apply", "/dev/nul"}, {"/dev/null"}, true},
        {{"profile", "s"}, {"save"}, true},
        {{"profile", "save", "/dev/nul"}, {"/dev/null"}, true},
    };
    for (const CompletionCase& c : cases) {
        std::string words = "vyxctl";
        for (const std::string& word : c.words) {
            words += " '" + word + "'";
        }
        SCOPED_TRACE(words);
        std::string program = "source '";
        program += script;
        program += "'; COMP_WORDS=(" + words +
                   "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _vyxctl; "
                   "printf '%s\\n' \"${COMPREPLY[@]}\"";
        Launch launch;
        launch.args = {"/bin/bash", "--norc", "-c", program};
        const ProcessResult result = RunProcess(launch, kRunBound);
        ASSERT_EQ(result.exitStatus, 0) << result.err;
        EXPECT_EQ(result.err, "");
        ExpectOffered(SplitLines(result.out), c);
    }
}

TEST(CliCompletion, FishOffersTheSame) {
    if (access("/usr/bin/fish", X_OK) != 0) {
        GTEST_SKIP() << "fish is not installed";
    }
    TempDir dir;
    const std::string script = WriteScript(dir, "fish");
    const CompletionCase cases[] = {
        {{""}, {"info", "ports", "map", "completion", "language"}, false},
        {{"--port", "COM1"}, {"COM1", "COM10", "COM19"}, false},
        {{"cell-test", "b"}, {"blank", "block"}, true},
        {{"--help", "cell-test", "b"}, {"blank", "block"}, true},  // a flag takes no value
        {{"completion", ""}, {"bash", "zsh", "fish"}, true},
        {{"font-set", "Euro"}, {"Euro(CP-858)"}, true},
        {{"language", ""}, {"(FR) France", "(US) USA"}, false},
        {{"map", ""}, {"COM1", "COM20"}, false},
        {{"map", "COM2", "/dev/nul"}, {"/dev/null"}, true},
        {{"info", "--"}, {"--json", "--timeout", "--port"}, false},
    };
    for (const CompletionCase& c : cases) {
        std::string line = "vyxctl";
        for (const std::string& word : c.words) {
            line += " " + word;
        }
        SCOPED_TRACE(line);
        Launch launch;
        std::string program = "source '";
        program += script;
        program += "'; complete -C '" + line + "'";
        launch.args = {"/usr/bin/fish", "--no-config", "-c", program};
        const ProcessResult result = RunProcess(launch, kRunBound);
        ASSERT_EQ(result.exitStatus, 0) << result.err;
        EXPECT_EQ(result.err, "");
        ExpectOffered(SplitLines(result.out, '\t'), c);
    }
}

// zsh completes only inside its line editor; what a test can check without one is that
// the script parses and registers itself after compinit.
TEST(CliCompletion, ZshScriptLoads) {
    if (access("/usr/bin/zsh", X_OK) != 0) {
        GTEST_SKIP() << "zsh is not installed";
    }
    TempDir dir;
    const std::string script = WriteScript(dir, "zsh");
    Launch launch;
    launch.args = {"/usr/bin/zsh", "-f", "-c",
                   "autoload -Uz compinit && compinit -u -d '" + dir.Path() +
                       "/zcompdump' && source '" + script + "' && print -r -- $_comps[vyxctl]"};
    const ProcessResult result = RunProcess(launch, kRunBound);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "_vyxctl\n") << result.err;
    EXPECT_EQ(result.err, "");
}

TEST(CliCompletion, UnknownShellIsAUsageError) {
    const ProcessResult result = Vyxctl({"completion", "tcsh"});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.out, "");
}

}  // namespace
}  // namespace vyx::test
