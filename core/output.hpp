// Console output: the print hooks and raw-output hooks through which all printed text passes,
// and the console printer, the first print hook, which writes text values to standard output
// as UTF-8 with LF line ends.
//
// Whether the output is a terminal is decided once, by init_console. On a terminal the escape
// sequences ESC "[" ... that programs print are read with the console's own escape rules
// (emulate_escape) and carried out with the terminal sequences that do the same; redirected
// output gets every byte as it stands.
#pragma once

#include <cstdint>

#include "core/value.hpp"

namespace kov::output {

// A print hook gets every printed text value and the new-line flag; a raw-output hook gets every
// raw buffer written by the diagnostic writers (bytes, length, unit).
using PrintHook = void (*)(const Cell* text, bool new_line);
using RawHook = void (*)(const void* buffer, uint32_t length, uint32_t unit);

// Empties both lists and registers print_to_console as the first print hook.
void init_hooks();
// Appends each non-null hook to its list.
void add_hooks(PrintHook print, RawHook raw);
// Removes the first occurrence of each non-null hook from its list.
void remove_hooks(PrintHook print, RawHook raw);
// Calls the hooks in registration order.
void call_print_hooks(const Cell* text, bool new_line);
// The new-line flag of the last print (true after print, false after prin).
extern bool last_new_line;
void call_raw_hooks(const void* buffer, uint32_t length, uint32_t unit);

// Chooses the output descriptor (standard output by default) and records whether it is a
// terminal. Before the first call, output goes to standard output as to a redirected one.
void init_console(int fd = 1);
// True when the output is a terminal.
bool console_q();
// The attribute that SGR 0 restores: the console's colours at start-up (light grey on black).
void read_console_attributes();
int32_t default_attribute();

// The console printer: writes a text value (string!, file!, ...) from its head to its tail, then
// the line end when new_line is set. A buffer unit other than 1, 2 or 4 prints
// "Error: unknown string encoding: " and the unit instead. Does not allocate.
void print_to_console(const Cell* text, bool new_line);

// Writes `length` bytes of text units (unit 1 Latin-1, 2 and 4 code points) as UTF-8, then an
// LF when new_line is set. On a terminal escape sequences are carried out and a high surrogate
// followed by a low surrogate is written as the one character they encode, as the console shows
// them. Another unit width is fatal runtime error 101.
void write_units(const void* units, uint32_t length, uint32_t unit, bool new_line);

// Diagnostic writers: the bytes of a NUL-terminated text, or the first n bytes of the 64-byte
// formatting buffer, as they stand; then the raw-output hooks get them with unit 0.
void write_c_string(const char* text);
extern char format_buffer[64];
void write_buffer(uint32_t n);

// Sends what the writers have buffered to the output (each writer does so before it returns).
void flush();

// ---- Console control: each writes the terminal sequence that carries the action out. ----

struct CursorPosition {
    int32_t column, row;
};
// A position (0-based) kept on a screen of the given size: at most its last column and row.
// A size of 0 leaves that coordinate as it is.
CursorPosition clamp_cursor(int32_t column, int32_t row, int32_t columns, int32_t rows);

void save_cursor();
void restore_cursor();
// Moves the cursor to a 0-based column and row, kept on the screen.
void set_cursor(int32_t column, int32_t row);
// Moves the cursor n places up ('A'), down ('B'), right ('C') or left ('D'), stopping at the
// screen's edge; n = 0 does nothing.
void move_cursor(char direction, uint32_t n);
// Erasing: 0 from column 0 of the cursor's row to the end of the screen; 1 the rows above the
// cursor's row; 2 the whole screen, cursor to (0, 0); 3 the cursor's row, cursor to its start;
// 4 from the cursor to the end of its row; 5 from the start of the cursor's row to the cursor,
// cursor to the row start.
void erase(int32_t mode);

// The console attribute after SGR `code` (foreground bits 0-3 with intensity in bit 3,
// background bits 4-7 with intensity in bit 7, 0x8000 underscore). Codes outside the table
// leave the attribute unchanged.
int32_t sgr_attribute(int32_t attribute, int32_t code);

// Reads the escape sequence at `text` (its first unit is ESC; `left` units remain, of the given
// unit width) and carries it out. Answers the units it took, from the ESC to the last unit read,
// or 0 when the unit after ESC is not "[" (the ESC is then printed as a character).
uint32_t emulate_escape(const void* text, uint32_t left, uint32_t unit);

}  // namespace kov::output
