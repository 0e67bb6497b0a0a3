// The lexer: turns UTF-8 source text into values. A table-driven automaton (lexer_tables.hpp)
// cuts the input into tokens; structural tokens (brackets, braced strings, paths, construction
// syntax, comments) are handled here, value tokens by the loaders (loaders.hpp). Values gather in
// one shared cell buffer (nested containers as open markers) and end as a block or one value.
// A callback may watch every step through six events; the console uses them to find delimiters
// that are still open.
//
// Memory: the cell buffer lives outside the value arena and is marked by a root marker for every
// active scan (from its first cell to its next free cell), with each scan's callback and input.
// The input bytes must not move during a scan: callers scanning a series copy its bytes first
// (scan_string and transcode do).
#pragma once

#include <cstdint>
#include <string_view>

#include "core/value.hpp"

namespace kov::lexer {

// Event bits of a callback's mask.
enum Event : uint32_t {
    EV_PRESCAN = 1, EV_SCAN = 2, EV_LOAD = 4, EV_OPEN = 8, EV_CLOSE = 16, EV_ERROR = 32,
    EV_ALL = 63
};

// Error kinds besides a datatype id (which raises `invalid` with that datatype).
constexpr int32_t K_BAD_CHAR = -1;
constexpr int32_t K_MALCONSTRUCT = -2;
constexpr int32_t K_MISSING = -3;
constexpr int32_t K_MISSING_AT_END = -4;

// One active scan. Cell places are indexes into the shared cell buffer.
struct State {
    State* next = nullptr;
    State* previous = nullptr;
    uint32_t head = 0;       // this scan's first cell
    uint32_t container = 0;  // first cell of the innermost open container
    uint32_t slot = 0;       // next free cell
    const uint8_t* begin = nullptr;
    const uint8_t* end = nullptr;
    const uint8_t* pos = nullptr;
    const uint8_t* token_end = nullptr;
    int32_t line = 1;
    int32_t token_lines = 0;
    int32_t error_kind = -1;
    int32_t token_type = 0;
    int32_t mode = 0;
    int32_t previous_state = 0;
    int32_t pending_type = 0;
    int32_t last_type = 0;
    int32_t token_kind = 0;  // datatype the text loader makes (0: string!)
    const uint8_t* brace_start = nullptr;
    int32_t brace_depth = 0;
    uint32_t brace_flags = 0;
    Cell callback{};  // function value, or none!
    int32_t callback_locals = 0;
    uint32_t mask = 0;
    Cell input{};     // string! or binary! scanned, or none!
    bool load = true;
    bool string_input = false;
    uint32_t input_index = 0;  // index of the input series where the bytes begin
    // Incremental character offsets of byte positions (string inputs).
    const uint8_t* cached_pos = nullptr;
    int32_t cached_offset = 0;
    bool has_callback() const { return !callback.is(T_NONE); }
};

// What a scan is asked to do; the fields follow the refinements of transcode.
struct ScanOptions {
    bool one_value = false;     // /next, /one, /scan
    bool prescan = false;       // /prescan: structure only, the result is a guessed datatype
    bool scan = false;          // /scan: recognise the first token without loading
    bool block_result = false;  // one-value mode still answers a block
    const Cell* callback = nullptr;  // /trace function (none or null: no callback)
    uint32_t mask = EV_ALL;          // events that reach the callback
    int32_t callback_locals = 0;
    const Cell* input = nullptr;     // the series being scanned, for events (null: none)
    const Cell* into = nullptr;      // /into block
};

// Allocates the shared buffers and installs the hooks of the lexer (the collector's marker,
// cell::scan_first_value and the word datatype's scanning services). Runs at start-up; a repeated call forgets every active scan.
void init();

// Scans `length` bytes of UTF-8 text. `out` (rooted) receives the result: in load mode a block!
// of all values (appended to the /into block when given), or the first value in one-value mode;
// none! when a prescan or scan stopped inside an open container. Answers the datatype id of the
// last token (error! for an invalid one, 0 when no token was read); `consumed`, when given,
// receives the bytes read (characters for a string input given in the options). Syntax errors
// are raised (load mode) as syntax errors of the catalogue.
int32_t scan(Cell* out, const uint8_t* text, uint32_t length, const ScanOptions& options,
             int32_t* consumed);
inline int32_t scan(Cell* out, std::string_view text, const ScanOptions& options = {},
                    int32_t* consumed = nullptr) {
    return scan(out, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), options,
                consumed);
}

// The same over the characters of a text value from its head (`length` characters, -1 for all),
// converted to UTF-8 first; `consumed` counts characters.
int32_t scan_string(Cell* out, const Cell* text, int32_t length, const ScanOptions& options,
                    int32_t* consumed);

// The event mask of a callback whose body begins with the block `events` (null: all events).
uint32_t callback_mask(const Cell* events);
// The same for a callback function! (its body's first value); other values: all events.
uint32_t function_mask(const Cell* function);

// Calls a callback function with its five arguments (event, input, type, line, token), rooted
// by the caller; answers its result's truth. Filled by the interpreter; while it is unset a scan
// with a callback raises internal not-done. The callback may change the index of arguments[1].
extern bool (*call_callback)(const Cell* function, Cell* arguments, int32_t locals);

// ---- for the loaders ----

// The active scan (innermost).
extern State* current;
// A new cell at the scan's next free slot (none!, with the new-line flag when a line feed came
// before the token); answers its index.
uint32_t alloc_slot(State& s);
// The cell at an index of the shared buffer (valid until the next alloc_slot).
Cell* cell_at(uint32_t index);
// Reports a syntax error: raises it in load mode, or stops the scan quietly.
[[noreturn]] void throw_error(State& s, const uint8_t* start, const uint8_t* end, int32_t kind);
// Fires an event; answers the callback's verdict (true without a callback or outside the mask).
bool fire_event(State& s, uint32_t event, int32_t type, const Cell* value, const uint8_t* start,
                const uint8_t* end);
// Opens a container of the given datatype, and closes the innermost one with a kind.
void open_block(State& s, int32_t type, const uint8_t* at);
void close_block(State& s, int32_t kind, const uint8_t* at, bool silent);

}  // namespace kov::lexer
