// korvo-emu: runs a command against emulated KORVO USB devices (umockdev).
#include <glib.h>
#include <glib/gstdio.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "child_process.h"
#include "hotplug.h"
#include "options.h"
#include "testbed.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitEmulator = 125;  // korvo-emu itself failed, as with env(1)

const char kPreload[] = "libumockdev-preload.so.0";

// Adds `item` to a colon-separated list, in front or at the end.
std::string Joined(const gchar* list, const std::string& item, bool in_front) {
  if (!list || !*list) return item;
  return in_front ? item + ":" + list : std::string(list) + ":" + item;
}

bool HasUsblp(const korvo_emu::Options& options) {
  for (const korvo_emu::DeviceConfig& config : options.devices) {
    if (config.driver == korvo_emu::kUsblpDriver) return true;
  }
  return false;
}

std::vector<std::string> ChildEnvironment(const korvo_emu::Options& options) {
  gchar** environment = g_get_environ();
  std::string preload = Joined(g_environ_getenv(environment, "LD_PRELOAD"), kPreload, true);
  preload = Joined(preload.c_str(), KORVO_EMU_POLL_PRELOAD, true);
  // usblp's open goes in front of umockdev's, which it calls.
  if (HasUsblp(options)) preload = Joined(preload.c_str(), KORVO_EMU_LP_PRELOAD, true);
  environment = g_environ_setenv(environment, "LD_PRELOAD", preload.c_str(), TRUE);
  // AddressSanitizer refuses to start when a preload comes before its runtime.
  const gchar* asan = g_environ_getenv(environment, "ASAN_OPTIONS");
  if (!asan || !std::strstr(asan, "verify_asan_link_order")) {
    const std::string value = Joined(asan, "verify_asan_link_order=0", false);
    environment = g_environ_setenv(environment, "ASAN_OPTIONS", value.c_str(), TRUE);
  }
  std::vector<std::string> result;
  for (gchar** entry = environment; *entry; ++entry) result.emplace_back(*entry);
  g_strfreev(environment);
  return result;
}

std::optional<std::string> CapturePath(const korvo_emu::Options& options,
                                       const korvo_emu::DeviceConfig& config) {
  if (!options.capture_dir) return std::nullopt;
  char name[32];
  std::snprintf(name, sizeof name, "/%03d-%03d.bin", config.bus, config.address);
  return *options.capture_dir + name;
}

bool MakeCaptureDir(const korvo_emu::Options& options) {
  if (!options.capture_dir) return true;
  if (g_mkdir_with_parents(options.capture_dir->c_str(), 0755) == 0) return true;
  std::fprintf(stderr, "korvo-emu: --capture-dir %s: %s\n", options.capture_dir->c_str(),
               std::strerror(errno));
  return false;
}

// Every device's emulation; the testbed gets those there from the start.
bool AddDevices(const korvo_emu::Options& options, korvo_emu::Testbed& testbed,
                korvo_emu::Units& units) {
  std::string error;
  int lp_minor = 0;  // usblp numbers its nodes in the order it finds printers
  for (std::size_t i = 0; i < options.devices.size() && error.empty(); ++i) {
    const korvo_emu::DeviceConfig& config = options.devices[i];
    units.push_back(std::make_unique<korvo_emu::Unit>(config, i, lp_minor, CapturePath(options, config)));
    if (config.driver == korvo_emu::kUsblpDriver) ++lp_minor;
    if (korvo_emu::PluggedLater(config)) continue;
    korvo_emu::Unit& unit = *units.back();
    if (korvo_emu::Plug(testbed, unit, error)) unit.view->Create(error);
  }
  if (!error.empty()) std::fprintf(stderr, "korvo-emu: %s\n", error.c_str());
  return error.empty();
}

void WarnAboutWrittenNodes(const korvo_emu::Options& options, const korvo_emu::Testbed& testbed) {
  for (const korvo_emu::DeviceConfig& config : options.devices) {
    if (config.has_node && !testbed.NodeUnchanged(config)) {
      std::fprintf(stderr,
                   "korvo-emu: %s was written with write(); Linux refuses that (EINVAL), "
                   "data goes to a USB device only as transfers\n",
                   korvo_emu::NodePath(config).c_str());
    }
  }
}

int Run(const korvo_emu::Options& options) {
  std::string error;
  korvo_emu::Units units;  // outlive the testbed, whose thread may still use them
  std::unique_ptr<korvo_emu::Testbed> testbed = korvo_emu::Testbed::Create(error);
  if (!testbed) {
    std::fprintf(stderr, "korvo-emu: %s\n", error.c_str());
    return kExitEmulator;
  }
  // The devices there from the start exist before the command starts: adding
  // them later would race with its first look. Those plugged in later come
  // with their uevents.
  if (!AddDevices(options, *testbed, units)) return kExitEmulator;
  korvo_emu::Hotplug hotplug(*testbed, units);
  hotplug.Start();
  const int status = korvo_emu::RunCommand(options.command, ChildEnvironment(options));
  hotplug.Stop();
  for (const auto& unit : units) unit->device.CommandEnded();
  WarnAboutWrittenNodes(options, *testbed);
  testbed.reset();  // stops the device emulation before the devices go
  if (options.report) {
    for (const auto& unit : units) {
      if (const auto summary = unit->device.Summary()) {
        std::fprintf(stderr, "korvo-emu: %s\n", summary->c_str());
      }
      if (const auto driver = unit->device.DriverSummary()) {
        std::fprintf(stderr, "korvo-emu: %s\n", driver->c_str());
      }
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  korvo_emu::Options options;
  std::string error;
  if (!korvo_emu::ParseCommandLine(argc, argv, options, error)) {
    std::fprintf(stderr, "korvo-emu: %s\n%s", error.c_str(), korvo_emu::kUsage);
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(korvo_emu::kUsage, stdout);
    return 0;
  }
  if (!MakeCaptureDir(options)) return kExitUsage;
  return Run(options);
}
