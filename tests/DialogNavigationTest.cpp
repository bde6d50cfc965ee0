// The dialog manager's focus decisions over template 102, with the enable states the
// dialog itself sets through the fake window.
#include "app/DialogNavigation.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/VYX_UtilityDlg.h"
#include "resources/ControlIds.h"
#include "resources/Templates.h"
#include "tests/support/FakeWindow.h"

namespace vyx::test {
namespace {

namespace res = vyx::resources;
using app::kFocusDialog;

// The eight command buttons, the tab stops of template 102, in template order.
const std::vector<int> kTabStops{res::IDC_CHANGE_BAUD,      res::IDC_INPUT_STRING,
                                 res::IDC_PROGRAM_DOWNLOAD, res::IDC_FONT_SET,
                                 res::IDC_SET_COMMAND_SET,  res::IDC_SET_DEFAULT_FONT,
                                 res::IDC_INFORMATION,      res::IDC_CELL_TEST};

// The dialog on a fake window, initialised (closed state); `open` switches to the open
// state as a successful "Port Open" does.
class DialogNavigation : public testing::Test {
  protected:
    void SetUp() override {
        m_Fake.Attach(&m_Dlg);
        ASSERT_EQ(m_Dlg.OnInitDialog(), 1);
    }
    void TearDown() override { m_Fake.Attach(nullptr); }

    int Tab(int from, bool backward = false) const {
        return app::TabTarget(res::kMainDialogTemplate, m_Fake, from, backward);
    }
    // Where Tab leads from `from`, `steps` times over.
    std::vector<int> TabRun(int from, int steps, bool backward) const {
        std::vector<int> run;
        for (int i = 0; i < steps; ++i) {
            from = Tab(from, backward);
            run.push_back(from);
        }
        return run;
    }

