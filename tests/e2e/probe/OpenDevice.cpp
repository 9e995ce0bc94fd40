// Opens devices by path through the real Linux layer and says how each open
// went: "opened", or "failed ERRNO". Every device stays open until the end,
// so a path given twice shows whether the open is exclusive. Run under
// korvo-emu by the end-to-end tests.
#include <cstdio>
#include <vector>

#include "platform/Device.h"
#include "platform/ErrorNumber.h"
#include "platform/Framework.h"

int main(int argc, char* argv[]) {
  if (!korvo::InitFramework()) return 2;
  std::vector<korvo::Device*> open;
  for (int i = 1; i < argc; ++i) {
    korvo::Device* device = korvo::OpenDevice(argv[i]);
    if (device) {
      std::printf("opened\n");
      open.push_back(device);
    } else {
      std::printf("failed %d\n", korvo::LastErrorNumber());
    }
  }
  for (korvo::Device* device : open) korvo::CloseDevice(device);
  return 0;
}
