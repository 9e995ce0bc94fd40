#include <windows.h>

#include "support/Process.h"

namespace korvo::test {

namespace {

HANDLE InheritableFile(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     disposition, 0, nullptr);
}

}  // namespace

Process::~Process() {
  if (!process_) return;
  TerminateProcess(reinterpret_cast<HANDLE>(process_), 1);
  WaitForSingleObject(reinterpret_cast<HANDLE>(process_), INFINITE);  // lets go of its files
  CloseHandle(reinterpret_cast<HANDLE>(process_));
}

bool Process::Start(const std::vector<std::string>& argv, Stdout stdoutMode, const char* desktop) {
  // Each word quoted for CreateProcess (the words here hold no quotes).
  std::string commandLine;
  for (const std::string& word : argv) commandLine += (commandLine.empty() ? "\"" : " \"") + word + "\"";
  HANDLE input = InheritableFile("NUL", GENERIC_READ, OPEN_EXISTING);
  HANDLE output = InheritableFile(outputs_.PathOf("out"), GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE errors = InheritableFile(outputs_.PathOf("err"), GENERIC_WRITE, CREATE_ALWAYS);
  if (stdoutMode == Stdout::Console) {
    // A console handle takes reads too: the console asks for both.
    for (HANDLE* stream : {&output, &errors}) {
      if (*stream != INVALID_HANDLE_VALUE) CloseHandle(*stream);
      *stream = InheritableFile("CONOUT$", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    }
  }

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
    DWORD flags = ownGroup_ ? CREATE_NEW_PROCESS_GROUP : 0;
    started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, flags, nullptr,
                             nullptr, &startup, &info) != FALSE;
    if (started) {
      CloseHandle(info.hThread);
      process_ = reinterpret_cast<std::intptr_t>(info.hProcess);
    }
  }
  for (HANDLE handle : {input, output, errors}) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  return started;
}

unsigned long Process::Id() const { return GetProcessId(reinterpret_cast<HANDLE>(process_)); }

bool Process::Wait(unsigned milliseconds) {
  HANDLE process = reinterpret_cast<HANDLE>(process_);
  if (!process) return false;
  process_ = 0;
  bool ended = WaitForSingleObject(process, milliseconds) == WAIT_OBJECT_0;
  if (!ended) {
    TerminateProcess(process, 1);
    WaitForSingleObject(process, INFINITE);
  }
  DWORD code = 0;
  if (ended && GetExitCodeProcess(process, &code)) status_ = static_cast<int>(code);
  CloseHandle(process);
  return ended;
}

}  // namespace korvo::test
