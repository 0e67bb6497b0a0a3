// Operations on single cells: the type and flags, integer arguments, typeset membership and the
// case search of switch.
#include <cmath>
#include <cstring>

#include "core/buffer.hpp"
#include "core/cell.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "datatypes/error.hpp"
#include "runtime_fixture.hpp"

namespace kov {
namespace {

class Cells : public testing::RuntimeTest {};

TEST_F(Cells, SetTypeKeepsFlags) {
    Cell c{T_BLOCK | CELL_NEW_LINE | 0x2000, 0, 0, 0};
    cell::set_type(&c, T_PAREN);
    EXPECT_EQ(c.type(), uint32_t(T_PAREN));
    EXPECT_TRUE(c.header & CELL_NEW_LINE);
    EXPECT_TRUE(c.header & 0x2000);
    cell::clear_new_line(&c);
    EXPECT_FALSE(c.header & CELL_NEW_LINE);
}

TEST_F(Cells, IntegerArgument) {
    struct Case { double d; bool ok; int32_t n; };
    const Case cases[] = {
        {2147483647.0, true, 2147483647}, {-2147483648.0, true, INT32_MIN}, {-2.7, true, -2},
        {2.9, true, 2}, {2147483648.0, false, 0}, {std::nan(""), false, 0}, {-2147483649.0, false, 0},
    };
    for (const Case& c : cases) {
        Cell f{T_FLOAT, 0, 0, 0};
        f.set_float(c.d);
        stack::mark_try(nullptr);
        int32_t got = 0;
        uint32_t code = testing::unwind_code([&] { got = cell::integer_arg(&f); });
        if (c.ok) {
            EXPECT_EQ(code, 0u);
            EXPECT_EQ(got, c.n);
            stack::unwind_drop();
        } else {
            EXPECT_EQ(code, THROW_ERROR);
            EXPECT_EQ(error::id_word(stack::top_value()), "out-of-range");
        }
    }
    Cell i{T_INTEGER, 0, uint32_t(-5), 0};
    EXPECT_EQ(cell::integer_arg(&i), -5);
}

TEST_F(Cells, TypesetMembership) {
    Cell ts{T_TYPESET, 0, 0, 0};
    uint8_t bytes[12] = {};
    bytes[5] = 0x01;  // datatype 47
    std::memcpy(&ts.data1, bytes, 12);
    EXPECT_TRUE(cell::typeset_has(&ts, 47));
    EXPECT_FALSE(cell::typeset_has(&ts, 46));
    Cell v{T_DATE, 0, 0, 0}, w{T_HANDLE, 0, 0, 0};
    EXPECT_EQ(stack::check_type(&ts, 0, &v), &v);
    stack::mark_try(nullptr);
    EXPECT_EQ(testing::unwind_code([&] { stack::check_type(&ts, 0, &w); }), THROW_ERROR);
    EXPECT_EQ(error::id_word(stack::top_value()), "expect-arg");
}

TEST_F(Cells, SwitchFind) {
    collector::Root block(Cell{T_BLOCK, 0, memory::make_cells(6), 0});
    const int32_t values[] = {1, 10, 2, 20, 3};
    // datatype! values compare by id (integer! comes later).
    for (int32_t v : values) *buffer::alloc_block_tail(block.get()) = Cell{T_DATATYPE, uint32_t(v), 0, 0};
    struct Case { int32_t sought; bool push; int32_t answer; bool none; };
    const Case cases[] = {
        {2, false, 20, false},
        {3, false, 3, false},   // the last cell: the match itself
        {10, false, 0, true},   // every second cell only
        {10, true, 2, false},
        {7, true, 0, true},
    };
    for (const Case& c : cases) {
        stack::reset();
        Cell v{T_DATATYPE, uint32_t(c.sought), 0, 0};
        stack::push(&v);
        stack::push(block.get());
        cell::switch_find(c.push, false);
        const Cell* r = c.push ? stack::top_value() : stack::arguments;
        if (c.none) {
            EXPECT_TRUE(r->is(T_NONE)) << c.sought;
        } else {
            EXPECT_EQ(int32_t(r->data1), c.answer) << c.sought;
        }
    }
}

}  // namespace
}  // namespace kov
