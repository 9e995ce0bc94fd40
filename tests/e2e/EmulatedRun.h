// korvo-test FILE... run under korvo-emu, with what the emulated devices
// received. Shared by the device I/O end-to-end tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "support/Process.h"

namespace korvo::e2e {

namespace fs = std::filesystem;

inline std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A directory of its own for one test: files to send and device captures.
class WorkDir {
 public:
  WorkDir() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = fs::temp_directory_path() / (std::string("korvo-e2e-") + info->name() + "-" +
                                         std::to_string(std::random_device{}()));
    fs::create_directories(path_);
  }
  ~WorkDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;

  std::string Write(const std::string& name, const std::string& content) const {
    std::ofstream(path_ / name, std::ios::binary) << content;
    return (path_ / name).string();
  }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

struct DeviceRun {
  test::ProcessResult process;
  bool captured = false;  // the device node was opened and a capture file made
  std::string received;   // the first device's bulk OUT bytes
  std::string report;     // korvo-emu's --report line for it, if any
  std::string driver;     // the kernel driver bound at the end, "none", or "" if not told
};

// Bytes that differ from position to position, so that a lost, shifted or
// repeated block shows.
inline std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  uint32_t x = 0x6742;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    bytes[i] = static_cast<char>(x >> 24);
  }
  return bytes;
}

// Emulated devices described by `devices` (bus 1, addresses 2, 3, ... unless
// they say otherwise); `args` follow the program name. `received`, `report`
// and `driver` are those of the first device.
inline DeviceRun RunOnDevices(const WorkDir& dir, const std::vector<std::string>& devices,
                              const std::vector<std::string>& args,
                              test::Stdout stdoutMode = test::Stdout::Captured) {
  fs::path captures = dir / "captures";
  fs::remove_all(captures);
  std::vector<std::string> argv = {KORVO_EMU_BINARY, "--capture-dir", captures.string(), "--report"};
  for (const std::string& deviceOptions : devices) argv.insert(argv.end(), {"--device", deviceOptions});
  argv.insert(argv.end(), {"--", KORVO_TEST_BINARY});
  argv.insert(argv.end(), args.begin(), args.end());

  DeviceRun run;
  run.process = test::RunProcess(argv, "", stdoutMode);
  fs::path capture = captures / "001-002.bin";
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
inline DeviceRun RunOnDevice(const WorkDir& dir, const std::string& deviceOptions,
                             const std::vector<std::string>& args,
                             test::Stdout stdoutMode = test::Stdout::Captured) {
  return RunOnDevices(dir, {deviceOptions}, args, stdoutMode);
}

// Whether the emulated device at bus 1, `address` was opened in the last run.
inline bool Opened(const WorkDir& dir, int address) {
  char name[16];
  std::snprintf(name, sizeof name, "001-%03d.bin", address);
  return fs::exists(dir / "captures" / name);
}

}  // namespace korvo::e2e
