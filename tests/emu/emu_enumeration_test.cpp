// What a program under korvo-emu sees of the emulated devices through libudev and
// /dev, and how korvo-emu runs the program.
#include <gtest/gtest.h>

#include <filesystem>

#include "emu_run.h"

namespace {

using Strings = std::vector<std::string>;

ProcessResult List(const Strings& options) { return RunClient(options, {"list"}); }

TEST(EmuEnumeration, DevicesShowTheirAttributesAndPropertiesInTheOrderGiven) {
  const ProcessResult run = List({
      "--device",
      "vid=6742,pid=0002,manufacturer=Korvo%20GmbH,product=KORVO%20K1,"
      "vendor-db=Korvo%20Systems,model-db=K1%20Printer",
      "--device", "vid=04b8,bus=3,dev=9,nonode,class=255",
      "--device", "vid=6742",
  });
  ASSERT_EQ(run.status, 0) << run.err;
  // Bus 3 between two bus-1 devices: the order stays the order of the options.
  // No `dev` attribute and no udev database entry (init=0), as the tool must cope with.
  EXPECT_EQ(Lines(run.out),
            (Strings{
                "1-1 type=usb_device node=/dev/bus/usb/001/002 init=0 idVendor=6742 "
                "idProduct=0002 busnum=1 devnum=2 manufacturer=Korvo%20GmbH product=KORVO%20K1 "
                "PRODUCT=6742/2/100 vendor-db=Korvo%20Systems model-db=K1%20Printer",
                "1-1:1.0 type=usb_interface init=0 bInterfaceClass=07 PRODUCT=6742/2/100",
                "3-1 type=usb_device init=0 idVendor=04b8 idProduct=0001 busnum=3 devnum=9 "
                "PRODUCT=4b8/1/100",
                "3-1:1.0 type=usb_interface init=0 bInterfaceClass=ff PRODUCT=4b8/1/100",
                "1-2 type=usb_device node=/dev/bus/usb/001/004 init=0 idVendor=6742 "
                "idProduct=0001 busnum=1 devnum=4 PRODUCT=6742/1/100",
                "1-2:1.0 type=usb_interface init=0 bInterfaceClass=07 PRODUCT=6742/1/100",
            }));
}

TEST(EmuEnumeration, LongAndEscapedTextsArriveUnchanged) {
  const ProcessResult run = List({
      "--device",
      "vid=6742,product=300*K,manufacturer=%1BCorp%2C%20Ltd%25%C3%A9,"
      "vendor-db=2*ab%2C,model-db=260*M",
  });
  ASSERT_EQ(run.status, 0) << run.err;
  const Strings lines = Lines(run.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "1-1 type=usb_device node=/dev/bus/usb/001/002 init=0 idVendor=6742 "
                      "idProduct=0001 busnum=1 devnum=2 manufacturer=%1BCorp,%20Ltd%25%C3%A9 "
                      "product=" + std::string(300, 'K') + " PRODUCT=6742/1/100 "
                      "vendor-db=ab,ab, model-db=" + std::string(260, 'M'));
}

TEST(EmuEnumeration, ManyDevicesKeepTheirOrderAndDefaultAddresses) {
  Strings options;
  Strings expected;
  for (int i = 1; i <= 12; ++i) {
    char vid[8];
    char product[16];
    std::snprintf(vid, sizeof vid, "%04x", i);
    std::snprintf(product, sizeof product, "%x/1/100", i);  // PRODUCT drops leading zeros
    options.insert(options.end(), {"--device", std::string("vid=") + vid});
    expected.push_back("1-" + std::to_string(i) + " type=usb_device node=/dev/bus/usb/001/" +
                       (i + 1 < 10 ? "00" : "0") + std::to_string(i + 1) +
                       " init=0 idVendor=" + vid + " idProduct=0001 busnum=1 devnum=" +
                       std::to_string(i + 1) + " PRODUCT=" + product);
  }
  const ProcessResult run = List(options);
  ASSERT_EQ(run.status, 0) << run.err;
  Strings devices;
  for (const std::string& line : Lines(run.out)) {
    if (line.find("usb_device") != std::string::npos) devices.push_back(line);
  }
  EXPECT_EQ(devices, expected);
}

TEST(EmuEnumeration, ScenarioDevicesComeBeforeListedOnes) {
  TempDir dir;
  dir.Write("scenario",
            "# two devices from a file\n\nvid=1111\n  vid=2222,product=From%20file  \r\n# end\n");
  const ProcessResult run = List({"--device", "vid=3333", "--scenario", dir.PathOf("scenario")});
  ASSERT_EQ(run.status, 0) << run.err;
  Strings devices;
  for (const std::string& line : Lines(run.out)) {
    if (line.find("usb_device") != std::string::npos) devices.push_back(line);
  }
  EXPECT_EQ(devices, (Strings{
                         "1-1 type=usb_device node=/dev/bus/usb/001/002 init=0 idVendor=1111 "
                         "idProduct=0001 busnum=1 devnum=2 PRODUCT=1111/1/100",
                         "1-2 type=usb_device node=/dev/bus/usb/001/003 init=0 idVendor=2222 "
                         "idProduct=0001 busnum=1 devnum=3 product=From%20file "
                         "PRODUCT=2222/1/100",
                         "1-3 type=usb_device node=/dev/bus/usb/001/004 init=0 idVendor=3333 "
                         "idProduct=0001 busnum=1 devnum=4 PRODUCT=3333/1/100",
                     }));
}

TEST(EmuEnumeration, NoDevicesMeansAnEmptyList) {
  const ProcessResult run = List({});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
}

TEST(EmuEnumeration, NodesExistOnlyForDevicesWithANode) {
  const ProcessResult run = RunEmu(
      {"--device", "vid=6742,bus=9,dev=98", "--device", "vid=6742,bus=9,dev=99,nonode"},
      {"/bin/sh", "-c",
       "test -c /dev/bus/usb/009/098 && echo node98; test -e /dev/bus/usb/009/099 || echo no99"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "node98\nno99\n");
}

TEST(EmuRun, OutputAndExitStatusOfTheCommandPassThrough) {
  const ProcessResult run = RunEmu({"--device", "vid=6742"},
                               {"/bin/sh", "-c", "echo out; echo err >&2; exit 7"});
  EXPECT_EQ(run.status, 7);
  EXPECT_EQ(run.out, "out\n");
  EXPECT_EQ(run.err, "err\n");
  EXPECT_EQ(RunEmu({}, {"/bin/sh", "-c", "exit 0"}).status, 0);
}

TEST(EmuRun, ACommandKilledBySignalGives128PlusTheSignal) {
  EXPECT_EQ(RunEmu({}, {"/bin/sh", "-c", "kill -TERM $$"}).status, 128 + 15);
  EXPECT_EQ(RunEmu({}, {"/bin/sh", "-c", "kill -KILL $$"}).status, 128 + 9);
}

TEST(EmuRun, SignalsToKorvoEmuReachTheCommand) {
  // The shell reports which signal its child got; korvo-emu passes that status on.
  const ProcessResult run = RunProcess(
      {"/bin/sh", "-c", std::string(KORVO_EMU_PATH) +
                            " -- /bin/sh -c 'trap \"exit 42\" TERM; kill -TERM $PPID; "
                            "while :; do sleep 0.01; done'"});
  EXPECT_EQ(run.status, 42) << run.err;
}

TEST(EmuRun, AMissingCommandGives127) {
  const ProcessResult run = RunEmu({}, {"/nonexistent/korvo-test"});
  EXPECT_EQ(run.status, 127);
  EXPECT_NE(run.err.find("/nonexistent/korvo-test"), std::string::npos) << run.err;
}

// LD_PRELOAD after korvo-emu's poll() wrapper, which comes first; "" without it.
std::string AfterPollPreload(const std::string& preload) {
  const std::string wrapper = "/libkorvo-emu-poll-preload.so:";
  const std::size_t at = preload.find(wrapper);
  return at == 0 || at == std::string::npos ? "" : preload.substr(at + wrapper.size());
}

TEST(EmuRun, TheCommandsEnvironment) {
  TempDir dir;
  const std::string show =
      "echo \"$TMPDIR\"; echo \"$UMOCKDEV_DIR\"; echo \"$LD_PRELOAD\"; echo \"$ASAN_OPTIONS\"";
  ProcessResult run = RunProcess({"/usr/bin/env", "-u", "LD_PRELOAD", "-u", "ASAN_OPTIONS",
                                  "TMPDIR=" + dir.Path(), KORVO_EMU_PATH, "--", "/bin/sh", "-c",
                                  show});
  ASSERT_EQ(run.status, 0) << run.err;
  Strings lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 4u);
  // A long TMPDIR would break umockdev's sockets: the testbed stays in /tmp.
  EXPECT_EQ(lines[0], dir.Path());
  EXPECT_EQ(lines[1].rfind("/tmp/umockdev.", 0), 0u) << lines[1];
  EXPECT_FALSE(std::filesystem::exists(lines[1])) << "testbed left behind";
  EXPECT_EQ(AfterPollPreload(lines[2]), "libumockdev-preload.so.0") << lines[2];
  EXPECT_EQ(lines[3], "verify_asan_link_order=0");

  // Options already set are kept, and the link order check is added once.
  run = RunProcess({"/usr/bin/env", "-u", "LD_PRELOAD", "ASAN_OPTIONS=detect_leaks=0",
                    KORVO_EMU_PATH, "--", "/bin/sh", "-c", show});
  lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 4u) << run.err;
  EXPECT_EQ(lines[3], "detect_leaks=0:verify_asan_link_order=0");

