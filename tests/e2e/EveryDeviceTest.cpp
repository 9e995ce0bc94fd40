// --all on several emulated devices: each unit is tested by a run of its
// own, its lines come out whole with its bus and address in front, and the
// count of units that passed ends the output.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "EmulatedRun.h"

namespace korvo::e2e {
namespace {

const std::string kPrinter = "vid=6742,product=KORVO%20K1,driver=usblp";

// What one unit shows and gets.
struct Unit {
  std::string device;  // korvo-emu's options for it
  std::string out;     // its lines on stdout, without the prefix
  std::string err;     // the same on stderr
  bool sent;           // the whole file reached it
};

// Every unit at bus 1, address 2, 3, ... in the order given.
std::string Prefix(size_t index) { return "001:00" + std::to_string(index + 2) + " "; }
std::string Capture(size_t index) { return "captures/001-00" + std::to_string(index + 2) + ".bin"; }

// The lines of `text` that are no unit's of `count`.
std::string OtherLines(const std::string& text, size_t count) {
  std::istringstream in(text);
  std::string lines;
  for (std::string line; std::getline(in, line);) {
    bool unit = false;
    for (size_t i = 0; i < count; ++i) unit = unit || line.starts_with(Prefix(i));
    if (!unit) lines += line + "\n";
  }
  return lines;
}

// Every line is one unit's, but the summary, which comes last.
void ExpectUnits(const DeviceRun& run, const std::vector<Unit>& units, const std::string& summary,
                 const std::string& content, const TempDir& dir) {
  for (size_t i = 0; i < units.size(); ++i) {
    SCOPED_TRACE(Prefix(i));
    EXPECT_EQ(LinesAfter(Prefix(i), run.process.out), units[i].out);
    EXPECT_EQ(LinesAfter(Prefix(i), run.process.err), units[i].err);
    if (units[i].sent) {
      EXPECT_TRUE(ReadWhole(dir.PathOf(Capture(i))) == content);
    }
  }
  EXPECT_EQ(OtherLines(run.process.out, units.size()), "");
  EXPECT_EQ(OtherLines(run.process.err, units.size()), summary);
  EXPECT_TRUE(run.process.err.ends_with(summary)) << run.process.err;
}

TEST(EveryDeviceTest, EachUnitIsTestedOnItsOwnAndCounted) {
  TempDir dir;
  const std::string content = Pattern(100000);
  const std::string file = dir.Write("data.bin", content);
  const struct {
    const char* name;
    std::vector<Unit> units;
    std::string summary;
    int status;
  } cases[] = {
      {"one fails its write, one passes, one is busy",
       {{"vid=6742,vanish-after=4096", "status:18\nError code Write:19\n", "", false},
        {kPrinter, "status:18\n", "", true},
        {"vid=6742,product=K2,busy", "", "Unable to open K2\n", false}},
       "korvo-test: 1 of 3 devices passed\n",
       1},
      {"every unit passes, one without a status",
       {{kPrinter, "status:18\n", "", true},
        {"vid=6742,stall-status", "Error code Status:32\n", "", true},
        {kPrinter, "status:18\n", "", true}},
       "korvo-test: 3 of 3 devices passed\n",
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> devices;
    for (const Unit& unit : c.units) devices.push_back(unit.device);
    DeviceRun run = RunOnDevices(dir, devices, {"--all", file});
    EXPECT_EQ(run.process.status, c.status) << run.process.err;
    ExpectUnits(run, c.units, c.summary, content, dir);
    for (const auto& [device, driver] : run.drivers) EXPECT_EQ(driver, "usblp") << device;
  }
}

// With --json each run's line names its device itself and comes as it is;
// what goes to stderr still has the unit's name in front.
TEST(EveryDeviceTest, JsonLinesComeWithoutAPrefix) {
  TempDir dir;
  const std::string file = dir.Write("data.bin", Pattern(1000));
  DeviceRun run = RunOnDevices(dir, {kPrinter, "vid=6742,product=K2,busy"}, {"--all", "--json", file});
  EXPECT_EQ(run.process.status, 1);
  std::map<std::string, std::string> results;
  for (const Json& line : JsonLines(run.process.out)) {
    results[line.value("device", "")] = line.value("result", "");
  }
  const std::map<std::string, std::string> expected = {
      {"/dev/bus/usb/001/002#vid_6742&pid_0001", "sent"},
      {"/dev/bus/usb/001/003#vid_6742&pid_0001", "unable-to-open"}};
  EXPECT_EQ(results, expected) << run.process.out;
  EXPECT_EQ(run.process.err, "001:003 Unable to open K2\nkorvo-test: 1 of 2 devices passed\n");
}

// A held write ends only by --timeout; the other units are not held by it.
TEST(EveryDeviceTest, AHungUnitEndsByItsTimeoutAndTheOthersAreNotHeld) {
  TempDir dir;
  const std::string content = Pattern(100000);
  const std::string file = dir.Write("data.bin", content);
  const std::vector<Unit> units = {
      {"vid=6742,vanish-after=4096", "status:18\nError code Write:19\n", "", false},
      {kPrinter, "status:18\n", "", true},
      {kPrinter + ",hold-writes", "status:18\nError code Write:110\n", "", false},
  };
  std::vector<std::string> devices;
  for (const Unit& unit : units) devices.push_back(unit.device);
  DeviceRun run = RunOnDevices(dir, devices, {"--all", "--timeout", "1", file});
  EXPECT_EQ(run.process.status, 1) << run.process.err;
  ExpectUnits(run, units, "korvo-test: 1 of 3 devices passed\n", content, dir);
  EXPECT_EQ(run.drivers["001/003"], "usblp");
  EXPECT_EQ(run.drivers["001/004"], "usblp");
}

// The runs read FILE at the same time, as they may beside another program
// that reads it under a shared lock; one that holds it exclusively keeps
// every run out.
TEST(EveryDeviceTest, TheRunsShareTheFileWithReadersOnly) {
  TempDir dir;
  const std::string content = Pattern(100000);
  const std::string file = dir.Write("data.bin", content);
  for (int lock : {LOCK_SH, LOCK_EX}) {
    SCOPED_TRACE(lock == LOCK_SH ? "a reader holds it" : "held exclusively");
    int holder = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, lock), 0);
    const bool shared = lock == LOCK_SH;
    const std::string shown =
        shared ? "status:18\n" : "status:18\nCan not open file " + file + "\n";
    const std::vector<Unit> units = {{kPrinter, shown, "", shared},
                                     {"vid=6742", shown, "", shared}};
    DeviceRun run = RunOnDevices(dir, {units[0].device, units[1].device}, {"--all", file});
    close(holder);
    EXPECT_EQ(run.process.status, shared ? 0 : 1);
    ExpectUnits(run, units,
                std::string("korvo-test: ") + (shared ? "2" : "0") + " of 2 devices passed\n",
                content, dir);
  }
}

// The pipes that carry one run's output: "pipe:[inode]" of its fd 1 and 2.
std::set<std::string> OutputPipes(pid_t pid) {
  std::set<std::string> pipes;
  for (int fd : {1, 2}) {
    std::error_code error;
    pipes.insert(
        fs::read_symlink("/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd), error));
  }
  return pipes;
}

// Whether process `pid` holds any of `pipes`.
bool Holds(pid_t pid, const std::set<std::string>& pipes) {
  std::error_code error;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    if (pipes.count(fs::read_symlink(fd.path(), error).string())) return true;
  }
  return false;
}

// An interrupt for the parent alone (kill) or for the whole group (Ctrl-C
// on a terminal) ends every run, each gives usblp back, and the count still
// comes; the parent ends by the signal. No run holds another's pipes.
TEST(EveryDeviceTest, AnInterruptEndsEveryRunAndEachGivesUsblpBack) {
  TempDir dir;
  const std::string file = dir.Write("data.bin", Pattern(100000));
  const struct {
    const char* name;
    bool group;
    int signal;
  } cases[] = {{"SIGTERM to the parent", false, SIGTERM}, {"SIGINT to the group", true, SIGINT}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::Process emu;
    ASSERT_TRUE(emu.Start(EmuCommand(dir, {kPrinter + ",hold-writes", kPrinter + ",hold-writes"},
                                     {KORVO_TEST_BINARY, "--all", file})));
    ASSERT_TRUE(WaitUntil([&] {
      return emu.Out().size() == 2 * std::string("001:002 status:18\n").size();
    })) << emu.Err();
    const pid_t parent = ChildOf(static_cast<pid_t>(emu.Id()));
    const std::vector<pid_t> runs = ChildrenOf(parent, 2);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_FALSE(Holds(runs[0], OutputPipes(runs[1])));
    EXPECT_FALSE(Holds(runs[1], OutputPipes(runs[0])));
    std::vector<pid_t> guardians;
    for (pid_t run : runs) guardians.push_back(ChildOf(run));

    kill(c.group ? -static_cast<pid_t>(emu.Id()) : parent, c.signal);
    ASSERT_TRUE(emu.Wait(60000));
    DeviceRun run = Collect(dir, {true, emu.Status(), emu.Out(), emu.Err()});
    EXPECT_EQ(run.process.status, 128 + c.signal);
    const std::string ended = "korvo-test: ended by signal " + std::to_string(c.signal) + "\n";
    EXPECT_EQ(LinesAfter("001:002 ", run.process.err), ended);
    EXPECT_EQ(LinesAfter("001:003 ", run.process.err), ended);
    EXPECT_TRUE(run.process.err.ends_with("korvo-test: 0 of 2 devices passed\n"))
        << run.process.err;
    EXPECT_EQ(run.drivers["001/002"], "usblp");
    EXPECT_EQ(run.drivers["001/003"], "usblp");
    for (pid_t guardian : guardians) {
      EXPECT_GT(guardian, 0);
      EXPECT_TRUE(WaitUntil([&] { return !fs::exists("/proc/" + std::to_string(guardian)); }))
          << "a guardian outlived the run";
    }
  }
}

// --each: the units come one after the other, each tested as it is plugged
// in; the one there before the station started is left alone.
TEST(EveryDeviceTest, EachUnitIsTestedAsItComesUntilTheCount) {
  TempDir dir;
  const std::string content = Pattern(100000);
  const std::string file = dir.Write("data.bin", content);
  DeviceRun run = RunOnDevices(dir,
                               {"vid=6742,product=Before",
                                kPrinter + ",plug-after=300,probe-delay=200,unplug-after=500",
                                "vid=6742,in-turn,plug-after=200,unplug-after=500",
                                kPrinter + ",in-turn,plug-after=200,vanish-after=4096"},
                               {"--each", "--count", "3", file});
  EXPECT_EQ(run.process.status, 1) << run.process.err;
  EXPECT_FALSE(Opened(dir, 2));
  EXPECT_EQ(LinesAfter("001:003 ", run.process.out), "status:18\n");
  EXPECT_EQ(LinesAfter("001:004 ", run.process.out), "status:18\n");
  EXPECT_EQ(LinesAfter("001:005 ", run.process.out), "status:18\nError code Write:19\n");
  EXPECT_EQ(ReceivedAt(dir, 3), content);
  EXPECT_EQ(ReceivedAt(dir, 4), content);
  EXPECT_TRUE(run.process.err.ends_with("korvo-test: 2 of 3 devices passed\n")) << run.process.err;
}

// A unit plugged in while another is under test is tested at once; a stop
// of the station ends the held one, which gets its line, and the count.
TEST(EveryDeviceTest, TheStationTestsUnitsSideBySideAndStopsOnSigterm) {
  TempDir dir;
  const std::string content = Pattern(100000);
  const std::string file = dir.Write("data.bin", content);
  test::Process emu;
  ASSERT_TRUE(emu.Start(EmuCommand(
      dir, {kPrinter + ",hold-writes,plug-after=200", kPrinter + ",serial=B,plug-after=800"},
      {KORVO_TEST_BINARY, "--each", "--json", file})));
  ASSERT_TRUE(WaitUntil([&] { return ReceivedAt(dir, 3) == content; })) << emu.Err();
  // The second run ended (its line is out, and it is reaped) while the first still holds.
  const pid_t station = ChildOf(static_cast<pid_t>(emu.Id()));
  ASSERT_TRUE(WaitUntil([&] { return emu.Out().find("\"result\":\"sent\"") != std::string::npos; }));
  const std::string children = "/proc/" + std::to_string(station) + "/task/" + std::to_string(station) + "/children";
  ASSERT_TRUE(WaitUntil([&] {
    std::ifstream in(children);
    size_t count = 0;
    for (pid_t child; in >> child;) ++count;
    return count == 1;
  }));
  kill(station, SIGTERM);
  ASSERT_TRUE(emu.Wait(60000));
  DeviceRun run = Collect(dir, {true, emu.Status(), emu.Out(), emu.Err()});
  EXPECT_EQ(run.process.status, 1);
  std::map<std::string, std::pair<std::string, int>> results;
  for (const Json& unit : JsonLines(run.process.out)) results[unit["device"]] = {unit["result"], unit["exit"]};
  const std::map<std::string, std::pair<std::string, int>> expected = {
      {"/dev/bus/usb/001/002#vid_6742&pid_0001", {"cancelled", 128 + SIGTERM}},
      {"/dev/bus/usb/001/003#vid_6742&pid_0001", {"sent", 0}}};
  EXPECT_EQ(results, expected) << run.process.out;
  EXPECT_EQ(LinesAfter("001:002 ", run.process.err), "korvo-test: ended by signal 15\n");
  EXPECT_TRUE(run.process.err.ends_with("korvo-test: 1 of 2 devices passed\n")) << run.process.err;
  EXPECT_EQ(run.drivers["001/002"], "usblp");
}

}  // namespace
}  // namespace korvo::e2e
