#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace korvo {
namespace {

// What a parse must give; absent selector parts must stay absent.
struct Expected {
  Action action;
  std::string file;
  std::optional<unsigned> vendorId, productId, bus, address;
  std::optional<std::string> serial;
  std::string error;
};

Expected Send(std::string file) { return {Action::SendFile, std::move(file), {}, {}, {}, {}, {}, ""}; }
Expected Refused(std::string error) { return {Action::Error, "", {}, {}, {}, {}, {}, std::move(error)}; }

TEST(CommandLineTest, ArgumentsGiveTheActionTheSelectorAndTheFile) {
  const struct {
    std::vector<std::string> args;
    Expected expected;
  } cases[] = {
      // The run of old: one word that does not begin with '-' is FILE, and
      // what follows FILE is ignored, options included.
      {{"data.bin"}, Send("data.bin")},
      {{}, Send("")},
      {{""}, Send("")},
      {{"-"}, Send("-")},
      {{"data.bin", "-x", "--help"}, Send("data.bin")},
      {{"--", "-x"}, Send("-x")},
      {{"--", "--"}, Send("--")},
      {{"--"}, Send("")},
      {{"./-x"}, Send("./-x")},
      // Help, version and list; help wins over the others.
      {{"-h"}, {Action::Help, "", {}, {}, {}, {}, {}, ""}},
      {{"--help"}, {Action::Help, "", {}, {}, {}, {}, {}, ""}},
      {{"-V"}, {Action::Version, "", {}, {}, {}, {}, {}, ""}},
      {{"--version", "-h"}, {Action::Help, "", {}, {}, {}, {}, {}, ""}},
      {{"-lV"}, {Action::Version, "", {}, {}, {}, {}, {}, ""}},
      {{"--list"}, {Action::List, "", {}, {}, {}, {}, {}, ""}},
      {{"-l", "-d", "6742"}, {Action::List, "", 0x6742, {}, {}, {}, {}, ""}},
      {{"-ld6742"}, {Action::List, "", 0x6742, {}, {}, {}, {}, ""}},
      // Selectors as lsusb writes them; the last of a kind wins.
      {{"-d", "6742:0002", "f"}, {Action::SendFile, "f", 0x6742, 0x0002, {}, {}, {}, ""}},
      {{"-d", "ABcd:", "f"}, {Action::SendFile, "f", 0xabcd, {}, {}, {}, {}, ""}},
      {{"-d", ":2", "f"}, {Action::SendFile, "f", {}, 0x0002, {}, {}, {}, ""}},
      {{"-d", "1", "-d", "2:3", "f"}, {Action::SendFile, "f", 0x2, 0x3, {}, {}, {}, ""}},
      {{"-s", "1:3", "f"}, {Action::SendFile, "f", {}, {}, 1, 3, {}, ""}},
      {{"-s", "003", "f"}, {Action::SendFile, "f", {}, {}, {}, 3, {}, ""}},
      {{"-s", "2:", "f"}, {Action::SendFile, "f", {}, {}, 2, {}, {}, ""}},
      {{"-s:7", "f"}, {Action::SendFile, "f", {}, {}, {}, 7, {}, ""}},
      // lsusb -v's 0x6742 and /dev/bus/usb's 001/003 mean the same.
      {{"-d", "0x6742:0x0001", "f"}, {Action::SendFile, "f", 0x6742, 0x0001, {}, {}, {}, ""}},
      {{"-d0X12", "f"}, {Action::SendFile, "f", 0x12, {}, {}, {}, {}, ""}},
      {{"-d", ":0x2", "f"}, {Action::SendFile, "f", {}, 0x0002, {}, {}, {}, ""}},
      {{"-s", "001/003", "f"}, {Action::SendFile, "f", {}, {}, 1, 3, {}, ""}},
      {{"-s", "/7", "f"}, {Action::SendFile, "f", {}, {}, {}, 7, {}, ""}},
      {{"--serial", "K1 0042", "f"}, {Action::SendFile, "f", {}, {}, {}, {}, "K1 0042", ""}},
      {{"--serial=-x", "--", "-y"}, {Action::SendFile, "-y", {}, {}, {}, {}, "-x", ""}},
      {{"--serial", "-d"}, {Action::SendFile, "", {}, {}, {}, {}, "-d", ""}},
      // Usage errors: one line, naming the problem.
      {{"-x"}, Refused("unknown option '-x'")},
      {{"-lx"}, Refused("unknown option '-x'")},
      {{"--bogus=1"}, Refused("unknown option '--bogus'")},
      {{"--\x1b[2J"}, Refused("unknown option '--\\x1b[2J'")},
      {{"-d"}, Refused("option '-d' needs a value")},
      {{"-s"}, Refused("option '-s' needs a value")},
      {{"--serial"}, Refused("option '--serial' needs a value")},
      {{"--serial=", "f"}, Refused("option '--serial' needs a value")},
      {{"--serial", "", "f"}, Refused("option '--serial' needs a value")},
      {{"--help=yes"}, Refused("option '--help' takes no value")},
      {{"-d", "zz"}, Refused("invalid -d 'zz': expected VID[:PID] in hex, e.g. 6742:0001")},
      {{"-d", "12345"}, Refused("invalid -d '12345': expected VID[:PID] in hex, e.g. 6742:0001")},
      {{"-d", ":"}, Refused("invalid -d ':': expected VID[:PID] in hex, e.g. 6742:0001")},
      {{"-d", "1:2:3"}, Refused("invalid -d '1:2:3': expected VID[:PID] in hex, e.g. 6742:0001")},
      {{"-d", "0x"}, Refused("invalid -d '0x': expected VID[:PID] in hex, e.g. 6742:0001")},
      {{"-d", "0x12345"}, Refused("invalid -d '0x12345': expected VID[:PID] in hex, e.g. 6742:0001")},
      {{"-d", "0x0x1"}, Refused("invalid -d '0x0x1': expected VID[:PID] in hex, e.g. 6742:0001")},
      {{"-d", "6742/1"}, Refused("invalid -d '6742/1': expected VID[:PID] in hex, e.g. 6742:0001")},
      {{"-s", "a"}, Refused("invalid -s 'a': expected [[BUS]:][ADDR] in decimal, e.g. 1:2")},
      {{"-s", "1:2:3"}, Refused("invalid -s '1:2:3': expected [[BUS]:][ADDR] in decimal, e.g. 1:2")},
      {{"-s", "1000"}, Refused("invalid -s '1000': expected [[BUS]:][ADDR] in decimal, e.g. 1:2")},
      {{"-s", "-1"}, Refused("invalid -s '-1': expected [[BUS]:][ADDR] in decimal, e.g. 1:2")},
      {{"-s", "1/2:3"}, Refused("invalid -s '1/2:3': expected [[BUS]:][ADDR] in decimal, e.g. 1:2")},
      {{"-s", "0x1:2"}, Refused("invalid -s '0x1:2': expected [[BUS]:][ADDR] in decimal, e.g. 1:2")},
      {{"-l", "f"}, Refused("option '-l' takes no FILE")},
      {{"--path"}, Refused("option '--path' needs a value")},
      {{"--path=", "f"}, Refused("option '--path' needs a value")},
      {{"--timeout", "0", "f"}, Refused("invalid --timeout '0': expected a whole number of seconds, e.g. 30")},
      {{"--timeout=1.5", "f"}, Refused("invalid --timeout '1.5': expected a whole number of seconds, e.g. 30")},
      {{"--wait=", "f"}, Refused("invalid --wait '': expected a whole number of seconds, e.g. 30")},
      {{"--wait=1000000", "f"}, Refused("invalid --wait '1000000': expected a whole number of seconds, e.g. 30")},
      {{"-e", "--count", "x", "f"}, Refused("invalid --count 'x': expected a whole number of units, e.g. 8")},
      {{"--json=1"}, Refused("option '--json' takes no value")},
      {{"-la"}, Refused("options '-l' and '--all' cannot be used together")},
      {{"-l", "--each"}, Refused("options '-l' and '--each' cannot be used together")},
      {{"-l", "--timeout=5"}, Refused("options '-l' and '--timeout' cannot be used together")},
      {{"-ae", "f"}, Refused("options '--all' and '--each' cannot be used together")},
      {{"-ew", "f"}, Refused("options '--each' and '--wait' cannot be used together")},
      {{"--count=2", "f"}, Refused("option '--count' needs '--each'")},
      {{"-h", "-la"}, {Action::Help, "", {}, {}, {}, {}, {}, ""}},
      // The first problem ends the parse, before help is looked at.
      {{"-x", "-h"}, Refused("unknown option '-x'")},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const std::string& arg : c.args) shown += "[" + arg + "] ";
    SCOPED_TRACE(shown);
    CommandLine line = ParseCommandLine(c.args);
    const Expected& e = c.expected;
    EXPECT_EQ(line.action, e.action);
    EXPECT_EQ(line.error, e.error);
    EXPECT_EQ(line.file, e.file);
    EXPECT_EQ(line.selector.vendorId, e.vendorId);
    EXPECT_EQ(line.selector.productId, e.productId);
    EXPECT_EQ(line.selector.bus, e.bus);
    EXPECT_EQ(line.selector.address, e.address);
    EXPECT_EQ(line.selector.serial, e.serial);
  }
}

