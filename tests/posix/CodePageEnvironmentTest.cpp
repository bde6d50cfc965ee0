// How POSIX systems find the host's code page: from the locale's environment, unless
// VYX_CODEPAGE names one. Windows asks the system instead (tests/win32/).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

#include "protocol/CodePage.h"

namespace vyx::protocol {
namespace {

// Sets the environment of one case and puts the old one back.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const char* value) : m_Name(name) {
        if (const char* old = ::getenv(name)) {
            m_Old = old;
        }
        if (value == nullptr) {
            ::unsetenv(name);
        } else {
            ::setenv(name, value, 1);
        }
    }
    ~ScopedEnvironment() {
        if (m_Old) {
            ::setenv(m_Name, m_Old->c_str(), 1);
        } else {
            ::unsetenv(m_Name);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    const char* m_Name;
    std::optional<std::string> m_Old;
};

TEST(CodePage, SystemCodePageFromTheEnvironment) {
    struct Case {
        const char* override;  // VYX_CODEPAGE; null: unset
        const char* lcAll;
        const char* lcCtype;
        const char* lang;
        CodePage page;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, nullptr, 1252},
        {nullptr, nullptr, nullptr, "ru_RU.UTF-8", 1251},
        {nullptr, nullptr, "ja_JP.UTF-8", "ru_RU.UTF-8", 932},
        {nullptr, "el_GR.UTF-8", "ja_JP.UTF-8", "ru_RU.UTF-8", 1253},
        {nullptr, "", "", "ko_KR.UTF-8", 949},
        {"1251", "en_US.UTF-8", nullptr, nullptr, 1251},
        {"936", nullptr, nullptr, "ru_RU", 936},
        {"", nullptr, nullptr, "pl_PL", 1250},
        {"cp1251", nullptr, nullptr, "pl_PL", 1250},  // a number only
        {"99999", nullptr, nullptr, "pl_PL", 1250},   // no such code page
        {"1251x", nullptr, nullptr, "pl_PL", 1250},
    };
    for (const Case& c : cases) {
        const ScopedEnvironment forced("VYX_CODEPAGE", c.override);
        const ScopedEnvironment all("LC_ALL", c.lcAll);
        const ScopedEnvironment ctype("LC_CTYPE", c.lcCtype);
        const ScopedEnvironment lang("LANG", c.lang);
        EXPECT_EQ(SystemCodePage(), c.page)
            << (c.override ? c.override : "-") << " " << (c.lcAll ? c.lcAll : "-") << " "
            << (c.lcCtype ? c.lcCtype : "-") << " " << (c.lang ? c.lang : "-");
    }
}

}  // namespace
}  // namespace vyx::protocol
