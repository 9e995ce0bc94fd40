// korvo-test FILE... run under korvo-emu, with what the emulated devices
// received. Shared by the device I/O end-to-end tests.
#pragma once

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "support/Pattern.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace korvo::e2e {

namespace fs = std::filesystem;

using test::Pattern;
using test::ReadWhole;
using test::TempDir;

struct DeviceRun {
  test::ProcessResult process;
  bool captured = false;  // the device node was opened and a capture file made
  std::string received;   // the first device's bulk OUT bytes
  std::string report;     // korvo-emu's --report line for it, if any
  std::string driver;     // the kernel driver bound at the end, "none", or "" if not told
};

// Emulated devices described by `devices` (bus 1, addresses 2, 3, ... unless
// they say otherwise); `args` follow the program name. `received`, `report`
// and `driver` are those of the first device.
inline DeviceRun RunOnDevices(const TempDir& dir, const std::vector<std::string>& devices,
                              const std::vector<std::string>& args,
                              test::Stdout stdoutMode = test::Stdout::Captured) {
  const std::string captures = dir.PathOf("captures");
  fs::remove_all(captures);
  std::vector<std::string> argv = {KORVO_EMU_BINARY, "--capture-dir", captures, "--report"};
  for (const std::string& deviceOptions : devices) argv.insert(argv.end(), {"--device", deviceOptions});
  argv.insert(argv.end(), {"--", KORVO_TEST_BINARY});
  argv.insert(argv.end(), args.begin(), args.end());

  DeviceRun run;
  run.process = test::RunProcess(argv, stdoutMode);
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
  static const std::regex kDriver("korvo-emu: 001/002 driver (\\S+)\n");
  if (std::regex_search(run.process.err, found, kDriver)) {
    run.driver = found[1].str();
    run.process.err = found.prefix().str() + found.suffix().str();
  }
  return run;
}

// One emulated device, at bus 1, address 2.
inline DeviceRun RunOnDevice(const TempDir& dir, const std::string& deviceOptions,
                             const std::vector<std::string>& args,
                             test::Stdout stdoutMode = test::Stdout::Captured) {
  return RunOnDevices(dir, {deviceOptions}, args, stdoutMode);
}

// Whether the emulated device at bus 1, `address` was opened in the last run.
inline bool Opened(const TempDir& dir, int address) {
  char name[32];
  std::snprintf(name, sizeof name, "captures/001-%03d.bin", address);
  return fs::exists(dir.PathOf(name));
}

}  // namespace korvo::e2e
