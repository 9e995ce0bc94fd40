// korvo-emu's command line and scenarios are typed by people: whatever they
// hold, parsing ends, a mistake is refused with a reason, and what is
// accepted can be set up (an address for each device, none taken twice).
//
// The input is the scenario file's text, then the arguments, separated by
// NUL bytes; "--scenario scenario" reads that text back from its file.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "descriptors.h"
#include "options.h"

namespace {

char g_directory[] = "/tmp/korvo-emu-fuzz.XXXXXX";

std::string ScenarioFile() { return std::string(g_directory) + "/scenario"; }

void RemoveDirectory() {
  unlink(ScenarioFile().c_str());
  rmdir(g_directory);
}

// Scenario files are looked up in our own directory, where "scenario" is the
// only file: elsewhere a name could be a device or a FIFO that never ends.
void KeepScenariosInDirectory(std::vector<std::string>& arguments) {
  const std::string option = "--scenario";
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == option && i + 1 < arguments.size()) {
      arguments[i + 1] = std::string(g_directory) + "/" + arguments[i + 1];
    } else if (arguments[i].starts_with(option + "=")) {
      arguments[i] = option + "=" + g_directory + "/" + arguments[i].substr(option.size() + 1);
    }
  }
}

std::vector<std::string> SplitAtNul(std::string_view input) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t nul; (nul = input.find('\0', start)) != std::string_view::npos; start = nul + 1) {
    parts.emplace_back(input.substr(start, nul - start));
  }
  parts.emplace_back(input.substr(start));
  return parts;
}

// What the emulator relies on in every device it was given.
void CheckDevice(const korvo_emu::DeviceConfig& device) {
  // Each database name becomes one line of a uevent file.
  for (const auto& property : {device.vendor_from_database, device.model_from_database}) {
    if (property) FUZZ_REQUIRE(property->find_first_of(std::string_view("\n\0", 2)) == std::string::npos);
  }
  FUZZ_REQUIRE(device.bus >= 1 && device.bus <= 255);
  // Its names as string descriptors, each as long as it says it is.
  for (std::uint8_t index : {korvo_emu::kManufacturerIndex, korvo_emu::kProductIndex}) {
    if (std::optional<korvo_emu::Bytes> text = korvo_emu::StringDescriptor(device, index)) {
      FUZZ_REQUIRE(!text->empty() && text->front() == text->size());
    }
  }
}

void CheckScenario(std::string_view text) {
  std::vector<korvo_emu::DeviceConfig> devices;
  std::string error;
  if (!korvo_emu::ParseScenario(text, "scenario", devices, error)) {
    FUZZ_REQUIRE(!error.empty());
    return;
  }
  for (const korvo_emu::DeviceConfig& device : devices) CheckDevice(device);
}

void CheckCommandLine(const std::vector<std::string>& arguments) {
  std::vector<std::string> storage = {"korvo-emu"};
  storage.insert(storage.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : storage) argv.push_back(argument.data());
  argv.push_back(nullptr);

  korvo_emu::Options options;
  std::string error;
  if (!korvo_emu::ParseCommandLine(static_cast<int>(storage.size()), argv.data(), options, error)) {
    FUZZ_REQUIRE(!error.empty());
    return;
  }
  if (options.help) return;
  FUZZ_REQUIRE(!options.command.empty());
  std::set<std::pair<int, int>> taken;
  for (const korvo_emu::DeviceConfig& device : options.devices) {
    CheckDevice(device);
    FUZZ_REQUIRE(device.address >= 1 && device.address <= 127);
    FUZZ_REQUIRE(taken.emplace(device.bus, device.address).second);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A directory of our own, where "scenario" is the only file there is.
  FUZZ_REQUIRE(mkdtemp(g_directory) != nullptr);
  std::atexit(RemoveDirectory);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  std::vector<std::string> parts = SplitAtNul({reinterpret_cast<const char*>(bytes), size});
  const std::string& scenario = parts.front();
  std::vector<std::string> arguments(parts.begin() + 1, parts.end());
  bool readsScenario = false;
  for (const std::string& argument : arguments) {
    if (argument.find('/') != std::string::npos) return 0;
    readsScenario = readsScenario || argument.starts_with("--scenario");
  }

  CheckScenario(scenario);
  // Writing the file is slow on some disks: only when an argument may read it.
  if (readsScenario) {
    std::ofstream(ScenarioFile(), std::ios::binary | std::ios::trunc) << scenario;
    KeepScenariosInDirectory(arguments);
  }
  CheckCommandLine(arguments);
  return 0;
}
