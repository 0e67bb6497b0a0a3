// The line editor's state machine: key sequences against the line, the cursor, the history and
// the screen that its output draws (kept by a small VT screen), and the economy of its output.
#include "console/line_editor.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/unicode.hpp"
#include "tests/console/vt_screen.hpp"

namespace kov {
namespace {

namespace le = line_editor;
using Keys = std::vector<int32_t>;
using Lines = std::vector<std::string>;

// Key sequences: text plus named keys.
Keys operator+(Keys a, const Keys& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Keys T(const std::u32string& s) { return Keys(s.begin(), s.end()); }
const Keys UP{le::KEY_UP}, DOWN{le::KEY_DOWN}, LEFT{le::KEY_LEFT}, RIGHT{le::KEY_RIGHT},
    HOME{le::KEY_HOME}, END{le::KEY_END}, DEL{le::KEY_DELETE}, BS{127}, ENTER{13}, ESC{27},
    TAB{9}, CTRL_A{1}, CTRL_B{2}, CTRL_C{3}, CTRL_D{4}, CTRL_E{5}, CTRL_F{6}, CTRL_H{8},
    CTRL_K{11}, CTRL_N{14}, CTRL_P{16}, INSERT{le::KEY_INSERT}, PGUP{le::KEY_PAGE_UP},
    PGDN{le::KEY_PAGE_DOWN}, NONE{0}, FAIL{-1};

std::string utf8(const std::u32string& s) {
    std::string out;
    for (char32_t c : s) {
        uint8_t buf[4];
        out.append(reinterpret_cast<const char*>(buf), size_t(unicode::encode_utf8(c, buf)));
    }
    return out;
}

// An editor at a screen: `before` is printed first (the prompt starts after it).
struct Rig {
    le::Editor ed;
    testing::VtScreen screen;
    std::vector<std::u32string> history;
    le::Outcome outcome = le::Outcome::Editing;

    Rig(int cols, int rows, std::u32string prompt, std::vector<std::u32string> hist = {},
        bool hide = false, const std::string& before = "")
        : screen(cols, rows), history(std::move(hist)) {
        screen.write(before);
        le::begin(ed, std::move(prompt), &history, hide, cols, screen.col);
        flush();
    }
    void flush() {
        screen.write(ed.out);
        ed.out.clear();
    }
    void keys(const Keys& ks) {
        for (int32_t k : ks) {
            ASSERT_EQ(outcome, le::Outcome::Editing) << "key after the end of the edit";
            outcome = le::feed(ed, k);
            flush();
        }
    }
    // The screen's cursor must stand on the cell the editor means.
    void expect_cursor(int row, int col) {
        EXPECT_EQ(screen.row, row);
        EXPECT_EQ(screen.col, col);
    }
};

void SetUpCase() { unicode::init_case_tables(); }

// ---------------------------------------------------------------------------------------------
// Editing keys: line, cursor and screen after each sequence.

struct EditCase {
    const char* name;
    Keys keys;
    std::u32string line;
    size_t cursor;
    int cursor_col;  // on the start row
};

TEST(LineEditor, EditingKeys) {
    SetUpCase();
    const EditCase cases[] = {
        {"typing", T(U"hello"), U"hello", 5, 8},
        {"insert in the middle", T(U"helo") + LEFT + T(U"l"), U"hello", 4, 7},
        {"left at the head stays", T(U"ab") + LEFT + LEFT + LEFT + CTRL_B, U"ab", 0, 3},
        {"right at the end stays", T(U"ab") + RIGHT + CTRL_F, U"ab", 2, 5},
        {"ctrl-b and ctrl-f", T(U"abc") + CTRL_B + CTRL_B + CTRL_F, U"abc", 2, 5},
        {"home and end", T(U"abc") + HOME + T(U"x") + END + T(U"y"), U"xabcy", 5, 8},
        {"ctrl-a and ctrl-e", T(U"abc") + CTRL_A + T(U"x") + CTRL_E + T(U"y"), U"xabcy", 5, 8},
        {"backspace at the end", T(U"abc") + BS, U"ab", 2, 5},
        {"ctrl-h is backspace", T(U"abc") + CTRL_H + CTRL_H, U"a", 1, 4},
        {"backspace in the middle", T(U"abcd") + LEFT + BS, U"abd", 2, 5},
        {"backspace at the head", T(U"ab") + HOME + BS, U"ab", 0, 3},
        {"delete", T(U"abcd") + HOME + RIGHT + DEL, U"acd", 1, 4},
        {"delete at the end", T(U"ab") + DEL, U"ab", 2, 5},
        {"ctrl-k", T(U"abcd") + LEFT + LEFT + CTRL_K, U"ab", 2, 5},
        {"ctrl-k at the end", T(U"ab") + CTRL_K, U"ab", 2, 5},
        {"ctrl-d deletes at the cursor", T(U"abc") + HOME + CTRL_D, U"bc", 0, 3},
        {"ctrl-d at the end of a line", T(U"abc") + CTRL_D, U"abc", 3, 6},
        {"ignored keys", T(U"a") + INSERT + PGUP + PGDN + NONE + FAIL + Keys{7, 31} + T(U"b"),
         U"ab", 2, 5},
        {"tab without completion", T(U"a") + TAB + T(U"b"), U"a\tb", 3, 9},
    };
    for (const EditCase& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(40, 5, U">> ");
        rig.keys(c.keys);
        EXPECT_EQ(rig.outcome, le::Outcome::Editing);
        EXPECT_EQ(rig.ed.line, c.line);
        EXPECT_EQ(rig.ed.cursor, c.cursor);
        std::u32string shown = c.line;
        std::string expect = ">> ";
        for (char32_t ch : shown) expect += ch == U'\t' ? std::string("    ") : utf8(std::u32string(1, ch));
        EXPECT_EQ(rig.screen.lines(), Lines{expect});
        rig.expect_cursor(0, c.cursor_col);
    }
}

// ---------------------------------------------------------------------------------------------
// Ends of an edit.

struct EndCase {
    const char* name;
    Keys keys;
    le::Outcome outcome;
    std::u32string line;
    size_t history_size;
};

TEST(LineEditor, EndsOfAnEdit) {
    SetUpCase();
    const EndCase cases[] = {
        {"enter", T(U"print 1") + ENTER, le::Outcome::Line, U"print 1", 2},
        {"a line feed enters too", T(U"x") + Keys{10}, le::Outcome::Line, U"x", 2},
        {"enter in the middle keeps the whole line", T(U"abc") + HOME + ENTER, le::Outcome::Line,
         U"abc", 2},
        {"empty enter adds nothing", ENTER, le::Outcome::Line, U"", 1},
        {"same as the newest, other case", T(U"OLD") + ENTER, le::Outcome::Line, U"OLD", 1},
        {"ctrl-c", T(U"abc") + CTRL_C, le::Outcome::Interrupt, U"q", 1},
        {"ctrl-d on an empty line", CTRL_D, le::Outcome::EndOfInput, U"q", 1},
        {"esc", T(U"abc") + LEFT + ESC, le::Outcome::Cancel, U"abc\x1b", 1},
    };
    for (const EndCase& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(40, 5, U">> ", {U"old"});
        rig.keys(c.keys);
        EXPECT_EQ(rig.outcome, c.outcome);
        EXPECT_EQ(rig.ed.line, c.line);
        EXPECT_EQ(rig.history.size(), c.history_size);
        if (c.history_size == 2) {
            EXPECT_EQ(rig.history.front(), c.line);
        }
        // The cursor went to a new row below the text.
        rig.expect_cursor(1, 0);
    }
}

TEST(LineEditor, EndOfInputDuringAnEdit) {
    SetUpCase();
    Rig rig(40, 5, U">> ");
    rig.keys(T(U"abc") + LEFT);
    EXPECT_EQ(le::end_of_input(rig.ed), le::Outcome::EndOfInput);
    rig.flush();
    EXPECT_EQ(rig.ed.line, U"q");
    rig.expect_cursor(1, 0);
    EXPECT_EQ(rig.screen.lines(), Lines{">> abc"});
}

TEST(LineEditor, HiddenInputShowsStarsAndStaysOutOfHistory) {
    SetUpCase();
    Rig rig(40, 5, U"Password: ", {}, true);
    rig.keys(T(U"s3cr\u00e9t\u4e2d") + LEFT + T(U"x"));
    EXPECT_EQ(rig.screen.lines(), Lines{"Password: ********"});
    rig.expect_cursor(0, 17);
    rig.keys(ENTER);
    EXPECT_EQ(rig.ed.line, U"s3cr\u00e9tx\u4e2d");
    EXPECT_TRUE(rig.history.empty());
}

// ---------------------------------------------------------------------------------------------
// History.

struct HistoryCase {
    const char* name;
    std::vector<std::u32string> history;
    Keys keys;
    std::u32string line;
};

TEST(LineEditor, HistoryBrowsing) {
    SetUpCase();
    const std::vector<std::u32string> h3{U"newest", U"middle", U"oldest"};
    const HistoryCase cases[] = {
        {"up on an empty history empties the line", {}, T(U"abc") + UP, U""},
        {"down on a fresh line empties it", h3, T(U"abc") + DOWN, U""},
        {"up shows the newest", h3, UP, U"newest"},
        {"ctrl-p is up", h3, CTRL_P + CTRL_P, U"middle"},
        {"up to the oldest", h3, UP + UP + UP, U"oldest"},
        {"up past the oldest empties", h3, UP + UP + UP + UP, U""},
        {"up, up, down shows the second again", h3, UP + UP + DOWN, U"middle"},
        {"then down shows the newest", h3, UP + UP + DOWN + DOWN, U"newest"},
        {"then down empties", h3, UP + UP + DOWN + DOWN + DOWN, U""},
        {"ctrl-n is down", h3, UP + UP + CTRL_N + CTRL_N, U"newest"},
        {"an edited entry", h3, UP + BS + T(U"X"), U"newesX"},
    };
    for (const HistoryCase& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(40, 5, U">> ", c.history);
        rig.keys(c.keys);
        EXPECT_EQ(rig.ed.line, c.line);
        EXPECT_EQ(rig.ed.cursor, c.line.size());
        std::string row = ">> " + utf8(c.line);
        while (row.back() == ' ') row.pop_back();
        EXPECT_EQ(rig.screen.lines(), Lines{row});
        rig.expect_cursor(0, 3 + int(c.line.size()));
        EXPECT_EQ(rig.history, c.history);  // browsing changes nothing
    }
}

TEST(LineEditor, EnteredLinesGoToTheFrontOfTheHistory) {
    SetUpCase();
    std::vector<std::u32string> history;
    le::Editor ed;
    for (const char32_t* text : {U"one", U"two", U"Two", U"three", U""}) {
        le::begin(ed, U">> ", &history, false, 80, 0);
        for (const char32_t* p = text; *p; ++p) le::feed(ed, int32_t(*p));
        EXPECT_EQ(le::feed(ed, 13), le::Outcome::Line);
    }
    EXPECT_EQ(history, (std::vector<std::u32string>{U"three", U"two", U"one"}));
    // No history at all: Up and Enter still work.
    le::begin(ed, U">> ", nullptr, false, 80, 0);
    le::feed(ed, le::KEY_UP);
    le::feed(ed, 'z');
    EXPECT_EQ(le::feed(ed, 13), le::Outcome::Line);
    EXPECT_EQ(ed.line, U"z");
}

// ---------------------------------------------------------------------------------------------
// Layout: wrapping, wide characters, the prompt.

TEST(LineEditor, LongLineWrapsAndTheCursorFollows) {
    SetUpCase();
    Rig rig(10, 6, U">> ");
    rig.keys(T(U"abcdefghijkl"));
    EXPECT_EQ(rig.screen.lines(), (Lines{">> abcdefg", "hijkl"}));
    rig.expect_cursor(1, 5);
    rig.keys(HOME);
    rig.expect_cursor(0, 3);
    rig.keys(T(U"XY"));
    EXPECT_EQ(rig.screen.lines(), (Lines{">> XYabcde", "fghijkl"}));
    rig.expect_cursor(0, 5);
    rig.keys(END + BS + BS + BS + BS + BS + BS + BS);
    EXPECT_EQ(rig.screen.lines(), (Lines{">> XYabcde"}));
    rig.expect_cursor(1, 0);  // the row is full: the cursor waits on the next one
}

TEST(LineEditor, TypingAtTheEndOfTheLastRowMovesToANewRow) {
    SetUpCase();
    Rig rig(10, 6, U">> ");
    rig.keys(T(U"abcdefg"));  // fills the row exactly
    EXPECT_EQ(rig.screen.lines(), (Lines{">> abcdefg"}));
    rig.expect_cursor(1, 0);
    rig.keys(T(U"h"));
    EXPECT_EQ(rig.screen.lines(), (Lines{">> abcdefg", "h"}));
    rig.expect_cursor(1, 1);
    rig.keys(BS);
    rig.expect_cursor(1, 0);
    rig.keys(LEFT);
    rig.expect_cursor(0, 9);
    rig.keys(RIGHT);
    rig.expect_cursor(1, 0);
    rig.keys(ENTER);
    EXPECT_EQ(rig.screen.lines(), (Lines{">> abcdefg"}));
    rig.expect_cursor(1, 0);  // no empty row in between
}

TEST(LineEditor, WideCharacterAtTheLastColumnGoesToTheNextRow) {
    SetUpCase();
    Rig rig(10, 6, U">> ");
    rig.keys(T(U"abcdef\u4e2d"));  // "ab..f" ends on column 8: one cell left
    EXPECT_EQ(rig.screen.lines(), (Lines{">> abcdef", "\u4e2d"}));
    rig.expect_cursor(1, 2);
    rig.keys(LEFT);
    rig.expect_cursor(1, 0);  // on the wide character, on its row
    rig.keys(LEFT);
    rig.expect_cursor(0, 8);
    rig.keys(HOME + T(U"x"));
    EXPECT_EQ(rig.screen.lines(), (Lines{">> xabcdef", "\u4e2d"}));
    rig.keys(HOME + T(U"y"));
    EXPECT_EQ(rig.screen.lines(), (Lines{">> yxabcde", "f\u4e2d"}));
    rig.keys(END);
    rig.expect_cursor(1, 3);
    // The emoji range counts two cells.
    Rig emoji(10, 6, U">> ");
    emoji.keys(T(U"\U0001F300x"));
    EXPECT_EQ(emoji.screen.lines(), (Lines{">> \U0001F300x"}));
    emoji.expect_cursor(0, 6);
}

TEST(LineEditor, ZeroWidthCharactersTakeNoCell) {
    SetUpCase();
    Rig rig(20, 4, U">> ");
    rig.keys(T(U"e\u0301a") + LEFT);
    EXPECT_EQ(rig.ed.cursor, 2u);
    rig.expect_cursor(0, 4);
    rig.keys(HOME + T(U"x"));
    rig.expect_cursor(0, 4);
    EXPECT_EQ(rig.screen.lines(), (Lines{">> xea"}));
}

TEST(LineEditor, PromptColourSequencesTakeNoCells) {
    SetUpCase();
    Rig rig(20, 4, U"\x1b[1;31m>>\x1b[0m ");
    rig.keys(T(U"abc") + LEFT);
    EXPECT_EQ(rig.screen.lines(), (Lines{">> abc"}));
    rig.expect_cursor(0, 5);
    EXPECT_EQ(le::measure_prompt(U"\x1b[1;31m>>\x1b[0m ", 20), 3);
    EXPECT_EQ(le::measure_prompt(U"\x1b(B>> ", 20), 3);
    EXPECT_EQ(le::measure_prompt(U"a\tb", 20), 6);
}

TEST(LineEditor, PromptWithALineFeed) {
    SetUpCase();
    Rig rig(20, 5, U"Name?\n> ");
    rig.keys(T(U"Ann") + HOME + T(U"J"));
    EXPECT_EQ(rig.screen.lines(), (Lines{"Name?", "> JAnn"}));
    rig.expect_cursor(1, 3);
    EXPECT_EQ(le::measure_prompt(U"ab\ncd", 10), 12);
    EXPECT_EQ(le::measure_prompt(U"abcdefghij\nx", 10), 11);  // a full row: the LF adds none
}

TEST(LineEditor, PromptStartsAtTheCursorColumn) {
    SetUpCase();
    Rig rig(10, 5, U"> ", {}, false, "12345");
    rig.keys(T(U"abcd"));
    EXPECT_EQ(rig.screen.lines(), (Lines{"12345> abc", "d"}));
    rig.keys(HOME + T(U"Z"));
    EXPECT_EQ(rig.screen.lines(), (Lines{"12345> Zab", "cd"}));
    rig.expect_cursor(0, 8);
}

TEST(LineEditor, ControlCharactersOfTheLineAreNotSentToTheTerminal) {
    SetUpCase();
    std::vector<std::u32string> hist{U"a\x1b]0;evil\x07" U"b\u009bc\n"};
    le::Editor ed;
    le::begin(ed, U">> ", &hist, false, 40, 0);
    ed.out.clear();
    le::feed(ed, le::KEY_UP);
    EXPECT_EQ(ed.out.find('\x07'), std::string::npos);
    EXPECT_EQ(ed.out.find("\xc2\x9b"), std::string::npos);
    EXPECT_EQ(ed.out.find("\x1b]"), std::string::npos);
    testing::VtScreen screen(40, 3);
    le::Editor ed2;
    le::begin(ed2, U">> ", &hist, false, 40, 0);
    le::feed(ed2, le::KEY_UP);
    screen.write(ed2.out);
    EXPECT_EQ(screen.lines(), Lines{">> a\uFFFD]0;evil\uFFFDb\uFFFDc\uFFFD"});
    EXPECT_EQ(screen.col, 17);
}

TEST(LineEditor, ScrollingAtTheBottomKeepsTheLayout) {
    SetUpCase();
    // The prompt starts on the last row of a 3-row screen; the line needs three rows.
    Rig rig(8, 3, U">> ", {}, false, "r0\r\nr1\r\nr2\r\n");
    rig.keys(T(U"abcdefghijklmnop"));
    EXPECT_EQ(rig.screen.lines(), (Lines{">> abcde", "fghijklm", "nop"}));
    rig.keys(HOME + T(U"Q"));
    EXPECT_EQ(rig.screen.lines(), (Lines{">> Qabcd", "efghijkl", "mnop"}));
    rig.expect_cursor(0, 4);
    rig.keys(END + ENTER);
    EXPECT_EQ(rig.screen.lines(), (Lines{"efghijkl", "mnop"}));
    rig.expect_cursor(2, 0);
}

TEST(LineEditor, ResizeTakesTheNewWidth) {
    SetUpCase();
    le::Editor ed;
    le::begin(ed, U">> ", nullptr, false, 80, 0);
    le::set_columns(ed, 0);
    EXPECT_EQ(ed.columns, 1);
    le::set_columns(ed, 12);
    testing::VtScreen screen(12, 4);
    screen.write(ed.out);
    ed.out.clear();
    for (char32_t c : std::u32string(U"abcdefghijk")) le::feed(ed, int32_t(c));
    screen.write(ed.out);
    EXPECT_EQ(screen.lines(), (Lines{">> abcdefghi", "jk"}));
}

// ---------------------------------------------------------------------------------------------
// Output economy: appending writes the character only, moves write only the move.

TEST(LineEditor, OutputOfCommonKeys) {
    SetUpCase();
    le::Editor ed;
    std::vector<std::u32string> hist;
    le::begin(ed, U">> ", &hist, false, 80, 0);
    EXPECT_EQ(ed.out, ">> ");
    struct Step {
        int32_t key;
        std::string out;
    };
    const Step steps[] = {
        {'a', "a"},
        {0x4e2d, "\xe4\xb8\xad"},
        {le::KEY_LEFT, "\x1b[2D"},
        {le::KEY_RIGHT, "\x1b[2C"},
        {127, "\x1b[2D\x1b[J"},
        {le::KEY_LEFT, "\x1b[1D"},
        {le::KEY_LEFT, ""},
        {'b', "\x1b[3D\x1b[J>> ba\x1b[1D"},
        {le::KEY_END, "\x1b[4D\x1b[J>> ba"},
        {13, "\r\n"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.key);
        ed.out.clear();
        le::feed(ed, s.key);
        EXPECT_EQ(ed.out, s.out);
    }
}

// ---------------------------------------------------------------------------------------------
// Completion.

TEST(LineEditor, CompletionInPlaceAndWithCandidates) {
    SetUpCase();
    Rig rig(40, 6, U">> ");
    int calls = 0;
    rig.ed.complete = [&](const std::u32string& line, size_t cursor) -> std::optional<le::Completion> {
        ++calls;
        if (line == U"pri") return le::Completion{U"print", 5, {}};
        if (line == U"to-" && cursor == 3)
            return le::Completion{U"to-(x)", 3, {U"to-block", U"to-char"}};
        return std::nullopt;
    };
    rig.keys(T(U"pri") + TAB);
    EXPECT_EQ(rig.ed.line, U"print");
    EXPECT_EQ(rig.ed.cursor, 5u);
    EXPECT_EQ(rig.screen.lines(), Lines{">> print"});
    rig.keys(T(U"x") + TAB);  // nothing to complete: a Tab goes in
    EXPECT_EQ(rig.ed.line, U"printx\t");
    rig.keys(CTRL_A + CTRL_K + T(U"to-") + TAB);
    EXPECT_EQ(rig.outcome, le::Outcome::Listed);
    EXPECT_EQ(rig.ed.line, U"");
    EXPECT_EQ(rig.screen.lines(), Lines{">> to-block to-char"});
    rig.expect_cursor(1, 0);
    EXPECT_EQ(calls, 3);
    // The next edit starts from the common part, the cursor where the hook put it.
    le::begin(rig.ed, U">> ", &rig.history, false, 40, 0);
    rig.outcome = le::Outcome::Editing;
    rig.flush();
    EXPECT_EQ(rig.ed.line, U"to-(x)");
    EXPECT_EQ(rig.ed.cursor, 3u);
    rig.expect_cursor(1, 6);
    rig.keys(ENTER);
    EXPECT_EQ(rig.ed.line, U"to-(x)");
    EXPECT_TRUE(rig.ed.saved_line.empty());  // Enter forgets it
}

TEST(LineEditor, EscForgetsTheSavedLine) {
    SetUpCase();
    le::Editor ed;
    ed.saved_line = U"abc";
    ed.saved_cursor = 99;  // beyond the text: kept at its end
    le::begin(ed, U">> ", nullptr, false, 40, 0);
    EXPECT_EQ(ed.cursor, 3u);
    EXPECT_EQ(le::feed(ed, 27), le::Outcome::Cancel);
    EXPECT_TRUE(ed.saved_line.empty());
    le::begin(ed, U">> ", nullptr, false, 40, 0);
    EXPECT_EQ(ed.line, U"");
}

TEST(LineEditor, CellWidths) {
    EXPECT_EQ(le::cell_width('a'), 1);
    EXPECT_EQ(le::cell_width(0x4e2d), 2);
    EXPECT_EQ(le::cell_width(0x0301), 0);
    EXPECT_EQ(le::cell_width(0x1F300), 2);
    EXPECT_EQ(le::cell_width(0x1F5FF), 2);
}

}  // namespace
}  // namespace kov
