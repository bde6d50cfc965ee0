#include "protocol/CodePage.h"

#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <string>

#include "resources/Lists.h"

namespace vyx::protocol {
namespace {

TEST(CodePage, AnsiCodePageOfEachLocale) {
    struct Case {
        const char* locale;
        CodePage page;
    };
    const Case cases[] = {
        {"", 1252},
        {"C", 1252},
        {"POSIX", 1252},
        {"C.UTF-8", 1252},
        {"en_US.UTF-8", 1252},
        {"de_DE@euro", 1252},
        {"pt_BR", 1252},
        {"hi_IN.UTF-8", 1252},  // served in Unicode only
        {"xx_YY", 1252},
        {"pl_PL.UTF-8", 1250},
        {"cs_CZ", 1250},
        {"hu_HU.ISO-8859-2", 1250},
        {"sr_RS.UTF-8@latin", 1250},
        {"ru_RU.UTF-8", 1251},
        {"ru", 1251},
        {"RU_ru", 1251},
        {"uk_UA.KOI8-U", 1251},
        {"bg_BG", 1251},
        {"sr_RS.UTF-8", 1251},
        {"uz_UZ.UTF-8@cyrillic", 1251},
        {"el_GR.UTF-8", 1253},
        {"tr_TR.UTF-8", 1254},
        {"az_AZ", 1254},
        {"uz_UZ", 1254},
        {"he_IL.UTF-8", 1255},
        {"ar_EG.UTF-8", 1256},
        {"fa_IR", 1256},
        {"lt_LT", 1257},
        {"lv_LV.UTF-8", 1257},
        {"et_EE", 1257},
        {"vi_VN", 1258},
        {"th_TH.UTF-8", 874},
        {"ja_JP.eucJP", 932},
        {"zh_CN.GB18030", 936},
        {"zh_SG.UTF-8", 936},
        {"zh", 936},
        {"ko_KR.UTF-8", 949},
        {"zh_TW.UTF-8", 950},
        {"zh_HK", 950},
        {"zh_MO.UTF-8", 950},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AnsiCodePageOfLocale(c.locale), c.page) << c.locale;
    }
}

TEST(CodePage, TheFirstSetOfLcAllLcCtypeLangGoverns) {
    EXPECT_EQ(CharacterTypeLocale("el_GR", "ru_RU", "ja_JP"), "el_GR");
    EXPECT_EQ(CharacterTypeLocale("", "ru_RU", "ja_JP"), "ru_RU");
    EXPECT_EQ(CharacterTypeLocale(nullptr, nullptr, "ja_JP"), "ja_JP");
    EXPECT_EQ(CharacterTypeLocale(nullptr, "", ""), "");
}

TEST(CodePage, NamesAndNumbers) {
    struct Case {
        const char* name;
        std::optional<CodePage> page;
    };
    const Case cases[] = {
        {"1251", 1251},
        {"cp858", 858},
        {"CP-437", 437},
        {"Windows-1251", 1251},
        {"ibm866", 866},
        {"iso-8859-8", 28598},
        {"ISO8859-1", 28591},
        {"jis_x0201", kJisX0201},
        {"JIS-X0201", kJisX0201},
        {"auto", std::nullopt},
        {"", std::nullopt},
        {"cp", std::nullopt},
        {"0", std::nullopt},
        {"123456", std::nullopt},
        {"iso-8859-17", std::nullopt},
        {"windows-12a", std::nullopt},
        {"-1251", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseCodePage(c.name), c.page) << c.name;
    }
    EXPECT_EQ(CodePageName(1251), "CP1251");
    EXPECT_EQ(CodePageName(28598), "ISO-8859-8");
    EXPECT_EQ(CodePageName(kJisX0201), "JIS_X0201");
}

// The number a font set's name carries ("Euro(CP-858)", "Hebrew(CP862)",
// "Russian(Windows-1251)", "Hebrew(ISO/IEC 8859-8)"), or nullopt.
std::optional<CodePage> NumberInName(std::string_view name) {
    const std::size_t digit = name.find_first_of("0123456789");
    if (digit == std::string_view::npos) {
        return std::nullopt;
    }
    std::size_t end = digit;
    while (end < name.size() && std::isdigit(static_cast<unsigned char>(name[end])) != 0) {
        ++end;
    }
    if (name.substr(digit, end - digit) == "8859") {
        return 28590 + static_cast<CodePage>(std::stoul(std::string(name.substr(end + 1))));
    }
    return static_cast<CodePage>(std::stoul(std::string(name.substr(digit, end - digit))));
}

TEST(CodePage, EachFontSetIsTheCodePageItsNameCarries) {
    const auto& names = resources::kDefaultFontEntries;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto page = FontSetCodePage(static_cast<std::uint8_t>(i));
        if (names[i] == "Katakana") {
            EXPECT_EQ(page, kJisX0201);
        } else {
            EXPECT_EQ(page, NumberInName(names[i])) << names[i];
        }
    }
    EXPECT_EQ(FontSetCodePage(static_cast<std::uint8_t>(names.size())), std::nullopt);
    EXPECT_EQ(FontSetCodePage(0xFF), std::nullopt);
}

TEST(CodePage, EveryCodePageTheProgramChoosesIsAvailable) {
    for (const char* locale : {"C", "pl", "ru", "el", "tr", "he", "ar", "lt", "vi", "th", "ja",
                               "zh_CN", "ko", "zh_TW"}) {
        EXPECT_TRUE(CodePageAvailable(AnsiCodePageOfLocale(locale))) << locale;
    }
    for (std::size_t i = 0; i < resources::kDefaultFontEntries.size(); ++i) {
        const auto font = static_cast<std::uint8_t>(i);
        EXPECT_TRUE(CodePageAvailable(FontSetCodePage(font).value_or(kFontSetFallback))) << i;
    }
    EXPECT_FALSE(CodePageAvailable(99999));
}

TEST(CodePage, JisX0201BothWays) {
    EXPECT_EQ(JisX0201ToUnicode(0x5C), U'\u00A5');
    EXPECT_EQ(JisX0201ToUnicode(0x7E), U'\u203E');
    EXPECT_EQ(JisX0201ToUnicode('A'), U'A');
    EXPECT_EQ(JisX0201ToUnicode(0xA1), U'\uFF61');
    EXPECT_EQ(JisX0201ToUnicode(0xDF), U'\uFF9F');
    EXPECT_EQ(JisX0201ToUnicode(0x80), 0U);
    EXPECT_EQ(JisX0201ToUnicode(0xE0), 0U);
    int characters = 0;
    for (unsigned b = 1; b < 256; ++b) {
        const char32_t c = JisX0201ToUnicode(static_cast<std::uint8_t>(b));
        if (c != 0) {
            ++characters;
            EXPECT_EQ(UnicodeToJisX0201(c), b) << b;
        }
    }
    EXPECT_EQ(characters, 127 + 63);
    EXPECT_EQ(UnicodeToJisX0201(U'\\'), std::nullopt);
    EXPECT_EQ(UnicodeToJisX0201(U'~'), std::nullopt);
    EXPECT_EQ(UnicodeToJisX0201(U'\u30A2'), std::nullopt);  // full-width katakana A
}

}  // namespace
}  // namespace vyx::protocol
