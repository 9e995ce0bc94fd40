#pragma once

#include <optional>
#include <string>
#include <vector>

#include "discovery/DeviceSelector.h"

namespace korvo {

enum class Action {
  SendFile,  // the run of old: choose a device, show its status, send FILE
  List,      // -l: list the devices, open nothing
  Help,      // -h
  Version,   // -V
  Error,     // a usage error; nothing else happens
};

struct CommandLine {
  Action action = Action::SendFile;
  DeviceSelector selector;
  std::string file;   // SendFile: the file to send; empty when none was given
  std::string error;  // Error: the problem, in one line, without the program name
  std::vector<std::string> ignored;  // words after FILE that look like options

  // The production station's options; without them a run is the run of old.
  bool wait = false;                       // -w, --wait[=SECONDS]: wait for a device
  std::optional<unsigned> waitSeconds;     // the wait's limit; none without a value
  bool all = false;                        // -a, --all: every device, each in its own run
  bool each = false;                       // -e, --each: every unit as it is plugged in
  std::optional<unsigned> count;           // --count N: --each stops after N units
  std::optional<unsigned> timeoutSeconds;  // --timeout: a write stalled this long is cancelled
  bool json = false;                       // --json: JSON Lines on stdout
  bool sharedFile = false;                 // --shared-file: FILE read beside other such runs
};

// Reads the arguments that follow the program name. Options come first, as
// POSIX utilities take them: the first word that is not an option (one not
// beginning with '-', or "-" alone) is FILE and ends them, as does "--";
// words after FILE are ignored, as they always were (those that look like
// options are kept in `ignored`, for a hint). A pure function: it touches
// nothing but its arguments.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

}  // namespace korvo
