// date!: a calendar date of the proleptic Gregorian calendar with an optional time of day and
// time zone (type 47, no parent). Day numbers, normalisation, the fourteen fields (paths and
// pick), the block constructor, arithmetic, text, random dates and comparison by instant.
//
// Cell: data1 the packed date word (signed):
//   bits 17-31 year (-16384..16383, signed), bit 16 time present, bits 12-15 month 1-12,
//   bits 7-11 day 1-31, bits 0-6 zone: bit 6 west of UTC, bits 2-5 whole hours, bits 0-1
//   quarter hours.
// data2-data3 the stored time, a double of seconds: the local time of day minus the zone offset.
// After every change 0 <= stored time + zone offset < 86400 holds, whole days being carried into
// the calendar fields. A date without time has time 0.0 and zone 0.
//
// Day numbers count from 1 March of year 0 (day 0), with floored divisions, so that they run on
// without a gap or a repeat over the whole year range, negative years included.
#pragma once

#include <cstdint>
#include <string>

#include "core/action_table.hpp"
#include "core/value.hpp"

namespace kov::date {

constexpr int32_t YEAR_MIN = -16384, YEAR_MAX = 16383;
constexpr uint32_t TIME_FLAG = 0x10000;
constexpr uint32_t ZONE_MASK = 0x7F;
constexpr double SECONDS_PER_DAY = 86400.0;

// ---- the packed word ----
inline int32_t year_of(uint32_t w) { return int32_t(w) >> 17; }
inline int32_t month_of(uint32_t w) { return int32_t((w >> 12) & 15); }
inline int32_t day_of(uint32_t w) { return int32_t((w >> 7) & 31); }
inline uint32_t zone_of(uint32_t w) { return w & ZONE_MASK; }
inline bool has_time(uint32_t w) { return (w & TIME_FLAG) != 0; }
// The word of a year, month and day (year within the range), without flag or zone.
uint32_t pack(int32_t year, int32_t month, int32_t day);
// Zone bits of signed hours and minutes (minutes 0..59, hours -15..15; the sign of `negative`).
uint32_t zone_bits(int32_t hours, int32_t minutes, bool negative);
// The zone's offset in seconds, negative west of UTC.
int32_t zone_offset(uint32_t zone);

// ---- day numbers ----
int64_t to_days(int64_t year, int64_t month, int64_t day);
int64_t days_of(uint32_t w);
// The word of a day number, with the flag and zone bits of `keep`; script error type-limit with
// date! when the year leaves the range.
uint32_t from_days(int64_t days, uint32_t keep);
bool leap_year_q(int32_t year);
int64_t jan1_days(uint32_t w);
// The Monday that starts ISO week 1 of the date's year; `weekday` gets 1 January's ISO weekday.
int64_t iso_week1_start(uint32_t w, int32_t* weekday = nullptr);
// Floored modulo of a day-based count.
inline int32_t floor_mod(int64_t a, int32_t m) {
    int64_t r = a % m;
    return int32_t(r < 0 ? r + m : r);
}

// ---- cells ----
Cell* make_at(Cell* c, uint32_t word, double stored_time);
Cell* push(uint32_t word, double stored_time);
// Writes a date from its parts: the time (local) with the flag, zone hours and minutes; no
// normalisation.
void set_all(Cell* c, int32_t year, int32_t month, int32_t day, double time, int32_t zone_hours,
             int32_t zone_minutes, bool time_flag);
// Time flag set, zone 0, time from the parts.
void make_from_parts(Cell* c, int32_t year, int32_t month, int32_t day, int32_t hour,
                     int32_t minute, int32_t second, int32_t nanoseconds);
// The local time of day of a cell, and the stored time of a local time under zone bits.
double to_local(const Cell* c);
inline double to_stored(double local, uint32_t zone) { return local - zone_offset(zone); }
// Carries whole days of `stored` (a stored time under the word's zone) into the calendar, then
// writes word and time into the cell.
void normalize_into(Cell* c, int64_t days, double stored, uint32_t keep);
// The same for a local time.
void normalize_time(Cell* c, double time, bool local);
// Day n of the ISO week n, of the Monday-based week, of the year (the cell's day changes).
void set_week(Cell* c, int32_t n);
void set_weekday(Cell* c, int32_t n);
void set_yearday(Cell* c, int32_t n);
// Month with carry into the year; a day past the month's end carries on.
uint32_t with_month(uint32_t w, int64_t month);

// ---- fields ----
enum Field : int32_t {
    F_DATE = 1, F_YEAR, F_MONTH, F_DAY, F_ZONE, F_TIME, F_HOUR, F_MINUTE, F_SECOND, F_WEEKDAY,
    F_YEARDAY, F_TIMEZONE, F_WEEK, F_ISOWEEK
};
// 1..14 for a field word (julian is yearday), else 0.
int32_t field_index(const Cell* word);
// The field value (none! for zone and time of a date without time).
Cell get_field(const Cell* date, int32_t index);
int32_t yearday(uint32_t w);
int32_t isoweek(uint32_t w);

// ---- conversions and arithmetic ----
// Rewrites a into the time! between the two instants.
void difference(Cell* a, const Cell* b);
// Seconds since 1970-01-01 00:00 UTC (script error type-limit with integer! beyond 32 bits).
int32_t to_epoch(const Cell* date);
// The date of n seconds after 1970-01-01 00:00 UTC.
void from_epoch(Cell* c, int32_t seconds);
// Argument 0 (a date) plus or minus argument 1 (op 0 add, 1 subtract): the result in argument 0.
void add_subtract(int op);
// The text: 5-Mar-2024/10:30:00+05:30.
std::string text(const Cell* date);

// ---- actions ----
void init();
Cell* make(const Cell* proto, const Cell* spec, uint32_t type);
Cell* to(const Cell* proto, const Cell* spec, uint32_t type);
Cell* random(Cell* value, bool seed, bool secure, bool only);
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
             int32_t limit, int32_t indent);
Cell* eval_path(const PathStep& step);
Cell* pick(Cell* value, int32_t index, const Cell* index_value);
// Dates compare by instant (day number x 86400 + stored time), whatever their zones.
int32_t compare(const Cell* a, const Cell* b, int32_t op);
void add();
void subtract();

}  // namespace kov::date
