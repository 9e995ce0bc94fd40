// A device path is written by discovery and read back by the open. Any
// node and IDs come back as they were; any other text is refused, or read
// only as what the formatter would have written.
#include <fuzzer/FuzzedDataProvider.h>

#include "FuzzCheck.h"
#include "platform/linux/Linux.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  using korvo::FormatDevicePath;
  using korvo::ParseDevicePath;

  // A node is a non-empty C string, '#' or not.
  korvo::UsbDevicePath path{data.ConsumeRandomLengthString(4096).c_str(),
                            data.ConsumeIntegral<uint16_t>(), data.ConsumeIntegral<uint16_t>()};
  if (!path.node.empty()) {
    std::optional<korvo::UsbDevicePath> back = ParseDevicePath(FormatDevicePath(path));
    FUZZ_REQUIRE(back);
    FUZZ_REQUIRE(back->node == path.node);
    FUZZ_REQUIRE(back->vendor == path.vendor);
    FUZZ_REQUIRE(back->product == path.product);
  }

  std::string text = data.ConsumeRemainingBytesAsString();
  if (std::optional<korvo::UsbDevicePath> read = ParseDevicePath(text)) {
    FUZZ_REQUIRE(!read->node.empty());
    FUZZ_REQUIRE(FormatDevicePath(*read) == text);
  }
  return 0;
}
