// The base of the boot library: the datatype words, the natives, the actions, the operators and
// the typesets, made at start-up from the embedded boot library (boot/*.kov, built into the boot
// payload), and the running of a script file in that environment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/runtime.hpp"

namespace kov::base {

// The process status when the boot payload cannot be decoded.
constexpr int DAMAGED_PAYLOAD_STATUS = 2;

// Sets every datatype's name word to its datatype!, then evaluates the embedded base sources in
// their order (decoding each first when the table holds the payload). Runs once the collector is
// on (the runtime is up).
void run();

// Decodes one file of the boot payload and evaluates its block in the global context, answering
// as do_text does. Damaged data (a bad header, a structural fault, corrupt compressed data, or
// anything but one block) prints "*** Boot payload damaged: " with the file's name and the fault,
// and ends the process with DAMAGED_PAYLOAD_STATUS.
Status do_payload(const uint8_t* data, size_t length, std::string_view name);

// Evaluates UTF-8 source text in the global context; an error that nothing catches is reported
// and ends the process (status 1).
Status do_text(std::string_view text, std::string_view name);

// Reads a script file and evaluates it; answers the process status (0, or 1 when the file
// cannot be read).
int do_file(const char* path);

}  // namespace kov::base
