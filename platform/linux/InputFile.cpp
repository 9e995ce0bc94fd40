// The file to send, opened the way the tool has always opened it: existing,
// read-only and exclusive. Linux has no sharing modes, so exclusivity is a
// non-blocking flock(2): it fails while another program holds a lock on the
// file, and holds others off while the file is sent.
#include "platform/InputFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <limits>
#include <new>
#include <sstream>
#include <string>

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
bool LockForReading(int fd, bool shared) {
  if (flock(fd, (shared ? LOCK_SH : LOCK_EX) | LOCK_NB) == 0) return true;
  return errno == EBADF && flock(fd, LOCK_SH | LOCK_NB) == 0;
}

// Left over for everything else the process holds while the file is in
// memory (libraries, the threads' stacks, libusb's buffers).
constexpr uint64_t kMemoryMargin = uint64_t{64} << 20;
constexpr uint64_t kNoLimit = std::numeric_limits<uint64_t>::max();

// The first number in a file ("max", no file: no limit).
uint64_t ReadLimit(const std::string& path) {
  uint64_t value = kNoLimit;
  std::ifstream(path) >> value;
  return value;
}

// The value of `key` in a "key value" file such as memory.stat, or 0.
uint64_t ReadStat(const std::string& path, const std::string& key) {
  std::ifstream in(path);
  std::string name;
  uint64_t value = 0;
  while (in >> name >> value) {
    if (name == key) return value;
    in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
  }
  return 0;
}

// Room in a memory cgroup (`group` below the hierarchy's `root`) and every
// group above it: each one's limit less what it uses, not counting the page
// cache, which the kernel reclaims first.
uint64_t CgroupRoom(const std::string& root, std::string group, const char* limit,
                    const char* usage, const char* cache) {
  uint64_t room = kNoLimit;
  for (;;) {
    const std::string folder = root + group + "/";
    uint64_t max = ReadLimit(folder + limit);
    if (max != kNoLimit) {
      uint64_t used = ReadLimit(folder + usage);
      used = used == kNoLimit ? 0 : used - std::min(used, ReadStat(folder + "memory.stat", cache));
      room = std::min(room, max - std::min(max, used));
    }
    if (group.empty()) return room;
    group.erase(group.rfind('/'));  // "/a/b", "/a", then the root
  }
}

// What this process can still take before the kernel kills it for memory or
// refuses it: the least of the machine's available memory, the room in its
// memory cgroups (v2 or v1) and its address-space limit.
uint64_t MemoryRoom() {
  uint64_t room = ReadStat("/proc/meminfo", "MemAvailable:");
  room = room == 0 ? kNoLimit : room * 1024;
  std::ifstream groups("/proc/self/cgroup");
  for (std::string line; std::getline(groups, line);) {
    std::string::size_type colon = line.find(':'), path = line.find(':', colon + 1);
    if (colon == std::string::npos || path == std::string::npos) continue;
    std::string controllers = line.substr(colon + 1, path - colon - 1);
    std::string where = line.substr(path + 1);  // "/a/b"; the root is ""
    if (where == "/") where.clear();
    if (controllers.empty()) {
      room = std::min(room, CgroupRoom("/sys/fs/cgroup", where, "memory.max", "memory.current", "file"));
    } else if (controllers == "memory") {
      room = std::min(room, CgroupRoom("/sys/fs/cgroup/memory", where, "memory.limit_in_bytes",
                                       "memory.usage_in_bytes", "cache"));
    }
  }
  rlimit space;
  uint64_t pages = 0;
  if (getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY &&
      std::ifstream("/proc/self/statm") >> pages) {
    uint64_t mapped = pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    room = std::min(room, space.rlim_cur - std::min<uint64_t>(space.rlim_cur, mapped));
  }
  return room;
}

void CloseKeepingErrno(int fd) {
  int error = errno;
  close(fd);
  errno = error;
}

}  // namespace

InputFile* OpenInputFile(const char* path, bool shared) {
  if (!path) {
    errno = EINVAL;
    return nullptr;
  }
  // Non-blocking, so that a FIFO does not hang the open; it is refused below.
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return nullptr;

  if (!CheckRegularFile(fd) || !LockForReading(fd, shared)) {
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
//
// A file that does not fit in what the process may use is refused here:
// overcommitted memory would be given, and the process killed as the read
// fills it, with the device still open.
unsigned char* AllocateFileBuffer(uint64_t size) {
  const uint64_t room = MemoryRoom();
  if (size > std::numeric_limits<size_t>::max() || size > room - std::min(room, kMemoryMargin)) {
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
