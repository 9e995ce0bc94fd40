#include "app/TestSequence.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/DeviceListing.h"
#include "app/EveryDevice.h"
#include "app/JsonLines.h"
#include "app/Usage.h"
#include "deviceio/DeviceChannel.h"
#include "deviceio/FileTransfer.h"
#include "deviceio/OperatorHints.h"
#include "deviceio/StatusMonitor.h"
#include "discovery/ChooseDevice.h"
#include "discovery/DeviceList.h"
#include "discovery/DeviceSelector.h"
#include "discovery/SelectDlg.h"
#include "platform/DeviceInterfaces.h"
#include "platform/DeviceMonitor.h"
#include "platform/ErrorNumber.h"
#include "platform/Framework.h"
#include "platform/TerminalText.h"

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

// Options written after FILE do nothing, as they always did; a person at a
// terminal is told so, before the run goes on without them.
void ShowIgnoredOptions(const std::vector<std::string>& ignored) {
  if (ignored.empty()) return;
  std::string words;
  for (const std::string& word : ignored) words += (words.empty() ? "'" : " '") + TerminalSafe(word) + "'";
  ShowHints({"ignored after FILE: " + words + "; options go before FILE"});
}

// --json's line for the unit, when asked for; the exit status passes through.
struct JsonResult {
  explicit JsonResult(bool asked) : wanted(asked) {}

  bool wanted;
  RunReport report;
  std::optional<DeviceEntry> tested;
  std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();

  int End(std::string_view result, int exitStatus) {
    if (!wanted) return exitStatus;
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
    WriteText(stdout, UnitJson(tested ? &*tested : nullptr, report, result, seconds.count(), exitStatus));
    std::fflush(stdout);
    return exitStatus;
  }
};

// A usage error: the problem and where to look, before any device work.
int RefuseUsage(const std::string& problem) {
  WriteText(stderr, "korvo-test: " + problem + "\nTry 'korvo-test --help'.\n");
  return 1;
}

// --wait: looks again after each plug or unplug until the selectors leave a
// device, for at most the wait's limit. The monitor starts before the first
// look, so that a device plugged in just after it is not missed. False, after
// the message if there is one, when no device came.
bool WaitForDevices(const CommandLine& line, DeviceList& devices) {
  std::optional<Deadline> deadline;
  if (line.waitSeconds) deadline = std::chrono::steady_clock::now() + std::chrono::seconds(*line.waitSeconds);
  DeviceMonitor* monitor = StartDeviceMonitor(GUID_DEVINTERFACE_USB_DEVICE);
  DeviceChange change = monitor ? DeviceChange::Added : DeviceChange::Failed;
  while (change == DeviceChange::Added || change == DeviceChange::Removed) {
    devices = DeviceList(GUID_DEVINTERFACE_USB_DEVICE);
    devices.Enumerate();
    if (KeepSelected(devices, line.selector) > 0) break;
    change = WaitForDeviceChange(monitor, deadline);
  }
  if (monitor) StopDeviceMonitor(monitor);
  if (devices.GetCount() > 0) return true;
  if (change == DeviceChange::TimedOut) {
    std::cerr << "No KORVO devices appeared within " << *line.waitSeconds << " s" << std::endl;
  } else if (change == DeviceChange::Failed) {
    SayCannotWatchForDevices();
  }
  return false;  // a stop request (SIGINT, SIGTERM, Ctrl-C) ends the wait without a message
}

}  // namespace

int RunTestSequence(int argc, char* argv[]) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  const CommandLine line = ParseCommandLine(args);
  switch (line.action) {
    case Action::Error:
      return RefuseUsage(line.error);
    case Action::Help:
      std::cout << UsageText(DiscoveryKnowsBusAddress()) << std::flush;
      return 0;
    case Action::Version:
      std::cout << VersionText() << std::flush;
      return 0;
    case Action::SendFile:
      ShowIgnoredOptions(line.ignored);
      break;
    case Action::List:
      break;
  }
  if (line.selector.AsksBusOrAddress() && !DiscoveryKnowsBusAddress()) {
    return RefuseUsage("option '-s' is not available here: this system does not tell bus "
                       "numbers and addresses; use -d or --serial");
  }

  if (!InitFramework()) {
    std::cerr << "Fatal Error: MFC initialization failed" << std::endl;
    return 1;
  }

  if (line.each) return TestEachArrival(line);

  // Nothing plugged in is no failure of its own; a device asked for by a
  // selector and not found is, whether or not other devices are present.
  JsonResult json(line.json);
  DeviceList devices(GUID_DEVINTERFACE_USB_DEVICE);
  if (line.wait) {
    if (!WaitForDevices(line, devices)) return line.action == Action::List ? 1 : json.End("no-device", 1);
  } else if (devices.Enumerate() == 0 && line.selector.Empty()) {
    std::cerr << "No KORVO devices to test" << std::endl;
    return line.action == Action::List ? 0 : json.End("no-device", 0);
  } else if (KeepSelected(devices, line.selector) == 0) {
    WriteText(stderr, "No device matches " + DescribeSelector(line.selector) + "\n");
    return line.action == Action::List ? 1 : json.End("no-device", 1);
  }

  if (line.action == Action::List) {
    std::optional<int> automatic = ChooseDevice(devices);
    WriteText(stdout, line.json ? ListingJson(devices, automatic)
                                : DeviceListing(devices, automatic, DiscoveryKnowsBusAddress()));
    std::fflush(stdout);
    return 0;
  }
  if (line.all) return TestEveryDevice(devices, line);

  std::optional<int> chosen = ChooseDevice(devices);
  if (!chosen) chosen = AskOperator(devices);
  if (!chosen) return json.End("cancelled", 1);  // not confirmed: ends without a message

  // The rest of the run works on copies, not on the list.
  json.tested = devices.GetAt(*chosen);
  const std::string chosenPath = json.tested->devicePath;
  const std::string chosenDescription = json.tested->description;
  RunReport* report = line.json ? &json.report : nullptr;

  json.started = std::chrono::steady_clock::now();
  Device* device = OpenAndShowPortStatus(chosenPath, chosenDescription, report);
  if (!device) return json.End("unable-to-open", 1);

  StartStatusMonitor(device);  // whether it runs changes nothing in the run

  // Without FILE the open fails on the empty path, as it always has.
  // Without --timeout the write waits as long as the device takes.
  switch (SendFile(line.file.c_str(), device, report, line.timeoutSeconds.value_or(0),
                   line.sharedFile)) {
    case TransferResult::Sent:
      return json.End("sent", 0);
    case TransferResult::FileNotOpened:
      return json.End("cannot-open-file", 1);
    case TransferResult::FileNotRead:
      return json.End("cannot-read-file", 1);
    case TransferResult::NotWritten:
      break;
  }
  return json.End(json.report.writeError == TimedOutErrorNumber() ? "timeout" : "write-failed", 1);
}

}  // namespace korvo
