// The start-up steps that belong to the layers above the core: the random generator, the
// datatype registrations, the evaluator's method words and the error catalogue, run by
// boot::init_runtime in its order.
#include "boot/embedded.hpp"
#include "boot/payload.hpp"
#include "boot/system_routines.hpp"
#include "core/collector.hpp"
#include "core/runtime.hpp"
#include "core/boot.hpp"
#include "core/context.hpp"
#include "core/symbol.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/bitset.hpp"
#include "datatypes/block.hpp"
#include "datatypes/char.hpp"
#include "datatypes/date.hpp"
#include "datatypes/error.hpp"
#include "datatypes/error_catalogue.hpp"
#include "datatypes/event.hpp"
#include "datatypes/file.hpp"
#include "datatypes/float.hpp"
#include "datatypes/handle.hpp"
#include "datatypes/function.hpp"
#include "datatypes/hash.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/issue.hpp"
#include "datatypes/map.hpp"
#include "datatypes/money.hpp"
#include "datatypes/native.hpp"
#include "datatypes/object.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/path.hpp"
#include "datatypes/percent.hpp"
#include "datatypes/point.hpp"
#include "datatypes/series.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string_actions.hpp"
#include "datatypes/tag.hpp"
#include "datatypes/time.hpp"
#include "datatypes/triple.hpp"
#include "datatypes/tuple.hpp"
#include "datatypes/typeset.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/checksum.hpp"
#include "platform/deflate.hpp"
#include "platform/simple_io.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/lexer.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/transcode.hpp"
#include "evaluator/random.hpp"
#include "platform/simple_io.hpp"

namespace kov::boot {

void init_random() { random::init(); }

// Registration order: every parent comes before its children.
void register_datatypes() {
    datatype::init();
    unset::init();
    none::init();
    logic::init();
    symbol::init();
    context::init();
    word::init();
    native::init();
    series::init();
    block::init();
    hash::init();
    path::init();
    string::init();
    url::init();
    file::init();
    tag::init();
    email::init();
    ref::init();
    integer::init();
    handle::init();
    character::init();
    float_::init();
    percent::init();
    time_::init();
    pair::init();
    point2d::init();
    point3d::init();
    tuple::init();
    triple::init();
    typeset::init();
    issue::init();
    function::init();
    routine::init();
    object::init();
    map::init();
    date::init();
    money::init();
    bitset::init();
    binary::init();
    error::init();
    actions::init();
    lexer::init();
    transcode::init();
}

void init_method_words() {
    checksum::init();
    deflate::init_method_words();
    simple_io::init_buffer();
}

void unbind_modules() {
    series::unbind();
    simple_io::unbind();
    error_catalogue::unbind();
    error::unbind();
    event::unbind();
}

// The catalogue comes first of the boot library: it is loaded here, before anything can raise.
// Loading it cannot fail for a sound build (the packing stage checked that its payload decodes).
void init_errors() {
    collector::Root text;
    std::string_view bytes = embedded::text("errors.kov");
    if (bytes.empty()) runtime::runtime_error(FATAL_ASSERTION, 0);
    if (embedded::form == embedded::Form::payload)
        payload::decode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), text.get());
    else
        lexer::scan(text.get(), bytes);
    error::init_catalogue(text.get());
}

void init_evaluator() {
    natives::init();
    system_routines::init();
    simple_io::init();
    interpreter::init();
}

}  // namespace kov::boot
