// The one table of invisible characters and the one UTF-8 decoder, shared
// by the Linux and Windows text code: portable, it includes no OS header.
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

size_t Utf8Sequence(std::string_view text, uint32_t* code) {
  if (text.empty()) return 0;
  auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  uint8_t lead = byte(0);
  size_t length;
  uint32_t lowest;
  if (lead < 0x80) {
    *code = lead;
    return 1;
  } else if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2, *code = lead & 0x1fu, lowest = 0x80;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3, *code = lead & 0x0fu, lowest = 0x800;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4, *code = lead & 0x07u, lowest = 0x10000;
  } else {
    return 0;  // a stray continuation byte, or never valid
  }
  if (text.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xc0) != 0x80) return 0;
    *code = *code << 6 | (byte(i) & 0x3fu);
  }
  if (*code < lowest || *code > 0x10ffff) return 0;  // overlong or beyond Unicode
  if (*code >= 0xd800 && *code <= 0xdfff) return 0;  // surrogate
  return length;
}

bool IsFormatCharacter(uint32_t code) {
  for (const Range& range : kInvisible) {
    if (code < range.first) return false;
    if (code <= range.last) return true;
  }
  return false;
}

}  // namespace korvo
