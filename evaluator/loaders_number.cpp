// Loaders of the number, date and money tokens, and the text readers of integers, floats and
// tuples (see loaders.hpp).
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "core/cells.hpp"
#include "core/stack.hpp"
#include "datatypes/tuple.hpp"
#include "evaluator/lexer_tables.hpp"
#include "evaluator/loaders.hpp"

namespace kov::lexer {

void (*date_set_all)(Cell*, int32_t, int32_t, int32_t, double, int32_t, int32_t, bool) = nullptr;
void (*date_set_week)(Cell*, int32_t) = nullptr;
void (*date_set_weekday)(Cell*, int32_t) = nullptr;
void (*date_set_yearday)(Cell*, int32_t) = nullptr;
bool (*money_make_at)(Cell*, bool, const uint8_t*, const uint8_t*, const uint8_t*,
                      const uint8_t*) = nullptr;

namespace {

bool digit_q(uint8_t c) { return c >= '0' && c <= '9'; }

// Appends a value at the scan's next slot, keeping the slot's new-line flag.
void append(State& s, const Cell& v) {
    uint32_t i = alloc_slot(s);
    Cell* c = cell_at(i);
    uint32_t flag = c->header & CELL_NEW_LINE;
    *c = v;
    c->header |= flag;
}

// The float syntax automaton: classes sign, digit, exponent mark, dot, apostrophe.
constexpr int8_t FLOAT_STATES[9][5] = {
    // sign digit e  .  '
    {0, 1, -1, 4, -1},    // 0 start
    {-1, 1, 6, 5, 2},     // 1 integer digits
    {-1, 1, -1, -1, -1},  // 2 after '
    {-1, 3, 6, -1, 4},    // 3 fraction digits
    {-1, 3, -1, -1, -1},  // 4 after a leading . or a ' in the fraction
    {-1, 3, -1, -1, -1},  // 5 after digits.
    {7, 8, -1, -1, -1},   // 6 after the exponent mark
    {-1, 8, -1, -1, -1},  // 7 exponent sign
    {-1, 8, -1, -1, -1},  // 8 exponent digits
};
constexpr bool FLOAT_END_OK[9] = {false, true, true, true, true, true, false, false, true};

int float_class(uint8_t c) {
    if (c == '+' || c == '-') return 0;
    if (digit_q(c)) return 1;
    if (c == 'e' || c == 'E') return 2;
    if (c == '.') return 3;
    if (c == '\'') return 4;
    return -1;
}

[[noreturn]] void invalid(State& s, const uint8_t* start, const uint8_t* end, uint32_t type) {
    throw_error(s, start, end, int32_t(type));
}

// Reads an unsigned run of digits (apostrophes allowed when `quotes`) into an int64, capped.
const uint8_t* read_number(const uint8_t* p, const uint8_t* end, int64_t& n, int& digits,
                           bool quotes, int max_digits = 100) {
    n = 0;
    digits = 0;
    while (p < end && (digit_q(*p) || (quotes && *p == '\'')) && digits < max_digits) {
        if (*p != '\'') {
            if (n < 100000000000LL) n = n * 10 + (*p - '0');
            digits++;
        }
        p++;
    }
    return p;
}

}  // namespace

bool float_syntax_q(const uint8_t* p, const uint8_t* end) {
    if (end - p > 312) return false;
    int state = 0;
    for (; p < end; p++) {
        int cls = float_class(*p);
        if (cls < 0) return false;
        state = FLOAT_STATES[state][cls];
        if (state < 0) return false;
    }
    return FLOAT_END_OK[state];
}

bool decimal_to_double(const uint8_t* p, const uint8_t* end, int32_t extra, double& out) {
    std::string mantissa;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    int32_t fraction = 0;
    bool in_fraction = false;
    bool any = false;
    for (; p < end && *p != 'e' && *p != 'E'; p++) {
        if (*p == '\'') continue;
        if (*p == '.' || *p == ',') {
            in_fraction = true;
            continue;
        }
        if (!digit_q(*p)) return false;
        any = true;
        if (mantissa.empty() && *p == '0') {
            if (in_fraction) fraction++;
            continue;
        }
        mantissa.push_back(char(*p));
        if (in_fraction) fraction++;
    }
    if (!any) return false;
    int64_t exponent = 0;
    if (p < end) {
        p++;
        bool eneg = false;
        if (p < end && (*p == '+' || *p == '-')) eneg = *p++ == '-';
        if (p == end) return false;
        for (; p < end; p++) {
            if (!digit_q(*p)) return false;
            if (exponent < 100000) exponent = exponent * 10 + (*p - '0');
        }
        if (eneg) exponent = -exponent;
    }
    if (mantissa.empty()) {
        out = negative ? -0.0 : 0.0;
        return true;
    }
    exponent += extra - fraction;
    std::string text = mantissa + "e" + std::to_string(exponent);
    double v = 0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec == std::errc::result_out_of_range) v = exponent > 0 ? HUGE_VAL : 0.0;
    else if (r.ec != std::errc()) return false;
    out = negative ? -v : v;
    return true;
}

