// The base of the boot library: the datatype words, the natives, the actions, the operators and
// the typesets, made at start-up from the embedded Kov sources (boot/*.kov), and the running of
// a script file in that environment.
#pragma once

#include <string_view>

#include "core/runtime.hpp"

namespace kov::base {

// Sets every datatype's name word to its datatype!, then evaluates the embedded base sources in
// their order. Runs once the collector is on (the runtime is up).
void run();

// Evaluates UTF-8 source text in the global context; an error that nothing catches is reported
// and ends the process (status 1).
Status do_text(std::string_view text, std::string_view name);

// Reads a script file and evaluates it; answers the process status (0, or 1 when the file
// cannot be read).
int do_file(const char* path);

}  // namespace kov::base
