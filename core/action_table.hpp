// The typed table of a datatype's 62 action handlers: one named field per action slot, in slot
// order, each of the slot's own function-pointer type. A datatype fills it with designated
// initializers, so that a handler of the wrong signature or a field out of slot order does not
// compile:
//     type_registry::register_type(T_LOGIC, 0, "logic!", {.make = make, .to = to, .form = form});
// A field not mentioned is unsupported (null); a field given as `inherit` takes the parent's
// handler as it stands when the type registers.
//
// Handler results, by action:
// - a returned cell that the front-end copies into the result slot, or nullptr: the result slot
//   keeps what it holds (the target, or what the handler wrote there);
// - a truth value (even? odd?) or a count (length?: -1 answers none), made into a value by the
//   front-end; form and mold answer the limit less the characters written, compare -1, 0 or 1
//   (NOT_COMPARABLE when the values cannot be compared);
// - frame handlers (the math and navigation actions) read their operands from the current frame
//   and write arguments[0] themselves.
// Absent refinement arguments are nullptr. Handlers do not answer a Status: one that runs Kov
// code and gets a pending status back leaves with stack::raise_pending.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "core/value.hpp"

namespace kov {

// One step of a path, for eval-path and set-path.
struct PathStep {
    Cell* value;             // the running value
    const Cell* element;     // the selector
    const Cell* set_value;   // the value to store; null reads
    const Cell* path;        // the whole path, or null
    const Cell* mode;        // the path's mode value, or null
    const Cell* grandparent; // the value before the running one, or null
    const Cell* previous;    // the previous element, or null
    int32_t position;        // the element's number in the path
    bool case_sensitive;
    bool last;               // the path's last element
    bool notify;             // report the change to the owner
};

// The refinements of find and select (select ignores tail and match).
struct FindArgs {
    const Cell* part = nullptr;
    bool only = false, case_sensitive = false, same = false, any = false;
    const Cell* with = nullptr;
    const Cell* skip = nullptr;
    bool last = false, reverse = false, tail = false, match = false;
};

// Handler signatures.
using MakeFn = Cell* (*)(const Cell* proto, const Cell* spec, uint32_t type);  // make, to
using RandomFn = Cell* (*)(Cell* value, bool seed, bool secure, bool only);
using ReflectFn = Cell* (*)(const Cell* value, const Cell* field);
using FormFn = int32_t (*)(const Cell* value, Cell* out, bool part, int32_t limit);
using MoldFn = int32_t (*)(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
                           int32_t limit, int32_t indent);
using PathFn = Cell* (*)(const PathStep& step);  // eval-path, set-path
using CompareFn = int32_t (*)(const Cell* a, const Cell* b, int32_t op);
using FrameFn = void (*)();                   // reads the current frame, writes arguments[0]
using UnaryFn = Cell* (*)(Cell* value);       // negate, complement
using RoundFn = Cell* (*)(Cell* value, const Cell* scale, bool even, bool down, bool half_down,
                          bool floor, bool ceiling, bool half_ceiling);
using TestFn = bool (*)(const Cell* value);   // even?, odd?
using InsertFn = Cell* (*)(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup);
using ClearFn = Cell* (*)(Cell* series);
using CopyFn = Cell* (*)(const Cell* value, Cell* result, const Cell* part, bool deep,
                         const Cell* types);
using FindFn = Cell* (*)(Cell* series, const Cell* value, const FindArgs& args);  // find, select
using LengthFn = int32_t (*)(const Cell* value);  // -1 answers none
using MoveFn = Cell* (*)(Cell* origin, Cell* target, const Cell* part);
using PickFn = Cell* (*)(Cell* series, int32_t index, const Cell* index_value);
using PokeFn = Cell* (*)(Cell* series, int32_t index, const Cell* value);
using PutFn = Cell* (*)(Cell* series, const Cell* key, const Cell* value, bool case_sensitive);
using RemoveFn = Cell* (*)(Cell* series, const Cell* part, const Cell* key);
using ReverseFn = Cell* (*)(Cell* series, const Cell* part, const Cell* skip);
using SortFn = Cell* (*)(Cell* series, bool case_sensitive, const Cell* skip, const Cell* comparator,
                         const Cell* part, bool all, bool reverse, bool stable);
using SwapFn = Cell* (*)(Cell* a, Cell* b);
using TakeFn = Cell* (*)(Cell* series, const Cell* part, bool deep, bool last);
using TrimFn = Cell* (*)(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all,
                         const Cell* with);
using ModifyFn = Cell* (*)(Cell* target, const Cell* field, const Cell* value, bool case_sensitive);
using OpenFn = Cell* (*)(Cell* port, bool new_, bool read, bool write, bool seek, const Cell* allow);
using ReadFn = Cell* (*)(Cell* source, const Cell* part, const Cell* seek, bool binary, bool lines,
                         bool info, const Cell* as);
using WriteFn = Cell* (*)(Cell* target, const Cell* data, bool binary, bool lines, bool info,
                          bool append, const Cell* part, const Cell* seek, const Cell* allow,
                          const Cell* as);
using RenameFn = Cell* (*)(Cell* from, Cell* to);
using PortFn = Cell* (*)(Cell* port);  // create, close, delete, open?, query, update

// Marks a field of a registration as the parent's.
struct Inherit {};
inline constexpr Inherit inherit{};

// One field: the handler (null: unsupported), or the mark that it comes from the parent.
template <class F> struct Entry {
    F fn = nullptr;
    bool inherited = false;

    constexpr Entry() = default;
    constexpr Entry(F f) : fn(f) {}
    constexpr Entry(Inherit) : inherited(true) {}

    constexpr explicit operator bool() const { return fn != nullptr; }
    template <class... A> decltype(auto) operator()(A&&... args) const {
        return fn(std::forward<A>(args)...);
    }
};

struct ActionTable {
    Entry<MakeFn> make = {};
    Entry<RandomFn> random = {};
    Entry<ReflectFn> reflect = {};
    Entry<MakeFn> to = {};
    Entry<FormFn> form = {};
    Entry<MoldFn> mold = {};
    Entry<PathFn> eval_path = {};
    Entry<PathFn> set_path = {};
    Entry<CompareFn> compare = {};
    Entry<FrameFn> absolute = {};
    Entry<FrameFn> add = {};
    Entry<FrameFn> divide = {};
    Entry<FrameFn> multiply = {};
    Entry<UnaryFn> negate = {};
    Entry<FrameFn> power = {};
    Entry<FrameFn> remainder = {};
    Entry<RoundFn> round = {};
    Entry<FrameFn> subtract = {};
    Entry<TestFn> even_q = {};
    Entry<TestFn> odd_q = {};
    Entry<FrameFn> and_t = {};
    Entry<UnaryFn> complement = {};
    Entry<FrameFn> or_t = {};
    Entry<FrameFn> xor_t = {};
    Entry<InsertFn> append = {};
    Entry<FrameFn> at = {};
    Entry<FrameFn> back = {};
    Entry<InsertFn> change = {};
    Entry<ClearFn> clear = {};
    Entry<CopyFn> copy = {};
    Entry<FindFn> find = {};
    Entry<FrameFn> head = {};
    Entry<FrameFn> head_q = {};
    Entry<FrameFn> index_q = {};
    Entry<InsertFn> insert = {};
    Entry<LengthFn> length_q = {};
    Entry<MoveFn> move = {};
    Entry<FrameFn> next = {};
    Entry<PickFn> pick = {};
    Entry<PokeFn> poke = {};
    Entry<PutFn> put = {};
    Entry<RemoveFn> remove = {};
    Entry<ReverseFn> reverse = {};
    Entry<FindFn> select = {};
    Entry<SortFn> sort = {};
    Entry<FrameFn> skip = {};
    Entry<SwapFn> swap = {};
    Entry<FrameFn> tail = {};
    Entry<FrameFn> tail_q = {};
    Entry<TakeFn> take = {};
    Entry<TrimFn> trim = {};
    Entry<PortFn> create = {};
    Entry<PortFn> close = {};
    Entry<PortFn> delete_ = {};
    Entry<ModifyFn> modify = {};
    Entry<OpenFn> open = {};
    Entry<PortFn> open_q = {};
    Entry<PortFn> query = {};
    Entry<ReadFn> read = {};
    Entry<RenameFn> rename = {};
    Entry<PortFn> update = {};
    Entry<WriteFn> write = {};
};

// Every field with its slot number, in slot order: X(slot, field).
#define KOV_ACTION_FIELDS(X)                                                                       \
    X(A_MAKE, make) X(A_RANDOM, random) X(A_REFLECT, reflect) X(A_TO, to) X(A_FORM, form)          \
    X(A_MOLD, mold) X(A_EVAL_PATH, eval_path) X(A_SET_PATH, set_path) X(A_COMPARE, compare)        \
    X(A_ABSOLUTE, absolute) X(A_ADD, add) X(A_DIVIDE, divide) X(A_MULTIPLY, multiply)              \
    X(A_NEGATE, negate) X(A_POWER, power) X(A_REMAINDER, remainder) X(A_ROUND, round)              \
    X(A_SUBTRACT, subtract) X(A_EVEN_Q, even_q) X(A_ODD_Q, odd_q) X(A_AND_T, and_t)                \
    X(A_COMPLEMENT, complement) X(A_OR_T, or_t) X(A_XOR_T, xor_t) X(A_APPEND, append) X(A_AT, at)  \
    X(A_BACK, back) X(A_CHANGE, change) X(A_CLEAR, clear) X(A_COPY, copy) X(A_FIND, find)          \
    X(A_HEAD, head) X(A_HEAD_Q, head_q) X(A_INDEX_Q, index_q) X(A_INSERT, insert)                  \
    X(A_LENGTH_Q, length_q) X(A_MOVE, move) X(A_NEXT, next) X(A_PICK, pick) X(A_POKE, poke)        \
    X(A_PUT, put) X(A_REMOVE, remove) X(A_REVERSE, reverse) X(A_SELECT, select) X(A_SORT, sort)    \
    X(A_SKIP, skip) X(A_SWAP, swap) X(A_TAIL, tail) X(A_TAIL_Q, tail_q) X(A_TAKE, take)            \
    X(A_TRIM, trim) X(A_CREATE, create) X(A_CLOSE, close) X(A_DELETE, delete_)                     \
    X(A_MODIFY, modify) X(A_OPEN, open) X(A_OPEN_Q, open_q) X(A_QUERY, query) X(A_READ, read)      \
    X(A_RENAME, rename) X(A_UPDATE, update) X(A_WRITE, write)

namespace action_table {

// Each field sits at the place of its slot: the list covers the 62 slots in the record's order.
consteval bool fields_in_slot_order() {
    constexpr size_t entry = sizeof(Entry<FrameFn>);
    bool ok = true;
    int count = 0;
#define KOV_CHECK(slot, field)                                                                     \
    ok = ok && offsetof(ActionTable, field) == size_t(int(slot) - 1) * entry;                     \
    count++;
    KOV_ACTION_FIELDS(KOV_CHECK)
#undef KOV_CHECK
    return ok && count == ACTION_COUNT;
}
static_assert(fields_in_slot_order(), "the action fields follow the slot order");
static_assert(sizeof(ActionTable) == ACTION_COUNT * sizeof(Entry<FrameFn>),
              "one field per action slot");

}  // namespace action_table
}  // namespace kov
