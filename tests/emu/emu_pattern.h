// The bytes emu-client writes, so that the tests know what must arrive.
#pragma once

#include <cstddef>
#include <vector>

// Position-dependent bytes that do not repeat with any small period.
inline std::vector<unsigned char> WritePattern(std::size_t size) {
  std::vector<unsigned char> bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<unsigned char>((i * 131 + (i >> 8) + (i >> 16)) & 0xff);
  }
  return bytes;
}
