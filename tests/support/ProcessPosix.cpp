#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "support/Process.h"

namespace korvo::test {

Process::~Process() {
  if (process_ > 0) Wait(0);
}

unsigned long Process::Id() const { return static_cast<unsigned long>(process_); }

bool Process::Start(const std::vector<std::string>& argv, Stdout stdoutMode, const char*) {
  // Everything the child needs is made before the fork: it may only make
  // system calls until exec.
  const std::string outPath = outputs_.PathOf("out");
  const std::string errPath = outputs_.PathOf("err");
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  if (stdoutMode == Stdout::Console) return false;  // Windows only
  int readerGone[2] = {-1, -1};
  if (stdoutMode == Stdout::ReaderGone) {
    if (pipe2(readerGone, O_CLOEXEC) != 0) return false;
    close(readerGone[0]);
  }

  pid_t pid = fork();
  if (pid == 0) {
    setsid();
    signal(SIGPIPE, SIG_DFL);  // whatever the test does with it, exec would pass it on
    int in = open("/dev/null", O_RDONLY);
    int out = readerGone[1] >= 0 ? readerGone[1] : open(outPath.c_str(), O_WRONLY | O_CREAT, 0600);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT, 0600);
    if (in < 0 || out < 0 || err < 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execv(args[0], args.data());
    _exit(127);
  }
  if (readerGone[1] >= 0) close(readerGone[1]);
  if (pid < 0) return false;
  process_ = pid;
  return true;
}

bool Process::Wait(unsigned milliseconds) {
  if (process_ <= 0) return false;
  const pid_t pid = static_cast<pid_t>(process_);
  process_ = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  int status = 0;
  for (;;) {
    pid_t ended = waitpid(pid, &status, WNOHANG);
    if (ended == pid) break;
    if (ended < 0 && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(-pid, SIGKILL);  // its session: what it started goes too
      kill(pid, SIGKILL);   // in case it has none yet
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

}  // namespace korvo::test
