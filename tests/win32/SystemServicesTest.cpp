// What the Windows layer's files and error numbers add to the portable unit
// tests (which run here too): the system's own sharing rules and error codes;
// and child runs, whose command line is the system's to read back.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/ErrorNumber.h"
#include "platform/InputFile.h"
#include "platform/TerminalText.h"
#include "support/TempDir.h"

#include <fcntl.h>
#include <io.h>

#include "Console.h"

namespace korvo {
namespace {

using test::WriteWhole;

class InputFileTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
  std::string path_ = dir_.PathOf("inp");
};

TEST_F(InputFileTest, ReadStopsWhereTheFileEnds) {
  ASSERT_TRUE(WriteWhole(path_, "short"));
  InputFile* file = OpenInputFile(path_.c_str());
  ASSERT_NE(file, nullptr);
  char buffer[64];
  uint64_t got = 99;
  EXPECT_TRUE(ReadInputFile(file, buffer, sizeof buffer, &got));
  EXPECT_EQ(got, 5u);
  CloseInputFile(file);
}

TEST_F(InputFileTest, EmptyFileMeasuresAndReadsNothing) {
  ASSERT_TRUE(WriteWhole(path_, ""));
  InputFile* file = OpenInputFile(path_.c_str());
  ASSERT_NE(file, nullptr);
  uint64_t size = 1;
  ASSERT_TRUE(InputFileSize(file, &size));
  EXPECT_EQ(size, 0u);
  uint64_t got = 1;
  char unused;
  EXPECT_TRUE(ReadInputFile(file, &unused, 0, &got));
  EXPECT_EQ(got, 0u);
  CloseInputFile(file);
}

TEST_F(InputFileTest, OpenIsExclusive) {
  ASSERT_TRUE(WriteWhole(path_, "data"));

  // Held by another reader that allows others to read too: still refused.
  HANDLE other = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenInputFile(path_.c_str()), nullptr);
  EXPECT_EQ(LastErrorNumber(), ERROR_SHARING_VIOLATION);
  CloseHandle(other);

  // And while we hold it, nobody else gets in.
  InputFile* file = OpenInputFile(path_.c_str());
  ASSERT_NE(file, nullptr);
  HANDLE late = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(late, INVALID_HANDLE_VALUE);
  if (late != INVALID_HANDLE_VALUE) CloseHandle(late);
  CloseInputFile(file);
}

TEST_F(InputFileTest, MissingFilesDirectoriesAndNoPathDoNotOpen) {
  EXPECT_EQ(OpenInputFile(path_.c_str()), nullptr);
  EXPECT_EQ(LastErrorNumber(), ERROR_FILE_NOT_FOUND);

  ASSERT_TRUE(CreateDirectoryA(path_.c_str(), nullptr));
  EXPECT_EQ(OpenInputFile(path_.c_str()), nullptr);
  EXPECT_NE(LastErrorNumber(), 0);
  RemoveDirectoryA(path_.c_str());

  EXPECT_EQ(OpenInputFile(nullptr), nullptr);
  EXPECT_NE(LastErrorNumber(), 0);
}

// ANSI text on a console shows as itself, whatever the console's code page
// (OEM, 437 in Wine: "\xe9" would be a theta there); a file gets the bytes.
// The console's stream is in binary mode, so that the C runtime does not
// convert the text itself (Wine's does in text mode, Windows' does not).
TEST(WriteTextTest, ConsoleGetsCharactersAndAFileTheBytes) {
  std::string why = win32test::NewConsole();
  if (!why.empty()) GTEST_SKIP() << why;
  HANDLE handle = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  std::FILE* console = _fdopen(_open_osfhandle(reinterpret_cast<intptr_t>(handle), 0), "wb");
  ASSERT_NE(console, nullptr);
  WriteText(console, "KORVO Caf\xe9\nnext\n");
  std::fclose(console);
  std::wstring screen = win32test::ConsoleScreen();
  FreeConsole();
  EXPECT_EQ(screen, win32test::FromAnsi("KORVO Caf\xe9\nnext\n"));
  EXPECT_EQ(screen, L"KORVO Caf\u00e9\nnext\n");

  test::TempDir dir;
  std::FILE* file = std::fopen(dir.PathOf("text").c_str(), "w");
  ASSERT_NE(file, nullptr);
  WriteText(file, "KORVO Caf\xe9\n");
  std::fclose(file);
  EXPECT_EQ(test::ReadWhole(dir.PathOf("text")), "KORVO Caf\xe9\r\n");  // text mode's line end
}

