// The line editor's state machine: key handling over the line, its cursor and the history, and
// the layout of prompt and line in character cells with the relative moves that draw them.
//
// Text written for the line never carries control characters: a Tab shows as four spaces, other
// C0 and C1 controls (which could otherwise drive the terminal, for instance from a history entry
// read from a file) show as U+FFFD. The prompt is the program's own text: its colour sequences
// pass through and take no cells, and a line feed in it starts a new row.
#include "console/line_editor.hpp"

#include <algorithm>

#include "core/unicode.hpp"

namespace kov::line_editor {

namespace {

constexpr uint32_t REPLACEMENT = 0xFFFD;

bool is_control(uint32_t cp) { return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F); }

bool is_invalid(uint32_t cp) { return cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF); }

void put_utf8(std::string& out, uint32_t cp) {
    uint8_t bytes[4];
    int n = unicode::encode_utf8(cp, bytes);
    out.append(reinterpret_cast<const char*>(bytes), size_t(n));
}

void put_number(std::string& out, long n) { out += std::to_string(n); }

// Lays text out in cells from a start cell, gathering the bytes that draw it.
struct Painter {
    long columns;
    long pos;              // the cell after what was put, counted from column 0 of the start row
    bool pending = false;  // the last character filled its row's last column
    std::string bytes;
};

Painter painter(long columns, long pos) {
    Painter p;
    p.columns = columns;
    p.pos = pos;
    return p;
}

// Puts one visible character of `width` cells, drawn by `cp`.
void put_cells(Painter& p, uint32_t cp, int width) {
    if (width == 2 && p.pos % p.columns == p.columns - 1) ++p.pos;  // the last cell stays empty
    put_utf8(p.bytes, cp);
    if (width > 0) {
        p.pos += width;
        p.pending = p.pos % p.columns == 0;
    }
}

void put_spaces(Painter& p, int n) {
    for (int i = 0; i < n; ++i) put_cells(p, ' ', 1);
}

// One character of the line (hidden: "*").
void put_line_char(Painter& p, uint32_t cp, bool hide) {
    if (hide) return put_cells(p, '*', 1);
    if (cp == '\t') return put_spaces(p, 4);
    if (is_control(cp) || is_invalid(cp)) return put_cells(p, REPLACEMENT, 1);
    put_cells(p, cp, cell_width(cp));
}

void put_line(Painter& p, const std::u32string& s, size_t from, size_t to, bool hide) {
    for (size_t i = from; i < to; ++i) put_line_char(p, s[i], hide);
}

void put_prompt(Painter& p, const std::u32string& s) {
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t cp = s[i];
        if (cp == 27) {
            // A control sequence: ESC, then "[" or "(" with its digits and ";" and the final
            // character, all without cells.
            p.bytes += '\x1b';
            if (i + 1 < s.size() && (s[i + 1] == '[' || s[i + 1] == '(')) {
                p.bytes += char(s[++i]);
                while (i + 1 < s.size() && ((s[i + 1] >= '0' && s[i + 1] <= '9') || s[i + 1] == ';'))
                    p.bytes += char(s[++i]);
                if (i + 1 < s.size() && !is_control(s[i + 1]) && !is_invalid(s[i + 1]))
                    put_utf8(p.bytes, s[++i]);
            }
        } else if (cp == '\n') {
            if (!p.pending) p.pos = (p.pos / p.columns + 1) * p.columns;
            p.pending = false;
            p.bytes += "\r\n";
        } else {
            put_line_char(p, cp, false);
        }
    }
}

// Moves the terminal's cursor to (row, col) of the start row's frame. Rows below are reached with
// line feeds, which also create them at the bottom of the screen.
void move_to(Editor& ed, long row, long col) {
    std::string& out = ed.out;
    if (row == ed.cur_row && col == ed.cur_col && !ed.cur_pending) return;
    if (row == ed.cur_row && !ed.cur_pending) {
        out += "\x1b[";
        put_number(out, col > ed.cur_col ? col - ed.cur_col : ed.cur_col - col);
        out += col > ed.cur_col ? 'C' : 'D';
    } else {
        if (row < ed.cur_row) {
            out += "\x1b[";
            put_number(out, ed.cur_row - row);
            out += 'A';
        }
        for (long r = ed.cur_row; r < row; ++r) out += '\n';
        out += '\r';
        if (col > 0) {
            out += "\x1b[";
            put_number(out, col);
            out += 'C';
        }
    }
    ed.cur_row = row;
    ed.cur_col = col;
    ed.cur_pending = false;
}

