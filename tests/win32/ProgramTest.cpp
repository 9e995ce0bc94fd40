// korvo-test.exe from end to end on the real Windows layer, over devices made
// up in Wine: discovery through SetupAPI, the choice, the device channel, the
// transfer, and the device-choice dialog.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Console.h"
#include "HiddenWindowStation.h"
#include "WineDevices.h"
#include "support/Pattern.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace korvo {
namespace {

using namespace win32test;
using test::ProcessResult;
using test::RunProcess;

// A file refuses the port-status request, so the status line is the error:
// "Error code Status:" and a decimal number.
bool IsRefusedStatusLine(const std::string& line) {
  const std::string head = "Error code Status:";
  const std::string end = "\r\n";
  if (line.size() <= head.size() + end.size()) return false;
  if (line.compare(0, head.size(), head) != 0) return false;
  if (line.compare(line.size() - end.size(), end.size(), end) != 0) return false;
  std::string number = line.substr(head.size(), line.size() - head.size() - end.size());
  if (number[0] == '-') number.erase(0, 1);
  return !number.empty() && number.find_first_not_of("0123456789") == std::string::npos;
}
constexpr const char* kDialogCaption = "Select Device to Test";


class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!RunningUnderWine()) GTEST_SKIP() << "needs devices made up in Wine";
    ASSERT_TRUE(test::WriteWhole(dataFile_, data_));
  }

  static std::string Program() { return DosPathOfUnixPath(KORVO_TEST_PROGRAM); }
  std::vector<std::string> Argv() const { return {Program(), dataFile_}; }

  MadeUpInterfaces interfaces_;
  test::TempDir dir_;
  std::string dataFile_ = dir_.PathOf("data.bin");
  std::string data_ = test::Pattern(4096);
};

TEST_F(ProgramTest, KorvoDeviceAmongOthersReceivesTheWholeFile) {
  MadeUpInterface other{"USB\\VID_1234&PID_0001\\A"};
  other.friendlyName = "Other Device";
  MadeUpInterface korvo{"USB\\VID_6742&PID_0001\\B"};
  korvo.friendlyName = "KORVO Unit";
  ASSERT_TRUE(interfaces_.Add(other));
  ASSERT_TRUE(interfaces_.Add(korvo));
  DeviceNode otherNode(InterfacePath(other));
  DeviceNode korvoNode(InterfacePath(korvo));
  ASSERT_TRUE(otherNode.Create());
  ASSERT_TRUE(korvoNode.Create());

  ProcessResult run = RunProcess(Argv());
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(IsRefusedStatusLine(run.out)) << run.out;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(korvoNode.Contents(), data_);
  EXPECT_EQ(otherNode.Contents(), "");
}

// FILE may be longer than MAX_PATH (the manifest says so; Windows still
// wants LongPathsEnabled). The folders are made through "\\?\", which
// takes any length.
TEST_F(ProgramTest, FilePathLongerThanMaxPathIsSent) {
  MadeUpInterface korvo{"USB\\VID_6742&PID_0001\\B"};
  ASSERT_TRUE(interfaces_.Add(korvo));
  DeviceNode node(InterfacePath(korvo));
  ASSERT_TRUE(node.Create());
  std::string path = dataFile_.substr(0, dataFile_.rfind('\\'));
  std::vector<std::string> made;
  while (path.size() <= MAX_PATH) {
    path += "\\" + std::string(60, 'd');
    std::wstring wide = L"\\\\?\\" + FromAnsi(path);
    if (!CreateDirectoryW(wide.c_str(), nullptr)) {
      GTEST_SKIP() << "no folder path of " << path.size() << " characters here: error " << GetLastError();
    }
    made.push_back(path);
  }
  path += "\\data.bin";
  std::wstring wide = L"\\\\?\\" + FromAnsi(path);
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
  DWORD written = 0;
  WriteFile(file, data_.data(), static_cast<DWORD>(data_.size()), &written, nullptr);
  CloseHandle(file);
  ASSERT_EQ(written, data_.size());

  ProcessResult run = RunProcess({Program(), path});
  DeleteFileW(wide.c_str());
  for (auto folder = made.rbegin(); folder != made.rend(); ++folder) {
    RemoveDirectoryW((L"\\\\?\\" + FromAnsi(*folder)).c_str());
  }
  ASSERT_TRUE(run.ended);
  EXPECT_GT(path.size(), static_cast<size_t>(MAX_PATH));
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(node.Contents(), data_);
}

