// Simple I/O services: for now the output decoding buffer of process calls, a string! of
// 102,400 one-byte units made once at start-up and kept alive in a cell of the root block, into
// which a process's captured output is decoded before it reaches its target.
#pragma once

#include <cstdint>

#include "core/value.hpp"

namespace kov::simple_io {

constexpr uint32_t OUTPUT_BUFFER_UNITS = 102400;

// Makes the output decoding buffer (start-up, after the method words). Allocates.
void init_buffer();
// The buffer's cell in the root block, made first when it does not exist yet. The pointer is good
// until the next allocation; callers empty the text before each use.
Cell* output_buffer();
// Forgets the buffer of an earlier run (before the runtime starts afresh).
void unbind();

}  // namespace kov::simple_io
