// A device that stops answering: the status request gives up after the
// printer driver's 5 s with ETIMEDOUT, and the write then waits, as a
// printer out of paper makes it wait, until the operator interrupts the run.
// stdout is a terminal here, so the status line shows while the write waits.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "EmulatedRun.h"

namespace korvo::e2e {
namespace {

using Clock = std::chrono::steady_clock;

// Upper bound for anything the tool does on its own; never reached when it works.
constexpr std::chrono::seconds kPatience{60};

// Reads the terminal until `text` has appeared or the patience ran out.
bool ReadUntil(int terminal, const std::string& text, std::string& seen) {
  Clock::time_point deadline = Clock::now() + kPatience;
  while (seen.find(text) == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd fd = {terminal, POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    ssize_t n = read(terminal, buffer, sizeof buffer);
    if (n <= 0) return false;  // the other side is gone
    seen.append(buffer, static_cast<size_t>(n));
  }
  return true;
}

int WaitForExit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The printer's driver, moved aside for the run, is bound again when the
// operator interrupts the held write: korvo-emu's report tells.
TEST(HangingDeviceTest, StatusRequestTimesOutAndTheWriteWaitsForTheOperator) {
  TempDir dir;
  std::string file = dir.Write("data.bin", Pattern(4096));
  std::string captures = dir.PathOf("captures");

  int terminal = -1;
  Clock::time_point start = Clock::now();
  pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    execl(KORVO_EMU_BINARY, KORVO_EMU_BINARY, "--device",
          "vid=6742,product=KORVO%20K1,hang,driver=usblp", "--capture-dir", captures.c_str(),
          "--report", "--", KORVO_TEST_BINARY, file.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }

  std::string seen;
  bool shown = ReadUntil(terminal, "Error code Status:110\r\n", seen);
  Clock::duration waited = Clock::now() - start;

  kill(pid, SIGINT);  // the operator gives up; korvo-emu passes it on
  // Read until the end of the run when the report says otherwise.
  bool reported = ReadUntil(terminal, "korvo-emu: 001/002 driver usblp\r\n", seen);
  int status = WaitForExit(pid);
  close(terminal);

  EXPECT_TRUE(shown) << "terminal: " << seen;
  EXPECT_TRUE(reported) << "terminal: " << seen;
  EXPECT_GE(waited, std::chrono::milliseconds(4500));  // the request waited its 5 s
  EXPECT_EQ(status, 128 + SIGINT);  // ended by the interrupt, not on its own
  EXPECT_EQ(ReadWhole(dir.PathOf("captures/001-002.bin")), "");
}

// Operators log the run to a file or a pipe, where stdout is not line
// buffered: the status line must be there while the write waits.
TEST(HangingDeviceTest, StatusLineReachesAPipeWhileTheWriteWaits) {
  TempDir dir;
  std::string file = dir.Write("data.bin", Pattern(4096));

  int out[2];
  ASSERT_EQ(pipe(out), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    execl(KORVO_EMU_BINARY, KORVO_EMU_BINARY, "--device", "vid=6742,hang", "--",
          KORVO_TEST_BINARY, file.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);

  std::string seen;
  bool shown = ReadUntil(out[0], "Error code Status:110\n", seen);
  kill(pid, SIGINT);
  int status = WaitForExit(pid);
  close(out[0]);

  EXPECT_TRUE(shown) << "stdout: " << seen;
  EXPECT_EQ(status, 128 + SIGINT);
}

// Started with stdin, stdout and stderr closed, the tool must not hand their
// numbers to what it opens next (the device, the file), where printf would
// then write: they are /dev/null while it runs.
TEST(HangingDeviceTest, ClosedStandardStreamsAreNullWhileTheDeviceIsOpen) {
  TempDir dir;
  std::string file = dir.Write("data.bin", Pattern(4096));
  fs::path capture = dir.PathOf("captures/001-002.bin");

  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    execl(KORVO_EMU_BINARY, KORVO_EMU_BINARY, "--device", "vid=6742,hang", "--capture-dir",
          dir.PathOf("captures").c_str(), "--", "/bin/sh", "-c", "exec \"$0\" \"$@\" <&- >&- 2>&-",
          KORVO_TEST_BINARY, file.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  pid_t tool = ChildOf(pid);
  Clock::time_point deadline = Clock::now() + kPatience;
  while (!fs::exists(capture) && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::string targets[3];
  for (int fd = 0; fd <= 2; ++fd) {
    std::error_code error;
    targets[fd] = fs::read_symlink("/proc/" + std::to_string(tool) + "/fd/" + std::to_string(fd), error).string();
  }
  kill(pid, SIGINT);
  WaitForExit(pid);

  ASSERT_TRUE(fs::exists(capture)) << "the device was never opened";
  for (int fd = 0; fd <= 2; ++fd) EXPECT_EQ(targets[fd], "/dev/null") << "descriptor " << fd;
}

}  // namespace
}  // namespace korvo::e2e
