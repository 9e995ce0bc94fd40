// The file to send: opened exclusively, measured whole, read until the
// measured size is in.
#include "platform/InputFile.h"

#include <windows.h>

#include <algorithm>
#include <limits>
#include <new>
#include <string>

namespace korvo {

namespace {

// Reads are split so that no single call is too large for the file system
// (network shares refuse very large reads).
constexpr uint64_t kMaxRead = 64u << 20;

// An InputFile* is the file's handle itself.
HANDLE HandleOf(InputFile* file) { return reinterpret_cast<HANDLE>(file); }

}  // namespace

InputFile* OpenInputFile(const char* path, bool shared) {
  if (!path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // The path comes in the ANSI code page. The wide call takes it whatever
  // its length where long paths are allowed; the ANSI one may not.
  int length = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
  std::wstring widePath(static_cast<size_t>(length > 0 ? length : 1), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path, -1, widePath.data(), length);
  // No sharing: the open fails while another program holds the file. A
  // directory cannot be opened this way. Shared, only readers that share
  // too get in beside it.
  HANDLE handle = CreateFileW(widePath.c_str(), GENERIC_READ, shared ? FILE_SHARE_READ : 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return reinterpret_cast<InputFile*>(handle);
}

bool InputFileSize(InputFile* file, uint64_t* size) {
  LARGE_INTEGER fileSize;
  if (!GetFileSizeEx(HandleOf(file), &fileSize)) return false;
  *size = static_cast<uint64_t>(fileSize.QuadPart);
  return true;
}

bool ReadInputFile(InputFile* file, void* buffer, uint64_t size, uint64_t* got) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  *got = 0;
  while (*got < size) {
    DWORD chunk = static_cast<DWORD>(std::min(size - *got, kMaxRead));
    DWORD read = 0;
    if (!ReadFile(HandleOf(file), bytes + *got, chunk, &read, nullptr)) return false;
    if (read == 0) break;  // the file ended early
    *got += read;
  }
  return true;
}

void CloseInputFile(InputFile* file) { CloseHandle(HandleOf(file)); }

unsigned char* AllocateFileBuffer(uint64_t size) {
  if (size > std::numeric_limits<size_t>::max()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return new (std::nothrow) unsigned char[static_cast<size_t>(size)];
}

void FreeFileBuffer(unsigned char* buffer, uint64_t size) {
  (void)size;
  delete[] buffer;
}

}  // namespace korvo
