// Runs the real CSelectDlg on the Windows presenter over made-up devices, for
// a script to drive with the keyboard. Each argument is one device's
// description. Prints "IDOK <index>" or "not confirmed <result>".
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "discovery/DeviceList.h"
#include "discovery/SelectDlg.h"
#include "platform/DeviceInterfaces.h"

namespace korvo {

namespace {

std::vector<std::string> g_descriptions;

}  // namespace

// Discovery for this program: the devices named on its command line.
std::optional<std::vector<InterfaceRecord>> ListPresentInterfaces(const InterfaceClassId&) {
  std::vector<InterfaceRecord> records(g_descriptions.size());
  for (size_t index = 0; index < records.size(); ++index) {
    records[index].devicePath = "\\\\?\\usb#vid_1111&pid_" + std::to_string(1000 + index) + "#made-up";
    records[index].friendlyName = g_descriptions[index];
  }
  return records;
}

}  // namespace korvo

int main(int argc, char* argv[]) {
  korvo::g_descriptions.assign(argv + 1, argv + argc);
  korvo::DeviceList devices(korvo::GUID_DEVINTERFACE_USB_DEVICE);
  devices.Enumerate();

  korvo::CSelectDlg dialog;
  dialog.m_pDeviceList = &devices;
  int result = dialog.DoModal();
  if (result == IDOK) {
    std::printf("IDOK %d\n", dialog.m_nSelected);
  } else {
    std::printf("not confirmed %d\n", result);
  }
  return 0;
}
