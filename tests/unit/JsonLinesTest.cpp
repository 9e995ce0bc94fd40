#include "app/JsonLines.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "deviceio/DeviceChannel.h"
#include "fake/FakeDiscovery.h"

namespace korvo {
namespace {

using Json = nlohmann::ordered_json;

std::vector<std::string> Keys(const Json& object) {
  std::vector<std::string> keys;
  for (const auto& member : object.items()) keys.push_back(member.key());
  return keys;
}

// Every key, in order, whatever the run found; what it did not find is null.
TEST(JsonLinesTest, AUnitsLineHasEveryKeyInOrderAndNullForWhatIsUnknown) {
  DeviceEntry entry("/dev/bus/usb/001/007#vid_6742&pid_0001", "KORVO K1");
  entry.facts = {1, 7, 0x6742, 0x0001, "K1-0042"};
  RunReport report;
  report.status = 0x18;
  report.fileBytes = 4096;
  report.bytesSent = 4096;
  std::string line = UnitJson(&entry, report, "sent", 1.23456, 0);
  ASSERT_EQ(line.back(), '\n');
  EXPECT_EQ(line.find('\n'), line.size() - 1);
  Json sent = Json::parse(line);
  EXPECT_EQ(Keys(sent), (std::vector<std::string>{"device", "bus", "address", "vid", "pid", "serial",
                                                  "description", "status", "status_error",
                                                  "status_bits", "file_bytes", "bytes_sent",
                                                  "seconds", "result", "exit"}));
  EXPECT_EQ(sent["device"], entry.devicePath);
  EXPECT_EQ(sent["bus"], 1);
  EXPECT_EQ(sent["address"], 7);
  EXPECT_EQ(sent["vid"], "6742");
  EXPECT_EQ(sent["pid"], "0001");
  EXPECT_EQ(sent["serial"], "K1-0042");
  EXPECT_EQ(sent["status"], "18");
  EXPECT_TRUE(sent["status_error"].is_null());
  EXPECT_EQ(sent["file_bytes"], 4096);
  EXPECT_EQ(sent["bytes_sent"], 4096);
  EXPECT_EQ(sent["seconds"], 1.235);
  EXPECT_EQ(sent["result"], "sent");
  EXPECT_EQ(sent["exit"], 0);

  // Windows tells no bus or address; a failed request has no byte.
  DeviceEntry bare("\\\\?\\usb#vid_6742&pid_0001#5&1", "KORVO");
  bare.facts = {std::nullopt, std::nullopt, 0x6742, 0x0001, std::nullopt};
  RunReport failed;
  failed.statusError = 31;
  Json line2 = Json::parse(UnitJson(&bare, failed, "unable-to-open", 0, 1));
  for (const char* key : {"bus", "address", "serial", "status", "status_bits", "file_bytes"}) {
    EXPECT_TRUE(line2[key].is_null()) << key;
  }
  EXPECT_EQ(line2["status_error"], 31);
  EXPECT_EQ(line2["device"], bare.devicePath);

  Json none = Json::parse(UnitJson(nullptr, RunReport{}, "no-device", 0, 1));
  for (const char* key : {"device", "vid", "pid", "description"}) EXPECT_TRUE(none[key].is_null()) << key;
  EXPECT_EQ(none["result"], "no-device");
  EXPECT_EQ(none["exit"], 1);
}

// The three printer-port bits, in JSON and in words, from the same byte.
TEST(JsonLinesTest, StatusBitsAndWordsAgree) {
  const struct {
    unsigned status;
    bool selected, noError, paperEmpty;
    const char* words;
  } cases[] = {
      {0x18, true, true, false, "selected, no error, paper present"},
      {0x98, true, true, false, "selected, no error, paper present"},
      {0x38, true, true, true, "selected, no error, paper empty"},
      {0x00, false, false, false, "not selected, error, paper present"},
      {0x20, false, false, true, "not selected, error, paper empty"},
      {0xff, true, true, true, "selected, no error, paper empty"},
  };
  DeviceEntry entry("p", "d");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    RunReport report;
    report.status = c.status;
    Json bits = Json::parse(UnitJson(&entry, report, "sent", 0, 0))["status_bits"];
    EXPECT_EQ(bits, (Json{{"selected", c.selected}, {"no_error", c.noError}, {"paper_empty", c.paperEmpty}}));
    EXPECT_EQ(PortStatusInWords(c.status), c.words);
  }
}

// A device's texts are its own: whatever bytes they hold, the line stays one
// line of valid JSON, and what is not UTF-8 comes whole beside it, in hex.
TEST(JsonLinesTest, DeviceTextsOfAnyBytesKeepTheLineValidAndLoseNothing) {
  const struct {
    std::string text;
    std::string read;  // what a JSON reader gets
    const char* hex;   // description_hex; none when null
  } cases[] = {
      {"KORVO K1", "KORVO K1", nullptr},
      {"quote \" backslash \\ newline \n tab \t", "quote \" backslash \\ newline \n tab \t", nullptr},
      {"\x1b[2J\x7f", "\x1b[2J\x7f", nullptr},
#ifdef _WIN32
      // Windows's texts are in the ANSI code page (1252 here), which reads
      // every byte: a text from it is never lost.
      {"Caf\xe9", "Caf\xc3\xa9", nullptr},
      {"K\x81" "1", "K\xc2\x81" "1", nullptr},
#else
      {"K\x81" "1", "K\xef\xbf\xbd" "1", "4b8131"},
      {"caf\xc3\xa9 \xe2\x80\xae", "caf\xc3\xa9 \xe2\x80\xae", nullptr},
      {"K\xff" "1", "K\xef\xbf\xbd" "1", "4bff31"},
      {"\xc3", "\xef\xbf\xbd", "c3"},
      // A surrogate, which UTF-8 never holds: three bytes that are not UTF-8.
      {"\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd", "eda080"},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hex ? c.hex : c.text);
    DeviceEntry entry("p", c.text.c_str());
    entry.facts.serial = c.text;
    std::string line = UnitJson(&entry, RunReport{}, "sent", 0, 0);
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    Json object = Json::parse(line);
    EXPECT_EQ(object["description"], c.read);
    EXPECT_EQ(object["serial"], c.read);
    EXPECT_EQ(object.contains("description_hex"), c.hex != nullptr);
    if (c.hex) {
      EXPECT_EQ(object["description_hex"], c.hex);
      EXPECT_EQ(object["serial_hex"], c.hex);
      // Right after its text.
      std::vector<std::string> keys = Keys(object);
      auto at = std::find(keys.begin(), keys.end(), "serial");
      ASSERT_NE(at + 1, keys.end());
      EXPECT_EQ(*(at + 1), "serial_hex");
    }
  }
}

