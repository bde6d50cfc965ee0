#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/Options.h"

namespace vyx::sim {
namespace {

TEST(SimOptions, ValuesAreTaken) {
    Options o;
    std::string error;
    ASSERT_EQ(ParseOptions({"--link",
                            "/tmp/x",
                            "--com=7",
                            "--baud",
                            "115200",
                            "--no-pacing",
                            "--fw-version",
                            "ABCDEFGHIJKLMNOP",
                            "--plain",
                            "--reply-split",
                            "5",
                            "--split-pause=20",
                            "--reply-delay",
                            "30",
                            "--short-reply",
                            "--silent",
                            "--flood",
                            "9000",
                            "--replace",
                            "--own-terminal"},
                           o, error),
              1)
        << error;
    EXPECT_EQ(o.link, "/tmp/x");
    EXPECT_EQ(o.com, 7);
    EXPECT_EQ(o.baud, 115200u);
    EXPECT_FALSE(o.pacing);
    EXPECT_EQ(o.firmwareVersion, "ABCDEFGHIJKL");
    EXPECT_TRUE(o.plain && o.shortReply && o.silent);
    EXPECT_EQ(o.replySplit, 5u);
    EXPECT_EQ(o.splitPauseMs, 20);
    EXPECT_EQ(o.replyDelayMs, 30);
    EXPECT_EQ(o.flood, 9000u);
    EXPECT_TRUE(o.replace);
    EXPECT_FALSE(Options{}.replace);
    EXPECT_TRUE(o.ownTerminal);
    EXPECT_FALSE(Options{}.ownTerminal);
    EXPECT_FALSE(o.help || o.version);
}

TEST(SimOptions, HelpAndVersionAreFlags) {
    Options o;
    std::string error;
    ASSERT_EQ(ParseOptions({"--version", "--link", "/tmp/x"}, o, error), 1) << error;
    EXPECT_TRUE(o.version);
    EXPECT_FALSE(o.help);
    ASSERT_EQ(ParseOptions({"-h"}, o, error), 1) << error;
    EXPECT_TRUE(o.help);
}

TEST(SimOptions, BadArgumentsAreRefusedWithTheirName) {
    const std::vector<std::vector<std::string>> bad = {
        {"--baud", "4800"},
        {"--baud", "96OO"},
        {"--baud"},
        {"--com", "0"},
        {"--com", "256"},
        {"--reply-split", "22"},
        {"--reply-split", "0"},
        {"--reply-delay", "-1"},
        {"--flood", "0"},
        {"--link"},
        {"--link="},
        {"--bogus"},
        {"--plain=1"},
        {"--own-terminal=yes"},
        {"--replace=yes"},
        {"--version=2"},
    };
    for (const auto& args : bad) {
        Options o;
        std::string error;
        EXPECT_EQ(ParseOptions(args, o, error), 0) << args[0];
        EXPECT_NE(error.find(args[0].substr(0, args[0].find('='))), std::string::npos)
            << args[0] << ": " << error;
    }
}

}  // namespace
}  // namespace vyx::sim
