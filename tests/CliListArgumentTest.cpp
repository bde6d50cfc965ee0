// The forms a list argument takes, and the lists they come from.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/Completion.h"
#include "cli/ListArgument.h"
#include "cli/Options.h"
#include "resources/Lists.h"

namespace vyx::cli {
namespace {

struct FormCase {
    const char* list;
    std::string typed;
    int index;                    // -1: refused
    std::vector<int> candidates;  // refused as ambiguous between these
};

TEST(CliListArgumentTest, EveryFormNamesItsEntry) {
    const FormCase cases[] = {
        // Indices, decimal and hexadecimal.
        {"command-set", "1", 1, {}},
        {"command-set", "0x09", 9, {}},
        {"command-set", "0X1", 1, {}},
        {"command-set", "10", -1, {}},
        {"command-set", "0x0A", -1, {}},
        {"font-set", "0x11", 17, {}},
        {"font-set", "18", -1, {}},
        // Full names and model names, any case.
        {"command-set", "epson pos d101", 1, {}},
        {"command-set", "D101", 1, {}},
        {"command-set", "logic", 9, {}},
        {"command-set", "LD 220", -1, {}},
        {"command-set", "utc", -1, {2, 3}},
        // Languages: the code, the country, the whole entry.
        {"language", "fr", 1, {}},
        {"language", "France", 1, {}},
        {"language", "(FR) France", 1, {}},
        {"language", " (fr) FRANCE ", 1, {}},
        {"language", "England", 3, {}},
        {"language", "uk", 3, {}},
        {"language", "d2", 10, {}},
        {"language", "13", -1, {}},
        {"language", "xx", -1, {}},
        // Font sets: the code page in its forms, the name before it.
        {"font-set", "cp858", 8, {}},
        {"font-set", "858", 8, {}},
        {"font-set", "CP-858", 8, {}},
        {"font-set", "Euro", 8, {}},
        {"font-set", "euro(cp-858)", 8, {}},
        {"font-set", "windows-1251", 17, {}},
        {"font-set", "1253", 10, {}},
        {"font-set", "cp862", 12, {}},
        {"font-set", "greek", -1, {10, 13}},
        {"font-set", "hebrew", -1, {12, 16}},
        {"font-set", "cp", -1, {}},  // refused; every CP-n entry is a candidate
        // Baud rates: the rate or its index.
        {"baud", "115200", 4, {}},
        {"baud", "0x03", 3, {}},
        {"baud", "4800", -1, {}},
        {"baud", "", -1, {}},
    };
    for (const FormCase& c : cases) {
        SCOPED_TRACE(std::string(c.list) + " " + c.typed);
        const ListInfo* list = FindList(c.list);
        ASSERT_NE(list, nullptr);
        const ListLookup lookup = LookUpListArgument(*list, c.typed);
        EXPECT_EQ(lookup.index.value_or(-1), c.index);
        const std::string problem = ListArgumentProblem(*list, c.typed, lookup);
        EXPECT_EQ(problem.empty(), c.index >= 0) << problem;
        if (!c.candidates.empty()) {
            EXPECT_EQ(lookup.candidates, c.candidates);
            EXPECT_NE(problem.find("ambiguous"), std::string::npos) << problem;
        }
    }
}

// Every full entry name finds its own entry and no other, in every list.
TEST(CliListArgumentTest, EveryEntryNameIsUnambiguous) {
    for (const ListInfo& list : Lists()) {
        for (std::size_t i = 0; i < list.entries.size(); ++i) {
            const ListLookup lookup = LookUpListArgument(list, list.entries[i]);
            EXPECT_EQ(lookup.index.value_or(-1), static_cast<int>(i)) << list.entries[i];
        }
    }
}

TEST(CliListArgumentTest, ListsTextShowsIndexCodeAndName) {
    const std::string all = ListsText(nullptr);
    const std::string fonts = ListsText(FindList("font-set"));
    EXPECT_NE(fonts.find("    8  0x08  Euro(CP-858)\n"), std::string::npos) << fonts;
    EXPECT_EQ(fonts.find("LD220"), std::string::npos);
    EXPECT_NE(all.find("    4  0x04  115200 bps\n"), std::string::npos) << all;
    // One line per entry and one heading per list.
    std::size_t entries = 0;
    for (const ListInfo& list : Lists()) {
        entries += list.entries.size() + 1;
    }
    EXPECT_EQ(static_cast<std::size_t>(std::count(all.begin(), all.end(), '\n')),
              entries + Lists().size() - 1);
}

// What a completion script is generated from matches what the parser accepts.
TEST(CliListArgumentTest, TheCompletionModelCoversTheParsersTables) {
    const CompletionModel model = CommandLineCompletionModel();
    const auto names = [](const std::vector<CompletionOption>& options) {
        std::vector<std::string> all;
        for (const CompletionOption& option : options) {
            all.insert(all.end(), option.names.begin(), option.names.end());
        }
        return all;
    };
    const auto has = [](const std::vector<std::string>& all, const std::string& name) {
        return std::find(all.begin(), all.end(), name) != all.end();
    };
    std::vector<std::string> commands;
    for (const CompletionCommand& command : model.commands) {
        commands.push_back(command.name);
    }
    for (const char* command : {"info", "set", "lists", "probe", "ports", "map", "completion"}) {
        EXPECT_TRUE(has(commands, command)) << command;
    }
    const std::vector<std::string> global = names(model.options);
    for (const char* option :
         {"-p", "--port", "-b", "--baud", "-q", "-v", "--trace", "--dry-run"}) {
        EXPECT_TRUE(has(global, option)) << option;
    }
    const auto info = std::find_if(model.commands.begin(), model.commands.end(),
                                   [](const CompletionCommand& c) { return c.name == "info"; });
    ASSERT_NE(info, model.commands.end());
    EXPECT_TRUE(has(names(info->options), "--report"));
    EXPECT_TRUE(has(names(info->options), "-t"));
}

}  // namespace
}  // namespace vyx::cli
