// typeset!: making from blocks (words read through their values), the bitwise and set
// operations, find, comparison, complement and the molded text.
#include "core/cells.hpp"
#include "core/context.hpp"
#include "core/symbol.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/typeset.hpp"
#include "datatypes/word.hpp"
#include "tests/datatypes/scalar_fixture.hpp"

namespace kov {
namespace {

using testing::Outcome;
using testing::run;

Cell dt(uint32_t t) { return cells::make_datatype(t); }
Cell set_of(std::initializer_list<uint32_t> types) {
    Cell ts{T_TYPESET, 0, 0, 0};
    for (uint32_t t : types) typeset::add(&ts, t);
    return ts;
}

class Typeset : public testing::RuntimeTest {};

TEST_F(Typeset, BitLayout) {
    Cell ts = set_of({T_UNSET});
    uint8_t b[12];
    std::memcpy(b, &ts.data1, 12);
    EXPECT_EQ(b[0], 0x20);
    ts = set_of({T_INTEGER});  // 11: byte 1, mask 0x10
    std::memcpy(b, &ts.data1, 12);
    EXPECT_EQ(b[1], 0x10);
    EXPECT_TRUE(typeset::has(&ts, T_INTEGER));
    EXPECT_FALSE(typeset::has(&ts, T_FLOAT));
}

TEST_F(Typeset, TextAndMake) {
    collector::Root block;
    testing::make_block(block.get(), {dt(T_INTEGER), dt(T_FLOAT)});
    Outcome o = run({Cell{T_NONE, 0, 0, 0}, block.cell},
                    [] { return typeset::make(nullptr, stack::arg(1), T_TYPESET); });
    ASSERT_EQ(o.error, "");
    EXPECT_EQ(testing::molded(o.value), "make typeset! [integer! float!]");
    EXPECT_EQ(testing::formed(o.value), "make typeset! [integer! float!]");
    EXPECT_EQ(testing::molded(o.value, true), "integer! float!");
    Cell empty{T_TYPESET, 0, 0, 0};
    EXPECT_EQ(testing::molded(empty), "make typeset! []");
    EXPECT_EQ(testing::molded(empty, true), "");

    // A word in the block is read through its value; a value of another kind is refused.
    Cell w = *word::load("my-types");
    Cell num = set_of({T_PAIR, T_TUPLE});
    context::set(&w, &num);
    testing::make_block(block.get(), {w, dt(T_LOGIC)});
    o = run({Cell{T_NONE, 0, 0, 0}, block.cell},
            [] { return typeset::make(nullptr, stack::arg(1), T_TYPESET); });
    EXPECT_EQ(testing::molded(o.value, true), "logic! pair! tuple!");
    testing::make_block(block.get(), {Cell{T_INTEGER, 0, 1, 0}});
    EXPECT_EQ(run({Cell{T_NONE, 0, 0, 0}, block.cell},
                  [] { return typeset::make(nullptr, stack::arg(1), T_TYPESET); }).error,
              "script/invalid-arg");
    EXPECT_EQ(run({Cell{T_NONE, 0, 0, 0}, Cell{T_NONE, 0, 0, 0}},
                  [] { return typeset::make(nullptr, stack::arg(1), T_TYPESET); }).error,
              "script/bad-to-arg");
}

TEST_F(Typeset, PartLimitStopsTheNames) {
    collector::Root out;
    string::make_at(out.get(), 16);
    Cell ts = set_of({T_INTEGER, T_FLOAT, T_PAIR});
    int32_t left = typeset::serialize(&ts, out.get(), true, true, 5);
    EXPECT_EQ(string::to_utf8(out.get()), "integer!");
    EXPECT_LT(left, 0);
}

TEST_F(Typeset, SpecBlocks) {
    collector::Root block;
    Cell w = *word::load("a-word-value");
    Cell inner = *word::load("inner");
    context::set(&w, &inner);
    collector::Root nested;
    testing::make_block(nested.get(), {});
    testing::make_block(block.get(), {dt(T_STRING), w, nested.cell});
    Cell ts;
    typeset::make_from_block(&ts, block.get());
    EXPECT_TRUE(typeset::has(&ts, T_STRING));
    EXPECT_TRUE(typeset::has(&ts, T_OBJECT));
    EXPECT_EQ(typeset::count(&ts), 2);
    testing::make_block(block.get(), {Cell{T_LOGIC, 1, 0, 0}});
    EXPECT_EQ(run({}, [&] { typeset::make_from_block(&ts, block.get()); return nullptr; }).error,
              "script/invalid-type-spec");
}

TEST_F(Typeset, BitwiseAndSetOperations) {
    const Cell a = set_of({T_INTEGER, T_FLOAT});
    const struct {
        Cell b;
        int op;
        Cell expect;
    } cases[] = {
        {dt(T_PAIR), OP_OR, set_of({T_INTEGER, T_FLOAT, T_PAIR})},
        {dt(T_PAIR), OP_AND, set_of({})},
        {set_of({T_FLOAT, T_PAIR}), OP_XOR, set_of({T_INTEGER, T_PAIR})},
        {dt(T_FLOAT), typeset::SET_EXCLUDE, set_of({T_INTEGER})},
        {set_of({T_FLOAT}), typeset::SET_INTERSECT, set_of({T_FLOAT})},
        {set_of({T_PAIR}), typeset::SET_UNION, set_of({T_INTEGER, T_FLOAT, T_PAIR})},
        {set_of({T_PAIR}), typeset::SET_UNIQUE, a},
    };
    for (const auto& c : cases) {
        Outcome o = run({a, c.b}, [&] { return typeset::do_bitwise(c.op); });
        ASSERT_EQ(o.error, "") << c.op;
        EXPECT_EQ(typeset::compare(&o.value, &c.expect, COMP_EQUAL), 0) << c.op;
    }
    EXPECT_EQ(run({a, Cell{T_INTEGER, 0, 1, 0}}, [] { return typeset::do_bitwise(OP_OR); }).error,
              "script/invalid-arg");
}

TEST_F(Typeset, FindCompareComplement) {
    collector::Root block;
    testing::make_block(block.get(), {});
    Cell def = *typeset::make_default(block.get());
    FindArgs args;
    Cell unset = dt(T_UNSET), integer = dt(T_INTEGER), one{T_INTEGER, 0, 1, 0};
    EXPECT_EQ(typeset::find(&def, &unset, args), &false_value);
    for (uint32_t t = 1; t <= type_registry::top_id; ++t) {
        if (t == T_UNSET) continue;
        Cell d = dt(t);
        EXPECT_EQ(typeset::find(&def, &d, args), &true_value) << t;
    }
    EXPECT_EQ(run({}, [&] { return typeset::find(&def, &one, args); }).error, "script/invalid-arg");
    (void)integer;

    Cell a = set_of({T_INTEGER}), b = set_of({T_INTEGER, T_FLOAT});
    EXPECT_EQ(typeset::compare(&a, &a, COMP_EQUAL), 0);
    EXPECT_EQ(typeset::compare(&a, &b, COMP_NOT_EQUAL), 1);
    EXPECT_EQ(typeset::compare(&a, &b, COMP_SORT), -1);
    EXPECT_EQ(typeset::compare(&a, &b, COMP_LESSER), NOT_COMPARABLE);
    EXPECT_EQ(typeset::compare(&a, &one, COMP_EQUAL), NOT_COMPARABLE);

    Cell c = b;
    typeset::complement(&c);
    EXPECT_FALSE(typeset::has(&c, T_INTEGER));
    EXPECT_TRUE(typeset::has(&c, 0));
    typeset::complement(&c);
    EXPECT_EQ(typeset::compare(&c, &b, COMP_STRICT_EQUAL), 0);
}

TEST_F(Typeset, ToBlockNamesTheTypes) {
    Cell ts = set_of({T_LOGIC, T_TIME});
    collector::Root out;
    typeset::to_block(&ts, out.get());
    SeriesBuffer* b = memory::buffer_of(cells::series_node(out.cell));
    ASSERT_EQ(b->length(), 2u);
    EXPECT_EQ(symbol::spelling(cells::word_symbol(b->head_cell()[0])), "logic!");
    EXPECT_EQ(symbol::spelling(cells::word_symbol(b->head_cell()[1])), "time!");
}

}  // namespace
}  // namespace kov
