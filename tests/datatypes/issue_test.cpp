// issue!: making from words, text, characters and datatypes; text with and without "#";
// comparison with issues only.
#include <iterator>

#include "core/cells.hpp"
#include "core/symbol.hpp"
#include "datatypes/issue.hpp"
#include "tests/datatypes/scalar_fixture.hpp"

namespace kov {
namespace {

using testing::Outcome;
using testing::run;

Cell iss(const char* s) { return cells::make_word(T_ISSUE, 0, symbol::make(s)); }

class Issue : public testing::RuntimeTest {};

TEST_F(Issue, Make) {
    collector::Root text;
    auto str = [&](const char* s) {
        testing::make_text(text.get(), s);
        return text.cell;
    };
    struct Case {
        std::function<Cell()> spec;
        const char* spelling;
        const char* error;
    };
    const Case cases[] = {
        {[&] { return str("abc"); }, "abc", ""},
        {[&] { return str("1 two"); }, "1 two", ""},
        {[] { return cells::make_word(T_SET_WORD, 0, symbol::make("name")); }, "name", ""},
        {[] { return Cell{T_CHAR, 0, 'Q', 0}; }, "Q", ""},
        {[] { return Cell{T_CHAR, 0, 0xE9, 0}; }, "\xC3\xA9", ""},
        {[] { return cells::make_datatype(T_INTEGER); }, "integer!", ""},
        {[] { return Cell{T_LOGIC, 0, 0, 0}; }, "false", ""},
        {[] { return Cell{T_INTEGER, 0, 1, 0}; }, nullptr, "script/bad-to-arg"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        Cell spec = c.spec();
        Outcome o = run({Cell{T_NONE, 0, 0, 0}, spec},
                        [] { return issue::make(nullptr, stack::arg(1), T_ISSUE); });
        EXPECT_EQ(o.error, c.error) << "case " << i;
        if (*c.error) continue;
        EXPECT_EQ(o.value.header, uint32_t(T_ISSUE)) << "case " << i;
        EXPECT_EQ(symbol::spelling(cells::word_symbol(o.value)), c.spelling) << "case " << i;
        EXPECT_EQ(cells::word_index(o.value), cells::NO_INDEX) << "case " << i;
    }
}

TEST_F(Issue, Text) {
    EXPECT_EQ(testing::molded(iss("abc")), "#abc");
    EXPECT_EQ(testing::formed(iss("abc")), "abc");
    EXPECT_EQ(testing::molded(iss("caf\xC3\xA9")), "#caf\xC3\xA9");
    collector::Root out;
    string::make_at(out.get(), 8);
    Cell v = iss("\xE2\x82\xAC" "5");  // two characters
    EXPECT_EQ(issue::mold(&v, out.get(), false, false, false, false, 10, 0), 7);
}

TEST_F(Issue, Compare) {
    Cell a = iss("Abc"), b = iss("aBC"), c = iss("abd");
    Cell w = cells::make_word(T_WORD, 0, symbol::make("Abc"));
    EXPECT_EQ(issue::compare(&a, &b, COMP_EQUAL), 0);
    EXPECT_EQ(issue::compare(&a, &b, COMP_STRICT_EQUAL), 1);
    EXPECT_EQ(issue::compare(&a, &a, COMP_STRICT_EQUAL), 0);
    EXPECT_EQ(issue::compare(&a, &c, COMP_LESSER), -1);
    EXPECT_EQ(issue::compare(&c, &b, COMP_SORT), 1);
    EXPECT_EQ(issue::compare(&a, &w, COMP_EQUAL), NOT_COMPARABLE);
}

TEST_F(Issue, LoadAndPush) {
    stack::Snapshot saved;
    Cell* c = issue::load("x1");
    EXPECT_EQ(c->type(), uint32_t(T_ISSUE));
    EXPECT_EQ(symbol::spelling(cells::word_symbol(*c)), "x1");
    Cell w = cells::make_word(T_WORD, 0, symbol::make("y"));
    EXPECT_EQ(issue::push(&w)->type(), uint32_t(T_ISSUE));
    saved.restore();
}

}  // namespace
}  // namespace kov
