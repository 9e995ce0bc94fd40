#include "discovery/SelectDlg.h"

#include <gtest/gtest.h>

#include "fake/FakeDiscovery.h"
#include "fake/FakePresenter.h"

namespace korvo {
namespace {

using fake::Presenter;
using fake::Press;
using fake::Select;

class SelectDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Discovery() = {};
    Presenter() = {};
  }

  // A list of devices with these descriptions, enumerated as the sequence does.
  void ListDevices(std::vector<std::string> names) {
    for (size_t i = 0; i < names.size(); ++i) {
      fake::Discovery().interfaces.push_back(
          fake::Interface("/dev/bus/usb/001/00" + std::to_string(i + 2), names[i]));
    }
    ASSERT_EQ(list.Enumerate(), static_cast<int>(names.size()));
  }

  // Runs the dialog over `list` with the operator following `script`.
  int Run(std::vector<fake::OperatorStep> script) {
    Presenter().script = std::move(script);
    dialog.m_pDeviceList = &list;
    return dialog.DoModal();
  }

  DeviceList list{GUID_DEVINTERFACE_USB_DEVICE};
  CSelectDlg dialog;
};

TEST_F(SelectDlgTest, StartsWithNothingSelectedFromTemplate101) {
  EXPECT_EQ(dialog.m_nSelected, -1);
  EXPECT_EQ(dialog.m_pDeviceList, nullptr);
  ListDevices({"Alpha", "Beta"});
  Run({Press(IDCANCEL)});
  EXPECT_EQ(Presenter().shownTemplates, std::vector<int>{101});
}

TEST_F(SelectDlgTest, InitialisationClearsThenListsInOrderThenSelectsTheLast) {
  ListDevices({"Alpha", "Beta", "Gamma"});
  Run({Press(IDCANCEL)});
  // The base's exchange comes first, with nothing to select yet.
  std::vector<std::string> expected = {"SetCurSel(-1)", "AddString(Alpha)", "AddString(Beta)",
                                       "AddString(Gamma)", "SetCurSel(2)"};
  EXPECT_EQ(Presenter().calls, expected);
  EXPECT_EQ(Presenter().selection, 2);
  EXPECT_TRUE(Presenter().initAnswer);  // the presenter sets the focus
}

TEST_F(SelectDlgTest, OkWithoutTouchingChoosesTheLast) {
  ListDevices({"Alpha", "Beta", "Gamma"});
  EXPECT_EQ(Run({Press(IDOK)}), IDOK);
  EXPECT_EQ(dialog.m_nSelected, 2);
}

TEST_F(SelectDlgTest, OkAfterPickingChoosesThePick) {
  ListDevices({"Alpha", "Beta", "Gamma"});
  EXPECT_EQ(Run({Select(0), Press(IDOK)}), IDOK);
  EXPECT_EQ(dialog.m_nSelected, 0);
  EXPECT_EQ(list.GetAt(dialog.m_nSelected).description, "Alpha");
}

TEST_F(SelectDlgTest, CancelLeavesTheSelectionUnread) {
  ListDevices({"Alpha", "Beta"});
  EXPECT_EQ(Run({Select(0), Press(IDCANCEL)}), IDCANCEL);
  EXPECT_EQ(dialog.m_nSelected, -1);
}

TEST_F(SelectDlgTest, OnlyOkAndCancelEndTheDialog) {
  ListDevices({"Alpha", "Beta"});
  EXPECT_EQ(Run({Press(3), Press(1002), Select(0), Press(IDOK)}), IDOK);
  EXPECT_EQ(dialog.m_nSelected, 0);
}

TEST_F(SelectDlgTest, DialogThatCannotBeShownIsNotConfirmed) {
  ListDevices({"Alpha", "Beta"});
  Presenter().cannotShow = true;
  EXPECT_NE(Run({Press(IDOK)}), IDOK);
  EXPECT_EQ(dialog.m_nSelected, -1);
  EXPECT_TRUE(Presenter().calls.empty());
}

TEST_F(SelectDlgTest, ItemsAreTheDescriptionsWhateverTheirSource) {
  fake::Discovery().interfaces = {
      fake::Interface("/dev/a#vid_1111", "Friendly", "Described"),
      fake::Interface("/dev/b#vid_2222", std::nullopt, "Described"),
      fake::Interface("/dev/c#vid_3333"),
  };
  list.Enumerate();
  Run({Press(IDCANCEL)});
  std::vector<std::string> expected = {"Friendly", "Described", "/dev/c#vid_3333"};
  EXPECT_EQ(Presenter().items, expected);
}

TEST_F(SelectDlgTest, ControlsAreOnlyReachableWhileShown) {
  ListDevices({"Alpha", "Beta"});
  EXPECT_FALSE(dialog.UpdateData(true));
  EXPECT_EQ(dialog.m_cbDevice.GetCount(), CB_ERR);
  Run({Press(IDOK)});
  // The box was bound during the run; the closed dialog's control is gone.
  EXPECT_EQ(dialog.GetWindow(), nullptr);
  EXPECT_EQ(dialog.m_cbDevice.GetCount(), CB_ERR);
  EXPECT_EQ(dialog.m_cbDevice.AddString("late"), CB_ERR);
}

}  // namespace
}  // namespace korvo
