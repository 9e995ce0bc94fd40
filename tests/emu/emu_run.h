// Runs korvo-emu (and emu-client under it) for the tests and collects the result.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "support/Pattern.h"
#include "support/Process.h"
#include "support/TempDir.h"

using korvo::test::Pattern;
using korvo::test::ProcessResult;
using korvo::test::ReadWhole;
using korvo::test::RunProcess;
using korvo::test::TempDir;

// korvo-emu with `options`, then "--", then `command`.
inline ProcessResult RunEmu(const std::vector<std::string>& options,
                            const std::vector<std::string>& command) {
  std::vector<std::string> argv = {KORVO_EMU_PATH};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.emplace_back("--");
  argv.insert(argv.end(), command.begin(), command.end());
  return RunProcess(argv);
}

// korvo-emu `options` -- emu-client `client_args`.
inline ProcessResult RunClient(const std::vector<std::string>& options,
                               const std::vector<std::string>& client_args) {
  std::vector<std::string> command{EMU_CLIENT_PATH};
  command.insert(command.end(), client_args.begin(), client_args.end());
  return RunEmu(options, command);
}

// emu-client on bus 1 address 2 running `steps`, with one device described by
// `device_options` and korvo-emu's `extra` options.
inline ProcessResult RunDevice(const std::string& device_options,
                               const std::vector<std::string>& steps,
                               const std::vector<std::string>& extra = {}) {
  std::vector<std::string> options = {"--device", device_options};
  options.insert(options.end(), extra.begin(), extra.end());
  std::vector<std::string> args = {"1", "2"};
  args.insert(args.end(), steps.begin(), steps.end());
  return RunClient(options, args);
}

// Lines of `text`, without their line ends.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}
