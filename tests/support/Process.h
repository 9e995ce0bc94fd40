// Programs run by the tests with their output captured: ProcessPosix.cpp and
// ProcessWin32.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace korvo::test {

// Where the child's stdout goes: to a file of its own, or (POSIX) into a
// pipe that nobody reads any more, as in `command | true` (writes fail with
// EPIPE or SIGPIPE), or (Windows) with stderr to this process's console,
// where it is seen and not captured.
enum class Stdout { Captured, ReaderGone, Console };

// A program started with stdin empty and stdout and stderr going to files of
// its own. On POSIX it has no controlling terminal, as in a CI job, and
// SIGPIPE has its default action. Stopped when destroyed, if still running.
class Process {
 public:
  Process() = default;
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Runs argv[0] (a path) with argv. `desktop` (Windows): "station\\desktop"
  // to run it in, else this process's.
  bool Start(const std::vector<std::string>& argv, Stdout stdoutMode = Stdout::Captured,
             const char* desktop = nullptr);
  // Windows: the next Start makes the program the first of a console process
  // group of its own (CREATE_NEW_PROCESS_GROUP), which console control events
  // can address by its id. POSIX: it always has a session of its own.
  void InOwnProcessGroup() { ownGroup_ = true; }
  // The process id while it runs.
  unsigned long Id() const;
  // Waits for the end, at most `milliseconds`; false when it has not ended
  // (it is then stopped, with what it started).
  bool Wait(unsigned milliseconds);

  // The exit status (POSIX: 128 + signal number for a signal), once ended.
  int Status() const { return status_; }
  std::string Out() const { return ReadWhole(outputs_.PathOf("out")); }  // as written so far
  std::string Err() const { return ReadWhole(outputs_.PathOf("err")); }

 private:
  TempDir outputs_;
  std::intptr_t process_ = 0;  // POSIX: the pid; Windows: the process handle
  int status_ = -1;
  bool ownGroup_ = false;
};

struct ProcessResult {
  bool ended = false;  // false: it did not start, or was stopped after 2 minutes
  int status = -1;
  std::string out;     // everything written to stdout
  std::string err;     // everything written to stderr
};

// Runs the program to its end and collects both output streams.
inline ProcessResult RunProcess(const std::vector<std::string>& argv,
                                Stdout stdoutMode = Stdout::Captured,
                                const char* desktop = nullptr) {
  Process process;
  ProcessResult result;
  result.ended = process.Start(argv, stdoutMode, desktop) && process.Wait(120000);
  result.status = process.Status();
  result.out = process.Out();
  result.err = process.Err();
  return result;
}

}  // namespace korvo::test
