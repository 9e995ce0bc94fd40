#include "emu_run.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args) {
  TempDir outputs;
  const std::string out_path = outputs.File("out");
  const std::string err_path = outputs.File("err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT, 0600);
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  RunResult result;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    throw std::runtime_error("cannot start " + program);
  }
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadFile(out_path);
  result.err = ReadFile(err_path);
  return result;
}

RunResult RunEmu(const std::vector<std::string>& options, const std::vector<std::string>& command) {
  std::vector<std::string> args = options;
  args.emplace_back("--");
  args.insert(args.end(), command.begin(), command.end());
  return RunProgram(KORVO_EMU_PATH, args);
}

RunResult RunClient(const std::vector<std::string>& options,
                    const std::vector<std::string>& client_args) {
  std::vector<std::string> command{EMU_CLIENT_PATH};
  command.insert(command.end(), client_args.begin(), client_args.end());
  return RunEmu(options, command);
}

RunResult RunDevice(const std::string& device_options, const std::vector<std::string>& steps,
                    const std::vector<std::string>& extra) {
  std::vector<std::string> options = {"--device", device_options};
  options.insert(options.end(), extra.begin(), extra.end());
  std::vector<std::string> args = {"1", "2"};
  args.insert(args.end(), steps.begin(), steps.end());
  return RunClient(options, args);
}

TempDir::TempDir() {
  char pattern[] = "/tmp/emu-test.XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}
