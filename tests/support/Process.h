#pragma once

#include <string>
#include <vector>

namespace korvo::test {

struct ProcessResult {
  int status = -1;     // exit status, or 128 + signal number
  std::string out;     // everything written to stdout
  std::string err;     // everything written to stderr
};

// Runs argv[0] (a path) with argv, with `input` on stdin (then end of input),
// and collects both output streams. No controlling terminal is given to it.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input = "");

}  // namespace korvo::test
