// native!, action! and op!: making from [spec index] with its errors, refusal of empty table
// entries when made and when called, finding arguments and refinements by name, reflection,
// forming and molding, comparison, and making operators from each source kind.
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/boot.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/block.hpp"
#include "datatypes/error.hpp"
#include "datatypes/native.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/natives.hpp"
#include "tests/core/runtime_fixture.hpp"
#include "tests/datatypes/scalar_fixture.hpp"

namespace kov {
namespace {

using testing::call;
using testing::Outcome;

Cell W(const char* spelling, uint32_t type = T_WORD) {
    Cell w = *word::load(spelling);
    w.header = type;
    return w;
}
Cell R(const char* spelling) { return *word::load_as(spelling, T_REFINEMENT); }
Cell I(int32_t n) { return cells::make_integer(n); }

// A block of the cells, kept in the root block for the rest of the test.
Cell block_of(std::initializer_list<Cell> cells) {
    collector::Root b;
    block::make_at(b.get(), int32_t(cells.size()));
    for (const Cell& c : cells) block::append_value(b.get(), &c);
    boot::keep(b.get());
    return b.cell;
}

int calls_a = 0, calls_b = 0;
Status routine_a(const int32_t*) {
    calls_a++;
    return Status::normal;
}
Status routine_b(const int32_t*) {
    calls_b++;
    return Status::normal;
}

class Natives : public testing::RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        clear_tables();
        natives::table[0] = routine_a;
        natives::table[1] = routine_b;
        natives::table[natives::COUNT - 1] = routine_b;
        natives::table[natives::TABLE_SIZE - 1] = routine_a;
        actions::front_ends[0] = routine_a;
        actions::front_ends[ACTION_COUNT - 1] = routine_b;
        calls_a = calls_b = 0;
    }
    void TearDown() override { clear_tables(); }
    static void clear_tables() {
        for (NativeFn& f : natives::table) f = nullptr;
        for (NativeFn& f : actions::front_ends) f = nullptr;
    }

    // make native! or make action! from [spec index]; the value made is kept for the test.
    static Outcome make(uint32_t type, const Cell& spec, int32_t index) {
        return make_from(type, block_of({spec, I(index)}));
    }
    static Outcome make_from(uint32_t type, const Cell& arg) {
        Cell proto = cells::make_datatype(type);
        Outcome o = call({proto, arg}, [type] { native::make(stack::arg(0), stack::arg(1), type); });
        if (o.error.empty()) boot::keep(&o.value);  // alive for the rest of the test
        return o;
    }
    static Outcome make_op(const Cell& source) {
        Cell proto = cells::make_datatype(T_OP);
        return call({proto, source}, [] { native::make_op(stack::arg(0), stack::arg(1), T_OP); });
    }
    // A function! value of the spec and body, laid out as the function maker does.
    static Cell function_of(const Cell& spec, const Cell& body) {
        Cell unset = cells::make_unset();
        Cell extra = block_of({body, unset, unset, unset, unset});
        collector::Root sp(spec);
        Handle ctx = context::make(sp.get(), true, false, context::KIND_FUNCTION);
        Cell f{T_FUNCTION, ctx, sp->data2, extra.data2};
        boot::keep(&f);
        return f;
    }
    static std::string molded(const Cell& value, bool mold = true, int32_t* left = nullptr) {
        collector::Root v(value), out;
        string::make_at(out.get(), 16);
        int32_t limit = mold ? native::mold(v.get(), out.get(), false, false, false, false, 200, 0)
                             : native::form(v.get(), out.get(), false, 200);
        if (left) *left = limit;
        return string::to_utf8(out.get());
    }
};

TEST_F(Natives, MakeHoldsTheNumberTheSpecAndAnExtraBlock) {
    Cell spec = block_of({W("value"), R("only")});
    Outcome o = make(T_NATIVE, spec, 2);
    ASSERT_EQ(o.error, "");
    EXPECT_EQ(o.value.header, uint32_t(T_NATIVE));
    EXPECT_EQ(o.value.data1, 2u);
    EXPECT_EQ(o.value.data2, spec.data2);  // shared, not copied
    SeriesBuffer* extra = memory::buffer_of(o.value.data3);
    ASSERT_EQ(extra->used() / 16, 2u);
    EXPECT_EQ(extra->head_cell()[0].type(), uint32_t(T_CONTEXT));
    EXPECT_EQ(extra->head_cell()[1].type(), uint32_t(T_NONE));
    Outcome a = make(T_ACTION, spec, ACTION_COUNT);
    ASSERT_EQ(a.error, "");
    EXPECT_EQ(a.value.header, uint32_t(T_ACTION));
    EXPECT_EQ(a.value.data1, uint32_t(ACTION_COUNT));
    EXPECT_EQ(make(T_NATIVE, spec, natives::TABLE_SIZE).error, "");
}

