// string! as a value: its action handlers (make, to, form, mold, eval-path, compare, append,
// insert, change, find, select, sort, swap, take, trim), the mold escape routine that char!
// shares, and the set operations on text. The storage routines beneath them are in string.hpp.
//
// Handlers follow the signatures of core/action_table.hpp. Series arguments are argument-stack
// cells (or rooted cells that stay where they are): handlers that allocate write the result
// position back into them and answer them. Handlers that make a new value (make, to, take, the
// set operations) leave it in the current frame's result slot (stack::arguments[0]) and answer
// that cell; read-only answers that carry no node (select's char!) come from a static cell that
// the caller copies at once.
#pragma once

#include <cstdint>

#include "core/action_table.hpp"
#include "core/value.hpp"

namespace kov::string {

// Registers string! (parent series!). Run after series! and block!.
void init();

// True for the text datatypes: string!, file!, url!, tag!, email!, ref!.
constexpr bool text_type_q(uint32_t t) {
    return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}

// Appends one character to `out` (rooted) as mold writes it: "^/" and the other short escapes,
// "^(XX)" for 30, 0x80..0x9F and, with `all`, every code point above 127.
void mold_escape_char(Cell* out, uint32_t cp, bool all);

// ---- handlers ----

Cell* make(const Cell* proto, const Cell* spec, uint32_t type);
Cell* to(const Cell* proto, const Cell* spec, uint32_t type);
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
             int32_t limit, int32_t indent);
Cell* eval_path(const PathStep& step);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
// `part` below 0: no /part; `dup` below 2: once.
Cell* append(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup);
Cell* insert(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup);
Cell* change(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup);
Cell* find(Cell* series, const Cell* value, const FindArgs& args);
Cell* select(Cell* series, const Cell* value, const FindArgs& args);
Cell* sort(Cell* series, bool case_sensitive, const Cell* skip, const Cell* comparator,
           const Cell* part, bool all, bool reverse, bool stable);
Cell* swap(Cell* a, Cell* b);
Cell* take(Cell* series, const Cell* part, bool deep, bool last);
Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, const Cell* with);

// ---- set operations ----

enum SetOp : int { SET_UNIQUE = 8, SET_UNION, SET_INTERSECT, SET_EXCLUDE, SET_DIFFERENCE };

// Makes `first` (rooted, not moving) a new string of the operation's result, head 0. `second` is
// ignored by unique; `skip` (integer!, or null) gives records of that many characters.
void do_set_op(Cell* first, const Cell* second, bool case_sensitive, const Cell* skip, int op);

}  // namespace kov::string
