#include "app/Usage.h"

#include "app/Version.h"

namespace korvo {

std::string UsageText(bool withBusAddress) {
  std::string s = withBusAddress ? " [-s [[BUS]:][ADDR]]" : "";
  std::string text =
      "Usage: korvo-test [-d VID[:PID]]" + s + " [--serial SERIAL] [--] FILE\n"
      "       korvo-test [STATION OPTIONS] [SELECTORS] [--] FILE\n"
      "       korvo-test -l|--list [-w|--wait[=SECONDS]] [--json] [SELECTORS]\n"
      "       korvo-test -h|--help\n"
      "       korvo-test -V|--version\n"
      "\n"
      "Sends FILE as raw data to a KORVO USB device, after showing its port status.\n"
      "The device: the only one; else the first of vendor 6742; else the one the\n"
      "operator picks. The selectors narrow the list first.\n"
      "\n"
      "Selectors:\n"
      "  -d VID[:PID]        only devices with this vendor (and product) ID, in hex\n";
  if (withBusAddress) {
    text += "  -s [[BUS]:][ADDR]   only devices on this bus and/or at this address, decimal\n";
  }
  text +=
      "      --serial SERIAL only the device with this serial number, exactly\n"
      "      --path PATH     only the device with this path, as --list --json shows it\n"
      "\n"
      "Station options:\n"
      "  -w, --wait[=SECONDS]  when no device is present, wait for one (at most SECONDS)\n"
      "  -a, --all           test every device at once, each in a run of its own; each\n"
      "                      line starts with the unit's name, a count of the units that\n"
      "                      passed ends the output\n"
      "  -e, --each          test each unit as it is plugged in, as --all does, until\n"
      "                      Ctrl-C or SIGTERM\n"
      "      --count N       with --each: stop after N units\n"
      "      --timeout SECONDS  cancel a write that makes no progress for SECONDS\n"
      "      --json          one JSON object a line on stdout, for each unit (or device)\n"
      "      --shared-file   read FILE beside other runs given it (the runs of --all)\n"
      "\n"
      "  -l, --list          list the devices, '*' marks the one taken without asking\n"
      "  -h, --help          show this help\n"
      "  -V, --version       show the version\n"
      "\n"
      "Exit status: 0 when the file was sent, and for no device, -l, -h and -V;\n"
      "1 when anything failed, no device matched, or the choice was cancelled.\n"
      "With --all and --each: 0 only when every unit passed.\n";
  return text;
}

std::string VersionText() { return "korvo-test " KORVO_TEST_VERSION "\n"; }

}  // namespace korvo
