// --json and --path through the real Linux layer, on devices emulated by
// korvo-emu: each way a run ends gives one line a program can read back.
#include <gtest/gtest.h>

#include "EmulatedRun.h"

namespace korvo::e2e {
namespace {

const std::string kKorvo = "vid=6742,pid=0001,product=KORVO%20K1,serial=K1-0042";

TEST(JsonOutputTest, EachWayARunEndsIsOneLineOnStdout) {
  TempDir dir;
  const std::string data = Pattern(1000);
  const std::string file = dir.Write("data.bin", data);
  const std::string pseudo = dir.PathOf("pseudo.bin");
  fs::create_symlink("/proc/self/status", pseudo);
  const struct {
    const char* name;
    std::string device;
    std::vector<std::string> args;  // before FILE
    std::string file;
    const char* result;
    int exit;
    Json status, statusError, fileBytes;
    uint64_t bytesSent;
    std::string err;  // stderr keeps the run's messages
  } cases[] = {
      {"sent", kKorvo, {}, file, "sent", 0, "18", nullptr, 1000, 1000, ""},
      {"status request stalls", kKorvo + ",stall-status", {}, file, "sent", 0, nullptr, 32, 1000, 1000, ""},
      {"held elsewhere", kKorvo + ",busy", {}, file, "unable-to-open", 1, nullptr, nullptr, nullptr, 0,
       "Unable to open KORVO K1\n"},
      {"missing file", kKorvo, {}, dir.PathOf("missing"), "cannot-open-file", 1, "18", nullptr, nullptr, 0, ""},
      {"unreadable file", kKorvo, {}, pseudo, "cannot-read-file", 1, "18", nullptr, nullptr, 0, ""},
      {"device gone mid-write", kKorvo + ",vanish-after=100", {}, file, "write-failed", 1, "18", nullptr,
       1000, 100, ""},
      {"write held past --timeout", kKorvo + ",hold-writes", {"--timeout", "1"}, file, "timeout", 1, "18",
       nullptr, 1000, 0, ""},
      {"no device matches", kKorvo, {"--serial", "K9"}, file, "no-device", 1, nullptr, nullptr, nullptr, 0,
       "No device matches --serial K9\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"--json"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back(c.file);
    DeviceRun run = RunOnDevice(dir, c.device, args);
    EXPECT_EQ(run.process.status, c.exit);
    EXPECT_EQ(run.process.err, c.err);
    std::vector<Json> lines = JsonLines(run.process.out);
    ASSERT_EQ(lines.size(), 1u) << run.process.out;
    const Json& unit = lines[0];
    EXPECT_EQ(unit["result"], c.result);
    EXPECT_EQ(unit["exit"], c.exit);
    EXPECT_EQ(unit["status"], c.status);
    EXPECT_EQ(unit["status_error"], c.statusError);
    EXPECT_EQ(unit["file_bytes"], c.fileBytes);
    EXPECT_EQ(unit["bytes_sent"], c.bytesSent);
    EXPECT_TRUE(unit["seconds"].is_number());
    if (std::string(c.result) == "no-device") {
      EXPECT_TRUE(unit["device"].is_null());
      continue;
    }
    EXPECT_EQ(unit["device"], "/dev/bus/usb/001/002#vid_6742&pid_0001");
    EXPECT_EQ(unit["bus"], 1);
    EXPECT_EQ(unit["address"], 2);
    EXPECT_EQ(unit["vid"], "6742");
    EXPECT_EQ(unit["pid"], "0001");
    EXPECT_EQ(unit["serial"], "K1-0042");
    EXPECT_EQ(unit["description"], "KORVO K1");
  }
}

// The path -l --json shows is the one --path takes, and only that device
// is tested; a path that is not present is a device not found.
TEST(JsonOutputTest, ThePathTheListingShowsSelectsThatDeviceAlone) {
  TempDir dir;
  const std::string file = dir.Write("data.bin", "abc");
  const std::vector<std::string> devices = {"vid=6742,product=A", "vid=6742,product=B%FF,serial=S2"};
  DeviceRun listed = RunOnDevices(dir, devices, {"-l", "--json"});
  EXPECT_EQ(listed.process.status, 0);
  std::vector<Json> lines = JsonLines(listed.process.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]["automatic"], true);
  EXPECT_EQ(lines[1]["description_hex"], "42ff");
  const std::string second = lines[1]["device"];

  DeviceRun run = RunOnDevices(dir, devices, {"--path", second, file});
  EXPECT_EQ(run.process.status, 0);
  EXPECT_EQ(run.process.out, "status:18\n");
  EXPECT_FALSE(Opened(dir, 2));
  EXPECT_TRUE(Opened(dir, 3));

  DeviceRun gone = RunOnDevices(dir, devices, {"--path", second + "x", file});
  EXPECT_EQ(gone.process.status, 1);
  EXPECT_EQ(gone.process.out, "");
  EXPECT_EQ(gone.process.err, "No device matches --path " + second + "x\n");
}

}  // namespace
}  // namespace korvo::e2e
