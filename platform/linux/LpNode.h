#pragma once

#include <cstdint>
#include <string>

namespace korvo {

// Opens the usblp node (/dev/usb/lpN) of one interface of the device at
// `usbfsNode`, for writing, without waiting and closed on exec. usblp lets
// one program at a time open it, so the open fails with EBUSY while another
// program prints through it. -1 with errno set on failure; ENOENT when the
// interface has no such node.
int OpenLpNode(const std::string& usbfsNode, uint8_t interfaceNumber);

}  // namespace korvo
