#include "lp_node.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "testbed.h"

namespace korvo_emu {

LpNode::LpNode(Testbed& testbed, std::string interface_path, int minor)
    : testbed_(testbed), interface_path_(std::move(interface_path)), minor_(minor) {}

LpNode::~LpNode() {
  if (holder_fd_ >= 0) close(holder_fd_);
}

bool LpNode::Create(bool held_elsewhere, bool read_only, std::string& error) {
  if (!testbed_.AddLpNode(interface_path_, minor_, error)) return false;
  const std::string path = testbed_.root_dir() + LpNodePath(minor_);
  if (read_only && chmod(path.c_str(), 0444) != 0) {
    error = "cannot make " + path + " read-only: " + std::strerror(errno);
    return false;
  }
  if (!held_elsewhere) return true;
  // The same lock a program's open takes under the preload.
  holder_fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (holder_fd_ < 0 || flock(holder_fd_, LOCK_EX | LOCK_NB) != 0) {
    error = "cannot hold " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void LpNode::Remove() {
  testbed_.RemoveLpNode(interface_path_, minor_);
  if (holder_fd_ >= 0) close(std::exchange(holder_fd_, -1));
}

}  // namespace korvo_emu
