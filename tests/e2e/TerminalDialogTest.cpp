// What a person at a terminal sees, end to end: the device-choice dialog,
// progress and hints. korvo-test runs under korvo-emu (for the dialog with
// several devices none of vendor 6742), its controlling terminal a
// pseudo-terminal that the test reads and types into.
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <pty.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;
using test::ReadWhole;
using test::WriteWhole;

// Upper bound for anything the tool does on its own; never reached when it works.
constexpr std::chrono::seconds kPatience{30};

const std::vector<std::string> kTwoOthers = {"vid=1111,product=Alpha", "vid=2222,product=Beta"};
const char kCaption[] = "Select Device to Test";
const char kPrompt[] = "Device (1-2, Enter for 2, q to cancel): ";
const char kAlphaCapture[] = "001-002.bin";  // first device: bus 1, address 2
const char kBetaCapture[] = "001-003.bin";

struct Outcome {
  int status = -1;         // exit status, or 128 + signal number
  std::string transcript;  // everything that appeared on the terminal
  std::string out;
  std::string err;
};

// How a run is started, beyond its devices.
struct RunSetup {
  bool terminal = true;          // a controlling terminal, or none at all
  bool outputOnTerminal = false; // stdout and stderr on it too, as in an operator's shell
  bool noFileOverride = false;   // without the permission overrides root has
  std::string data;              // the file to send; a short text when empty
  std::string file;              // what korvo-test is given; the data's path when empty
  std::vector<std::string> after;  // words after FILE
  unsigned short columns = 0;    // the terminal's width; 0: not set
};

// korvo-test FILE under korvo-emu, started either with a pseudo-terminal as
// its controlling terminal or with none at all. Its stdin is a pipe that
// stays open and empty, so reading stdin instead of the terminal would hang;
// its stdout and stderr go to files, so the terminal shows only the dialog,
// unless the setup puts them on the terminal.
class DialogRun {
 public:
  static constexpr bool kWithTerminal = true;

  DialogRun(const std::vector<std::string>& devices, bool withTerminal = kWithTerminal)
      : DialogRun(devices, RunSetup{withTerminal, false, false, "", "", {}, 0}) {}

  DialogRun(const std::vector<std::string>& devices, const RunSetup& setup) : setup_(setup) {
    bool withTerminal = setup.terminal;
    data_ = setup.data.empty() ? "KORVO test data\n" + std::string(200, '\x5a') + "\x01\x02\xff"
                               : setup.data;
    WriteWhole(fs::path(dir_.Path()) / "data.bin", data_);
    fs::create_directory(fs::path(dir_.Path()) / "capture");

    std::vector<std::string> args = {KORVO_EMU_BINARY, "--capture-dir",
                                     (fs::path(dir_.Path()) / "capture").string()};
    for (const std::string& deviceOptions : devices) {
      args.push_back("--device");
      args.push_back(deviceOptions);
    }
    args.insert(args.end(), {"--", KORVO_TEST_BINARY,
                             setup.file.empty() ? (fs::path(dir_.Path()) / "data.bin").string() : setup.file});
    args.insert(args.end(), setup.after.begin(), setup.after.end());

    if (withTerminal) {
      termios cooked = {};
      cooked.c_iflag = ICRNL | IXON | IUTF8;
      cooked.c_oflag = OPOST | ONLCR;
      cooked.c_cflag = CS8 | CREAD | B38400;
      cooked.c_lflag = ISIG | ICANON | ECHO | ECHOE | ECHOK | IEXTEN | ECHOCTL | ECHOKE;
      const cc_t keys[][2] = {{VINTR, 3},  {VQUIT, 28}, {VERASE, 127}, {VKILL, 21},
                              {VEOF, 4},   {VSUSP, 26}, {VMIN, 1},     {VTIME, 0}};
      for (const auto& key : keys) cooked.c_cc[key[0]] = key[1];
      winsize size = {};
      size.ws_row = 24;
      size.ws_col = setup.columns;
      if (openpty(&master_, &terminal_, nullptr, &cooked, &size) != 0) return;
      tcgetattr(terminal_, &found_);
    }
    Start(args);
  }

