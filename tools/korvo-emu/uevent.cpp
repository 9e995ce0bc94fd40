#include "uevent.h"

#include <arpa/inet.h>
#include <glob.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace korvo_emu {
namespace {

// udevd's message: this header, then the properties as NUL-ended KEY=VALUE
// strings. Numbers in network order; the hashes let the kernel's socket
// filter, which libudev attaches, match subsystem and devtype.
struct MonitorHeader {
  char prefix[8];  // "libudev"
  std::uint32_t magic;
  std::uint32_t header_size;
  std::uint32_t properties_offset;
  std::uint32_t properties_length;
  std::uint32_t subsystem_hash;
  std::uint32_t devtype_hash;
  std::uint32_t tag_bloom_high;
  std::uint32_t tag_bloom_low;
};
constexpr std::uint32_t kMonitorMagic = 0xfeedcafe;

std::atomic<unsigned long long> g_sequence{1};

// MurmurHash2 with seed 0, as libudev hashes the filter strings.
std::uint32_t FilterHash(const std::string& text) {
  constexpr std::uint32_t kMix = 0x5bd1e995;
  std::uint32_t hash = static_cast<std::uint32_t>(text.size());
  std::size_t i = 0;
  for (; i + 4 <= text.size(); i += 4) {
    std::uint32_t block;
    std::memcpy(&block, text.data() + i, 4);
    block *= kMix;
    block ^= block >> 24;
    block *= kMix;
    hash = hash * kMix ^ block;
  }
  const auto byte = [&](std::size_t at) { return static_cast<std::uint32_t>(static_cast<unsigned char>(text[at])); };
  switch (text.size() - i) {
    case 3: hash ^= byte(i + 2) << 16; [[fallthrough]];
    case 2: hash ^= byte(i + 1) << 8; [[fallthrough]];
    case 1: hash ^= byte(i); hash *= kMix;
  }
  hash ^= hash >> 13;
  hash *= kMix;
  return hash ^ hash >> 15;
}

void SendTo(const char* socket_path, msghdr& message, const std::string& name) {
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socket_path, sizeof address.sun_path - 1);
  message.msg_name = &address;
  message.msg_namelen = sizeof address;
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const timeval patience = {1, 0};
  if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience) != 0 ||
      sendmsg(fd, &message, 0) < 0) {
    // A monitor that was closed leaves its socket file behind.
    if (errno != ECONNREFUSED && errno != ENOENT) {
      std::fprintf(stderr, "korvo-emu: %s lost the uevent %s: %s\n", socket_path, name.c_str(),
                   std::strerror(errno));
    }
  }
  if (fd >= 0) close(fd);
}

}  // namespace

Uevent::Uevent(const std::string& root_dir, const std::string& syspath, const char* subsystem,
               const char* action, const std::string& driver)
    : root_dir_(root_dir), name_(std::string(action) + " " + syspath), subsystem_(subsystem) {
  const auto add = [this](const std::string& item) { properties_.append(item).push_back('\0'); };
  add(std::string("ACTION=") + action);
  add("DEVPATH=" + syspath.substr(std::strlen("/sys")));
  add(std::string("SUBSYSTEM=") + subsystem);
  add("SEQNUM=" + std::to_string(g_sequence++));
  std::ifstream uevent(root_dir + syspath + "/uevent");
  for (std::string line; std::getline(uevent, line);) {
    if (line.rfind("DEVTYPE=", 0) == 0) devtype_ = line.substr(std::strlen("DEVTYPE="));
    add(line);
  }
  if (!driver.empty()) add("DRIVER=" + driver);
}

void Uevent::Send() const {
  MonitorHeader header = {};
  std::memcpy(header.prefix, "libudev", sizeof header.prefix);
  header.magic = htonl(kMonitorMagic);
  header.header_size = sizeof header;
  header.properties_offset = sizeof header;
  header.properties_length = static_cast<std::uint32_t>(properties_.size());
  header.subsystem_hash = htonl(FilterHash(subsystem_));
  if (!devtype_.empty()) header.devtype_hash = htonl(FilterHash(devtype_));
  std::string properties = properties_;
  iovec parts[2] = {{&header, sizeof header}, {properties.data(), properties.size()}};
  msghdr message = {};
  message.msg_iov = parts;
  message.msg_iovlen = 2;

  glob_t monitors;
  if (glob((root_dir_ + "/event[0-9]*").c_str(), 0, nullptr, &monitors) != 0) return;  // none listens
  for (std::size_t i = 0; i < monitors.gl_pathc; ++i) SendTo(monitors.gl_pathv[i], message, name_);
  globfree(&monitors);
}

}  // namespace korvo_emu
