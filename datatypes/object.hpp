// object!: a context with an identity. Class ids, making from a spec block or a prototype,
// construction without evaluation, copying, the event record and the firing of `on-change*` and
// `on-deep-change*`, setting fields from `set`, paths, select, put, modify, reflection, form,
// mold and compare.
//
// object! cell: data1 the context node (kind 2; its owner cell holds a copy of the object cell,
// refreshed whenever the cell is built or its event record changes); data2 the class id; data3
// the node of the event record, or 0 when the object has neither handler.
// Event record: a block of two pair! cells, the first for `on-change*`, the second for
// `on-deep-change*`: x = (slot of the handler's word << 16) | its local count, NO_HANDLER when
// absent; y = the node of the handler's spec when the record was made (0 when unknown).
// Words of the context carry WORD_ASSIGNED once assigned (the `changed` set).
// Class ids: a counter from 1,000,000 (the first new class is 1,000,001); compiled code uses ids
// below that range. Objects of one class id have the same words in the same slots.
//
// Memory rules: routines that allocate take their object and value arguments by copying them
// into roots; the cells they write (a result, a `finish`ed object) must not move: pass an
// argument-stack cell or a collector::Root. Results of actions are pushed on the argument stack.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/action_table.hpp"
#include "core/runtime.hpp"
#include "core/value.hpp"

namespace kov::object {

constexpr uint32_t NO_HANDLER = 0xFFFF0000u;
constexpr uint32_t FIRST_CLASS_ID = 1000000;

// Evaluates a block (a spec being made into an object) with its result left where the
// interpreter leaves it; installed by the interpreter. While it is null, making an object from a
// block raises internal error not-done.
extern Status (*eval_hook)(const Cell* block);

// ---- accessors ----
Cell* word_at(Handle ctx, int32_t slot);  // valid until the next allocation
inline Cell* first_word(const Cell* obj) { return word_at(obj->data1, 0); }
// Slot of the word's symbol, ignoring case, or -1.
int32_t find_word(const Cell* obj, const Cell* word);
// The field's value cell, or the shared none! when absent (valid until the next allocation).
const Cell* select_word(const Cell* obj, const Cell* word);
Cell* get_values(const Cell* obj);
uint32_t word_count(const Cell* obj);
// Clears the new-line flag of every cell of a block node / the assigned flag of every word.
void clear_new_lines(Handle block);
void clear_changed(Handle ctx);
uint32_t new_class_id();
bool word_is_class_q(const Cell* word, uint32_t class_id);
bool slot_is_class_q(Handle ctx, int32_t slot, uint32_t class_id);

// ---- makers ----
// A new object context of the given capacity in `c` (class id 0, no event record).
void make_empty_at(Cell* c, uint32_t capacity);
// Pushes an object cell (no event record / the given record).
Cell* push(Handle ctx, uint32_t class_id);
Cell* push_with_events(Handle ctx, uint32_t class_id, Handle record);
// Builds the record (spec nodes 0) of the object on top of the stack; with an on-deep-change
// slot (not -1) records the object as owner of its series. Answers the record.
Handle attach_events(Handle ctx, int32_t change_slot, int32_t change_locals, int32_t deep_slot,
                     int32_t deep_locals);
// The event record of a context, or 0; raises bad-field-set for a handler that is not a
// function! or routine!.
Handle make_events(Handle ctx);
// Sets the record, records ownership when there is a deep-change handler, refreshes the owner cell.
void finish(Cell* obj);
// Copies an object into `result`: new context with the source's words rebound, values copied,
// function fields rebuilt; with deep (no types) series fields copied one level; with types the
// fields of those types copied nested. Without `finish_it` the record is the source's.
void clone(const Cell* source, Cell* result, bool deep, const Cell* types, bool finish_it);
// The `construct` native: pushes the object built from the spec without evaluation.
Cell* construct(const Cell* spec, const Cell* proto, bool only);
// The `set` native on an object.
void set_values(const Cell* obj, const Cell* value, bool any, bool only, bool some);

// Replaces the function in a slot of an object's context by a new function whose body is a
// deep copy bound to the object and then to the function's own new context. A function without
// a body raises bad-func-def; a body that contains itself raises internal error no-cycle.
void rebind_function(Handle ctx, int32_t slot);
void copy_series_fields(Handle source, Handle destination, bool all);
bool extend_from(Handle destination, const Cell* source);
void copy_values_into(Handle destination, Handle source);

// ---- events ----
void fire_on_change(const Cell* obj, const Cell* word, const Cell* old_value, const Cell* new_value);
void fire_on_deep_change(const Cell* owner, const Cell* word, const Cell* target, const Cell* action,
                         const Cell* new_value, int32_t index, int32_t part);
// With the new value second from the top of the argument stack and the old value on top.
void fire_set(const Cell* obj, const Cell* word);
void fire_set_in_context(Handle ctx, const Cell* word);
void set_field(const Cell* holder, const Cell* word);

// ---- text ----
int32_t serialize(const Cell* obj, Cell* out, bool only, bool all, bool flat, bool part,
                  int32_t limit, bool indented, int32_t indent, bool mold);

// ---- actions ----
Cell* make(const Cell* proto, const Cell* spec, uint32_t type);
Cell* reflect(const Cell* value, const Cell* field);
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part, int32_t limit,
             int32_t indent);
// mold with another opening than "make object! [" (the kinds built on object!).
int32_t mold_as(const Cell* value, Cell* out, std::string_view opening, bool only, bool all,
                bool flat, bool part, int32_t limit, int32_t indent);
Cell* eval_path(const PathStep& step);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
Cell* copy(const Cell* value, Cell* result, const Cell* part, bool deep, const Cell* types);
Cell* put(Cell* obj, const Cell* key, const Cell* value, bool case_sensitive);
Cell* select(Cell* obj, const Cell* key, const FindArgs& args);
Cell* modify(Cell* obj, const Cell* field, const Cell* value, bool case_sensitive);

// Registers object! and connects the change hooks of the core.
void init();

}  // namespace kov::object
