// Named pipes, mutexes and events of the library carry a descriptor with a null access list, so that any
// account may open them (the protection service runs under another account than its clients).
#pragma once

#include "mcl/mswin/unique_resource.h"

namespace mcl::mswin {

// Makes a zero-filled local block holding such a descriptor and points `attributes` at it. False (and
// `descriptor` empty) when the descriptor cannot be made.
bool make_open_descriptor(unique_hlocal& descriptor, SECURITY_ATTRIBUTES& attributes, BOOL inherit);

} // namespace mcl::mswin
