// The natives table: registration of every native's entry at start-up.
#include "evaluator/natives.hpp"

#include "evaluator/natives_compare.hpp"
#include "evaluator/natives_control.hpp"
#include "evaluator/natives_convert.hpp"
#include "evaluator/natives_math.hpp"
#include "evaluator/natives_sets.hpp"
#include "evaluator/natives_system.hpp"
#include "evaluator/natives_words.hpp"
#include "evaluator/natives_loops.hpp"
#include "evaluator/parse.hpp"
#include "evaluator/transcode.hpp"

namespace kov::natives {

void init() {
    for (NativeFn& f : table) f = nullptr;
    control::init();
    loops::init();
    compare::init();
    convert::init();
    sets::init();
    math_natives::init();
    words::init();
    transcode::init();
    table[parse::NATIVE_NUMBER - 1] = parse::native;
    system_natives::init();
}

}  // namespace kov::natives
