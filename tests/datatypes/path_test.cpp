// paren! and the path kinds: molding and forming with "/" and each kind's prefix or suffix,
// molding from the head, parens with /only and cycles, and making paths.
#include <string>
#include <vector>

#include "core/cell.hpp"
#include "core/cells.hpp"
#include "datatypes/path.hpp"
#include "series_fixture.hpp"

namespace kov {
namespace {

using collector::Root;
using testing::SeriesTest;

class Path : public SeriesTest {
protected:
    static Cell* words(Root& out, std::initializer_list<const char*> names, uint32_t type) {
        block::make_at(out.get(), 4);
        for (const char* n : names) {
            Cell w = word_cell(n);
            block::append_value(out.get(), &w);
        }
        cell::set_type(out.get(), type);
        return out.get();
    }
};

TEST_F(Path, MoldOfEachKind) {
    struct Case { uint32_t type; const char* expect; } cases[] = {
        {T_PATH, "a/b/c"}, {T_LIT_PATH, "'a/b/c"}, {T_GET_PATH, ":a/b/c"}, {T_SET_PATH, "a/b/c:"},
        {T_PAREN, "(a b c)"},
    };
    for (const Case& c : cases) {
        Root p;
        words(p, {"a", "b", "c"}, c.type);
        EXPECT_EQ(molded(p.get()), c.expect);
    }
}

TEST_F(Path, MoldFromTheHeadAndForm) {
    Root p;
    words(p, {"a", "b", "c"}, T_PATH);
    p->data1 = 1;
    EXPECT_EQ(molded(p.get()), "b/c");
    EXPECT_EQ(formed(p.get()), "b/c");
    Root q;
    words(q, {"x"}, T_PATH);
    Cell n = integer(3);
    block::append_value(q.get(), &n);
    EXPECT_EQ(formed(q.get()), "x/3");
}

TEST_F(Path, ParenOnlyAndCycles) {
    Root p;
    words(p, {"a", "b"}, T_PAREN);
    EXPECT_EQ(molded(p.get(), true), "a b");
    block::append_value(p.get(), p.get());
    EXPECT_EQ(molded(p.get()), "(a b (...))");
    Root q;
    words(q, {"a"}, T_PATH);
    block::append_value(q.get(), q.get());
    EXPECT_EQ(molded(q.get()), "a/...");
}

TEST_F(Path, Make) {
    stack::Snapshot snap;
    const ActionTable& t = type_registry::table(T_PATH);
    Cell zero = integer(0);
    Cell* p = t.make(nullptr, &zero, T_PATH);
    EXPECT_TRUE(p->is(T_PATH));
    EXPECT_EQ(block::ks_length_q(p), 0);
    EXPECT_GE(memory::buffer_of(p->data2)->size, 16);
    Root text;
    string::make_at(text.get(), 4);
    string::concatenate_cstring(text.get(), "x");
    EXPECT_EQ(error_of([&] { t.make(nullptr, text.get(), T_PATH); }), "bad-make-arg");
    Root b;
    words(b, {"a", "b"}, T_BLOCK);
    p = t.make(nullptr, b.get(), T_SET_PATH);
    EXPECT_TRUE(p->is(T_SET_PATH));
    EXPECT_EQ(molded(p), "a/b:");
    snap.restore();
}

}  // namespace
}  // namespace kov
