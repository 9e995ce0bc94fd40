#include "driver_view.h"

#include <cstdio>
#include <utility>

#include "testbed.h"

namespace korvo_emu {

DriverView::DriverView(Testbed& testbed, const DeviceConfig& config, std::string interface_path,
                       int lp_minor)
    : testbed_(testbed),
      config_(config),
      interface_path_(std::move(interface_path)),
      lp_busy_(config.lp_busy) {
  if (config_.driver == kUsblpDriver && !config_.lp_nonode) {
    lp_node_ = std::make_unique<LpNode>(testbed_, interface_path_, lp_minor);
  }
}

bool DriverView::Create(std::string& error) {
  // Another program's claim binds usbfs; a device gone from the start has none.
  if (config_.vanish_after == 0u) return true;
  return Show(config_.busy ? "usbfs" : config_.driver, error);
}

void DriverView::Changed(const std::optional<std::string>& driver) {
  std::string error;
  if (!Show(driver, error)) std::fprintf(stderr, "korvo-emu: %s\n", error.c_str());
}

bool DriverView::Show(const std::optional<std::string>& driver, std::string& error) {
  testbed_.SetDriverLink(interface_path_, driver);
  if (!lp_node_) return true;
  const bool usblp = driver == kUsblpDriver;
  if (usblp == usblp_bound_) return true;
  usblp_bound_ = usblp;
  if (!usblp) {
    lp_node_->Remove();
    return true;
  }
  return lp_node_->Create(std::exchange(lp_busy_, false), config_.lp_denied, error);
}

}  // namespace korvo_emu
