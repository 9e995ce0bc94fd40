// Device descriptions and TEXT values as korvo-emu reads them.
#include <gtest/gtest.h>

#include "device_config.h"
#include "options.h"
#include "text_value.h"

namespace korvo_emu {
namespace {

std::string Decode(const std::string& raw) {
  std::string error;
  const std::optional<std::string> text = DecodeText(raw, error);
  return text ? *text : "ERROR: " + error;
}

TEST(EmuText, EscapesAndRepetition) {
  EXPECT_EQ(Decode("KORVO K1"), "KORVO K1");
  EXPECT_EQ(Decode("a%2Cb%1B%25%00z"), std::string("a,b\x1b%\0z", 7));
  EXPECT_EQ(Decode("%c3%A9"), "\xc3\xa9");
  EXPECT_EQ(Decode("3*ab"), "ababab");
  EXPECT_EQ(Decode("300*K"), std::string(300, 'K'));
  EXPECT_EQ(Decode("2*%2A"), "**");
  EXPECT_EQ(Decode("0*x"), "");
  EXPECT_EQ(Decode("x3*a"), "x3*a");  // not of the form N*TEXT
  EXPECT_EQ(Decode("*a"), "*a");
  EXPECT_EQ(Decode("2*3*a"), "3*a3*a");
  EXPECT_EQ(Decode(""), "");
}

TEST(EmuText, BadEscapesAndHugeTextsAreRejected) {
  EXPECT_EQ(Decode("abc%4"), "ERROR: incomplete %XX escape");
  EXPECT_EQ(Decode("%"), "ERROR: incomplete %XX escape");
  EXPECT_EQ(Decode("%G1"), "ERROR: bad %XX escape");
  EXPECT_EQ(Decode("2000000*x"), "ERROR: text longer than 1 MiB");
  EXPECT_EQ(Decode("99999999999999999999999*x"), "ERROR: text longer than 1 MiB");
  EXPECT_EQ(Decode("1048576*x").size(), kMaxTextBytes);
}

std::optional<DeviceConfig> Parse(const std::string& text, std::string* error_out = nullptr) {
  std::string error;
  std::optional<DeviceConfig> config = ParseDeviceConfig(text, error);
  if (error_out) *error_out = error;
  return config;
}

std::string ErrorOf(const std::string& text) {
  std::string error;
  EXPECT_FALSE(Parse(text, &error)) << text;
  return error;
}

TEST(EmuDeviceConfig, DefaultsForAMinimalDevice) {
  const std::optional<DeviceConfig> config = Parse("vid=6742");
  ASSERT_TRUE(config);
  EXPECT_EQ(config->vendor_id, 0x6742);
  EXPECT_EQ(config->product_id, 0x0001);
  EXPECT_EQ(config->bus, 1);
  EXPECT_EQ(config->address, 0);
  EXPECT_FALSE(config->manufacturer);
  EXPECT_FALSE(config->product);
  EXPECT_FALSE(config->vendor_from_database);
  EXPECT_FALSE(config->model_from_database);
  EXPECT_TRUE(config->has_node);
  EXPECT_EQ(config->interface_class, 7);
  EXPECT_EQ(config->status_reply, StatusReply::kByte);
  EXPECT_EQ(config->status_byte, 0x18);
  EXPECT_FALSE(config->busy);
  EXPECT_FALSE(config->hang);
  EXPECT_FALSE(config->vanish_after);
  EXPECT_FALSE(config->driver);
  EXPECT_FALSE(config->lp_busy);
}

TEST(EmuDeviceConfig, DriversAndTheStatusDefaultOfOtherClasses) {
  struct Case {
    std::string text;
    std::optional<std::string> driver;
    bool lp_busy;
    StatusReply status;
  };
  const Case cases[] = {
      {"vid=1,driver=usblp,lp-busy", "usblp", true, StatusReply::kByte},
      {"vid=1,class=8,driver=usb-storage", "usb-storage", false, StatusReply::kStall},
      {"vid=1,class=255,driver=r8152.x_1", "r8152.x_1", false, StatusReply::kStall},
      {"vid=1,class=0", std::nullopt, false, StatusReply::kStall},
      {"vid=1,class=7", std::nullopt, false, StatusReply::kByte},
      // Said explicitly, the status holds for any class.
      {"vid=1,class=8,status=18", std::nullopt, false, StatusReply::kByte},
      {"vid=1,class=8,status-empty", std::nullopt, false, StatusReply::kEmpty},
      {"vid=1,driver=" + std::string(255, 'd'), std::string(255, 'd'), false, StatusReply::kByte},
  };
  for (const Case& c : cases) {
    const std::optional<DeviceConfig> config = Parse(c.text);
    ASSERT_TRUE(config) << c.text;
    EXPECT_EQ(config->driver, c.driver) << c.text;
    EXPECT_EQ(config->lp_busy, c.lp_busy) << c.text;
    EXPECT_EQ(config->status_reply, c.status) << c.text;
  }
}

TEST(EmuDeviceConfig, EveryKey) {
  const std::optional<DeviceConfig> config = Parse(
      "vid=04B8,pid=0e28,bus=3,dev=127,manufacturer=A%2CB,product=2*P,serial=S1,vendor-db=V,"
      "model-db=M,nonode,class=255,status=98,busy,hang,denied,bulk-rate=1000,"
      "vanish-after=18446744073709551,pause-after=4096,plug-after=3600000,in-turn,unplug-after=0,"
      "probe-delay=250");
  ASSERT_TRUE(config);
  EXPECT_EQ(config->vendor_id, 0x04b8);
  EXPECT_EQ(config->product_id, 0x0e28);
  EXPECT_EQ(config->bus, 3);
  EXPECT_EQ(config->address, 127);
  EXPECT_EQ(config->manufacturer, "A,B");
  EXPECT_EQ(config->product, "PP");
  EXPECT_EQ(config->serial, "S1");
  EXPECT_EQ(config->vendor_from_database, "V");
  EXPECT_EQ(config->model_from_database, "M");
  EXPECT_FALSE(config->has_node);
  EXPECT_EQ(config->interface_class, 255);
  EXPECT_EQ(config->status_byte, 0x98);
  EXPECT_TRUE(config->busy);
  EXPECT_TRUE(config->hang);
  EXPECT_TRUE(config->denied);
  EXPECT_EQ(config->bulk_rate, 1000u);
  EXPECT_EQ(config->vanish_after, 18446744073709551u);
  EXPECT_EQ(config->pause_after, 4096u);
  EXPECT_EQ(config->plug_after_ms, 3600000u);
  EXPECT_TRUE(config->in_turn);
  EXPECT_EQ(config->unplug_after_ms, 0u);
  EXPECT_EQ(config->probe_delay_ms, 250u);
  EXPECT_EQ(Parse("vid=1,status-empty")->status_reply, StatusReply::kEmpty);
  EXPECT_EQ(Parse("vid=1,stall-status")->status_reply, StatusReply::kStall);
  EXPECT_EQ(Parse("vid=1,vanish-after=0")->vanish_after, 0u);
  EXPECT_EQ(Parse("vid=1,product=")->product, "");
}

TEST(EmuDeviceConfig, MistakesAreRejectedWithAReason) {
  EXPECT_EQ(ErrorOf(""), "empty device description");
  EXPECT_EQ(ErrorOf("pid=0001"), "vid=XXXX is required");
  EXPECT_EQ(ErrorOf("vid=6742,"), "empty item (stray comma?)");
  EXPECT_EQ(ErrorOf("vid=6742,,pid=1"), "empty item (stray comma?)");
  EXPECT_EQ(ErrorOf("vid=6742,vid=6743"), "key 'vid' given twice");
  EXPECT_EQ(ErrorOf("vid=6742,speed=480"), "unknown key 'speed'");
  EXPECT_EQ(ErrorOf("vid=6742,nonode=1"), "nonode takes no value");
  EXPECT_EQ(ErrorOf("vid"), "vid needs a value (vid=...)");
  EXPECT_EQ(ErrorOf("vid=67421"), "vid=67421: not a valid hex value");
  EXPECT_EQ(ErrorOf("vid=0x67"), "vid=0x67: not a valid hex value");
  EXPECT_EQ(ErrorOf("vid="), "vid=: not a valid hex value");
  EXPECT_EQ(ErrorOf("vid=1,bus=0"), "bus=0: not a valid decimal value");
  EXPECT_EQ(ErrorOf("vid=1,bus=256"), "bus=256: not a valid decimal value");
  EXPECT_EQ(ErrorOf("vid=1,dev=128"), "dev=128: not a valid decimal value");
  EXPECT_EQ(ErrorOf("vid=1,class=256"), "class=256: not a valid decimal value");
  EXPECT_EQ(ErrorOf("vid=1,status=100"), "status=100: not a valid hex value");
  EXPECT_EQ(ErrorOf("vid=1,vanish-after=-1"), "vanish-after=-1: not a valid decimal value");
  EXPECT_EQ(ErrorOf("vid=1,product=%zz"), "product: bad %XX escape");
  EXPECT_EQ(ErrorOf("vid=1,vendor-db=a%0Ab"),
            "vendor-db: a udev property cannot hold a newline or NUL byte");
  EXPECT_EQ(ErrorOf("vid=1,model-db=a%00"),
            "model-db: a udev property cannot hold a newline or NUL byte");
  EXPECT_EQ(ErrorOf("vid=1,status=12,stall-status"),
            "status=, status-empty and stall-status exclude each other");
  EXPECT_EQ(ErrorOf("vid=1,status-empty,stall-status"),
            "status=, status-empty and stall-status exclude each other");
  EXPECT_EQ(ErrorOf("vid=1,driver="), "driver=: not a driver name");
  EXPECT_EQ(ErrorOf("vid=1,driver=a/b"), "driver=a/b: not a driver name");
  EXPECT_EQ(ErrorOf("vid=1,driver=" + std::string(256, 'd')),
            "driver=" + std::string(256, 'd') + ": not a driver name");
  EXPECT_EQ(ErrorOf("vid=1,driver=usbfs"), "driver=usbfs: usbfs is a program's claim, see busy");
  EXPECT_EQ(ErrorOf("vid=1,busy,driver=usblp"), "busy and driver= exclude each other");
  EXPECT_EQ(ErrorOf("vid=1,lp-busy"), "lp-busy needs driver=usblp");
  EXPECT_EQ(ErrorOf("vid=1,driver=usb-storage,lp-busy"), "lp-busy needs driver=usblp");
  EXPECT_EQ(ErrorOf("vid=1,plug-after=3600001"), "plug-after=3600001: not a valid decimal value");
  EXPECT_EQ(ErrorOf("vid=1,unplug-after=1s"), "unplug-after=1s: not a valid decimal value");
  EXPECT_EQ(ErrorOf("vid=1,in-turn=1"), "in-turn takes no value");
  EXPECT_EQ(ErrorOf("vid=1,probe-delay=100"),
            "probe-delay needs plug-after or in-turn: a device there from the start is settled");
}

TEST(EmuScenario, LinesCommentsAndErrors) {
  std::vector<DeviceConfig> devices;
  std::string error;
  ASSERT_TRUE(ParseScenario("# c\n\n vid=1 \r\n\t# indented comment\nvid=2,product=a%20b", "s",
                            devices, error))
      << error;
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].vendor_id, 1);
  EXPECT_EQ(devices[1].product, "a b");
  EXPECT_FALSE(ParseScenario("vid=3\n\nvid=4,bus=x\n", "file.txt", devices, error));
  EXPECT_EQ(error, "file.txt:3: bus=x: not a valid decimal value");
}

