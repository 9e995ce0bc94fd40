// Preloaded into the command in front of umockdev: makes opening an emulated
// usblp node (/dev/usb/lpN) behave like usblp's open, which umockdev alone
// cannot do.
//
// - Exclusive: usblp lets one open file use the node at a time; a second open
//   fails with EBUSY. An open file takes a flock() on the node's file in the
//   testbed, which lasts until its last descriptor closes, as usblp's "used"
//   flag lasts until release. korvo-emu holds that lock itself for lp-busy.
// - A node the testbed does not have fails with ENOENT, as when usblp is not
//   bound and its node is gone; the host's own /dev/usb/lpN is never opened.
// The fortified headers define open() inline; this file defines the real one.
#undef _FORTIFY_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kLpPrefix[] = "/dev/usb/lp";

bool IsLpNode(const char* path) {
  return path && std::strncmp(path, kLpPrefix, sizeof kLpPrefix - 1) == 0;
}

// The node's file in the testbed; false if there is no testbed.
bool TestbedPath(const char* path, char* out, std::size_t size) {
  const char* root = std::getenv("UMOCKDEV_DIR");
  if (!root) return false;
  const int length = std::snprintf(out, size, "%s%s", root, path);
  return length > 0 && static_cast<std::size_t>(length) < size;
}

// Opens the testbed's node with `open_next`, then takes the node as usblp would.
template <typename OpenNext>
int OpenLpNode(const char* path, OpenNext open_next) {
  char real_path[4096];
  if (!TestbedPath(path, real_path, sizeof real_path)) return open_next(path);
  if (access(real_path, F_OK) != 0) {
    errno = ENOENT;
    return -1;
  }
  const int fd = open_next(real_path);
  if (fd < 0) return fd;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    errno = EBUSY;
    return -1;
  }
  return fd;
}

// The next definition: umockdev's, or the C library's. A missing one would be a
// broken installation; the wrappers then fail as an unsupported call would.
template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

int Unsupported() {
  errno = ENOSYS;
  return -1;
}

mode_t ModeArgument(int flags, va_list arguments) {
  return (flags & (O_CREAT | O_TMPFILE)) ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

}  // namespace

#define KORVO_WRAP_OPEN(name)                                                         \
  extern "C" int name(const char* path, int flags, ...) {                             \
    using Function = int (*)(const char*, int, ...);                                  \
    static const Function next = Next<Function>(#name);                               \
    va_list arguments;                                                                \
    va_start(arguments, flags);                                                       \
    const mode_t mode = ModeArgument(flags, arguments);                               \
    va_end(arguments);                                                                \
    if (!next) return Unsupported();                                                  \
    if (!IsLpNode(path)) return next(path, flags, mode);                              \
    return OpenLpNode(path, [flags, mode](const char* p) { return next(p, flags, mode); }); \
  }

#define KORVO_WRAP_OPEN_2(name)                                                        \
  extern "C" int name(const char* path, int flags) {                                   \
    using Function = int (*)(const char*, int);                                        \
    static const Function next = Next<Function>(#name);                                \
    if (!next) return Unsupported();                                                   \
    if (!IsLpNode(path)) return next(path, flags);                                     \
    return OpenLpNode(path, [flags](const char* p) { return next(p, flags); });        \
  }

#define KORVO_WRAP_OPENAT(name)                                                        \
  extern "C" int name(int dirfd, const char* path, int flags, ...) {                   \
    using Function = int (*)(int, const char*, int, ...);                              \
    static const Function next = Next<Function>(#name);                                \
    va_list arguments;                                                                 \
    va_start(arguments, flags);                                                        \
    const mode_t mode = ModeArgument(flags, arguments);                                \
    va_end(arguments);                                                                 \
    if (!next) return Unsupported();                                                   \
    if (!IsLpNode(path)) return next(dirfd, path, flags, mode);                        \
    return OpenLpNode(path,                                                            \
                      [dirfd, flags, mode](const char* p) { return next(dirfd, p, flags, mode); }); \
  }

KORVO_WRAP_OPEN(open)
KORVO_WRAP_OPEN(open64)
KORVO_WRAP_OPEN_2(__open_2)
KORVO_WRAP_OPEN_2(__open64_2)
KORVO_WRAP_OPENAT(openat)
KORVO_WRAP_OPENAT(openat64)
