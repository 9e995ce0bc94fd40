#include "deviceio/DeviceChannel.h"

#include <cstdint>
#include <cstdio>

#include "deviceio/OperatorHints.h"
#include "platform/ErrorNumber.h"
#include "platform/TerminalText.h"

namespace korvo {

namespace {

// The request has always been made with these two zeroed 80-byte buffers.
// Nothing else writes them, so a short reply leaves zeros behind it.
constexpr uint32_t kStatusBufferSize = 80;
unsigned char g_statusInput[kStatusBufferSize];
unsigned char g_statusReply[kStatusBufferSize];

}  // namespace

Device* OpenAndShowPortStatus(const std::string& path, const std::string& description) {
  Device* device = OpenDevice(path);
  if (!device) {
    // The description is the device's own text: escaped, it can neither
    // drive the terminal nor pass for a line of ours.
    WriteText(stderr, "Unable to open " + TerminalSafe(description) + "\n");
    const OpenFailure& failure = LastOpenFailure();
    std::vector<std::string> hints = {failure.node + ": " + ErrorText(failure.error)};
    if (failure.gone) hints.push_back("the device is gone since it was listed: check its cable and power");
    if (!failure.advice.empty()) hints.push_back(failure.advice);
    ShowHints(hints);
    return nullptr;
  }

  // Only the first reply byte is the status; the reply count is not looked at.
  uint32_t replyCount = 0;
  if (QueryPortStatus(device, g_statusInput, kStatusBufferSize, g_statusReply, kStatusBufferSize,
                      &replyCount)) {
    std::printf("status:%02x\n", static_cast<unsigned>(g_statusReply[0]));
  } else {
    std::printf("Error code Status:%d\n", LastErrorNumber());
  }
  // The transfer may block for as long as the device makes it: the line must
  // reach a log file or pipe before that, not at exit.
  std::fflush(stdout);
  return device;
}

}  // namespace korvo
