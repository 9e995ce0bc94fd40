// Runs of this program as children. They share our console, so Ctrl-C and
// Ctrl-Break reach them from it; this process lives on to count them.
#include "platform/ChildProcess.h"

#include <atomic>
#include <cstdio>
#include <initializer_list>
#include <new>
#include <string>
#include <vector>

#include "platform/win32/Win32.h"

namespace korvo {

struct ChildProcess {
  HANDLE process;
  HANDLE out;
  HANDLE err;
};

namespace {

std::atomic<bool> g_interrupted{false};

BOOL WINAPI NoteInterrupt(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  g_interrupted.store(true);
  NoteStopRequest();  // a wait for more units ends too
  return TRUE;
}

std::wstring Widened(const std::string& text) {
  int length =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

// One word of a command line, as CommandLineToArgvW and the C runtime read
// it back: in quotes, a quote escaped, and backslashes doubled only where a
// quote follows them.
void AppendQuoted(std::wstring& line, const std::wstring& word) {
  if (!line.empty()) line += L' ';
  line += L'"';
  size_t backslashes = 0;
  for (wchar_t c : word) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    line += c;
    backslashes = 0;
  }
  line.append(2 * backslashes, L'\\');
  line += L'"';
}

// The path of our own executable, whatever its length.
std::wstring OwnPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return L"";
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// A pipe whose write end the child may inherit; false, with the last error,
// when it cannot be made.
bool ChildPipe(HANDLE* ours, HANDLE* theirs) {
  if (!CreatePipe(ours, theirs, nullptr, 0)) return false;
  if (SetHandleInformation(*theirs, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) return true;
  DWORD error = GetLastError();
  CloseHandle(*ours);
  CloseHandle(*theirs);
  SetLastError(error);
  return false;
}

void CloseAll(std::initializer_list<HANDLE> handles) {
  DWORD error = GetLastError();
  for (HANDLE handle : handles) {
    if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  SetLastError(error);
}

// Starts `program` with the three handles for its standard streams, and no
// other of ours: false, with the last error, when it cannot.
bool Create(const std::wstring& program, std::wstring& commandLine, HANDLE input, HANDLE output,
            HANDLE errors, PROCESS_INFORMATION* info) {
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::string storage(size, '\0');
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
  if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size)) return false;
  HANDLE inherited[] = {input, output, errors};
  bool created = false;
  if (UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                sizeof inherited, nullptr, nullptr)) {
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input;
    startup.StartupInfo.hStdOutput = output;
    startup.StartupInfo.hStdError = errors;
    startup.lpAttributeList = attributes;
    created = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                             EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr, &startup.StartupInfo,
                             info) != FALSE;
  }
  DWORD error = GetLastError();
  DeleteProcThreadAttributeList(attributes);
  SetLastError(error);
  return created;
}

}  // namespace

ChildProcess* StartOwnProgram(const std::vector<std::string>& args) {
  static std::atomic<bool> handling{false};
  if (!handling.exchange(true)) SetConsoleCtrlHandler(NoteInterrupt, TRUE);

  const std::wstring program = OwnPath();
  if (program.empty()) return nullptr;
  std::wstring commandLine;
  AppendQuoted(commandLine, program);
  for (const std::string& arg : args) AppendQuoted(commandLine, Widened(arg));

  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return nullptr;
  HANDLE out = nullptr, outChild = nullptr, err = nullptr, errChild = nullptr;
  if (!ChildPipe(&out, &outChild)) {
    CloseAll({input});
    return nullptr;
  }
  if (!ChildPipe(&err, &errChild)) {
    CloseAll({input, out, outChild});
    return nullptr;
  }
  PROCESS_INFORMATION info = {};
  bool created = Create(program, commandLine, input, outChild, errChild, &info);
  CloseAll({input, outChild, errChild});  // the child has its own now
  ChildProcess* child =
      created ? new (std::nothrow) ChildProcess{info.hProcess, out, err} : nullptr;
  if (!child) {
    if (created) {
      TerminateProcess(info.hProcess, 1);
      CloseAll({info.hProcess});
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    CloseAll({out, err});
  }
  if (created) CloseAll({info.hThread});
  return child;
}

long ReadChildOutput(ChildProcess* child, ChildOutput output, char* buffer, size_t size) {
  HANDLE pipe = output == ChildOutput::Out ? child->out : child->err;
  DWORD got = 0;
  // A write of nothing on the other side reads as nothing here, not as the end.
  while (ReadFile(pipe, buffer, static_cast<DWORD>(size), &got, nullptr)) {
    if (got > 0) return static_cast<long>(got);
  }
  return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
}

ChildEnd WaitChild(ChildProcess* child) {
  WaitForSingleObject(child->process, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(child->process, &code);
  CloseAll({child->process, child->out, child->err});
  delete child;
  ChildEnd end;
  end.exitStatus = code;
  return end;
}

bool ChildrenInterrupted() { return g_interrupted.load(); }

void EndAsInterrupted() {
  std::fflush(nullptr);
  ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
}

}  // namespace korvo
