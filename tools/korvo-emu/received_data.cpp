#include "received_data.h"

#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace korvo_emu {

ReceivedData::ReceivedData(const DeviceConfig& config, std::optional<std::string> capture_path)
    : bus_(config.bus),
      address_(config.address),
      limit_(config.vanish_after),
      capture_path_(std::move(capture_path)),
      checksum_(g_checksum_new(G_CHECKSUM_SHA256)) {}

ReceivedData::~ReceivedData() {
  if (capture_fd_ >= 0) close(capture_fd_);
  g_checksum_free(checksum_);
}

void ReceivedData::Opened() {
  if (!capture_path_ || capture_fd_ >= 0 || capture_failed_) return;
  // Truncated once per run, so that a capture holds exactly what this run sent.
  capture_fd_ = open(capture_path_->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (capture_fd_ < 0) {
    capture_failed_ = true;
    std::fprintf(stderr, "korvo-emu: cannot create %s: %s\n", capture_path_->c_str(),
                 std::strerror(errno));
  }
}

bool ReceivedData::vanished() const { return unplugged_ || (limit_ && received_ >= *limit_); }

std::size_t ReceivedData::Take(const std::uint8_t* data, std::size_t size) {
  written_ = true;
  std::size_t taken = size;
  if (limit_) taken = static_cast<std::size_t>(std::min<std::uint64_t>(size, *limit_ - received_));
  received_ += taken;
  g_checksum_update(checksum_, data, static_cast<gssize>(taken));
  Append(data, taken);
  return taken;
}

void ReceivedData::Append(const std::uint8_t* data, std::size_t size) {
  while (capture_fd_ >= 0 && size > 0) {
    const ssize_t written = write(capture_fd_, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      // A capture that silently lacks bytes would pass a comparison it should fail.
      std::fprintf(stderr, "korvo-emu: cannot write %s: %s; capture stopped\n",
                   capture_path_->c_str(), std::strerror(errno));
      close(capture_fd_);
      capture_fd_ = -1;
      capture_failed_ = true;
      return;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

std::optional<std::string> ReceivedData::Summary() const {
  if (!written_) return std::nullopt;
  char line[160];
  std::snprintf(line, sizeof line, "%03d/%03d received %llu bytes, sha256 %s", bus_, address_,
                static_cast<unsigned long long>(received_), g_checksum_get_string(checksum_));
  return std::string(line);
}

}  // namespace korvo_emu
