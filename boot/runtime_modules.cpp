// The start-up steps that belong to the layers above the core: the random generator and the
// datatype registrations, run by boot::init_runtime in its order.
#include "core/boot.hpp"
#include "core/context.hpp"
#include "core/symbol.hpp"
#include "datatypes/block.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/issue.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/path.hpp"
#include "datatypes/percent.hpp"
#include "datatypes/point.hpp"
#include "datatypes/series.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/time.hpp"
#include "datatypes/tuple.hpp"
#include "datatypes/typeset.hpp"
#include "evaluator/lexer.hpp"
#include "evaluator/random.hpp"

namespace kov::boot {

void init_random() { random::init(); }

// Registration order: every parent comes before its children.
void register_datatypes() {
    datatype::init();
    unset::init();
    none::init();
    logic::init();
    series::init();
    block::init();
    path::init();
    integer::init();
    float_::init();
    percent::init();
    time_::init();
    pair::init();
    point2d::init();
    point3d::init();
    tuple::init();
    typeset::init();
    issue::init();
    symbol::init();
    context::init();
    lexer::init();
}

}  // namespace kov::boot