TEST_F(Natives, MakeRefusesBadArguments) {
    Cell spec = block_of({W("value")});
    const struct {
        uint32_t type;
        Cell arg;
        const char* what;
    } cases[] = {
        {T_NATIVE, block_of({spec, I(0)}), "native index 0"},
        {T_NATIVE, block_of({spec, I(121)}), "native index 121"},
        {T_NATIVE, block_of({spec, I(-1)}), "negative index"},
        {T_ACTION, block_of({spec, I(0)}), "action index 0"},
        {T_ACTION, block_of({spec, I(63)}), "action index 63"},
        {T_NATIVE, block_of({spec, I(1), I(2)}), "three values"},
        {T_NATIVE, block_of({spec}), "one value"},
        {T_NATIVE, block_of({}), "empty"},
        {T_NATIVE, block_of({I(1), I(1)}), "spec not a block"},
        {T_NATIVE, block_of({spec, W("one")}), "index not an integer"},
        {T_NATIVE, I(1), "not a block"},
    };
    for (const auto& c : cases) EXPECT_EQ(make_from(c.type, c.arg).error, "script/bad-make-arg") << c.what;
    // The values are counted from the block's head.
    Cell arg = block_of({I(9), spec, I(1)});
    arg.data1 = 1;
    EXPECT_EQ(make_from(T_NATIVE, arg).error, "");
}

TEST_F(Natives, EmptyEntriesAreRefusedWhenMadeAndWhenCalled) {
    Cell spec = block_of({W("value")});
    EXPECT_EQ(make(T_NATIVE, spec, 3).error, "internal/not-done");
    EXPECT_EQ(make(T_NATIVE, spec, natives::COUNT + 1).error, "internal/not-done");
    EXPECT_EQ(make(T_ACTION, spec, 2).error, "internal/not-done");

    Outcome n = make(T_NATIVE, spec, 1);
    Outcome a = make(T_ACTION, spec, ACTION_COUNT);
    ASSERT_EQ(n.error, "");
    ASSERT_EQ(a.error, "");
    collector::Root nv(n.value), av(a.value);
    EXPECT_EQ(call({}, [&] { (void)native::call(nv.get(), nullptr); }).error, "");
    EXPECT_EQ(call({}, [&] { (void)native::call(av.get(), nullptr); }).error, "");
    EXPECT_EQ(calls_a, 1);
    EXPECT_EQ(calls_b, 1);
    // Entries emptied after the values were made: the call is refused, nothing runs.
    clear_tables();
    EXPECT_EQ(call({}, [&] { (void)native::call(nv.get(), nullptr); }).error, "internal/not-done");
    EXPECT_EQ(call({}, [&] { (void)native::call(av.get(), nullptr); }).error, "internal/not-done");
    EXPECT_EQ(calls_a + calls_b, 2);
    // A number outside the table is never read.
    Cell forged{T_NATIVE, 500, nv->data2, nv->data3};
    EXPECT_EQ(call({}, [&] { (void)native::routine(&forged); }).error, "internal/not-done");
}

TEST_F(Natives, ArgumentsAndRefinementsAreFoundByName) {
    Cell spec = block_of({W("series"), block_of({W("series!")}), W("value"), R("part"),
                          W("length"), R("only"), R("dup"), W("count")});
    Outcome o = make(T_ACTION, spec, 1);
    ASSERT_EQ(o.error, "");
    collector::Root v(o.value);
    // Survives collections that move buffers and nodes.
    collector::collect();
    const struct {
        const char* name;
        int32_t slot;
    } cases[] = {{"series", 0}, {"value", 1}, {"part", 2}, {"length", 3},
                 {"only", 4},   {"ONLY", 4},  {"dup", 5},  {"count", 6}, {"absent", -1}};
    for (const auto& c : cases)
        EXPECT_EQ(native::find_word(v.get(), symbol::make(c.name)), c.slot) << c.name;
}

