// The file to send, opened the way the tool has always opened it: existing,
// read-only and exclusive. Linux has no sharing modes, so exclusivity is a
// non-blocking flock(2): it fails while another program holds a lock on the
// file, and holds others off while the file is sent.
#include "platform/InputFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <new>

namespace korvo {

struct InputFile {
  int fd;
};

namespace {

// One read(2) returns at most about 2 GiB; ask for less at a time.
constexpr uint64_t kMaxReadChunk = uint64_t{1} << 30;

// Regular files only: a directory has no content to send, and a FIFO or a
// device has no size to take before the read.
bool CheckRegularFile(int fd) {
  struct stat status;
  if (fstat(fd, &status) != 0) return false;
  if (S_ISDIR(status.st_mode)) {
    errno = EISDIR;
    return false;
  }
  if (!S_ISREG(status.st_mode)) {
    errno = EINVAL;
    return false;
  }
  return true;
}

// Keeps out every program that locks the file too while we read it. NFS
// turns flock into a POSIX lock, and an exclusive one needs a file open for
// writing (EBADF): there a shared lock still keeps out those who write.
bool LockForReading(int fd) {
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
  return errno == EBADF && flock(fd, LOCK_SH | LOCK_NB) == 0;
}

void CloseKeepingErrno(int fd) {
  int error = errno;
  close(fd);
  errno = error;
}

}  // namespace

InputFile* OpenInputFile(const char* path) {
  if (!path) {
    errno = EINVAL;
    return nullptr;
  }
  // Non-blocking, so that a FIFO does not hang the open; it is refused below.
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return nullptr;

  if (!CheckRegularFile(fd) || !LockForReading(fd)) {
    CloseKeepingErrno(fd);
    return nullptr;
  }

  InputFile* file = new (std::nothrow) InputFile{fd};
  if (!file) {
    close(fd);
    errno = ENOMEM;
  }
  return file;
}

bool InputFileSize(InputFile* file, uint64_t* size) {
  struct stat status;
  if (fstat(file->fd, &status) != 0) return false;
  *size = static_cast<uint64_t>(status.st_size);
  return true;
}

bool ReadInputFile(InputFile* file, void* buffer, uint64_t size, uint64_t* got) {
  unsigned char* into = static_cast<unsigned char*>(buffer);
  *got = 0;
  while (*got < size) {
    size_t chunk = static_cast<size_t>(std::min(size - *got, kMaxReadChunk));
    ssize_t n = read(file->fd, into + *got, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;  // the file ended early
    *got += static_cast<uint64_t>(n);
  }
  return true;
}

void CloseInputFile(InputFile* file) {
  close(file->fd);  // drops the lock with it
  delete file;
}

// Fresh memory costs a page fault per page when the read first touches it:
// for a large file, more than the read itself. Huge pages (where the system
// gives them on request) make that a fault per 2 MiB, and populating the
// mapping at once is cheaper than faulting it in during the read. Both are
// requests the kernel may refuse; the buffer is the same either way.
unsigned char* AllocateFileBuffer(uint64_t size) {
  if (size > std::numeric_limits<size_t>::max()) {
    errno = ENOMEM;
    return nullptr;
  }
  size_t length = size > 0 ? static_cast<size_t>(size) : 1;  // mmap takes no empty mapping
  void* memory = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return nullptr;
  madvise(memory, length, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
  madvise(memory, length, MADV_POPULATE_WRITE);
#endif
  return static_cast<unsigned char*>(memory);
}

void FreeFileBuffer(unsigned char* buffer, uint64_t size) {
  munmap(buffer, size > 0 ? static_cast<size_t>(size) : 1);
}

}  // namespace korvo
