// The device channel: the device's own driver, reached through its interface
// path with plain file calls and one control request.
#include "platform/Device.h"

#include "platform/win32/Win32.h"

#include <winioctl.h>
#include <usbprint.h>

#include <algorithm>

namespace korvo {

namespace {

// The USB printing class's request for the port status byte.
constexpr DWORD kGetPortStatus = 0x220030;
static_assert(kGetPortStatus == IOCTL_USBPRINT_GET_LPT_STATUS);

// The largest count one WriteFile call takes.
constexpr uint64_t kMaxWrite = MAXDWORD;

// When the system cannot take one huge write (it locks every page of it for
// the driver), the rest goes in pieces of at most this much, halved after
// each refusal down to the smallest.
constexpr DWORD kLargestPiece = 16u << 20;
constexpr DWORD kSmallestPiece = 1u << 20;

// With a time-out the file goes in pieces of this much, each one a sign of
// progress: a slow printer still takes one well within a second.
constexpr DWORD kWatchedPiece = 64u << 10;

// The two errors that say the write was too large for the system's
// resources, not that the device failed.
bool IsTooLargeForTheSystem(DWORD error) {
  return error == ERROR_NO_SYSTEM_RESOURCES || error == ERROR_WORKING_SET_QUOTA;
}

// A Device* is the device's handle itself; no handle is ever null.
HANDLE HandleOf(Device* device) { return reinterpret_cast<HANDLE>(device); }

OpenFailure g_found;

// Writes in calls of at most `pieceLimit` bytes. An empty write is still
// issued. A driver that takes less gets the rest in further calls, as long
// as each one makes progress.
bool WritePieces(HANDLE device, const unsigned char* bytes, uint64_t length, uint64_t* written,
                 WriteProgress* progress, uint64_t pieceLimit) {
  *written = 0;
  do {
    DWORD chunk = static_cast<DWORD>(std::min(length - *written, pieceLimit));
    DWORD done = 0;
    if (!BeginDeviceRequest()) return false;  // the stall watch has fired
    BOOL ok = WriteFile(device, bytes + *written, chunk, &done, nullptr);
    EndDeviceRequest();
    *written += done;
    if (!ok) {
      DWORD error = GetLastError();
      if (!IsTooLargeForTheSystem(error) || chunk <= kSmallestPiece) return false;
      pieceLimit = chunk > kLargestPiece ? kLargestPiece : chunk / 2;
      continue;
    }
    if (done == 0 && chunk > 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    RenewStallWatch();
    if (progress) progress->Sent(*written);
  } while (*written < length);
  return true;
}

}  // namespace

Device* OpenDevice(const std::string& path) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    ArmConsoleControl(handle);
    return reinterpret_cast<Device*>(handle);
  }
  DWORD error = GetLastError();
  g_found = {path, static_cast<int>(error), false, ""};
  g_found.gone = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                 error == ERROR_DEVICE_NOT_CONNECTED;
  // The open asks for the device alone, so any other holder refuses it.
  if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_BUSY) {
    g_found.advice = "another program has the device open; close it and try again";
  }
  SetLastError(error);
  return nullptr;
}

const OpenFailure& LastOpenFailure() { return g_found; }

bool QueryPortStatus(Device* device, const void* input, uint32_t inputLength, void* reply,
                     uint32_t replyLength, uint32_t* replyCount) {
  DWORD returned = 0;
  BOOL ok = FALSE;
  if (BeginDeviceRequest()) {
    ok = DeviceIoControl(HandleOf(device), kGetPortStatus, const_cast<void*>(input), inputLength,
                         reply, replyLength, &returned, nullptr);
    EndDeviceRequest();
  }
  *replyCount = returned;
  return ok != FALSE;
}

// Without a time-out one call normally takes the whole file, so progress is
// only heard of at its end; with one, each piece tells.
bool WriteDevice(Device* device, const void* data, uint64_t length, uint64_t* written,
                 WriteProgress* progress, unsigned stallSeconds) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  *written = 0;
  if (stallSeconds == 0) return WritePieces(HandleOf(device), bytes, length, written, progress, kMaxWrite);
  const auto milliseconds =
      static_cast<DWORD>(std::min<uint64_t>(uint64_t{stallSeconds} * 1000, MAXDWORD - 1));
  if (!StartStallWatch(HandleOf(device), milliseconds)) return false;
  bool sent = WritePieces(HandleOf(device), bytes, length, written, progress, kWatchedPiece);
  DWORD error = GetLastError();
  // A write the watch cancelled failed for want of progress, whatever the
  // cancel made of its error.
  if (EndStallWatch() && !sent) error = ERROR_TIMEOUT;
  SetLastError(error);
  return sent;
}

void CloseDevice(Device* device) {
  DisarmConsoleControl(HandleOf(device));
  CloseHandle(HandleOf(device));
}

}  // namespace korvo
