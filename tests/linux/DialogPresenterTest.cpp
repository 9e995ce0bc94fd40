// What the keys typed at the terminal's device question mean, and what the
// terminal shows of them. The terminal itself (echo off, type-ahead
// discarded, its state given back) is tested end to end in
// e2e/TerminalDialogTest.cpp.
#include "platform/linux/DialogPresenter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvo {
namespace {

struct Case {
  const char* name;
  // What arrives, byte by byte; in this table \xfe stands for a timeout and
  // \xff for the end of input.
  std::string typed;
  int count = 2;
  int preselected = 1;
  unsigned char eraseKey = 0x7f;
  unsigned char endKey = 0x04;
  Answer::Kind kind;
  int item = -1;
  std::string echo;
};

std::vector<int> Keys(const std::string& typed) {
  std::vector<int> keys;
  for (unsigned char c : typed) {
    keys.push_back(c == 0xfe ? kTimeout : c == 0xff ? kEndOfInput : c);
  }
  return keys;
}

TEST(TerminalAnswerTest, KeysMakeTheAnswerAndItsEcho) {
  const Case cases[] = {
      // Numbers within 1..count, leading zeros allowed.
      {.name = "first", .typed = "1\r", .kind = Answer::Confirm, .item = 0, .echo = "1\n"},
      {.name = "last, line feed", .typed = "2\n", .kind = Answer::Confirm, .item = 1, .echo = "2\n"},
      {.name = "leading zeros", .typed = "002\r", .kind = Answer::Confirm, .item = 1, .echo = "002\n"},
      {.name = "past the last", .typed = "3\r", .kind = Answer::Invalid, .echo = "3\n"},
      {.name = "zero", .typed = "0\r", .kind = Answer::Invalid, .echo = "0\n"},
      {.name = "negative", .typed = "-1\r", .kind = Answer::Invalid, .echo = "-1\n"},
      {.name = "letter", .typed = "x\r", .kind = Answer::Invalid, .echo = "x\n"},
      {.name = "huge", .typed = "99999999999999999999\r", .kind = Answer::Invalid,
       .echo = "9999999999999999\n"},
      {.name = "twelve items", .typed = "12\r", .count = 12, .preselected = 11,
       .kind = Answer::Confirm, .item = 11, .echo = "12\n"},
      // Enter alone takes the preselected item, when there is one.
      {.name = "Enter", .typed = "\r", .kind = Answer::Confirm, .item = 1, .echo = "\n"},
      {.name = "Enter, nothing preselected", .typed = "\r", .preselected = -1,
       .kind = Answer::Invalid, .echo = "\n"},
      {.name = "Enter, no items", .typed = "\r", .count = 0, .preselected = -1,
       .kind = Answer::Invalid, .echo = "\n"},
      {.name = "a number, no items", .typed = "1\r", .count = 0, .preselected = -1,
       .kind = Answer::Invalid, .echo = "1\n"},
      // q cancels; Escape alone does, once nothing follows it in time.
      {.name = "q", .typed = "q\r", .kind = Answer::Cancel, .echo = "q\n"},
      {.name = "Q", .typed = "Q\r", .kind = Answer::Cancel, .echo = "Q\n"},
      {.name = "qq", .typed = "qq\r", .kind = Answer::Invalid, .echo = "qq\n"},
      {.name = "Escape alone", .typed = "1\x1b\xfe", .kind = Answer::Cancel, .echo = "1\n"},
      {.name = "Escape, then the end", .typed = "\x1b\xff", .kind = Answer::Cancel, .echo = "\n"},
      {.name = "Escape pending", .typed = "1\x1b", .kind = Answer::NeedKeySoon, .echo = "1"},
      // Escape sequences are skipped whole.
      {.name = "arrow (CSI)", .typed = "\x1b[B1\r", .kind = Answer::Confirm, .item = 0, .echo = "1\n"},
      {.name = "CSI with parameters", .typed = "\x1b[1;5A2\r", .kind = Answer::Confirm, .item = 1,
       .echo = "2\n"},
      {.name = "arrow (SS3)", .typed = "\x1bOA1\r", .kind = Answer::Confirm, .item = 0, .echo = "1\n"},
      {.name = "Alt with a key", .typed = "\x1bq1\r", .kind = Answer::Confirm, .item = 0, .echo = "1\n"},
      {.name = "CSI pending", .typed = "\x1b[1", .kind = Answer::NeedKeySoon, .echo = ""},
      {.name = "CSI cut short in time", .typed = "\x1b[\xfe" "1\r", .kind = Answer::Confirm,
       .item = 0, .echo = "1\n"},
      {.name = "SS3 cut short in time", .typed = "\x1bO\xfe" "1\r", .kind = Answer::Confirm,
       .item = 0, .echo = "1\n"},
      // Erase: DEL, backspace and the terminal's own erase key.
      {.name = "DEL", .typed = "2\x7f" "1\r", .kind = Answer::Confirm, .item = 0,
       .echo = "2\b \b1\n"},
      {.name = "backspace", .typed = "2\b1\r", .kind = Answer::Confirm, .item = 0,
       .echo = "2\b \b1\n"},
      {.name = "own erase key", .typed = "2\x15" "1\r", .eraseKey = 0x15, .kind = Answer::Confirm,
       .item = 0, .echo = "2\b \b1\n"},
      {.name = "erase on an empty line", .typed = "\x7f\x7f" "1\r", .kind = Answer::Confirm,
       .item = 0, .echo = "1\n"},
      {.name = "erased, then q", .typed = "2\x7fq\r", .kind = Answer::Cancel, .echo = "2\b \bq\n"},
      // The end-of-input key ends an empty line only; the end of input any.
      {.name = "end key", .typed = "\x04", .kind = Answer::End, .echo = "\n"},
      {.name = "end key within a line", .typed = "1\x04\r", .kind = Answer::Confirm, .item = 0,
       .echo = "1\n"},
      {.name = "end key after erasing", .typed = "1\x7f\x04", .kind = Answer::End,
       .echo = "1\b \b\n"},
      {.name = "own end key", .typed = "\x1a", .endKey = 0x1a, .kind = Answer::End, .echo = "\n"},
      {.name = "Ctrl-D when not the end key", .typed = "\x04\r", .endKey = 0x1a,
       .kind = Answer::Confirm, .item = 1, .echo = "\n"},
      {.name = "no erase or end key", .typed = std::string("\0" "1\r", 3), .eraseKey = 0,
       .endKey = 0, .kind = Answer::Confirm, .item = 0, .echo = "1\n"},
      {.name = "end of input within a line", .typed = "1\xff", .kind = Answer::End, .echo = "1\n"},
      // Controls, spaces and bytes of other characters are no part of an answer.
      {.name = "controls and spaces", .typed = " 1\t\x01 \r", .kind = Answer::Confirm, .item = 0,
       .echo = "1\n"},
      {.name = "spaced digits", .typed = "1 2\r", .kind = Answer::Invalid, .echo = "12\n"},
      {.name = "other characters", .typed = "\xc3\xa9" "1\r", .kind = Answer::Confirm, .item = 0,
       .echo = "1\n"},
      {.name = "timeout outside a sequence", .typed = "1\xfe\r", .kind = Answer::Confirm,
       .item = 0, .echo = "1\n"},
      // Answers are kept to 16 keys; the rest is neither kept nor shown.
      {.name = "16 keys", .typed = "0000000000000002\r", .kind = Answer::Confirm, .item = 1,
       .echo = "0000000000000002\n"},
      {.name = "17 keys", .typed = "00000000000000002\r", .kind = Answer::Invalid,
       .echo = "0000000000000000\n"},
      // Unfinished, and finished: keys after the answer are not read.
      {.name = "nothing yet", .typed = "", .kind = Answer::NeedKey, .echo = ""},
      {.name = "a number so far", .typed = "1", .kind = Answer::NeedKey, .echo = "1"},
      {.name = "keys after the answer", .typed = "1\r2\r", .kind = Answer::Confirm, .item = 0,
       .echo = "1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Answer answer = ReadAnswer(Keys(c.typed), c.count, c.preselected, c.eraseKey, c.endKey);
    EXPECT_EQ(answer.kind, c.kind);
    if (c.kind == Answer::Confirm) {
      EXPECT_EQ(answer.item, c.item);
    }
    EXPECT_EQ(answer.echo, c.echo);
  }
}

}  // namespace
}  // namespace korvo