std::string ReadToTheEnd(ChildProcess* child, ChildOutput output) {
  std::string text;
  char buffer[512];
  for (long count; (count = ReadChildOutput(child, output, buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<size_t>(count));
  }
  return text;
}

constexpr const char* kEchoing = "KORVO_ECHO_ARGUMENTS";

// The child side: every argument after the filter, each in brackets on a
// line of its own, as the system reads the command line; and whether the
// handle whose value the last one gives is open here, on the marker file.
void EchoArguments() {
  int count = 0;
  LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 2; i < count; ++i) {
    char ansi[1024] = "";
    WideCharToMultiByte(CP_ACP, 0, words[i], -1, ansi, sizeof ansi, nullptr, nullptr);
    std::fprintf(stderr, "[%s]\n", ansi);
  }
  auto handle = reinterpret_cast<HANDLE>(
      static_cast<uintptr_t>(std::wcstoull(words[count - 1], nullptr, 10)));
  wchar_t name[1024] = L"";
  GetFinalPathNameByHandleW(handle, name, 1024, 0);
  std::fprintf(stderr, "inherited: %s\n", std::wcsstr(name, L"inherit-marker") ? "yes" : "no");
  LocalFree(words);
}

// Every argument reaches the child as it was, whatever quotes and
// backslashes it holds, and no handle of ours but its standard streams.
TEST(ChildProcessTest, ArgumentsArriveByteForByteAndNoHandleOfOurs) {
  if (GetEnvironmentVariableA(kEchoing, nullptr, 0) > 0) return EchoArguments();

  // Inheritable, yet not for this child.
  test::TempDir dir;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE ours = CreateFileA(dir.PathOf("inherit-marker").c_str(), GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(ours, INVALID_HANDLE_VALUE);
  const std::vector<std::string> words = {"plain",
                                          "with space",
                                          "",
                                          "\"quoted\"",
                                          "say \"hi\" twice",
                                          "tail\\",
                                          "C:\\Program Files\\x\\",
                                          "a\\\\\"b\\",
                                          "\\\\?\\usb#vid_6742&pid_0001#k1#{a5dcbf10}",
                                          "tab\tand\xe9",
                                          std::to_string(reinterpret_cast<uintptr_t>(ours))};
  std::vector<std::string> args = {
      "--gtest_filter=ChildProcessTest.ArgumentsArriveByteForByteAndNoHandleOfOurs"};
  args.insert(args.end(), words.begin(), words.end());
  SetEnvironmentVariableA(kEchoing, "1");
  ChildProcess* child = StartOwnProgram(args);
  SetEnvironmentVariableA(kEchoing, nullptr);
  ASSERT_NE(child, nullptr) << GetLastError();
  // Each output is far smaller than a pipe holds: one after the other does.
  const std::string out = ReadToTheEnd(child, ChildOutput::Out);
  const std::string err = ReadToTheEnd(child, ChildOutput::Err);
  const ChildEnd end = WaitChild(child);
  CloseHandle(ours);

  std::string expected;
  for (const std::string& word : words) expected += "[" + word + "]\r\n";
  EXPECT_EQ(err, expected + "inherited: no\r\n");
  EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
  EXPECT_EQ(end.exitStatus, 0u);
}

TEST(ErrorNumberTest, IsTheSystemsLastErrorBothWays) {
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(LastErrorNumber(), 5);
  SetLastErrorNumber(ERROR_SHARING_VIOLATION);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  // Codes with the top bit set read as negative numbers, as %d prints them.
  SetLastError(0xE0000203);
  EXPECT_EQ(LastErrorNumber(), static_cast<int>(0xE0000203));
  EXPECT_LT(LastErrorNumber(), 0);
}

}  // namespace
}  // namespace korvo