// ---- integers ----

void load_integer(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    int digits = 0;
    bool overflow = false;
    int32_t n = 0;
    for (const uint8_t* q = p; q < end; q++) {
        if (*q == '\'') {
            if (q + 1 < end && q[1] == '\'') invalid(s, start, end, T_INTEGER);
            continue;
        }
        digits++;
        if (__builtin_mul_overflow(n, 10, &n) || __builtin_add_overflow(n, *q - '0', &n))
            overflow = true;
    }
    if (digits > 10 || overflow) {
        if (end - start == 11 && std::memcmp(start, "-2147483648", 11) == 0) {
            if (load) append(s, cells::make_integer(INT32_MIN));
            return;
        }
        double d = 0;
        decimal_to_double(start, end, 0, d);
        s.token_type = T_FLOAT;
        if (load) append(s, cells::make_float(d));
        return;
    }
    if (load) append(s, cells::make_integer(negative ? int32_t(0u - uint32_t(n)) : n));
}

void load_hex(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* h = end - 1;  // the `h`
    int count = int(h - start);
    bool letter_first = start < h && !digit_q(*start);
    if (letter_first && count <= 1) invalid(s, start, end, T_WORD);
    if (count < 2 || count > 8) invalid(s, start, end, T_INTEGER);
    uint32_t v = 0;
    for (const uint8_t* p = start; p < h; p++) {
        uint8_t c = *p;
        uint32_t d;
        if (digit_q(c)) d = c - '0';
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else invalid(s, start, end, T_INTEGER);
        v = (v << 4) | d;
    }
    if (load) append(s, cells::make_integer(int32_t(v)));
}

// ---- floats ----

void load_float(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    if (!float_syntax_q(start, end)) invalid(s, start, end, T_FLOAT);
    double d;
    if (!decimal_to_double(start, end, 0, d)) invalid(s, start, end, T_FLOAT);
    if (load) append(s, cells::make_float(d));
}

void load_percent(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    s.pos = end + 1;
    if (!float_syntax_q(start, end)) invalid(s, start, end + 1, T_FLOAT);
    double d;
    if (!decimal_to_double(start, end, -2, d)) invalid(s, start, end + 1, T_FLOAT);
    if (load) append(s, cells::make_float(d, T_PERCENT));
}

void load_special_float(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (end - p != 6 || std::memcmp(p, "1.#", 3) != 0) invalid(s, start, end, T_FLOAT);
    char word[4] = {char(p[3] & ~0x20), char(p[4] & ~0x20), char(p[5] & ~0x20), 0};
    double d;
    if (std::strcmp(word, "NAN") == 0) d = std::bit_cast<double>(uint64_t(0x7FF8000000000000ull));
    else if (std::strcmp(word, "INF") == 0) d = negative ? -HUGE_VAL : HUGE_VAL;
    else invalid(s, start, end, T_FLOAT);
    if (load) append(s, cells::make_float(d));
}

// ---- tuples, pairs, points ----

namespace {

// Parts 0-255 separated by single dots, up to 12: false on bad text.
bool tuple_parts(const uint8_t* p, const uint8_t* end, uint8_t* bytes, uint32_t& count) {
    count = 0;
    while (true) {
        if (p >= end || !digit_q(*p)) return false;
        uint32_t v = 0;
        while (p < end && digit_q(*p)) {
            v = v * 10 + uint32_t(*p++ - '0');
            if (v > 255) return false;
        }
        if (count == 12) return false;
        bytes[count++] = uint8_t(v);
        if (p == end) return true;
        if (*p != '.') return false;
        p++;
    }
}

}  // namespace