  // A preload already set stays behind umockdev's. (korvo-emu itself may be
  // an ASan build, which starts beside a preload only with the check off.)
  run = RunProcess({"/usr/bin/env", "LD_PRELOAD=libc.so.6", "ASAN_OPTIONS=verify_asan_link_order=0",
                    KORVO_EMU_PATH, "--", "/bin/sh", "-c", show});
  lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 4u) << run.err;
  EXPECT_EQ(AfterPollPreload(lines[2]), "libumockdev-preload.so.0:libc.so.6") << lines[2];
  EXPECT_EQ(lines[3], "verify_asan_link_order=0");
}

TEST(EmuRun, WritingToTheNodeIsReported) {
  const ProcessResult run =
      RunEmu({"--device", "vid=6742"}, {"/bin/sh", "-c", "printf data >> /dev/bus/usb/001/002"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.err.find("korvo-emu: /dev/bus/usb/001/002 was written with write()"),
            std::string::npos)
      << run.err;
}

TEST(EmuRun, UsageErrorsExitWith2AndSayWhy) {
  struct Case {
    Strings args;
    std::string message;
  };
  const Case cases[] = {
      {{"--device", "vid=6742"}, "missing '-- COMMAND'"},
      {{"--device", "vid=6742", "--"}, "missing COMMAND after '--'"},
      {{"--device", "pid=0001", "--", "true"}, "vid=XXXX is required"},
      {{"--device", "vid=6742,colour=red", "--", "true"}, "unknown key 'colour'"},
      {{"--device", "vid=6742,dev=3", "--device", "vid=6742", "--", "true"},
       "both have bus 1 address 3"},
      {{"--scenario", "/nonexistent/scenario", "--", "true"}, "cannot read scenario file"},
      {{"--frobnicate", "--", "true"}, "unknown option --frobnicate"},
  };
  for (const Case& c : cases) {
    Strings argv = {KORVO_EMU_PATH};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const ProcessResult run = RunProcess(argv);
    EXPECT_EQ(run.status, 2) << c.message;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("usage: korvo-emu"), std::string::npos) << run.err;
  }
}

TEST(EmuRun, AScenarioErrorNamesFileAndLine) {
  TempDir dir;
  dir.Write("bad", "vid=6742\n# fine so far\nvid=6742,product=%4\n");
  const ProcessResult run = RunEmu({"--scenario", dir.PathOf("bad")}, {"true"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find(dir.PathOf("bad") + ":3: product: incomplete %XX escape"),
            std::string::npos)
      << run.err;
}

}  // namespace
