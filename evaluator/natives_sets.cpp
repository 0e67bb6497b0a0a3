// union, intersect, unique, difference, exclude and complement?.
//
// The five set operations share set_operation: it checks that the two sets can meet (block! and
// hash! mix, any other pair must be of one datatype) and dispatches on the first set's datatype.
// The element work (order, hashing, case folding, records) belongs to the datatypes' own set
// routines; every result lands in the frame's first cell.
#include "evaluator/natives_sets.hpp"

#include <cstdint>

#include "core/cells.hpp"
#include "core/stack.hpp"
#include "datatypes/bitset.hpp"
#include "datatypes/block.hpp"
#include "datatypes/date.hpp"
#include "datatypes/string_actions.hpp"
#include "datatypes/typeset.hpp"
#include "evaluator/natives.hpp"

namespace kov::natives::sets {

namespace {

// The operation codes, shared by every datatype's set routine.
constexpr int UNIQUE = block::SET_UNIQUE, UNION = block::SET_UNION, INTERSECT = block::SET_INTERSECT,
              EXCLUDE = block::SET_EXCLUDE, DIFFERENCE = block::SET_DIFFERENCE;
static_assert(UNIQUE == int(string::SET_UNIQUE) && DIFFERENCE == int(string::SET_DIFFERENCE));
static_assert(UNIQUE == int(typeset::SET_UNIQUE) && DIFFERENCE == int(typeset::SET_DIFFERENCE));

// Script error expect-arg naming the native, the datatype met and the parameter.
[[noreturn]] void expect_arg(uint32_t type, int32_t param) {
    Cell name, word, dt = cells::make_datatype(type);
    stack::frame_name(&name);
    stack::param_word(param, &word);
    stack::raise_error("script", "expect-arg", {&name, &dt, &word});
}

inline bool block_kind(uint32_t t) { return t == T_BLOCK || t == T_HASH; }

inline void finish() { stack::top = stack::arguments + 1; }

// The shared body of the five operations: /case present, the /skip argument's frame index or -1,
// and the operation's code.
Status set_operation(bool case_q, int32_t skip, int code) {
    Cell* a = stack::arguments;
    uint32_t t1 = a[0].type();
    if (code != UNIQUE) {
        uint32_t t2 = a[1].type();
        if (t1 != t2 && !(block_kind(t1) && block_kind(t2))) {
            Cell d1 = cells::make_datatype(t1), d2 = cells::make_datatype(t2);
            stack::raise_error("script", "expect-val", {&d1, &d2});
        }
    }
    const Cell* second = code == UNIQUE ? nullptr : &a[1];
    const Cell* size = skip >= 0 ? &a[skip] : nullptr;
    switch (t1) {
    case T_BLOCK:
    case T_HASH: {
        Cell* out = block::do_set_op(code, &a[0], second, case_q, size);
        a[0] = *out;
        break;
    }
    case T_STRING:
        string::do_set_op(&a[0], second, case_q, size, code);
        break;
    case T_BITSET:
        if (code == UNIQUE) expect_arg(t1, 0);
        bitset::do_bitwise(code);
        break;
    case T_TYPESET:
        if (code == UNIQUE) expect_arg(t1, 0);
        typeset::do_bitwise(code);
        break;
    case T_DATE:
        if (code != DIFFERENCE) expect_arg(t1, 0);
        date::difference(&a[0], &a[1]);
        break;
    default:
        expect_arg(t1, 0);
    }
    finish();
    return Status::normal;
}

template <int Code> Status set_native(const int32_t* refs) {
    return set_operation(refs[0] >= 0, refs[1], Code);
}

Status complement_q(const int32_t*) {
    Cell* a = stack::arguments;
    if (!a[0].is(T_BITSET)) expect_arg(a[0].type(), 0);
    a[0] = cells::make_logic(bitset::complemented_q(&a[0]));
    finish();
    return Status::normal;
}

}  // namespace

void init() {
    table[40] = set_native<UNION>;
    table[41] = set_native<INTERSECT>;
    table[42] = set_native<UNIQUE>;
    table[43] = set_native<DIFFERENCE>;
    table[44] = set_native<EXCLUDE>;
    table[45] = complement_q;
}

}  // namespace kov::natives::sets
