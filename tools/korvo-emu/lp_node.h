// usblp's /dev/usb/lpN for one emulated device: there while usblp is bound to
// the interface, gone while it is not. Opening it is exclusive (see
// lp_open_preload.cpp); lp-busy makes korvo-emu hold it as another program would.
#pragma once

#include <string>

namespace korvo_emu {

class Testbed;

class LpNode {
 public:
  LpNode(Testbed& testbed, std::string interface_path, int minor);
  ~LpNode();
  LpNode(const LpNode&) = delete;
  LpNode& operator=(const LpNode&) = delete;

  // usblp bound: the node appears; `held_elsewhere` keeps it open as another
  // program's, `read_only` gives it mode 0444. Returns false with `error` if
  // the testbed refuses.
  bool Create(bool held_elsewhere, bool read_only, std::string& error);

  // usblp unbound: the node goes. A program's open file of it stays open but
  // leads nowhere, and the next usblp starts unused, as in the kernel.
  void Remove();

 private:
  Testbed& testbed_;
  std::string interface_path_;
  int minor_;
  int holder_fd_ = -1;
};

}  // namespace korvo_emu
