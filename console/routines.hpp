// The console's routines: the C++ side of the console engine written in Kov (console/*.kov),
// kept in a table by name like the system routines, through which they are made into routine!
// values at start-up. They read input lines (console/input.hpp), set the title, answer the
// console size, the command line and the environment, and give the console the few file
// services its settings and directory commands need.
#pragma once

#include <string_view>

#include "evaluator/routines.hpp"

namespace kov::console {

// The routine of that name, or null.
routines::Fn find_routine(std::string_view name);

}  // namespace kov::console
