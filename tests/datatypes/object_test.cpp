// object!: class ids, making from blocks, objects and prototypes, construct, set, the event
// record (the handlers' calls are run as Kov code in tests/lang/datatypes/object-events.kov),
// paths, select, put, copy, modify, reflection, form and mold with indentation, compare.
#include <gtest/gtest.h>

#include "core/ownership.hpp"
#include "datatypes/series.hpp"
#include "object_fixture.hpp"

namespace kov::testing {
namespace {

class ObjectsTest : public ObjectTest {
protected:
    static int32_t int_field(const Cell* obj, const char* name) { return cells::integer(field(obj, name)); }

    Cell reflect(const Cell* obj, const char* what) {
        collector::Root o(*obj), w(*word::load(what));
        Cell r = *object::reflect(o.get(), w.get());
        stack::pop(1);
        return r;
    }
    std::string changed(const Cell* obj) {
        collector::Root r(reflect(obj, "changed"));
        return molded(r.get());
    }
};

TEST_F(ObjectsTest, ClassIds) {
    collector::Root a, b, child, same, wider;
    make_object(a, "[x: 1 y: 2]");
    make_object(b, "[x: 1 y: 2]");
    EXPECT_GT(a->data2, object::FIRST_CLASS_ID);
    EXPECT_NE(a->data2, b->data2);
    make_object(same, "[x: 5]", a.get());
    EXPECT_EQ(same->data2, a->data2);
    EXPECT_EQ(int_field(same.get(), "x"), 5);
    EXPECT_EQ(int_field(same.get(), "y"), 2);
    make_object(wider, "[z: 3]", a.get());
    EXPECT_NE(wider->data2, a->data2);
    EXPECT_EQ(object::word_count(wider.get()), 3u);
    EXPECT_EQ(object::new_class_id(), b->data2 + 2);  // a, b, wider took ids
    EXPECT_TRUE(object::slot_is_class_q(wider->data1, 0, 0) == false);
}

TEST_F(ObjectsTest, MakeCopiesWhatItInherits) {
    collector::Root proto, child, f, body;
    make_object(proto, "[items: [1 2] total: func [] [items]]");
    make_object(child, "[]", proto.get());
    Cell mine = field(child.get(), "items"), theirs = field(proto.get(), "items");
    EXPECT_NE(mine.data2, theirs.data2);  // a new block
    collector::Root m(mine);
    Cell three = cells::make_integer(3);
    block::append_value(m.get(), &three);
    EXPECT_EQ(read(&theirs), (std::vector<int32_t>{1, 2}));
    // The inherited function runs on the child's fields: its body words are bound to the child.
    f.cell = field(child.get(), "total");
    ASSERT_TRUE(f->is(T_FUNCTION));
    EXPECT_NE(f->data3, field(proto.get(), "total").data3);
    body.cell = *function::extra(f.get(), function::EXTRA_BODY);
    EXPECT_EQ(at(body.get(), 0).data1, child->data1);
    EXPECT_TRUE(function::extra(f.get(), function::EXTRA_CODE)->is(T_UNSET));
}

TEST_F(ObjectsTest, MakeFromAnObjectSpec) {
    collector::Root proto, extra, result;
    make_object(proto, "[a: 1 list: [1]]");
    make_object(extra, "[a: 9 b: 2]");
    collector::Root list(field(proto.get(), "list"));
    result.cell = *object::make(proto.get(), extra.get(), T_OBJECT);
    stack::pop(1);
    EXPECT_EQ(int_field(result.get(), "a"), 1);  // present words keep their values
    EXPECT_EQ(int_field(result.get(), "b"), 2);
    EXPECT_NE(field(result.get(), "list").data2, list->data2);
    EXPECT_NE(result->data2, proto->data2);
    collector::Root none_spec(none_value), err;
    EXPECT_EQ(error_of([&] { object::make(proto.get(), none_spec.get(), T_OBJECT); }, err.get()),
              "malconstruct");
}

TEST_F(ObjectsTest, MakeNeedsTheEvaluator) {
    object::eval_hook = nullptr;
    collector::Root o;
    EXPECT_EQ(error_of([&] { make_object(o, "[a: 1]"); }), "not-done");
}

TEST_F(ObjectsTest, HandlersMustBeFunctions) {
    collector::Root o, arg;
    EXPECT_EQ(error_of([&] { make_object(o, "[a: 1 on-change*: 5]"); }, arg.get()), "bad-field-set");
    EXPECT_EQ(arg->data2, sym("on-change*"));
    make_object(o, "[a: 1]");
    EXPECT_EQ(o->data3, 0u);
    make_object(o, "[a: 1 on-change*: func [w o n] []]");
    ASSERT_NE(o->data3, 0u);
    const Cell* rec = memory::buffer_of(o->data3)->head_cell();
    EXPECT_EQ(rec[0].data2, 1u << 16);
    EXPECT_EQ(rec[1].data2, object::NO_HANDLER);
    EXPECT_EQ(context::owner(o->data1)->data3, o->data3);
}

TEST_F(ObjectsTest, DeepChangeOfAnOwnerWithoutEventsIsRefused) {
    collector::Root owner_only, action(*word::load("cleared"));
    make_object(owner_only, "[a: 1]");
    collector::Root w(*word::load("a"));
    EXPECT_EQ(error_of([&] {
                  object::fire_on_deep_change(owner_only.get(), w.get(), owner_only.get(),
                                              action.get(), nullptr, 0, 0);
              }),
              "invalid-obj-evt");
}

TEST_F(ObjectsTest, SetValues) {
    struct Case {
        const char* values;
        bool any, only, some;
        const char* error;
        int32_t a, b, c;  // -1: none!, -2: the block itself
    } cases[] = {
        {"[1 2]", false, false, false, "", 1, 2, -1},
        {"[1 2 3 4]", false, false, false, "", 1, 2, 3},
        {"[1 none 3]", false, false, true, "", 1, 20, 3},
        {"[5 6 7]", false, true, false, "", -2, -2, -2},
    };
    for (const Case& k : cases) {
        collector::Root o, values;
        make_object(o, "[a: 10 b: 20 c: 30]");
        load(values, k.values);
        // The word none in the block reads as none!.
        for (uint32_t i = 0; i < count(values.get()); i++) {
            Cell* c = memory::buffer_of(values->data2)->head_cell() + i;
            if (c->is(T_WORD)) *c = none_value;
        }
        EXPECT_EQ(error_of([&] { object::set_values(o.get(), values.get(), k.any, k.only, k.some); }),
                  k.error)
            << k.values;
        int32_t expected[3] = {k.a, k.b, k.c};
        const char* names[3] = {"a", "b", "c"};
        for (int i = 0; i < 3; i++) {
            Cell v = field(o.get(), names[i]);
            if (expected[i] == -1) EXPECT_TRUE(v.is(T_NONE)) << k.values << " " << names[i];
            else if (expected[i] == -2) EXPECT_EQ(v.data2, values->data2) << k.values;
            else EXPECT_EQ(cells::integer(v), expected[i]) << k.values << " " << names[i];
        }
    }
}

TEST_F(ObjectsTest, SetValuesWithUnsetAndFromObjects) {
    collector::Root o, values, source, arg;
    make_object(o, "[a: 10 b: 20]");
    load(values, "[1 2]");
    *(memory::buffer_of(values->data2)->head_cell() + 1) = unset_value;
    EXPECT_EQ(error_of([&] { object::set_values(o.get(), values.get(), false, false, false); },
                       arg.get()),
              "need-value");
    EXPECT_EQ(arg->data2, sym("b"));
    EXPECT_EQ(int_field(o.get(), "a"), 10);  // nothing assigned before the check
    object::set_values(o.get(), values.get(), true, false, false);
    EXPECT_TRUE(field(o.get(), "b").is(T_UNSET));
    // From an object: fields matched by name, ignoring case; unmatched fields are kept.
    make_object(o, "[a: 10 b: 20]");
    make_object(source, "[B: 7 z: 1]");
    object::set_values(o.get(), source.get(), false, false, false);
    EXPECT_EQ(int_field(o.get(), "a"), 10);
    EXPECT_EQ(int_field(o.get(), "b"), 7);
}

TEST_F(ObjectsTest, Construct) {
    collector::Root spec, o, proto;
    load(spec, "[a: b: 1 c: yes d: Off e: none f: word g:]");
    o.cell = *object::construct(spec.get(), nullptr, false);
    stack::pop(1);
    EXPECT_EQ(int_field(o.get(), "a"), 1);
    EXPECT_EQ(int_field(o.get(), "b"), 1);
    EXPECT_TRUE(field(o.get(), "c").is(T_LOGIC) && cells::logic(field(o.get(), "c")));
    EXPECT_TRUE(field(o.get(), "d").is(T_LOGIC) && !cells::logic(field(o.get(), "d")));
    EXPECT_TRUE(field(o.get(), "e").is(T_NONE));
    EXPECT_TRUE(field(o.get(), "f").is(T_WORD));
    EXPECT_TRUE(field(o.get(), "g").is(T_NONE));
    EXPECT_GT(o->data2, object::FIRST_CLASS_ID);
    o.cell = *object::construct(spec.get(), nullptr, true);
    stack::pop(1);
    EXPECT_TRUE(field(o.get(), "c").is(T_WORD));
    // With a prototype: a copy, class id kept even when words are added.
    make_object(proto, "[a: 5 list: [1]]");
    o.cell = *object::construct(spec.get(), proto.get(), false);
    stack::pop(1);
    EXPECT_EQ(o->data2, proto->data2);
    EXPECT_EQ(int_field(o.get(), "a"), 1);
    EXPECT_NE(field(o.get(), "list").data2, field(proto.get(), "list").data2);
}

TEST_F(ObjectsTest, Paths) {
    collector::Root o, path, elem, result;
    make_object(o, "[a: 1 u: 2]");
    *context::value_cell(o->data1, 1) = unset_value;
    struct Case {
        const char* element;
        uint32_t path_type;
        bool last;
        const char* error;  // "" reads
    } cases[] = {
        {"a", T_PATH, true, ""},
        {"A", T_PATH, false, ""},
        {"missing", T_PATH, true, "invalid-path"},
        {"missing", T_PATH, false, "unset-path"},
        {"missing", T_GET_PATH, true, ""},
        {"u", T_PATH, true, "invalid-path"},
        {"u", T_PATH, false, "unset-path"},
        {"u", T_GET_PATH, true, ""},
    };
    for (const Case& c : cases) {
        path.cell = Cell{c.path_type, 0, 0, 0};
        elem.cell = Cell{T_WORD, 0, sym(c.element), cells::NO_INDEX};
        PathStep step{o.get(), elem.get(), nullptr, path.get(), nullptr, nullptr, nullptr, 2, false,
                      c.last, false};
        std::string err = error_of([&] {
            result.cell = *object::eval_path(step);
            stack::pop(1);
        });
        EXPECT_EQ(err, c.error) << c.element;
    }
    // A found element is bound to the object in place.
    elem.cell = Cell{T_GET_WORD, 0, sym("a"), cells::NO_INDEX};
    PathStep step{o.get(), elem.get(), nullptr, path.get(), nullptr, nullptr, nullptr, 2, false, true, false};
    result.cell = *object::eval_path(step);
    stack::pop(1);
    EXPECT_EQ(cells::integer(result.cell), 1);
    EXPECT_EQ(elem->data1, o->data1);
    EXPECT_EQ(elem->data3, 0u);
    // Elements that are not words; setting a missing field.
    collector::Root one(cells::make_integer(1));
    step.element = one.get();
    EXPECT_EQ(error_of([&] { object::eval_path(step); }), "invalid-path");
    EXPECT_EQ(error_of([&] { set_path(o.get(), "missing", one.get()); }), "invalid-path");
    // Without handlers a set stores and marks the field.
    set_path(o.get(), "a", one.get());
    EXPECT_EQ(changed(o.get()), "[a]");
}

TEST_F(ObjectsTest, SelectPutCopyErrors) {
    collector::Root o, key(cells::make_integer(1)), word(*word::load("a")), lit(*word::load("b"));
    make_object(o, "[a: 1]");
    FindArgs args;
    collector::Root r(*object::select(o.get(), word.get(), args));
    EXPECT_EQ(cells::integer(r.cell), 1);
    lit->header = T_LIT_WORD;
    r.cell = *object::select(o.get(), lit.get(), args);
    EXPECT_TRUE(r->is(T_NONE));
    stack::pop(2);
    EXPECT_EQ(error_of([&] { object::select(o.get(), key.get(), args); }), "invalid-type");
    EXPECT_EQ(error_of([&] { object::put(o.get(), key.get(), key.get(), false); }), "invalid-key-type");
    EXPECT_EQ(error_of([&] { object::put(o.get(), lit.get(), key.get(), false); }), "invalid-key-type");
    collector::Root result;
    EXPECT_EQ(error_of([&] { object::copy(o.get(), result.get(), key.get(), false, nullptr); }),
              "invalid-refine-arg");
}

TEST_F(ObjectsTest, Copies) {
    collector::Root o, shallow, deep, typed, types(cells::make_datatype(T_BLOCK));
    make_object(o, "[list: [[1] 2] n: 3]");
    object::copy(o.get(), shallow.get(), nullptr, false, nullptr);
    object::copy(o.get(), deep.get(), nullptr, true, nullptr);
    EXPECT_NE(shallow->data1, o->data1);
    EXPECT_EQ(shallow->data2, o->data2);
    EXPECT_EQ(field(shallow.get(), "list").data2, field(o.get(), "list").data2);
    Cell copied = field(deep.get(), "list"), original = field(o.get(), "list");
    EXPECT_NE(copied.data2, original.data2);
    EXPECT_EQ(at(&copied, 0).data2, at(&original, 0).data2);  // one level only
    object::copy(o.get(), typed.get(), nullptr, true, types.get());
    copied = field(typed.get(), "list");
    EXPECT_NE(copied.data2, original.data2);
    EXPECT_NE(at(&copied, 0).data2, at(&original, 0).data2);
    // Words of the copy are bound to the copy.
    collector::Root words(reflect(shallow.get(), "words"));
    EXPECT_EQ(at(words.get(), 0).data1, shallow->data1);
}

TEST_F(ObjectsTest, CopyingAFunctionWhoseBodyContainsItself) {
    collector::Root o, copy, f, body;
    make_object(o, "[f: func [] [a]]");
    f.cell = field(o.get(), "f");
    body.cell = *function::extra(f.get(), function::EXTRA_BODY);
    block::append_value(body.get(), body.get());
    EXPECT_EQ(error_of([&] { object::copy(o.get(), copy.get(), nullptr, false, nullptr); }), "no-cycle");
    EXPECT_EQ(cycles::depth(), 0u);
    collector::Root child;
    EXPECT_EQ(error_of([&] { make_object(child, "[]", o.get()); }), "no-cycle");
}

TEST_F(ObjectsTest, CopyingACompiledFunctionWithoutBody) {
    collector::Root o, spec, copy;
    make_object(o, "[f: 1]");
    load(spec, "[]");
    function::push(spec.get(), nullptr, 0, 3, 0, 0);
    *context::value_cell(o->data1, 0) = *stack::top_value();
    stack::pop(1);
    EXPECT_EQ(error_of([&] { object::copy(o.get(), copy.get(), nullptr, false, nullptr); }), "bad-func-def");
}

TEST_F(ObjectsTest, Reflection) {
    collector::Root o, r;
    make_object(o, "[a: 'w p: 2]");
    collector::Root path;
    block::make_at(path.get(), 1);
    path->header = T_PATH;
    *context::value_cell(o->data1, 1) = path.cell;
    EXPECT_EQ(changed(o.get()), "[]");  // making clears the set
    r.cell = reflect(o.get(), "class");
    EXPECT_EQ(uint32_t(cells::integer(r.cell)), o->data2);
    r.cell = reflect(o.get(), "body");
    ASSERT_EQ(count(r.get()), 4u);
    EXPECT_EQ(at(r.get(), 0).header, T_SET_WORD | CELL_NEW_LINE);
    EXPECT_EQ(at(r.get(), 0).data1, o->data1);
    EXPECT_TRUE(at(r.get(), 1).is(T_LIT_WORD));
    EXPECT_TRUE(at(r.get(), 3).is(T_LIT_PATH));
    r.cell = reflect(o.get(), "values");
    EXPECT_TRUE(at(r.get(), 0).is(T_WORD));
    EXPECT_NE(r->data2, context::cell(o->data1)->data2);
    r.cell = reflect(o.get(), "owner");
    EXPECT_FALSE(cells::logic(r.cell));
    r.cell = reflect(o.get(), "events?");
    EXPECT_FALSE(cells::logic(r.cell));
    collector::Root what(*word::load("spec"));
    EXPECT_EQ(error_of([&] { object::reflect(o.get(), what.get()); }), "not-done");
}

TEST_F(ObjectsTest, Modify) {
    collector::Root o, one(cells::make_integer(1)), field_word(*word::load("changed")), arg;
    make_object(o, "[a: 1 list: [1]]");
    set_path(o.get(), "a", one.get());
    EXPECT_EQ(changed(o.get()), "[a]");
    EXPECT_EQ(error_of([&] { object::modify(o.get(), field_word.get(), one.get(), false); }, arg.get()),
              "invalid-arg");
    object::modify(o.get(), field_word.get(), &none_value, false);
    stack::pop(1);
    EXPECT_EQ(changed(o.get()), "[]");

    field_word.cell = *word::load("owner");
    object::modify(o.get(), field_word.get(), &true_value, false);
    stack::pop(1);
    EXPECT_TRUE(cells::logic(reflect(o.get(), "owner")));
    Cell list = field(o.get(), "list");
    EXPECT_NE(memory::buffer_of(list.data2)->flags & SER_OWNED, 0u);
    field_word.cell = *word::load("owned");
    object::modify(o.get(), field_word.get(), &none_value, false);
    stack::pop(1);
    EXPECT_EQ(memory::buffer_of(list.data2)->flags & SER_OWNED, 0u);
    EXPECT_FALSE(cells::logic(reflect(o.get(), "owner")));
    collector::Root held;
    load(held, "[[5] [6]]");
    object::modify(o.get(), field_word.get(), held.get(), false);
    stack::pop(1);
    EXPECT_NE(memory::buffer_of(at(held.get(), 1).data2)->flags & SER_OWNED, 0u);
}

TEST_F(ObjectsTest, MoldAndFormIndentNestedObjects) {
    collector::Root o, inner;
    make_object(inner, "[x: 1 y: 'w]");
    make_object(o, "[a: 1 b: 2]");
    *context::value_cell(o->data1, 1) = inner.cell;
    EXPECT_EQ(molded(o.get()),
              "make object! [\n"
              "    a: 1\n"
              "    b: make object! [\n"
              "        x: 1\n"
              "        y: 'w\n"
              "    ]\n"
              "]");
    EXPECT_EQ(molded(o.get(), false, true), "make object! [a: 1 b: make object! [x: 1 y: 'w]]");
    EXPECT_EQ(molded(o.get(), true), "a: 1\nb: make object! [\n        x: 1\n        y: 'w\n    ]");
    EXPECT_EQ(formed(inner.get()), "x: 1\ny: 'w");
    collector::Root empty;
    make_object(empty, "[]");
    EXPECT_EQ(molded(empty.get()), "make object! [\n]");
}

TEST_F(ObjectsTest, MoldSkipsHandlersUnlessAll) {
    collector::Root o, out;
    make_object(o, "[a: 1 on-change*: func [w o n] []]");
    EXPECT_EQ(formed(o.get()), "a: 1");
    EXPECT_EQ(molded(o.get(), false, true), "make object! [a: 1]");
    string::make_at(out.get(), 16);
    object::mold(o.get(), out.get(), false, true, true, false, 1000, 0);
    EXPECT_EQ(string::to_utf8(out.get()), "make object! [a: 1 on-change*: func [w o n][]]");
}

TEST_F(ObjectsTest, MoldOfAnObjectThatContainsItself) {
    collector::Root o;
    make_object(o, "[a: 1 me: 2]");
    *context::value_cell(o->data1, 1) = o.cell;
    EXPECT_EQ(molded(o.get(), false, true), "make object! [a: 1 me: make object! [...]]");
    EXPECT_EQ(formed(o.get()), "a: 1\nme: make object! [...]");
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(ObjectsTest, PartLimitsTheText) {
    collector::Root o, out;
    make_object(o, "[a: 1 b: 2 c: 3 d: 4]");
    string::make_at(out.get(), 16);
    int32_t left = object::mold(o.get(), out.get(), false, false, true, true, 18, 0);
    std::string text = string::to_utf8(out.get());
    EXPECT_LT(text.size(), std::string("make object! [a: 1 b: 2 c: 3 d: 4]").size());
    EXPECT_LE(left, 0);
}

TEST_F(ObjectsTest, Compare) {
    collector::Root a, b, c, d, e;
    make_object(a, "[x: 1 y: 2]");
    make_object(b, "[x: 1 y: 2]");
    make_object(c, "[x: 1 y: 3]");
    make_object(d, "[x: 1]");
    make_object(e, "[x: 1 z: 2]");
    EXPECT_EQ(object::compare(a.get(), a.get(), COMP_SAME), 0);
    EXPECT_EQ(object::compare(a.get(), b.get(), COMP_SAME), -1);
    EXPECT_EQ(object::compare(a.get(), b.get(), COMP_EQUAL), 0);
    EXPECT_EQ(object::compare(a.get(), c.get(), COMP_EQUAL), -1);
    EXPECT_EQ(object::compare(c.get(), a.get(), COMP_EQUAL), 1);
    EXPECT_EQ(object::compare(a.get(), d.get(), COMP_EQUAL), 1);  // more words is greater
    EXPECT_EQ(object::compare(d.get(), a.get(), COMP_EQUAL), -1);
    int32_t by_name = symbol::resolve(sym("y")) < symbol::resolve(sym("z")) ? -1 : 1;
    EXPECT_EQ(object::compare(a.get(), e.get(), COMP_EQUAL), by_name);
    EXPECT_EQ(object::compare(a.get(), &none_value, COMP_EQUAL), NOT_COMPARABLE);
    // Values of different kinds order by type id.
    *context::value_cell(c->data1, 1) = none_value;
    EXPECT_EQ(object::compare(a.get(), c.get(), COMP_EQUAL), T_INTEGER < T_NONE ? -1 : 1);
    // Objects that contain themselves.
    *context::value_cell(a->data1, 1) = a.cell;
    *context::value_cell(b->data1, 1) = b.cell;
    EXPECT_EQ(object::compare(a.get(), b.get(), COMP_EQUAL), 0);
    EXPECT_EQ(cycles::depth(), 0u);
}

}  // namespace
}  // namespace kov::testing
