// The terminal layer of the console on Linux: decoding of keys from VT input bytes, raw mode
// (termios, set with TCSANOW so typeahead and pasted lines stay queued) only while a line is
// edited, the window size, the title, and reading one line, edited on a terminal
// (console/line_editor.hpp does the editing) or read plainly from a pipe or file.
//
// The terminal is put back as it was on every way out of an edit: the normal end, an exception
// from a completion hook, SIGINT, SIGTERM and SIGHUP (restored, then the signal goes on to its
// previous disposition) and exit(). SIGWINCH reaches the editor through a self-pipe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/line_editor.hpp"

namespace kov::terminal {

// ---------------------------------------------------------------------------------------------
// Key decoding: a state machine fed one byte at a time (reads may split a sequence anywhere).

struct Key {
    int32_t code;      // a code point, or a line_editor::KEY_* code; 0 for an unknown key
    bool alt = false;  // the key came after an Esc (Alt held)
    bool operator==(const Key&) const = default;
};

struct KeyDecoder {
    enum class State : uint8_t { Ground, Esc, Csi, Ss3, Utf8 };
    State state = State::Ground;
    bool alt = false;            // the UTF-8 sequence being gathered follows an Esc
    uint8_t bytes[4] = {};       // the UTF-8 sequence so far
    int have = 0, need = 0;
    std::string params;          // parameter and intermediate bytes of a control sequence
};

// How long a lone Esc waits for the rest of a sequence before it counts as the Esc key.
constexpr int ESC_TIMEOUT_MS = 100;

// Feeds one byte; appends the keys it completes.
void decode_byte(KeyDecoder& d, uint8_t byte, std::vector<Key>& keys);
// No byte came for ESC_TIMEOUT_MS: a pending Esc becomes the Esc key, a cut control sequence is
// dropped.
void decode_timeout(KeyDecoder& d, std::vector<Key>& keys);
// True while the decoder holds an Esc or an unfinished control sequence (the caller then waits
// at most ESC_TIMEOUT_MS for the next byte).
bool decoder_waiting(const KeyDecoder& d);

// Finds a cursor position report (ESC [ row ; column R) in `bytes`: answers the 0-based column
// and removes the report from `bytes`, or answers -1.
int take_position_report(std::string& bytes);

// ---------------------------------------------------------------------------------------------
// The terminal.

// Decides how input is read: edited when both input and output are terminals, read plainly
// otherwise. The descriptors default to 0 and 1; tests give others.
void init(int in_fd = 0, int out_fd = 1);
bool interactive();

// The window's size from TIOCGWINSZ (of the output, else of the input); false, with both 0,
// when it cannot be read.
bool window_size(int& columns, int& rows);

// Sets the window title with an OSC sequence when the output is a terminal (control characters
// of the title are left out). Answers whether it was written.
bool set_title(std::string_view utf8);

// Raw mode for editing and its undoing; both do nothing when input is not a terminal.
void raw_mode();
void restore_mode();
bool in_raw_mode();

struct ReadResult {
    line_editor::Outcome outcome;
    std::u32string line;
    bool operator==(const ReadResult&) const = default;
};

// Reads one line. On a terminal: shows the prompt and edits the line (the history is browsed
// and added to; hide echoes "*"; complete answers Tab). Otherwise: reads up to a line feed
// without prompt (Line, or EndOfInput when no byte came before the input ended).
ReadResult read_line(const std::u32string& prompt, std::vector<std::u32string>* history,
                     bool hide = false, const line_editor::Completer& complete = {});

// One line from the input without editing, also on a terminal: bytes up to a line feed (not
// kept; a carriage return before it stays), decoded as UTF-8, an invalid sequence giving
// U+FFFE. EndOfInput when the input ended (or failed) before any byte.
ReadResult read_plain_line();

}  // namespace kov::terminal
