// Simple I/O services: the output decoding buffer (see simple_io.hpp).
#include "platform/simple_io.hpp"

#include "core/boot.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "datatypes/string.hpp"

namespace kov::simple_io {

namespace {

// The buffer's position in the root block; 0 while it does not exist (the root block's first
// cells hold the stacks, so 0 is never the buffer's place).
uint32_t slot = 0;

}  // namespace

void init_buffer() {
    collector::Root text;
    string::make_at(text.get(), OUTPUT_BUFFER_UNITS, 1);
    boot::keep(text.get());
    slot = memory::buffer_of(boot::root_block)->length() - 1;
}

Cell* output_buffer() {
    if (slot == 0) init_buffer();
    return memory::buffer_of(boot::root_block)->head_cell() + slot;
}

void unbind() { slot = 0; }

}  // namespace kov::simple_io
