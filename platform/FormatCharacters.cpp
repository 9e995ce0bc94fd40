// The one table of invisible characters, shared by the Linux and Windows
// terminal text: portable, it includes no OS header.
#include "platform/TerminalText.h"

namespace korvo {

namespace {

struct Range {
  uint32_t first, last;
};

// Unicode 15's general category Cf, with U+2028 and U+2029 (Zl, Zp), in
// order. U+2065, unassigned between the invisible operators and the
// isolates, goes with them.
constexpr Range kInvisible[] = {
    {0x00ad, 0x00ad},   {0x0600, 0x0605},   {0x061c, 0x061c},   {0x06dd, 0x06dd},
    {0x070f, 0x070f},   {0x0890, 0x0891},   {0x08e2, 0x08e2},   {0x180e, 0x180e},
    {0x200b, 0x200f},   {0x2028, 0x202e},   {0x2060, 0x206f},   {0xfeff, 0xfeff},
    {0xfff9, 0xfffb},   {0x110bd, 0x110bd}, {0x110cd, 0x110cd}, {0x13430, 0x1343f},
    {0x1bca0, 0x1bca3}, {0x1d173, 0x1d17a}, {0xe0001, 0xe0001}, {0xe0020, 0xe007f},
};

}  // namespace

bool IsFormatCharacter(uint32_t code) {
  for (const Range& range : kInvisible) {
    if (code < range.first) return false;
    if (code <= range.last) return true;
  }
  return false;
}

}  // namespace korvo
