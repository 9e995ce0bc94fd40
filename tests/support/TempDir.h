#pragma once

#include <string>

namespace korvo::test {

// A directory of its own under the system's temporary directory, removed
// with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  // The path of `name` (which may hold '/') in the directory.
  std::string PathOf(const std::string& name) const;
  // Writes `content` to the file `name`; answers its path.
  std::string Write(const std::string& name, const std::string& content) const;

 private:
  std::string path_;
};

// A whole file's bytes, or "" when it cannot be read.
std::string ReadWhole(const std::string& path);
bool WriteWhole(const std::string& path, const std::string& content);

}  // namespace korvo::test
