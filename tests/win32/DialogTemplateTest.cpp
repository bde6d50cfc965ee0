// The in-memory dialog templates of the Windows dialog: the bytes read back field by
// field against the resource tables, and handed to the dialog manager itself.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/win32/DialogTemplate.h"
#include "app/win32/Win32Api.h"
#include "resources/Templates.h"

namespace vyx::test {
namespace {

namespace res = vyx::resources;
using app::win32::BuildDialogTemplate;

constexpr int kIconId = 128;

// A text or an ordinal, as a template holds a class, a title or a menu.
struct SzOrOrd {
    bool ordinal = false;
    std::uint16_t value = 0;
    std::u16string text;
};

struct Item {
    std::size_t offset = 0;
    std::uint32_t exStyle = 0;
    std::uint32_t style = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;
    std::uint32_t id = 0;
    SzOrOrd windowClass;
    SzOrOrd title;
    std::uint16_t extra = 0;
};

struct Parsed {
    std::uint16_t version = 0, signature = 0;
    std::uint32_t exStyle = 0, style = 0;
    std::uint16_t count = 0;
    std::int16_t cx = 0, cy = 0;
    SzOrOrd menu, windowClass;
    std::u16string title;
    std::uint16_t pointSize = 0, weight = 0;
    std::uint8_t italic = 0, charset = 0;
    std::u16string face;
    std::vector<Item> items;
    bool overrun = false;
    std::size_t end = 0;
};

// Reads a DLGTEMPLATEEX the way the dialog manager does; `overrun` when it runs past
// the end of the bytes.
class Reader {
  public:
    explicit Reader(const std::vector<std::uint8_t>& bytes) : m_Bytes(bytes) {}
    template <typename T>
    T Get() {
        T value{};
        if (m_Pos + sizeof value > m_Bytes.size()) {
            m_Overrun = true;
            return value;
        }
        std::memcpy(&value, m_Bytes.data() + m_Pos, sizeof value);
        m_Pos += sizeof value;
        return value;
    }
    std::u16string Text() {
        std::u16string text;
        for (auto unit = Get<std::uint16_t>(); unit != 0 && !m_Overrun;
             unit = Get<std::uint16_t>()) {
            text.push_back(static_cast<char16_t>(unit));
        }
        return text;
    }
    SzOrOrd SzOrOrdinal() {
        SzOrOrd out;
        const auto first = Get<std::uint16_t>();
        if (first == 0xFFFF) {
            out.ordinal = true;
            out.value = Get<std::uint16_t>();
        } else if (first != 0) {
            out.text.push_back(static_cast<char16_t>(first));
            out.text += Text();
        }
        return out;
    }
    void AlignToDword() { m_Pos = (m_Pos + 3) & ~std::size_t{3}; }
    std::size_t Pos() const { return m_Pos; }
    bool Overrun() const { return m_Overrun; }

