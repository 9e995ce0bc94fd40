// Whatever the operator types at the device question, the dialog ends in a
// cancel or in one of the devices listed, and the terminal is left as it was
// found. The real dialog runs on a pseudo-terminal that is this process's
// controlling terminal; a thread plays the operator.
#include <fuzzer/FuzzedDataProvider.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "FuzzCheck.h"
#include "discovery/DeviceList.h"
#include "discovery/SelectDlg.h"
#include "fake/FakeDiscovery.h"

namespace {

int g_master = -1;
int g_terminal = -1;  // the slave side, kept open so that the terminal stays

// A process group leader cannot start a session; a child of it can, and the
// parent then only waits for it.
void StartSession() {
  if (setsid() >= 0) return;
  pid_t child = fork();
  FUZZ_REQUIRE(child >= 0);
  if (child > 0) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {}
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  }
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  FUZZ_REQUIRE(setsid() >= 0);
}

// Typed bytes, with the operator's terminal settings. Signal keys and flow
// control belong to the terminal, not to the answer: they are off, so that
// every byte typed reaches the prompt.
void SetUpTerminal(unsigned char erase, unsigned char end) {
  termios mode;
  FUZZ_REQUIRE(tcgetattr(g_terminal, &mode) == 0);
  mode.c_lflag &= ~ISIG;
  mode.c_iflag &= ~(IXON | ICRNL);
  mode.c_cc[VERASE] = erase;
  mode.c_cc[VEOF] = end;
  FUZZ_REQUIRE(tcsetattr(g_terminal, TCSANOW, &mode) == 0);
}

bool SameMode(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

constexpr int kRestoredSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

struct Dispositions {
  void (*handler[std::size(kRestoredSignals)])(int);
};

Dispositions CurrentDispositions() {
  Dispositions now{};
  for (size_t i = 0; i < std::size(kRestoredSignals); ++i) {
    struct sigaction action;
    FUZZ_REQUIRE(sigaction(kRestoredSignals[i], nullptr, &action) == 0);
    now.handler[i] = action.sa_handler;
  }
  return now;
}

// Escape alone is an Escape with nothing after it for a while.
constexpr auto kEscapeAlone = std::chrono::milliseconds(150);

// The operator: waits for the question (keys typed earlier are discarded by
// the dialog), then types `keys`, reading whatever the dialog shows. After
// the first `pauseAt` keys, the operator pauses.
void Operate(const std::string& keys, size_t pauseAt, const std::atomic<bool>& done) {
  bool asked = false;
  size_t sent = 0;
  std::optional<std::chrono::steady_clock::time_point> resume;
  while (!done) {
    if (sent == pauseAt && !resume) resume = std::chrono::steady_clock::now() + kEscapeAlone;
    bool typing = sent != pauseAt || std::chrono::steady_clock::now() >= *resume;
    short events = POLLIN;
    if (asked && typing && sent < keys.size()) events |= POLLOUT;
    pollfd ready = {g_master, events, 0};
    if (poll(&ready, 1, 5) <= 0) continue;
    if (ready.revents & POLLIN) {
      char shown[4096];
      if (read(g_master, shown, sizeof shown) > 0) asked = true;
    }
    if (ready.revents & POLLOUT) {
      size_t upTo = sent < pauseAt ? std::min(pauseAt, keys.size()) : keys.size();
      ssize_t n = write(g_master, keys.data() + sent, std::min<size_t>(upTo - sent, 64));
      if (n > 0) sent += static_cast<size_t>(n);
    }
  }
}

void DrainShown() {
  char shown[4096];
  while (read(g_master, shown, sizeof shown) > 0) {}
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  StartSession();
  FUZZ_REQUIRE(openpty(&g_master, &g_terminal, nullptr, nullptr, nullptr) == 0);
  FUZZ_REQUIRE(ioctl(g_terminal, TIOCSCTTY, 0) == 0);
  FUZZ_REQUIRE(fcntl(g_master, F_SETFL, fcntl(g_master, F_GETFL) | O_NONBLOCK) == 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  int count = data.ConsumeIntegralInRange(0, 12);
  unsigned char erase = data.ConsumeIntegral<unsigned char>();
  unsigned char end = data.ConsumeIntegral<unsigned char>();
  if (end == 0) end = 0x04;  // the end key cannot be switched off: nothing else ends a line
  std::string keys = data.ConsumeRemainingBytesAsString();
  // Keys that end in Escape are followed by a pause: Escape alone.
  size_t pauseAt = !keys.empty() && keys.back() == '\x1b' ? keys.size() : std::string::npos;
  // Ends whatever the keys left open: "~" closes an escape sequence, Enter
  // the line, and the end key on the empty line that follows the input.
  keys += "~\n";
  keys += static_cast<char>(end);

  korvo::fake::Discovery() = {};
  for (int i = 0; i < count; ++i) {
    korvo::fake::Discovery().interfaces.push_back(
        korvo::fake::Interface("/dev/bus/usb/001/" + std::to_string(i + 2), "Device"));
  }
  korvo::DeviceList list(korvo::GUID_DEVINTERFACE_USB_DEVICE);
  list.Enumerate();

  SetUpTerminal(erase, end);
  termios found;
  FUZZ_REQUIRE(tcgetattr(g_terminal, &found) == 0);
  Dispositions foundDispositions = CurrentDispositions();

  korvo::CSelectDlg dialog;
  dialog.m_pDeviceList = &list;
  std::atomic<bool> done = false;
  std::thread operatorThread(Operate, std::cref(keys), pauseAt, std::cref(done));
  int result = dialog.DoModal();
  done = true;
  operatorThread.join();
  DrainShown();

  FUZZ_REQUIRE(result == IDCANCEL || result == IDOK);
  if (result == IDOK) FUZZ_REQUIRE(dialog.m_nSelected >= 0 && dialog.m_nSelected < count);
  termios left;
  FUZZ_REQUIRE(tcgetattr(g_terminal, &left) == 0);
  FUZZ_REQUIRE(SameMode(found, left));
  Dispositions leftDispositions = CurrentDispositions();
  FUZZ_REQUIRE(std::memcmp(&foundDispositions, &leftDispositions, sizeof leftDispositions) == 0);
  return 0;
}
