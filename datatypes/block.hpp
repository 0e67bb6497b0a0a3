// Block storage: the routines through which the rest of the runtime builds and walks blocks of
// value cells (block!, paren!, the four path kinds, hash!), ahead of the block! actions.
//
// A block value: data1 the head index in cells, data2 the node of a series buffer of unit 16;
// the head index may lie past the tail after the series was shortened through another value.
// A hash! keeps its hash table in data3; the routines that insert or append into a hash! keep
// that table in step. Routines that remove cells (cut_at_head, cut_at, remove_last,
// remove_value) leave the table to their caller.
//
// Memory rules:
// - Cell pointers answered here (ks_head, ks_tail, ks_abs_at, append_value, select_value ...)
//   point into a buffer and are good only until the next allocation.
// - A block value passed to a routine that allocates must be reachable from a root (argument
//   stack, a collector::Root, a rooted block); the routines copy what they need into roots of
//   their own, so the argument itself may lie inside a buffer that moves, and a value to insert
//   may lie inside the very block it goes into.
// - make_at, make_at_capacity, and insert_value and insert_cells (which move the head), write
//   the cell they are given after an allocation: it must not move (a root, the argument stack,
//   a global).
#pragma once

#include <cstdint>

#include "core/action_table.hpp"
#include "core/value.hpp"

namespace kov::block {

// The home of a block made with no parent. It is not a root: copy the block out of it before
// the next allocation.
extern Cell scratch;

// ---- positions ----

// Cells from the head to the tail (not clamped: negative when the head lies past the tail).
int32_t ks_length_q(const Cell* blk);
// Moves the head on by one cell when that does not pass the tail; true when the head is then at
// (or past) the tail.
bool advance(Cell* blk);
// Address of the head cell; a head past the tail is first clamped to the tail in `blk`.
Cell* ks_head(Cell* blk);
// Address just past the last cell.
Cell* ks_tail(const Cell* blk);
// True when the head (clamped and written back as ks_head does) is the tail.
bool ks_tail_q(Cell* blk);
// Address of the cell at a 0-based index from the buffer start, ignoring the head.
Cell* ks_abs_at(const Cell* blk, uint32_t index);

// ---- cutting ----

// The tail becomes the head cell (nothing when the head lies past the tail).
void cut_at_head(const Cell* blk);
// The tail becomes the cell at an index from the buffer start (nothing when that is past it).
void cut_at(const Cell* blk, uint32_t index);
// Drops the last cell when there is one, and clamps a head that is then past the tail.
void remove_last(Cell* blk);

// ---- appending and inserting ----

// A copy of the value at a new tail cell; answers that cell.
Cell* append_value(const Cell* blk, const Cell* value);
// Copies of the source's cells from its head to its tail, in order, at the tail. The source may
// be the block itself (its cells as they were before the call are appended).
void append_cells(const Cell* blk, const Cell* source);
// Inserts a copy of the value at the head (or at the buffer start with `at_start`); with
// `move_head` the head then moves past it. A full buffer grows to twice the bytes in use plus
// one cell. Answers `blk`.
Cell* insert_value(Cell* blk, const Cell* value, bool move_head, bool at_start);
// Inserts copies of all the source's cells (from its head) at the head, keeping their order; the
// head ends past them. The source may be the block itself.
void insert_cells(Cell* blk, const Cell* source);
// Argument-stack forms: the block is the cell just below the current arguments base, the value
// the cell at the base (insert_stack_top moves the head past it).
void insert_stack_top();
void append_stack_top();
// Appends argument 1 of the current frame to the block in the result slot.
void append_arg_to_result();

// ---- searching and removing ----

// Walks from the head for the first cell equal to the value (compare-op 12 through the compare
// routine of the value's datatype; for a datatype without one, as hash tables match keys) and
// answers the cell after it, or none-value when the match is the last cell or nothing matches.
const Cell* select_value(const Cell* blk, const Cell* value);
// The same over the word cells (word!, set-word!, lit-word!, get-word!) for a word's symbol:
// exact spelling with `strict`, else ignoring case (canonical symbols).
const Cell* select_word(const Cell* word, const Cell* blk, bool strict);
// Removes the first cell equal to the value, searching from the head (or the buffer start with
// `from_start`). Answers null when nothing was found, else &true_value when the removed cell's
// index was at most the head index, else &false_value.
const Cell* remove_value(Cell* blk, const Cell* value, bool from_start);

// ---- making ----

// Makes `c` an empty block! of capacity n (n < 0 gives 1) with head 0; answers `c`.
Cell* make_at(Cell* c, int32_t n);
// The same with a buffer of n cells pre-filled with unset!, or with `fixed` a fixed buffer
// outside the series frames (it never moves).
Cell* make_at_capacity(Cell* c, int32_t n, bool fixed);
// A new block! at the parent block's tail (or in the scratch cell when parent is null).
Cell* make_in(const Cell* parent, int32_t n);
// The same with a fixed buffer (the start-up's root blocks).
Cell* make_big_in(const Cell* parent, int32_t n);
// Pushes a copy of the value on the argument stack; answers the new cell.
Cell* push(const Cell* value);
// Pushes a new empty block! of capacity n (0 gives 1).
Cell* push_new(int32_t n);

// ---- copying ----

// Pushes a new block holding copies of the cells from the head to the tail, with the source's
// datatype. With `deep` each nested block! (and with `paths` each path kind and paren!) is
// replaced by a deep clone of its own that keeps the nested cell's header; other series are
// shared. A block met again inside itself raises internal error no-cycle; nesting past the
// cycle-detection stack's depth raises internal error too-deep.
Cell* clone(const Cell* blk, bool deep, bool paths);

// The copy routine of a datatype, as copy_nested calls it: writes a copy of `value` (no /part,
// /deep as given, /types as given or null) into `result`.
using CopyFn = void (*)(const Cell* value, Cell* result, bool deep, const Cell* types);
// The typed copy that copy_nested calls. Until the datatypes' copy routines are connected it is
// null, and copy_nested raises internal error not-done for a cell it would have to copy.
extern CopyFn copy_hook;

// For the cells of the block at positions first, first + step ... below end (positions from the
// buffer start): a cell selected by `types` (a typeset!: membership; a datatype!: that datatype;
// null or anything else: every cell) that is a series kind, bitset!, object!, error! or map! is
// replaced in place by its copy (its new-line flag kept). A cell whose container is on the
// cycle-detection stack (a cycle back into a container being copied) raises internal error
// no-cycle; pushing each container is the job of its datatype's copy routine.
void copy_nested(const Cell* blk, uint32_t first, uint32_t end, uint32_t step, bool deep,
                 const Cell* types);

// ---- molding and comparing ----

// Molds the cells from the head into the string `out` (rooted): new-line flags start lines at
// the indentation (unless `flat`), other cells are separated by one space; each cell is molded
// by its datatype's mold routine. Answers the limit less what was written; with `part` it stops
// once the limit is at or below 0.
int32_t mold_cells(const Cell* blk, Cell* out, bool only, bool all, bool flat, bool part,
                   int32_t limit, int32_t indent);

// Compares two blocks cell by cell under a compare-op: -1, 0 or 1, or the answer of the first
// element comparison that is not 0 (-2: not comparable). Cyclic structures terminate through the
// cycle-detection stack.
int32_t compare_each(const Cell* a, const Cell* b, int32_t op);

}  // namespace kov::block