  private:
    const std::vector<std::uint8_t>& m_Bytes;
    std::size_t m_Pos = 0;
    bool m_Overrun = false;
};

Parsed Parse(const std::vector<std::uint8_t>& bytes) {
    Reader in(bytes);
    Parsed p;
    p.version = in.Get<std::uint16_t>();
    p.signature = in.Get<std::uint16_t>();
    in.Get<std::uint32_t>();  // help id
    p.exStyle = in.Get<std::uint32_t>();
    p.style = in.Get<std::uint32_t>();
    p.count = in.Get<std::uint16_t>();
    in.Get<std::int16_t>();
    in.Get<std::int16_t>();
    p.cx = in.Get<std::int16_t>();
    p.cy = in.Get<std::int16_t>();
    p.menu = in.SzOrOrdinal();
    p.windowClass = in.SzOrOrdinal();
    p.title = in.Text();
    if ((p.style & DS_SETFONT) != 0) {
        p.pointSize = in.Get<std::uint16_t>();
        p.weight = in.Get<std::uint16_t>();
        p.italic = in.Get<std::uint8_t>();
        p.charset = in.Get<std::uint8_t>();
        p.face = in.Text();
    }
    for (std::uint16_t i = 0; i < p.count && !in.Overrun(); ++i) {
        in.AlignToDword();
        Item item;
        item.offset = in.Pos();
        in.Get<std::uint32_t>();  // help id
        item.exStyle = in.Get<std::uint32_t>();
        item.style = in.Get<std::uint32_t>();
        item.x = in.Get<std::int16_t>();
        item.y = in.Get<std::int16_t>();
        item.cx = in.Get<std::int16_t>();
        item.cy = in.Get<std::int16_t>();
        item.id = in.Get<std::uint32_t>();
        item.windowClass = in.SzOrOrdinal();
        item.title = in.SzOrOrdinal();
        item.extra = in.Get<std::uint16_t>();
        p.items.push_back(item);
    }
    p.overrun = in.Overrun();
    p.end = in.Pos();
    return p;
}

std::u16string U16(std::string_view utf8) {
    return app::win32::Utf8ToUtf16(utf8);
}

struct DialogCase {
    const char* name;
    const res::DialogTemplate* dialog;
    std::uint32_t styleWanted;
    std::uint32_t styleRefused;
    std::uint32_t exStyle;
};

const DialogCase kDialogs[] = {
    {"main", &res::kMainDialogTemplate,
     WS_POPUP | DS_SETFONT | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME | DS_CENTER,
     WS_MAXIMIZEBOX | WS_THICKFRAME | WS_VISIBLE, WS_EX_APPWINDOW},
    {"about", &res::kAboutDialogTemplate,
     WS_POPUP | DS_SETFONT | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
     WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME | WS_VISIBLE, 0},
};

class DialogTemplateTest : public ::testing::TestWithParam<DialogCase> {};

TEST_P(DialogTemplateTest, TheHeaderCarriesTheTablesWindowStylesSizeTitleAndFont) {
    const DialogCase& c = GetParam();
    const auto bytes = BuildDialogTemplate(*c.dialog, kIconId);
    const Parsed p = Parse(bytes);
    ASSERT_FALSE(p.overrun);
    EXPECT_EQ(p.end, bytes.size()) << "bytes left after the last control";
    EXPECT_EQ(p.version, 1);
    EXPECT_EQ(p.signature, 0xFFFF);
    EXPECT_EQ(p.style & c.styleWanted, c.styleWanted);
    EXPECT_EQ(p.style & c.styleRefused, 0u);
    EXPECT_EQ(p.exStyle, c.exStyle);
    EXPECT_EQ(p.count, c.dialog->controls.size());
    EXPECT_EQ(p.cx, c.dialog->width);
    EXPECT_EQ(p.cy, c.dialog->height);
    EXPECT_FALSE(p.menu.ordinal || !p.menu.text.empty()) << "no menu";
    EXPECT_FALSE(p.windowClass.ordinal || !p.windowClass.text.empty()) << "the dialog class";
    EXPECT_EQ(p.title, U16(c.dialog->title));
    EXPECT_EQ(p.pointSize, c.dialog->pointSize);
    EXPECT_EQ(p.weight, FW_NORMAL);
    EXPECT_EQ(p.italic, 0);
    EXPECT_EQ(p.face, U16(c.dialog->face));
}

TEST_P(DialogTemplateTest, EachControlKeepsItsIdClassTextPositionTabStopAndEnableState) {
    const res::DialogTemplate& dialog = *GetParam().dialog;
    const Parsed p = Parse(BuildDialogTemplate(dialog, kIconId));
    ASSERT_EQ(p.items.size(), dialog.controls.size());
    for (std::size_t i = 0; i < p.items.size(); ++i) {
        const res::ControlTemplate& want = dialog.controls[i];
        const Item& got = p.items[i];
        SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(want.id));
        EXPECT_EQ(got.offset % 4, 0u) << "each item starts on a DWORD";
        EXPECT_EQ(got.id, static_cast<std::uint32_t>(want.id));
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.w);
        EXPECT_EQ(got.cy, want.h);
        EXPECT_EQ(got.style & (WS_CHILD | WS_VISIBLE), static_cast<DWORD>(WS_CHILD | WS_VISIBLE));
        EXPECT_EQ((got.style & WS_TABSTOP) != 0, want.tabStop);
        EXPECT_EQ((got.style & WS_DISABLED) != 0, !want.enabled);
        EXPECT_EQ(got.exStyle, 0u);
        EXPECT_EQ(got.extra, 0);
        ASSERT_TRUE(got.windowClass.ordinal);
        if (want.kind == res::ControlKind::Icon) {
            EXPECT_TRUE(got.title.ordinal);
            EXPECT_EQ(got.title.value, kIconId);
        } else {
            EXPECT_FALSE(got.title.ordinal);
            EXPECT_EQ(got.title.text, U16(want.text));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Templates, DialogTemplateTest, ::testing::ValuesIn(kDialogs),
                         [](const auto& param) { return std::string(param.param.name); });

// What each kind of control must be for the dialog manager: class and the style bits
// that make it what the layout says (drop-down combo with an editable field, unsorted,
// with a scroll bar; bordered edit box that scrolls; plain left-aligned label).
struct KindCase {
    res::ControlKind kind;
    std::uint16_t windowClass;
    std::uint32_t typeMask;
    std::uint32_t type;
    std::uint32_t wanted;
    std::uint32_t refused;
};

const KindCase kKinds[] = {
    {res::ControlKind::PushButton, 0x0080, BS_TYPEMASK, BS_PUSHBUTTON, 0, 0},
    {res::ControlKind::DefPushButton, 0x0080, BS_TYPEMASK, BS_DEFPUSHBUTTON, 0, 0},
    {res::ControlKind::GroupBox, 0x0080, BS_TYPEMASK, BS_GROUPBOX, 0, 0},
    {res::ControlKind::ComboBox, 0x0085, 0x3, CBS_DROPDOWN, WS_VSCROLL,
     CBS_SORT | CBS_OWNERDRAWFIXED | CBS_OWNERDRAWVARIABLE},
    {res::ControlKind::EditBox, 0x0081, ES_CENTER | ES_RIGHT, ES_LEFT, WS_BORDER | ES_AUTOHSCROLL,
     ES_MULTILINE | ES_READONLY | ES_NUMBER | ES_PASSWORD},
    {res::ControlKind::Label, 0x0082, SS_TYPEMASK, SS_LEFT, 0, 0},
    {res::ControlKind::Icon, 0x0082, SS_TYPEMASK, SS_ICON, 0, 0},
};

TEST(DialogTemplateKindsTest, EveryControlGetsTheClassAndStylesOfItsKind) {
    int checked = 0;
    for (const res::DialogTemplate* dialog :
         {&res::kMainDialogTemplate, &res::kAboutDialogTemplate}) {
        const Parsed p = Parse(BuildDialogTemplate(*dialog, kIconId));
        ASSERT_EQ(p.items.size(), dialog->controls.size());
        for (std::size_t i = 0; i < p.items.size(); ++i) {
            const res::ControlTemplate& control = dialog->controls[i];
            for (const KindCase& k : kKinds) {
                if (k.kind != control.kind) {
                    continue;
                }
                SCOPED_TRACE(std::string(dialog->title) + " control " + std::to_string(i));
                const Item& got = p.items[i];
                EXPECT_EQ(got.windowClass.value, k.windowClass);
                EXPECT_EQ(got.style & k.typeMask, k.type);
                EXPECT_EQ(got.style & k.wanted, k.wanted);
                EXPECT_EQ(got.style & k.refused, 0u);
                if (control.kind == res::ControlKind::Label) {
                    EXPECT_EQ((got.style & SS_NOPREFIX) != 0,
                              (control.style & res::kNoPrefix) != 0);
                }
                ++checked;
            }
        }
    }
    EXPECT_EQ(checked, static_cast<int>(res::kMainDialogTemplate.controls.size() +
                                        res::kAboutDialogTemplate.controls.size()))
        << "a control kind without a case";
}

TEST(DialogTemplateTest, AFaceLeftEmptyIsTheSystemsDialogFace) {
    res::DialogTemplate dialog = res::kAboutDialogTemplate;
    dialog.face = "";
    EXPECT_EQ(Parse(BuildDialogTemplate(dialog, kIconId)).face, u"MS Shell Dlg");
}

TEST(DialogTemplateTest, AnIconControlNamesTheIconResourceItIsGiven) {
    const Parsed p = Parse(BuildDialogTemplate(res::kAboutDialogTemplate, 321));
    ASSERT_FALSE(p.items.empty());
    EXPECT_TRUE(p.items[0].title.ordinal);
    EXPECT_EQ(p.items[0].title.value, 321);
}

TEST(ApplicationTitleTest, IsTheModulesFileNameWithoutFolderAndExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\Program Files\\VYX\\VYX_Utility.exe", "VYX_Utility"},
        {"Z:/build/VYX_Utility.EXE", "VYX_Utility"},
        {"VYX_Utility.exe", "VYX_Utility"},
        {"C:VYX_Utility.exe", "VYX_Utility"},
        {"C:\\tools.d\\prog", "prog"},
        {"C:\\x\\my.tool.exe", "my.tool"},
        {"C:\\x\\.hidden", ".hidden"},
    };
    for (const auto& [path, title] : cases) {
        EXPECT_EQ(app::win32::TitleFromModulePath(path), title) << path;
    }
}

TEST(ApplicationTitleTest, OfThisProgramIsItsOwnName) {
    EXPECT_EQ(app::win32::ApplicationTitle(), "dialog_template_tests");
}

TEST(Utf16Test, TextSurvivesTheRoundTripAndInvalidBytesBecomeReplacementCharacters) {
    for (const char* text : {"", "Line#1", "\xc3\xa9t\xc3\xa9 \xe2\x82\xac",
                             "\xea\xb5\xb4\xeb\xa6\xbc", "\xf0\x9f\x98\x80"}) {
        EXPECT_EQ(app::win32::Utf16ToUtf8(app::win32::Utf8ToUtf16(text)), text);
    }
    EXPECT_EQ(app::win32::Utf8ToUtf16("\xea\xb5\xb4"), u"\uAD74");
    EXPECT_EQ(app::win32::Utf8ToUtf16("a\xff"
                                      "b"),
              u"a\uFFFDb");
}

}  // namespace
}  // namespace vyx::test
