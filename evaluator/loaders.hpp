// The loaders of the lexer's value tokens, and the text readers that the datatypes use to convert
// text to numbers. A loader takes the scan state, the token's bytes [start, end), the token's
// flags and a load flag: with it, the value is appended through lexer::alloc_slot; without it,
// the token is only checked. Rejections are syntax errors raised through lexer::throw_error.
// Number, date and money tokens live in loaders_number.cpp; text and word tokens in
// loaders_text.cpp.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/value.hpp"
#include "evaluator/lexer.hpp"

namespace kov::lexer {

using Loader = void (*)(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags,
                        bool load);

// Numbers, dates, money.
void load_integer(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_hex(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_float(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_percent(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_special_float(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_tuple(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_pair(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_point(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_time(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_date(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_money(State&, const uint8_t*, const uint8_t*, uint32_t, bool);

// Text and words.
void load_string(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void scan_string_token(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_raw_string(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_char(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_file(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_url(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_email(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_tag(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_ref(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_binary(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_word(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_refinement(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_issue(State&, const uint8_t*, const uint8_t*, uint32_t, bool);

// A word cell of the given word kind for a UTF-8 name, bound in the global context (the asked
// spelling, sharing the slot of a spelling equal ignoring case).
Cell make_word(uint32_t type, std::string_view name);

// Caret escape after a `^` at p (p < end): the code point, or -1 for an invalid escape; `p`
// moves past the escape.
int32_t decode_escape(const uint8_t*& p, const uint8_t* end);

// ---- text readers for `to` (characters of any unit) ----
// Failure codes written to `error`: 0 none, -1 bad text, -2 integer overflow.
int32_t scan_integer(const uint8_t* text, uint32_t length, uint32_t unit, int32_t& error);
double scan_float(const uint8_t* text, uint32_t length, uint32_t unit, int32_t& error);
// Fills `out` with a tuple! cell; false on bad text.
bool scan_tuple(const uint8_t* text, uint32_t length, uint32_t unit, Cell& out);

// Decimal text to a double with an extra power of ten (the float syntax must already hold;
// apostrophes are skipped). False when the text holds no number.
bool decimal_to_double(const uint8_t* text, const uint8_t* end, int32_t extra_exponent,
                       double& out);
// The float syntax automaton: true when the bytes form a decimal number.
bool float_syntax_q(const uint8_t* text, const uint8_t* end);

// ---- makers of the datatypes that other modules own (null until their modules set them) ----
// date/set-all: year, month, day, seconds, zone hours, zone minutes, time present.
extern void (*date_set_all)(Cell* out, int32_t year, int32_t month, int32_t day, double seconds,
                            int32_t zone_hours, int32_t zone_minutes, bool has_time);
extern void (*date_set_week)(Cell* date, int32_t week);
extern void (*date_set_weekday)(Cell* date, int32_t weekday);
extern void (*date_set_yearday)(Cell* date, int32_t day);
// money/make-at: sign, currency code (3 bytes) or null, the digits and decimal mark; answers
// true on failure.
extern bool (*money_make_at)(Cell* out, bool negative, const uint8_t* currency,
                             const uint8_t* digits, const uint8_t* mark, const uint8_t* end);

}  // namespace kov::lexer
