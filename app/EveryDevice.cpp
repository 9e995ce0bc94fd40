#include "app/EveryDevice.h"

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/DeviceListing.h"
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
// last line left without its end gets one.
void Relay(ChildProcess* child, ChildOutput output, std::FILE* stream, const std::string& prefix) {
  std::string pending;
  char buffer[4096];
  long count;
  while ((count = ReadChildOutput(child, output, buffer, sizeof buffer)) > 0) {
    pending.append(buffer, static_cast<size_t>(count));
    size_t start = 0;
    for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
      WriteLine(stream, prefix, std::string_view(pending).substr(start, end - start));
    }
    pending.erase(0, start);
  }
  if (!pending.empty()) WriteLine(stream, prefix, pending);
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
  std::string prefix;  // its name and a space
  ChildProcess* child = nullptr;
  bool jsonOut = false;
  bool passed = false;
  std::thread thread;
};

// A unit's run to its end: both outputs relayed, then how it ended.
void FollowRun(Unit& unit) {
  std::thread out(Relay, unit.child, ChildOutput::Out, stdout, unit.jsonOut ? "" : unit.prefix);
  Relay(unit.child, ChildOutput::Err, stderr, unit.prefix);
  out.join();
  ChildEnd end = WaitChild(unit.child);
  if (std::string how = HowItEnded(end); !how.empty()) {
    WriteLine(stderr, unit.prefix, "korvo-test: " + how);
  }
  unit.passed = end.signal == 0 && end.exitStatus == 0;
}

}  // namespace

int TestEveryDevice(const DeviceList& devices, const CommandLine& line) {
  std::vector<Unit> units(static_cast<size_t>(devices.GetCount()));
  for (int i = 0; i < devices.GetCount(); ++i) {
    Unit& unit = units[static_cast<size_t>(i)];
    unit.prefix = UnitName(devices, i, DiscoveryKnowsBusAddress()) + " ";
    unit.jsonOut = line.json;  // JSON lines name their device themselves
    unit.child = StartOwnProgram(RunArguments(devices.GetAt(i).devicePath, line));
    if (!unit.child) {
      WriteLine(stderr, unit.prefix,
                "korvo-test: cannot start its run: " + ErrorText(LastErrorNumber()));
      continue;
    }
    unit.thread = std::thread(FollowRun, std::ref(unit));
  }
  size_t passed = 0;
  for (Unit& unit : units) {
    if (unit.thread.joinable()) unit.thread.join();
    if (unit.passed) ++passed;
  }
  WriteLine(stderr, "",
            "korvo-test: " + std::to_string(passed) + " of " + std::to_string(units.size()) +
                " devices passed");
  if (ChildrenInterrupted()) EndAsInterrupted();
  return passed == units.size() ? 0 : 1;
}

}  // namespace korvo
