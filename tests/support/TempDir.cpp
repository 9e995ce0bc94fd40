#include "support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace korvo::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::random_device random;
  fs::path path;
  do {
    path = fs::temp_directory_path() / ("korvo-test-" + std::to_string(random()));
  } while (!fs::create_directory(path));  // taken: another name
  path_ = path.string();
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string TempDir::PathOf(const std::string& name) const {
  return (fs::path(path_) / name).make_preferred().string();
}

std::string TempDir::Write(const std::string& name, const std::string& content) const {
  std::string path = PathOf(name);
  WriteWhole(path, content);
  return path;
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool WriteWhole(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  return !out.fail();
}

}  // namespace korvo::test
