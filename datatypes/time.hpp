// time!: a duration or time of day held as seconds in a float! cell (type 43, child of float!):
// its text of hours, two-digit minutes and seconds, the hour, minute and second fields (paths and
// pick), arithmetic that keeps the type, rounding, even?/odd?, and the action table.
//
// Cell: data2-data3 the signed number of seconds as a double (fractions allowed, no range
// limit); data1 carries nothing. The namespace is time_ so that it does not meet the C library's
// time().
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/action_table.hpp"
#include "core/value.hpp"

namespace kov::time_ {

constexpr double SECONDS_PER_HOUR = 3600.0;
constexpr double SECONDS_PER_MINUTE = 60.0;

// ---- cells ----
Cell* make_at(Cell* c, double seconds);  // header 43 (flags clear)
Cell* make_in(const Cell* block, double seconds);
Cell* push(double seconds);

// ---- fields ----
// seconds / 3600 truncated toward zero (unchecked conversion outside the 32-bit range).
int32_t get_hours(double seconds);
// floor(fmod(|seconds|, 3600) / 60): always 0..59.
int32_t get_minutes(double seconds);
// 1 hour, 2 minute, 3 second (case ignored); another word: -1 when value is not a time!, else
// script error cannot-use with the word and the value.
int32_t field_index(const Cell* word, const Cell* value);
// The field's value: hours and minutes as integer!, seconds as float! (fmod(seconds, 60), with
// the sign of the time).
Cell field(double seconds, int32_t index);
// The seconds after storing `value` into a field. A negative time is handled as the mirror of its
// absolute value: the store runs on |seconds| with the signed fields (hour, second) negated and
// the sign is put back, so that reading a field back after a store gives what was stored.
double with_field(double seconds, int32_t index, double value);

// ---- text ----
// The text form: "-" for a negative time, the hours, ":" and two-digit minutes, ":" and the
// seconds (two integer digits, up to six decimals). The total is first rounded to whole
// microseconds, so the seconds never read 60.
std::string text(double seconds);
// Appends the text to a string! and answers part less the characters written.
int32_t serialize(double seconds, Cell* out, int32_t part);
// Reads the first value of a text as a time ([-]h:mm[:ss[.fraction]]); false when it is not one.
bool scan_text(std::string_view text, double& seconds);

// Script error bad-to-arg with time! and the value.
[[noreturn]] void raise_bad_to(const Cell* value);

// ---- actions ----
void init();
// make and to: the result (a time!) in argument 0, answered.
Cell* make(const Cell* proto, const Cell* spec, uint32_t type);
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
             int32_t limit, int32_t indent);
Cell* eval_path(const PathStep& step);
Cell* pick(Cell* value, int32_t index, const Cell* index_value);
Cell* round(Cell* value, const Cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling);
bool even_q(const Cell* value);
bool odd_q(const Cell* value);
void add();
void subtract();
void multiply();
void divide();

}  // namespace kov::time_