// -l --json: the listing's facts, its numbering and its mark.
TEST(JsonLinesTest, AListingHasALineADeviceWithItsNumberAndTheMark) {
  fake::Discovery() = {};
  DeviceList list(GUID_DEVINTERFACE_USB_DEVICE);
  EXPECT_EQ(ListingJson(list, std::nullopt), "");

  fake::Discovery().interfaces = {fake::Interface("/dev/a#vid_04b8", "Epson"),
                                  fake::Interface("/dev/b#vid_6742", "KORVO K1")};
  fake::Discovery().interfaces[1].record.facts = {1, 3, 0x6742, 0x0001, "S1"};
  ASSERT_EQ(list.Enumerate(), 2);
  std::string lines = ListingJson(list, 1);
  size_t end = lines.find('\n');
  ASSERT_NE(end, std::string::npos);
  Json first = Json::parse(lines.substr(0, end));
  Json second = Json::parse(lines.substr(end + 1));
  EXPECT_EQ(Keys(second), (std::vector<std::string>{"device", "bus", "address", "vid", "pid", "serial",
                                                    "description", "number", "automatic"}));
  EXPECT_EQ(first["device"], "/dev/a#vid_04b8");
  EXPECT_EQ(first["number"], 1);
  EXPECT_EQ(first["automatic"], false);
  EXPECT_TRUE(first["vid"].is_null());
  EXPECT_EQ(second["description"], "KORVO K1");
  EXPECT_EQ(second["number"], 2);
  EXPECT_EQ(second["automatic"], true);
  EXPECT_EQ(second["address"], 3);
  EXPECT_EQ(second["serial"], "S1");
  fake::Discovery() = {};
}

}  // namespace
}  // namespace korvo
