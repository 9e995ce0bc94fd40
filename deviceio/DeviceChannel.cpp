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

std::string StatusHex(unsigned status) {
  char hex[4];
  std::snprintf(hex, sizeof hex, "%02x", status & 0xFFu);
  return hex;
}

std::string PortStatusInWords(unsigned status) {
  return std::string(status & kPortSelected ? "selected" : "not selected") +
         (status & kPortNoError ? ", no error" : ", error") +
         (status & kPortPaperEmpty ? ", paper empty" : ", paper present");
}

Device* OpenAndShowPortStatus(const std::string& path, const std::string& description,
                              RunReport* report) {
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
  bool answered = QueryPortStatus(device, g_statusInput, kStatusBufferSize, g_statusReply,
                                  kStatusBufferSize, &replyCount);
  unsigned status = g_statusReply[0];
  if (report) {
    if (answered) report->status = status;
    else report->statusError = LastErrorNumber();
    return device;
  }
  if (answered) {
    std::printf("status:%s\n", StatusHex(status).c_str());
    // A printer that is not ready says why, to a person; a ready one
    // (selected, no error, paper present) needs no words.
    if ((status & (kPortSelected | kPortNoError | kPortPaperEmpty)) != (kPortSelected | kPortNoError)) {
      ShowHints({"port status " + StatusHex(status) + ": " + PortStatusInWords(status)});
    }
  } else {
    std::printf("Error code Status:%d\n", LastErrorNumber());
  }
  // The transfer may block for as long as the device makes it: the line must
  // reach a log file or pipe before that, not at exit.
  std::fflush(stdout);
  return device;
}

}  // namespace korvo
