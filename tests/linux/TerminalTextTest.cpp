// What the operator's terminal gets of text that is not ours (device names,
// serials, paths): on Linux, UTF-8 shows as it is, and every byte of a
// control, of a format character or of a broken sequence shows as \xHH.
#include "platform/TerminalText.h"

#include <gtest/gtest.h>

#include <string>

namespace korvo {
namespace {

TEST(TerminalTextTest, ControlsFormatCharactersAndBrokenUtf8ShowEscaped) {
  const struct {
    std::string text, shown;
  } cases[] = {
      {"KORVO K1", "KORVO K1"},
      {"Caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x96\xa8", "Caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x96\xa8"},
      {"a\x1b[2Jb\x07\x7f", "a\\x1b[2Jb\\x07\\x7f"},
      {"\xc2\x9b" "6n", "\\xc2\\x9b" "6n"},                          // C1 CSI
      {"\xff\xc3", "\\xff\\xc3"},                                    // not UTF-8
      {"AB\xe2\x80\xae" "CD", "AB\\xe2\\x80\\xae" "CD"},             // U+202E, reverses
      {"\xe2\x80\x8bx\xe2\x80\x8f", "\\xe2\\x80\\x8bx\\xe2\\x80\\x8f"},  // U+200B, U+200F
      {"\xe2\x80\xa8\xe2\x80\xa9", "\\xe2\\x80\\xa8\\xe2\\x80\\xa9"},    // U+2028, U+2029
      {"\xef\xbb\xbfK", "\\xef\\xbb\\xbfK"},                         // U+FEFF
      {"\xc2\xad", "\\xc2\\xad"},                                    // U+00AD
      {"\xe2\x81\xa6" "d\xe2\x81\xa9", "\\xe2\\x81\\xa6" "d\\xe2\\x81\\xa9"},  // U+2066, U+2069
      {"\xf3\xa0\x80\x81", "\\xf3\\xa0\\x80\\x81"},                  // U+E0001, a tag
      {"\xe2\x80\x8a\xe2\x80\x90", "\xe2\x80\x8a\xe2\x80\x90"},      // U+200A, U+2010 print
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TerminalSafe(c.text), c.shown);
  }
}

// The table's edges: each range ends where Unicode's category Cf does.
TEST(TerminalTextTest, FormatCharactersAreCategoryCfAndTheSeparators) {
  const uint32_t format[] = {0x00ad, 0x0600, 0x0605, 0x061c, 0x06dd, 0x070f, 0x0890, 0x08e2,
                             0x180e, 0x200b, 0x200f, 0x2028, 0x2029, 0x202a, 0x202e, 0x2060,
                             0x2064, 0x2066, 0x206f, 0xfeff, 0xfff9, 0xfffb, 0x110bd, 0x13430,
                             0x1bca3, 0x1d173, 0x1d17a, 0xe0001, 0xe0020, 0xe007f};
  const uint32_t other[] = {0x0041, 0x00ac, 0x00ae, 0x0606, 0x180d, 0x200a, 0x2010, 0x2027,
                            0x202f, 0x205f, 0x2070, 0xfefe, 0xff00, 0xfffc, 0xfffd, 0x1d17b,
                            0xe0000, 0xe0002, 0xe001f, 0xe0080, 0x10ffff};
  for (uint32_t code : format) EXPECT_TRUE(IsFormatCharacter(code)) << std::hex << code;
  for (uint32_t code : other) EXPECT_FALSE(IsFormatCharacter(code)) << std::hex << code;
}

}  // namespace
}  // namespace korvo