// Words after FILE change nothing in the run; those that look like options
// are kept for the hint that says they were ignored.
TEST(CommandLineTest, OptionsAfterFileAreKeptAsIgnored) {
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> ignored;
  } cases[] = {
      {{"f"}, {}},
      {{"f", "g", "-", "h"}, {}},
      {{"f", "--serial", "S2"}, {"--serial"}},
      {{"-d", "6742", "f", "-s", "1:2", "--list=x", "-"}, {"-s", "--list=x"}},
      {{"--", "-f", "-x", "--"}, {"-x", "--"}},
      {{"--"}, {}},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const std::string& arg : c.args) shown += "[" + arg + "] ";
    SCOPED_TRACE(shown);
    CommandLine line = ParseCommandLine(c.args);
    EXPECT_EQ(line.action, Action::SendFile);
    EXPECT_EQ(line.ignored, c.ignored);
  }
  CommandLine line = ParseCommandLine({"f", "--serial", "S2"});
  EXPECT_EQ(line.file, "f");
  EXPECT_FALSE(line.selector.serial);
}

// The station's options, each on its own and as they combine; none is set
// unless asked for.
TEST(CommandLineTest, StationOptionsAreReadAsGiven) {
  const struct {
    std::vector<std::string> args;
    bool wait, all, each, json;
    std::optional<unsigned> waitSeconds, count, timeoutSeconds;
    std::optional<std::string> path;
    std::string file;
  } cases[] = {
      {{"f"}, false, false, false, false, {}, {}, {}, {}, "f"},
      {{"-w", "f"}, true, false, false, false, {}, {}, {}, {}, "f"},
      {{"--wait", "5"}, true, false, false, false, {}, {}, {}, {}, "5"},  // no '=': 5 is FILE
      {{"--wait=5", "f"}, true, false, false, false, 5, {}, {}, {}, "f"},
      {{"-aw", "--timeout", "30", "f"}, true, true, false, false, {}, {}, 30, {}, "f"},
      {{"-e", "--count=3", "--json", "f"}, false, false, true, true, {}, 3, {}, {}, "f"},
      {{"--each", "--count", "999999", "f"}, false, false, true, false, {}, 999999, {}, {}, "f"},
      {{"--path", "/dev/bus/usb/001/007", "f"}, false, false, false, false, {}, {}, {}, "/dev/bus/usb/001/007", "f"},
      {{"--path=\\\\?\\usb#vid_6742", "f"}, false, false, false, false, {}, {}, {}, "\\\\?\\usb#vid_6742", "f"},
      {{"-l", "-w", "--json"}, true, false, false, true, {}, {}, {}, {}, ""},
      {{"f", "--all"}, false, false, false, false, {}, {}, {}, {}, "f"},  // after FILE: ignored
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const std::string& arg : c.args) shown += "[" + arg + "] ";
    SCOPED_TRACE(shown);
    CommandLine line = ParseCommandLine(c.args);
    EXPECT_EQ(line.error, "");
    EXPECT_EQ(line.wait, c.wait);
    EXPECT_EQ(line.all, c.all);
    EXPECT_EQ(line.each, c.each);
    EXPECT_EQ(line.json, c.json);
    EXPECT_EQ(line.waitSeconds, c.waitSeconds);
    EXPECT_EQ(line.count, c.count);
    EXPECT_EQ(line.timeoutSeconds, c.timeoutSeconds);
    EXPECT_EQ(line.selector.path, c.path);
    EXPECT_EQ(line.file, c.file);
  }
}

}  // namespace
}  // namespace korvo
