// How Windows finds the host's code page: the system's ANSI code page, unless
// VYX_CODEPAGE names one it converts; the locale's environment plays no part.
#include <windows.h>

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

#include "protocol/CodePage.h"

namespace vyx::protocol {
namespace {

// Sets one variable of the C runtime's environment (where getenv reads) and puts the old
// value back. An empty value removes the variable: Windows keeps no empty ones.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const char* value) : m_Name(name) {
        if (const char* old = std::getenv(name)) {
            m_Old = old;
        }
        _putenv_s(name, value == nullptr ? "" : value);
    }
    ~ScopedEnvironment() { _putenv_s(m_Name, m_Old ? m_Old->c_str() : ""); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    const char* m_Name;
    std::optional<std::string> m_Old;
};

TEST(CodePageWindows, SystemCodePageIsTheAnsiCodePageUnlessANumberOverridesIt) {
    const CodePage ansi = GetACP();
    struct Case {
        const char* override;  // VYX_CODEPAGE; null: unset
        const char* lang;      // LANG, which Windows does not consult
        CodePage page;
    };
    const Case cases[] = {
        {nullptr, nullptr, ansi}, {nullptr, "ru_RU.UTF-8", ansi}, {"1251", nullptr, 1251},
        {"932", "ru_RU", 932},    {"cp1251", nullptr, ansi},  // a number only
        {"99999", nullptr, ansi},                             // no such code page
        {"65001", nullptr, ansi},  // UTF-8 is no code page of the display
        {"1251x", nullptr, ansi},
    };
    for (const Case& c : cases) {
        const ScopedEnvironment forced("VYX_CODEPAGE", c.override);
        const ScopedEnvironment lang("LANG", c.lang);
        EXPECT_EQ(SystemCodePage(), c.page)
            << (c.override ? c.override : "-") << " " << (c.lang ? c.lang : "-");
    }
}

TEST(CodePageWindows, AvailableIsWhatTheSystemConverts) {
    EXPECT_TRUE(CodePageAvailable(GetACP()));
    EXPECT_TRUE(CodePageAvailable(kJisX0201));  // through the shared table
    EXPECT_FALSE(CodePageAvailable(99999));
    EXPECT_FALSE(CodePageAvailable(0x10000 + 1252));  // beyond the system's numbers
}

}  // namespace
}  // namespace vyx::protocol
