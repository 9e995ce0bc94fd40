#include "app/EveryDevice.h"

#include <chrono>
#include <cstdio>
#include <list>
#include <set>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/DeviceListing.h"
#include "app/JsonLines.h"
#include "discovery/DeviceSelector.h"
#include "platform/DeviceMonitor.h"
#include "platform/ChildProcess.h"
#include "platform/DeviceInterfaces.h"
#include "platform/ErrorNumber.h"
#include "platform/TerminalText.h"

namespace korvo {

namespace {

// Every unit's lines go out through here, one whole line at a time, so that
// none is cut by another even where stdout and stderr are the same file.
std::mutex g_output;

void WriteLine(std::FILE* stream, const std::string& prefix, std::string_view line) {
  // A Windows run's text mode ended the line with "\r\n"; ours adds the '\r' again.
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::string text = prefix;
  text.append(line);
  text += '\n';
  std::lock_guard<std::mutex> hold(g_output);
  WriteText(stream, text);
  std::fflush(stream);
}

// Copies one output of a unit's run to ours, line by line, to its end; a
// last line left without its end gets one. Answers how many lines came.
size_t Relay(ChildProcess* child, ChildOutput output, std::FILE* stream, const std::string& prefix) {
  size_t lines = 0;
  std::string pending;
  char buffer[4096];
  long count;
  while ((count = ReadChildOutput(child, output, buffer, sizeof buffer)) > 0) {
    pending.append(buffer, static_cast<size_t>(count));
    size_t start = 0;
    for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
      WriteLine(stream, prefix, std::string_view(pending).substr(start, end - start));
      ++lines;
    }
    pending.erase(0, start);
  }
  if (pending.empty()) return lines;
  WriteLine(stream, prefix, pending);
  return lines + 1;
}

// One device's run: its exact path, and the options that shape a run. The
// runs read FILE at the same time, where one alone holds it for itself.
std::vector<std::string> RunArguments(const std::string& path, const CommandLine& line) {
  std::vector<std::string> args = {"--path", path, "--shared-file"};
  if (line.timeoutSeconds) {
    args.insert(args.end(), {"--timeout", std::to_string(*line.timeoutSeconds)});
  }
  if (line.json) args.push_back("--json");
  if (!line.file.empty()) args.insert(args.end(), {"--", line.file});
  return args;
}

// A run that did not end by returning (0 or 1), in words; else "".
std::string HowItEnded(const ChildEnd& end) {
  if (end.signal != 0) return "ended by signal " + std::to_string(end.signal);
  if (end.exitStatus <= 1) return "";
  char text[40];
  std::snprintf(text, sizeof text, "ended with status 0x%08X",
                static_cast<unsigned>(end.exitStatus));
  return text;
}

struct Unit {
  explicit Unit(const DeviceEntry& tested) : entry(tested) {}

