// Reading the console's input lines: the one entry the console engine reads through, and the raw
// standard-input services behind input-stdin and read-stdin. Piped input (standard input not a
// terminal) is read line by line with no prompt and no echo; on a terminal the line editor
// (console/line_editor, console/terminal) reads it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/value.hpp"

namespace kov::console {

// True when standard input is a terminal.
bool stdin_terminal_q();

// Reads one line into `out` (UTF-8, without its line feed; a carriage return before the line
// feed stays; an invalid UTF-8 sequence becomes U+FFFE). The prompt is written only on a
// terminal. `history` (a block! value, newest first, or null) is what the line editor browses;
// adding the entered line to it is the caller's work. Answers false at the end of input (or on
// a read failure that persists) when nothing was read; a last line without a line feed is still
// answered, and the next call answers false.
// When both standard input and output are terminals the line editor reads the line (`hide`
// echoes "*"); its Esc, Ctrl-C and Ctrl-D answer the lines the console expects of them.
bool read_line(std::string_view prompt, const Cell* history, std::string& out, bool hide = false);

// True when the last read_line was ended by the line editor's Enter: only such lines go into
// the history.
bool entered_q();

// Reads at most n bytes of standard input with one read (bytes that read_line has taken ahead
// come first). Answers the count, 0 at the end of input or on a failure.
size_t read_stdin(void* into, size_t n);

// Forgets the bytes taken ahead and the end of input, for a standard input that was replaced.
void reset_input();

}  // namespace kov::console
