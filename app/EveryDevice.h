#pragma once

#include "app/CommandLine.h"
#include "discovery/DeviceList.h"

namespace korvo {

// --all: every device in `devices` tested at once, each by a run of this
// program of its own (--path), so that one unit's hang or crash touches no
// other. Each line of a unit's output goes out whole, after its name as -l
// gives it (JSON lines on stdout name their device and go out as they are);
// then the count of units that passed. 0 when every one did.
int TestEveryDevice(const DeviceList& devices, const CommandLine& line);

// --each: the station. Waits for units to be plugged in and tests each one
// as it comes, in a run of its own as --all does, beside those under test;
// a unit is tested again only once it was unplugged. Those present at the
// start are left alone. Ends after --count units, or on SIGINT or SIGTERM
// (Ctrl-C, Ctrl-Break), with the count of --all and its exit status.
int TestEachArrival(const CommandLine& line);

// Says on stderr that the device monitor could not start, and why: for
// --wait and --each alike.
void SayCannotWatchForDevices();

}  // namespace korvo
