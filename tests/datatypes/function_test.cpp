// function! and routine!: the spec dialect, gathering locals, building, make, reflection, text,
// comparison, routines, and copies of bodies that contain themselves.
#include <gtest/gtest.h>

#include "evaluator/routines.hpp"
#include "object_fixture.hpp"

namespace kov::testing {
namespace {

class FunctionTest : public ObjectTest {
protected:
    // Molds the spec of a function (or any block) into text.
    std::string spec_text(const Cell* fn) {
        Cell spec{T_BLOCK, 0, fn->data2, 0};
        return molded(&spec);
    }
};

TEST_F(FunctionTest, SpecDialect) {
    // `typed` gets a value before the table runs: a word whose value is a datatype is a valid type.
    collector::Root dt(cells::make_datatype(T_INTEGER));
    context::set(word::load("typed"), dt.get());
    struct Case {
        const char* spec;
        const char* error;  // "" when valid
        uint32_t flags;
    } cases[] = {
        {"[]", "", 0},
        {"[[trace] a]", "", function::FN_TRACE},
        {"[[no-trace catch] a]", "", function::FN_NO_TRACE},
        {"[[foo bar] a]", "", 0},
        {"[[trace 1] a]", "bad-func-def", 0},
        {"[a \"doc\" [integer!]]", "bad-func-def", 0},
        {"[a [integer!] \"doc\"]", "", 0},
        {"[a [typed] b [integer! block!]]", "", 0},
        {"[a [1]]", "invalid-type-spec", 0},
        {"[a [never-set-anywhere]]", "no-value", 0},
        {"['a :b c]", "", 0},
        {"[return: [integer!]]", "", 0},
        {"[return: integer!]", "bad-func-def", 0},
        {"[return: [integer!] a]", "bad-func-def", 0},
        {"[a return: [integer!] \"doc\"]", "", 0},
        {"[a return: [integer!] /local b]", "", 0},
        {"[return: [integer!] return: [integer!]]", "bad-func-def", 0},
        {"[/local a return: [integer!]]", "bad-func-def", 0},
        {"[value: [integer!]]", "bad-func-def", 0},
        {"[return: [integer!] /only]", "bad-func-def", 0},
        {"[/local a b]", "", 0},
        {"[/local 'a]", "bad-func-def", 0},
        {"[/local :a]", "bad-func-def", 0},
        {"[/only 'a]", "", 0},
        {"[/local a /only]", "bad-func-def", 0},
        {"[/only 1]", "bad-func-def", 0},
        {"[/only]", "", 0},
        {"[1]", "bad-func-def", 0},
        {"[a /A]", "dup-vars", 0},
        {"[a b 'A]", "dup-vars", 0},
        {"[a /local A]", "dup-vars", 0},
    };
    for (const Case& c : cases) {
        collector::Root spec;
        load(spec, c.spec);
        uint32_t flags = 0;
        EXPECT_EQ(error_of([&] { flags = function::validate(spec.get()); }), c.error) << c.spec;
        if (!*c.error) {
            EXPECT_EQ(flags, c.flags) << c.spec;
        }
    }
}

TEST_F(FunctionTest, DuplicateNamesReportTheRepeatedName) {
    collector::Root spec, arg;
    load(spec, "[a b /B]");
    EXPECT_EQ(error_of([&] { function::validate(spec.get()); }, arg.get()), "dup-vars");
    EXPECT_TRUE(arg->is(T_REFINEMENT));
    EXPECT_EQ(arg->data2, sym("B"));
}

TEST_F(FunctionTest, GatheringLocals) {
    struct Case {
        const char* spec;
        const char* body;
        const char* spec_after;
        const char* gathered;
    } cases[] = {
        {"[]", "[print (x: 1) foreach [a b] c [d]]", "[/local x a b]", "[x a b]"},
        {"[]", "[foreach w c [] remove-each :v c [] repeat i 3 [] repeat j: 3 []]",
         "[/local w i j]", "[w i j]"},
        {"[]", "[foreach 'lit c []]", "[]", "[]"},
        {"[a /local b]", "[b: 1 c: 2 c: 3 a: 4]", "[a /local b c]", "[c]"},
        {"[a]", "[A: 1 B: 2]", "[a /local B]", "[B]"},
        {"[p /extern q /local r]", "[q: 1 s: 2]", "[p /local r s]", "[r s]"},
        {"[/extern q]", "[q: 1]", "[]", "[]"},
        {"[]", "[local: 1 x: 2]", "[/local x]", "[x]"},
        {"[]", "[[[deep: 1]]]", "[/local deep]", "[deep]"},
        {"[]", "[1 2 3]", "[]", "[]"},
    };
    for (const Case& c : cases) {
        collector::Root spec, body;
        load(spec, c.spec);
        load(body, c.body);
        Cell* gathered = function::collect_locals(spec.get(), body.get());
        EXPECT_EQ(molded(gathered), c.gathered) << c.body;
        stack::pop(1);
        EXPECT_EQ(molded(spec.get()), c.spec_after) << c.body;
    }
}

TEST_F(FunctionTest, GatheringLocalsRejectsOddExternSpecs) {
    collector::Root spec, body, arg;
    load(spec, "[a /extern b 7]");
    load(body, "[b: 1]");
    EXPECT_EQ(error_of([&] { function::collect_locals(spec.get(), body.get()); }, arg.get()),
              "bad-func-extern");
    EXPECT_EQ(cells::integer(arg.cell), 7);
}

TEST_F(FunctionTest, GatheringLocalsEndsOnABodyThatContainsItself) {
    collector::Root spec, body;
    load(spec, "[]");
    load(body, "[x: 1]");
    block::append_value(body.get(), body.get());
    Cell* gathered = function::collect_locals(spec.get(), body.get());
    EXPECT_EQ(molded(gathered), "[x]");
    stack::pop(1);
}

TEST_F(FunctionTest, MakeBuildsTheValue) {
    collector::Root arg, fn;
    load(arg, "[[a b /local c] [a + b]]");
    fn.cell = *function::make(nullptr, arg.get(), T_FUNCTION);
    stack::pop(1);
    ASSERT_TRUE(fn->is(T_FUNCTION));
    Cell spec = at(arg.get(), 0), body = at(arg.get(), 1);
    EXPECT_EQ(fn->data2, spec.data2);  // a spec at its head is shared
    Cell* own_body = function::extra(fn.get(), function::EXTRA_BODY);
    EXPECT_NE(own_body->data2, body.data2);  // the body is copied
    Cell first = at(own_body, 0);
    EXPECT_EQ(first.data1, fn->data1);  // and bound to the function's context
    EXPECT_EQ(first.data3, 0u);
    EXPECT_TRUE(function::extra(fn.get(), function::EXTRA_ARGS)->is(T_UNSET));
    EXPECT_TRUE(function::extra(fn.get(), function::EXTRA_CODE)->is(T_UNSET));
    EXPECT_TRUE(function::extra(fn.get(), function::EXTRA_OWNER)->is(T_UNSET));
    const Cell* owner = context::owner(fn->data1);
    EXPECT_EQ(owner->header, fn->header);
    EXPECT_EQ(owner->data3, fn->data3);
    EXPECT_EQ(context::word_count(fn->data1), 4u);  // a b c and /local
}

TEST_F(FunctionTest, MakeRejectsArgumentsThatAreNotTwoBlocks) {
    for (const char* text : {"[[a]]", "[1 [a]]", "[[a] 1]", "[]"}) {
        collector::Root arg, err;
        load(arg, text);
        EXPECT_EQ(error_of([&] { function::make(nullptr, arg.get(), T_FUNCTION); }, err.get()),
                  "bad-func-def")
            << text;
        EXPECT_EQ(err->data2, arg->data2) << text;  // the whole argument
    }
    collector::Root integer_arg(cells::make_integer(1));
    EXPECT_EQ(error_of([&] { function::make(nullptr, integer_arg.get(), T_FUNCTION); }), "bad-func-def");
}

TEST_F(FunctionTest, PushKeepsItsArguments) {
    collector::Root spec, body, fn;
    load(spec, "[x y z]");
    load(body, "[x]");
    spec->data1 = 1;  // a spec away from its head is copied from there
    function::push(spec.get(), body.get(), 0, 17, 5, function::FN_TRACE);
    fn.cell = *stack::top_value();
    stack::pop(1);
    EXPECT_NE(fn->data2, spec->data2);
    EXPECT_EQ(spec_text(fn.get()), "[y z]");
    EXPECT_EQ(fn->header & function::FN_TRACE, function::FN_TRACE);
    EXPECT_EQ(cells::integer(*function::extra(fn.get(), function::EXTRA_CODE)), 17);
    EXPECT_EQ(cells::integer(*function::extra(fn.get(), function::EXTRA_OWNER)), 5);
    // Without a body: none!.
    function::push(spec.get(), nullptr, 0, 0, 0, 0);
    fn.cell = *stack::top_value();
    stack::pop(1);
    EXPECT_TRUE(function::extra(fn.get(), function::EXTRA_BODY)->is(T_NONE));
}

TEST_F(FunctionTest, ABodyThatContainsItselfCannotBeCopied) {
    collector::Root spec, body;
    load(spec, "[a]");
    load(body, "[a]");
    block::append_value(body.get(), body.get());
    EXPECT_EQ(error_of([&] { function::push(spec.get(), body.get(), 0, 0, 0, 0); }), "no-cycle");
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(FunctionTest, MoldingAFunctionInsideItsOwnBodyEnds) {
    collector::Root fn;
    make_function(fn, "[a]", "[a]");
    collector::Root body(*function::extra(fn.get(), function::EXTRA_BODY));
    block::append_value(body.get(), fn.get());
    EXPECT_EQ(molded(fn.get()), "func [a][a func [a][...]]");
}

TEST_F(FunctionTest, Reflection) {
    collector::Root fn, field, result;
    make_function(fn, "[a b]", "[a]");
    field.cell = *word::load("spec");
    result.cell = *function::reflect(fn.get(), field.get());
    EXPECT_EQ(result->data2, fn->data2);
    // The spec itself: changing it changes the function's spec.
    Cell extra_word = *word::load("c");
    block::append_value(result.get(), &extra_word);
    EXPECT_EQ(spec_text(fn.get()), "[a b c]");

    field.cell = *word::load("body");
    result.cell = *function::reflect(fn.get(), field.get());
    EXPECT_EQ(result->data2, function::extra(fn.get(), function::EXTRA_BODY)->data2);

    field.cell = *word::load("words");
    result.cell = *function::reflect(fn.get(), field.get());
    stack::pop(1);
    ASSERT_EQ(count(result.get()), 2u);
    EXPECT_EQ(at(result.get(), 0).data1, fn->data1);
    EXPECT_EQ(at(result.get(), 1).data2, sym("b"));
    EXPECT_NE(result->data2, context::word_block(fn->data1));

    field.cell = *word::load("types");
    EXPECT_EQ(error_of([&] { function::reflect(fn.get(), field.get()); }), "not-done");
}

TEST_F(FunctionTest, FormAndMold) {
    collector::Root fn, out;
    make_function(fn, "[a /local b]", "[a + 1]");
    EXPECT_EQ(formed(fn.get()), "?function?");
    EXPECT_EQ(molded(fn.get()), "func [a /local b][a + 1]");
    string::make_at(out.get(), 16);
    EXPECT_EQ(function::form(fn.get(), out.get(), false, 100), 90);
    string::make_at(out.get(), 16);
    int32_t left = function::mold(fn.get(), out.get(), false, false, false, false, 100, 0);
    EXPECT_EQ(left, 100 - int32_t(string::to_utf8(out.get()).size()));

    collector::Root spec;
    load(spec, "[a]");
    function::push(spec.get(), nullptr, 0, 0, 0, 0);
    fn.cell = *stack::top_value();
    stack::pop(1);
    EXPECT_EQ(molded(fn.get()), "func [a] none");
}

TEST_F(FunctionTest, Compare) {
    collector::Root f, g, spec, body;
    load(spec, "[a]");
    load(body, "[a]");
    function::push(spec.get(), body.get(), 0, 0, 0, 0);
    f.cell = *stack::top_value();
    function::push(spec.get(), body.get(), 0, 0, 0, 0);
    g.cell = *stack::top_value();
    stack::pop(2);
    for (int op : {COMP_EQUAL, COMP_STRICT_EQUAL, COMP_SAME, COMP_FIND}) {
        EXPECT_EQ(function::compare(f.get(), f.get(), op), 0) << op;
        EXPECT_NE(function::compare(f.get(), g.get(), op), 0) << op;
    }
    EXPECT_EQ(function::compare(f.get(), g.get(), COMP_SORT), -function::compare(g.get(), f.get(), COMP_SORT));
    EXPECT_EQ(function::compare(f.get(), g.get(), COMP_LESSER), NOT_COMPARABLE);
    EXPECT_EQ(function::compare(f.get(), &none_value, COMP_EQUAL), NOT_COMPARABLE);
}

TEST_F(FunctionTest, CountingLocalsAndAbsentRefinements) {
    collector::Root spec;
    load(spec, "[a /ref b /local c d \"doc\" e]");
    EXPECT_EQ(function::count_locals(spec->data2, 0, false), 4);
    EXPECT_EQ(function::count_locals(spec->data2, 6, false), 0);  // from past /local
    EXPECT_EQ(function::count_locals(spec->data2, 6, true), -1);
    stack::Snapshot snap;
    Cell* first = stack::top;
    function::push_absent_refinement(3);
    ASSERT_EQ(stack::top - first, 3);
    EXPECT_TRUE(first[0].is(T_LOGIC) && !cells::logic(first[0]));
    EXPECT_TRUE(first[1].is(T_NONE) && first[2].is(T_NONE));
}

TEST_F(FunctionTest, Routines) {
    routines::reset();
    int32_t index = routines::add([] { *stack::arguments = cells::make_integer(42); });
    EXPECT_EQ(index, 1);
    EXPECT_NE(routines::at(index), nullptr);
    EXPECT_EQ(routines::at(0), nullptr);
    EXPECT_EQ(routines::at(2), nullptr);

    collector::Root spec, body, r, field;
    load(spec, "[a [integer!] b /only c]");
    load(body, "[native code]");
    r.cell = *routine::push(spec.get(), body.get(), index, 9, true);
    stack::pop(1);
    EXPECT_TRUE(r->is(T_ROUTINE));
    EXPECT_EQ(routine::arity(r.get()), 3u);
    EXPECT_EQ(r->header & routine::ROUTINE_FLAG, routine::ROUTINE_FLAG);
    EXPECT_EQ(cells::integer(*function::extra(r.get(), function::EXTRA_CODE)), index);
    EXPECT_EQ(cells::integer(*function::extra(r.get(), function::EXTRA_OWNER)), 9);
    EXPECT_EQ(formed(r.get()), "?routine?");
    EXPECT_EQ(molded(r.get()), "routine [a [integer!] b /only c][native code]");
    field.cell = *word::load("spec");
    EXPECT_EQ(type_registry::table(T_ROUTINE).reflect(r.get(), field.get())->data2, r->data2);
    EXPECT_FALSE(type_registry::supports(T_ROUTINE, A_MAKE));

    collector::Root no_body;
    no_body.cell = *routine::push(spec.get(), nullptr, index, 0, false);
    stack::pop(1);
    EXPECT_EQ(no_body->header & routine::ROUTINE_FLAG, 0u);
    EXPECT_EQ(molded(no_body.get()), "routine [a [integer!] b /only c] none");

    std::string many = "[";
    for (int i = 0; i < 32; i++) many += "w" + std::to_string(i) + " ";
    many += "]";
    collector::Root wide;
    load(wide, many.c_str());
    EXPECT_EQ(error_of([&] { routine::push(wide.get(), nullptr, index, 0, false); }), "bad-func-def");
}

}  // namespace
}  // namespace kov::testing
