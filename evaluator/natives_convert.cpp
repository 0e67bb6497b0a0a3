// uppercase, lowercase, dehex, enhex, debase, enbase, as-pair, as-point2D, as-point3D,
// as-money, as, new-line and new-line?.
//
// Arguments stay where the interpreter pushed them (stack::arguments of the frame, which never
// moves); a new series is built in a rooted cell and copied into the result slot at the end.
#include "evaluator/natives_convert.hpp"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/unicode.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/file.hpp"
#include "datatypes/money.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/point.hpp"
#include "datatypes/string.hpp"
#include "evaluator/natives.hpp"

namespace kov::natives::convert {

namespace {

using collector::Root;

inline Cell* args() { return stack::arguments; }

inline void result(const Cell& v) {
    *stack::arguments = v;
    stack::top = stack::arguments + 1;
}

// ---- case change ----

bool text_type(uint32_t t) {
    return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}

// The /part limit as change_case takes it: a float! or percent! count truncated toward zero
// (clamped to the integer range), NaN left as it is so that it is refused there; a position in
// the same text seen through another text type (as makes those) retyped to the value's type.
Cell part_limit(const Cell* value, const Cell* limit) {
    if (text_type(limit->type()) && text_type(value->type()) && limit->data2 == value->data2) {
        Cell c = *limit;
        c.header = (c.header & ~CELL_TYPE_MASK) | value->type();
        return c;
    }
    if (!limit->is(T_FLOAT) && !limit->is(T_PERCENT)) return *limit;
    double d = limit->get_float();
    if (std::isnan(d)) return *limit;
    d = std::trunc(d);
    int32_t n = d <= -2147483648.0 ? INT32_MIN : d >= 2147483647.0 ? INT32_MAX : int32_t(d);
    return cells::make_integer(n);
}

Status change_case(const int32_t* refs, bool upper) {
    Cell* a = args();
    if (refs[0] >= 0) {
        Cell limit = part_limit(&a[0], &a[refs[0]]);
        a[refs[0]] = limit;
        unicode::change_case(&a[0], &a[refs[0]], upper);
    } else {
        unicode::change_case(&a[0], nullptr, upper);
    }
    stack::top = a + 1;
    return Status::normal;
}

Status uppercase(const int32_t* refs) { return change_case(refs, true); }
Status lowercase(const int32_t* refs) { return change_case(refs, false); }

// ---- percent coding ----

Status dehex(const int32_t*) {
    Cell* a = args();
    Root out;
    string::make_at(&out.cell, string::length(&a[0]), 1);
    url::decode(&a[0], &out.cell);
    result(out.cell);
    return Status::normal;
}

Status enhex(const int32_t*) {
    Cell* a = args();
    int mode = a[0].is(T_STRING) ? url::ENCODE_STRICT : url::ENCODE_URL;
    Root out;
    string::make_at(&out.cell, string::length(&a[0]), 1);
    url::encode_into(&a[0], &out.cell, mode);
    result(out.cell);
    return Status::normal;
}

// ---- base coding ----

// The base of debase and enbase: 64, or the /base argument, which must be 2, 16, 58 or 64.
int base_of(const int32_t* refs) {
    if (refs[0] < 0) return 64;
    Cell* v = &args()[refs[0]];
    int32_t b = cells::integer(*v);
    if (b != 2 && b != 16 && b != 58 && b != 64) stack::raise_error("script", "invalid-arg", {v});
    return b;
}

Status debase(const int32_t* refs) {
    int base = base_of(refs);
    Root out;
    if (binary::decode_text(&args()[0], base, &out.cell))
        result(out.cell);
    else
        result(cells::make_none());
    return Status::normal;
}

Status enbase(const int32_t* refs) {
    Cell* a = args();
    int base = base_of(refs);
    std::vector<uint8_t> bytes;
    if (a[0].is(T_STRING)) {
        std::string text = string::to_utf8(&a[0]);
        bytes.assign(text.begin(), text.end());
    } else {
        int32_t n = binary::ks_length(&a[0]);
        const uint8_t* p = binary::ks_head(&a[0]);
        bytes.assign(p, p + n);
    }
    int64_t size = encoded_length(base, bytes.size());
    if (size > std::numeric_limits<int32_t>::max()) stack::raise_error("script", "too-long");
    std::string text(binary::encoded_size(base, uint32_t(bytes.size())), '\0');
    auto* o = reinterpret_cast<uint8_t*>(text.data());
    uint8_t* end = o;
    switch (base) {
    case 2: end = binary::encode_base2(o, bytes.data(), uint32_t(bytes.size())); break;
    case 16: end = binary::encode_base16(o, bytes.data(), uint32_t(bytes.size())); break;
    case 58: end = binary::encode_base58(o, bytes.data(), uint32_t(bytes.size())); break;
    default: end = binary::encode_base64(o, bytes.data(), uint32_t(bytes.size())); break;
    }
    text.resize(size_t(end - o));
    Root out;
    string::make_at(&out.cell, uint32_t(text.size()), 1);
    string::concatenate_cstring(&out.cell, std::string_view(text));
    result(out.cell);
    return Status::normal;
}

// ---- combining makers ----

// A pair coordinate: an integer! as it is; a float! truncated toward zero. A NaN or infinite
// float raises invalid-arg; a finite one whose whole part is no 32-bit integer raises
// type-limit for pair!.
int32_t pair_coordinate(const Cell* v) {
    if (v->is(T_INTEGER)) return cells::integer(*v);
    double d = v->get_float();
    if (!std::isfinite(d)) stack::raise_error("script", "invalid-arg", {v});
    if (!fits_int32(d)) {
        Cell dt = cells::make_datatype(T_PAIR);
        stack::raise_error("script", "type-limit", {&dt});
    }
    return int32_t(std::trunc(d));
}

Status as_pair(const int32_t*) {
    Cell* a = args();
    int32_t x = pair_coordinate(&a[0]);
    int32_t y = pair_coordinate(&a[1]);
    Cell c{T_PAIR, 0, 0, 0};
    pair::make_at(&c, x, y);
    result(c);
    return Status::normal;
}

Status as_point2d(const int32_t*) {
    Cell* a = args();
    Cell c{T_POINT2D, 0, 0, 0};
    point2d::make_at(&c, point2d::number_to_float32(&a[0]), point2d::number_to_float32(&a[1]));
    result(c);
    return Status::normal;
}

Status as_point3d(const int32_t*) {
    Cell* a = args();
    Cell c{T_POINT3D, 0, 0, 0};
    point3d::make_at(&c, point3d::number_to_float32(&a[0]), point3d::number_to_float32(&a[1]),
                     point3d::number_to_float32(&a[2]));
    result(c);
    return Status::normal;
}

Status as_money(const int32_t*) {
    Cell* a = args();
    int32_t currency = money::find_currency(&a[0]);
    if (currency < 0) stack::raise_error("script", "bad-denom", {&a[0]});
    money::Amount amount = a[1].is(T_INTEGER) ? money::from_integer(cells::integer(a[1]))
                                              : money::from_float(a[1].get_float(), false);
    amount.currency = uint8_t(currency);
    Cell c{T_MONEY, 0, 0, 0};
    money::write(&c, amount);
    money::set_currency(&c, uint8_t(currency));
    result(c);
    return Status::normal;
}

// ---- coercion ----

// 1 for the list class (block!, paren! and the paths), 2 for the string class, 0 otherwise.
int coercion_class(uint32_t t) {
    switch (t) {
    case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH:
        return 1;
    case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF:
        return 2;
    default:
        return 0;
    }
}

Status as(const int32_t*) {
    Cell* a = args();
    uint32_t target = a[0].is(T_DATATYPE) ? cells::datatype(a[0]) : a[0].type();
    uint32_t from = a[1].type();
    int cls = coercion_class(target);
    if (cls == 0 || cls != coercion_class(from)) {
        Cell spec_type = cells::make_datatype(from);
        Cell target_type = cells::make_datatype(target);
        stack::raise_error("script", "not-same-class", {&spec_type, &target_type});
    }
    Cell c = a[1];
    c.header = (c.header & ~CELL_TYPE_MASK) | target;
    result(c);
    return Status::normal;
}

// ---- new-line markers ----

Status new_line(const int32_t* refs) {
    Cell* a = args();
    bool on = cells::truthy(a[1]);
    int32_t step = 0;
    if (refs[1] >= 0) {
        step = cells::integer(a[refs[1]]);
        if (step <= 0) stack::raise_error("script", "out-of-range", {&a[refs[1]]});
    } else if (refs[0] >= 0) {
        step = 1;
    }
    SeriesBuffer* b = memory::buffer_of(cells::series_node(a[0]));
    uint32_t len = b->length();
    uint32_t i = cells::series_index(a[0]);
    Cell* cell = b->head_cell();
    if (step == 0) {
        if (i < len) {
            if (on) cell[i].header |= CELL_NEW_LINE;
            else cell[i].header &= ~CELL_NEW_LINE;
        }
    } else {
        for (uint32_t k = 0; i + k < len; k++) {
            bool mark = (k % uint32_t(step) == 0) == on;
            if (mark) cell[i + k].header |= CELL_NEW_LINE;
            else cell[i + k].header &= ~CELL_NEW_LINE;
        }
    }
    stack::top = a + 1;
    return Status::normal;
}

Status new_line_q(const int32_t*) {
    Cell* a = args();
    SeriesBuffer* b = memory::buffer_of(cells::series_node(a[0]));
    uint32_t i = cells::series_index(a[0]);
    bool marked = i < b->length() && (b->head_cell()[i].header & CELL_NEW_LINE) != 0;
    result(cells::make_logic(marked));
    return Status::normal;
}

}  // namespace

int64_t encoded_length(int base, uint64_t n) {
    switch (base) {
    case 2: return int64_t(n * 8);
    case 16: return int64_t(n * 2);
    case 58: return int64_t(n * 138 / 100 + 1);
    case 64: return int64_t((n + 2) / 3 * 4);
    default: return -1;
    }
}

bool fits_int32(double d) { return d > -2147483649.0 && d < 2147483648.0; }

void init() {
    table[70] = uppercase;
    table[71] = lowercase;
    table[46] = dehex;
    table[47] = enhex;
    table[83] = debase;
    table[90] = enbase;
    table[72] = as_pair;
    table[73] = as_point2d;
    table[74] = as_point3d;
    table[75] = as_money;
    table[97] = as;
    table[88] = new_line;
    table[89] = new_line_q;
}

}  // namespace kov::natives::convert
