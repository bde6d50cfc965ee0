// Bad input from the operator and from files: each gets a defined outcome. Operator
// text and rapid clicks are checked byte for byte on the line; config.data is never
// created and never truncated, whatever stands at its name.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>

#include "protocol/Download.h"
#include "tests/ReliabilitySupport.h"

namespace vyx::test {
namespace {

namespace fs = std::filesystem;
namespace proto = vyx::protocol;
using app::CVYX_UtilityDlg;

Bytes TextFrame(const Bytes& line1, const Bytes& line2) {
    Bytes frame{0x02, 0x29, 0x32};
    frame.insert(frame.end(), line1.begin(), line1.end());
    frame.insert(frame.end(), line2.begin(), line2.end());
    frame.push_back(0x03);
    std::uint8_t bcc = 0;
    for (std::size_t i = 1; i < frame.size(); ++i) {
        bcc ^= frame[i];
    }
    frame.push_back(bcc);
    return frame;
}

// `text` as the 20 bytes of a display line: cut, then padded with blanks.
Bytes Line20(const std::string& text) {
    Bytes line(text.begin(),
               text.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(text.size(), 20)));
    line.resize(20, ' ');
    return line;
}

using ReliabilityInputTest = ReliabilityFixture;

TEST_F(ReliabilityInputTest, EditTextsOfAnyLengthAndKindGiveExactlyOneFrame) {
    const std::string thousand = [] {
        std::string s;
        for (int i = 0; i < 1000; ++i) {
            s += static_cast<char>('a' + i % 26);
        }
        return s;
    }();
    struct Case {
        const char* what;
        std::string typed;
        Bytes line;
    };
    const std::vector<Case> cases{
        {"empty", "", Line20("")},
        {"20 characters", "ABCDEFGHIJKLMNOPQRST", Line20("ABCDEFGHIJKLMNOPQRST")},
        {"21 characters", "ABCDEFGHIJKLMNOPQRSTU", Line20("ABCDEFGHIJKLMNOPQRST")},
        {"1000 characters", thousand, Line20(thousand)},
        // Control characters are text like any other: they go out as they are.
        {"control characters",
         "\t\r\n\x01\x1B\x7F"
         "end",
         Line20("\t\r\n\x01\x1B\x7F"
                "end")},
        {"STX and ETX typed", "\x02\x03", Line20("\x02\x03")},
        // Hangul has no Windows-1252 form: one '?' per character, not per byte.
        {"Hangul", "\xEC\x95\x88\xEB\x85\x95", Line20("??")},
        {"Greek and euro",
         "\xCE\xA9 \xE2\x82\xAC"
         "5",
         {'?', ' ', 0x80, '5', ' ', ' ', ' ', ' ', ' ', ' ',
          ' ', ' ', ' ',  ' ', ' ', ' ', ' ', ' ', ' ', ' '}},
        {"20 accented characters (40 bytes typed)",
         [] {
             std::string s;
             for (int i = 0; i < 25; ++i) {
                 s += "\xC3\xA9";
             }
             return s;
         }(),
         Bytes(20, 0xE9)},
        {"broken UTF-8",
         "a\xE2\x82"
         "b\xFF"
         "c",
         Line20("a?b?c")},
    };
    OpenCom1();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_Fake.Type(res::IDC_LINE1, c.typed);
        m_Fake.Type(res::IDC_LINE2, c.typed);
        m_Fake.Click(res::IDC_INPUT_STRING);
        EXPECT_EQ(Line(45), TextFrame(c.line, c.line));
    }
    EXPECT_TRUE(QueuedNothingMore().empty());
    EXPECT_TRUE(m_Fake.Boxes().empty());
}

