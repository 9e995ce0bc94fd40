#include "platform/linux/TerminalSession.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>

namespace korvo {

namespace {

// What the signal handler needs to give the terminal back. Set before the
// handlers are installed and kept until they are removed.
int g_ttyFd = -1;
termios g_foundState;

constexpr int kRestoringSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction g_previous[std::size(kRestoringSignals)];
bool g_installed[std::size(kRestoringSignals)];

// Gives the terminal back, then lets the signal do what it would have done:
// SA_RESETHAND has put the default action back in place.
extern "C" void RestoreTerminalAndResignal(int signal) {
  int savedErrno = errno;
  if (g_ttyFd >= 0) tcsetattr(g_ttyFd, TCSANOW, &g_foundState);
  raise(signal);
  errno = savedErrno;
}

void InstallRestoringHandlers() {
  struct sigaction action = {};
  action.sa_handler = RestoreTerminalAndResignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  for (size_t i = 0; i < std::size(kRestoringSignals); ++i) {
    g_installed[i] = false;
    if (sigaction(kRestoringSignals[i], nullptr, &g_previous[i]) != 0) continue;
    if (g_previous[i].sa_handler == SIG_IGN) continue;  // nohup and friends: stays ignored
    g_installed[i] = sigaction(kRestoringSignals[i], &action, nullptr) == 0;
  }
}

void RemoveRestoringHandlers() {
  for (size_t i = 0; i < std::size(kRestoringSignals); ++i) {
    if (g_installed[i]) sigaction(kRestoringSignals[i], &g_previous[i], nullptr);
    g_installed[i] = false;
  }
}

}  // namespace

TerminalSession::~TerminalSession() {
  if (keyMode_) {
    tcsetattr(fd_, TCSANOW, &g_foundState);
    RemoveRestoringHandlers();
    g_ttyFd = -1;
  }
  if (fd_ >= 0) close(fd_);
}

bool TerminalSession::Open() {
  // Without a controlling terminal this fails at once (ENXIO); it never waits.
  fd_ = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  return fd_ >= 0;
}

bool TerminalSession::EnterKeyMode() {
  if (tcgetattr(fd_, &g_foundState) != 0) return false;
  erase_ = g_foundState.c_cc[VERASE];
  end_ = g_foundState.c_cc[VEOF];

  termios keys = g_foundState;
  keys.c_lflag &= ~(ICANON | ECHO | IEXTEN);
  keys.c_cc[VMIN] = 1;
  keys.c_cc[VTIME] = 0;
  // Suspending would leave the terminal in this mode under the shell.
  keys.c_cc[VSUSP] = _POSIX_VDISABLE;

  g_ttyFd = fd_;
  InstallRestoringHandlers();
  // Keys typed before the question was asked (a stray Enter while the
  // devices were being listed) must not answer it: they are discarded.
  if (tcsetattr(fd_, TCSAFLUSH, &keys) != 0) {
    RemoveRestoringHandlers();
    g_ttyFd = -1;
    return false;
  }
  keyMode_ = true;
  return true;
}

void TerminalSession::Write(std::string_view text) {
  while (!text.empty()) {
    ssize_t n = write(fd_, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a terminal that takes nothing shows up when reading
    text.remove_prefix(static_cast<size_t>(n));
  }
}

int TerminalSession::ReadByte(int timeoutMs) {
  for (;;) {
    if (timeoutMs >= 0) {
      pollfd ready = {fd_, POLLIN, 0};
      int n = poll(&ready, 1, timeoutMs);
      if (n < 0 && errno == EINTR) continue;
      if (n == 0) return kTimeout;
      if (n < 0) return kEnd;
    }
    unsigned char byte = 0;
    ssize_t n = read(fd_, &byte, 1);
    if (n == 1) return byte;
    if (n < 0 && errno == EINTR) continue;
    return kEnd;  // 0: end of input; else e.g. EIO once the terminal hangs up
  }
}

}  // namespace korvo
