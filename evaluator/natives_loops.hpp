// The series loops foreach, forall and remove-each, and apply. The loops keep their state in
// the cells just below their loop frame and advance with the shared loop steps
// (evaluator/natives_support.hpp), the same steps that library code drives one by one; apply
// hands a function and a block of arguments to the invocation machinery in one of its
// positional modes.
#pragma once

namespace kov::natives::loops {

// Registers the natives of this module in the natives table.
void init();

}  // namespace kov::natives::loops
