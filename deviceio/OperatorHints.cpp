#include "deviceio/OperatorHints.h"

#include <cstdio>

#include "platform/TerminalText.h"

namespace korvo {

void ShowHints(const std::vector<std::string>& lines) {
  if (lines.empty() || !StderrIsTerminal()) return;
  std::fflush(stdout);
  for (const std::string& line : lines) WriteText(stderr, "korvo-test: " + line + "\n");
  std::fflush(stderr);
}

}  // namespace korvo