TEST_F(Natives, ReflectGivesTheSpecAndTheTablePosition) {
    Cell spec = block_of({W("a"), W("b")});
    Outcome n = make(T_NATIVE, spec, natives::COUNT);
    ASSERT_EQ(n.error, "");
    Cell field_spec = W("spec"), field_body = W("body"), field_words = W("words");
    Outcome s = call({n.value, field_spec}, [] { native::reflect(stack::arg(0), stack::arg(1)); });
    EXPECT_EQ(s.value.type(), uint32_t(T_BLOCK));
    EXPECT_EQ(s.value.data2, spec.data2);
    EXPECT_EQ(s.value.data1, 0u);
    Outcome b = call({n.value, field_body}, [] { native::reflect(stack::arg(0), stack::arg(1)); });
    EXPECT_EQ(b.value.type(), uint32_t(T_INTEGER));
    EXPECT_EQ(cells::integer(b.value), natives::COUNT);
    EXPECT_EQ(call({n.value, field_words}, [] { native::reflect(stack::arg(0), stack::arg(1)); }).error,
              "internal/not-done");
    EXPECT_EQ(call({n.value, I(1)}, [] { native::reflect(stack::arg(0), stack::arg(1)); }).error,
              "internal/not-done");
    // action! and op! take reflect from native!.
    EXPECT_EQ(type_registry::table(T_ACTION).reflect.fn, type_registry::table(T_NATIVE).reflect.fn);
    EXPECT_EQ(type_registry::table(T_OP).reflect.fn, type_registry::table(T_NATIVE).reflect.fn);
}

TEST_F(Natives, FormAndMold) {
    Cell spec = block_of({W("value"), R("only")});
    Outcome n = make(T_NATIVE, spec, 1);
    Outcome a = make(T_ACTION, spec, 1);
    ASSERT_EQ(n.error + a.error, "");
    int32_t left = 0;
    EXPECT_EQ(molded(n.value, false, &left), "?native?");
    EXPECT_EQ(left, 192);
    EXPECT_EQ(molded(a.value, false, &left), "?action?");
    EXPECT_EQ(left, 192);
    EXPECT_EQ(molded(n.value, true, &left), "make native! [[value /only]]");
    EXPECT_EQ(left, 200 - 28);
    EXPECT_EQ(molded(a.value, true, &left), "make action! [[value /only]]");

    Outcome op = make_op(make(T_NATIVE, block_of({W("a"), W("b")}), 2).value);
    ASSERT_EQ(op.error, "");
    EXPECT_EQ(molded(op.value, false, &left), "?op?");
    EXPECT_EQ(left, 196);
    EXPECT_EQ(molded(op.value, true, &left), "make op! [[a b]]");
    EXPECT_EQ(left, 200 - 16);
}

TEST_F(Natives, CompareByRoutine) {
    Cell spec = block_of({W("a")});
    Cell n1 = make(T_NATIVE, spec, 1).value;
    Cell n1_again = make(T_NATIVE, block_of({W("b")}), 1).value;
    Cell n2 = make(T_NATIVE, spec, 2).value;
    Cell n107 = make(T_NATIVE, spec, natives::COUNT).value;  // the same routine as number 2
    Cell a1 = make(T_ACTION, spec, 1).value;
    const struct {
        Cell a, b;
        int32_t op, expected;
        const char* what;
    } cases[] = {
        {n1, n1_again, COMP_EQUAL, 0, "same number"},
        {n1, n1_again, COMP_STRICT_EQUAL, 0, "strict"},
        {n1, n1_again, COMP_SAME, 0, "sameness"},
        {n1, n2, COMP_EQUAL, -1, "numbers order"},
        {n2, n1, COMP_SORT, 1, "sort"},
        {n2, n107, COMP_EQUAL, 0, "same routine under two numbers"},
        {n1, n1, COMP_LESSER, NOT_COMPARABLE, "no ordering op"},
        {n1, n1, COMP_FIND_EXACT, NOT_COMPARABLE, "no matching op"},
        {n1, a1, COMP_EQUAL, NOT_COMPARABLE, "native and action"},
        {a1, n1, COMP_EQUAL, NOT_COMPARABLE, "action and native"},
        {n1, I(1), COMP_EQUAL, NOT_COMPARABLE, "integer"},
    };
    for (const auto& c : cases) EXPECT_EQ(native::compare(&c.a, &c.b, c.op), c.expected) << c.what;
}

TEST_F(Natives, OperatorSpecs) {
    const struct {
        Cell spec;
        bool valid;
        const char* what;
    } cases[] = {
        {block_of({W("a"), W("b")}), true, "two words"},
        {block_of({W("a"), block_of({W("integer!")}), W("b"), I(0)}), true, "types skipped"},
        {block_of({W("a"), W("b", T_LIT_WORD)}), true, "lit-word second"},
        {block_of({W("a"), W("b", T_GET_WORD)}), true, "get-word second"},
        {block_of({W("a", T_LIT_WORD), W("b")}), false, "lit-word first"},
        {block_of({W("a", T_GET_WORD), W("b")}), false, "get-word first"},
        {block_of({W("a"), W("b"), R("only")}), false, "a refinement"},
        {block_of({W("a"), W("b"), R("local"), W("c")}), true, "/local ends"},
        {block_of({W("a"), W("b"), R("extern"), W("c")}), true, "/extern ends"},
        {block_of({W("a"), W("b"), W("return", T_SET_WORD), W("c")}), true, "return: ends"},
        {block_of({W("a")}), false, "one argument"},
        {block_of({W("a"), W("b"), W("c")}), false, "three arguments"},
        {block_of({W("a"), R("local"), W("b")}), false, "/local after one"},
    };
    for (const auto& c : cases) EXPECT_EQ(native::valid_op_spec_q(c.spec.data2), c.valid) << c.what;
}

