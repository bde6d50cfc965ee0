// `vyxctl ports` on Windows: merging what the registry and SetupAPI report, and the
// listing's text and JSON. Pure functions, tested on every platform.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "cli/ComPortListing.h"

namespace vyx::cli {
namespace {

std::vector<std::string> Names(const std::vector<ComPortRecord>& ports) {
    std::vector<std::string> names;
    names.reserve(ports.size());
    for (const auto& port : ports) {
        names.push_back(port.name);
    }
    return names;
}

TEST(CliComPortListing, MergesByNameAndSortsByNumber) {
    struct Case {
        const char* what;
        std::vector<ComPortRecord> records;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"nothing", {}, {}},
        {"numbers, not text: COM2 before COM10 before COM100",
         {{"COM10", "", ""}, {"COM100", "", ""}, {"COM2", "", ""}},
         {"COM2", "COM10", "COM100"}},
        {"the same port from both sources, in any case, once",
         {{"COM4", "\\Device\\Serial3", ""}, {"com4", "", "USB Serial Port (COM4)"}},
         {"COM4"}},
        {"a driver's own names after the COM names, alphabetically",
         {{"CNCB0", "", ""}, {"COM3", "", ""}, {"CNCA0", "", ""}},
         {"COM3", "CNCA0", "CNCB0"}},
        {"COM0 and COMx are no COM names: sorted with the others",
         {{"COMx", "", ""}, {"COM0", "", ""}, {"COM1", "", ""}},
         {"COM1", "COM0", "COMx"}},
        {"a record without a name is dropped", {{"", "\\Device\\Serial9", "x"}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Names(MergedComPorts(c.records)), c.names);
    }
}

TEST(CliComPortListing, MergedFieldsComeFromWhicheverSourceHasThem) {
    const auto ports = MergedComPorts({{"COM4", "\\Device\\Serial3", ""},
                                       {"COM4", "\\Device\\Other", "USB Serial Port (COM4)"},
                                       {"COM4", "", "Another name"}});
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].device, "\\Device\\Serial3");  // the first that knew it
    EXPECT_EQ(ports[0].friendlyName, "USB Serial Port (COM4)");
}

TEST(CliComPortListing, TextNamesEachPortAndMarksThoseTheDialogCannotChoose) {
    const std::vector<ComPortRecord> ports = {{"COM4", "\\Device\\Serial3", ""},
                                              {"COM21", "", "USB Serial Port (COM21)"}};
    EXPECT_EQ(FormatComPorts("test", ports),
              "COM ports (from test):\n"
              "  COM4   (no name given)  [\\Device\\Serial3]\n"
              "  COM21  USB Serial Port (COM21) *\n"
              "* vyxctl --port opens it; the dialog lists COM1 to COM20 only\n");
    EXPECT_EQ(FormatComPorts("test", {}), "COM ports (from test):\n  (none)\n");
}

TEST(CliComPortListing, JsonHasEveryFieldWithNullForTheUnknown) {
    const std::vector<ComPortRecord> ports = {{"COM20", "\\Device\\Serial0", ""},
                                              {"COM21", "", "Caf\xc3\xa9 port \xff"}};
    const auto json = nlohmann::json::parse(FormatComPortsJson("src", ports));
    EXPECT_EQ(json["source"], "src");
    ASSERT_EQ(json["ports"].size(), 2u);
    EXPECT_EQ(json["ports"][0]["name"], "COM20");
    EXPECT_EQ(json["ports"][0]["device"], "\\Device\\Serial0");
    EXPECT_TRUE(json["ports"][0]["friendly_name"].is_null());
    EXPECT_EQ(json["ports"][0]["in_dialog"], true);
    EXPECT_TRUE(json["ports"][1]["device"].is_null());
    EXPECT_EQ(json["ports"][1]["in_dialog"], false);
    // A byte that is not UTF-8 is replaced, never passed on nor thrown over.
    EXPECT_EQ(json["ports"][1]["friendly_name"], "Caf\xc3\xa9 port \xef\xbf\xbd");
}

}  // namespace
}  // namespace vyx::cli
