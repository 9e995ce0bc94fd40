#include "child_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace korvo_emu {
namespace {

constexpr int kForwardedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
// How long what the command left running may go on using the devices.
constexpr int kLeftOverPatienceMs = 2000;

// The handler may run on umockdev's threads, beside RunCommand: each side
// writes its own variable before it reads the other's, so a signal that
// comes while the child is being started reaches it once or twice, never not.
std::atomic<pid_t> g_child{0};
std::atomic<int> g_last_signal{0};
static_assert(std::atomic<pid_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "used from a signal handler");

void Forward(int signal_number) {
  g_last_signal = signal_number;
  const pid_t child = g_child;
  if (child > 0) kill(child, signal_number);
}

// The command decides how to end on these signals; korvo-emu stays to clean up.
// Signals this process ignores stay ignored, and so for the command.
void InstallForwarding() {
  struct sigaction action {};
  action.sa_handler = Forward;
  sigemptyset(&action.sa_mask);
  for (const int signal_number : kForwardedSignals) {
    struct sigaction current {};
    sigaction(signal_number, nullptr, &current);
    if (current.sa_handler != SIG_IGN) sigaction(signal_number, &action, nullptr);
  }
}

std::vector<char*> Pointers(const std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (const std::string& s : strings) pointers.push_back(const_cast<char*>(s.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

int StatusOf(int wait_status) {
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return WEXITSTATUS(wait_status);
}

}  // namespace

int RunCommand(const std::vector<std::string>& command,
               const std::vector<std::string>& environment) {
  std::vector<char*> argv = Pointers(command);
  std::vector<char*> envp = Pointers(environment);
  InstallForwarding();
  // What the command leaves running becomes ours: a process that outlives it
  // to clean up (korvo-test's guardian) gets a moment to end, below.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data());
  if (spawned != 0) {
    std::fprintf(stderr, "korvo-emu: %s: %s\n", argv[0], std::strerror(spawned));
    return spawned == ENOENT ? kExitNotFound : kExitCannotRun;
  }
  g_child = pid;
  if (const int early = g_last_signal; early != 0) kill(pid, early);
  int wait_status = 0;
  while (waitpid(pid, &wait_status, 0) < 0) {
    if (errno != EINTR) {
      std::perror("korvo-emu: waitpid");
      return kExitCannotRun;
    }
  }
  g_child = 0;
  for (int waited = 0; waited < kLeftOverPatienceMs; waited += 10) {
    pid_t ended = waitpid(-1, nullptr, WNOHANG);
    if (ended < 0 && errno == ECHILD) break;
    if (ended <= 0) usleep(10000);
  }
  return StatusOf(wait_status);
}

}  // namespace korvo_emu
