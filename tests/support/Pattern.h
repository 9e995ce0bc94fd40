// The test data: the bytes the tests send, and emu-client and the VM lane's
// gadget helper write, so that what arrives can be compared with them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvo::test {

// Bytes that differ from position to position and do not repeat, so that a
// lost, shifted or repeated block shows.
inline std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  std::uint32_t x = 0x6742;
  for (std::size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    bytes[i] = static_cast<char>(x >> 24);
  }
  return bytes;
}

}  // namespace korvo::test
