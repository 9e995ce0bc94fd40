// The gadget side of the VM tests, and the few process tricks that busybox
// has no applet for. Linked statically: the guest has no C++ runtime of its
// own besides the one korvo-test brings.
//
//   korvo-gadget receive DEV OUT [--expect N] [--status XX] [--ready FILE]
//                        [--hold-after N --mark FILE] [--rate N]
//       Opens the printer gadget's node and copies what the host sends to OUT.
//       --ready creates FILE once the node is open and the status is set.
//       Ends when N bytes have arrived, or, after SIGUSR1, once nothing more
//       arrives for a second. --status sets the port status the host reads.
//       --hold-after stops reading after N bytes (the host's write then
//       waits) and creates FILE to say so; it then waits for SIGUSR1.
//       --rate reads at most N bytes a second: a slow printer.
//       Prints the number of bytes received.
//   korvo-gadget pattern SIZE OUT
//       Writes SIZE bytes of the tests' data pattern to OUT.
//   korvo-gadget lock FILE
//       Holds an exclusive flock on FILE until killed; says "locked" first.
//   korvo-gadget exec [--closed-stdout] -- PROGRAM ARGS...
//       Runs PROGRAM with the default action for every signal (a shell
//       starts background jobs with SIGINT ignored), and with --closed-stdout
//       on a pipe whose reading end is already closed.
#include <fcntl.h>
#include <linux/usb/g_printer.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/Pattern.h"

