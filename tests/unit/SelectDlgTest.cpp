#include "discovery/SelectDlg.h"

#include <gtest/gtest.h>

#include "fake/FakeDiscovery.h"
#include "fake/FakePresenter.h"

namespace korvo {
namespace {

using fake::Presenter;

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

  // Runs the dialog over `list`; the operator confirms (with `pick` selected
  // when set) or not.
  int Run(bool confirm, std::optional<int> pick = std::nullopt) {
    Presenter().confirm = confirm;
    Presenter().pick = pick;
    dialog.m_pDeviceList = &list;
    return dialog.DoModal();
  }

  DeviceList list{GUID_DEVINTERFACE_USB_DEVICE};
  CSelectDlg dialog;
};

TEST_F(SelectDlgTest, OpensOnTheDescriptionsInOrderWithTheLastSelected) {
  EXPECT_EQ(dialog.m_nSelected, -1);
  EXPECT_EQ(dialog.m_pDeviceList, nullptr);
  ListDevices({"Alpha", "Beta", "Gamma"});
  Run(false);
  EXPECT_EQ(Presenter().shown, 1);
  EXPECT_EQ(Presenter().caption, "Select Device to Test");
  EXPECT_EQ(Presenter().label, "Device");
  EXPECT_EQ(Presenter().list.items, (std::vector<std::string>{"Alpha", "Beta", "Gamma"}));
  EXPECT_EQ(Presenter().list.selection, 2);
}

TEST_F(SelectDlgTest, OkWithoutTouchingChoosesTheLast) {
  ListDevices({"Alpha", "Beta", "Gamma"});
  EXPECT_EQ(Run(true), IDOK);
  EXPECT_EQ(dialog.m_nSelected, 2);
}

TEST_F(SelectDlgTest, OkAfterPickingTheFirstChoosesIt) {
  ListDevices({"Alpha", "Beta", "Gamma"});
  EXPECT_EQ(Run(true, 0), IDOK);
  EXPECT_EQ(dialog.m_nSelected, 0);
  EXPECT_EQ(list.GetAt(dialog.m_nSelected).description, "Alpha");
}

// Cancel, Escape, the close box, and a dialog that cannot be shown at all.
TEST_F(SelectDlgTest, NotConfirmedLeavesNothingSelected) {
  ListDevices({"Alpha", "Beta"});
  EXPECT_NE(Run(false), IDOK);
  EXPECT_EQ(dialog.m_nSelected, -1);
}

TEST_F(SelectDlgTest, ItemsAreTheDescriptionsWhateverTheirSource) {
  fake::Discovery().interfaces = {
      fake::Interface("/dev/a#vid_1111", "Friendly", "Described"),
      fake::Interface("/dev/b#vid_2222", std::nullopt, "Described"),
      fake::Interface("/dev/c#vid_3333"),
  };
  list.Enumerate();
  Run(false);
  std::vector<std::string> expected = {"Friendly", "Described", "/dev/c#vid_3333"};
  EXPECT_EQ(Presenter().list.items, expected);
}

}  // namespace
}  // namespace korvo
