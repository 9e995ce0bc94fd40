// korvo-test FILE... run under korvo-emu, with what the emulated devices
// received. Shared by the device I/O end-to-end tests.
#pragma once

#include <glob.h>
#include <sys/types.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/Pattern.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace korvo::e2e {

namespace fs = std::filesystem;

using test::Pattern;
using test::ReadWhole;
using test::TempDir;
using Json = nlohmann::json;

struct DeviceRun {
  test::ProcessResult process;
  bool captured = false;  // the device node was opened and a capture file made
  std::string received;   // the first device's bulk OUT bytes
  std::string report;     // korvo-emu's --report line for it, if any
  std::string driver;     // the kernel driver bound at the end, "none", or "" if not told
  std::map<std::string, std::string> drivers;  // the same for every device, by "BBB/DDD"
};

// korvo-emu running `command` on the emulated devices described by `devices`
// (bus 1, addresses 2, 3, ... unless they say otherwise), capturing into
// `dir` and reporting.
inline std::vector<std::string> EmuCommand(const TempDir& dir, const std::vector<std::string>& devices,
                                           const std::vector<std::string>& command) {
  const std::string captures = dir.PathOf("captures");
  fs::remove_all(captures);
  std::vector<std::string> argv = {KORVO_EMU_BINARY, "--capture-dir", captures, "--report"};
  for (const std::string& deviceOptions : devices) argv.insert(argv.end(), {"--device", deviceOptions});
  argv.push_back("--");
  argv.insert(argv.end(), command.begin(), command.end());
  return argv;
}

// What a run of EmuCommand left: `received`, `report` and `driver` are those
// of the first device; `drivers` has every device's.
inline DeviceRun Collect(const TempDir& dir, test::ProcessResult process) {
  DeviceRun run;
  run.process = std::move(process);
  const std::string capture = dir.PathOf("captures/001-002.bin");
  run.captured = fs::exists(capture);
  if (run.captured) run.received = ReadWhole(capture);

  // The report lines are korvo-emu's; the rest of stderr is the tool's.
  static const std::regex kReport("korvo-emu: [0-9]{3}/[0-9]{3} received [0-9]+ bytes, sha256 [0-9a-f]{64}\n");
  std::smatch found;
  while (std::regex_search(run.process.err, found, kReport)) {
    if (run.report.empty() && found.str().starts_with("korvo-emu: 001/002 ")) run.report = found.str();
    run.process.err = found.prefix().str() + found.suffix().str();
  }
  static const std::regex kDriver("korvo-emu: ([0-9]{3}/[0-9]{3}) driver (\\S+)\n");
  while (std::regex_search(run.process.err, found, kDriver)) {
    run.drivers[found[1].str()] = found[2].str();
    run.process.err = found.prefix().str() + found.suffix().str();
  }
  if (run.drivers.count("001/002")) run.driver = run.drivers["001/002"];
  return run;
}

// korvo-test with `args` on the emulated devices.
inline DeviceRun RunOnDevices(const TempDir& dir, const std::vector<std::string>& devices,
                              const std::vector<std::string>& args,
                              test::Stdout stdoutMode = test::Stdout::Captured) {
  std::vector<std::string> command = {KORVO_TEST_BINARY};
  command.insert(command.end(), args.begin(), args.end());
  return Collect(dir, test::RunProcess(EmuCommand(dir, devices, command), stdoutMode));
}

// One emulated device, at bus 1, address 2.
inline DeviceRun RunOnDevice(const TempDir& dir, const std::string& deviceOptions,
                             const std::vector<std::string>& args,
                             test::Stdout stdoutMode = test::Stdout::Captured) {
  return RunOnDevices(dir, {deviceOptions}, args, stdoutMode);
}

// Waits, at most a minute, until `done` says yes; answers whether it did.
inline bool WaitUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// The children of process `pid` (its main thread's), once it has `count`
// of them; fewer after a minute.
inline std::vector<pid_t> ChildrenOf(pid_t pid, size_t count) {
  const std::string children =
      "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children";
  std::vector<pid_t> found;
  WaitUntil([&] {
    std::ifstream in(children);
    found.clear();
    for (pid_t child; in >> child;) found.push_back(child);
    return found.size() >= count;
  });
  return found;
}

// The first child of process `pid`, once it has one; -1 after a minute.
inline pid_t ChildOf(pid_t pid) {
  std::vector<pid_t> children = ChildrenOf(pid, 1);
  return children.empty() ? -1 : children[0];
}

// The run's stdout as JSON Lines: nothing else may be on it.
inline std::vector<Json> JsonLines(const std::string& out) {
  std::vector<Json> lines;
  size_t start = 0;
  for (size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(Json::parse(out.substr(start, end - start), nullptr, false));
    EXPECT_FALSE(lines.back().is_discarded()) << out.substr(start, end - start);
  }
  EXPECT_EQ(start, out.size()) << "an unfinished line: " << out;
  return lines;
}

// The lines of `text` that begin with `prefix`, in order, without it.
inline std::string LinesAfter(const std::string& prefix, const std::string& text) {
  std::istringstream in(text);
  std::string lines;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with(prefix)) lines += line.substr(prefix.size()) + "\n";
  }
  return lines;
}

// The capture file of the emulated device at bus 1, `address`.
inline std::string CaptureOf(const TempDir& dir, int address) {
  char name[32];
  std::snprintf(name, sizeof name, "captures/001-%03d.bin", address);
  return dir.PathOf(name);
}

// Whether the emulated device at bus 1, `address` was opened in the last run.
inline bool Opened(const TempDir& dir, int address) { return fs::exists(CaptureOf(dir, address)); }

// What it received in the last run; "" if it was never opened.
inline std::string ReceivedAt(const TempDir& dir, int address) {
  return Opened(dir, address) ? ReadWhole(CaptureOf(dir, address)) : "";
}

// Whether the run under korvo-emu `emu` listens for uevents: umockdev binds
// a monitor's socket in the testbed as eventN.
inline bool Listening(const test::Process& emu) {
  const pid_t tool = ChildOf(static_cast<pid_t>(emu.Id()));
  std::ifstream environ("/proc/" + std::to_string(tool) + "/environ");
  std::string testbed;
  for (std::string variable; std::getline(environ, variable, '\0');) {
    if (variable.starts_with("UMOCKDEV_DIR=")) testbed = variable.substr(std::strlen("UMOCKDEV_DIR="));
  }
  glob_t sockets;
  const bool found = !testbed.empty() && glob((testbed + "/event[0-9]*").c_str(), 0, nullptr, &sockets) == 0;
  if (found) globfree(&sockets);
  return found;
}

}  // namespace korvo::e2e