    FakeWindow m_Fake;
    app::CVYX_UtilityDlg m_Dlg{m_Fake};
};

TEST_F(DialogNavigation, InitialFocusIsTheFirstEnabledControlThatCanTakeIt) {
    EXPECT_EQ(app::InitialFocus(res::kMainDialogTemplate, m_Fake), res::IDC_EXIT);
    // "EXIT" is not a tab stop; it is first in template order all the same. Without it
    // the next one is "Port Open", then (skipping the group boxes) the rate list.
    m_Fake.EnableWindow(res::IDC_EXIT, false);
    EXPECT_EQ(app::InitialFocus(res::kMainDialogTemplate, m_Fake), res::IDC_PORT_OPEN);
    m_Fake.EnableWindow(res::IDC_PORT_OPEN, false);
    EXPECT_EQ(app::InitialFocus(res::kMainDialogTemplate, m_Fake), res::IDC_CURRENT_BAUD);
}

TEST_F(DialogNavigation, TheAboutBoxFocusesItsOkButton) {
    EXPECT_EQ(app::InitialFocus(res::kAboutDialogTemplate, m_Fake), res::IDOK);
    EXPECT_EQ(app::TabTarget(res::kAboutDialogTemplate, m_Fake, res::IDOK, false), res::IDOK);
}

// " Language " is the one group box with an id; it frames controls, it takes no focus.
TEST_F(DialogNavigation, TheLanguageGroupBoxTakesNoFocus) {
    const res::ControlTemplate* group =
        res::FindControl(res::kMainDialogTemplate, res::IDC_LANGUAGE_GROUP);
    ASSERT_NE(group, nullptr);
    EXPECT_FALSE(app::CanTakeFocus(*group));
    EXPECT_TRUE(app::CanTakeFocus(*res::FindControl(res::kMainDialogTemplate, res::IDC_LANGUAGE)));
}

TEST_F(DialogNavigation, OpenStateTabAndShiftTabCycleTheCommandButtons) {
    m_Dlg.EnablePortControls(1);
    std::vector<int> forward(kTabStops.begin() + 1, kTabStops.end());
    forward.push_back(kTabStops.front());
    EXPECT_EQ(TabRun(res::IDC_CHANGE_BAUD, 8, false), forward);
    const std::vector<int> backward(kTabStops.rbegin(), kTabStops.rend());
    EXPECT_EQ(TabRun(res::IDC_CHANGE_BAUD, 8, true), backward);
}

struct TabCase {
    const char* name;
    int from;
    int forward;   // Tab
    int backward;  // Shift+Tab
};

// From a control without a tab stop (clicked into), Tab goes on from its place in the
// template; from the dialog itself it starts at either end.
TEST_F(DialogNavigation, OpenStateTabFromControlsWithoutTabStop) {
    m_Dlg.EnablePortControls(1);
    const TabCase cases[] = {
        {"EXIT", res::IDC_EXIT, res::IDC_CHANGE_BAUD, res::IDC_CELL_TEST},
        {"rate list", res::IDC_CURRENT_BAUD, res::IDC_CHANGE_BAUD, res::IDC_CELL_TEST},
        {"Line#1", res::IDC_LINE1, res::IDC_FONT_SET, res::IDC_PROGRAM_DOWNLOAD},
        {"COM list", res::IDC_COM_PORT, res::IDC_FONT_SET, res::IDC_PROGRAM_DOWNLOAD},
        {"font list", res::IDC_DEFAULT_FONT, res::IDC_INFORMATION, res::IDC_SET_DEFAULT_FONT},
        {"Line#2", res::IDC_LINE2, res::IDC_INFORMATION, res::IDC_SET_DEFAULT_FONT},
        {"the dialog", kFocusDialog, res::IDC_CHANGE_BAUD, res::IDC_CELL_TEST},
    };
    for (const TabCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Tab(c.from), c.forward);
        EXPECT_EQ(Tab(c.from, true), c.backward);
    }
}

// No tab stop is enabled with the port closed: the focus stays where it is.
TEST_F(DialogNavigation, ClosedStateTabLeavesTheFocus) {
    for (const int from :
         {res::IDC_EXIT, res::IDC_PORT_OPEN, res::IDC_COM_PORT, res::IDC_LINE2, kFocusDialog}) {
        SCOPED_TRACE(from);
        EXPECT_EQ(Tab(from), from);
        EXPECT_EQ(Tab(from, true), from);
    }
}

// One enabled tab stop: Tab comes back to it, and reaches it from anywhere.
TEST_F(DialogNavigation, ASingleTabStopIsReachedFromAnywhere) {
    m_Fake.EnableWindow(res::IDC_INFORMATION, true);
    EXPECT_EQ(Tab(res::IDC_INFORMATION), res::IDC_INFORMATION);
    EXPECT_EQ(Tab(res::IDC_INFORMATION, true), res::IDC_INFORMATION);
    EXPECT_EQ(Tab(res::IDC_EXIT), res::IDC_INFORMATION);
    EXPECT_EQ(Tab(kFocusDialog, true), res::IDC_INFORMATION);
}

// "Port Open" disables itself under the focus: the focus goes on to "Change". "Close"
// and "Program Down Load" leave no tab stop enabled: the dialog itself takes it.
TEST_F(DialogNavigation, FocusMovesOnFromADisabledControl) {
    m_Dlg.EnablePortControls(1);
    EXPECT_EQ(app::FocusAfterDisabling(res::kMainDialogTemplate, m_Fake, res::IDC_PORT_OPEN),
              res::IDC_CHANGE_BAUD);
    m_Fake.EnableWindow(res::IDC_CELL_TEST, false);
    EXPECT_EQ(app::FocusAfterDisabling(res::kMainDialogTemplate, m_Fake, res::IDC_CELL_TEST),
              res::IDC_CHANGE_BAUD);  // wraps around
    m_Dlg.EnablePortControls(0);
    for (const int id : {res::IDC_CLOSE, res::IDC_PROGRAM_DOWNLOAD, res::IDC_INFORMATION}) {
        EXPECT_EQ(app::FocusAfterDisabling(res::kMainDialogTemplate, m_Fake, id), kFocusDialog)
            << id;
    }
}

}  // namespace
}  // namespace vyx::test
