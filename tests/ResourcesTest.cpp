// The dialog templates and the icon checked against themselves: every control where its
// group box frames it, every id once, the icon images what they claim to be. A slip in
// a table shows up here rather than as a misplaced control on the screen.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>

#include "resources/ControlIds.h"
#include "resources/Icon.h"
#include "resources/Templates.h"

namespace vyx::resources {
namespace {

const DialogTemplate* const kTemplates[] = {&kMainDialogTemplate, &kAboutDialogTemplate};

const ControlTemplate* FindGroupBox(const DialogTemplate& dialog, std::string_view text) {
    const ControlTemplate* found = nullptr;
    for (const ControlTemplate& control : dialog.controls) {
        if (control.kind == ControlKind::GroupBox && control.text == text) {
            EXPECT_EQ(found, nullptr) << "two group boxes read \"" << text << "\"";
            found = &control;
        }
    }
    return found;
}

TEST(Templates, EveryControlLiesInsideItsDialogAndItsGroupBox) {
    for (const DialogTemplate* dialog : kTemplates) {
        for (const ControlTemplate& control : dialog->controls) {
            SCOPED_TRACE(std::to_string(dialog->id) + ": " + std::to_string(control.id) + " \"" +
                         std::string(control.text) + "\"");
            // A combo box's height includes its dropped list, which may overhang.
            const int height = control.kind == ControlKind::ComboBox ? 13 : control.h;
            EXPECT_GE(control.x, 0);
            EXPECT_GE(control.y, 0);
            EXPECT_LE(control.x + control.w, dialog->width);
            EXPECT_LE(control.y + height, dialog->height);
            if (control.group.empty()) {
                continue;
            }
            const ControlTemplate* group = FindGroupBox(*dialog, control.group);
            ASSERT_NE(group, nullptr) << "no group box \"" << control.group << "\"";
            EXPECT_NE(group, &control);
            EXPECT_GE(control.x, group->x);
            EXPECT_GE(control.y, group->y);
            EXPECT_LE(control.x + control.w, group->x + group->w);
            EXPECT_LE(control.y + height, group->y + group->h);
        }
    }
}

TEST(Templates, EveryIdOnceAndEveryNamedControlPresent) {
    for (const DialogTemplate* dialog : kTemplates) {
        std::set<int> ids;
        for (const ControlTemplate& control : dialog->controls) {
            if (control.id >= 0) {
                EXPECT_TRUE(ids.insert(control.id).second) << "id " << control.id << " twice";
            }
            EXPECT_EQ(FindControl(*dialog, control.id) == &control, control.id >= 0);
            EXPECT_EQ(control.entries.empty() || control.kind == ControlKind::ComboBox, true)
                << control.id;
        }
    }
    const int named[] = {IDC_PORT_OPEN,
                         IDC_CHANGE_BAUD,
                         IDC_INPUT_STRING,
                         IDC_SET_COMMAND_SET,
                         IDC_SET_DEFAULT_FONT,
                         IDC_INFORMATION,
                         IDC_PROGRAM_DOWNLOAD,
                         IDC_EXIT,
                         IDC_CLOSE,
                         IDC_CURRENT_BAUD,
                         IDC_NEW_BAUD,
                         IDC_COM_PORT,
                         IDC_COMMAND_SET,
                         IDC_DEFAULT_FONT,
                         IDC_LINE1,
                         IDC_LANGUAGE_GROUP,
                         IDC_LINE2,
                         IDC_LANGUAGE,
                         IDC_FONT_SET,
                         IDC_CELL_TEST};
    for (const int id : named) {
        EXPECT_NE(FindControl(kMainDialogTemplate, id), nullptr) << id;
    }
    EXPECT_NE(FindControl(kAboutDialogTemplate, IDOK), nullptr);
    EXPECT_EQ(FindControl(kMainDialogTemplate, -1), nullptr);
}

std::uint32_t BigEndian32(std::span<const unsigned char> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) << 24 |
           static_cast<std::uint32_t>(bytes[at + 1]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}

TEST(Icon, ImagesAre32BitPngsOfTheirSizeSmallestFirst) {
    const std::span<const IconImage> images = ApplicationIcon();
    ASSERT_FALSE(images.empty());
    EXPECT_EQ(images.front().size, 16);
    int previous = 0;
    for (const IconImage& image : images) {
        SCOPED_TRACE(image.size);
        EXPECT_GT(image.size, previous);
        previous = image.size;
        ASSERT_GE(image.png.size(), 33u);
        const unsigned char signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        EXPECT_TRUE(std::equal(std::begin(signature), std::end(signature), image.png.begin()));
        EXPECT_EQ(std::string(image.png.begin() + 12, image.png.begin() + 16), "IHDR");
        EXPECT_EQ(BigEndian32(image.png, 16), static_cast<std::uint32_t>(image.size));
        EXPECT_EQ(BigEndian32(image.png, 20), static_cast<std::uint32_t>(image.size));
        EXPECT_EQ(image.png[24], 8);  // bits per channel
        EXPECT_EQ(image.png[25], 6);  // RGBA: 32 bits per pixel
    }
}

}  // namespace
}  // namespace vyx::resources
