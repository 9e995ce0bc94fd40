// korvo-emu: runs a command against emulated KORVO USB devices (umockdev).
#include <glib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "child_process.h"
#include "options.h"
#include "testbed.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitEmulator = 125;  // korvo-emu itself failed, as with env(1)

const char kPreload[] = "libumockdev-preload.so.0";

std::vector<std::string> ChildEnvironment() {
  gchar** environment = g_get_environ();
  const gchar* preload = g_environ_getenv(environment, "LD_PRELOAD");
  const std::string value =
      preload && *preload ? std::string(kPreload) + ":" + preload : std::string(kPreload);
  environment = g_environ_setenv(environment, "LD_PRELOAD", value.c_str(), TRUE);
  std::vector<std::string> result;
  for (gchar** entry = environment; *entry; ++entry) result.emplace_back(*entry);
  g_strfreev(environment);
  return result;
}

int Run(const korvo_emu::Options& options) {
  std::string error;
  std::unique_ptr<korvo_emu::Testbed> testbed = korvo_emu::Testbed::Create(error);
  if (!testbed) {
    std::fprintf(stderr, "korvo-emu: %s\n", error.c_str());
    return kExitEmulator;
  }
  for (std::size_t i = 0; i < options.devices.size(); ++i) {
    if (!testbed->AddDevice(options.devices[i], i, error)) {
      std::fprintf(stderr, "korvo-emu: %s\n", error.c_str());
      return kExitEmulator;
    }
  }
  // Everything exists before the command starts: adding devices later races with it.
  return korvo_emu::RunCommand(options.command, ChildEnvironment());
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
  return Run(options);
}