TEST_F(Natives, OperatorsFromEachSource) {
    Cell two = block_of({W("a"), W("b")});
    Cell n = make(T_NATIVE, two, 1).value;
    Cell a = make(T_ACTION, two, 1).value;
    Cell body = block_of({W("a"), W("+"), W("b")});
    Cell f = function_of(two, body);
    for (const Cell& source : {n, a, f}) {
        Outcome op = make_op(source);
        ASSERT_EQ(op.error, "");
        EXPECT_EQ(op.value.type(), uint32_t(T_OP));
        EXPECT_EQ(native::op_source(&op.value), source.type());
        EXPECT_EQ(op.value.header, source.type() * 65536 + T_OP);
        EXPECT_EQ(op.value.data1, source.data1);
        EXPECT_EQ(op.value.data2, source.data2);
        EXPECT_EQ(op.value.data3, source.data3);
    }
    // The function's extra block holds the callable function in its fourth cell.
    Cell stored = memory::buffer_of(f.data3)->head_cell()[3];
    EXPECT_EQ(stored.header, f.header);
    EXPECT_EQ(stored.data1, f.data1);
    // An op from a native keeps its routine; from a function it has none.
    Outcome from_native = make_op(n);
    collector::Root nop(from_native.value);
    EXPECT_EQ(call({}, [&] { (void)native::call(nop.get(), nullptr); }).error, "");
    EXPECT_EQ(calls_a, 1);
    Outcome from_function = make_op(f);
    collector::Root fop(from_function.value);
    EXPECT_EQ(call({}, [&] { (void)native::routine(fop.get()); }).error, "internal/not-done");
    EXPECT_EQ(native::find_word(fop.get(), symbol::make("b")), 1);
    EXPECT_EQ(native::find_word(nop.get(), symbol::make("B")), 1);

    Cell bad_spec = block_of({W("a", T_LIT_WORD), W("b")});
    const struct {
        Cell source;
        const char* error;
    } refused[] = {
        {I(1), "script/invalid-type"},
        {block_of({}), "script/invalid-type"},
        {make_op(n).value, "script/invalid-type"},
        {function_of(block_of({W("a"), W("b"), R("only")}), body), "script/bad-op-spec"},
        {function_of(bad_spec, body), "script/bad-op-spec"},
        {make(T_NATIVE, block_of({W("a")}), 1).value, "script/bad-op-spec"},
    };
    for (const auto& c : refused) EXPECT_EQ(make_op(c.source).error, c.error) << c.error;
    EXPECT_EQ(make_op(function_of(block_of({W("a"), W("b", T_LIT_WORD)}), body)).error, "");
}

TEST_F(Natives, OperatorFromAFunctionMoldsAsFunc) {
    Cell f = function_of(block_of({W("a"), W("b")}), block_of({W("a"), W("+"), W("b")}));
    Outcome op = make_op(f);
    ASSERT_EQ(op.error, "");
    int32_t left = 0;
    CallFrame* frames = stack::frame_top;
    Cell* top = stack::top;
    EXPECT_EQ(molded(op.value, true, &left), "make op! func [a b][a + b]");
    EXPECT_EQ(left, 200 - 26);
    EXPECT_EQ(stack::frame_top, frames);  // the naming frame is gone
    EXPECT_EQ(stack::top, top);
}

TEST_F(Natives, KindsRegisterUnderNative) {
    const ActionTable& n = type_registry::table(T_NATIVE);
    EXPECT_TRUE(n.make && n.reflect && n.form && n.mold && n.compare);
    EXPECT_FALSE(n.to || n.append || n.pick);
    const ActionTable& op = type_registry::table(T_OP);
    EXPECT_NE(op.make.fn, n.make.fn);
    EXPECT_EQ(type_registry::table(T_ACTION).make.fn, n.make.fn);
    EXPECT_EQ(std::string(type_registry::names[T_OP].name), "op!");
}

}  // namespace
}  // namespace kov
