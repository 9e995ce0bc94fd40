#include "app/Usage.h"

#include "app/Version.h"

namespace korvo {

std::string UsageText(bool withBusAddress) {
  std::string s = withBusAddress ? " [-s [[BUS]:][ADDR]]" : "";
  std::string text =
      "Usage: korvo-test [-d VID[:PID]]" + s + " [--serial SERIAL] [--] FILE\n"
      "       korvo-test -l|--list [-d VID[:PID]]" + s + " [--serial SERIAL]\n"
      "       korvo-test -h|--help\n"
      "       korvo-test -V|--version\n"
      "\n"
      "Sends FILE as raw data to a KORVO USB device, after showing its port status.\n"
      "The device: the only one; else the first of vendor 6742; else the one the\n"
      "operator picks. The options below narrow the list first.\n"
      "\n"
      "  -d VID[:PID]        only devices with this vendor (and product) ID, in hex\n";
  if (withBusAddress) {
    text += "  -s [[BUS]:][ADDR]   only devices on this bus and/or at this address, decimal\n";
  }
  text +=
      "      --serial SERIAL only the device with this serial number, exactly\n"
      "  -l, --list          list the devices, '*' marks the one taken without asking\n"
      "  -h, --help          show this help\n"
      "  -V, --version       show the version\n"
      "\n"
      "Exit status: 0 when the file was sent, and for no device, -l, -h and -V;\n"
      "1 when anything failed, no device matched, or the choice was cancelled.\n";
  return text;
}

std::string VersionText() { return "korvo-test " KORVO_TEST_VERSION "\n"; }

}  // namespace korvo
