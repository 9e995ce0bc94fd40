#pragma once

namespace korvo {

// Prepares the operating-system layer for one run, before any device work.
// False when the layer cannot be used at all.
bool InitFramework();

}  // namespace korvo
