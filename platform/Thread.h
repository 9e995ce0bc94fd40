#pragma once

#include <cstdint>

namespace korvo {

using ThreadRoutine = uint32_t (*)(void* parameter);

// Starts routine(parameter) on a new thread at normal priority and lets it
// run on its own: nobody joins it. False when no thread could be created.
bool StartDetachedThread(ThreadRoutine routine, void* parameter, uint32_t stackSize);

}  // namespace korvo
