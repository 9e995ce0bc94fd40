// The transfer path of korvo-test, timed on the real Linux layer: reading the
// file, the chunked write to the device, and SendFile as a whole. Run it
// under korvo-emu with one KORVO device (see README.md); without a device
// only the file read is measured.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "bench/BareWriter.h"
#include "deviceio/FileTransfer.h"
#include "discovery/ChooseDevice.h"
#include "discovery/DeviceList.h"
#include "platform/Device.h"
#include "platform/Framework.h"
#include "platform/InputFile.h"
#include "tests/support/Pattern.h"

namespace korvo {
namespace {

constexpr uint64_t kFileSize = uint64_t{64} << 20;

// One 64 MiB file for the whole run.
const std::string& SampleFile() {
  static const std::string path = [] {
    std::filesystem::path file = std::filesystem::temp_directory_path() / "korvo-bench-64MiB.bin";
    std::ofstream(file, std::ios::binary) << test::Pattern(kFileSize);
    return file.string();
  }();
  return path;
}

// The device korvo-test would choose, if any is present.
std::optional<DeviceEntry> Chosen() {
  static const std::optional<DeviceEntry> entry = []() -> std::optional<DeviceEntry> {
    if (!InitFramework()) return std::nullopt;
    DeviceList devices(GUID_DEVINTERFACE_USB_DEVICE);
    if (devices.Enumerate() == 0) return std::nullopt;
    std::optional<int> chosen = ChooseDevice(devices);
    if (!chosen) return std::nullopt;
    return devices.GetAt(*chosen);
  }();
  return entry;
}

void SetBytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFileSize));
}

// The read as SendFile makes it, into fresh memory each time.
void BM_ReadWholeFile(benchmark::State& state) {
  for (auto _ : state) {
    InputFile* file = OpenInputFile(SampleFile().c_str());
    unsigned char* buffer = AllocateFileBuffer(kFileSize);
    uint64_t got = 0;
    bool read = file && buffer && ReadInputFile(file, buffer, kFileSize, &got) && got == kFileSize;
    if (buffer) FreeFileBuffer(buffer, kFileSize);
    if (file) CloseInputFile(file);
    if (!read) {
      state.SkipWithError("cannot read the sample file");
      break;
    }
  }
  SetBytes(state);
}
BENCHMARK(BM_ReadWholeFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// One WriteDevice of 64 MiB: the chunked bulk transfers through usbfs.
void BM_WriteDevice(benchmark::State& state) {
  std::optional<DeviceEntry> entry = Chosen();
  Device* device = entry ? OpenDevice(entry->devicePath) : nullptr;
  if (!device) {
    state.SkipWithError("no device to write to: run under korvo-emu");
    return;
  }
  std::vector<unsigned char> data(kFileSize, 0x5A);
  for (auto _ : state) {
    uint64_t written = 0;
    if (!WriteDevice(device, data.data(), data.size(), &written)) {
      state.SkipWithError("the write failed");
      break;
    }
  }
  CloseDevice(device);
  SetBytes(state);
}
BENCHMARK(BM_WriteDevice)->Unit(benchmark::kMillisecond)->UseRealTime();

// Stage 7 as the tool runs it, with the open of stage 5 before it: open the
// device, read the file whole, write it, close both.
void BM_OpenAndSendFile(benchmark::State& state) {
  std::optional<DeviceEntry> entry = Chosen();
  if (!entry) {
    state.SkipWithError("no device to send to: run under korvo-emu");
    return;
  }
  for (auto _ : state) {
    Device* device = OpenDevice(entry->devicePath);
    if (!device || SendFile(SampleFile().c_str(), device) != TransferResult::Sent) {
      state.SkipWithError("the transfer failed");
      break;
    }
  }
  SetBytes(state);
}
BENCHMARK(BM_OpenAndSendFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same file to the same device by the least a libusb program can do:
// BM_OpenAndSendFile should stay within a few percent of it.
void BM_BareLibusbWriter(benchmark::State& state) {
  std::optional<DeviceEntry> entry = Chosen();
  if (!entry || !entry->facts.bus || !entry->facts.address) {
    state.SkipWithError("no device to send to: run under korvo-emu");
    return;
  }
  char node[32];
  std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", *entry->facts.bus, *entry->facts.address);
  for (auto _ : state) {
    if (!bench::BareSendFile(node, SampleFile().c_str())) {
      state.SkipWithError("the transfer failed");
      break;
    }
  }
  SetBytes(state);
}
BENCHMARK(BM_BareLibusbWriter)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace korvo

BENCHMARK_MAIN();
