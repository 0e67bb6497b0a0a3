// Contexts: the global context and its case variants, get and set with their errors, objects,
// binding, function contexts on the argument stack, and survival across collections.
#include <functional>
#include <string>
#include <vector>

#include "core/boot.hpp"
#include "core/buffer.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "datatypes/word.hpp"
#include "words_fixture.hpp"

namespace kov {
namespace {

using testing::WordsTest;

class Context : public WordsTest {};

bool in_block(Handle block, const Cell* c) {
    SeriesBuffer* b = memory::buffer_of(block);
    return c >= b->head_cell() && c < b->tail_cell();
}

Cell bound(Handle ctx, const char* spelling, int32_t slot = -1, uint32_t type = T_WORD) {
    return Cell{type, ctx, symbol::make(spelling), uint32_t(slot)};
}

// A block of cells, rooted.
struct Block {
    collector::Root root;
    explicit Block(const std::vector<Cell>& cells) : root(Cell{T_BLOCK, 0, memory::make_cells(8), 0}) {
        for (const Cell& c : cells) *buffer::alloc_tail_cell(root->data2) = c;
    }
    Cell* at(uint32_t i) { return memory::buffer_of(root->data2)->head_cell() + i; }
    Cell* cell() { return root.get(); }
};

TEST_F(Context, GlobalContextHoldsTheRuntimeWordsWithRoomForFourThousand) {
    Cell* c = context::cell(context::global);
    EXPECT_TRUE(c->is(T_CONTEXT));
    EXPECT_EQ(context::kind_of(c), context::KIND_GLOBAL);
    EXPECT_FALSE(context::on_stack_q(c));
    // The start-up interned the type names and the runtime's own words.
    EXPECT_GT(context::word_count(context::global), 100u);
    EXPECT_LT(context::word_count(context::global), 4000u);
    EXPECT_EQ(hashtable::record(context::word_table(context::global))->buckets, 16384);
    EXPECT_GE(uint32_t(context::values(context::global)->size), 4000u * 16);
    EXPECT_TRUE(context::owner(context::global)->is(T_UNSET));
}

TEST_F(Context, LoadedSpellingsOfOneWordShareItsSlot) {
    uint32_t words_before = context::word_count(context::global);
    Cell foo = *word::load("foo");
    EXPECT_TRUE(foo.is(T_WORD));
    EXPECT_EQ(foo.data1, context::global);
    EXPECT_EQ(symbol::name(foo.data2), "foo");
    EXPECT_TRUE(context::get(&foo)->is(T_UNSET));  // a new word holds unset!
    Cell* variant = word::load("Foo");
    EXPECT_TRUE(in_block(boot::root_block, variant));  // a copy kept in the root block
    Cell big = *variant;
    EXPECT_EQ(symbol::name(big.data2), "Foo");
    EXPECT_EQ(big.data3, foo.data3);
    EXPECT_EQ(context::word_count(context::global), words_before + 1);

    Cell five = integer(5), seven = integer(7);
    context::set(&foo, &five);
    EXPECT_EQ(context::get(&big)->data2, 5u);
    context::set(&big, &seven);
    EXPECT_EQ(context::get(&foo)->data2, 7u);
    EXPECT_EQ(word::load("foo")->data3, foo.data3);
    EXPECT_EQ(word::load("FOO")->data3, foo.data3);

    // While booting every loaded word is also kept in the root block.
    boot::booting = true;
    Cell* kept = word::load("booted");
    EXPECT_TRUE(in_block(boot::root_block, kept));
    boot::booting = false;
}

TEST_F(Context, ExactAddsShareTheSlotOfAnyEarlierSpelling) {
    // In either order, the second spelling gets a word cell of its own bound to the first's slot.
    const char* orders[][2] = {{"bar", "BAR"}, {"Baz", "baz"}};
    for (auto& o : orders) {
        Cell first = *context::add_global(symbol::make(o[0]));
        uint32_t count = context::word_count(context::global);
        Cell second = *context::add_global(symbol::make(o[1]));
        EXPECT_EQ(context::word_count(context::global), count + 1) << o[1];
        EXPECT_EQ(symbol::name(second.data2), o[1]);
        EXPECT_EQ(second.data3, first.data3) << o[0] << " then " << o[1];
        Cell v = integer(42);
        context::set(&second, &v);
        EXPECT_EQ(context::get(&first)->data2, 42u);
        // Found again by exact spelling: the same cells.
        EXPECT_EQ(context::add_global(symbol::make(o[1]))->data3, first.data3);
        EXPECT_EQ(context::find_word(context::global, symbol::make(o[1]), false), int32_t(first.data3));
        EXPECT_EQ(context::find_word(context::global, symbol::make(o[0]), true), int32_t(first.data3));
    }
    // Reading a global by symbol, adding the word when absent.
    Cell out;
    context::get_global_copy(symbol::make("never-set"), &out);
    EXPECT_TRUE(out.is(T_UNSET));
    EXPECT_GE(context::find_word(context::global, symbol::make("never-set"), false), 0);
    Cell v = integer(3);
    Cell w = *word::load("three");
    context::set(&w, &v);
    context::get_global_copy(symbol::make("THREE"), &out);
    EXPECT_EQ(out.data2, 3u);
    EXPECT_EQ(context::global_value_cell(symbol::make("Three"))->data2, 3u);
    EXPECT_EQ(context::global_value_cell(symbol::make("absent-word")), nullptr);
}

TEST_F(Context, ErrorsNameTheWord) {
    collector::Root fn(Cell{T_FUNCTION, 0, 0, 0});
    Block spec({*word::load("arg")});
    fn->data1 = context::make(spec.cell(), true, false, context::KIND_FUNCTION);
    collector::Root obj(Cell{T_OBJECT, context::create(2, false, true, nullptr, context::KIND_OBJECT), 0, 0});

    struct Case {
        const char* what;
        std::function<void()> body;
        const char* id;
        const char* arg;
    };
    const std::vector<Case> cases = {
        {"argument outside a call", [&] { Cell w = bound(fn->data1, "arg", 0); context::get(&w); }, "not-in-context", "arg"},
        {"unresolved word", [&] { Cell w = bound(obj->data1, "nothing"); context::get(&w); }, "no-value", "nothing"},
        {"set without values", [&] { Cell w = bound(fn->data1, "arg", 0); Cell v = integer(1); context::set(&w, &v); },
         "not-defined", "arg"},
        {"set an unresolved word without values", [&] { Cell w = bound(fn->data1, "other"); Cell v = integer(1); context::set(&w, &v); },
         "not-defined", "other"},
        {"unbound word", [&] { Cell w = Cell{T_WORD, 0, symbol::make("loose"), 0}; context::get(&w); }, "not-defined", "loose"},
        {"set an unbound word", [&] { Cell w = Cell{T_WORD, 0, symbol::make("loose"), 0}; Cell v = integer(1); context::set(&w, &v); },
         "not-defined", "loose"},
    };
    for (const Case& c : cases) {
        Cell arg{};
        EXPECT_EQ(error_of(c.body, &arg), c.id) << c.what;
        EXPECT_TRUE(word::any_word_q(arg.type())) << c.what;
        EXPECT_EQ(symbol::name(arg.data2), c.arg) << c.what;
    }
}

TEST_F(Context, SelfResolvesToTheOwner) {
    collector::Root obj(Cell{T_OBJECT, context::create(2, false, true, nullptr, context::KIND_OBJECT), 0, 0});
    *context::owner(obj->data1) = obj.cell;
    Cell self = bound(obj->data1, "self");
    Cell* owner = context::get(&self);
    EXPECT_TRUE(owner->is(T_OBJECT));
    EXPECT_EQ(owner->data1, obj->data1);
    EXPECT_EQ(context::self_node(obj.get()), obj->data1);
    Cell other = bound(obj->data1, "SELF");  // exactly `self` only
    EXPECT_EQ(error_of([&] { context::get(&other); }), "no-value");
}

TEST_F(Context, SettingAnUnresolvedWordAddsIt) {
    collector::Root obj(Cell{T_OBJECT, context::create(2, false, true, nullptr, context::KIND_OBJECT), 0, 0});
    Handle ctx = obj->data1;
    Cell a = bound(ctx, "alpha"), b = bound(ctx, "beta");
    Cell one = integer(1), two = integer(2);
    context::set(&a, &one);
    context::set(&b, &two);
    EXPECT_EQ(a.data3, 0u);
    EXPECT_EQ(b.data3, 1u);
    EXPECT_EQ(context::word_count(ctx), 2u);
    EXPECT_EQ(context::values(ctx)->used() / 16, 2u);
    EXPECT_EQ(context::get(&b)->data2, 2u);
    // A later spelling of the same word finds its slot.
    Cell big = bound(ctx, "ALPHA");
    Cell three = integer(3);
    context::set(&big, &three);
    EXPECT_EQ(big.data3, 0u);
    EXPECT_EQ(context::get(&a)->data2, 3u);
    // Assignments in an object mark the word assigned, with or without a change handler.
    EXPECT_TRUE(context::word_cell_at(ctx, 0)->header & WORD_ASSIGNED);
    EXPECT_TRUE(context::word_cell_at(ctx, 1)->header & WORD_ASSIGNED);
    context::set_integer(ctx, &a, 99);
    EXPECT_EQ(context::get(&a)->data2, 99u);
}

struct ChangeLog {
    int calls = 0;
    uint32_t old_value = 0, new_value = 0, word = 0;
    Handle owner_ctx = 0;
};
ChangeLog change_log;

void record_change(const Cell* owner, const Cell* word, const Cell* old_value, const Cell* new_value) {
    change_log.calls++;
    change_log.owner_ctx = owner->data1;
    change_log.word = word->data2;
    change_log.old_value = old_value->data2;
    change_log.new_value = new_value->data2;
}

TEST_F(Context, ObjectAssignmentsFireTheChangeHandler) {
    change_log = {};
    auto saved = context::fire_on_change_hook;
    context::fire_on_change_hook = record_change;
    collector::Root obj(Cell{T_OBJECT, context::create(2, false, true, nullptr, context::KIND_OBJECT), 0, 0});
    Handle ctx = obj->data1;
    Cell w = bound(ctx, "field");
    Cell v1 = integer(10), v2 = integer(20);
    context::set(&w, &v1);
    EXPECT_EQ(change_log.calls, 0);  // no handler record: nothing fires
    *context::owner(ctx) = Cell{T_OBJECT, ctx, 0, 1};
    Cell* top = stack::top;
    context::set(&w, &v2);
    EXPECT_EQ(stack::top, top);
    EXPECT_EQ(change_log.calls, 1);
    EXPECT_EQ(change_log.owner_ctx, ctx);
    EXPECT_EQ(change_log.word, symbol::make("field"));
    EXPECT_EQ(change_log.old_value, 10u);
    EXPECT_EQ(change_log.new_value, 20u);
    context::set_in(&w, &v1, ctx, false);  // quiet
    EXPECT_EQ(change_log.calls, 1);
    EXPECT_EQ(context::get(&w)->data2, 10u);
    context::fire_on_change_hook = saved;
}

// Resolved words are read and written where their values live; an object's word is marked
// assigned; a clone whose values block is not filled yet grows it on the first store.
TEST_F(Context, ResolvedWordsAreReadAndWrittenInPlace) {
    Cell g = *word::load("in-place");
    Cell eleven = integer(11), twelve = integer(12);
    Cell* target = context::set(&g, &eleven);
    EXPECT_EQ(target, context::get(&g));
    EXPECT_TRUE(in_block(context::cell(context::global)->data2, target));
    EXPECT_EQ(context::get(&g)->get_int(), 11);

    collector::Root obj(Cell{T_OBJECT, context::create(2, false, true, nullptr, context::KIND_OBJECT), 0, 0});
    Cell f = bound(obj->data1, "field");
    int32_t slot = context::add_word(obj->data1, &f);
    ASSERT_GE(slot, 0);
    Cell field = bound(obj->data1, "field", slot);
    EXPECT_FALSE(context::word_cell_at(obj->data1, slot)->header & WORD_ASSIGNED);
    target = context::set(&field, &eleven);
    EXPECT_TRUE(in_block(context::cell(obj->data1)->data2, target));
    EXPECT_TRUE(context::word_cell_at(obj->data1, slot)->header & WORD_ASSIGNED);
    EXPECT_EQ(context::get(&field)->get_int(), 11);

    collector::Root copy(obj.cell);
    context::clone(copy.get(), context::KIND_OBJECT);
    ASSERT_NE(copy->data1, obj->data1);
    EXPECT_EQ(context::values(copy->data1)->used(), 0u);
    Cell copied = bound(copy->data1, "field", slot);
    context::set(&copied, &twelve);
    EXPECT_EQ(context::get(&copied)->get_int(), 12);
    EXPECT_EQ(context::get(&field)->get_int(), 11);
}

TEST_F(Context, BindingReachesNestedBlocksAndLeavesOtherWords) {
    collector::Root obj(Cell{T_OBJECT, context::create(4, false, true, nullptr, context::KIND_OBJECT), 0, 0});
    Handle ctx = obj->data1;
    for (const char* w : {"a", "b", "c"}) {
        Cell word = bound(ctx, w);
        Cell v = integer(w[0]);
        context::set(&word, &v);
    }
    Cell old_x = *word::load("x");
    Block inner({bound(0, "C"), bound(0, "a", -1, T_LIT_WORD)});
    Block path({bound(0, "b"), old_x});
    path.root->header = T_PATH;
    std::vector<Cell> cells = {bound(0, "a"),      bound(0, "b", -1, T_SET_WORD), integer(0),
                               integer(0),          bound(0, "c", -1, T_GET_WORD), bound(0, "a", -1, T_REFINEMENT),
                               bound(0, "a", -1, T_ISSUE), old_x, bound(0, "self"), integer(1)};
    cells[2] = *inner.cell();
    cells[3] = *path.cell();
    Block blk(cells);
    *buffer::alloc_tail_cell(blk.root->data2) = *blk.cell();  // the block contains itself
    context::bind(blk.cell(), ctx, true);

    auto check = [&](Cell* c, const char* name, int32_t slot) {
        EXPECT_EQ(c->data1, ctx) << name;
        EXPECT_EQ(int32_t(c->data3), slot) << name;
        EXPECT_EQ(symbol::name(c->data2), name);  // the spelling is kept
    };
    check(blk.at(0), "a", 0);
    check(blk.at(1), "b", 1);
    check(inner.at(0), "C", 2);
    check(inner.at(1), "a", 0);
    check(path.at(0), "b", 1);
    check(blk.at(4), "c", 2);
    check(blk.at(5), "a", 0);
    EXPECT_EQ(blk.at(6)->data1, 0u);  // issue! is not bound
    EXPECT_EQ(path.at(1)->data1, context::global);  // a word the context lacks keeps its binding
    EXPECT_EQ(blk.at(7)->data1, context::global);
    EXPECT_EQ(blk.at(7)->data3, old_x.data3);
    check(blk.at(8), "self", -1);  // self mode
    EXPECT_EQ(context::get(blk.at(5))->data2, uint32_t('a'));

    // Without self mode a self word is an ordinary word the context lacks.
    Block again({bound(0, "self")});
    context::bind(again.cell(), ctx, false);
    EXPECT_EQ(again.at(0)->data1, 0u);
    // From the block's head only.
    Block from_head({bound(0, "a"), bound(0, "b")});
    from_head.root->data1 = 1;
    context::bind(from_head.cell(), ctx, false);
    EXPECT_EQ(from_head.at(0)->data1, 0u);
    EXPECT_EQ(from_head.at(1)->data1, ctx);
    // bind-word-index answers -1 for a word the context lacks and leaves it.
    Cell loose = bound(0, "zzz");
    EXPECT_EQ(context::bind_word_index(ctx, &loose), -1);
    EXPECT_EQ(loose.data1, 0u);
}

TEST_F(Context, MakeEntersTheSpecWordsInOrder) {
    Block spec({bound(0, "a"), bound(0, "b", -1, T_GET_WORD), bound(0, "c", -1, T_LIT_WORD),
                Cell{T_STRING, 0, 0, 0}, bound(0, "ref", -1, T_REFINEMENT), bound(0, "A"),
                bound(0, "local", -1, T_SET_WORD), integer(5)});
    struct Case {
        bool on_stack;
    };
    for (Case c : {Case{true}, Case{false}}) {
        collector::Root fn(Cell{T_OBJECT, context::make(spec.cell(), c.on_stack, false, context::KIND_FUNCTION), 0, 0});
        Handle ctx = fn->data1;
        EXPECT_EQ(context::word_count(ctx), 4u);
        const char* names[] = {"a", "b", "c", "ref"};
        for (int i = 0; i < 4; i++) {
            EXPECT_EQ(symbol::name(context::word_cell_at(ctx, i)->data2), names[i]);
            EXPECT_EQ(context::word_cell_at(ctx, i)->data1, ctx);
            EXPECT_EQ(context::find_word(ctx, symbol::make(names[i]), true), i);
        }
        EXPECT_EQ(context::find_word(ctx, symbol::make("A"), true), 0);
        EXPECT_EQ(context::find_word(ctx, symbol::make("A"), false), -1);
        EXPECT_EQ(context::kind_of(context::cell(ctx)), context::KIND_FUNCTION);
        if (c.on_stack) {
            EXPECT_TRUE(context::on_stack_q(context::cell(ctx)));
            EXPECT_EQ(context::cell(ctx)->data2, 0u);
            EXPECT_EQ(context::values(ctx), nullptr);
        } else {
            EXPECT_EQ(context::values(ctx)->used() / 16, 4u);
            EXPECT_TRUE(context::values(ctx)->head_cell()[3].is(T_UNSET));
        }
    }
}

// One activation of a function whose context keeps its values on the argument stack:
// checks its own values, recurses, and checks that they are its own again afterwards.
void activate(Handle ctx, int32_t depth, std::vector<int32_t>& seen) {
    Cell name{T_WORD, 0, symbol::make("f"), 0};
    Cell n = Cell{T_WORD, ctx, symbol::make("n"), 0};
    Cell acc = Cell{T_WORD, ctx, symbol::make("acc"), 1};
    stack::mark_func(&name, ctx);
    Cell v = Cell{T_INTEGER, 0, uint32_t(depth), 0};
    stack::push(&v);
    Cell a = Cell{T_INTEGER, 0, 0, 0};
    stack::push(&a);
    stack::mark_func_body(&name, ctx);
    seen.push_back(context::get(&n)->get_int());
    Cell sum = Cell{T_INTEGER, 0, uint32_t(depth * 100), 0};
    context::set(&acc, &sum);
    if (depth > 0) activate(ctx, depth - 1, seen);
    EXPECT_EQ(context::get(&n)->get_int(), depth);
    EXPECT_EQ(context::get(&acc)->get_int(), depth * 100);
    stack::unwind();       // the body frame
    stack::unwind_func();  // the call frame: the caller's values come back
}

TEST_F(Context, FunctionValuesLiveOnTheStackPerActivation) {
    Block spec({bound(0, "n"), bound(0, "acc")});
    collector::Root fn(Cell{T_FUNCTION, context::make(spec.cell(), true, false, context::KIND_FUNCTION), 0, 0});
    Handle ctx = fn->data1;
    std::vector<int32_t> seen;
    activate(ctx, 6, seen);
    EXPECT_EQ(seen, (std::vector<int32_t>{6, 5, 4, 3, 2, 1, 0}));
    EXPECT_EQ(context::cell(ctx)->data2, 0u);  // not running any more
    Cell n = Cell{T_WORD, ctx, symbol::make("n"), 0};
    EXPECT_EQ(error_of([&] { context::get(&n); }), "not-in-context");

    // Two functions nested: each sees its own values.
    Block spec2({bound(0, "n")});
    collector::Root fn2(Cell{T_FUNCTION, context::make(spec2.cell(), true, false, context::KIND_FUNCTION), 0, 0});
    Cell name{T_WORD, 0, symbol::make("g"), 0};
    stack::mark_func(&name, fn2->data1);
    Cell v = integer(-1);
    stack::push(&v);
    stack::mark_func_body(&name, fn2->data1);
    seen.clear();
    activate(ctx, 1, seen);
    Cell n2 = Cell{T_WORD, fn2->data1, symbol::make("n"), 0};
    EXPECT_EQ(context::get(&n2)->get_int(), -1);
    EXPECT_EQ(seen, (std::vector<int32_t>{1, 0}));
    // symbol_value_cell of a context on the stack reads the global context instead.
    Cell g = *word::load("n");
    Cell gv = integer(77);
    context::set(&g, &gv);
    EXPECT_EQ(context::symbol_value_cell(symbol::make("N"), fn2.get())->data2, 77u);
    stack::unwind();
    stack::unwind_func();
}

TEST_F(Context, CompiledCodeStoresFromTheStackTop) {
    Cell w = *word::load("target");
    Cell unset{T_UNSET, 0, 0, 0}, five = integer(5);
    Cell arg{};
    // A word from the top value; unset! is refused with need-value naming the word.
    stack::push(&unset);
    EXPECT_EQ(error_of([&] { context::set_word_from_top(&w); }, &arg), "need-value");
    EXPECT_EQ(symbol::name(arg.data2), "target");
    EXPECT_EQ(error_of([&] { context::get_word_checked(&w); }, &arg), "no-value");
    EXPECT_EQ(symbol::name(arg.data2), "target");
    Cell* base = stack::arguments;
    stack::push(&five);
    context::set_word_from_top_reset(&w);
    EXPECT_EQ(stack::top, base);
    EXPECT_EQ(context::get_word_checked(&w)->data2, 5u);

    // Slots of a function context while it runs, on the argument stack.
    Block spec({bound(0, "p"), bound(0, "q")});
    collector::Root fn(Cell{T_FUNCTION, context::make(spec.cell(), true, false, context::KIND_FUNCTION), 0, 0});
    Handle ctx = fn->data1;
    EXPECT_EQ(error_of([&] { context::value_slot_at(ctx, 1); }, &arg), "not-defined");  // not running
    EXPECT_EQ(symbol::name(arg.data2), "q");
    Cell name{T_WORD, 0, symbol::make("f"), 0};
    stack::mark_func(&name, ctx);
    stack::push(&unset);
    stack::push(&unset);
    stack::mark_func_body(&name, ctx);
    Cell seven = integer(7);
    stack::push(&seven);
    context::set_slot_from_top(ctx, 1);
    EXPECT_EQ(context::value_slot_at(ctx, 1)->data2, 7u);
    stack::push(&unset);
    EXPECT_EQ(error_of([&] { context::set_slot_from_top(ctx, 0); }, &arg), "need-value");
    EXPECT_EQ(symbol::name(arg.data2), "p");
    stack::push(&five);
    Cell* body = stack::arguments;
    context::set_slot_from_top_reset(ctx, 0);
    EXPECT_EQ(stack::top, body);
    Cell p = bound(ctx, "p", 0);
    EXPECT_EQ(context::get(&p)->data2, 5u);
    stack::unwind();
    stack::unwind_func();

    // Object slots: no unset! check, and the word is marked assigned.
    collector::Root obj(Cell{T_OBJECT, context::create(2, false, true, nullptr, context::KIND_OBJECT), 0, 0});
    Cell field = bound(obj->data1, "field");
    context::set_in(&field, &five, obj->data1, false);
    context::word_cell_at(obj->data1, 0)->header &= ~WORD_ASSIGNED;
    stack::push(&unset);
    context::set_object_slot_from_top(obj->data1, 0);
    EXPECT_TRUE(context::get(&field)->is(T_UNSET));
    EXPECT_TRUE(context::word_cell_at(obj->data1, 0)->header & WORD_ASSIGNED);
}

TEST_F(Context, CloneCopiesTheWordsIntoAContextOfItsOwn) {
    collector::Root obj(Cell{T_OBJECT, context::create(2, false, true, nullptr, context::KIND_OBJECT), 0, 0});
    Handle old = obj->data1;
    for (const char* w : {"p", "q"}) {
        Cell word = bound(old, w);
        Cell v = integer(w[0]);
        context::set(&word, &v);
    }
    collector::Root copy(obj.cell);
    Handle ctx = context::clone(copy.get(), context::KIND_OBJECT);
    EXPECT_NE(ctx, old);
    EXPECT_EQ(copy->data1, ctx);
    EXPECT_EQ(context::word_count(ctx), 2u);
    EXPECT_EQ(context::word_cell_at(ctx, 1)->data1, ctx);
    EXPECT_EQ(context::word_cell_at(old, 1)->data1, old);
    EXPECT_TRUE(context::cell(ctx)->header & context::CTX_OBJECT);
    Cell q = bound(ctx, "Q", 1);
    EXPECT_TRUE(context::get(&q)->is(T_UNSET));  // filling the values is the caller's business
    Cell v = integer(5);
    context::set(&q, &v);
    Cell old_q = bound(old, "q", 1);
    EXPECT_EQ(context::get(&old_q)->data2, uint32_t('q'));
    // New words go to one context only.
    Cell r = bound(ctx, "r");
    context::set(&r, &v);
    EXPECT_EQ(context::find_word(old, symbol::make("r"), false), -1);
    EXPECT_EQ(context::find_word(ctx, symbol::make("r"), false), 2);
}

TEST_F(Context, AddingWordsAndSetWords) {
    collector::Root obj(Cell{T_OBJECT, context::create(1, false, true, nullptr, context::KIND_OBJECT), 0, 0});
    Handle ctx = obj->data1;
    Block body({bound(0, "x", -1, T_SET_WORD), integer(1), bound(0, "y", -1, T_SET_WORD), bound(0, "X", -1, T_SET_WORD),
                bound(0, "z")});
    EXPECT_TRUE(context::collect_set_words(ctx, body.cell()));
    EXPECT_EQ(context::word_count(ctx), 2u);
    EXPECT_FALSE(context::collect_set_words(ctx, body.cell()));
    Cell w = bound(0, "w"), v = integer(8);
    Cell* cell = context::add_with(ctx, &w, &v);
    EXPECT_EQ(cell->data2, 8u);
    EXPECT_EQ(context::find_word(ctx, w.data2, false), 2);
    Cell nine = integer(9);
    context::add_if_absent(ctx, &w, &nine);
    Cell bw = bound(ctx, "w", 2);
    EXPECT_EQ(context::get(&bw)->data2, 8u);
    context::add_with(ctx, &w, &nine);
    EXPECT_EQ(context::get(&bw)->data2, 9u);
    EXPECT_EQ(context::add_word(ctx, &w), 2);
    int32_t out = -1;
    EXPECT_EQ(context::find_word_slot(ctx, symbol::make("fresh"), true, &out), -1);
    EXPECT_EQ(out, 3);
    EXPECT_EQ(context::find_word_slot(ctx, symbol::make("FRESH"), true, &out), 3);
}

TEST_F(Context, GlobalWordsGrowPastTheFirstSizeAndSurviveCollections) {
    uint32_t words_before = context::word_count(context::global);
    const int n = 9000;
    for (int i = 0; i < n; i++) {
        Cell w = *word::load("g" + std::to_string(i));
        Cell v = integer(i);
        context::set(&w, &v);
        if (i % 7 == 0) memory::make_bytes(64);  // garbage between the buffers
    }
    // A block value held by a global word.
    collector::Root bw(*word::load("held"));  // its binding must follow the context's node
    {
        collector::Root blk(Cell{T_BLOCK, 0, memory::make_cells(3), 0});
        for (int i = 0; i < 3; i++) *buffer::alloc_tail_cell(blk->data2) = integer(i + 10);
        context::set(bw.get(), blk.get());
    }
    collector::collect();
    collector::collect();
    for (int i = 0; i < n; i += 13) {
        Cell w = *word::load("G" + std::to_string(i));
        ASSERT_EQ(context::get(&w)->get_int(), i);
    }
    Cell* held = context::get(bw.get());
    ASSERT_TRUE(held->is(T_BLOCK));
    EXPECT_EQ(memory::buffer_of(held->data2)->head_cell()[2].data2, 12u);
    EXPECT_EQ(context::word_count(context::global), words_before + uint32_t(n + 1));
}

TEST_F(Context, CachedLookupsFollowValuesThatMoveOrAreRebased) {
    // The lookup cache answers the cell that the uncached road finds, after the values block has
    // grown into a new buffer, after collections, and for a context on the stack after its values
    // were pointed elsewhere.
    collector::Root obj(Cell{T_OBJECT, context::create(1, false, true, nullptr, context::KIND_OBJECT), 0, 0});
    Cell first = bound(obj->data1, "first");
    Cell seven = integer(7);
    context::set(&first, &seven);
    auto same = [&](uint32_t slot) {
        Handle ctx = obj->data1;
        return context::value_cell(ctx, slot) == context::reachable_value(context::cell(ctx), slot);
    };
    ASSERT_TRUE(same(0));
    SeriesBuffer* before = context::values(obj->data1);
    for (int i = 0; i < 200; i++) {
        Cell w = bound(obj->data1, ("w" + std::to_string(i)).c_str());
        Cell v = integer(i);
        context::set(&w, &v);
    }
    EXPECT_NE(context::values(obj->data1), before);  // the values moved
    EXPECT_TRUE(same(0));
    EXPECT_EQ(context::value_cell(obj->data1, 0)->data2, 7u);
    EXPECT_TRUE(same(150));
    collector::collect();
    collector::collect();
    EXPECT_TRUE(same(0));
    EXPECT_EQ(context::value_cell(obj->data1, 0)->data2, 7u);
    EXPECT_TRUE(same(5000));  // past the values: null on both roads

    // A function context: its values are wherever the current call put them.
    Block spec({bound(0, "a"), bound(0, "b")});
    collector::RootContext fn(context::make(spec.cell(), true, false, context::KIND_FUNCTION));
    EXPECT_EQ(context::value_cell(fn.handle(), 0), nullptr);  // no call under way
    Cell* base = stack::top;
    Cell one = integer(1), two = integer(2), three = integer(3);
    stack::push(&one);
    stack::push(&two);
    stack::push(&three);
    context::cell(fn.handle())->data2 = stack::index_of(base) + 1;
    EXPECT_EQ(context::value_cell(fn.handle(), 1)->data2, 2u);
    context::cell(fn.handle())->data2 = stack::index_of(base + 1) + 1;
    EXPECT_EQ(context::value_cell(fn.handle(), 1)->data2, 3u);
    context::cell(fn.handle())->data2 = 0;
    stack::top = base;
}

TEST_F(Context, WordCellsThatMoveAreUpdatedSafelyUnderCollections) {
    // Setting an unresolved word adds it to the context, which allocates and may move the block
    // holding the word: the slot must land in the word where it is now.
    collector::state.enabled = true;
    bool stress = collector::state.stress;
    uint32_t period = collector::state.stress_period;
    collector::state.stress_period = 1;
    for (uint32_t i = 0; i < 3; i++) {
        collector::state.stress = false;  // the garbage below must outlive the set-up
        // A context full with one word: adding the next one grows it.
        collector::Root obj(Cell{T_OBJECT, context::create(1, false, true, nullptr, context::KIND_OBJECT), 0, 0});
        Cell first = bound(obj->data1, "first");
        Cell zero = integer(0);
        context::set(&first, &zero);
        Cell w = bound(obj->data1, ("m" + std::to_string(i)).c_str());
        memory::make_bytes(200);  // garbage just before the block
        Block blk({integer(0), w});
        SeriesBuffer* before = memory::buffer_of(blk.root->data2);
        collector::state.stress = true;  // every series allocation collects first
        Cell v = integer(int32_t(i) + 100);
        context::set_in(blk.at(1), &v, obj->data1, true);
        collector::state.stress = false;
        EXPECT_NE(memory::buffer_of(blk.root->data2), before);  // the block did move
        EXPECT_EQ(blk.at(1)->data3, 1u);
        EXPECT_EQ(context::get(blk.at(1))->data2, i + 100);
        EXPECT_EQ(blk.at(0)->data2, 0u);
    }
    // Loading, setting and reading words with a collection before every allocation.
    collector::state.stress = true;
    for (int i = 0; i < 50; i++) {
        Cell w = *word::load("stress-" + std::to_string(i));
        Cell v = integer(i);
        context::set(&w, &v);
    }
    for (int i = 0; i < 50; i++) {
        Cell w = *word::load("STRESS-" + std::to_string(i));
        ASSERT_EQ(context::get(&w)->get_int(), i);
    }
    collector::state.stress = stress;
    collector::state.stress_period = period;
    collector::state.enabled = false;
}

}  // namespace
}  // namespace kov
