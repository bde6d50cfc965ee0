// Profiles as pure functions: the reader's accepted forms and its refusals, the text
// `profile save` writes read back, apply's summary and JSON, and the file replacement.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Apply.h"
#include "cli/Profile.h"
#include "cli/ProfileCommands.h"
#include "protocol/InformationFrame.h"
#include "tests/support/InformationReply.h"

namespace vyx::cli {
namespace {

using test::Reply;

const std::string kBase =
    "command-set = 1\nfont-set = 8\nlanguage = 1\nbaud = 115200\n";  // lines 1 to 4

protocol::InformationFrame Frame(const std::vector<std::uint8_t>& bytes) {
    protocol::InformationFrame frame{};
    std::copy(bytes.begin(), bytes.end(), frame.begin());
    return frame;
}

TEST(CliProfileTest, ValuesTakeTheFormsOfTheCommandLine) {
    const struct {
        std::string text;
        int commandSet, fontSet, language, baud;
        std::optional<int> probeFirst;
    } cases[] = {
        {kBase, 1, 8, 1, 4, std::nullopt},
        {"command-set = \"EPSON POS D101\"\nfont-set = \"cp858\"\nlanguage = \"fr\"\n"
         "baud = \"115200\"\n",
         1, 8, 1, 4, std::nullopt},
        {"command-set = \"logic control\"\nfont-set = \"Russian(Windows-1251)\"\n"
         "language = \"(RU) Russia\"\nbaud = 0\n",
         9, 17, 12, 0, std::nullopt},
        // An index as hex text, the code page of a font set, a rate by index.
        {"command-set = \"0x05\"\nfont-set = 866\nlanguage = \"Japan\"\nbaud = 4\n", 5, 7, 8, 4,
         std::nullopt},
        {kBase + "probe-first = 57600\n", 1, 8, 1, 4, 3},
        {kBase + "probe-first = \"9600\"  # comments are fine\n", 1, 8, 1, 4, 0},
        // Text beyond ASCII in comments and in strings of every kind, even where the line
        // does not use it.
        {"# caf\u00e9\ncommand-set = 'EPSON POS D101' # \u00e9\nfont-set = \"\"\"cp858\"\"\"\n"
         "language = '''fr'''\nbaud = 0\n",
         1, 8, 1, 0, std::nullopt},
        // Keys in any order, blank lines and comments between them.
        {"# shop 12\nbaud = 38400\n\nlanguage = 0\nfont-set = 0\ncommand-set = 0\n", 0, 0, 0, 2,
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const ProfileRead read = ReadProfile(c.text, "p.toml");
        ASSERT_TRUE(read.profile) << read.error;
        EXPECT_EQ(read.error, "");
        EXPECT_EQ(read.profile->commandSet, c.commandSet);
        EXPECT_EQ(read.profile->fontSet, c.fontSet);
        EXPECT_EQ(read.profile->language, c.language);
        EXPECT_EQ(read.profile->baud, c.baud);
        EXPECT_EQ(read.profile->probeFirst, c.probeFirst);
        EXPECT_FALSE(read.profile->lines);
    }
}

TEST(CliProfileTest, RefusalsNameFileLineAndReason) {
    const struct {
        const char* what;
        std::string text;
        std::string error;  // the whole message, or its start when `prefix`
        bool prefix;
    } cases[] = {
        {"unknown key", kBase + "colour = \"red\"\n",
         "shop.toml:5: unknown key \"colour\" (known: command-set, font-set, language, baud, "
         "line1, line2, probe-first)",
         false},
        // A quoted key may hold anything; the message shows it escaped, on one line.
        {"control characters in a key", kBase + "\"bell\\u0007\\nx\" = 1\n",
         "shop.toml:5: unknown key \"bell\\x07\\x0Ax\"", true},
        {"a table header no key can start", "[$display]\n" + kBase,
         "shop.toml:1: Error while parsing key: expected bare key starting character or string "
         "delimiter, saw '$'",
         false},
        // TOML has characters beyond ASCII in strings and comments only; where the
        // parser would look at one after a bare value, it must still end in an error.
        {"a letter after a number", "baud = 9600\u00e9\n", "shop.toml:1: ", true},
        {"a letter after a string", kBase + "line1 = \"x\"\t\u00e9\n", "shop.toml:5: ", true},
        {"a quote after a number", "baud = 5\"\\\"\u03be\"\n", "shop.toml:1: ", true},
        {"no escape starts beyond ASCII", kBase + "line1 = \"\\\u00e9\"\n",
         "shop.toml:5: Error while parsing string: unknown escape sequence '\\\\?'", false},
        {"not UTF-8", kBase + "line1 = \"caf\xE9\"\n", "shop.toml:5: not UTF-8 text", false},
        {"an overlong form", kBase + "# \xC0\xAF\n", "shop.toml:5: not UTF-8 text", false},
        {"a key in a table", "[display]\n" + kBase, "shop.toml:1: unknown key \"display\"", true},
        {"misspelt key", "command_set = 1\nfont-set = 8\nlanguage = 1\nbaud = 9600\n",
         "shop.toml:1: unknown key \"command_set\"", true},
        {"wrong type", "command-set = 1\nfont-set = 8\nlanguage = true\nbaud = 9600\n",
         "shop.toml:3: language: must be an index or a name, not a boolean", false},
        {"a float rate", "command-set = 1\nfont-set = 8\nlanguage = 1\nbaud = 9600.0\n",
         "shop.toml:4: baud: must be an index or a name, not a floating-point number", false},
        {"line not text", kBase + "line1 = 12\n",
         "shop.toml:5: line1 must be a string, not an integer", false},
        {"bad name", "command-set = \"LD 220\"\nfont-set = 8\nlanguage = 1\nbaud = 9600\n",
         "shop.toml:1: command-set: \"LD 220\" is no entry of the command set list; use an index "
         "from 0 to 9, a name or a short form (`vyxctl lists command-set` shows them)",
         false},
        {"ambiguous short form",
         "command-set = 1\nfont-set = \"Greek\"\nlanguage = 1\nbaud = 9600\n",
         "shop.toml:2: font-set: font-set \"Greek\" is ambiguous: 10 \"Greek(Windows-1253)\", 13 "
         "\"Greek(CP737)\"; give more of the name or the index",
         false},
        {"code beyond the list", "command-set = 10\nfont-set = 8\nlanguage = 1\nbaud = 9600\n",
         "shop.toml:1: command-set: \"10\" is no entry of the command set list", true},
        {"negative code", "command-set = 1\nfont-set = -1\nlanguage = 1\nbaud = 9600\n",
         "shop.toml:2: font-set: -1 is below 0: use an index from 0 to 17 or a name", false},
        {"rate not offered", "command-set = 1\nfont-set = 8\nlanguage = 1\nbaud = 4800\n",
         "shop.toml:4: baud: \"4800\" is no entry of the baud rate list", true},
        {"probe-first not a rate", kBase + "probe-first = 1200\n",
         "shop.toml:5: probe-first: \"1200\" is no entry of the baud rate list", true},
        {"missing key", "command-set = 1\nfont-set = 8\nbaud = 9600\n",
         "shop.toml:3: missing language (a profile names command-set, font-set, language and "
         "baud)",
         false},
        {"several missing, no newline at the end", "# empty\nfont-set = 8",
         "shop.toml:2: missing command-set, language, baud", true},
        {"empty file", "", "shop.toml:1: missing command-set, font-set, language, baud", true},
        {"duplicate", kBase + "\nlanguage = 2\n", "shop.toml:6: ", true},
        {"bad syntax", "command-set = 1\nfont-set = \nlanguage = 1\nbaud = 9600\n",
         "shop.toml:2: ", true},
        {"unterminated string", "command-set = \"EPSON\nfont-set = 8\n", "shop.toml:1: ", true},
        {"line too long", kBase + "line1 = \"123456789012345678901\"\n",
         "shop.toml:5: line1 \"123456789012345678901\" takes more than 20 bytes in CP858", false},
        {"line too long for its code page", kBase + "line2 = \"€€€€€€€€€€€€€€€€€€€€€\"\n",
         "shop.toml:5: line2 ", true},
        {"character the font set lacks", kBase + "line1 = \"ok\"\nline2 = \"Привет\"\n",
         "shop.toml:6: line2 \"Привет\": 6 character(s) have no form in CP858, the code page of "
         "the font set",
         false},
        {"control character", kBase + "line1 = \"a\\u001Bb\"\n",
         "shop.toml:5: line1 holds a control character; a line shows text only", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ProfileRead read = ReadProfile(c.text, "shop.toml");
        EXPECT_FALSE(read.profile);
        if (c.prefix) {
            EXPECT_EQ(read.error.substr(0, c.error.size()), c.error) << read.error;
            // The reason follows the position, on the same line.
            EXPECT_GT(read.error.size(), c.error.size()) << read.error;
        } else {
            EXPECT_EQ(read.error, c.error);
        }
        EXPECT_EQ(read.error.find('\n'), std::string::npos) << read.error;
    }
}

TEST(CliProfileTest, LinesAreEncodedForTheFontSetOfTheProfile) {
    const struct {
        const char* fontSet;
        std::string line1, line2;
        std::vector<std::uint8_t> first, second;  // the bytes before the blank padding
    } cases[] = {
        {"cp858", "Total €", "", {'T', 'o', 't', 'a', 'l', ' ', 0xD5}, {}},
        {"1251", "", "Привет", {}, {0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2}},
        // Slavonic names no code page: the display shows it as CP437.
        {"Slavonic", "Grüße", "x", {'G', 'r', 0x81, 0xE1, 'e'}, {'x'}},
        {"0",
         "12345678901234567890",
         "",
         std::vector<std::uint8_t>({'1', '2', '3', '4', '5', '6', '7', '8', '9', '0',
                                    '1', '2', '3', '4', '5', '6', '7', '8', '9', '0'}),
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fontSet);
        std::string text = "command-set = 0\nlanguage = 0\nbaud = 9600\nfont-set = \"" +
                           std::string(c.fontSet) + "\"\n";
        text += c.line1.empty() ? "" : "line1 = \"" + c.line1 + "\"\n";
        text += c.line2.empty() ? "" : "line2 = \"" + c.line2 + "\"\n";
        const ProfileRead read = ReadProfile(text, "p.toml");
        ASSERT_TRUE(read.profile) << read.error;
        ASSERT_TRUE(read.profile->lines);
        for (std::size_t i = 0; i < 2; ++i) {
            std::vector<std::uint8_t> expected = i == 0 ? c.first : c.second;
            expected.resize(protocol::kLineLength, 0x20);
            const auto& line = (*read.profile->lines)[i];
            EXPECT_EQ(std::vector<std::uint8_t>(line.begin(), line.end()), expected) << i;
        }
    }
}

// Every kind of TOML string gives the same line: literal, multi-line, escaped, and
// continued after a line-ending backslash.
TEST(CliProfileTest, EveryKindOfStringGivesTheSameLine) {
    const std::string head = "command-set = 0\nfont-set = \"cp858\"\nlanguage = 0\nbaud = 0\n";
    const std::string forms[] = {
        "line1 = \"Grüße € \\\"x\\\"\"\n",
        "line1 = 'Grüße € \"x\"'\n",
        "line1 = \"Gr\\u00FC\\u00DFe \\u20AC \\\"x\\\"\"\n",
        "line1 = \"\"\"Grüße € \"x\"\"\"\"\n",
        "line1 = \"\"\"Grü\\\n   ße € \"x\"\"\"\"\n",
        "line1 = \"\"\"Grüße \\\n   € \"x\"\"\"\"\n",
        "line1 = \'\'\'Grüße € \"x\"\'\'\'\n",
    };
    std::vector<std::uint8_t> expected = {'G', 'r', 0x81, 0xE1, 'e', ' ', 0xD5, ' ', '"', 'x', '"'};
    expected.resize(protocol::kLineLength, 0x20);
    for (const std::string& form : forms) {
        SCOPED_TRACE(form);
        const ProfileRead read = ReadProfile(head + form, "p.toml");
        ASSERT_TRUE(read.profile) << read.error;
        ASSERT_TRUE(read.profile->lines);
        const auto& line = (*read.profile->lines)[0];
        EXPECT_EQ(std::vector<std::uint8_t>(line.begin(), line.end()), expected);
    }
}

TEST(CliProfileTest, ASavedProfileReadsBackAsTheDisplaysCodes) {
    const std::vector<std::uint8_t> replies[] = {
        Reply("V1.0", 0, 0, 0, 0), Reply("VYX 2.05b", 9, 17, 12, 4),
        Reply("A\"\\\x01", 3, 12, 3, 2),  // a version that needs escaping in a comment
        Reply("", 5, 16, 10, 1),          // Hebrew(ISO/IEC 8859-8): a slash in the name
    };
    for (const auto& reply : replies) {
        std::string problem;
        const auto text = ProfileTextOf(reply, "COM4 (/dev/ttyS3)", problem);
        ASSERT_TRUE(text) << problem;
        SCOPED_TRACE(*text);
        const ProfileRead read = ReadProfile(*text, "saved.toml");
        ASSERT_TRUE(read.profile) << read.error;
        EXPECT_EQ(read.profile->commandSet, reply[15]);
        EXPECT_EQ(read.profile->fontSet, reply[16]);
        EXPECT_EQ(read.profile->language, reply[17]);
        EXPECT_EQ(read.profile->baud, reply[18]);
        EXPECT_FALSE(read.profile->lines);
        EXPECT_NE(text->find("A display cannot report its text"), std::string::npos);
    }
}

TEST(CliProfileTest, NoProfileIsSavedOfACodeBeyondTheLists) {
    std::string problem;
    EXPECT_FALSE(ProfileTextOf(Reply("V1.0", 0, 0x1F, 0, 0), "COM4", problem));
    EXPECT_EQ(problem, "the display reports default font 0x1F, which is no entry of the list");
    EXPECT_FALSE(ProfileTextOf(Reply("V1.0", 0, 0, 0, 5), "COM4", problem));
    EXPECT_EQ(problem, "the display reports baud rate 0x05, which is no entry of the list");
}

ApplyResult Applied() {
    ApplyResult result;
    result.port = "COM4";
    result.changed = true;
    result.rate = 9600;
    result.before = Frame(Reply("V1.0", 0, 0, 0, 0));
    result.after = Frame(Reply("V1.0", 0, 0, 3, 4));
    result.differences = {{"language", 0, 3}, {"baud", 0, 4}};
    return result;
}

TEST(CliProfileTest, SummaryHasOneLinePerDifference) {
    ApplyResult unchanged = Applied();
    unchanged.differences.clear();
    unchanged.changed = false;
    ApplyResult check = unchanged;
    check.check = true;
    ApplyResult drift = Applied();
    drift.check = true;
    drift.changed = false;
    drift.status = 6;
    ApplyResult withText = unchanged;
    withText.textWritten = true;
    const struct {
        const char* what;
        ApplyResult result;
        std::string text;
    } cases[] = {
        {"changed", Applied(),
         "language: 0x00 (US) USA -> 0x03 (UK) England.\n"
         "baud rate: 0x00 9600 bps -> 0x04 115200 bps\n"},
        {"no change", unchanged, "no change\n"},
        {"check, matching", check, "matches the profile\n"},
        {"check, drift", drift,
         "language: 0x00 (US) USA -> 0x03 (UK) England.\n"
         "baud rate: 0x00 9600 bps -> 0x04 115200 bps\n"},
        {"lines written", withText, "no change\ntext lines written\n"},
        {"never reached", ApplyFailure("COM4", false, 3, "cannot open COM4"), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ApplySummaryText(c.result), c.text);
    }
}

TEST(CliProfileTest, JsonCarriesEveryFieldEvenForAFailure) {
    using Json = nlohmann::ordered_json;
    const Json changed = Json::parse(ApplyJson(Applied()));
    EXPECT_EQ(changed["port"], "COM4");
    EXPECT_EQ(changed["changed"], true);
    EXPECT_EQ(changed["before"]["language"], 0);
    EXPECT_EQ(changed["after"]["language"], 3);
    EXPECT_EQ(changed["after"]["language_name"], "(UK) England.");
    EXPECT_EQ(changed["after"]["baud_rate_bps"], 115200);
    EXPECT_EQ(changed["differences"],
              Json::parse(R"j([{"setting": "language", "from": 0, "from_name": "(US) USA",
                "to": 3, "to_name": "(UK) England."},
               {"setting": "baud", "from": 0, "from_name": "9600", "to": 4,
                "to_name": "115200"}])j"));
    EXPECT_EQ(changed["status"], 0);
    EXPECT_TRUE(changed["error"].is_null());
    EXPECT_EQ(changed["rate"], 9600);

    const std::string line = ApplyJson(ApplyFailure("/dev/ttyUSB0", true, 3, "cannot open it"));
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1);  // one object, one line
    EXPECT_EQ(Json::parse(line),
              Json::parse(R"j({"port": "/dev/ttyUSB0", "check": true, "changed": false,
                "before": null, "after": null, "differences": [], "text_written": false,
                "rate": null, "status": 3, "error": "cannot open it"})j"));
}

class ReplaceFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_Dir =
            std::filesystem::temp_directory_path() /
            ("vyx-replace-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_Dir);
        std::filesystem::create_directories(m_Dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_Dir); }
    std::size_t Entries() const {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(m_Dir),
                                                      std::filesystem::directory_iterator()));
    }
    static std::string Read(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::filesystem::path m_Dir;
};

TEST_F(ReplaceFileTest, ReplacesAnExistingFileWhole) {
    const auto path = (m_Dir / "shop.toml").string();
    std::ofstream(path) << "an old profile, longer than the new one\n";
    std::string error;
    ASSERT_TRUE(ReplaceFile(path, "baud = 9600\n", error)) << error;
    EXPECT_EQ(Read(path), "baud = 9600\n");
    EXPECT_EQ(Entries(), 1u);  // no temporary left behind
}

TEST_F(ReplaceFileTest, AFailureLeavesNoTemporaryAndSaysWhy) {
    // A folder that does not exist: nothing can be created.
    std::string error;
    EXPECT_FALSE(ReplaceFile((m_Dir / "missing" / "p.toml").string(), "x", error));
    EXPECT_EQ(error, "No such file or directory");
    // The target is a folder with something in it: the rename fails, the folder stays.
    std::filesystem::create_directories(m_Dir / "p.toml" / "inside");
    error.clear();
    EXPECT_FALSE(ReplaceFile((m_Dir / "p.toml").string(), "x", error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(std::filesystem::is_directory(m_Dir / "p.toml" / "inside"));
    EXPECT_EQ(Entries(), 1u);
}

}  // namespace
}  // namespace vyx::cli
