// Runs korvo-emu (and emu-client under it) for the tests and collects the result.
#pragma once

#include <string>
#include <vector>

struct RunResult {
  int exit_status = -1;
  std::string out;
  std::string err;
};

// Runs `program` with `args`, stdout and stderr captured.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args);

// korvo-emu with `options`, then "--", then `command`.
RunResult RunEmu(const std::vector<std::string>& options, const std::vector<std::string>& command);

// korvo-emu `options` -- emu-client `client_args`.
RunResult RunClient(const std::vector<std::string>& options,
                    const std::vector<std::string>& client_args);

// emu-client on bus 1 address 2 running `steps`, with one device described by
// `device_options` and korvo-emu's `extra` options.
RunResult RunDevice(const std::string& device_options, const std::vector<std::string>& steps,
                    const std::vector<std::string>& extra = {});

// A fresh directory under /tmp, removed with its files when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);
bool FileExists(const std::string& path);

// Lines of `text`, without their line ends.
std::vector<std::string> Lines(const std::string& text);
