#pragma once

#include <string>

namespace korvo::win32test {

// A program started with its standard output and error going to files of
// its own, and its standard input empty.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // `commandLine` as CreateProcess takes it; the first word is the program.
  // `desktop`: "station\\desktop" to run it in, else this process's.
  bool Start(const std::string& commandLine, const char* desktop = nullptr);
  // Waits for the end, at most `milliseconds`; false when it has not ended
  // (it is then killed).
  bool Wait(unsigned milliseconds);

  unsigned long ExitCode() const { return exitCode_; }
  std::string Output() const;  // standard output, as written
  std::string Errors() const;  // standard error, as written

 private:
  void* process_ = nullptr;
  unsigned long exitCode_ = 0;
  std::string outputFile_;
  std::string errorFile_;
};

// Runs the program to its end (at most 30 s).
struct ProgramRun {
  bool ended;
  unsigned long exitCode;
  std::string output;
  std::string errors;
};
ProgramRun RunProgram(const std::string& commandLine, const char* desktop = nullptr);

// "program" "argument": quoted for CreateProcess (the arguments here hold no quotes).
std::string Quote(const std::string& word);

}  // namespace korvo::win32test
