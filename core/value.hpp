// Value cells: the 16-byte record every language value is, with the datatype ids, the action
// slots and the operation codes that the runtime and every datatype module share.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "Kov cells assume a little-endian target");

namespace kov {

// A reference kept in a cell or a series header: a 32-bit handle into the value arena.
using Handle = uint32_t;

enum TypeId : uint32_t {
    T_DATATYPE = 1, T_UNSET, T_NONE, T_LOGIC, T_BLOCK, T_PAREN, T_STRING, T_FILE, T_URL, T_CHAR,
    T_INTEGER, T_FLOAT, T_SYMBOL, T_CONTEXT, T_WORD, T_SET_WORD, T_LIT_WORD, T_GET_WORD,
    T_REFINEMENT, T_ISSUE, T_NATIVE, T_ACTION, T_OP, T_FUNCTION, T_PATH, T_LIT_PATH, T_SET_PATH,
    T_GET_PATH, T_ROUTINE, T_BITSET, T_TRIPLE, T_OBJECT, T_TYPESET, T_ERROR, T_VECTOR, T_HASH,
    T_PAIR, T_PERCENT, T_TUPLE, T_MAP, T_BINARY, T_SERIES, T_TIME, T_TAG, T_EMAIL, T_HANDLE,
    T_DATE, T_PORT, T_MONEY, T_REF, T_POINT2D, T_POINT3D, T_IMAGE, T_EVENT,
    TYPE_COUNT_MAX = 56  // ids 1..56 possible, 54 used
};

// Header flag bits (bits 8-31; meaning of most belongs to the datatype owning the cell).
constexpr uint32_t CELL_NEW_LINE = 0x40000000;
constexpr uint32_t CELL_TYPE_MASK = 0xFF;
constexpr uint32_t CTX_ON_STACK = 0x400000;     // context! cell: values live on the argument stack
constexpr uint32_t CTX_OWNS_SERIES = 0x10000;
constexpr uint32_t WORD_ASSIGNED = 0x2000;      // word cell in an object's word list
constexpr uint32_t EVENT_FLAG = 0x1000;

struct Cell {
    uint32_t header;
    uint32_t data1;
    uint32_t data2;
    uint32_t data3;

    uint32_t type() const { return header & CELL_TYPE_MASK; }
    bool is(uint32_t t) const { return type() == t; }

    // 64-bit float kept in data2-data3, low word first.
    double get_float() const {
        uint64_t bits = uint64_t(data2) | (uint64_t(data3) << 32);
        return std::bit_cast<double>(bits);
    }
    void set_float(double d) {
        uint64_t bits = std::bit_cast<uint64_t>(d);
        data2 = uint32_t(bits);
        data3 = uint32_t(bits >> 32);
    }
    int32_t get_int() const { return int32_t(data2); }
};
static_assert(sizeof(Cell) == 16, "a value cell is 16 bytes");

// The action slots, 1-based, in the order of every action table.
enum ActionSlot : int {
    A_MAKE = 1, A_RANDOM, A_REFLECT, A_TO, A_FORM, A_MOLD, A_EVAL_PATH, A_SET_PATH, A_COMPARE,
    A_ABSOLUTE, A_ADD, A_DIVIDE, A_MULTIPLY, A_NEGATE, A_POWER, A_REMAINDER, A_ROUND, A_SUBTRACT,
    A_EVEN_Q, A_ODD_Q, A_AND_T, A_COMPLEMENT, A_OR_T, A_XOR_T,
    A_APPEND, A_AT, A_BACK, A_CHANGE, A_CLEAR, A_COPY, A_FIND, A_HEAD, A_HEAD_Q, A_INDEX_Q,
    A_INSERT, A_LENGTH_Q, A_MOVE, A_NEXT, A_PICK, A_POKE, A_PUT, A_REMOVE, A_REVERSE, A_SELECT,
    A_SORT, A_SKIP, A_SWAP, A_TAIL, A_TAIL_Q, A_TAKE, A_TRIM,
    A_CREATE, A_CLOSE, A_DELETE, A_MODIFY, A_OPEN, A_OPEN_Q, A_QUERY, A_READ, A_RENAME, A_UPDATE,
    A_WRITE
};
constexpr int ACTION_COUNT = 62;

enum MathOp : int { OP_ADD = 0, OP_SUB, OP_MUL, OP_DIV, OP_REM, OP_OR, OP_AND, OP_XOR };

enum CompareOp : int {
    COMP_EQUAL = 0, COMP_NOT_EQUAL, COMP_STRICT_EQUAL, COMP_LESSER, COMP_LESSER_EQUAL, COMP_GREATER,
    COMP_GREATER_EQUAL, COMP_SORT, COMP_CASE_SORT, COMP_SAME, COMP_FIND_EXACT, COMP_FIND_NOCASE,
    COMP_FIND
};
constexpr int32_t NOT_COMPARABLE = -2;

}  // namespace kov