  ~DialogRun() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {master_, terminal_, stdin_[0], stdin_[1]}) {
      if (fd >= 0) close(fd);
    }
  }

  bool Started() const { return started_; }
  pid_t Pid() const { return pid_; }
  const std::string& Data() const { return data_; }

  // Collects what the terminal shows until `text` appears in it at or
  // after offset `from`.
  // False when the run ends or the time is up first.
  bool WaitFor(const std::string& text, size_t from = 0) {
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (transcript_.find(text, from) == std::string::npos) {
      if (ReadTerminal(50)) continue;
      if (Ended() || std::chrono::steady_clock::now() > deadline) return false;
    }
    return true;
  }

  // Where the terminal's output has got to, for WaitFor.
  size_t Mark() const { return transcript_.size(); }
  const std::string& Transcript() const { return transcript_; }

  // The operator types `keys`.
  void Type(const std::string& keys) {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  // Waits for the end of the run and gathers what it left.
  Outcome Finish() {
    Outcome outcome;
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!Ended()) {
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "the run did not end";
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
        pid_ = -1;
        break;
      }
      if (master_ < 0 || !ReadTerminal(50)) usleep(50 * 1000);
    }
    while (master_ >= 0 && ReadTerminal(0)) {
    }
    outcome.status = WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
    outcome.transcript = transcript_;
    outcome.out = ReadWhole(fs::path(dir_.Path()) / "out");
    outcome.err = ReadWhole(fs::path(dir_.Path()) / "err");
    return outcome;
  }

  // The terminal's settings now, compared with those it had before the run.
  void ExpectTerminalAsFound() const {
    termios now = {};
    ASSERT_EQ(tcgetattr(terminal_, &now), 0);
    EXPECT_EQ(now.c_iflag, found_.c_iflag);
    EXPECT_EQ(now.c_oflag, found_.c_oflag);
    EXPECT_EQ(now.c_cflag, found_.c_cflag);
    EXPECT_EQ(now.c_lflag, found_.c_lflag);
    EXPECT_EQ(0, std::memcmp(now.c_cc, found_.c_cc, sizeof now.c_cc)) << "control keys changed";
  }

  // The bytes that reached the emulated device whose capture file is `name`;
  // empty when the device was never opened.
  std::string Received(const char* name) const {
    return ReadWhole(fs::path(dir_.Path()) / "capture" / name);
  }
  bool Opened(const char* name) const { return fs::exists(fs::path(dir_.Path()) / "capture" / name); }

 private:
  void Start(const std::vector<std::string>& args) {
    std::string out = (fs::path(dir_.Path()) / "out").string();
    std::string err = (fs::path(dir_.Path()) / "err").string();
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    if (pipe2(stdin_, O_CLOEXEC) != 0) return;
    pid_ = fork();
    started_ = pid_ > 0;
    if (pid_ != 0) return;
    // The child: a session of its own, with the terminal (if any) as its
    // controlling terminal but on none of its standard streams.
    setsid();
    if (terminal_ >= 0 && ioctl(terminal_, TIOCSCTTY, 0) != 0) _exit(125);
    int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (outFd < 0 || errFd < 0) _exit(125);
    dup2(stdin_[0], 0);
    dup2(setup_.outputOnTerminal ? terminal_ : outFd, 1);
    dup2(setup_.outputOnTerminal ? terminal_ : errFd, 2);
    // Root may open any file whatever its mode; without these two
    // capabilities (for this process's descendants) it is refused as others are.
    if (setup_.noFileOverride) {
      prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
      prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
    }
    for (int fd : {master_, terminal_}) {
      if (fd > 2) close(fd);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }

  // True once the run has ended; its wait status is then in status_.
  bool Ended() {
    if (pid_ > 0 && waitpid(pid_, &status_, WNOHANG) == pid_) pid_ = -1;
    return pid_ <= 0;
  }

  // Reads what is there within `timeoutMs`; false when nothing came.
  bool ReadTerminal(int timeoutMs) {
    pollfd ready = {master_, POLLIN, 0};
    if (poll(&ready, 1, timeoutMs) <= 0) return false;
    char buffer[4096];
    ssize_t n = read(master_, buffer, sizeof buffer);
    if (n <= 0) return false;
    transcript_.append(buffer, static_cast<size_t>(n));
    return true;
  }

  RunSetup setup_;
  // The file to send, the captures and the tool's stdout and stderr.
  test::TempDir dir_;
  std::string data_;
  int master_ = -1;
  int terminal_ = -1;
  termios found_ = {};
  int stdin_[2] = {-1, -1};
  pid_t pid_ = -1;
  int status_ = 0;
  bool started_ = false;
  std::string transcript_;
};

