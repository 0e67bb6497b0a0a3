// The lexer's constant tables: the byte classes with their token flags, the transition table of
// the scanning automaton, and the per-state and per-class side tables.
#pragma once

#include <cstdint>

namespace kov::lexer {

// Byte classes (the low byte of a class-table entry).
enum Class : uint8_t {
    C_BLANK, C_LF, C_DIGIT, C_ZERO, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE,
    C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_SHARP, C_QUOTE, C_COLON, C_X, C_T, C_H, C_E_LOW,
    C_E_UP, C_HEXL, C_HEXU, C_SLASH, C_BACKSLASH, C_LESS, C_GREATER, C_EQUAL, C_PERCENT, C_COMMA,
    C_SEMICOLON, C_AT, C_DOT, C_DOLLAR, C_PLUS, C_MINUS, C_CARET, C_CTL, C_CONT, C_LETTER, C_BAD,
    C_END, CLASS_COUNT
};

// Token flags (the upper bits of a class-table entry), OR-ed over the bytes of a token.
constexpr uint32_t F_PERCENT = 0x00040000;
constexpr uint32_t F_GREATER = 0x00080000;
constexpr uint32_t F_LESS = 0x00100000;
constexpr uint32_t F_SIGN = 0x00200000;
constexpr uint32_t F_NUL = 0x00400000;
constexpr uint32_t F_SHARP = 0x00800000;
constexpr uint32_t F_EXP = 0x01000000;
constexpr uint32_t F_QUOTE = 0x02000000;
constexpr uint32_t F_COLON = 0x04000000;
constexpr uint32_t F_COMMA = 0x08000000;
constexpr uint32_t F_DOT = 0x10000000;
constexpr uint32_t F_CARET = 0x20000000;
constexpr uint32_t F_UTF8_2_3 = 0x40000000;
constexpr uint32_t F_UTF8_4 = 0x80000000;
// Braced strings only: a line feed preceded the opening brace.
constexpr uint32_t F_NEW_LINE = 0x00020000;

constexpr int STATE_COUNT = 65;
constexpr int FIRST_FINAL = 66;
constexpr int LAST_FINAL = 101;

// Final states.
enum Final : uint8_t {
    S_EOF = 66, S_ERROR, S_BLOCK_OPEN, S_BLOCK_CLOSE, S_PAREN_OPEN, S_PAREN_CLOSE, S_BRACE_OPEN,
    S_BRACE_CLOSE, S_MAP_OPEN, S_PATH, S_CONSTRUCT, S_COMMENT, S_COMMA, S_STRING, S_WORD, S_ISSUE,
    S_INTEGER, S_REFINEMENT, S_CHAR, S_FILE, S_BINARY, S_PERCENT, S_FLOAT, S_SPECIAL_FLOAT,
    S_TUPLE, S_DATE, S_PAIR, S_POINT, S_TIME, S_MONEY, S_TAG, S_URL, S_EMAIL, S_HEX, S_RAW_STRING,
    S_REF
};

// Start states of the scan modes.
constexpr int MODE_NORMAL = 0;
constexpr int MODE_BRACED = 4;
constexpr int MODE_POINT = 35;
constexpr int MODE_PATH = 59;

extern const uint32_t class_table[256];
extern const uint8_t transitions[STATE_COUNT][CLASS_COUNT];
// The datatype of a token that stops in each state (working states 0-64, finals 66-101).
extern const uint8_t token_type[104];
// 1 for the classes that end a path element or a word after an inner colon.
extern const uint8_t path_terminator[CLASS_COUNT];
// 1 only for the line-feed class.
extern const uint8_t line_count[CLASS_COUNT];
// The names that events give as the type of the tokens without a datatype: final states 66 to 78.
extern const char* const exit_states[13];

}  // namespace kov::lexer
