// The start-up steps that belong to the layers above the core: the random generator and the
// datatype registrations, run by boot::init_runtime in its order.
#include "core/boot.hpp"
#include "core/context.hpp"
#include "core/symbol.hpp"
#include "datatypes/block.hpp"
#include "datatypes/char.hpp"
#include "datatypes/path.hpp"
#include "datatypes/series.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string_actions.hpp"
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
    string::init();
    character::init();
    symbol::init();
    context::init();
}

}  // namespace kov::boot
