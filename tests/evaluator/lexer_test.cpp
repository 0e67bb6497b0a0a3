// The lexer: structure (blocks, parens, maps, paths, braced strings, construction syntax,
// comments), syntax errors with their texts, line counting, scan modes and callback events.
#include <vector>

#include "datatypes/map.hpp"
#include "evaluator/lexer_tables.hpp"
#include "tests/evaluator/lexer_fixture.hpp"

namespace kov::testing {
namespace {

class LexerTest : public RuntimeTest {};

struct Case {
    const char* text;
    const char* expected;
};

TEST_F(LexerTest, Structure) {
    const Case cases[] = {
        {"", ""},
        {std::string_view("\0 1", 3).data(), ""},
        {"1 [2]", "1 [2]"},
        {"[1 [2 3] (4)]", "[1 [2 3] (4)]"},
        {"a/b", "a/b"},
        {"a/b:", "a/b:"},
        {"'a/b", "'a/b"},
        {":a/b", ":a/b"},
        {"a/b/c d", "a/b/c d"},
        {"a/1/(b) c", "a/1/(b) c"},
        {"a/\"s\" c", "a/\"s\" c"},
        {"a/:b", "a/:b"},
        {"#(none)", "none"},
        {"#(TRUE) #(false) #(unset)", "true false unset"},
        {"#(block!)", "block!"},
        {"(1, 2)", "(1, 2)"},
        {"(1, 2, 3)", "(1, 2, 3)"},
        {"(1,2,3)", "(1, 2, 3)"},
        {"{a{b}c}", "\"a{b}c\""},
        {"{a^}b}", "\"a}b\""},
        {"x: {\nline\n} y", "x: \"\nline\n\" y"},
        {"1 ; comment\n2", "1 2"},
        {"; only a comment", ""},
        {"/ /a", "/ /a"},
        {"a:b", "url:a:b"},
        {"\xC2\xA0word", "word"},
        {"a\xE3\x80\x80" "b", "a\xE3\x80\x80" "b"},
    };
    for (const Case& c : cases) EXPECT_EQ(loaded(c.text), c.expected) << c.text;
}

TEST_F(LexerTest, Maps) {
    collector::Root out;
    lexer::ScanOptions one;
    one.one_value = true;
    lexer::scan(out.get(), "#[a 1 \"b\" [2]]", one);
    EXPECT_EQ(out->type(), uint32_t(T_MAP));
    EXPECT_EQ(map::count(out.get()), 2);
    EXPECT_EQ(loaded("#[a 1 b]"), "syntax/invalid | (line 1) | map! | ]");
    EXPECT_EQ(loaded("#[[a] 1]"), "syntax/invalid | (line 1) | map! | ]");
    EXPECT_EQ(loaded("#[a 1"), "syntax/missing | (line 1) | ] | #[a 1");
}

TEST_F(LexerTest, EmptyInputGivesAnEmptyBlock) {
    EXPECT_EQ(scan_text("").shown, "[]");
    EXPECT_EQ(scan_text(std::string_view("\0", 1)).shown, "[]");
}

TEST_F(LexerTest, SyntaxErrors) {
    const Case cases[] = {
        {"[1 2", "syntax/missing | (line 1) | ] | [1 2"},
        {"1 2]", "syntax/missing | (line 1) | [ | ]"},
        {"(1 2]", "syntax/missing | (line 1) | ) | ]"},
        {"[1 2)", "syntax/missing | (line 1) | ] | )"},
        {":a:", "syntax/invalid | (line 1) | word! | :a:"},
        {"'a:", "syntax/invalid | (line 1) | lit-word! | 'a:"},
        {"a/b:/c", "syntax/invalid | (line 1) | path! | a/b:/c"},
        {"a/b/", "syntax/invalid | (line 1) | path! | /"},
        {"a/", "syntax/bad-char | (line 1) | a/"},
        {"#(foo)", "syntax/malconstruct | (line 1) | #(foo)"},
        {"[1, 2]", "syntax/invalid | (line 1) | point2D! | , 2]"},
        {"{a", "syntax/invalid | (line 1) | string! | {a"},
        {"1\n2\n\"abc", "syntax/invalid | (line 3) | string! | \"abc"},
        {"#{0G}", "syntax/invalid | (line 1) | binary! | G}"},
        {"\"a\nb\"", "syntax/invalid | (line 1) | string! | \"a"},
        {"}", "syntax/bad-char | (line 1) | }"},
    };
    for (const Case& c : cases) EXPECT_EQ(loaded(c.text), c.expected) << c.text;
}

TEST_F(LexerTest, ErrorTextIsCutAfterThirtyBytesOrALineFeed) {
    std::string bad = "\"" + std::string(40, 'x');
    EXPECT_EQ(loaded(bad), "syntax/invalid | (line 1) | string! | \"" + std::string(29, 'x'));
    EXPECT_EQ(loaded("1''0\nmore"), "syntax/invalid | (line 1) | integer! | 1''0");
    // Whole characters only: a two-byte character that starts at byte 29 is kept whole.
    std::string wide = "\"" + std::string(28, 'x') + "\xC3\xA9" + "yyyy";
    EXPECT_EQ(loaded(wide), "syntax/invalid | (line 1) | string! | \"" + std::string(28, 'x') + "\xC3\xA9");
}

TEST_F(LexerTest, NewLineMarkers) {
    collector::Root out;
    lexer::scan(out.get(), "a\nb c");
    SeriesBuffer* b = memory::buffer_of(cells::series_node(*out));
    const Cell* v = b->head_cell();
    EXPECT_FALSE(v[0].header & CELL_NEW_LINE);
    EXPECT_TRUE(v[1].header & CELL_NEW_LINE);
    EXPECT_FALSE(v[2].header & CELL_NEW_LINE);
}

TEST_F(LexerTest, OneValueAndPrescanModes) {
    lexer::ScanOptions one;
    one.one_value = true;
    Scanned r = scan_text("1 2", one);
    EXPECT_EQ(r.shown, "1");
    EXPECT_EQ(r.consumed, 1);
    r = scan_text("[1 2] 3", one);
    EXPECT_EQ(r.shown, "[1 2]");
    EXPECT_EQ(r.consumed, 5);

    lexer::ScanOptions prescan;
    prescan.prescan = true;
    EXPECT_EQ(scan_text("12 x", prescan).type, int32_t(T_INTEGER));
    EXPECT_EQ(scan_text("[1 2", prescan).shown, "none");
    EXPECT_EQ(scan_text("\"abc", prescan).type, int32_t(T_ERROR));

    lexer::ScanOptions scan;
    scan.scan = true;
    EXPECT_EQ(scan_text("x: 1", scan).type, int32_t(T_SET_WORD));
    EXPECT_EQ(scan_text("1.5 x", scan).type, int32_t(T_FLOAT));
    EXPECT_EQ(scan_text("\"a", scan).type, int32_t(T_ERROR));
}

// Tokens that end before their closing byte (point, percent, char, binary, tag, quoted file)
// move past it even when nothing is loaded.
TEST_F(LexerTest, PrescanMovesPastUnloadedClosers) {
    lexer::ScanOptions prescan;
    prescan.prescan = true;
    const struct { const char* text; int32_t type; } cases[] = {
        {"[(4, 5) 50% #\"a\" #{00} <a> %\"f\"] x", T_BLOCK}, {"(4, 5)", T_POINT2D}};
    for (const auto& c : cases) EXPECT_EQ(scan_text(c.text, prescan).type, c.type) << c.text;
}

TEST_F(LexerTest, IntoAppendsToTheGivenBlock) {
    collector::Root into;
    lexer::scan(into.get(), "0");
    lexer::ScanOptions o;
    o.into = into.get();
    collector::Root out;
    lexer::scan(out.get(), "1 2", o);
    EXPECT_EQ(show(*out), "[0 1 2]");
}

// ---- the tables ----

TEST_F(LexerTest, ByteClasses) {
    struct ClassCase { const char* bytes; int cls; };
    const ClassCase cases[] = {
        {"\t\r ", lexer::C_BLANK}, {"\n", lexer::C_LF}, {"123456789", lexer::C_DIGIT},
        {"0", lexer::C_ZERO}, {"xX", lexer::C_X}, {"T", lexer::C_T}, {"h", lexer::C_H},
        {"e", lexer::C_E_LOW}, {"E", lexer::C_E_UP}, {"abcdf", lexer::C_HEXL},
        {"ABCDF", lexer::C_HEXU}, {"!&*?_~`|GHSUVWYZgiswyz", lexer::C_LETTER},
        {"\x01\x08\x0B\x0C\x0E\x1F", lexer::C_CTL}, {"\x7F\x80\xBF", lexer::C_CONT},
        {"\xC2\xEF\xF0\xF7", lexer::C_LETTER}, {"\xC0\xC1\xF8\xFF", lexer::C_BAD},
    };
    for (const ClassCase& c : cases)
        for (const char* p = c.bytes; *p; p++)
            EXPECT_EQ(lexer::class_table[uint8_t(*p)] & 0xFF, uint32_t(c.cls)) << int(uint8_t(*p));
    EXPECT_EQ(lexer::class_table[0] & 0xFF, uint32_t(lexer::C_END));
    EXPECT_EQ(lexer::class_table[0xC5] & ~0xFFu, lexer::F_UTF8_2_3);
    EXPECT_EQ(lexer::class_table[0xF3] & ~0xFFu, lexer::F_UTF8_4);
    EXPECT_EQ(lexer::class_table['^'] & ~0xFFu, lexer::F_CARET);
    EXPECT_EQ(lexer::class_table[0] & ~0xFFu, lexer::F_NUL);
}

// Every state's end column is final: an input that ends mid-token always ends the token.
TEST_F(LexerTest, EveryStateEndsAtTheInputEnd) {
    for (int s = 0; s < lexer::STATE_COUNT; s++)
        EXPECT_GE(lexer::transitions[s][lexer::C_END], lexer::FIRST_FINAL) << s;
}

}  // namespace
}  // namespace kov::testing
