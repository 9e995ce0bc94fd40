#pragma once

#include <string>
#include <vector>

namespace korvo::test {

struct ProcessResult {
  int status = -1;     // exit status, or 128 + signal number
  std::string out;     // everything written to stdout
  std::string err;     // everything written to stderr
};

// Where the child's stdout goes: to `out`, or into a pipe that nobody reads
// any more, as in `command | true` (writes fail with EPIPE or SIGPIPE).
enum class Stdout { Captured, ReaderGone };

// Runs argv[0] (a path) with argv, with `input` on stdin (then end of input),
// and collects both output streams. No controlling terminal is given to it,
// and SIGPIPE has its default action.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input = "",
                         Stdout stdoutMode = Stdout::Captured);

}  // namespace korvo::test