namespace {

volatile sig_atomic_t finishing = 0;

void OnFinish(int) { finishing = 1; }

int Usage() {
  std::fprintf(stderr,
               "usage: korvo-gadget receive DEV OUT [--expect N] [--status XX] [--ready FILE] "
               "[--hold-after N --mark FILE] [--rate N]\n"
               "       korvo-gadget pattern SIZE OUT\n"
               "       korvo-gadget lock FILE\n"
               "       korvo-gadget exec [--closed-stdout] -- PROGRAM ARGS...\n");
  return 2;
}

int Fail(const char* what, const char* name) {
  std::fprintf(stderr, "korvo-gadget: %s %s: %s\n", what, name, std::strerror(errno));
  return 1;
}

bool WriteAll(int fd, const unsigned char* bytes, size_t length) {
  while (length > 0) {
    ssize_t n = write(fd, bytes, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

struct ReceiveOptions {
  const char* device = nullptr;
  const char* output = nullptr;
  unsigned long long expect = 0;  // 0: until told to finish
  int status = -1;
  bool hold = false;
  unsigned long long holdAfter = 0;
  const char* mark = nullptr;
  const char* ready = nullptr;
  unsigned long long rate = 0;  // bytes a second; 0: as fast as they come
};

bool ParseReceive(int argc, char** argv, ReceiveOptions* options) {
  if (argc < 4) return false;
  options->device = argv[2];
  options->output = argv[3];
  for (int i = 4; i + 1 < argc; i += 2) {
    std::string name = argv[i];
    const char* value = argv[i + 1];
    if (name == "--expect") {
      options->expect = std::strtoull(value, nullptr, 0);
    } else if (name == "--status") {
      options->status = static_cast<int>(std::strtol(value, nullptr, 16));
    } else if (name == "--hold-after") {
      options->hold = true;
      options->holdAfter = std::strtoull(value, nullptr, 0);
    } else if (name == "--ready") {
      options->ready = value;
    } else if (name == "--mark") {
      options->mark = value;
    } else if (name == "--rate") {
      options->rate = std::strtoull(value, nullptr, 0);
    } else {
      return false;
    }
  }
  return (argc - 4) % 2 == 0 && options->hold == (options->mark != nullptr);
}

void Touch(const char* path) {
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd >= 0) close(fd);
}

// Waits for SIGUSR1 without reading, so that the host's write stays pending.
void Hold(const char* mark) {
  Touch(mark);
  while (!finishing) pause();
}

int Receive(int argc, char** argv) {
  ReceiveOptions options;
  if (!ParseReceive(argc, argv, &options)) return Usage();

  struct sigaction action {};
  action.sa_handler = OnFinish;
  sigaction(SIGUSR1, &action, nullptr);

  // The node refuses opens (ENODEV) until the host has set the printer's
  // interface, which may come after the host's driver has bound it.
  int in = -1;
  for (int tries = 0; tries < 50; ++tries) {
    in = open(options.device, O_RDONLY | O_NONBLOCK);
    if (in >= 0 || errno != ENODEV) break;
    usleep(100 * 1000);
  }
  if (in < 0) return Fail("cannot open", options.device);
  if (options.status >= 0) {
    unsigned char status = static_cast<unsigned char>(options.status);
    if (ioctl(in, GADGET_SET_PRINTER_STATUS, status) < 0) return Fail("cannot set status on", options.device);
  }
  int out = open(options.output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) return Fail("cannot create", options.output);
  if (options.ready) Touch(options.ready);

  // The gadget driver hands out at most one request's worth per read.
  static unsigned char buffer[64 * 1024];
  unsigned long long received = 0;
  int quietMs = 0;
  bool held = false;
  bool draining = false;
  for (;;) {
    if (options.expect > 0 && received >= options.expect) break;
    if (options.hold && !held && received >= options.holdAfter) {
      Hold(options.mark);
      held = true;
    }
    // Told to finish: what the host sent is in the gadget's buffers by now,
    // or arrives within a second.
    if (finishing && !draining) {
      draining = true;
      quietMs = 0;
    }
    if (draining && quietMs >= 1000) break;

    size_t want = sizeof buffer;
    if (options.hold && !held) want = static_cast<size_t>(std::min<unsigned long long>(want, options.holdAfter - received));
    // Read first: the driver queues its receive requests on a read, not on
    // a poll.
    ssize_t n = read(in, buffer, want);
    if (n > 0) {
      if (!WriteAll(out, buffer, static_cast<size_t>(n))) return Fail("cannot write", options.output);
      received += static_cast<unsigned long long>(n);
      quietMs = 0;
      if (options.rate) usleep(static_cast<useconds_t>(static_cast<unsigned long long>(n) * 1000000 / options.rate));
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) break;  // the gadget went away (unplugged)
    struct pollfd ready = {in, POLLIN, 0};
    int r = poll(&ready, 1, 100);
    if (r < 0 && errno != EINTR) return Fail("cannot poll", options.device);
    if (r == 0 || n == 0) {
      quietMs += 100;
      if (r > 0) usleep(100 * 1000);  // readable yet empty: do not spin
    }
  }
  close(out);
  close(in);
  std::printf("%llu\n", received);
  return 0;
}

int Pattern(int argc, char** argv) {
  if (argc != 4) return Usage();
  const std::string bytes = korvo::test::Pattern(std::strtoull(argv[2], nullptr, 0));
  int out = open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) return Fail("cannot create", argv[3]);
  if (!WriteAll(out, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size())) {
    return Fail("cannot write", argv[3]);
  }
  return close(out) == 0 ? 0 : Fail("cannot write", argv[3]);
}

int Lock(int argc, char** argv) {
  if (argc != 3) return Usage();
  int fd = open(argv[2], O_RDONLY);
  if (fd < 0) return Fail("cannot open", argv[2]);
  if (flock(fd, LOCK_EX) != 0) return Fail("cannot lock", argv[2]);
  std::printf("locked\n");
  std::fflush(stdout);
  for (;;) pause();
}

int Exec(int argc, char** argv) {
  int first = 2;
  bool closedStdout = false;
  if (first < argc && std::strcmp(argv[first], "--closed-stdout") == 0) {
    closedStdout = true;
    ++first;
  }
  if (first >= argc || std::strcmp(argv[first], "--") != 0 || first + 1 >= argc) return Usage();
  ++first;

  for (int s = 1; s < NSIG; ++s) signal(s, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);

  if (closedStdout) {
    int ends[2];
    if (pipe(ends) != 0) return Fail("cannot make", "a pipe");
    close(ends[0]);
    if (dup2(ends[1], STDOUT_FILENO) < 0) return Fail("cannot redirect", "stdout");
    close(ends[1]);
  }
  execvp(argv[first], argv + first);
  return Fail("cannot run", argv[first]);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  std::string command = argv[1];
  if (command == "receive") return Receive(argc, argv);
  if (command == "pattern") return Pattern(argc, argv);
  if (command == "lock") return Lock(argc, argv);
  if (command == "exec") return Exec(argc, argv);
  return Usage();
}
