// Selectors narrow the device list: a device matches when every fact asked
// for is known for it and equal, which the plain model below says again.
// The description of a selector, shown after "No device matches", never
// carries a control byte into the terminal.
#include <fuzzer/FuzzedDataProvider.h>

#include "FuzzCheck.h"
#include "discovery/DeviceSelector.h"

namespace {

// Facts and selector parts come from a few values, so that they meet often.
std::optional<unsigned> SomeNumber(FuzzedDataProvider& data) {
  if (!data.ConsumeBool()) return std::nullopt;
  return data.ConsumeIntegralInRange<unsigned>(0, 3) == 0 ? data.ConsumeIntegral<uint16_t>()
                                                           : data.ConsumeIntegralInRange<unsigned>(1, 3);
}

std::optional<std::string> SomeText(FuzzedDataProvider& data) {
  if (!data.ConsumeBool()) return std::nullopt;
  return data.ConsumeRandomLengthString(8);
}

bool ModelPart(const std::optional<unsigned>& asked, const std::optional<unsigned>& known) {
  if (!asked) return true;
  if (!known) return false;
  return *asked == *known;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  korvo::DeviceSelector selector;
  selector.vendorId = SomeNumber(data);
  selector.productId = SomeNumber(data);
  selector.bus = SomeNumber(data);
  selector.address = SomeNumber(data);
  selector.serial = SomeText(data);

  korvo::DeviceEntry entry("path", "description");
  entry.facts.vendorId = SomeNumber(data);
  entry.facts.productId = SomeNumber(data);
  entry.facts.bus = SomeNumber(data);
  entry.facts.address = SomeNumber(data);
  entry.facts.serial = SomeText(data);

  bool serialMatches = !selector.serial || (entry.facts.serial && *entry.facts.serial == *selector.serial);
  bool model = ModelPart(selector.vendorId, entry.facts.vendorId) &&
               ModelPart(selector.productId, entry.facts.productId) &&
               ModelPart(selector.bus, entry.facts.bus) &&
               ModelPart(selector.address, entry.facts.address) && serialMatches;
  FUZZ_REQUIRE(korvo::Matches(selector, entry) == model);
  if (selector.Empty()) FUZZ_REQUIRE(korvo::Matches(selector, entry));

  for (unsigned char c : korvo::DescribeSelector(selector)) {
    FUZZ_REQUIRE(c >= 0x20 && c != 0x7f);
  }
  return 0;
}
