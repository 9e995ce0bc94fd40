#include "platform/linux/DeviceName.h"

namespace korvo {

std::optional<std::string> JoinName(const char* first, const char* second) {
  if (!second || !*second) return std::nullopt;
  if (!first || !*first) return std::string(second);
  return std::string(first) + " " + second;
}

}  // namespace korvo
