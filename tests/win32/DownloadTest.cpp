// The download hand-off's Windows parts: the record written through an unshared handle,
// and the tool started as a real child process by its name alone.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>

#include "protocol/Download.h"
#include "tests/support/TestEnvironment.h"

namespace vyx::test {
namespace {

namespace fs = std::filesystem;
using protocol::RecordWrite;

// A temporary folder, removed with everything in it. (The dialog tests' own TempDir
// comes with the dialog's headers, whose names windows.h defines as macros.)
class TempDir {
  public:
    TempDir() : m_Path(MakeTempDir()) {}
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(m_Path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& Path() const { return m_Path; }

  private:
    fs::path m_Path;
};

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Put(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

const auto kRecord = protocol::BuildDownloadRecord(3);
const std::string kRecordText(kRecord.begin(), kRecord.end());

TEST(WriteRecordFileWin32Test, AnExistingFileIsWrittenInPlaceAndNothingElseIsCreated) {
    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    const fs::path file = dir.Path() / "config.data";
    Put(file, "U,0,S,1,0\r\nmore settings\r\n");
    const auto outcome = protocol::WriteRecordFile(file.string(), kRecord);
    EXPECT_EQ(outcome.result, RecordWrite::Written) << outcome.error;
    EXPECT_EQ(Contents(file), kRecordText + "\nmore settings\r\n");

    const fs::path missing = dir.Path() / "absent.data";
    const auto absent = protocol::WriteRecordFile(missing.string(), kRecord);
    EXPECT_EQ(absent.result, RecordWrite::NotOpened);
    EXPECT_TRUE(absent.missing);
    EXPECT_NE(absent.error.find("CreateFile"), std::string::npos) << absent.error;
    EXPECT_FALSE(fs::exists(missing));

    // A folder by that name is no record file, and not a missing one either.
    fs::create_directory(dir.Path() / "folder.data");
    const auto folder = protocol::WriteRecordFile((dir.Path() / "folder.data").string(), kRecord);
    EXPECT_EQ(folder.result, RecordWrite::NotOpened);
    EXPECT_FALSE(folder.missing);
}

TEST(WriteRecordFileWin32Test, AFileAnotherProgramHasOpenIsLeftAlone) {
    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    const fs::path file = dir.Path() / "config.data";
    const std::string before = "U,0,S,1,0\r\n";
    Put(file, before);
    // Whether the other program shares the file for reading or not at all, an opening
    // without sharing is refused.
    for (const DWORD share :
         {DWORD{0}, DWORD{FILE_SHARE_READ}, DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE}}) {
        const HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        const auto outcome = protocol::WriteRecordFile(file.string(), kRecord);
        CloseHandle(held);
        EXPECT_EQ(outcome.result, RecordWrite::NotOpened) << share;
        EXPECT_FALSE(outcome.missing);
        EXPECT_NE(outcome.error.find("held by another program"), std::string::npos)
            << outcome.error;
        EXPECT_EQ(Contents(file), before);
    }
    // Let go of, it is written.
    EXPECT_EQ(protocol::WriteRecordFile(file.string(), kRecord).result, RecordWrite::Written);
}

// The stand-in tool under the tool's name in a folder of its own, found through PATH,
// and the event it sets once it has written its report.
class StartProgramWin32Test : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_Bin.Path().empty());
        ASSERT_TRUE(fs::exists(VYX_STAND_IN_TOOL)) << VYX_STAND_IN_TOOL;
        fs::copy_file(VYX_STAND_IN_TOOL, m_Bin.Path() / protocol::kProgrammingTool);
        m_Report = m_Bin.Path() / "report.txt";
        const std::string event = "vyx-stand-in-" + std::to_string(GetCurrentProcessId());
        m_Started = CreateEventA(nullptr, TRUE, FALSE, event.c_str());
        ASSERT_NE(m_Started, nullptr);
        if (const char* path = std::getenv("PATH")) {
            m_OldPath = path;
        }
        SetVariable("PATH", (m_Bin.Path().string() + ";" + m_OldPath.value_or("")).c_str());
        SetVariable("VYX_TEST_REPORT", m_Report.string().c_str());
        SetVariable("VYX_TEST_STARTED", event.c_str());
    }
    void TearDown() override {
        SetVariable("PATH", m_OldPath ? m_OldPath->c_str() : nullptr);
        SetVariable("VYX_TEST_REPORT", nullptr);
        SetVariable("VYX_TEST_STARTED", nullptr);
        if (m_Started != nullptr) {
            CloseHandle(m_Started);
        }
    }

    // The tool's report once it has run; empty when it did not start within the bound.
    std::string Report() {
        if (WaitForSingleObject(m_Started, 20'000) != WAIT_OBJECT_0) {
            return {};
        }
        return Contents(m_Report);
    }

    TempDir m_Bin;
    fs::path m_Report;
    HANDLE m_Started = nullptr;
    std::optional<std::string> m_OldPath;
};

TEST_F(StartProgramWin32Test, TheToolIsFoundThroughPathAndStartedByItsNameAlone) {
    std::string error;
    ASSERT_TRUE(protocol::StartProgram(protocol::kProgrammingTool, &error)) << error;
    const std::string report = Report();
    ASSERT_FALSE(report.empty()) << "the tool did not run";
    // No arguments: the command line is the name as given.
    EXPECT_NE(report.find(std::string("command=") + protocol::kProgrammingTool + "\n"),
              std::string::npos)
        << report;
}

TEST_F(StartProgramWin32Test, ADiscardedOutputGoesToNul) {
    std::string error;
    ASSERT_TRUE(
        protocol::StartProgram(protocol::kProgrammingTool, &error, protocol::ToolOutput::Discarded))
        << error;
    const std::string report = Report();
    ASSERT_FALSE(report.empty()) << "the tool did not run";
    // NUL is a character device; the test's own output is a pipe or a console.
    EXPECT_NE(report.find("output=" + std::to_string(FILE_TYPE_CHAR) + "\n"), std::string::npos)
        << report;
}

TEST_F(StartProgramWin32Test, AToolThatIsNowhereIsNotStartedAndSaysWhy) {
    std::string error;
    EXPECT_FALSE(protocol::StartProgram("NoSuchTool-vyx.exe", &error));
    EXPECT_NE(error.find("CreateProcess NoSuchTool-vyx.exe: "), std::string::npos) << error;
    EXPECT_NE(error.find("(error 2)"), std::string::npos) << error;  // file not found
}

}  // namespace
}  // namespace vyx::test