// Runs the dialog over `devices`, answers the first prompt with `keys`, and
// returns the outcome once the run ends.
Outcome Answer(DialogRun& run, const std::string& keys) {
  EXPECT_TRUE(run.Started());
  EXPECT_TRUE(run.WaitFor(kPrompt)) << "no prompt; the terminal showed:\n" << run.Transcript();
  run.Type(keys);
  return run.Finish();
}

// A run that ended as cancelled: 1, without a word, no device opened, and
// the terminal as it was found.
void ExpectCancelled(const DialogRun& run, const Outcome& o) {
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "");
  EXPECT_FALSE(run.Opened(kAlphaCapture));
  EXPECT_FALSE(run.Opened(kBetaCapture));
  run.ExpectTerminalAsFound();
}

// What the keys mean is ReadAnswer's, tested in linux/DialogPresenterTest.cpp;
// here is what only a terminal shows: the list, the echo of what is typed
// and its erasing, the question asked again, the terminal given back.
TEST(TerminalDialogTest, ShowsTheListAndEchoesAndErasesWhatIsTyped) {
  DialogRun run(kTwoOthers);
  Outcome o = Answer(run, "3\r2\x7fq\r");
  // Lines end in CR LF on a terminal.
  const std::string expected = std::string("\r\n") + kCaption + "\r\n\r\n" +
                               "    1  Alpha\r\n"
                               "  * 2  Beta\r\n"
                               "\r\n" +
                               kPrompt + "3\r\n" +
                               "Please answer 1-2, Enter for 2, q to cancel.\r\n" +
                               kPrompt + "2\b \bq\r\n";
  EXPECT_EQ(o.transcript, expected);
  ExpectCancelled(run, o);
}

TEST(TerminalDialogTest, EnterAloneTestsTheLastDevice) {
  DialogRun run(kTwoOthers);
  Outcome o = Answer(run, "\r");
  EXPECT_EQ(o.status, 0) << o.out << o.err;
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(run.Received(kBetaCapture), run.Data());
  EXPECT_FALSE(run.Opened(kAlphaCapture));
  run.ExpectTerminalAsFound();
}

// Escape alone is known by the time nothing follows it; the end-of-input
// key is the terminal's own.
TEST(TerminalDialogTest, EscapeAndEndOfInputCancelSilently) {
  for (const char* keys : {"\x1b", "\x04"}) {
    SCOPED_TRACE(int(keys[0]));
    DialogRun run(kTwoOthers);
    Outcome o = Answer(run, keys);
    ExpectCancelled(run, o);
  }
}

// A stray Enter pressed while the devices were being listed must not answer
// the question that comes after it.
TEST(TerminalDialogTest, KeysTypedBeforeThePromptAreDiscarded) {
  DialogRun run(kTwoOthers);
  run.Type("\r");
  Outcome o = Answer(run, "1\r");
  EXPECT_EQ(o.status, 0) << o.out << o.err;
  EXPECT_EQ(run.Received(kAlphaCapture), run.Data());
  EXPECT_FALSE(run.Opened(kBetaCapture));
}