TEST_F(ProgramTest, EmptyFileIsSentAsNothing) {
  MadeUpInterface korvo{"USB\\VID_6742&PID_0001\\B"};
  ASSERT_TRUE(interfaces_.Add(korvo));
  DeviceNode node(InterfacePath(korvo));
  ASSERT_TRUE(node.Create());
  ASSERT_TRUE(test::WriteWhole(dataFile_, ""));

  ProcessResult run = RunProcess(Argv());
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(node.Contents(), "");
}

// The open fails when nothing stands behind the path; the message names the
// device by its friendly name, else its description, else its path.
TEST_F(ProgramTest, OpenFailureNamesTheDeviceByItsBestDescription) {
  struct Case {
    std::optional<std::string> friendlyName;
    std::optional<std::string> deviceDesc;
  };
  const Case cases[] = {{"KORVO Unit", "USB Printing Support"},
                        {"KORVO Caf\xe9", std::nullopt},  // on a pipe, as SetupAPI gives it
                        {std::nullopt, "USB Printing Support"},
                        {std::nullopt, std::nullopt}};
  for (const Case& c : cases) {
    MadeUpInterfaces interfaces;
    MadeUpInterface korvo{"USB\\VID_6742&PID_0001\\NONODE"};
    korvo.friendlyName = c.friendlyName;
    korvo.deviceDesc = c.deviceDesc;
    ASSERT_TRUE(interfaces.Add(korvo));
    std::string shown = c.friendlyName.value_or(c.deviceDesc.value_or(InterfacePath(korvo)));

    ProcessResult run = RunProcess(Argv());
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Unable to open " + shown + "\r\n");
    EXPECT_EQ(run.out, "");
  }
}

TEST_F(ProgramTest, DeviceHeldByAnotherProgramDoesNotOpen) {
  MadeUpInterface korvo{"USB\\VID_6742&PID_0001\\B"};
  korvo.friendlyName = "KORVO Unit";
  ASSERT_TRUE(interfaces_.Add(korvo));
  DeviceNode node(InterfacePath(korvo));
  ASSERT_TRUE(node.Create());
  HANDLE held = CreateFileA(InterfacePath(korvo).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);

  ProcessResult run = RunProcess(Argv());
  CloseHandle(held);
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "Unable to open KORVO Unit\r\n");
  EXPECT_EQ(node.Contents(), "");
}

TEST_F(ProgramTest, MissingFileIsReportedAfterTheStatusLine) {
  MadeUpInterface korvo{"USB\\VID_6742&PID_0001\\B"};
  ASSERT_TRUE(interfaces_.Add(korvo));
  DeviceNode node(InterfacePath(korvo));
  ASSERT_TRUE(node.Create());
  DeleteFileA(dataFile_.c_str());

  ProcessResult run = RunProcess(Argv());
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.status, 1);
  size_t firstLineEnd = run.out.find("\r\n") + 2;
  EXPECT_TRUE(IsRefusedStatusLine(run.out.substr(0, firstLineEnd))) << run.out;
  EXPECT_EQ(run.out.substr(firstLineEnd), "Can not open file " + dataFile_ + "\r\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(node.Contents(), "");
}

// A file larger than the process can hold: nothing is sent, and the run
// says so instead of sending part of it. A 32-bit process cannot hold 4 GiB
// (nor would its low 32 bits be the size); a 64-bit one cannot get 15 TiB
// of memory here (the largest file ext4 takes is 16 TiB).
TEST_F(ProgramTest, FileTooLargeForMemoryIsNotSent) {
  MadeUpInterface korvo{"USB\\VID_6742&PID_0001\\B"};
  ASSERT_TRUE(interfaces_.Add(korvo));
  DeviceNode node(InterfacePath(korvo));
  ASSERT_TRUE(node.Create());
  HANDLE file = CreateFileA(dataFile_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  LARGE_INTEGER end;
  end.QuadPart = sizeof(void*) == 4 ? (1LL << 32) + 3 : (15LL << 40) + 3;  // sparse
  bool extended = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  CloseHandle(file);
  ASSERT_TRUE(extended);

  ProcessResult run = RunProcess(Argv());
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.status, 1);
  size_t firstLineEnd = run.out.find("\r\n") + 2;
  EXPECT_TRUE(IsRefusedStatusLine(run.out.substr(0, firstLineEnd))) << run.out;
  EXPECT_EQ(run.out.substr(firstLineEnd), "Can not read file " + dataFile_ + "\r\n");
  EXPECT_EQ(node.Contents(), "");
}

