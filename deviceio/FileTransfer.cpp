#include "deviceio/FileTransfer.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "deviceio/OperatorHints.h"
#include "deviceio/TransferProgress.h"
#include "platform/TerminalText.h"
#include "platform/ErrorNumber.h"
#include "platform/InputFile.h"

namespace korvo {

namespace {

// The whole file in one block of memory.
struct FreeBuffer {
  uint64_t size;
  void operator()(unsigned char* buffer) const { FreeFileBuffer(buffer, size); }
};
using FileBuffer = std::unique_ptr<unsigned char, FreeBuffer>;

// The file's bytes as they were when measured, or nullptr. A file that
// shrank since is refused: sending its measured size would send bytes the
// file never held. So is one that has more to give after its measured size,
// which would lose the rest: a file that grew, or one of those files in
// /proc and /sys whose size says 0 whatever they hold.
FileBuffer ReadWholeFile(InputFile* file, uint64_t* size) {
  if (!InputFileSize(file, size)) return nullptr;
  FileBuffer buffer(AllocateFileBuffer(*size), FreeBuffer{*size});
  if (!buffer) return nullptr;
  uint64_t got = 0;
  if (!ReadInputFile(file, buffer.get(), *size, &got) || got != *size) return nullptr;
  unsigned char more;
  if (!ReadInputFile(file, &more, 1, &got) || got != 0) return nullptr;
  return buffer;
}

// The path as the run's line shows it: escaped as device names are on a
// terminal, its own bytes in a pipe or file, as scripts expect.
std::string Shown(const char* path) { return StdoutIsTerminal() ? TerminalSafe(path) : path; }

}  // namespace

TransferResult SendFile(const char* path, Device* device, RunReport* report,
                        unsigned stallSeconds, bool sharedFile) {
  InputFile* file = OpenInputFile(path, sharedFile);
  if (!file) {
    int error = LastErrorNumber();
    if (!report) WriteText(stdout, std::string("Can not open file ") + Shown(path) + "\n");
    ShowHints({*path ? TerminalSafe(path) + ": " + ErrorText(error)
                     : std::string("no FILE was given; see korvo-test --help")});
    return TransferResult::FileNotOpened;  // the device stays open
  }

  uint64_t size = 0;
  FileBuffer buffer = ReadWholeFile(file, &size);
  if (!buffer) {
    if (!report) WriteText(stdout, std::string("Can not read file ") + Shown(path) + "\n");
    CloseInputFile(file);
    CloseDevice(device);  // nothing more will use it
    return TransferResult::FileNotRead;
  }

  // A person at a terminal sees the transfer going; nobody else does.
  std::optional<TransferProgress> progress;
  if (StderrIsTerminal()) progress.emplace(size);

  uint64_t written = 0;
  bool sent = WriteDevice(device, buffer.get(), size, &written, progress ? &*progress : nullptr,
                          stallSeconds) &&
              written == size;
  int error = LastErrorNumber();
  progress.reset();  // erased before any line follows it
  if (report) {
    report->fileBytes = size;
    report->bytesSent = written;
    if (!sent) report->writeError = error;
  } else if (!sent) {
    std::printf("Error code Write:%d\n", error);
    ShowHints({"error " + std::to_string(error) + ": " + ErrorText(error)});
  }

  buffer.reset();
  CloseInputFile(file);
  CloseDevice(device);
  return sent ? TransferResult::Sent : TransferResult::NotWritten;
}

}  // namespace korvo
