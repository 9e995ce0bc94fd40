// The debug trace channel on Linux: syslog at LOG_DEBUG, ident "korvo-test".
// It stays off stdout and stderr, and journald or syslogd keep it for
// whoever wants to watch (journalctl -t korvo-test).
#include "platform/Trace.h"

#include <syslog.h>

#include <cstring>

namespace korvo {

namespace {

void OpenTrace() {
  // Thread-safe once: the status monitor traces from its own thread.
  static const bool opened = [] {
    openlog("korvo-test", LOG_PID, LOG_USER);
    return true;
  }();
  (void)opened;
}

}  // namespace

void WriteTrace(const char* text) {
  OpenTrace();
  // A syslog record is a line already: drop the text's own line end.
  size_t length = std::strlen(text);
  if (length > 0 && text[length - 1] == '\n') --length;
  syslog(LOG_DEBUG, "%.*s", static_cast<int>(length), text);
}

}  // namespace korvo
