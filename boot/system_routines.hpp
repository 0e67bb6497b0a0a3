// The system routines: the C++ routines that the boot library names as routine! values
// (quit-return, set-quiet, the shifts, the current directory, the stack probes, the codecs'
// routines and the rest), kept in a table by name. The boot sources make each routine! value with the boot-only native
// `system-routine` (natives table entry 108), which adds the routine to the routine table
// (evaluator/routines.hpp) and builds the value from the spec block the source gives.
#pragma once

#include <string_view>

#include "evaluator/routines.hpp"

namespace kov::system_routines {

constexpr int NATIVE_NUMBER = 108;

// The routine of that name, or null.
routines::Fn find(std::string_view name);

// Registers the `system-routine` native in the natives table (after natives::init).
void init();

}  // namespace kov::system_routines
