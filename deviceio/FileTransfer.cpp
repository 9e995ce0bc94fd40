#include "deviceio/FileTransfer.h"

#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "deviceio/OperatorHints.h"
#include "deviceio/TransferProgress.h"
#include "discovery/TerminalText.h"
#include "platform/Console.h"
#include "platform/ErrorNumber.h"
#include "platform/InputFile.h"

namespace korvo {

namespace {

// The whole file in one block, or nullptr when it cannot be held in memory.
std::unique_ptr<unsigned char[]> AllocateTransferBuffer(uint64_t size) {
  if (size > std::numeric_limits<size_t>::max()) return nullptr;
  return std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[static_cast<size_t>(size)]);
}

// The file's bytes as they were when measured, or nullptr. A file that
// shrank since is refused: sending its measured size would send bytes the
// file never held.
std::unique_ptr<unsigned char[]> ReadWholeFile(InputFile* file, uint64_t* size) {
  if (!InputFileSize(file, size)) return nullptr;
  std::unique_ptr<unsigned char[]> buffer = AllocateTransferBuffer(*size);
  if (!buffer) return nullptr;
  uint64_t got = 0;
  if (!ReadInputFile(file, buffer.get(), *size, &got) || got != *size) return nullptr;
  return buffer;
}

}  // namespace

TransferResult SendFile(const char* path, Device* device) {
  InputFile* file = OpenInputFile(path);
  if (!file) {
    int error = LastErrorNumber();
    std::printf("Can not open file %s\n", path);
    ShowHints({*path ? TerminalSafe(path) + ": " + ErrorText(error)
                     : std::string("no FILE was given; see korvo-test --help")});
    return TransferResult::FileNotOpened;  // the device stays open
  }

  uint64_t size = 0;
  std::unique_ptr<unsigned char[]> buffer = ReadWholeFile(file, &size);
  if (!buffer) {
    std::printf("Can not read file %s\n", path);
    CloseInputFile(file);
    CloseDevice(device);  // nothing more will use it
    return TransferResult::FileNotRead;
  }

  // A person at a terminal sees the transfer going; nobody else does.
  std::optional<TransferProgress> progress;
  if (StderrIsTerminal()) progress.emplace(size);

  uint64_t written = 0;
  bool sent = WriteDevice(device, buffer.get(), size, &written, progress ? &*progress : nullptr) &&
              written == size;
  int error = LastErrorNumber();
  progress.reset();  // erased before any line follows it
  if (!sent) {
    std::printf("Error code Write:%d\n", error);
    ShowHints({"error " + std::to_string(error) + ": " + ErrorText(error)});
  }

  buffer.reset();
  CloseInputFile(file);
  CloseDevice(device);
  return sent ? TransferResult::Sent : TransferResult::NotWritten;
}

}  // namespace korvo
