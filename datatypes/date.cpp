// date!: day numbers, normalisation, fields, the block constructor, arithmetic, text, random
// dates, comparison and the action table.
#include "datatypes/date.hpp"

#include <bit>
#include <cmath>
#include <cstdlib>

#include "core/cell.hpp"
#include "core/cells.hpp"
#include "core/memory.hpp"
#include "core/runtime_words.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/string.hpp"
#include "datatypes/system_settings.hpp"
#include "datatypes/time.hpp"
#include "datatypes/word.hpp"
#include "evaluator/loaders.hpp"
#include "evaluator/random.hpp"

namespace kov::date {

namespace {

// Day numbers beyond this never name a date of the year range; larger carries are refused
// before any conversion to an integer.
constexpr double DAYS_LIMIT = 1e9;

int64_t floor_div(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Day number of 1 March of the counting year y (which ends with February of y + 1).
int64_t year_base(int64_t y) {
    return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400);
}

[[noreturn]] void raise_type_limit(uint32_t type) {
    Cell dt = cells::make_datatype(type);
    stack::raise_error("script", "type-limit", {&dt});
}

[[noreturn]] void raise_bad_to(const Cell* spec) {
    Cell dt = cells::make_datatype(T_DATE), v = *spec;
    stack::raise_error("script", "bad-to-arg", {&dt, &v});
}

[[noreturn]] void raise_invalid_arg(const Cell* value) {
    Cell v = *value;
    stack::raise_error("script", "invalid-arg", {&v});
}

int64_t iso_week1_start_of_year(int64_t year, int32_t* weekday) {
    int64_t jan1 = to_days(year, 1, 1);
    int32_t w = floor_mod(jan1 + 2, 7);
    if (weekday) *weekday = w + 1;
    return w >= 4 ? jan1 - w + 7 : jan1 - w;
}

int32_t week_of(uint32_t w) {
    int64_t jan1 = jan1_days(w);
    int32_t e = floor_mod(jan1 + 3, 7);
    int32_t yd = yearday(w);
    return yd <= 7 - e ? 1 : (yd + e - 1) / 7 + 1;
}

}  // namespace

// ---- the packed word ----

uint32_t pack(int32_t year, int32_t month, int32_t day) {
    return (uint32_t(year) << 17) | (uint32_t(month & 15) << 12) | (uint32_t(day & 31) << 7);
}

uint32_t zone_bits(int32_t hours, int32_t minutes, bool negative) {
    uint32_t h = uint32_t(hours < 0 ? -hours : hours);
    uint32_t z = ((h << 2) & 0x3C) | (uint32_t(minutes / 15) & 3);
    if (negative && z) z |= 0x40;
    return z;
}

int32_t zone_offset(uint32_t zone) {
    int32_t s = int32_t((zone >> 2) & 15) * 3600 + int32_t(zone & 3) * 900;
    return zone & 0x40 ? -s : s;
}

// ---- day numbers ----

int64_t to_days(int64_t year, int64_t month, int64_t day) {
    int64_t m = (month + 9) % 12;
    int64_t y = year - m / 10;
    return year_base(y) + (306 * m + 5) / 10 + (day - 1);
}

int64_t days_of(uint32_t w) { return to_days(year_of(w), month_of(w), day_of(w)); }

uint32_t from_days(int64_t days, uint32_t keep) {
    if (double(days) > DAYS_LIMIT || double(days) < -DAYS_LIMIT) raise_type_limit(T_DATE);
    int64_t y = int64_t(std::floor((10000.0 * double(days) + 14780.0) / 3652425.0));
    int64_t ddd = days - year_base(y);
    while (ddd < 0) ddd = days - year_base(--y);
    while (ddd >= year_base(y + 1) - year_base(y)) ddd = days - year_base(++y);
    int64_t mi = (100 * ddd + 52) / 3060;
    int64_t month = (mi + 2) % 12 + 1;
    int64_t year = y + (mi + 2) / 12;
    int64_t day = ddd - (mi * 306 + 5) / 10 + 1;
    if (year < YEAR_MIN || year > YEAR_MAX) raise_type_limit(T_DATE);
    return pack(int32_t(year), int32_t(month), int32_t(day)) | (keep & (TIME_FLAG | ZONE_MASK));
}

bool leap_year_q(int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int64_t jan1_days(uint32_t w) { return to_days(year_of(w), 1, 1); }

int64_t iso_week1_start(uint32_t w, int32_t* weekday) {
    return iso_week1_start_of_year(year_of(w), weekday);
}

// ---- cells ----

Cell* make_at(Cell* c, uint32_t word, double stored_time) {
    *c = Cell{T_DATE, word, 0, 0};
    c->set_float(stored_time);
    return c;
}

Cell* push(uint32_t word, double stored_time) {
    return make_at(stack::push_slot(), word, stored_time);
}

void set_all(Cell* c, int32_t year, int32_t month, int32_t day, double time, int32_t zone_hours,
             int32_t zone_minutes, bool time_flag) {
    uint32_t w = pack(year, month, day);
    if (!time_flag) {
        make_at(c, w, 0.0);
        return;
    }
    uint32_t z = ((uint32_t(zone_hours < 0 ? -zone_hours : zone_hours) << 2) & 0x7F) |
                 (uint32_t(zone_minutes / 15) & 3);
    if (zone_hours < 0) z |= 0x40;
    z &= ZONE_MASK;
    make_at(c, w | TIME_FLAG | z, to_stored(time, z));
}

void make_from_parts(Cell* c, int32_t year, int32_t month, int32_t day, int32_t hour,
                     int32_t minute, int32_t second, int32_t nanoseconds) {
    double t = double(hour) * 3600.0 + double(minute) * 60.0 + double(second) +
               double(nanoseconds) * 1e-9;
    make_at(c, pack(year, month, day) | TIME_FLAG, t);
}

double to_local(const Cell* c) { return c->get_float() + zone_offset(zone_of(c->data1)); }

void normalize_into(Cell* c, int64_t days, double stored, uint32_t keep) {
    double offset = zone_offset(zone_of(keep));
    double local = stored + offset;
    if (!std::isfinite(local)) raise_type_limit(T_DATE);
    double k = std::floor(local / SECONDS_PER_DAY);
    if (std::fabs(k) > DAYS_LIMIT) raise_type_limit(T_DATE);
    stored -= k * SECONDS_PER_DAY;
    days += int64_t(k);
    // Rounding of the division can leave the local time a hair outside the day.
    if (stored + offset < 0) {
        stored += SECONDS_PER_DAY;
        days -= 1;
    } else if (stored + offset >= SECONDS_PER_DAY) {
        stored -= SECONDS_PER_DAY;
        days += 1;
    }
    make_at(c, from_days(days, keep), stored);
}

void normalize_time(Cell* c, double time, bool local) {
    uint32_t w = c->data1;
    normalize_into(c, days_of(w), local ? to_stored(time, zone_of(w)) : time, w);
}

void set_week(Cell* c, int32_t n) {
    uint32_t w = c->data1;
    c->data1 = from_days(iso_week1_start(w) + 7 * int64_t(n) - 7, w);
}

void set_weekday(Cell* c, int32_t n) {
    uint32_t w = c->data1;
    int64_t d = days_of(w);
    c->data1 = from_days(d + n - floor_mod(d + 2, 7) - 1, w);
}

void set_yearday(Cell* c, int32_t n) {
    uint32_t w = c->data1;
    c->data1 = from_days(jan1_days(w) + n - 1, w);
}

uint32_t with_month(uint32_t w, int64_t month) {
    int64_t year = year_of(w) + floor_div(month - 1, 12);
    int64_t m = floor_mod(month - 1, 12) + 1;
    return from_days(to_days(year, m, 1) + day_of(w) - 1, w);
}

// ---- fields ----

int32_t field_index(const Cell* word) {
    using namespace runtime_words;
    static const struct {
        const uint32_t* symbol;
        int32_t index;
    } names[] = {
        {&sym::date, F_DATE},       {&sym::year, F_YEAR},         {&sym::month, F_MONTH},
        {&sym::day, F_DAY},         {&sym::zone, F_ZONE},         {&sym::time, F_TIME},
        {&sym::hour, F_HOUR},       {&sym::minute, F_MINUTE},     {&sym::second, F_SECOND},
        {&sym::weekday, F_WEEKDAY}, {&sym::yearday, F_YEARDAY},   {&sym::julian, F_YEARDAY},
        {&sym::timezone, F_TIMEZONE}, {&sym::week, F_WEEK},       {&sym::isoweek, F_ISOWEEK},
    };
    uint32_t s = symbol::resolve(cells::word_symbol(*word));
    for (const auto& n : names)
        if (symbol::resolve(*n.symbol) == s) return n.index;
    return 0;
}

int32_t yearday(uint32_t w) { return int32_t(days_of(w) - jan1_days(w) + 1); }

int32_t isoweek(uint32_t w) {
    int64_t d = days_of(w);
    int32_t wd = 0;
    int64_t s = iso_week1_start(w, &wd);
    if (d < s) {
        if (wd == 5) return 53;
        if (wd == 6) return leap_year_q(year_of(w) - 1) ? 53 : 52;
        return 52;
    }
    if (d < iso_week1_start_of_year(int64_t(year_of(w)) + 1, nullptr)) return int32_t((d - s) / 7 + 1);
    return 1;
}

Cell get_field(const Cell* date, int32_t index) {
    uint32_t w = date->data1;
    double local = to_local(date);
    switch (index) {
    case F_DATE: {
        Cell c;
        make_at(&c, w & ~(TIME_FLAG | ZONE_MASK), 0.0);
        return c;
    }
    case F_YEAR: return cells::make_integer(year_of(w));
    case F_MONTH: return cells::make_integer(month_of(w));
    case F_DAY: return cells::make_integer(day_of(w));
    case F_ZONE: case F_TIMEZONE:
        if (!has_time(w)) return cells::make_none();
        return cells::make_float(zone_offset(zone_of(w)), T_TIME);
    case F_TIME:
        if (!has_time(w)) return cells::make_none();
        return cells::make_float(local, T_TIME);
    case F_HOUR: return cells::make_integer(time_::get_hours(local));
    case F_MINUTE: return cells::make_integer(time_::get_minutes(local));
    case F_SECOND: return cells::make_float(std::fmod(local, 60.0));
    case F_WEEKDAY: return cells::make_integer(floor_mod(days_of(w) + 2, 7) + 1);
    case F_YEARDAY: return cells::make_integer(yearday(w));
    case F_WEEK: return cells::make_integer(week_of(w));
    default: return cells::make_integer(isoweek(w));
    }
}

// ---- conversions and arithmetic ----

void difference(Cell* a, const Cell* b) {
    double s = double(days_of(a->data1) - days_of(b->data1)) * SECONDS_PER_DAY +
               (a->get_float() - b->get_float());
    time_::make_at(a, s);
}

int32_t to_epoch(const Cell* date) {
    int64_t days = days_of(date->data1) - to_days(1970, 1, 1);
    double s = double(days) * SECONDS_PER_DAY + std::trunc(date->get_float() + 0.5);
    if (integer::overflow_q(s)) raise_type_limit(T_INTEGER);
    return int32_t(s);
}

void from_epoch(Cell* c, int32_t seconds) {
    int64_t days = to_days(1970, 1, 1) + seconds / 86400;
    normalize_into(c, days, double(seconds % 86400), pack(1970, 1, 1) | TIME_FLAG);
}

void add_subtract(int op) {
    Cell* a = stack::arg(0);
    const Cell* b = stack::arg(1);
    uint32_t w = a->data1;
    int64_t days = days_of(w);
    double stored = a->get_float();
    switch (b->type()) {
    case T_INTEGER: {
        int64_t n = cells::integer(*b);
        days += op == OP_ADD ? n : -n;
        break;
    }
    case T_TIME: {
        double s = b->get_float();
        stored += op == OP_ADD ? s : -s;
        w |= TIME_FLAG;
        break;
    }
    case T_DATE: {
        if (op == OP_ADD) {
            Cell word = *word::load("add"), dt = cells::make_datatype(T_DATE);
            stack::raise_error("script", "not-related", {&word, &dt});
        }
        // Whole days between the two instants, counted down (one second short of a day is 0).
        double k = std::floor((stored - b->get_float()) / SECONDS_PER_DAY);
        double n = double(days - days_of(b->data1)) + k;
        *a = cells::make_integer(int32_t(n));  // day numbers differ by far less than 2^31
        return;
    }
    default: {
        Cell dt = cells::make_datatype(b->type());
        stack::raise_error("script", "invalid-type", {&dt});
    }
    }
    normalize_into(a, days, stored, w);
}

std::string text(const Cell* date) {
    uint32_t w = date->data1;
    std::string_view month;
    if (!system_settings::month_name(month_of(w), month))
        stack::raise_error("script", "invalid-months");
    std::string out;
    out += integer::form_signed(day_of(w)).view();
    char sep = int32_t(w) < 0 ? '/' : '-';
    out += sep;
    out += month.substr(0, 3);
    out += sep;
    int32_t y = year_of(w);
    if (y < 0) out += '-';
    int32_t a = y < 0 ? -y : y;
    std::string digits(integer::form_signed(a).view());
    if (a < 100) digits.insert(0, 4 - digits.size(), '0');
    out += digits;
    if (has_time(w)) {
        out += '/';
        out += time_::text(to_local(date));
        uint32_t z = zone_of(w);
        if (z) {
            out += z & 0x40 ? '-' : '+';
            int32_t h = int32_t((z >> 2) & 15), m = int32_t(z & 3) * 15;
            if (h < 10) out += '0';
            out += integer::form_signed(h).view();
            out += ':';
            if (m < 10) out += '0';
            out += integer::form_signed(m).view();
        }
    }
    return out;
}

// ---- the block constructor ----

namespace {

enum Slot : int8_t {
    S_NONE = -1, S_DAY, S_MONTH, S_YEAR, S_HOUR, S_TIME, S_ZONE_HOURS, S_ZONE_TIME,
    S_ZONE_MINUTES, S_MINUTE, S_SECOND, S_SECOND_FLOAT, SLOT_COUNT
};

// One state of the walk over a block spec: for each item type, the next state and the slot the
// item fills (-1: the type is not accepted here).
struct Transition {
    int8_t next;
    Slot slot;
};
struct Row {
    Transition on_integer, on_time, on_float;
};

constexpr Transition NO = {-1, S_NONE};
constexpr Row DATE_FIELD_TABLE[14] = {
    {{1, S_DAY}, NO, NO},
    {{2, S_MONTH}, NO, NO},
    {{3, S_YEAR}, NO, NO},
    {{8, S_HOUR}, {4, S_TIME}, NO},
    {{6, S_ZONE_HOURS}, {5, S_ZONE_TIME}, NO},
    {NO, NO, NO},
    {{7, S_ZONE_MINUTES}, NO, NO},
    {NO, NO, NO},
    {{9, S_MINUTE}, NO, NO},
    {{10, S_SECOND}, NO, {10, S_SECOND_FLOAT}},
    {{12, S_ZONE_HOURS}, {11, S_ZONE_TIME}, NO},
    {NO, NO, NO},
    {{13, S_ZONE_MINUTES}, NO, NO},
    {NO, NO, NO},
};

// The walk and the build; `validate` for make. The result goes into `out`.
void from_block(const Cell* spec, bool validate, Cell* out) {
    SeriesBuffer* b = memory::buffer_of(cells::series_node(*spec));
    uint32_t length = b->length(), index = cells::series_index(*spec);
    uint32_t count = index >= length ? 0 : length - index;
    const Cell* items = b->head_cell() + index;
    double v[SLOT_COUNT] = {};
    bool given[SLOT_COUNT] = {};
    int state = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const Cell& c = items[i];
        const Row& row = DATE_FIELD_TABLE[state];
        Transition t = c.is(T_INTEGER) ? row.on_integer
                       : c.is(T_TIME)  ? row.on_time
                       : c.is(T_FLOAT) ? row.on_float
                                       : NO;
        if (t.next < 0) raise_bad_to(spec);
        v[t.slot] = c.is(T_INTEGER) ? double(cells::integer(c)) : c.get_float();
        given[t.slot] = true;
        state = t.next;
    }
    if (count < 3) raise_bad_to(spec);
    if (v[S_DAY] >= 100 && v[S_DAY] > v[S_YEAR]) std::swap(v[S_DAY], v[S_YEAR]);
    int64_t day = int64_t(v[S_DAY]), month = int64_t(v[S_MONTH]), year = int64_t(v[S_YEAR]);

    // The zone, refused when it does not fit the packed field.
    int32_t zone_hours = 0, zone_minutes = 0;
    bool zone_negative = false;
    if (given[S_ZONE_TIME]) {
        double z = v[S_ZONE_TIME];
        if (std::fabs(z) >= 16 * 3600.0) raise_bad_to(spec);
        zone_hours = time_::get_hours(z);
        zone_minutes = time_::get_minutes(z);
        zone_negative = z < 0;
    } else {
        zone_hours = int32_t(v[S_ZONE_HOURS]);
        zone_minutes = int32_t(v[S_ZONE_MINUTES]);
        zone_negative = zone_hours < 0;
        if (zone_hours < -15 || zone_hours > 15 || zone_minutes < 0 || zone_minutes > 59)
            raise_bad_to(spec);
    }
    uint32_t zone = zone_bits(zone_hours, zone_minutes, zone_negative);

    double time = 0;
    if (state >= 8) {
        double second = v[S_SECOND_FLOAT] != 0.0 ? v[S_SECOND_FLOAT] : v[S_SECOND];
        time = v[S_HOUR] * 3600.0 + v[S_MINUTE] * 60.0 + second;
    } else if (given[S_TIME]) {
        time = v[S_TIME];
    }
    if (!std::isfinite(time)) raise_bad_to(spec);

    // Month with carry, then the day counted from day 0 of that month.
    int64_t y = year + floor_div(month - 1, 12);
    int64_t m = floor_mod(month - 1, 12) + 1;
    if (y < YEAR_MIN || y > YEAR_MAX) raise_bad_to(spec);
    int64_t days = to_days(y, m, 1) - 1 + day;
    uint32_t flags = count > 3 ? TIME_FLAG : 0;

    Cell local;
    normalize_into(&local, days, time, flags);
    if (validate) {
        uint32_t w = local.data1;
        bool ok = year_of(w) == year && month_of(w) == month && day_of(w) == day;
        if (time != 0.0) {
            double hours = std::trunc(time / 3600.0);
            double minute = state >= 9 ? v[S_MINUTE] : time_::get_minutes(time);
            ok = ok && hours >= 0 && hours <= 23 &&
                 time_::get_minutes(local.get_float()) == minute;
        } else {
            ok = ok && v[S_HOUR] == 0 && v[S_MINUTE] == 0;
        }
        if (!ok) raise_bad_to(spec);
    }
    uint32_t w = local.data1 | zone;
    normalize_into(out, days_of(w), to_stored(local.get_float(), zone), w);
}

}  // namespace

// ---- actions ----

Cell* make(const Cell* proto, const Cell* spec, uint32_t type) {
    switch (spec->type()) {
    case T_DATE: *stack::arguments = *spec; return stack::arguments;
    case T_BLOCK: case T_PAREN: case T_HASH: {
        Cell result;
        from_block(spec, true, &result);
        *stack::arguments = result;
        return stack::arguments;
    }
    default: (void)proto, (void)type; raise_bad_to(spec);
    }
}

Cell* to(const Cell*, const Cell* spec, uint32_t) {
    Cell result;
    switch (spec->type()) {
    case T_DATE: result = *spec; break;
    case T_BLOCK: case T_PAREN: case T_HASH: from_block(spec, false, &result); break;
    case T_INTEGER: from_epoch(&result, cells::integer(*spec)); break;
    default: raise_bad_to(spec);
    }
    *stack::arguments = result;
    return stack::arguments;
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
    uint32_t w = value->data1;
    double stored = value->get_float();
    if (seed) {
        double t = std::trunc(stored);
        uint32_t s = w + (std::isfinite(t) && std::fabs(t) < 2147483648.0 ? uint32_t(int32_t(t)) : 0u);
        random::seed(s);
        *stack::arguments = cells::make_unset();
        return stack::arguments;
    }
    int64_t bound = days_of(w);
    int32_t r = bound == 0 ? 0 : random::int_(secure, int32_t(bound));
    uint32_t nw = from_days(int64_t(r) - 1, w);
    Cell result;
    if (!has_time(nw)) {
        make_at(&result, nw, 0.0);
    } else {
        uint32_t zone = uint32_t(secure ? random::secure_int31() : random::next()) & ZONE_MASK;
        nw = (nw & ~ZONE_MASK) | zone;
        double f;
        if (secure) {
            double a = random::secure_int31(), b = random::secure_int31();
            f = (a / 2147483647.0 + b) / (2147483648.0 / 3600.0);
        } else {
            f = random::next() / 2147483647.0 * 3600.0;
        }
        double local = std::floor(f) / 3600.0 * 24.0 * 3600.0;
        normalize_into(&result, days_of(nw), to_stored(local, zone), nw);
    }
    *stack::arguments = result;
    return stack::arguments;
}

int32_t form(const Cell* value, Cell* out, bool, int32_t limit) {
    std::string t = text(value);
    string::concatenate_cstring(out, t);
    return limit - int32_t(t.size());
}

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, bool part, int32_t limit, int32_t) {
    return form(value, out, part, limit);
}

