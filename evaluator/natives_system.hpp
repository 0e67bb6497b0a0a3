// The system natives: wait, now, get-env, set-env, list-env, to-local-file, size?, browse, stats,
// recycle and checksum's registration (natives_system.cpp).
#pragma once

namespace kov::natives::system_natives {
// Registers the natives of this module in the natives table.
void init();
}  // namespace kov::natives::system_natives