// The command line on Windows: the same options and texts, IDs and serial
// numbers from the instance IDs, and no -s (Windows tells no bus numbers).
TEST_F(ProgramTest, OptionsListSelectOrRefuse) {
  MadeUpInterface one{"USB\\VID_6742&PID_0001\\K1"};
  one.friendlyName = "KORVO On\xe9";  // in the ANSI code page, as SetupAPI gives it
  MadeUpInterface two{"USB\\VID_6742&PID_0002\\K2"};
  two.friendlyName = "KORVO Two";
  ASSERT_TRUE(interfaces_.Add(one));
  ASSERT_TRUE(interfaces_.Add(two));
  DeviceNode oneNode(InterfacePath(one));
  DeviceNode twoNode(InterfacePath(two));
  const std::string tryHelp = "Try 'korvo-test --help'.\r\n";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string outputStart;  // the whole output when `toSecond` is false
    std::string errors;
    bool toSecond;  // the file reaches the second device
  } cases[] = {
      {{"-h"}, 0, "Usage: korvo-test [-d VID[:PID]] [--serial SERIAL] [--] FILE\r\n", "", false},
      {{"--version"}, 0, "korvo-test 1.0.0\r\n", "", false},
      {{"-l"}, 0, "  * 1  ID 6742:0001  serial K1  KORVO On\xe9\r\n    2  ID 6742:0002  serial K2  KORVO Two\r\n", "", false},
      {{"-d", "6742:0002", dataFile_}, 0, "Error code Status:", "", true},
      {{"--serial", "K2", dataFile_}, 0, "Error code Status:", "", true},
      {{"--serial", "K3", dataFile_}, 1, "", "No device matches --serial K3\r\n", false},
      {{"-s", "1:2", dataFile_}, 1, "",
       "korvo-test: option '-s' is not available here: this system does not tell bus numbers "
       "and addresses; use -d or --serial\r\n" + tryHelp, false},
      {{"-q"}, 1, "", "korvo-test: unknown option '-q'\r\n" + tryHelp, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    ASSERT_TRUE(oneNode.Create());
    ASSERT_TRUE(twoNode.Create());
    std::vector<std::string> argv = {Program()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    ProcessResult run = RunProcess(argv);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(run.err, c.errors);
    EXPECT_EQ(oneNode.Contents(), "");
    EXPECT_EQ(twoNode.Contents(), c.toSecond ? data_ : "");
    if (c.toSecond || c.args[0] == "-h") {
      EXPECT_EQ(run.out.substr(0, c.outputStart.size()), c.outputStart) << run.out;
    } else {
      EXPECT_EQ(run.out, c.outputStart);
    }
  }
}

// --json on Windows: no bus nor address, the listing's number, texts from
// the ANSI code page as UTF-8, and --path taking the path the listing shows.
TEST_F(ProgramTest, JsonLinesCarryTheFactsAndThePathSelects) {
  MadeUpInterface one{"USB\\VID_6742&PID_0001\\K1"};
  one.friendlyName = "KORVO On\xe9";  // e acute in code page 1252
  MadeUpInterface two{"USB\\VID_6742&PID_0002\\K2"};
  two.friendlyName = "KORVO Two";
  ASSERT_TRUE(interfaces_.Add(one));
  ASSERT_TRUE(interfaces_.Add(two));
  DeviceNode oneNode(InterfacePath(one));
  DeviceNode twoNode(InterfacePath(two));
  ASSERT_TRUE(oneNode.Create());
  ASSERT_TRUE(twoNode.Create());

  ProcessResult listed = RunProcess({Program(), "-l", "--json"});
  ASSERT_TRUE(listed.ended);
  EXPECT_EQ(listed.status, 0) << listed.err;
  size_t end = listed.out.find("\r\n");
  ASSERT_NE(end, std::string::npos) << listed.out;
  using Json = nlohmann::json;
  Json first = Json::parse(listed.out.substr(0, end));
  Json second = Json::parse(listed.out.substr(end + 2));
  EXPECT_EQ(first["description"], "KORVO On\xc3\xa9");
  EXPECT_EQ(first["device"], InterfacePath(one));
  EXPECT_TRUE(first["bus"].is_null());
  EXPECT_TRUE(first["address"].is_null());
  EXPECT_EQ(first["serial"], "K1");
  EXPECT_EQ(first["automatic"], true);
  EXPECT_EQ(second["number"], 2);
  EXPECT_EQ(second["pid"], "0002");

  ProcessResult sent = RunProcess({Program(), "--json", "--path", second["device"], dataFile_});
  ASSERT_TRUE(sent.ended);
  EXPECT_EQ(sent.status, 0) << sent.err;
  Json unit = Json::parse(sent.out);
  EXPECT_EQ(unit["result"], "sent");
  EXPECT_EQ(unit["exit"], 0);
  EXPECT_EQ(unit["description"], "KORVO Two");
  EXPECT_TRUE(unit["status"].is_null());  // a file refuses the request
  EXPECT_TRUE(unit["status_error"].is_number());
  EXPECT_EQ(unit["bytes_sent"], data_.size());
  EXPECT_EQ(oneNode.Contents(), "");
  EXPECT_EQ(twoNode.Contents(), data_);
}

// A console reads bytes in its own code page (OEM, 437 in Wine), not in the
// ANSI one SetupAPI's names come in (1252: "\xe9" is e acute, in 437 a
// theta). On a console the program's text shows as itself. (Wine's msvcrt
// converts text-mode output to a console itself, which Windows' does not, so
// under Wine this run passes either way; WriteTextTest tells the two apart.)
TEST_F(ProgramTest, NonAsciiNamesShowAsThemselvesOnAConsole) {
  std::string why = NewConsole();
  if (!why.empty()) GTEST_SKIP() << why;
  MadeUpInterface korvo{"USB\\VID_6742&PID_0001\\K1"};
  korvo.friendlyName = "KORVO Caf\xe9";
  ASSERT_TRUE(interfaces_.Add(korvo));  // no node behind it: the open fails

  ProcessResult listed = RunProcess({Program(), "-l"}, test::Stdout::Console);
  ProcessResult failed = RunProcess(Argv(), test::Stdout::Console);
  std::wstring screen = ConsoleScreen();
  FreeConsole();
  ASSERT_TRUE(listed.ended);
  ASSERT_TRUE(failed.ended);
  EXPECT_EQ(failed.status, 1);

  const std::wstring name = FromAnsi(*korvo.friendlyName);
  EXPECT_EQ(name, L"KORVO Caf\u00e9");
  // The hints for the operator follow (a console is a terminal).
  const std::wstring shown = L"  * 1  ID 6742:0001  serial K1  " + name + L"\nUnable to open " + name + L"\n";
  EXPECT_EQ(screen.substr(0, shown.size()), shown) << "the console shows another text";
  EXPECT_EQ(listed.out + failed.out + listed.err + failed.err, "");  // all of it went there
}

// With several devices and none of vendor 6742 the operator must choose. In
// a window station without a visible desktop (a service, a task running
// while nobody is logged on, an OpenSSH session) nobody can: the run ends
// as cancelled, without showing the dialog.
TEST_F(ProgramTest, WithoutAVisibleDesktopTheChoiceEndsAsCancelled) {
  MadeUpInterface first{"USB\\VID_1111&PID_0001\\A"};
  first.friendlyName = "First Device";
  MadeUpInterface second{"USB\\VID_2222&PID_0002\\B"};
  second.friendlyName = "Second Device";
  ASSERT_TRUE(interfaces_.Add(first));
  ASSERT_TRUE(interfaces_.Add(second));
  DeviceNode firstNode(InterfacePath(first));
  DeviceNode secondNode(InterfacePath(second));
  ASSERT_TRUE(firstNode.Create());
  ASSERT_TRUE(secondNode.Create());
  HWINSTA station = CreateWindowStationA(kHiddenWindowStation, 0, WINSTA_ALL_ACCESS, nullptr);
  ASSERT_NE(station, nullptr);

  ProcessResult run = RunProcess(Argv(), test::Stdout::Captured, kHiddenDesktop);
  CloseWindowStation(station);
  ASSERT_TRUE(run.ended) << "the run waited for an answer nobody can give";
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(firstNode.Contents(), "");
  EXPECT_EQ(secondNode.Contents(), "");
}

// What the program's image tells Windows before it runs: a 32-bit build may
// use 4 GiB of address space on 64-bit Windows, and the manifest is linked in.
TEST(ProgramImageTest, IsLargeAddressAwareAndCarriesItsManifest) {
  std::string image = test::ReadWhole(DosPathOfUnixPath(KORVO_TEST_PROGRAM));
  ASSERT_GT(image.size(), 0x200u);
  IMAGE_DOS_HEADER dos;
  std::memcpy(&dos, image.data(), sizeof dos);
  ASSERT_EQ(dos.e_magic, IMAGE_DOS_SIGNATURE);
  IMAGE_FILE_HEADER header;
  ASSERT_LT(static_cast<size_t>(dos.e_lfanew) + 4 + sizeof header, image.size());
  std::memcpy(&header, image.data() + dos.e_lfanew + 4, sizeof header);
  EXPECT_NE(header.Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE, 0);

  HMODULE module = LoadLibraryExA(DosPathOfUnixPath(KORVO_TEST_PROGRAM).c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  HRSRC manifest = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_NE(manifest, nullptr);
  std::string text(static_cast<const char*>(LockResource(LoadResource(module, manifest))),
                   SizeofResource(module, manifest));
  FreeLibrary(module);
  EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(text.find("<dpiAware"), std::string::npos);
  EXPECT_NE(text.find("<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true<"),
            std::string::npos);
  // Common Controls 6 would restyle the dialog's classic controls.
  EXPECT_EQ(text.find("Common-Controls"), std::string::npos);
}

// Several devices and none of vendor 6742: the operator picks in the dialog.
class ProgramDialogTest : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    if (IsSkipped()) return;
    char display[256];
    if (!GetEnvironmentVariableA("DISPLAY", display, sizeof display)) {
      GTEST_SKIP() << "the dialog needs a display (run under xvfb-run)";
    }
    first_.friendlyName = "First Device";
    second_.friendlyName = "Second Device";
    ASSERT_TRUE(interfaces_.Add(first_));
    ASSERT_TRUE(interfaces_.Add(second_));
    ASSERT_TRUE(firstNode_.Create());
    ASSERT_TRUE(secondNode_.Create());
    ASSERT_TRUE(program_.Start(Argv()));
    dialog_ = WaitForDialog();
    ASSERT_NE(dialog_, nullptr) << "no window \"" << kDialogCaption << "\"";
  }

  // The dialog exists before its initialisation has filled the list; the
  // system shows it only after that.
  static HWND WaitForDialog() {
    for (int i = 0; i < 600; ++i) {
      HWND dialog = FindWindowA(nullptr, kDialogCaption);
      if (dialog && IsWindowVisible(dialog)) return dialog;
      Sleep(50);
    }
    return nullptr;
  }

  HWND Combo() const { return GetDlgItem(dialog_, 1001); }

  // Read as UTF-16: Wine hands the text of another process's control over
  // in that form whichever way it is asked for. The names here are ASCII.
  std::string Item(int index) const {
    wchar_t text[256] = {};
    SendMessageW(Combo(), CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
    std::string narrow;
    for (const wchar_t* c = text; *c; ++c) narrow += static_cast<char>(*c);
    return narrow;
  }

  void PressOk() const {
    PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog_, IDOK)));
  }

  MadeUpInterface first_{"USB\\VID_1111&PID_0001\\A"};
  MadeUpInterface second_{"USB\\VID_2222&PID_0002\\B"};
  DeviceNode firstNode_{InterfacePath(first_)};
  DeviceNode secondNode_{InterfacePath(second_)};
  test::Process program_;
  HWND dialog_ = nullptr;
};