// Every command button pressed 25 times as fast as the window delivers the clicks: one
// frame per press, in order, nothing else on the line; "Port Open" and "Close" act once.
TEST_F(ReliabilityInputTest, RapidRepeatedClicksPutExactlyOneFramePerPress) {
    constexpr int kPresses = 25;
    for (int i = 0; i < kPresses; ++i) {
        m_Fake.Select(res::IDC_COM_PORT, 0);
        m_Fake.Select(res::IDC_CURRENT_BAUD, 4);
        m_Fake.Click(res::IDC_PORT_OPEN);
    }
    ASSERT_EQ(m_Dlg->m_Comm.m_bConnected.load(), 1);
    EXPECT_EQ(m_Dlg->m_Comm.SuccessfulOpens(), 1u);
    EXPECT_TRUE(m_Fake.Boxes().empty());

    m_Fake.Select(res::IDC_NEW_BAUD, 2);
    m_Fake.Select(res::IDC_COMMAND_SET, 3);
    m_Fake.Select(res::IDC_DEFAULT_FONT, 5);
    m_Fake.Select(res::IDC_LANGUAGE, 7);
    m_Fake.Type(res::IDC_LINE1, "fast");
    const bool blockFirst = CVYX_UtilityDlg::CellTestToggle();
    const struct {
        int button;
        Bytes frame;
    } buttons[] = {
        {res::IDC_CHANGE_BAUD, {0x02, 0x02, 0x33, 0x02, 0x03, 0x30}},
        {res::IDC_SET_COMMAND_SET, {0x02, 0x02, 0x34, 0x03, 0x03, 0x36}},
        {res::IDC_SET_DEFAULT_FONT, {0x02, 0x02, 0x35, 0x05, 0x03, 0x31}},
        {res::IDC_FONT_SET, {0x02, 0x02, 0x36, 0x07, 0x03, 0x30}},
        {res::IDC_INPUT_STRING, TextFrame(Line20("fast"), Line20(""))},
        {res::IDC_INFORMATION, {0x02, 0x01, 0x44, 0x03, 0x46}},
    };
    Bytes expected;
    for (const auto& b : buttons) {
        for (int i = 0; i < kPresses; ++i) {
            m_Fake.Click(b.button);
            expected.insert(expected.end(), b.frame.begin(), b.frame.end());
        }
    }
    // The cell test alternates its two raw patterns press by press.
    bool block = blockFirst;
    for (int i = 0; i < kPresses; ++i) {
        m_Fake.Click(res::IDC_CELL_TEST);
        expected.insert(expected.end(), 40, block ? 0xDB : 0x20);
        block = !block;
    }
    EXPECT_EQ(Line(expected.size()), expected);
    EXPECT_TRUE(QueuedNothingMore().empty());

    for (int i = 0; i < kPresses; ++i) {
        m_Fake.Click(res::IDC_CLOSE);
    }
    ASSERT_EQ(m_Fake.Boxes().size(), 1u);
    EXPECT_EQ(m_Fake.Boxes()[0].text, "Com port closed !");
    EXPECT_EQ(m_Dlg->m_Comm.RunningWatchers(), 0);
}

// --- config.data ---------------------------------------------------------------------

class ConfigFileTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(m_Dir.Path().empty()); }
    fs::path At(const char* name) const { return m_Dir.Path() / name; }

    static void Put(const fs::path& path, const Bytes& bytes) {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    static std::optional<Bytes> Get(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            return std::nullopt;
        }
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    static proto::RecordWrite Write(const fs::path& path) {
        std::string error;
        return proto::WriteDownloadRecord(path.string(), proto::BuildDownloadRecord(3), &error);
    }
    static Bytes Old(std::size_t n) { return Bytes(n, 0x5A); }
    // The record over the first ten bytes, the rest as it was.
    static Bytes Patched(const Bytes& old) {
        const auto record = proto::BuildDownloadRecord(3);
        Bytes out = old;
        std::copy(record.begin(), record.end(), out.begin());
        return out;
    }

    TempDir m_Dir;
};

TEST_F(ConfigFileTest, ReadOnlyFileIsLeftAsItIs) {
    Put(At("config.data"), Old(16));
    ASSERT_EQ(::chmod(At("config.data").c_str(), 0444), 0);
    if (::access(At("config.data").c_str(), W_OK) == 0) {
        GTEST_SKIP() << "running with privileges that write read-only files";
    }
    EXPECT_EQ(Write(At("config.data")), proto::RecordWrite::NotOpened);
    EXPECT_EQ(Get(At("config.data")), Old(16));
}