// A device's name is not ours: it must not reach the terminal as control
// sequences (clear screen, set title, CSI in its 8-bit form) nor reorder or
// hide text (right-to-left override, zero-width space, line separator),
// while ordinary UTF-8 text shows as it is.
TEST(TerminalDialogTest, ControlCharactersInNamesAreShownHarmless) {
  DialogRun run({"vid=1111,product=%1B[2J%1B]0;owned%07Evil%0Dx%E2%80%AEdc",
                 "vid=2222,product=Caf%C3%A9%C2%9B6n%9Bx%E2%80%8B%E2%80%A8"});
  Outcome o = Answer(run, "q\r");
  EXPECT_NE(o.transcript.find("    1  \\x1b[2J\\x1b]0;owned\\x07Evil\\x0dx\\xe2\\x80\\xaedc\r\n"),
            std::string::npos)
      << o.transcript;
  EXPECT_NE(o.transcript.find("  * 2  Caf\xc3\xa9\\xc2\\x9b" "6n\\x9bx\\xe2\\x80\\x8b\\xe2\\x80\\xa8\r\n"),
            std::string::npos)
      << o.transcript;
  for (char c : o.transcript) {
    bool control = (c >= 0 && c < 0x20 && c != '\r' && c != '\n') || c == 0x7f;
    EXPECT_FALSE(control) << "control byte " << int(c) << " reached the terminal";
  }
  EXPECT_EQ(o.status, 1);
}

TEST(TerminalDialogTest, InterruptAtThePromptGivesTheTerminalBack) {
  const struct {
    const char* name;
    int signal;  // sent to the run, or 0: Ctrl-C typed
  } cases[] = {{"Ctrl-C", 0}, {"SIGINT", SIGINT}, {"SIGTERM", SIGTERM}, {"SIGHUP", SIGHUP}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DialogRun run(kTwoOthers);
    ASSERT_TRUE(run.WaitFor(kPrompt));
    if (c.signal == 0) {
      run.Type("\x03");
    } else {
      kill(run.Pid(), c.signal);
    }
    Outcome o = run.Finish();
    EXPECT_EQ(o.status, 128 + (c.signal ? c.signal : SIGINT));
    EXPECT_FALSE(run.Opened(kAlphaCapture));
    EXPECT_FALSE(run.Opened(kBetaCapture));
    run.ExpectTerminalAsFound();
  }
}

// A CI job or a service: no controlling terminal, and a stdin that never
// ends. The dialog cannot be shown, so the run ends at once with 1.
TEST(TerminalDialogTest, WithoutATerminalTheRunEndsAtOnceWithOne) {
  DialogRun run(kTwoOthers, !DialogRun::kWithTerminal);
  ASSERT_TRUE(run.Started());
  Outcome o = run.Finish();
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "");
  EXPECT_FALSE(run.Opened(kAlphaCapture));
  EXPECT_FALSE(run.Opened(kBetaCapture));
}

// What a terminal shows once `transcript` has been written to it: carriage
// return, line feed and "erase to end of line" applied, line by line.
std::string Screen(const std::string& transcript) {
  std::vector<std::string> lines(1);
  size_t column = 0;
  for (size_t i = 0; i < transcript.size(); ++i) {
    char c = transcript[i];
    std::string& line = lines.back();
    if (c == '\r') {
      column = 0;
    } else if (c == '\n') {
      lines.emplace_back();
      column = 0;
    } else if (transcript.compare(i, 3, "\x1b[K") == 0) {
      line.resize(std::min(line.size(), column));
      i += 2;
    } else {
      if (column < line.size()) line[column] = c;
      else line.push_back(c);
      ++column;
    }
  }
  std::string screen;
  for (size_t i = 0; i < lines.size(); ++i) screen += lines[i] + (i + 1 < lines.size() ? "\n" : "");
  return screen;
}

// A transfer that lasts: 4 MiB to a device that takes 2 MiB a second.
RunSetup LongTransfer(bool outputOnTerminal) {
  RunSetup setup;
  setup.outputOnTerminal = outputOnTerminal;
  setup.data = std::string(4 << 20, '\x5a');
  return setup;
}
const char kSlowKorvo[] = "vid=6742,product=K1,bulk-rate=2097152";