// ---- block! actions ----

namespace kov::block {

// Runs a function! comparator of sort on two arguments (in the order given) and writes its
// answer into `result` (rooted). The interpreter installs it; while it is null, sorting with a
// function comparator raises internal error not-done.
using CallComparator = void (*)(const Cell* function, const Cell* first, const Cell* second,
                                Cell* result);
extern CallComparator call_comparator;

// How a comparator's answer orders its two arguments: above 0 when the first argument sorts
// first (true, a negative number), below 0 when the second does (false, none, a positive
// number), 0 for a zero.
int32_t comparator_verdict(const Cell* answer);

// The set operations: their codes, and the routine that pushes the resulting block! (a hash!
// when either set is one) and answers it. `skip` is null or the record size.
enum SetOp : int { SET_UNIQUE = 8, SET_UNION, SET_INTERSECT, SET_EXCLUDE, SET_DIFFERENCE };
Cell* do_set_op(int op, const Cell* a, const Cell* b, bool case_sensitive, const Cell* skip);

// The block! actions (as the action table holds them), for the datatypes that build on them.
Cell* make(const Cell* proto, const Cell* spec, uint32_t type);
Cell* to(const Cell* proto, const Cell* spec, uint32_t type);
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part, int32_t limit,
             int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
Cell* find(Cell* series, const Cell* value, const FindArgs& args);
Cell* select(Cell* series, const Cell* value, const FindArgs& args);
Cell* copy(const Cell* value, Cell* result, const Cell* part, bool deep, const Cell* types);
// eval-path and set-path: an integer picks or pokes that position; a word (on a block that is
// not a hash!) reads the value after the first word of that symbol; another selector reads the
// value after its first match and sets the cell after it (bad-path-set when it is absent).
Cell* eval_path(const PathStep& step);

void init();

}  // namespace kov::block
