// Runs of this program as children, started with posix_spawn. An interrupt
// sent to this process alone (kill, a CI runner's SIGTERM) must still reach
// every child, so that each gives its device back: a handler passes it on.
#include "platform/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <new>

extern char** environ;

#include "platform/linux/Linux.h"

namespace korvo {

// Records are reused, never freed: the handler may walk them at any moment.
struct ChildProcess {
  std::atomic<pid_t> pid{0};  // 0 once the child is reaped
  std::atomic<bool> used{true};
  int out = -1;
  int err = -1;
  ChildProcess* next = nullptr;  // set before the record is listed
};

namespace {

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<ChildProcess*> g_children{nullptr};
std::atomic<int> g_interrupt{0};  // the first that came
static_assert(std::atomic<pid_t>::is_always_lock_free &&
                  std::atomic<ChildProcess*>::is_always_lock_free,
              "used from a signal handler");

// Each side writes its own variable before it reads the other's (here the
// interrupt, in StartOwnProgram the pid), so a child started meanwhile is
// told once or twice, never not.
extern "C" void PassOn(int signal) {
  int saved = errno;
  int none = 0;
  g_interrupt.compare_exchange_strong(none, signal);
  for (ChildProcess* child = g_children.load(); child; child = child->next) {
    if (pid_t pid = child->pid.load(); pid > 0) kill(pid, signal);
  }
  NoteStopRequest();  // a wait for more units ends too
  errno = saved;
}

void CatchInterrupts() {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  struct sigaction action = {};
  action.sa_handler = PassOn;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal : kInterrupts) {
    struct sigaction previous;
    // Ignored (nohup) stays ignored, for the children too.
    if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN) {
      sigaction(signal, &action, nullptr);
    }
  }
}

ChildProcess* TakeRecord() {
  for (ChildProcess* child = g_children.load(); child; child = child->next) {
    bool used = false;
    if (child->used.compare_exchange_strong(used, true)) return child;
  }
  ChildProcess* child = new (std::nothrow) ChildProcess;
  if (!child) {
    errno = ENOMEM;
    return nullptr;
  }
  child->next = g_children.load();
  while (!g_children.compare_exchange_weak(child->next, child)) {
  }
  return child;
}

void Close(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

// The two pipes, the spawn and the pid: false, with errno, when any fails.
bool Spawn(ChildProcess* child, const std::vector<std::string>& args) {
  char self[PATH_MAX] = "korvo-test";  // for ps; the exec takes /proc/self/exe
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length > 0) self[length] = '\0';
  std::vector<char*> argv = {self};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  int out[2] = {-1, -1}, err[2] = {-1, -1};
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    int error = errno;
    for (int* fd : {&out[0], &out[1], &err[0], &err[1]}) Close(fd);
    errno = error;
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  // Whatever a library opened without O_CLOEXEC stays here too.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  pid_t pid = 0;
  int spawned = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  Close(&out[1]);
  Close(&err[1]);
  if (spawned != 0) {
    Close(&out[0]);
    Close(&err[0]);
    errno = spawned;
    return false;
  }
  child->out = out[0];
  child->err = err[0];
  child->pid.store(pid);
  if (int interrupt = g_interrupt.load(); interrupt != 0) kill(pid, interrupt);
  return true;
}

}  // namespace

ChildProcess* StartOwnProgram(const std::vector<std::string>& args) {
  CatchInterrupts();
  ChildProcess* child = TakeRecord();
  if (child && !Spawn(child, args)) {
    child->used.store(false);
    return nullptr;
  }
  return child;
}

long ReadChildOutput(ChildProcess* child, ChildOutput output, char* buffer, size_t size) {
  int fd = output == ChildOutput::Out ? child->out : child->err;
  ssize_t count;
  do {
    count = read(fd, buffer, size);
  } while (count < 0 && errno == EINTR);
  return static_cast<long>(count);
}

ChildEnd WaitChild(ChildProcess* child) {
  const pid_t pid = child->pid.load();
  // Reaped only once the handler can no longer send it anything: its pid
  // may then go to another process.
  siginfo_t info;
  while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
  }
  child->pid.store(0);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  Close(&child->out);
  Close(&child->err);
  child->used.store(false);
  ChildEnd end;
  if (WIFEXITED(status)) end.exitStatus = static_cast<uint32_t>(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) end.signal = WTERMSIG(status);
  return end;
}

bool ChildrenInterrupted() { return g_interrupt.load() != 0; }

void EndAsInterrupted() {
  const int signal = g_interrupt.load();
  std::fflush(nullptr);
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  sigaction(signal, &fallback, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  raise(signal);
  _exit(128 + signal);
}

}  // namespace korvo
