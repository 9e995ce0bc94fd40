// The command line is the operator's and every script's. Whatever the words,
// the parser answers; and a command line whose first word is not an option
// means what it meant before there were options: send that file, no
// selectors, the usual choice rule, whatever follows it.
#include <fuzzer/FuzzedDataProvider.h>

#include "FuzzCheck.h"
#include "app/CommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  std::vector<std::string> args;
  size_t count = data.ConsumeIntegralInRange<size_t>(0, 6);
  for (size_t i = 0; i < count; ++i) args.push_back(data.ConsumeRandomLengthString(64).c_str());

  korvo::CommandLine line = korvo::ParseCommandLine(args);

  if (!args.empty() && !args[0].empty() && args[0][0] != '-') {
    FUZZ_REQUIRE(line.action == korvo::Action::SendFile);
    FUZZ_REQUIRE(line.file == args[0]);
    FUZZ_REQUIRE(line.selector.Empty());
    size_t stray = 0;  // what the hint on stray options names
    for (size_t i = 1; i < args.size(); ++i) stray += args[i].size() >= 2 && args[i][0] == '-';
    FUZZ_REQUIRE(line.ignored.size() == stray);
  }
  if (line.action == korvo::Action::Error) {
    FUZZ_REQUIRE(!line.error.empty());
    FUZZ_REQUIRE(line.error.find('\n') == std::string::npos);  // one line
  } else {
    FUZZ_REQUIRE(line.error.empty());
  }
  if (line.action == korvo::Action::List) FUZZ_REQUIRE(line.file.empty());
  return 0;
}