// A link is followed as any program would: an existing regular file behind it is
// written in place; a dangling link creates nothing, a link to a directory writes nothing.
TEST_F(ConfigFileTest, SymbolicLinksAreFollowedButNeverCreateOrTruncate) {
    Put(At("real.data"), Old(30));
    fs::create_symlink(At("real.data"), At("config.data"));
    EXPECT_EQ(Write(At("config.data")), proto::RecordWrite::Written);
    EXPECT_EQ(Get(At("real.data")), Patched(Old(30)));
    EXPECT_TRUE(fs::is_symlink(At("config.data")));

    fs::create_symlink(At("missing.data"), At("dangling"));
    EXPECT_EQ(Write(At("dangling")), proto::RecordWrite::NotOpened);
    EXPECT_FALSE(fs::exists(At("missing.data")));

    fs::create_directory(At("dir"));
    fs::create_symlink(At("dir"), At("to-dir"));
    EXPECT_EQ(Write(At("to-dir")), proto::RecordWrite::NotOpened);
    EXPECT_TRUE(fs::is_empty(At("dir")));
}

// Locked by another process (not merely another descriptor of this one): refused while
// the lock is held, and the file keeps its bytes.
TEST_F(ConfigFileTest, LockedByAnotherProcessIsRefusedUntouched) {
    Put(At("config.data"), Old(12));
    int ready[2];
    int release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        const int fd = ::open(At("config.data").c_str(), O_RDONLY);
        const char ok = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
        (void)!::write(ready[1], &ok, 1);
        char c;
        (void)!::read(release[0], &c, 1);
        ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');
    EXPECT_EQ(Write(At("config.data")), proto::RecordWrite::NotOpened);
    EXPECT_EQ(Get(At("config.data")), Old(12));
    (void)!::write(release[1], "x", 1);
    int status = 0;
    ASSERT_EQ(::waitpid(holder, &status, 0), holder);
    for (const int fd : {ready[0], ready[1], release[0], release[1]}) {
        ::close(fd);
    }
    EXPECT_EQ(Write(At("config.data")), proto::RecordWrite::Written);
}

// A small tmpfs filled to the last block: a file that already has room for the record
// is written in place; one that would have to grow fails and keeps its bytes; a missing
// one is not created. Needs the right to mount; skipped otherwise.
TEST_F(ConfigFileTest, FullFileSystemFailsCleanlyOrWritesInPlace) {
    const fs::path mnt = At("small");
    fs::create_directory(mnt);
    if (::mount("vyx-test", mnt.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    }
    struct Unmount {
        fs::path path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{mnt};
    Put(mnt / "roomy.data", Old(30));
    Put(mnt / "short.data", Old(4));
    {
        // Fill every remaining block.
        const int fd = ::open((mnt / "filler").c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        const Bytes block(4096, 0xFF);
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        ::close(fd);
    }
    EXPECT_EQ(Write(mnt / "roomy.data"), proto::RecordWrite::Written);
    EXPECT_EQ(Get(mnt / "roomy.data"), Patched(Old(30)));
    // tmpfs gives a short file a whole page: the write fits there too, and only the
    // record's ten bytes are added.
    const auto shortResult = Write(mnt / "short.data");
    const auto shortNow = Get(mnt / "short.data");
    ASSERT_TRUE(shortNow.has_value());
    if (shortResult == proto::RecordWrite::Written) {
        const auto record = proto::BuildDownloadRecord(3);
        EXPECT_EQ(*shortNow, Bytes(record.begin(), record.end()));
    } else {
        EXPECT_EQ(shortResult, proto::RecordWrite::WriteFailed);
        EXPECT_EQ(
            shortNow->size() >= 4 ? Bytes(shortNow->begin(), shortNow->begin() + 4) : *shortNow,
            Old(4));
    }
    EXPECT_EQ(Write(mnt / "config.data"), proto::RecordWrite::NotOpened);
    EXPECT_FALSE(fs::exists(mnt / "config.data"));

    // Read-only, even for a privileged user.
    ASSERT_EQ(::mount(nullptr, mnt.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    EXPECT_EQ(Write(mnt / "roomy.data"), proto::RecordWrite::NotOpened);
    EXPECT_EQ(Get(mnt / "roomy.data"), Patched(Old(30)));
}

}  // namespace
}  // namespace vyx::test
