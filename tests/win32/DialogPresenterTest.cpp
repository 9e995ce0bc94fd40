// The Windows presenter on the real dialog manager, with template 101 linked
// into this program: what the portable dialog relies on, without a keyboard.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>

#include "HiddenWindowStation.h"
#include "platform/DialogPresenter.h"
#include "platform/win32/WindowStation.h"
#include "resources/resource.h"

namespace korvo {
namespace {

// Calls `onInit` at initialisation and records every command.
class ScriptedEvents : public DialogEvents {
 public:
  explicit ScriptedEvents(std::function<void(DialogWindow&)> onInit) : onInit_(std::move(onInit)) {}

  bool InitDialog(DialogWindow& window) override {
    ++initCalls;
    onInit_(window);
    return true;
  }
  void Command(int commandId) override { commands.push_back(commandId); }

  int initCalls = 0;
  std::vector<int> commands;

 private:
  std::function<void(DialogWindow&)> onInit_;
};

bool HaveDisplay() {
  char display[256];
  return GetEnvironmentVariableA("DISPLAY", display, sizeof display) > 0;
}

TEST(DialogPresenterTest, MissingTemplateIsNotShownAndCallsNothing) {
  ScriptedEvents events([](DialogWindow&) {});
  EXPECT_EQ(RunModalDialog(4242, events), kDialogNotShown);
  EXPECT_EQ(events.initCalls, 0);
  EXPECT_TRUE(events.commands.empty());
}

// A service or an OpenSSH session: nobody could answer, so nothing is shown.
TEST(DialogPresenterTest, WithoutAVisibleDesktopTheDialogIsNotShown) {
  {
    win32test::HiddenWindowStation hidden;
    ASSERT_TRUE(hidden.Entered());
    EXPECT_FALSE(HasVisibleWindowStation());
    ScriptedEvents events([](DialogWindow& window) { window.EndDialog(IDOK); });
    EXPECT_EQ(RunModalDialog(IDD_SELECT_DEVICE, events), kDialogNotShown);
    EXPECT_EQ(events.initCalls, 0);
  }
  if (HaveDisplay()) {  // back on the visible one
    EXPECT_TRUE(HasVisibleWindowStation());
  }
}

TEST(DialogPresenterTest, EndingDuringInitialisationReturnsThatResult) {
  if (!HaveDisplay()) GTEST_SKIP() << "windows need a display (run under xvfb-run)";
  ScriptedEvents events([](DialogWindow& window) { window.EndDialog(IDCANCEL); });
  EXPECT_EQ(RunModalDialog(IDD_SELECT_DEVICE, events), IDCANCEL);
  EXPECT_EQ(events.initCalls, 1);
  EXPECT_TRUE(events.commands.empty());
}

TEST(DialogPresenterTest, DeviceListIsAnUnsortedComboBoxWithOneSelection) {
  if (!HaveDisplay()) GTEST_SKIP() << "windows need a display (run under xvfb-run)";
  ScriptedEvents events([](DialogWindow& window) {
    EXPECT_EQ(window.ComboBox(IDOK), nullptr);  // a button, not a list
    EXPECT_EQ(window.ComboBox(4242), nullptr);
    ComboBoxControl* list = window.ComboBox(IDC_DEVICE);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(window.ComboBox(IDC_DEVICE), list);  // the same control each time

    EXPECT_EQ(list->GetCurSel(), CB_ERR);
    EXPECT_EQ(list->AddString("zeta"), 0);
    EXPECT_EQ(list->AddString("alpha"), 1);  // appended, not sorted in
    EXPECT_EQ(list->GetCount(), 2);
    EXPECT_EQ(list->SetCurSel(1), 1);
    EXPECT_EQ(list->GetCurSel(), 1);
    EXPECT_EQ(list->SetCurSel(2), CB_ERR);  // past the end clears it
    EXPECT_EQ(list->GetCurSel(), CB_ERR);
    EXPECT_EQ(list->SetCurSel(0), 0);
    window.EndDialog(IDOK);
  });
  EXPECT_EQ(RunModalDialog(IDD_SELECT_DEVICE, events), IDOK);
}

}  // namespace
}  // namespace korvo
