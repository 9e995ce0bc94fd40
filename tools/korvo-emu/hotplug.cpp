#include "hotplug.h"

#include <algorithm>
#include <cstdio>

#include "testbed.h"
#include "uevent.h"
#include "usbfs_ready.h"

namespace korvo_emu {
namespace {

using std::chrono::milliseconds;

// The generic driver the kernel binds to every USB device.
constexpr char kUsbDriver[] = "usb";

Uevent UsbUevent(Testbed& testbed, const std::string& syspath, const char* action,
                 const std::string& driver = "") {
  return Uevent(testbed.root_dir(), syspath, "usb", action, driver);
}

}  // namespace

bool Plug(Testbed& testbed, Unit& unit, std::string& error) {
  if (!testbed.AddDevice(unit.config, unit.index, unit.device_path, unit.interface_path, error)) {
    return false;
  }
  unit.view = std::make_unique<DriverView>(testbed, unit.config, unit.interface_path, unit.lp_minor);
  DriverView& view = *unit.view;
  unit.device.OnDriverChange([&view](const std::optional<std::string>& driver) { view.Changed(driver); });
  const std::string node = NodePath(unit.config);
  return !unit.config.has_node ||
         (testbed.AttachHandler(node, unit.device.handler(), error) &&
          unit.device.ShowReadinessIn(testbed.root_dir() + kReadyDir + node.substr(sizeof kNodeDir - 1),
                                      error));
}

Hotplug::Hotplug(Testbed& testbed, Units& units)
    : testbed_(testbed), units_(units), timelines_(units.size()) {
  for (std::size_t i = 0; i < units_.size(); ++i) {
    if (!PluggedLater(units_[i]->config)) timelines_[i].phase = Phase::kPlugged;
  }
}

void Hotplug::Start() {
  const bool needed = std::any_of(units_.begin(), units_.end(), [](const std::unique_ptr<Unit>& unit) {
    return PluggedLater(unit->config) || Unplugs(unit->config);
  });
  if (!needed) return;
  for (std::size_t i = 0; i < units_.size(); ++i) {
    units_[i]->device.OnVanish([this, i] {
      const std::lock_guard<std::mutex> lock(mutex_);
      timelines_[i].vanished = true;
      wake_.notify_all();
    });
  }
  start_ = Clock::now();
  for (Timeline& timeline : timelines_) timeline.plugged_at = start_;
  thread_ = std::thread([this] { Run(); });
}

void Hotplug::Stop() {
  if (!thread_.joinable()) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    wake_.notify_all();
  }
  thread_.join();
}

// When unit i takes its next step, if it has one.
std::optional<Hotplug::Clock::time_point> Hotplug::Due(std::size_t i) const {
  const Timeline& timeline = timelines_[i];
  const DeviceConfig& config = units_[i]->config;
  switch (timeline.phase) {
    case Phase::kAbsent: {
      const milliseconds after(config.plug_after_ms.value_or(0));
      if (!config.in_turn) return start_ + after;
      const std::optional<Clock::time_point>& before = timelines_[i - 1].unplugged_at;
      if (before) return *before + after;
      return std::nullopt;
    }
    case Phase::kProbing:
      return timeline.plugged_at + milliseconds(config.probe_delay_ms);
    case Phase::kPlugged:
      if (timeline.vanished) return timeline.plugged_at;
      if (config.unplug_after_ms) return timeline.plugged_at + milliseconds(*config.unplug_after_ms);
      return std::nullopt;
    case Phase::kGone:
      break;
  }
  return std::nullopt;
}

void Hotplug::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    const Clock::time_point now = Clock::now();
    std::optional<Clock::time_point> next;
    std::optional<std::size_t> ready;
    for (std::size_t i = 0; i < units_.size() && !ready; ++i) {
      const std::optional<Clock::time_point> due = Due(i);
      if (due && *due <= now) ready = i;
      else if (due) next = std::min(next.value_or(*due), *due);
    }
    if (!ready) {
      if (next) wake_.wait_until(lock, *next);
      else wake_.wait(lock);
      continue;
    }
    Timeline& timeline = timelines_[*ready];
    const Phase phase = timeline.phase;
    lock.unlock();
    Step(*units_[*ready], phase);
    lock.lock();
    const Clock::time_point done = Clock::now();
    if (phase == Phase::kAbsent) {
      timeline.phase = units_[*ready]->view ? Phase::kProbing : Phase::kGone;
      timeline.plugged_at = done;
    } else if (phase == Phase::kProbing) {
      timeline.phase = Phase::kPlugged;
    } else {
      timeline.phase = Phase::kGone;
      timeline.unplugged_at = done;
    }
  }
}

// The kernel's order: a device's "add", then its interface's; once the
// drivers were offered the interface, the interface's "bind" (when one took
// it) and the device's own. Unplugged, each driver lets go and each device
// goes, the interface first.
void Hotplug::Step(Unit& unit, Phase phase) {
  std::string error;
  switch (phase) {
    case Phase::kAbsent:
      if (!Plug(testbed_, unit, error)) {
        std::fprintf(stderr, "korvo-emu: %s\n", error.c_str());
        unit.view.reset();
        return;
      }
      UsbUevent(testbed_, unit.device_path, "add").Send();
      UsbUevent(testbed_, unit.interface_path, "add").Send();
      break;
    case Phase::kProbing:
      if (const std::optional<std::string> driver = unit.device.BindDriver()) {
        UsbUevent(testbed_, unit.interface_path, "bind", *driver).Send();
      }
      UsbUevent(testbed_, unit.device_path, "bind", kUsbDriver).Send();
      break;
    case Phase::kPlugged:
    case Phase::kGone: {
      // Made while the devices are there, sent once they are gone, as udevd
      // passes them on.
      std::vector<Uevent> uevents;
      if (unit.device.Unplug()) uevents.push_back(UsbUevent(testbed_, unit.interface_path, "unbind"));
      uevents.push_back(UsbUevent(testbed_, unit.interface_path, "remove"));
      uevents.push_back(UsbUevent(testbed_, unit.device_path, "unbind"));
      uevents.push_back(UsbUevent(testbed_, unit.device_path, "remove"));
      testbed_.RemoveDevice(unit.config, unit.device_path, unit.interface_path);
      for (const Uevent& uevent : uevents) uevent.Send();
      break;
    }
  }
}

}  // namespace korvo_emu
