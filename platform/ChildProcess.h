#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korvo {

// Another run of this program, started by this one: its stdin is the null
// device, its stdout and stderr are pipes of their own to this process, and
// it inherits nothing else of ours (no device, file or pipe). Each platform
// defines it.
struct ChildProcess;

// Starts this program's own executable again, with `args` after its name,
// each reaching the child byte for byte. nullptr when it cannot be started,
// with the error number set. From the first start on, an interrupt no longer
// ends this process (see ChildrenInterrupted).
ChildProcess* StartOwnProgram(const std::vector<std::string>& args);

enum class ChildOutput { Out, Err };

// Waits for what the child writes next to `output` and reads up to `size`
// bytes of it: the count, 0 once the child (and whatever it left running)
// has closed it, -1 on an error. One reader per output at a time.
long ReadChildOutput(ChildProcess* child, ChildOutput output, char* buffer, size_t size);

// How a child ended.
struct ChildEnd {
  uint32_t exitStatus = 0;  // what it returned; Windows: its exit code (0xC000013A after Ctrl-C)
  int signal = 0;           // Linux: the signal that ended it, else 0
};

// Waits for the child's end and frees it; no read of it may be under way.
ChildEnd WaitChild(ChildProcess* child);

// Whether an interrupt came since the first child started: Linux: SIGINT,
// SIGTERM or SIGHUP, passed on to every child still running; Windows: Ctrl-C
// or Ctrl-Break, which the console gives the children itself.
bool ChildrenInterrupted();

// Ends this process as that interrupt would have ended it, uncaught.
[[noreturn]] void EndAsInterrupted();

}  // namespace korvo