  DeviceEntry entry;
  std::string prefix;  // its name and a space
  ChildProcess* child = nullptr;
  bool json = false;
  bool passed = false;
  std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  std::thread thread;
};

// A unit's run to its end: both outputs relayed, then how it ended. A run
// that ended by a signal before its JSON line gets one.
void FollowRun(Unit& unit) {
  size_t lines = 0;
  std::thread out([&] { lines = Relay(unit.child, ChildOutput::Out, stdout, unit.json ? "" : unit.prefix); });
  Relay(unit.child, ChildOutput::Err, stderr, unit.prefix);
  out.join();
  ChildEnd end = WaitChild(unit.child);
  std::string how = HowItEnded(end);
  if (!how.empty()) WriteLine(stderr, unit.prefix, "korvo-test: " + how);
  if (!how.empty() && unit.json && lines == 0) {
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - unit.started;
    int exit = end.signal ? 128 + end.signal : static_cast<int>(end.exitStatus);
    std::string line = UnitJson(&unit.entry, RunReport{}, "cancelled", seconds.count(), exit);
    line.pop_back();
    WriteLine(stdout, "", line);
  }
  unit.passed = end.signal == 0 && end.exitStatus == 0;
}

// Starts the run of device `index` of `devices`, and the thread that follows it.
void StartUnit(std::list<Unit>& units, const DeviceList& devices, int index, const CommandLine& line) {
  Unit& unit = units.emplace_back(devices.GetAt(index));
  unit.prefix = UnitName(devices, index, DiscoveryKnowsBusAddress()) + " ";
  unit.json = line.json;  // JSON lines name their device themselves
  unit.child = StartOwnProgram(RunArguments(unit.entry.devicePath, line));
  if (!unit.child) {
    WriteLine(stderr, unit.prefix, "korvo-test: cannot start its run: " + ErrorText(LastErrorNumber()));
    return;
  }
  unit.thread = std::thread(FollowRun, std::ref(unit));
}

// Waits for every run to end, then tells how many passed: 0 when all did.
int Tally(std::list<Unit>& units) {
  size_t passed = 0;
  for (Unit& unit : units) {
    if (unit.thread.joinable()) unit.thread.join();
    if (unit.passed) ++passed;
  }
  WriteLine(stderr, "",
            "korvo-test: " + std::to_string(passed) + " of " + std::to_string(units.size()) +
                " devices passed");
  return passed == units.size() ? 0 : 1;
}

// The devices present that the selectors leave.
DeviceList Selected(const DeviceSelector& selector) {
  DeviceList devices(GUID_DEVINTERFACE_USB_DEVICE);
  devices.Enumerate();
  KeepSelected(devices, selector);
  return devices;
}

}  // namespace

void SayCannotWatchForDevices() {
  WriteText(stderr, "korvo-test: cannot watch for devices: " + ErrorText(LastErrorNumber()) + "\n");
}

int TestEveryDevice(const DeviceList& devices, const CommandLine& line) {
  std::list<Unit> units;
  for (int i = 0; i < devices.GetCount(); ++i) StartUnit(units, devices, i, line);
  int status = Tally(units);
  if (ChildrenInterrupted()) EndAsInterrupted();
  return status;
}

int TestEachArrival(const CommandLine& line) {
  DeviceMonitor* monitor = StartDeviceMonitor(GUID_DEVINTERFACE_USB_DEVICE);
  if (!monitor) {
    SayCannotWatchForDevices();
    return 1;
  }
  // What was there before the station started is not a unit that came.
  std::set<std::string> known;
  DeviceList before = Selected(line.selector);
  for (int i = 0; i < before.GetCount(); ++i) known.insert(before.GetAt(i).devicePath);

  std::list<Unit> units;
  std::set<std::string> unsettled;  // came, but their drivers have not had their chance yet
  auto wanted = [&] { return !line.count || units.size() < *line.count; };
  std::string settled;
  for (DeviceChange change; wanted();) {
    change = WaitForDeviceChange(monitor, std::nullopt, &settled);
    if (change != DeviceChange::Added && change != DeviceChange::Removed) break;
    DeviceList devices = Selected(line.selector);
    std::set<std::string> present;
    for (int i = 0; i < devices.GetCount(); ++i) {
      const std::string& path = devices.GetAt(i).devicePath;
      present.insert(path);
      if (known.count(path) && !unsettled.count(path)) continue;
      known.insert(path);
      // On Linux a unit is taken once its own bind came, so that usblp gets
      // the printer first; a wait that lost events takes what is there.
      bool ready = change == DeviceChange::Added && (settled.empty() || settled == path);
      if (!ready || !wanted()) {
        unsettled.insert(path);
        continue;
      }
      unsettled.erase(path);
      StartUnit(units, devices, i, line);
    }
    // A unit unplugged is forgotten: plugged in again, it is tested again.
    std::erase_if(known, [&](const std::string& path) { return !present.count(path); });
    std::erase_if(unsettled, [&](const std::string& path) { return !present.count(path); });
  }
  int status = Tally(units);
  StopDeviceMonitor(monitor);  // after the runs: an interrupt meanwhile is still passed on
  return status;
}

}  // namespace korvo
