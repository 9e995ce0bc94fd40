#include "discovery/DeviceSelector.h"

#include <gtest/gtest.h>

#include <string>

namespace korvo {
namespace {

DeviceEntry Entry(DeviceFacts facts) {
  DeviceEntry entry("path", "name");
  entry.facts = std::move(facts);
  return entry;
}

TEST(DeviceSelectorTest, ADeviceMatchesWhenItHasEveryFactAskedFor) {
  const DeviceFacts k1{1, 2, 0x6742, 0x0001, "K1-0042"};
  const DeviceFacts bare{};  // a system that tells nothing
  constexpr std::nullopt_t no = std::nullopt;
  const struct {
    const char* name;
    std::optional<unsigned> vendorId, productId, bus, address;
    const char* serial;  // none when null
    const char* path;    // none when null
    const DeviceFacts* facts;
    bool matches;
    const char* described;
  } cases[] = {
      {"nothing asked", no, no, no, no, nullptr, nullptr, &k1, true, ""},
      {"nothing asked, nothing known", no, no, no, no, nullptr, nullptr, &bare, true, ""},
      {"vendor", 0x6742, no, no, no, nullptr, nullptr, &k1, true, "-d 6742"},
      {"other vendor", 0x6743, no, no, no, nullptr, nullptr, &k1, false, "-d 6743"},
      {"vendor and product", 0x6742, 0x0001, no, no, nullptr, nullptr, &k1, true, "-d 6742:0001"},
      {"other product", 0x6742, 0x0002, no, no, nullptr, nullptr, &k1, false, "-d 6742:0002"},
      {"product alone", no, 0x0001, no, no, nullptr, nullptr, &k1, true, "-d :0001"},
      {"bus and address", no, no, 1, 2, nullptr, nullptr, &k1, true, "-s 1:2"},
      {"address on another bus", no, no, 3, 2, nullptr, nullptr, &k1, false, "-s 3:2"},
      {"address alone", no, no, no, 2, nullptr, nullptr, &k1, true, "-s 2"},
      {"bus alone", no, no, 1, no, nullptr, nullptr, &k1, true, "-s 1:"},
      {"serial", no, no, no, no, "K1-0042", nullptr, &k1, true, "--serial K1-0042"},
      {"serial is exact", no, no, no, no, "k1-0042", nullptr, &k1, false, "--serial k1-0042"},
      {"serial prefix", no, no, no, no, "K1", nullptr, &k1, false, "--serial K1"},
      {"all together", 0x6742, 0x0001, 1, 2, "K1-0042", nullptr, &k1, true,
       "-d 6742:0001 -s 1:2 --serial K1-0042"},
      {"unknown facts never match", 0x6742, no, no, no, nullptr, nullptr, &bare, false, "-d 6742"},
      {"unknown serial", no, no, no, no, "", nullptr, &bare, false, "--serial "},
      {"serial escaped", no, no, no, no, "a\x1b[2J", nullptr, &k1, false, "--serial a\\x1b[2J"},
      // --path names one device by its path, exactly.
      {"path", no, no, no, no, nullptr, "path", &k1, true, "--path path"},
      {"path is exact", no, no, no, no, nullptr, "pat", &k1, false, "--path pat"},
      {"path with another vendor", 0x6743, no, no, no, nullptr, "path", &k1, false,
       "-d 6743 --path path"},
      {"path escaped", no, no, no, no, nullptr, "p\x1b", &bare, false, "--path p\\x1b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceSelector selector{c.vendorId, c.productId, c.bus, c.address, std::nullopt, std::nullopt};
    if (c.serial) selector.serial = c.serial;
    if (c.path) selector.path = c.path;
    EXPECT_EQ(Matches(selector, Entry(*c.facts)), c.matches);
    EXPECT_EQ(DescribeSelector(selector), c.described);
    EXPECT_EQ(selector.Empty(), std::string(c.described).empty());
  }
}

}  // namespace
}  // namespace korvo
