#pragma once

namespace korvo::bench {

// Opens the usbfs node, claims interface 0 and sends the file on bulk OUT
// 0x01 as korvo-emu presents it; true when all of it went.
bool BareSendFile(const char* node, const char* file);

}  // namespace korvo::bench
