#pragma once

#include <string>
#include <vector>

namespace korvo {

// Writes each line on stderr as "korvo-test: LINE", only when stderr is a
// terminal: logs and pipes keep the run's own lines alone. Comes after the
// run-ending message, so stdout is flushed first to keep the order.
void ShowHints(const std::vector<std::string>& lines);

}  // namespace korvo
