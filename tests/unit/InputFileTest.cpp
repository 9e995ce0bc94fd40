// The real input file of the platform layer, on real files.
#include "platform/InputFile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>

#include "support/Pattern.h"
#include "support/TempDir.h"

namespace korvo {
namespace {

using test::Pattern;
using test::TempDir;

TEST(InputFileTest, ReadsTheMeasuredSizeInOneCall) {
  TempDir dir;
  std::string content = Pattern(100000);
  std::string path = dir.Write("data.bin", content);

  InputFile* file = OpenInputFile(path.c_str());
  ASSERT_NE(file, nullptr);
  uint64_t size = 0;
  ASSERT_TRUE(InputFileSize(file, &size));
  EXPECT_EQ(size, content.size());
  std::string buffer(content.size(), '\0');
  uint64_t got = 0;
  ASSERT_TRUE(ReadInputFile(file, buffer.data(), size, &got));
  EXPECT_EQ(got, size);
  EXPECT_EQ(buffer, content);
  CloseInputFile(file);
}

TEST(InputFileTest, OpenIsExclusiveUntilTheHolderClosesIt) {
  TempDir dir;
  std::string path = dir.Write("data.bin", "abc");
  InputFile* first = OpenInputFile(path.c_str());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(OpenInputFile(path.c_str()), nullptr);
  CloseInputFile(first);
  InputFile* again = OpenInputFile(path.c_str());
  EXPECT_NE(again, nullptr);
  if (again) CloseInputFile(again);
}

// Shared opens (the runs of --all) read beside each other, and keep an
// exclusive one out as it keeps them out.
TEST(InputFileTest, SharedOpensGoTogetherAndNotWithAnExclusiveOne) {
  TempDir dir;
  std::string path = dir.Write("data.bin", "abc");
  InputFile* first = OpenInputFile(path.c_str(), true);
  InputFile* second = OpenInputFile(path.c_str(), true);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(OpenInputFile(path.c_str()), nullptr);
  CloseInputFile(first);
  CloseInputFile(second);
  InputFile* exclusive = OpenInputFile(path.c_str());
  ASSERT_NE(exclusive, nullptr);
  EXPECT_EQ(OpenInputFile(path.c_str(), true), nullptr);
  CloseInputFile(exclusive);
}

TEST(InputFileTest, OnlyExistingFilesOpen) {
  TempDir dir;
  EXPECT_EQ(OpenInputFile(dir.PathOf("missing.bin").c_str()), nullptr);
  EXPECT_EQ(OpenInputFile(dir.Path().c_str()), nullptr);  // a directory
  EXPECT_EQ(OpenInputFile(""), nullptr);
  EXPECT_EQ(OpenInputFile(nullptr), nullptr);
}

TEST(InputFileTest, SizeIsNotCutTo32Bits) {
  TempDir dir;
  std::string path = dir.Write("sparse.bin", "");
  std::error_code error;
  const uint64_t fiveGiB = uint64_t{5} << 30;
  std::filesystem::resize_file(path, fiveGiB + 3, error);
  if (error) GTEST_SKIP() << "no sparse files here: " << error.message();

  InputFile* file = OpenInputFile(path.c_str());
  ASSERT_NE(file, nullptr);
  uint64_t size = 0;
  EXPECT_TRUE(InputFileSize(file, &size));
  EXPECT_EQ(size, fiveGiB + 3);
  CloseInputFile(file);
}

#if SIZE_MAX > UINT32_MAX  // a 32-bit process cannot hold the buffer
// One read(2) delivers at most about 2 GiB: the rest must still come in.
TEST(InputFileTest, ReadsPastTwoGibibytes) {
  TempDir dir;
  std::string path = dir.Write("big.bin", "");
  const uint64_t size = (uint64_t{2} << 30) + 4096;
  std::error_code error;
  std::filesystem::resize_file(path, size - 4, error);  // sparse zeros...
  if (error) GTEST_SKIP() << "no sparse files here: " << error.message();
  std::ofstream(path, std::ios::binary | std::ios::app) << "tail";  // ...then four bytes

  std::unique_ptr<char[]> buffer(new (std::nothrow) char[static_cast<size_t>(size)]);
  if (!buffer) GTEST_SKIP() << "not enough memory for the test";
  InputFile* file = OpenInputFile(path.c_str());
  ASSERT_NE(file, nullptr);
  uint64_t got = 0;
  EXPECT_TRUE(ReadInputFile(file, buffer.get(), size, &got));
  EXPECT_EQ(got, size);
  EXPECT_EQ(std::string(buffer.get() + size - 4, 4), "tail");
  CloseInputFile(file);
}
#endif

// Another program may still cut the file after it was measured (the lock
// only keeps out those who ask for it): the read then says how much came.
TEST(InputFileTest, ReadOfAFileThatShrankSaysHowMuchCame) {
  TempDir dir;
  std::string path = dir.Write("data.bin", Pattern(5000));
  InputFile* file = OpenInputFile(path.c_str());
  ASSERT_NE(file, nullptr);
  uint64_t size = 0;
  ASSERT_TRUE(InputFileSize(file, &size));
  std::error_code error;
  std::filesystem::resize_file(path, 1200, error);
  if (error) {
    CloseInputFile(file);
    GTEST_SKIP() << "the open file cannot be cut here: " << error.message();
  }

  std::string buffer(static_cast<size_t>(size), '\0');
  uint64_t got = 0;
  EXPECT_TRUE(ReadInputFile(file, buffer.data(), size, &got));
  EXPECT_EQ(got, 1200u);
  CloseInputFile(file);
}

}  // namespace
}  // namespace korvo