// The terminal's cursor after the painter's bytes were written from where it stood.
void take_position(Editor& ed, const Painter& p) {
    if (p.pending && p.pos > 0) {
        ed.cur_row = p.pos / p.columns - 1;
        ed.cur_col = p.columns - 1;
        ed.cur_pending = true;
    } else {
        ed.cur_row = p.pos / p.columns;
        ed.cur_col = p.pos % p.columns;
        ed.cur_pending = false;
    }
}

long columns_of(const Editor& ed) { return std::max(ed.columns, 1); }

// The cursor's cell `c`; the cursor goes to the next row when a wide character at it does not fit
// in the last column.
void place_cursor(Editor& ed, long c) {
    long cols = columns_of(ed);
    long row = c / cols, col = c % cols;
    if (col == cols - 1 && ed.cursor < ed.line.size() && !ed.hide) {
        uint32_t cp = ed.line[ed.cursor];
        if (!is_control(cp) && !is_invalid(cp) && cell_width(cp) == 2) {
            ++row;
            col = 0;
        }
    }
    move_to(ed, row, col);
}

// Lays out prompt and line; with the redraw flag on, rewrites them from the start cell after
// clearing what follows it; then places the cursor.
void refresh(Editor& ed) {
    long cols = columns_of(ed);
    bool first = ed.first_refresh;
    if (first) {
        ed.first_refresh = false;
        ed.cur_row = 0;
        ed.cur_col = ed.start_column;
        ed.cur_pending = false;
    } else if (ed.redraw) {
        move_to(ed, 0, ed.start_column);
        ed.out += "\x1b[J";
    }
    Painter p = painter(cols, ed.start_column);
    put_prompt(p, ed.prompt);
    put_line(p, ed.line, 0, ed.cursor, ed.hide);
    long c = p.pos;
    put_line(p, ed.line, ed.cursor, ed.line.size(), ed.hide);
    ed.end_cell = p.pos;
    if (ed.redraw) {
        ed.out += p.bytes;
        take_position(ed, p);
    }
    place_cursor(ed, c);
}

// Ends the edit: the cursor goes past the text, onto a new row.
void finish(Editor& ed) {
    long cols = columns_of(ed);
    long e = ed.end_cell;
    move_to(ed, e / cols, e % cols);
    if (!(e > 0 && e % cols == 0)) ed.out += "\r\n";
    ed.cur_row = ed.cur_col = 0;
    ed.cur_pending = false;
}

bool equal_ignoring_case(const std::u32string& a, const std::u32string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && unicode::change_case_char(a[i], false) != unicode::change_case_char(b[i], false))
            return false;
    return true;
}

void add_history(Editor& ed) {
    if (!ed.history || ed.hide || ed.line.empty()) return;
    if (!ed.history->empty() && equal_ignoring_case(ed.line, ed.history->front())) return;
    ed.history->insert(ed.history->begin(), ed.line);
}

void show_history(Editor& ed, int i) {
    ed.line = (*ed.history)[size_t(i)];
    ed.cursor = ed.line.size();
}

int history_count(const Editor& ed) { return ed.history ? int(ed.history->size()) : 0; }

void insert_char(Editor& ed, uint32_t k) {
    if (ed.cursor == ed.line.size()) {
        ed.line.push_back(k);
        // Appending: only the new character is written.
        Painter p = painter(columns_of(ed), ed.end_cell);
        if (ed.end_cell % p.columns == 0 && ed.end_cell > 0 && ed.cur_pending) p.pending = true;
        move_to(ed, ed.end_cell / p.columns, ed.end_cell % p.columns);
        put_line_char(p, k, ed.hide);
        ed.out += p.bytes;
        take_position(ed, p);
        ed.redraw = false;
    } else {
        ed.line.insert(ed.line.begin() + std::ptrdiff_t(ed.cursor), k);
    }
    ++ed.cursor;
    refresh(ed);
}

// Tab with a completion hook: 0 nothing to complete, 1 completed in place, 2 candidates listed.
int complete_line(Editor& ed) {
    if (!ed.complete) return 0;
    std::optional<Completion> r = ed.complete(ed.line, ed.cursor);
    if (!r) return 0;
    if (r->candidates.empty()) {
        ed.line = r->text;
        ed.cursor = std::min(r->cursor, ed.line.size());
        refresh(ed);
        return 1;
    }
    ed.saved_line = r->text;
    ed.saved_cursor = std::min(r->cursor, r->text.size());
    ed.line.clear();
    for (const std::u32string& c : r->candidates) {
        ed.line += c;
        ed.line += U' ';
    }
    ed.cursor = ed.line.size();
    refresh(ed);
    return 2;
}

}  // namespace