TEST(TerminalFeedbackTest, ProgressIsShownOnATerminalAndLeavesOnlyTheRunsLines) {
  DialogRun run({kSlowKorvo}, LongTransfer(true));
  ASSERT_TRUE(run.Started());
  Outcome o = run.Finish();
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.transcript.find(" of 4.0 MiB  "), std::string::npos) << o.transcript;
  EXPECT_NE(o.transcript.find(" left"), std::string::npos) << o.transcript;
  EXPECT_EQ(Screen(o.transcript), "status:18\n");
  EXPECT_EQ(run.Received(kAlphaCapture), run.Data());
}

// One write of the whole file (under the platform's piece size) that lasts
// two seconds shows the line too; on a narrow terminal every drawing stays
// short of the last column, so that nothing wraps and the erase takes it all.
TEST(TerminalFeedbackTest, ProgressShowsForOneLongWriteAndFitsTheTerminal) {
  const unsigned short widths[] = {0, 20};
  for (unsigned short columns : widths) {
    SCOPED_TRACE(columns);
    RunSetup setup;
    setup.outputOnTerminal = true;
    setup.data = std::string(512 << 10, '\x5a');
    setup.columns = columns;
    DialogRun run({"vid=6742,product=K1,bulk-rate=262144"}, setup);
    ASSERT_TRUE(run.Started());
    Outcome o = run.Finish();
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.transcript.find("\r\x1b[K0.0 of 0.5 MiB  0%"), std::string::npos) << o.transcript;
    EXPECT_EQ(Screen(o.transcript), "status:18\n");
    EXPECT_EQ(run.Received(kAlphaCapture), run.Data());
    if (columns == 0) continue;
    size_t drawn = o.transcript.find("\r\x1b[K");
    while (drawn != std::string::npos) {
      size_t next = o.transcript.find("\r\x1b[K", drawn + 1);
      size_t end = std::min(next, o.transcript.size());
      EXPECT_LT(end - drawn - 4, columns) << o.transcript.substr(drawn + 4, end - drawn - 4);
      drawn = next;
    }
  }
}

TEST(TerminalFeedbackTest, PipesSeeNoProgress) {
  DialogRun run({kSlowKorvo}, LongTransfer(false));
  ASSERT_TRUE(run.Started());
  Outcome o = run.Finish();
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "status:18\n");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.transcript, "");
}

