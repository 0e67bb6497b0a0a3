// The console's line editor as a pure state machine: it is fed key codes and answers with the
// bytes (VT/ECMA-48 text and cursor moves) that bring the terminal to the screen it wants. It
// never reads or writes a descriptor itself: console/terminal.cpp feeds it the keys it decodes
// and writes what it produces, and the tests drive it directly.
//
// Screen model: cells are counted from column 0 of the row where the prompt begins (the start
// row); the prompt begins at `start_column`. The prompt and the line are laid out by display
// width (wide characters take two cells and never straddle a row end), and every move is
// relative to where the editor left the cursor, so scrolling of the terminal does not disturb it.
//
// Key codes: a key's character (a code point), or a negative code for a key without one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kov::line_editor {

constexpr int32_t KEY_FAIL = -1;
constexpr int32_t KEY_NONE = 0;
constexpr int32_t KEY_UP = -20;
constexpr int32_t KEY_DOWN = -21;
constexpr int32_t KEY_RIGHT = -22;
constexpr int32_t KEY_LEFT = -23;
constexpr int32_t KEY_END = -24;
constexpr int32_t KEY_HOME = -25;
constexpr int32_t KEY_INSERT = -26;
constexpr int32_t KEY_DELETE = -27;
constexpr int32_t KEY_PAGE_UP = -28;
constexpr int32_t KEY_PAGE_DOWN = -29;

constexpr int32_t KEY_ENTER = 13;
constexpr int32_t KEY_TAB = 9;
constexpr int32_t KEY_ESC = 27;

// What a completion hook answers for the line and the cursor. No value: nothing to complete.
// No candidates: `text` (with the cursor at `cursor`) replaces the line. Candidates: `text` and
// `cursor` are the line completed as far as every candidate agrees; the candidates are listed
// and the next edit starts from that text.
struct Completion {
    std::u32string text;
    size_t cursor = 0;
    std::vector<std::u32string> candidates;
};
using Completer = std::function<std::optional<Completion>(const std::u32string& line, size_t cursor)>;

// How an edit ended (Editing while it goes on).
enum class Outcome {
    Editing,
    Line,        // Enter: the line as typed
    Cancel,      // Esc: the line with an escape character (27) at its end
    Interrupt,   // Ctrl-C: the line "q"
    EndOfInput,  // Ctrl-D on an empty line, or the input ended: the line "q"
    Listed,      // Tab listed several candidates: the line is empty
};

// The editor's record. One instance lives as long as the console: the saved line carries text
// from one edit to the next (after a completion that listed candidates).
struct Editor {
    // Given for each edit.
    std::u32string prompt;
    std::vector<std::u32string>* history = nullptr;  // newest first; Enter adds to its front
    bool hide = false;                               // echo every character as "*"
    int columns = 80;
    int start_column = 0;
    Completer complete;

    // The line and its cursor (an index into line).
    std::u32string line;
    size_t cursor = 0;
    int browse = -1;  // history browse index: -1 fresh, 0 the newest entry shown

    // Carried between edits.
    std::u32string saved_line;
    size_t saved_cursor = 0;

    // Where the terminal's cursor is, relative to the start row, and whether the prompt has been
    // drawn yet.
    long cur_row = 0;
    long cur_col = 0;
    bool cur_pending = false;  // a character just filled the last column (the wrap is pending)
    long end_cell = 0;         // the cell after the text as last laid out
    bool first_refresh = true;
    bool redraw = true;

    // Bytes for the terminal, appended by every call; the caller writes and clears them.
    std::string out;
};

// Starts an edit: takes the prompt, the history and the hide flag, restores the saved line and
// draws the prompt and the line at `start_column`.
void begin(Editor& ed, std::u32string prompt, std::vector<std::u32string>* history, bool hide,
           int columns, int start_column);

// Handles one key; answers Editing until the edit ends. When it ends, the cursor has been moved
// past the end of the text and onto a new row.
Outcome feed(Editor& ed, int32_t key);

// The input ended (or failed) during the edit: ends it as Ctrl-D on an empty line does.
Outcome end_of_input(Editor& ed);

// The terminal's width changed: later drawing uses the new width.
void set_columns(Editor& ed, int columns);

// Display cells of a code point in the editor: 2 for U+1F300..U+1F5FF, else the unicode
// module's character width.
int cell_width(uint32_t cp);

// Cells that the prompt takes from column 0 (escape sequences take none).
long measure_prompt(const std::u32string& prompt, int columns);

}  // namespace kov::line_editor