int cell_width(uint32_t cp) {
    if (cp >= 0x1F300 && cp <= 0x1F5FF) return 2;
    return unicode::char_width(cp);
}

long measure_prompt(const std::u32string& prompt, int columns) {
    Painter p = painter(std::max(columns, 1), 0);
    put_prompt(p, prompt);
    return p.pos;
}

void begin(Editor& ed, std::u32string prompt, std::vector<std::u32string>* history, bool hide,
           int columns, int start_column) {
    ed.prompt = std::move(prompt);
    ed.history = history;
    ed.hide = hide;
    ed.columns = std::max(columns, 1);
    ed.start_column = std::clamp(start_column, 0, ed.columns - 1);
    ed.browse = -1;
    ed.line.clear();
    ed.cursor = 0;
    if (!ed.saved_line.empty()) {
        ed.line = ed.saved_line;
        ed.cursor = std::min(ed.saved_cursor, ed.line.size());
    }
    ed.first_refresh = true;
    ed.redraw = true;
    ed.end_cell = 0;
    refresh(ed);
}

void set_columns(Editor& ed, int columns) { ed.columns = std::max(columns, 1); }

Outcome end_of_input(Editor& ed) {
    ed.line = U"q";
    ed.cursor = 1;
    finish(ed);
    return Outcome::EndOfInput;
}

Outcome feed(Editor& ed, int32_t key) {
    ed.redraw = true;
    if (key == KEY_TAB) {
        int r = complete_line(ed);
        if (r == 2) {
            finish(ed);
            ed.line.clear();
            ed.cursor = 0;
            return Outcome::Listed;
        }
        if (r == 1) return Outcome::Editing;
    }
    size_t len = ed.line.size();
    switch (key) {
    case KEY_ENTER:
    case 10:  // a line feed (Ctrl-J, or a pasted line end) enters the line as well
        finish(ed);
        add_history(ed);
        ed.saved_line.clear();
        ed.saved_cursor = 0;
        return Outcome::Line;
    case 8:
    case 127:
        if (ed.cursor > 0) {
            ed.line.erase(--ed.cursor, 1);
            if (ed.cursor == ed.line.size()) ed.redraw = false;
            refresh(ed);
            if (!ed.redraw) ed.out += "\x1b[J";
        }
        return Outcome::Editing;
    case KEY_LEFT:
    case 2:
        if (ed.cursor > 0) {
            --ed.cursor;
            ed.redraw = false;
            refresh(ed);
        }
        return Outcome::Editing;
    case KEY_RIGHT:
    case 6:
        if (ed.cursor < len) {
            ++ed.cursor;
            ed.redraw = false;
            refresh(ed);
        }
        return Outcome::Editing;
    case KEY_UP:
    case 16:
        if (ed.browse < history_count(ed) - 1) {
            show_history(ed, ++ed.browse);
        } else {
            ed.line.clear();
            ed.cursor = 0;
        }
        refresh(ed);
        return Outcome::Editing;
    case KEY_DOWN:
    case 14:
        if (ed.browse < 0 || ed.browse >= history_count(ed)) {
            ed.line.clear();
            ed.cursor = 0;
        } else {
            show_history(ed, ed.browse--);
        }
        refresh(ed);
        return Outcome::Editing;
    case KEY_HOME:
    case 1:
        ed.cursor = 0;
        refresh(ed);
        return Outcome::Editing;
    case KEY_END:
    case 5:
        ed.cursor = len;
        refresh(ed);
        return Outcome::Editing;
    case KEY_DELETE:
        if (ed.cursor < len) {
            ed.line.erase(ed.cursor, 1);
            refresh(ed);
        }
        return Outcome::Editing;
    case 11:
        if (ed.cursor < len) {
            ed.line.erase(ed.cursor);
            refresh(ed);
        }
        return Outcome::Editing;
    case 4:
        if (ed.cursor < len) {
            ed.line.erase(ed.cursor, 1);
            refresh(ed);
        } else if (len == 0) {
            return end_of_input(ed);
        }
        return Outcome::Editing;
    case 3:
        finish(ed);
        ed.line = U"q";
        ed.cursor = 1;
        return Outcome::Interrupt;
    case KEY_ESC:
        finish(ed);
        ed.saved_line.clear();
        ed.saved_cursor = 0;
        ed.line.push_back(27);
        ed.cursor = ed.line.size();
        return Outcome::Cancel;
    default:
        break;
    }
    if (key == KEY_TAB || (key >= 32 && key != 127 && !is_invalid(uint32_t(key))))
        insert_char(ed, uint32_t(key));
    return Outcome::Editing;
}

}  // namespace kov::line_editor