void load_tuple(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    uint8_t bytes[12] = {};
    uint32_t count;
    if (!tuple_parts(start, end, bytes, count)) invalid(s, start, end, T_TUPLE);
    if (load) append(s, tuple::make_cell(bytes, count));
}

void load_pair(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* x = nullptr;
    for (const uint8_t* p = start; p < end; p++) {
        if (*p == '.') invalid(s, start, end, T_PAIR);
        if ((*p == 'x' || *p == 'X') && !x) x = p;
    }
    if (!x) invalid(s, start, end, T_PAIR);
    int32_t v[2];
    const uint8_t* side[2][2] = {{start, x}, {x + 1, end}};
    for (int k = 0; k < 2; k++) {
        int32_t error = 0;
        v[k] = scan_integer(side[k][0], uint32_t(side[k][1] - side[k][0]), 1, error);
        if (error) invalid(s, start, end, T_PAIR);
    }
    if (load) append(s, Cell{T_PAIR, 0, uint32_t(v[0]), uint32_t(v[1])});
}

void load_point(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    // The token runs from after `(` to the `)`.
    s.pos = end + 1;
    s.mode = 0;
    const uint8_t* p = start;
    double v[3] = {0, 0, 0};
    int n = 0;
    uint32_t type = T_POINT2D;
    while (true) {
        while (p < end && (*p == ' ' || *p == '\t')) p++;
        const uint8_t* a = p;
        while (p < end && *p != ',' && *p != ' ' && *p != '\t') p++;
        const uint8_t* b = p;
        if (a == b) invalid(s, start - 1, end + 1, n == 2 ? T_POINT3D : T_POINT2D);
        bool special = std::memchr(a, '#', size_t(b - a)) != nullptr;
        if (special) {
            uint32_t before = s.slot;
            load_special_float(s, a, b, 0, true);
            v[n] = cell_at(s.slot - 1)->get_float();
            s.slot = before;
        } else if (load) {
            if (b - a > 312 || !decimal_to_double(a, b, 0, v[n])) invalid(s, a, b, T_FLOAT);
        } else if (!float_syntax_q(a, b)) {
            invalid(s, a, b, T_FLOAT);
        }
        n++;
        while (p < end && (*p == ' ' || *p == '\t')) p++;
        if (p == end) break;
        if (*p != ',' || n == 3) invalid(s, start - 1, end + 1, n == 3 ? T_POINT3D : T_POINT2D);
        p++;
    }
    if (n < 2) invalid(s, start - 1, end + 1, T_POINT2D);
    if (n == 3) type = T_POINT3D;
    s.token_type = int32_t(type);
    if (!load) return;
    Cell c{type, 0, 0, 0};
    float f[3] = {float(v[0]), float(v[1]), float(v[2])};
    std::memcpy(&c.data1, f, sizeof f);
    append(s, c);
}

// ---- time ----

void load_time(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    const uint8_t* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    int64_t hours, minutes;
    int digits;
    p = read_number(p, end, hours, digits, true);
    if (!digits || p >= end || *p != ':') invalid(s, start, end, T_TIME);
    const uint8_t* minutes_at = ++p;
    p = read_number(p, end, minutes, digits, false);
    if (!digits) invalid(s, start, end, T_TIME);
    double seconds = 0;
    if (p < end) {
        if (*p == ':' && p + 1 == end) invalid(s, start, end, T_TIME);
        if ((*p != '.' && *p != ',' && *p != ':') || (flags & F_EXP)) invalid(s, start, end, T_TIME);
        const uint8_t* sec = p + 1;
        if (*p == '.' || *p == ',') {
            minutes = hours;
            hours = 0;
            sec = minutes_at;
        }
        if (!float_syntax_q(sec, end) || !decimal_to_double(sec, end, 0, seconds) || seconds < 0)
            invalid(s, start, end, T_TIME);
    }
    if (hours > 100000000LL) invalid(s, start, end, T_TIME);
    double total = double(hours) * 3600.0 + double(minutes) * 60.0 + seconds;
    if (negative) total = -total;
    if (load) append(s, cells::make_float(total, T_TIME));
}

