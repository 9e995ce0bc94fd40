// The emulated devices of a run, and their plugs: there from the start, or
// plugged in and unplugged while the command runs (plug-after, in-turn,
// unplug-after, vanish-after), with the uevents the kernel sends for them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device_config.h"
#include "driver_view.h"
#include "usbfs_device.h"

namespace korvo_emu {

class Testbed;

// One emulated device. Its emulation exists for the whole run; what the
// testbed shows of it, from its plug on.
struct Unit {
  Unit(const DeviceConfig& device_config, std::size_t position, int usblp_minor,
       std::optional<std::string> capture_path)
      : config(device_config), index(position), lp_minor(usblp_minor),
        device(device_config, std::move(capture_path)) {}

  const DeviceConfig& config;
  std::size_t index;  // its position among all devices
  int lp_minor;       // its lp node's number, for usblp
  UsbfsDevice device;
  std::unique_ptr<DriverView> view;
  std::string device_path;  // sysfs
  std::string interface_path;
};
using Units = std::vector<std::unique_ptr<Unit>>;

// Puts the unit into the testbed: sysfs, its node, the emulation behind the
// node. Its driver is not bound yet.
bool Plug(Testbed& testbed, Unit& unit, std::string& error);

// Plugs and unplugs the units on a thread of its own, from Start (the
// command's start) until Stop.
class Hotplug {
 public:
  Hotplug(Testbed& testbed, Units& units);
  ~Hotplug() { Stop(); }
  Hotplug(const Hotplug&) = delete;
  Hotplug& operator=(const Hotplug&) = delete;

  void Start();
  void Stop();

 private:
  using Clock = std::chrono::steady_clock;
  enum class Phase { kAbsent, kProbing, kPlugged, kGone };
  struct Timeline {
    Phase phase = Phase::kAbsent;
    Clock::time_point plugged_at;
    std::optional<Clock::time_point> unplugged_at;
    bool vanished = false;  // took vanish-after's bytes
  };

  void Run();
  std::optional<Clock::time_point> Due(std::size_t i) const;
  void Step(Unit& unit, Phase phase);

  Testbed& testbed_;
  Units& units_;
  std::mutex mutex_;  // the timelines; never held while a unit's device is called
  std::condition_variable wake_;
  std::vector<Timeline> timelines_;
  Clock::time_point start_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace korvo_emu
