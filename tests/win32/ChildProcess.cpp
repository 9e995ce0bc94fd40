#include "ChildProcess.h"

#include <windows.h>

#include <vector>

#include "WineDevices.h"

namespace korvo::win32test {

namespace {

HANDLE InheritableFile(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     disposition, 0, nullptr);
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (process_) {
    TerminateProcess(process_, 1);
    CloseHandle(process_);
  }
  if (!outputFile_.empty()) DeleteFileA(outputFile_.c_str());
  if (!errorFile_.empty()) DeleteFileA(errorFile_.c_str());
}

bool ChildProcess::Start(const std::string& commandLine, const char* desktop) {
  outputFile_ = TemporaryPath("out");
  errorFile_ = TemporaryPath("err");
  HANDLE input = InheritableFile("NUL", GENERIC_READ, OPEN_EXISTING);
  HANDLE output = InheritableFile(outputFile_, GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE errors = InheritableFile(errorFile_, GENERIC_WRITE, CREATE_ALWAYS);

  bool started = false;
  if (input != INVALID_HANDLE_VALUE && output != INVALID_HANDLE_VALUE &&
      errors != INVALID_HANDLE_VALUE) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string desktopName = desktop ? desktop : "";
    startup.lpDesktop = desktop ? desktopName.data() : nullptr;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = errors;
    PROCESS_INFORMATION info = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                             &startup, &info) != FALSE;
    if (started) {
      CloseHandle(info.hThread);
      process_ = info.hProcess;
    }
  }
  for (HANDLE handle : {input, output, errors}) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  return started;
}

bool ChildProcess::Wait(unsigned milliseconds) {
  if (!process_) return false;
  if (WaitForSingleObject(process_, milliseconds) != WAIT_OBJECT_0) {
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, INFINITE);
    return false;
  }
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  exitCode_ = code;
  return true;
}

std::string ChildProcess::Output() const { return ReadFileBytes(outputFile_); }

std::string ChildProcess::Errors() const { return ReadFileBytes(errorFile_); }

ProgramRun RunProgram(const std::string& commandLine, const char* desktop) {
  ChildProcess child;
  ProgramRun run{false, 0, "", ""};
  if (!child.Start(commandLine, desktop)) return run;
  run.ended = child.Wait(30000);
  run.exitCode = child.ExitCode();
  run.output = child.Output();
  run.errors = child.Errors();
  return run;
}

std::string Quote(const std::string& word) { return "\"" + word + "\""; }

}  // namespace korvo::win32test