// After the run-ending message, a person at a terminal is told why and what
// to do; a log keeps only the message. A path shows escaped on a terminal and
// as its own bytes in a log; options after FILE are named before the run.
TEST(TerminalFeedbackTest, HintsFollowTheMessageOnATerminalOnly) {
  // A file that opens but cannot be read whole (its size says 0, it holds
  // more), under a name with a control sequence in it.
  test::TempDir files;
  const std::string unreadable = files.PathOf("status\x1b[2J");
  fs::create_symlink("/proc/self/status", unreadable);
  const struct {
    const char* name;
    const char* device;
    const char* file;  // the data file when null
    std::vector<std::string> after;  // words after FILE
    int status;
    std::string screen;
    std::string logged;
  } cases[] = {
      {"no permission", "vid=6742,product=K1,denied", nullptr, {}, 1,
       "Unable to open K1\n"
       "korvo-test: /dev/bus/usb/001/002: Permission denied\n"
       "korvo-test: the udev rule 70-korvo-test.rules gives operators (the user at the seat, "
       "group plugdev) access to KORVO devices; install it, then run: udevadm control --reload "
       "&& udevadm trigger\n",
       "Unable to open K1\n"},
      {"busy", "vid=6742,product=K1,busy", nullptr, {}, 1,
       "Unable to open K1\n"
       "korvo-test: /dev/bus/usb/001/002: Device or resource busy\n"
       "korvo-test: another program holds the device (claimed through usbfs)\n",
       "Unable to open K1\n"},
      {"printer in use", "vid=6742,product=K1,driver=usblp,lp-busy", nullptr, {}, 1,
       "Unable to open K1\n"
       "korvo-test: /dev/usb/lp0: Device or resource busy\n"
       "korvo-test: another program is printing through the printer's node\n",
       "Unable to open K1\n"},
      {"printer's node not writable", "vid=6742,product=K1,driver=usblp,lp-denied", nullptr, {}, 1,
       "Unable to open K1\n"
       "korvo-test: /dev/usb/lp0: Permission denied\n"
       "korvo-test: the udev rule 70-korvo-test.rules gives operators (the user at the seat, "
       "group plugdev) access to KORVO devices; install it, then run: udevadm control --reload "
       "&& udevadm trigger\n",
       "Unable to open K1\n"},
      {"usblp bound without its node", "vid=6742,product=K1,driver=usblp,lp-nonode", nullptr, {}, 1,
       "Unable to open K1\n"
       "korvo-test: /dev/bus/usb/001/002: No such file or directory\n"
       "korvo-test: usblp drives the printer but shows no node /dev/usb/lp* for it, so nobody "
       "can tell whether it is printing: the tool leaves usblp alone\n",
       "Unable to open K1\n"},
      {"nothing takes raw data", "vid=6742,product=K1,no-bulk-out", nullptr, {}, 1,
       "Unable to open K1\n"
       "korvo-test: /dev/bus/usb/001/002: Operation not supported\n"
       "korvo-test: the device has no interface that takes raw data (a bulk OUT endpoint)\n",
       "Unable to open K1\n"},
      {"another driver", "vid=6742,product=K1,class=8,driver=usb-storage", nullptr, {}, 1,
       "Unable to open K1\n"
       "korvo-test: /dev/bus/usb/001/002: Device or resource busy\n"
       "korvo-test: the kernel driver 'usb-storage' holds the device\n",
       "Unable to open K1\n"},
      {"write failed", "vid=6742,product=K1,vanish-after=100", nullptr, {}, 1,
       "status:18\nError code Write:19\nkorvo-test: error 19: No such device\n",
       "status:18\nError code Write:19\n"},
      {"missing file", "vid=6742,product=K1", "/nonexistent/data.bin", {}, 1,
       "status:18\nCan not open file /nonexistent/data.bin\n"
       "korvo-test: /nonexistent/data.bin: No such file or directory\n",
       "status:18\nCan not open file /nonexistent/data.bin\n"},
      {"control characters in the path", "vid=6742,product=K1", "/nonexistent/x\x1b]0;pwned\a\x1b[2J", {}, 1,
       "status:18\nCan not open file /nonexistent/x\\x1b]0;pwned\\x07\\x1b[2J\n"
       "korvo-test: /nonexistent/x\\x1b]0;pwned\\x07\\x1b[2J: No such file or directory\n",
       "status:18\nCan not open file /nonexistent/x\x1b]0;pwned\a\x1b[2J\n"},
      {"control characters in an unreadable path", "vid=6742,product=K1", unreadable.c_str(), {}, 1,
       "status:18\nCan not read file " + files.PathOf("status\\x1b[2J") + "\n",
       "status:18\nCan not read file " + unreadable + "\n"},
      {"printer not ready", "vid=6742,product=K1,status=38", nullptr, {}, 0,
       "status:38\nkorvo-test: port status 38: selected, no error, paper empty\n",
       "status:38\n"},
      {"options after FILE", "vid=6742,product=K1", nullptr, {"--serial", "S2", "-d\x1b[2J"}, 0,
       "korvo-test: ignored after FILE: '--serial' '-d\\x1b[2J'; options go before FILE\n"
       "status:18\n",
       "status:18\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool onTerminal : {true, false}) {
      RunSetup setup;
      setup.outputOnTerminal = onTerminal;
      setup.noFileOverride = true;
      if (c.file) setup.file = c.file;
      setup.after = c.after;
      DialogRun run({c.device}, setup);
      ASSERT_TRUE(run.Started());
      Outcome o = run.Finish();
      EXPECT_EQ(o.status, c.status);
      if (onTerminal) {
        EXPECT_EQ(Screen(o.transcript), c.screen);
      } else {
        EXPECT_EQ(o.out + o.err, c.logged);
        EXPECT_EQ(o.transcript, "");
      }
    }
  }
}

}  // namespace
}  // namespace korvo