namespace {

// A store into field `index` of the date in `c`; errors come before any change.
void set_field(Cell* c, int32_t index, const Cell* v) {
    uint32_t w = c->data1;
    double stored = c->get_float();
    switch (index) {
    case F_YEAR: case F_MONTH: case F_DAY: case F_WEEKDAY: case F_YEARDAY: case F_WEEK:
    case F_ISOWEEK: {
        if (!v->is(T_INTEGER)) raise_invalid_arg(v);
        int64_t n = cells::integer(*v);
        int64_t d = days_of(w);
        switch (index) {
        case F_YEAR: d = to_days(n, month_of(w), day_of(w)); break;
        case F_MONTH: c->data1 = with_month(w, n); return;
        case F_DAY: d = to_days(year_of(w), month_of(w), 1) - 1 + n; break;
        case F_WEEKDAY: d = d + (n - 1) - floor_mod(d + 2, 7); break;
        case F_YEARDAY: d = jan1_days(w) + n - 1; break;
        case F_WEEK: {
            int64_t jan1 = jan1_days(w);
            d = n <= 1 ? jan1 : jan1 + 7 * n - floor_mod(jan1 + 3, 7) - 7;
            break;
        }
        default: d = iso_week1_start(w) + 7 * n - 7;
        }
        c->data1 = from_days(d, w);
        return;
    }
    case F_DATE: {
        if (!v->is(T_DATE)) raise_invalid_arg(v);
        uint32_t nw = v->data1;
        if (!has_time(nw)) {
            make_at(c, nw & ~(TIME_FLAG | ZONE_MASK), 0.0);
            return;
        }
        c->data1 = (nw & ~ZONE_MASK) | (has_time(w) ? zone_of(w) : 0);
        if (!has_time(w)) c->set_float(0.0);
        return;
    }
    case F_ZONE: case F_TIMEZONE: {
        int32_t hours, minutes;
        bool negative;
        if (v->is(T_INTEGER)) {
            hours = cells::integer(*v) % 16;
            minutes = 0;
            negative = hours < 0;
        } else if (v->is(T_TIME)) {
            double t = std::fmod(v->get_float(), 57600.0);
            hours = time_::get_hours(t);
            minutes = time_::get_minutes(t);
            negative = t < 0;
        } else {
            raise_invalid_arg(v);
        }
        uint32_t zone = zone_bits(hours, minutes, negative);
        uint32_t nw = (w & ~ZONE_MASK) | zone | TIME_FLAG;
        if (index == F_ZONE) {
            // The local time stays; the instant moves.
            make_at(c, nw, to_stored(to_local(c), zone));
            normalize_time(c, c->get_float(), false);
        } else {
            // The instant stays; the local time moves.
            make_at(c, nw, stored);
            normalize_time(c, stored, false);
        }
        return;
    }
    case F_TIME: {
        if (v->is(T_NONE)) {
            make_at(c, w & ~(TIME_FLAG | ZONE_MASK), 0.0);
            return;
        }
        if (!v->is(T_TIME)) raise_invalid_arg(v);
        c->data1 = w | TIME_FLAG;
        normalize_time(c, v->get_float(), true);
        return;
    }
    default: {  // hour, minute, second: on the local time, the other fields kept
        double n;
        if (v->is(T_INTEGER)) n = cells::integer(*v);
        else if (index == F_SECOND && v->is(T_FLOAT)) n = v->get_float();
        else raise_invalid_arg(v);
        double local = time_::with_field(to_local(c), index - 6, n);
        c->data1 = w | TIME_FLAG;
        normalize_time(c, local, true);
    }
    }
}

}  // namespace

