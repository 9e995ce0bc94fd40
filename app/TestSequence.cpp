#include "app/TestSequence.h"

#include <iostream>
#include <optional>
#include <string>

#include "deviceio/DeviceChannel.h"
#include "deviceio/FileTransfer.h"
#include "deviceio/StatusMonitor.h"
#include "discovery/ChooseDevice.h"
#include "discovery/DeviceList.h"
#include "discovery/SelectDlg.h"
#include "platform/Framework.h"

namespace korvo {

namespace {

// Lets the operator pick in the device-choice dialog. No answer unless the
// dialog is confirmed with an entry of the list selected.
std::optional<int> AskOperator(const DeviceList& devices) {
  CSelectDlg dialog;
  dialog.m_pDeviceList = &devices;
  if (dialog.DoModal() != IDOK) return std::nullopt;
  if (dialog.m_nSelected < 0 || dialog.m_nSelected >= devices.GetCount()) return std::nullopt;
  return dialog.m_nSelected;
}

}  // namespace

int RunTestSequence(int argc, char* argv[]) {
  if (!InitFramework()) {
    std::cerr << "Fatal Error: MFC initialization failed" << std::endl;
    return 1;
  }

  DeviceList devices(GUID_DEVINTERFACE_USB_DEVICE);
  if (devices.Enumerate() == 0) {
    std::cerr << "No KORVO devices to test" << std::endl;
    return 0;
  }

  std::optional<int> chosen = ChooseDevice(devices);
  if (!chosen) chosen = AskOperator(devices);
  if (!chosen) return 1;  // not confirmed: ends without a message

  // The rest of the run works on copies, not on the list.
  const DeviceEntry& entry = devices.GetAt(*chosen);
  std::string chosenPath = entry.devicePath;
  std::string chosenDescription = entry.description;

  Device* device = OpenAndShowPortStatus(chosenPath, chosenDescription);
  if (!device) return 1;

  StartStatusMonitor(device);  // whether it runs changes nothing in the run

  // Without an argument there is no file: the open fails on the empty path.
  const char* file = argc > 1 ? argv[1] : "";
  return SendFile(file, device) == TransferResult::Sent ? 0 : 1;
}

}  // namespace korvo