// ---- date ----

namespace {

const char* const MONTHS[12] = {"january", "february", "march",     "april",   "may",      "june",
                                "july",    "august",   "september", "october", "november", "december"};
constexpr int DAYS[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool leap_q(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

struct DateParts {
    int32_t year = 0, month = 1, day = 1;
    int32_t week = -1, weekday = -1, yearday = -1;
    int32_t hours = 0, minutes = 0;
    double seconds = 0;
    int32_t zone_hours = 0, zone_minutes = 0;
    bool has_time = false;
};

// Up to `max` digits exactly into n; the count read goes to `digits`.
const uint8_t* digits_upto(const uint8_t* p, const uint8_t* end, int max, int32_t& n, int& digits) {
    n = 0;
    digits = 0;
    while (p < end && digit_q(*p) && digits < max) {
        n = n * 10 + (*p++ - '0');
        digits++;
    }
    return p;
}

// Seconds: digits and dots.
bool read_seconds(const uint8_t*& p, const uint8_t* end, double& out) {
    const uint8_t* a = p;
    while (p < end && (digit_q(*p) || *p == '.')) p++;
    if (a == p || !float_syntax_q(a, p)) return false;
    return decimal_to_double(a, p, 0, out);
}

// Zone after the time: Z, or +/- hours [:] minutes (`fixed`: exactly 2 digits each, no colon).
bool read_zone(const uint8_t*& p, const uint8_t* end, DateParts& d, bool fixed) {
    if (p >= end) return true;
    if (*p == 'Z' || *p == 'z') {
        p++;
        return true;
    }
    if (*p != '+' && *p != '-') return false;
    bool neg = *p++ == '-';
    int digits;
    p = digits_upto(p, end, 2, d.zone_hours, digits);
    if (!digits || (fixed && digits != 2)) return false;
    if (!fixed && p < end && *p == ':') p++;
    int32_t mins = 0;
    p = digits_upto(p, end, 2, mins, digits);
    if (fixed && digits != 2) return false;
    d.zone_minutes = mins;
    if (neg) {
        d.zone_hours = -d.zone_hours;
        d.zone_minutes = -d.zone_minutes;
    }
    return true;
}

// hh:mm[:ss[.fff]][zone]
bool read_time(const uint8_t*& p, const uint8_t* end, DateParts& d) {
    int digits;
    p = digits_upto(p, end, 2, d.hours, digits);
    if (!digits || p >= end || *p != ':') return false;
    p++;
    p = digits_upto(p, end, 2, d.minutes, digits);
    if (!digits) return false;
    if (p < end && *p == ':') {
        p++;
        if (!read_seconds(p, end, d.seconds)) return false;
    }
    d.has_time = true;
    return read_zone(p, end, d, false);
}

bool parse_date(const uint8_t* p, const uint8_t* end, DateParts& d) {
    bool negative = false;
    if (p < end && *p == '-') {
        negative = true;
        p++;
    }
    int32_t first;
    int first_digits;
    p = digits_upto(p, end, 4, first, first_digits);
    if (!first_digits || p >= end) return false;
    if (negative) first = -first;
    int digits;
    if (digit_q(*p)) {
        // YYYYMMDDThhmm[ss[.fff]][Z|zone]
        d.year = first;
        p = digits_upto(p, end, 2, d.month, digits);
        if (digits != 2) return false;
        p = digits_upto(p, end, 2, d.day, digits);
        if (digits != 2 || p >= end || *p != 'T') return false;
        p++;
        p = digits_upto(p, end, 2, d.hours, digits);
        if (digits != 2) return false;
        p = digits_upto(p, end, 2, d.minutes, digits);
        if (digits != 2) return false;
        d.has_time = true;
        if (p < end && *p != 'Z' && *p != 'z') {
            if (!read_seconds(p, end, d.seconds)) return false;
        }
        if (!read_zone(p, end, d, true)) return false;
        return p == end;
    }
    if (*p == '-' && first_digits == 4 && p + 1 < end && p[1] == 'W') {
        // YYYY-Www[-d]
        d.year = first;
        p += 2;
        p = digits_upto(p, end, 2, d.week, digits);
        if (digits != 2) return false;
        d.weekday = 1;
        if (p < end && *p == '-') {
            p++;
            p = digits_upto(p, end, 1, d.weekday, digits);
            if (digits != 1 || d.weekday < 1 || d.weekday > 7) return false;
        }
    } else if (*p == '-' && end - p >= 4 && digit_q(p[1]) && digit_q(p[2]) && digit_q(p[3]) &&
               (end - p == 4 || !digit_q(p[4]))) {
        // YYYY-DDD
        d.year = first;
        p = digits_upto(p + 1, end, 3, d.yearday, digits);
        if (d.yearday == 0 || d.yearday > (leap_q(d.year) ? 366 : 365)) return false;
    } else if (*p == '-' || *p == '/') {
        uint8_t sep = *p++;
        if (p < end && digit_q(*p)) {
            p = digits_upto(p, end, 2, d.month, digits);
        } else {
            const uint8_t* a = p;
            while (p < end && *p != sep) p++;
            size_t n = size_t(p - a);
            if (n < 3 || n > 9) return false;
            d.month = 0;
            for (int m = 0; m < 12 && !d.month; m++) {
                if (std::strlen(MONTHS[m]) < n) continue;
                bool same = true;
                for (size_t i = 0; i < n && same; i++) same = (a[i] | 0x20) == MONTHS[m][i];
                if (same) d.month = m + 1;
            }
            if (!d.month) return false;
        }
        if (p >= end || *p != sep) return false;
        p++;
        int32_t third;
        int third_digits;
        p = digits_upto(p, end, 4, third, third_digits);
        if (!third_digits) return false;
        int year_digits;
        if (third > 31 || (first <= 99 && first >= 0 && first_digits <= 2)) {
            d.day = first;
            d.year = third;
            year_digits = third_digits;
        } else {
            d.year = first;
            d.day = third;
            year_digits = first_digits;
        }
        if (year_digits <= 2 && d.year >= 0) d.year += d.year > 49 ? 1900 : 2000;
    } else {
        return false;
    }
    if (p < end && (*p == '/' || *p == 'T')) {
        p++;
        if (!read_time(p, end, d)) return false;
    }
    return p == end;
}

bool date_valid_q(const DateParts& d) {
    if (d.year < -9999 || d.year > 9999) return false;
    if (d.week < 0 && d.yearday < 0) {
        if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > DAYS[d.month - 1]) return false;
        if (d.month == 2 && d.day == 29 && !leap_q(d.year)) return false;
    }
    if (d.week >= 0 && (d.week < 1 || d.week > 53)) return false;
    if (d.zone_hours < -15 || d.zone_hours > 15) return false;
    if (d.zone_minutes < -59 || d.zone_minutes > 59) return false;
    return d.hours <= 23 && d.minutes <= 59 && d.seconds < 60;
}

}  // namespace

void load_date(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    DateParts d;
    if (!parse_date(start, end, d) || !date_valid_q(d)) invalid(s, start, end, T_DATE);
    if (!load) return;
    if (!date_set_all) stack::raise_error("internal", "not-done");
    Cell c{};
    double secs = d.hours * 3600.0 + d.minutes * 60.0 + d.seconds;
    date_set_all(&c, d.year, d.week >= 0 || d.yearday >= 0 ? 1 : d.month,
                 d.week >= 0 || d.yearday >= 0 ? 1 : d.day, secs, d.zone_hours, d.zone_minutes,
                 d.has_time);
    if (d.week >= 0) {
        date_set_week(&c, d.week);
        date_set_weekday(&c, d.weekday);
    }
    if (d.yearday >= 0) date_set_yearday(&c, d.yearday);
    append(s, c);
}

// ---- money ----

void load_money(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* p = start;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    const uint8_t* dollar = static_cast<const uint8_t*>(std::memchr(p, '$', size_t(end - p)));
    if (!dollar) invalid(s, start, end, T_MONEY);
    const uint8_t* currency = nullptr;
    if (dollar - p == 3) currency = p;
    else if (dollar != p) invalid(s, start, end, T_MONEY);
    p = dollar + 1;
    if (p >= end || !digit_q(*p)) invalid(s, start, end, T_MONEY);
    while (p < end && (*p == '0' || *p == '\'')) {
        if (*p == '\'' && (p + 1 >= end || p[1] == '\'' || p[1] == '.' || p[1] == ',')) invalid(s, start, end, T_MONEY);
        p++;
    }
    const uint8_t* digits = p;
    int count = 0;
    while (p < end && (digit_q(*p) || *p == '\'')) {
        if (*p == '\'') {
            if (p + 1 >= end || p[1] == '\'' || p[1] == '.' || p[1] == ',') invalid(s, start, end, T_MONEY);
        } else {
            count++;
        }
        p++;
    }
    if (count > 17) invalid(s, start, end, T_MONEY);
    const uint8_t* mark = nullptr;
    if (p < end && (*p == '.' || *p == ',')) {
        mark = p++;
        int decimals = 0;
        while (p < end && digit_q(*p)) {
            p++;
            decimals++;
        }
        if (decimals < 1 || decimals > 5) invalid(s, start, end, T_MONEY);
    }
    if (p != end) invalid(s, start, end, T_MONEY);
    if (!load) return;
    if (!money_make_at) stack::raise_error("internal", "not-done");
    Cell c{};
    if (money_make_at(&c, negative, currency, digits, mark ? mark : end, end))
        invalid(s, start, end, T_MONEY);
    append(s, c);
}

// ---- text readers ----

namespace {

// The characters of a text of any unit, as ASCII bytes (0 for anything above 0x7F).
std::string ascii_of(const uint8_t* text, uint32_t length, uint32_t unit) {
    std::string out(length, '\0');
    for (uint32_t i = 0; i < length; i++) {
        uint32_t c = unit == 1 ? text[i] : unit == 2 ? uint32_t(text[2 * i] | text[2 * i + 1] << 8)
                                                     : uint32_t(text[4 * i] | text[4 * i + 1] << 8 |
                                                                text[4 * i + 2] << 16 | uint32_t(text[4 * i + 3]) << 24);
        out[i] = c < 0x80 ? char(c) : '\x01';
    }
    return out;
}

}  // namespace

int32_t scan_integer(const uint8_t* text, uint32_t length, uint32_t unit, int32_t& error) {
    std::string a = ascii_of(text, length, unit);
    error = 0;
    size_t i = 0;
    bool negative = false;
    if (i < a.size() && (a[i] == '+' || a[i] == '-')) negative = a[i++] == '-';
    int64_t n = 0;
    int digits = 0;
    for (; i < a.size(); i++) {
        if (a[i] == '\'') continue;
        if (a[i] < '0' || a[i] > '9') {
            error = -1;
            return 0;
        }
        n = n * 10 + (a[i] - '0');
        digits++;
        if (n > 2147483648LL) {
            error = -2;
            return 0;
        }
    }
    if (!digits) {
        error = -1;
        return 0;
    }
    if (negative) n = -n;
    if (n > INT32_MAX || n < INT32_MIN) {
        error = -2;
        return 0;
    }
    return int32_t(n);
}

double scan_float(const uint8_t* text, uint32_t length, uint32_t unit, int32_t& error) {
    error = -1;
    if (length >= 313) return std::nan("");
    std::string a = ascii_of(text, length, unit);
    for (char& c : a)
        if (c == ',') c = '.';
    const uint8_t* b = reinterpret_cast<const uint8_t*>(a.data());
    double d;
    if (!float_syntax_q(b, b + a.size()) || !decimal_to_double(b, b + a.size(), 0, d))
        return std::nan("");
    error = 0;
    return d;
}

bool scan_tuple(const uint8_t* text, uint32_t length, uint32_t unit, Cell& out) {
    std::string a = ascii_of(text, length, unit);
    const uint8_t* b = reinterpret_cast<const uint8_t*>(a.data());
    uint8_t bytes[12] = {};
    uint32_t count;
    if (!tuple_parts(b, b + a.size(), bytes, count)) return false;
    out = tuple::make_cell(bytes, count);
    return true;
}

}  // namespace kov::lexer
