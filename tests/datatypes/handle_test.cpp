// handle! and triple!: cell routines, forming and molding (with the kind names), comparison, and
// the registrations.
#include <string>
#include <vector>

#include "core/type_registry.hpp"
#include "datatypes/block.hpp"
#include "datatypes/handle.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/triple.hpp"
#include "tests/datatypes/literal_fixture.hpp"

namespace kov {
namespace {

using collector::Root;
using testing::formed;
using testing::fresh_text;
using testing::molded;

class HandleTriple : public testing::RuntimeTest {};

TEST_F(HandleTriple, CellLayout) {
    Cell c = handle::make(0x1F, handle::WINDOW);
    EXPECT_EQ(c.header, uint32_t(T_HANDLE));
    EXPECT_EQ(c.data1, uint32_t(handle::WINDOW));
    EXPECT_EQ(c.data2, 0x1Fu);
    EXPECT_EQ(c.data3, 0xFFFFFFFFu);
    Cell d{T_INTEGER | CELL_NEW_LINE, 1, 2, 3};
    handle::make_at(&d, 5, handle::FD);
    EXPECT_EQ(d.header, uint32_t(T_HANDLE));  // the whole header, flags clear
    Cell* p = handle::push(7, handle::FONT);
    EXPECT_EQ(handle::value(*p), 7u);
    EXPECT_EQ(handle::kind(*p), uint32_t(handle::FONT));
    Cell* n = handle::push_null();
    EXPECT_EQ(handle::value(*n), 0u);
    EXPECT_EQ(handle::kind(*n), 0u);
}

TEST_F(HandleTriple, BoxAndMakeIn) {
    Cell* saved = stack::arguments;
    stack::arguments = stack::push(&none_value);
    handle::box(9, handle::MONITOR);
    EXPECT_EQ(handle::value(*stack::arguments), 9u);
    stack::arguments = saved;
    Root blk;
    block::make_at(blk.get(), 4);
    handle::make_in(blk.get(), 3, handle::RICH_TEXT);
    collector::SeriesRef r(*blk);
    ASSERT_EQ(r.length(), 1u);
    EXPECT_EQ(handle::kind(*r.cell_at(0)), uint32_t(handle::RICH_TEXT));
}

TEST_F(HandleTriple, KindNames) {
    const char* names[] = {"null", "fd", "monitor", "window", "font", "rich-text"};
    for (uint32_t k = 0; k < handle::KIND_COUNT; k++) EXPECT_STREQ(handle::kind_name(k), names[k]);
    EXPECT_EQ(handle::kind_name(handle::KIND_COUNT), nullptr);
}

TEST_F(HandleTriple, FormAndMold) {
    struct Row {
        uint32_t value, kind;
        std::string form, mold_all;
    };
    const std::vector<Row> rows = {
        {0x1F, handle::WINDOW, "0000001Fh", "#[handle! 0000001Fh window]"},
        {0, handle::NULL_KIND, "00000000h", "#[handle! 00000000h]"},
        {0xFFFFFFFF, handle::FD, "FFFFFFFFh", "#[handle! FFFFFFFFh fd]"},
        {0xABCDEF, handle::RICH_TEXT, "00ABCDEFh", "#[handle! 00ABCDEFh rich-text]"},
        {1, 99, "00000001h", "#[handle! 00000001h]"},
    };
    for (const Row& r : rows) {
        stack::Snapshot keep;
        Cell* h = handle::push(r.value, r.kind);
        EXPECT_EQ(formed(h), r.form);
        EXPECT_EQ(molded(h), "handle!");
        EXPECT_EQ(molded(h, true), r.mold_all);
    }
}

TEST_F(HandleTriple, LimitsDrop) {
    Cell* h = handle::push(0x1F, handle::WINDOW);
    Cell* out = fresh_text();
    EXPECT_EQ(handle::form(h, out, false, 100), 91);
    EXPECT_EQ(handle::mold(h, out, false, false, false, false, 100, 0), 93);
    EXPECT_EQ(handle::mold(h, out, false, true, false, false, 100, 0),
              100 - int32_t(std::string("#[handle! 0000001Fh window]").size()));
}

TEST_F(HandleTriple, Compare) {
    Cell a = handle::make(5, handle::FD), b = handle::make(5, handle::WINDOW),
         c = handle::make(uint32_t(-3), handle::FD);
    Cell i = cells::make_integer(5);
    for (int32_t op = COMP_EQUAL; op <= COMP_FIND; op++) {
        EXPECT_EQ(handle::compare(&a, &i, op), 1) << op;
        EXPECT_EQ(handle::compare(&a, &b, op), 0) << op;
        EXPECT_EQ(handle::compare(&a, &c, op), 1) << op;   // values compare signed
        EXPECT_EQ(handle::compare(&c, &a, op), -1) << op;
    }
}

TEST_F(HandleTriple, HandleTableHasOnlyItsOwnEntries) {
    const ActionTable& t = type_registry::table(T_HANDLE);
    EXPECT_EQ(t.form.fn, handle::form);
    EXPECT_EQ(t.mold.fn, handle::mold);
    EXPECT_EQ(t.compare.fn, handle::compare);
    EXPECT_FALSE(t.make);
    EXPECT_FALSE(t.to);
    EXPECT_FALSE(t.add);
    EXPECT_FALSE(t.negate);
}

TEST_F(HandleTriple, TripleFormAndMold) {
    struct Row {
        int32_t a, b, c;
        std::string text;
    };
    const std::vector<Row> rows = {
        {1, -2, 3, "make triple! [1 -2 3]"},
        {0, 0, 0, "make triple! [0 0 0]"},
        {INT32_MIN, INT32_MAX, -1, "make triple! [-2147483648 2147483647 -1]"},
    };
    for (const Row& r : rows) {
        stack::Snapshot keep;
        Cell t = triple::make(r.a, r.b, r.c);
        Cell* v = stack::push(&t);
        EXPECT_EQ(formed(v), r.text);
        EXPECT_EQ(molded(v), r.text);
        Cell* out = fresh_text();
        EXPECT_EQ(triple::form(v, out, false, 100), 100 - int32_t(r.text.size()));
    }
    const ActionTable& t = type_registry::table(T_TRIPLE);
    EXPECT_TRUE(t.form);
    EXPECT_TRUE(t.mold);
    EXPECT_FALSE(t.compare);
    EXPECT_FALSE(t.make);
}

}  // namespace
}  // namespace kov
