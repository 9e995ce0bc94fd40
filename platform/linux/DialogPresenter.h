#pragma once

// What the keys typed at the terminal's question mean: the terminal loop in
// DialogPresenter.cpp reads and writes, ReadAnswer decides.

#include <span>
#include <string>

namespace korvo {

// What the terminal gives besides the bytes 0..255 typed.
inline constexpr int kEndOfInput = -1;  // nothing more will come, or the terminal failed
inline constexpr int kTimeout = -2;     // nothing came within kEscapeSequenceMs

// Time within which the rest of an escape sequence (an arrow key, say)
// follows its Escape byte. Escape alone cancels.
inline constexpr int kEscapeSequenceMs = 100;

struct Answer {
  enum Kind {
    NeedKey,      // not finished: read the next key
    NeedKeySoon,  // within an escape sequence: the next key, or kTimeout after kEscapeSequenceMs
    Confirm,      // `item` is chosen
    Cancel,       // q, or Escape alone
    End,          // end of input: nobody left to ask
    Invalid,      // a line that is none of these: ask again
  } kind;
  int item = -1;     // Confirm: the index chosen
  std::string echo;  // what the terminal shows for the keys; a finished answer ends the line
};

// The answer that `keys`, typed one after the other at the question, make
// for `count` items with `preselected` (-1: none) taken by Enter alone.
// `eraseKey` and `endKey` are the terminal's own erase and end-of-input keys
// (0: none). Keys after a finished answer are not looked at; the echo of
// more keys always goes on from the echo of fewer.
Answer ReadAnswer(std::span<const int> keys, int count, int preselected, unsigned char eraseKey,
                  unsigned char endKey);

}  // namespace korvo