TEST(EmuScenario, AddressesByPositionUnlessGiven) {
  std::vector<DeviceConfig> devices(4);
  devices[1].address = 9;
  devices[3].bus = 2;
  std::string error;
  ASSERT_TRUE(AssignAddresses(devices, error)) << error;
  EXPECT_EQ(devices[0].address, 2);
  EXPECT_EQ(devices[1].address, 9);
  EXPECT_EQ(devices[2].address, 4);
  EXPECT_EQ(devices[3].address, 5);

  std::vector<DeviceConfig> clash(2);
  clash[1].address = 2;
  EXPECT_FALSE(AssignAddresses(clash, error));
  EXPECT_EQ(error, "devices 1 and 2 both have bus 1 address 2");
  clash[1].bus = 2;
  EXPECT_TRUE(AssignAddresses(clash, error));
}

// As the kernel numbers devices as it enumerates them: those plugged in
// during the run after those there from the start, each a number of its own.
TEST(EmuScenario, DevicesPluggedInLaterComeAfterTheOthers) {
  std::vector<DeviceConfig> devices(5);
  devices[0].plug_after_ms = 100;
  devices[0].unplug_after_ms = 100;
  devices[1].in_turn = true;
  devices[1].vanish_after = 10;
  devices[3].in_turn = true;  // after a device there from the start that vanishes
  devices[2].vanish_after = 5;
  std::string error;
  ASSERT_TRUE(AssignAddresses(devices, error)) << error;
  EXPECT_EQ(devices[2].address, 2);
  EXPECT_EQ(devices[4].address, 3);
  EXPECT_EQ(devices[0].address, 4);
  EXPECT_EQ(devices[1].address, 5);
  EXPECT_EQ(devices[3].address, 6);

  const struct {
    std::vector<std::string> devices;
    std::string error;
  } mistakes[] = {
      {{"vid=1,in-turn"}, "device 1: in-turn needs a device before it that is unplugged (unplug-after, vanish-after)"},
      {{"vid=1", "vid=2,in-turn"}, "device 2: in-turn needs a device before it that is unplugged (unplug-after, vanish-after)"},
      {{"vid=1,vanish-after=0", "vid=2,in-turn"}, "device 2: in-turn needs a device before it that is unplugged (unplug-after, vanish-after)"},
  };
  for (const auto& m : mistakes) {
    std::vector<DeviceConfig> configs;
    for (const std::string& text : m.devices) configs.push_back(*Parse(text));
    EXPECT_FALSE(AssignAddresses(configs, error));
    EXPECT_EQ(error, m.error);
  }
}

TEST(EmuCommandLine, OptionsInBothFormsAndTheCommand) {
  const char* argv[] = {"korvo-emu", "--device=vid=1", "--report", "--capture-dir", "/tmp/x",
                        "--device", "vid=2", "--", "korvo-test", "--", "file"};
  Options options;
  std::string error;
  ASSERT_TRUE(ParseCommandLine(11, const_cast<char**>(argv), options, error)) << error;
  ASSERT_EQ(options.devices.size(), 2u);
  EXPECT_EQ(options.devices[1].vendor_id, 2);
  EXPECT_TRUE(options.report);
  EXPECT_EQ(options.capture_dir, "/tmp/x");
  EXPECT_EQ(options.command, (std::vector<std::string>{"korvo-test", "--", "file"}));
}

TEST(EmuCommandLine, HelpNeedsNoCommand) {
  const char* argv[] = {"korvo-emu", "--help"};
  Options options;
  std::string error;
  EXPECT_TRUE(ParseCommandLine(2, const_cast<char**>(argv), options, error));
  EXPECT_TRUE(options.help);
}

}  // namespace
}  // namespace korvo_emu