Cell* eval_path(const PathStep& step) {
    const Cell* e = step.element;
    int32_t index = 0;
    if (e->is(T_INTEGER)) index = cells::integer(*e);
    else if (e->is(T_WORD)) index = field_index(e);
    if (index < 1 || index > 14) {
        Cell path = step.path ? *step.path : cells::make_none(), element = *e;
        stack::raise_error("script", "invalid-path", {&path, &element});
    }
    if (!step.set_value) {
        Cell field = get_field(step.value, index);
        return stack::push(&field);
    }
    Cell old = *step.value;
    Cell changed = old;
    set_field(&changed, index, step.set_value);
    changed.header = old.header;  // the stored cell keeps its flags (new-line)
    *step.value = changed;
    return float_::finish_path_set(step, old);
}

Cell* pick(Cell* value, int32_t index, const Cell* index_value) {
    if (index_value && word::any_word_q(index_value->type()) && !index_value->is(T_ISSUE))
        index = field_index(index_value);
    if (index < 1 || index > 14) {
        Cell e = index_value ? *index_value : cells::make_integer(index);
        stack::raise_error("script", "out-of-range", {&e});
    }
    Cell field = get_field(value, index);
    return stack::push(&field);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (!b->is(T_DATE)) return NOT_COMPARABLE;
    // The instants, counted from b's day so that the day numbers do not eat the precision.
    double x = double(days_of(a->data1) - days_of(b->data1)) * SECONDS_PER_DAY + a->get_float();
    double y = b->get_float();
    switch (op) {
    case COMP_SAME: return x == y ? 0 : 1;
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_FIND:
        return float_::equal_within(x, y) ? 0 : 1;
    default:
        if (float_::equal_within(x, y)) return 0;
        return x < y ? -1 : 1;
    }
}

void add() { add_subtract(OP_ADD); }
void subtract() { add_subtract(OP_SUB); }

namespace {

// The lexer's maker: a west zone comes with its hours and minutes negative (either may be 0).
void set_all_from_text(Cell* c, int32_t year, int32_t month, int32_t day, double time,
                       int32_t zone_hours, int32_t zone_minutes, bool time_flag) {
    uint32_t w = pack(year, month, day);
    if (!time_flag) {
        make_at(c, w, 0.0);
        return;
    }
    bool west = zone_hours < 0 || zone_minutes < 0;
    uint32_t z = zone_bits(std::abs(zone_hours), std::abs(zone_minutes), west);
    make_at(c, w | TIME_FLAG | z, to_stored(time, z));
}

}  // namespace

void init() {
    system_settings::reset();
    lexer::date_set_all = set_all_from_text;
    lexer::date_set_week = set_week;
    lexer::date_set_weekday = set_weekday;
    lexer::date_set_yearday = set_yearday;
    type_registry::register_type(
        T_DATE, 0, "date!",
        {.make = make, .random = random, .to = to, .form = form, .mold = mold,
         .eval_path = eval_path, .compare = compare, .add = add, .subtract = subtract,
         .pick = pick});
}

}  // namespace kov::date
