// equal?, not-equal?, strict-equal?, lesser?, greater?, lesser-or-equal?, greater-or-equal?,
// same?, not and type?.
#include "evaluator/natives_compare.hpp"

#include "core/cells.hpp"
#include "core/stack.hpp"
#include "core/type_registry.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/natives.hpp"

namespace kov::natives::compare {

namespace {

template <int Op> Status compare_native(const int32_t*) {
    Cell* a = stack::arguments;
    bool r = actions::compare(&a[0], &a[1], Op);
    a[0] = cells::make_logic(r);
    stack::top = a + 1;
    return Status::normal;
}

bool series_type(uint32_t t) {
    switch (t) {
    case T_BLOCK: case T_PAREN: case T_HASH: case T_PATH: case T_LIT_PATH: case T_SET_PATH:
    case T_GET_PATH: case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF:
    case T_BINARY: case T_VECTOR: case T_IMAGE:
        return true;
    default:
        return false;
    }
}

Status same_q(const int32_t*) {
    Cell* a = stack::arguments;
    bool r = same_values_q(&a[0], &a[1]);
    a[0] = cells::make_logic(r);
    stack::top = a + 1;
    return Status::normal;
}

Status not_(const int32_t*) {
    Cell* a = stack::arguments;
    a[0] = cells::make_logic(!cells::truthy(a[0]));
    stack::top = a + 1;
    return Status::normal;
}

Status type_q(const int32_t* refs) {
    Cell* a = stack::arguments;
    uint32_t t = a[0].type();
    if (refs[0] >= 0) {
        Cell w = type_registry::names[t].word;
        if (!w.header) w = cells::make_none();
        a[0] = w;
    } else {
        a[0] = cells::make_datatype(t);
    }
    stack::top = a + 1;
    return Status::normal;
}

}  // namespace

bool same_values_q(const Cell* a, const Cell* b) {
    uint32_t t = a->type();
    if (t != b->type()) return false;
    if (series_type(t)) return a->data2 == b->data2 && a->data1 == b->data1;
    switch (t) {
    case T_DATATYPE: case T_LOGIC: case T_OBJECT:
        return a->data1 == b->data1;
    case T_CHAR: case T_INTEGER: case T_BITSET:
        return a->data2 == b->data2;
    case T_FLOAT: case T_PERCENT: case T_PAIR: case T_TIME:
        return a->data2 == b->data2 && a->data3 == b->data3;
    case T_TUPLE: case T_MONEY:
        return actions::compare_values(a, b, COMP_EQUAL) == 0;
    case T_NONE: case T_UNSET:
        return true;
    case T_ACTION: case T_NATIVE: case T_POINT2D:
        return a->data1 == b->data1 && a->data2 == b->data2;
    case T_OP:
        return a->data2 == b->data2 && a->data3 == b->data3;
    default:
        return a->data1 == b->data1 && a->data2 == b->data2 && a->data3 == b->data3;
    }
}

void init() {
    table[24] = compare_native<COMP_EQUAL>;
    table[25] = compare_native<COMP_NOT_EQUAL>;
    table[26] = compare_native<COMP_STRICT_EQUAL>;
    table[27] = compare_native<COMP_LESSER>;
    table[28] = compare_native<COMP_GREATER>;
    table[29] = compare_native<COMP_LESSER_EQUAL>;
    table[30] = compare_native<COMP_GREATER_EQUAL>;
    table[31] = same_q;
    table[32] = not_;
    table[33] = type_q;
}

}  // namespace kov::natives::compare
