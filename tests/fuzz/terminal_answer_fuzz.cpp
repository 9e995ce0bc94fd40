// Whatever the operator types at the device question, fed key by key as the
// terminal loop feeds it: every answer ends in a cancel, the end, or one of
// the items listed, and what the terminal shows only grows and matches the
// answer: a line of at most 16 printable keys, erased only while it has some.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "platform/linux/DialogPresenter.h"

namespace {

// The input's keys, with 0xff x standing for a timeout (x = 0), the end of
// input (x = 1), or key x.
std::vector<int> Events(const std::string& bytes) {
  std::vector<int> events;
  for (size_t i = 0; i < bytes.size(); ++i) {
    int c = static_cast<unsigned char>(bytes[i]);
    if (c == 0xff && i + 1 < bytes.size()) {
      int next = static_cast<unsigned char>(bytes[++i]);
      c = next == 0 ? korvo::kTimeout : next == 1 ? korvo::kEndOfInput : next;
    }
    events.push_back(c);
  }
  return events;
}

// The line the echo leaves on the terminal, checking it on the way.
std::string ShownLine(const std::string& echo) {
  std::string line;
  for (size_t i = 0; i < echo.size(); ++i) {
    if (echo.compare(i, 3, "\b \b") == 0) {
      FUZZ_REQUIRE(!line.empty());
      line.pop_back();
      i += 2;
    } else if (echo[i] == '\n') {
      FUZZ_REQUIRE(i + 1 == echo.size());
    } else {
      FUZZ_REQUIRE(echo[i] >= 0x21 && echo[i] < 0x7f);
      line += echo[i];
    }
  }
  FUZZ_REQUIRE(line.size() <= 16);
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  int count = data.ConsumeIntegralInRange(0, 12);
  unsigned char erase = data.ConsumeIntegral<unsigned char>();
  unsigned char end = data.ConsumeIntegral<unsigned char>();
  std::vector<int> events = Events(data.ConsumeRemainingBytesAsString());
  int preselected = count - 1;  // as the dialog opens

  // One question after another, as long as the answers are refused. Once
  // the input runs out, the terminal gives a timeout where one is waited
  // for, else the end of input.
  size_t next = 0;
  for (;;) {
    std::vector<int> keys;
    korvo::Answer answer = korvo::ReadAnswer(keys, count, preselected, erase, end);
    FUZZ_REQUIRE(answer.echo.empty());
    while (answer.kind == korvo::Answer::NeedKey || answer.kind == korvo::Answer::NeedKeySoon) {
      bool soon = answer.kind == korvo::Answer::NeedKeySoon;
      keys.push_back(next < events.size() ? events[next++]
                                          : soon ? korvo::kTimeout : korvo::kEndOfInput);
      korvo::Answer more = korvo::ReadAnswer(keys, count, preselected, erase, end);
      FUZZ_REQUIRE(more.echo.compare(0, answer.echo.size(), answer.echo) == 0);
      answer = more;
      FUZZ_REQUIRE(keys.size() <= events.size() + 3);
    }
    FUZZ_REQUIRE(!answer.echo.empty() && answer.echo.back() == '\n');
    std::string line = ShownLine(answer.echo);
    if (answer.kind == korvo::Answer::Confirm) {
      FUZZ_REQUIRE(answer.item >= 0 && answer.item < count);
      // The line shown is what was chosen: nothing for the preselected
      // item, else its number, leading zeros or not.
      if (line.empty()) {
        FUZZ_REQUIRE(answer.item == preselected);
      } else {
        unsigned long long value = 0;
        for (char c : line) {
          FUZZ_REQUIRE(c >= '0' && c <= '9');
          value = value * 10 + static_cast<unsigned>(c - '0');
        }
        FUZZ_REQUIRE(value == static_cast<unsigned long long>(answer.item) + 1);
      }
    }
    if (answer.kind != korvo::Answer::Invalid) {
      FUZZ_REQUIRE(answer.kind == korvo::Answer::Cancel || answer.kind == korvo::Answer::End ||
                   answer.kind == korvo::Answer::Confirm);
      return 0;
    }
  }
}