TEST_F(ProgramDialogTest, ShowsTheDescriptionsWithTheLastSelected) {
  EXPECT_EQ(SendMessageA(Combo(), CB_GETCOUNT, 0, 0), 2);
  EXPECT_EQ(Item(0), "First Device");
  EXPECT_EQ(Item(1), "Second Device");
  EXPECT_EQ(SendMessageA(Combo(), CB_GETCURSEL, 0, 0), 1);
  PressOk();
  EXPECT_TRUE(program_.Wait(30000));
}

TEST_F(ProgramDialogTest, OkSendsTheFileToTheLastDevice) {
  PressOk();
  ASSERT_TRUE(program_.Wait(30000));
  EXPECT_EQ(program_.Status(), 0);
  EXPECT_TRUE(IsRefusedStatusLine(program_.Out())) << program_.Out();
  EXPECT_EQ(secondNode_.Contents(), data_);
  EXPECT_EQ(firstNode_.Contents(), "");
}

TEST_F(ProgramDialogTest, PickingTheFirstItemSendsTheFileThere) {
  SendMessageA(Combo(), CB_SETCURSEL, 0, 0);
  PressOk();
  ASSERT_TRUE(program_.Wait(30000));
  EXPECT_EQ(program_.Status(), 0);
  EXPECT_EQ(firstNode_.Contents(), data_);
  EXPECT_EQ(secondNode_.Contents(), "");
}

TEST_F(ProgramDialogTest, CloseBoxEndsTheRunWithOneAndNoMessage) {
  PostMessageA(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0);
  ASSERT_TRUE(program_.Wait(30000));
  EXPECT_EQ(program_.Status(), 1);
  EXPECT_EQ(program_.Out(), "");
  EXPECT_EQ(program_.Err(), "");
  EXPECT_EQ(firstNode_.Contents(), "");
  EXPECT_EQ(secondNode_.Contents(), "");
}

}  // namespace
}  // namespace korvo
