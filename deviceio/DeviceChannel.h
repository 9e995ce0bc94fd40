#pragma once

#include <string>

#include "deviceio/RunReport.h"
#include "platform/Device.h"

namespace korvo {

// Opens the chosen device and prints its port status once ("status:98"), or
// the request's error; with a report, records them there instead. On an open
// failure it says "Unable to open" with the description on stderr and
// answers nullptr; the request's outcome never does.
Device* OpenAndShowPortStatus(const std::string& path, const std::string& description,
                              RunReport* report = nullptr);

// The printer port's bits in the status byte, as the USB printer class
// reports them (those of the parallel port's status register).
constexpr unsigned kPortNoError = 0x08;     // nFault high
constexpr unsigned kPortSelected = 0x10;    // Select
constexpr unsigned kPortPaperEmpty = 0x20;  // PError

// The status byte as the status line shows it: "98".
std::string StatusHex(unsigned status);

// The three bits in words: "selected, no error, paper present".
std::string PortStatusInWords(unsigned status);

}  // namespace korvo
