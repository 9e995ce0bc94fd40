// Device names are the device's own strings (manufacturer, product) and the
// hardware database's (vendor, model): any bytes at all. Whatever they hold,
// the list names the device by the fallback rule, and the name as the
// terminal gets it controls nothing while every printable character shows.
#include <fuzzer/FuzzedDataProvider.h>

#include <clocale>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>

#include "FuzzCheck.h"
#include "discovery/DeviceList.h"
#include "fake/FakeDiscovery.h"
#include "platform/TerminalText.h"
#include "platform/linux/Linux.h"

namespace {

using korvo::fake::Discovery;

constexpr size_t kLongestName = 255;

// A string attribute as sysfs and udev hand it over: absent, or a C string.
struct Attribute {
  std::optional<std::string> bytes;
  const char* get() const { return bytes ? bytes->c_str() : nullptr; }
  std::string text() const { return bytes ? std::string(bytes->c_str()) : std::string(); }
};

Attribute TakeAttribute(FuzzedDataProvider& data) {
  if (!data.ConsumeBool()) return {};
  return {data.ConsumeRandomLengthString(4096)};
}

// "first second", the second alone, or nothing without a second.
std::optional<std::string> ExpectedName(const Attribute& first, const Attribute& second) {
  if (second.text().empty()) return std::nullopt;
  if (first.text().empty()) return second.text();
  return first.text() + " " + second.text();
}

bool Usable(const std::optional<std::string>& name) {
  return name && name->size() <= kLongestName;
}

// What the terminal should get, decoded by the C library rather than by the
// code under test: each printable character as it is, every other byte (and
// every byte of a format character) as \xHH.
std::string ExpectedOnTerminal(std::string_view text) {
  std::string shown;
  while (!text.empty()) {
    std::mbstate_t state{};
    wchar_t c = 0;
    size_t length = std::mbrtowc(&c, text.data(), text.size(), &state);
    bool decoded = length != 0 && length != static_cast<size_t>(-1) &&
                   length != static_cast<size_t>(-2);
    bool control = c < 0x20 || (c >= 0x7f && c <= 0x9f) ||
                   korvo::IsFormatCharacter(static_cast<uint32_t>(c));
    if (decoded && !control && c <= 0x10ffff) {
      shown.append(text.substr(0, length));
      text.remove_prefix(length);
      continue;
    }
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(text[0]));
    shown += escaped;
    text.remove_prefix(1);
  }
  return shown;
}

// No C0 control, DEL or UTF-8-encoded C1 control in what the terminal gets.
bool HoldsNoControl(std::string_view shown) {
  for (size_t i = 0; i < shown.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(shown[i]);
    if (b < 0x20 || b == 0x7f) return false;
    if (b == 0xc2 && i + 1 < shown.size() && static_cast<unsigned char>(shown[i + 1]) <= 0x9f)
      return false;
  }
  return true;
}

void CheckTerminalText(std::string_view text) {
  std::string shown = korvo::TerminalSafe(text);
  FUZZ_REQUIRE(HoldsNoControl(shown));
  FUZZ_REQUIRE(shown == ExpectedOnTerminal(text));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Linux terminals read UTF-8; the expected text is decoded as they would.
  FUZZ_REQUIRE(std::setlocale(LC_CTYPE, "C.UTF-8") != nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  Attribute manufacturer = TakeAttribute(data);
  Attribute product = TakeAttribute(data);
  Attribute vendorDb = TakeAttribute(data);
  Attribute modelDb = TakeAttribute(data);
  korvo::UsbDevicePath node{data.ConsumeRandomLengthString(4096).c_str(),
                            data.ConsumeIntegral<uint16_t>(), data.ConsumeIntegral<uint16_t>()};

  // The record as Linux discovery makes it.
  korvo::InterfaceRecord record{korvo::FormatDevicePath(node),
                                korvo::JoinName(manufacturer.get(), product.get()),
                                korvo::JoinName(vendorDb.get(), modelDb.get()),
                                {}};
  Discovery() = {};
  Discovery().interfaces.push_back({record, false});
  korvo::DeviceList list(korvo::GUID_DEVINTERFACE_USB_DEVICE);
  FUZZ_REQUIRE(list.Enumerate() == 1);
  const std::string& description = list.GetAt(0).description;

  std::optional<std::string> friendly = ExpectedName(manufacturer, product);
  std::optional<std::string> fromDatabase = ExpectedName(vendorDb, modelDb);
  if (Usable(friendly)) {
    FUZZ_REQUIRE(description == *friendly);
  } else if (Usable(fromDatabase)) {
    FUZZ_REQUIRE(description == *fromDatabase);
  } else {
    FUZZ_REQUIRE(description == record.devicePath.substr(0, kLongestName));
  }

  CheckTerminalText(description);
  // The escaping alone, on every byte the input holds (NUL included).
  CheckTerminalText(std::string_view(reinterpret_cast<const char*>(bytes), size));
  return 0;
}
