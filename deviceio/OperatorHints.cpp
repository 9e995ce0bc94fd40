#include "deviceio/OperatorHints.h"

#include <cstdio>

#include "platform/TerminalText.h"

namespace korvo {

void ShowHints(const std::vector<std::string>& lines) {
  if (lines.empty() || !StderrIsTerminal()) return;
  std::fflush(stdout);
  for (const std::string& line : lines) std::fprintf(stderr, "korvo-test: %s\n", line.c_str());
  std::fflush(stderr);
}

}  // namespace korvo
