// negative?, positive?, sign?, zero?, max, min, shift, to-hex, sine, cosine, tangent, arcsine,
// arccosine, arctangent, arctangent2, NaN?, log-2, log-10, log-e, exp and square-root.
//
// Arguments sit in the frame (stack::arguments); each native writes its result into the first
// cell. Nothing here allocates except to-hex (the issue's symbol) and max/min's tuple results,
// which write into argument-stack cells only.
#include "evaluator/natives_math.hpp"

#include <cmath>

#include "core/cells.hpp"
#include "core/math.hpp"
#include "core/stack.hpp"
#include "datatypes/issue.hpp"
#include "datatypes/money.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/point.hpp"
#include "datatypes/tuple.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/natives_support.hpp"

namespace kov::natives::math_natives {

namespace {

constexpr double PI = 3.141592653589793;
constexpr double HALF_PI = PI / 2;
// Below this magnitude sine and cosine answer an exact zero (sine 180 is 0.0).
constexpr double TINY = 2.220446049250313e-16;
constexpr double LN_2 = 0.6931471805599453;
constexpr double E = 2.718281828459045;

// Script error expect-arg naming the native, the datatype met and the parameter.
[[noreturn]] void expect_arg(uint32_t type, int32_t param) {
    Cell name, word, dt = cells::make_datatype(type);
    stack::frame_name(&name);
    stack::param_word(param, &word);
    stack::raise_error("script", "expect-arg", {&name, &dt, &word});
}

inline Cell* args() { return stack::arguments; }

inline Status result(const Cell& v) {
    *stack::arguments = v;
    stack::top = stack::arguments + 1;
    return Status::normal;
}

inline Status result_float(double d) { return result(cells::make_float(d)); }

// ---- signs ----

// The sign of a number!, money! or time! argument: -1, 0 or 1 (a NaN counts as 0); any other
// datatype raises expect-arg.
int32_t sign_of(const Cell* c) {
    switch (c->type()) {
    case T_INTEGER: {
        int32_t n = cells::integer(*c);
        return n > 0 ? 1 : n < 0 ? -1 : 0;
    }
    case T_FLOAT: case T_PERCENT: case T_TIME: {
        double d = c->get_float();
        return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
    }
    case T_MONEY: return money::sign(c);
    default: expect_arg(c->type(), 0);
    }
}

Status negative_q(const int32_t*) { return result(cells::make_logic(sign_of(args()) < 0)); }
Status positive_q(const int32_t*) { return result(cells::make_logic(sign_of(args()) > 0)); }
Status sign_q(const int32_t*) { return result(cells::make_integer(sign_of(args()))); }

bool zero_value_q(const Cell* c) {
    switch (c->type()) {
    case T_MONEY: return money::zero_q(c);
    case T_INTEGER: return cells::integer(*c) == 0;
    case T_CHAR: return c->data2 == 0;
    case T_FLOAT: case T_PERCENT: case T_TIME: return c->get_float() == 0.0;
    case T_PAIR: return pair::x(c) == 0 && pair::y(c) == 0;
    case T_POINT2D: return point::component(c, 0) == 0.0f && point::component(c, 1) == 0.0f;
    case T_POINT3D:
        return point::component(c, 0) == 0.0f && point::component(c, 1) == 0.0f &&
               point::component(c, 2) == 0.0f;
    case T_TUPLE: {
        tuple::Bytes b = tuple::bytes(c);
        for (uint32_t i = 0; i < b.count; i++)
            if (b.b[i]) return false;
        return true;
    }
    default: return false;
    }
}

Status zero_q(const int32_t*) { return result(cells::make_logic(zero_value_q(args()))); }

// ---- max, min ----

Status max_(const int32_t*) {
    max_min(true);
    stack::top = stack::arguments + 1;
    return Status::normal;
}

Status min_(const int32_t*) {
    max_min(false);
    stack::top = stack::arguments + 1;
    return Status::normal;
}

// ---- bits and hexadecimal ----

int32_t integer_arg(int32_t i) {
    const Cell* c = &args()[i];
    if (!c->is(T_INTEGER)) expect_arg(c->type(), i);
    return cells::integer(*c);
}

Status shift_(const int32_t* refs) {
    int32_t data = integer_arg(0), bits = integer_arg(1);
    return result(cells::make_integer(shift(data, bits, refs[0] >= 0, refs[1] >= 0)));
}

Status to_hex(const int32_t* refs) {
    uint32_t n = uint32_t(integer_arg(0));
    int32_t length = 8;
    if (refs[0] >= 0) {
        const Cell* size = &args()[refs[0]];
        if (!size->is(T_INTEGER)) expect_arg(size->type(), refs[0]);
        length = cells::integer(*size);
        if (length <= 0) stack::raise_error("script", "invalid-arg", {size});
        if (length > 8) length = 8;
    }
    static constexpr char DIGITS[] = "0123456789ABCDEF";
    char text[8];
    for (int i = 7; i >= 0; i--, n >>= 4) text[i] = DIGITS[n & 15];
    issue::make_at(stack::arguments, std::string_view(text + 8 - length, size_t(length)));
    stack::top = stack::arguments + 1;
    return Status::normal;
}

// ---- trigonometry ----

// The frame's first argument as a float! angle in radians (converted from degrees unless
// /radians), or expect-arg for another datatype.
double angle_arg(bool radians, int32_t mode) {
    uint32_t t = args()->type();
    if (t != T_FLOAT && t != T_INTEGER) expect_arg(t, 0);
    degrees_to_radians(radians, mode);
    return args()->get_float();
}

inline double flush_tiny(double r) { return std::fabs(r) < TINY ? 0.0 : r; }

Status sine(const int32_t* refs) {
    double x = angle_arg(refs[0] >= 0, ::kov::math::DEGREES_SINE);
    return result_float(flush_tiny(std::sin(x)));
}

Status cosine(const int32_t* refs) {
    double x = angle_arg(refs[0] >= 0, ::kov::math::DEGREES_COSINE);
    return result_float(flush_tiny(std::cos(x)));
}

Status tangent(const int32_t* refs) {
    double x = angle_arg(refs[0] >= 0, ::kov::math::DEGREES_TANGENT);
    if (x == HALF_PI) return result_float(HUGE_VAL);
    if (x == -HALF_PI) return result_float(-HUGE_VAL);
    return result_float(std::tan(x));
}

template <int32_t Kind> Status arc(const int32_t* refs) {
    uint32_t t = args()->type();
    if (t != T_FLOAT && t != T_INTEGER) expect_arg(t, 0);
    arc_function(refs[0] >= 0, Kind);
    stack::top = stack::arguments + 1;
    return Status::normal;
}

double float_of(int32_t i) {
    const Cell* c = &args()[i];
    if (c->is(T_INTEGER)) return double(cells::integer(*c));
    if (c->is(T_FLOAT)) return c->get_float();
    expect_arg(c->type(), i);
}

Status arctangent2(const int32_t* refs) {
    double y = float_of(0), x = float_of(1);
    double r = std::atan2(y, x);
    if (refs[0] < 0) r = r * (180.0 / PI);
    return result_float(r);
}

// ---- logarithms, powers, NaN ----

Status nan_q(const int32_t*) {
    const Cell* c = args();
    switch (c->type()) {
    case T_INTEGER: return result(cells::make_logic(false));
    case T_FLOAT: case T_PERCENT: return result(cells::make_logic(std::isnan(c->get_float())));
    default: expect_arg(c->type(), 0);
    }
}

// The frame's first argument (float!, integer! or percent!) as a double.
double number_arg() {
    uint32_t t = args()->type();
    if (t != T_FLOAT && t != T_INTEGER && t != T_PERCENT) expect_arg(t, 0);
    return float_arg()->get_float();
}

Status log_2(const int32_t*) { return result_float(std::log(number_arg()) / LN_2); }
Status log_10(const int32_t*) { return result_float(std::log10(number_arg())); }
Status log_e(const int32_t*) { return result_float(std::log(number_arg())); }
Status exp_(const int32_t*) { return result_float(std::pow(E, number_arg())); }
Status square_root(const int32_t*) { return result_float(std::sqrt(number_arg())); }

}  // namespace

int32_t shift(int32_t data, int32_t bits, bool left, bool logical) {
    if (bits < 0) bits = 0;
    if (left) return bits > 31 ? 0 : int32_t(uint32_t(data) << bits);
    if (logical) return bits > 31 ? 0 : int32_t(uint32_t(data) >> bits);
    if (bits > 31) return data < 0 ? -1 : 0;
    return data >> bits;  // arithmetic: C++20 defines the right shift of a negative value
}

void init() {
    struct Entry {
        int number;
        NativeFn fn;
    };
    const Entry entries[] = {
        {49, negative_q}, {50, positive_q}, {51, max_},        {52, min_},         {53, shift_},
        {54, to_hex},     {55, sine},       {56, cosine},      {57, tangent},      {58, arc<ARC_SINE>},
        {59, arc<ARC_COSINE>}, {60, arc<ARC_TANGENT>}, {61, arctangent2}, {62, nan_q}, {63, log_2},
        {64, log_10},     {65, log_e},      {66, exp_},        {67, square_root},  {97, sign_q},
        {100, zero_q},
    };
    for (const Entry& e : entries) table[e.number - 1] = e.fn;
}

}  // namespace kov::natives::math_natives
