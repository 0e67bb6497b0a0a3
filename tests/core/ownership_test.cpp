// Ownership of series by objects, and the runtime's own words.
#include "core/buffer.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/memory.hpp"
#include "core/ownership.hpp"
#include "core/runtime_words.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/error.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "runtime_fixture.hpp"

namespace kov {
namespace {

using testing::RuntimeTest;

class Ownership : public RuntimeTest {
protected:
    // An object with the given fields, whose owner cell carries a handlers block in data3 when
    // `handlers` is set.
    Cell make_object(std::initializer_list<std::pair<const char*, Cell>> fields, uint32_t handlers) {
        collector::Root obj(Cell{T_OBJECT, context::create(4, false, true, nullptr, context::KIND_OBJECT), 0, 0});
        if (handlers) obj->data3 = memory::make_cells(1);
        for (auto& [name, value] : fields) {
            collector::Root v(value);
            Cell w{T_WORD, 0, symbol::make(name), 0xFFFFFFFFu};
            context::add_with(obj->data1, &w, v.get());
        }
        *context::owner(obj->data1) = obj.cell;
        return obj.cell;
    }
    Cell block_of(std::initializer_list<Cell> items) {
        collector::Root b(Cell{T_BLOCK, 0, memory::make_cells(4), 0});
        for (const Cell& c : items) {
            collector::Root v(c);
            Cell* slot = buffer::alloc_block_tail(b.get());
            *slot = v.cell;
        }
        return b.cell;
    }
    Cell text(const char* s) {
        collector::Root t;
        string::make_at(t.get(), 8);
        string::concatenate_cstring(t.get(), s);
        return t.cell;
    }
};

struct Fired {
    int calls = 0;
    uint32_t word_symbol = 0;
    uint32_t action_symbol = 0;
} fired;

void record_fire(const Cell*, const Cell* word, const Cell*, const Cell* action, const Cell*, int32_t,
                 int32_t) {
    fired.calls++;
    fired.word_symbol = word->data2;
    fired.action_symbol = action->data2;
}

TEST_F(Ownership, BindReportsChangesToTheOwnersHandler) {
    ownership::fire_on_deep_change = record_fire;
    fired = Fired{};
    collector::Root inner(text("inner"));
    collector::Root blk(block_of({inner.cell}));
    collector::Root obj(make_object({{"items", blk.cell}}, 1));
    Cell w{T_WORD, obj->data1, symbol::make("items"), 0};
    ownership::set_owner_flag(blk.get(), obj.get(), &w);
    EXPECT_TRUE(memory::buffer_of(blk->data2)->flags & SER_OWNED);
    EXPECT_TRUE(memory::buffer_of(inner->data2)->flags & SER_OWNED);  // reached through the block
    ASSERT_NE(ownership::owner_of(inner->data2), nullptr);
    EXPECT_EQ(ownership::owner_of(inner->data2)->data1, obj->data1);
    EXPECT_TRUE(context::cell(obj->data1)->header & ownership::CTX_OWNER);
    EXPECT_EQ(ownership::check(inner.get(), &runtime_words::words::append, nullptr, 0, 1), 1);
    EXPECT_EQ(fired.calls, 1);
    EXPECT_EQ(fired.word_symbol, symbol::make("items"));
    EXPECT_EQ(fired.action_symbol, runtime_words::words::append.data2);
    ownership::unbind(blk.get());
    EXPECT_FALSE(memory::buffer_of(inner->data2)->flags & SER_OWNED);
    EXPECT_EQ(ownership::owner_of(inner->data2), nullptr);
    EXPECT_EQ(ownership::check(inner.get(), &runtime_words::words::append, nullptr, 0, 1), 0);
}

TEST_F(Ownership, NoHandlerCallsNothing) {
    ownership::fire_on_deep_change = record_fire;
    fired = Fired{};
    collector::Root s(text("abc"));
    collector::Root obj(make_object({{"s", s.cell}}, 0));
    Cell w{T_WORD, obj->data1, symbol::make("s"), 0};
    ownership::bind(s.get(), obj.get(), &w);
    EXPECT_EQ(ownership::check(s.get(), &runtime_words::words::clear, nullptr, 0, 0), 0);
    EXPECT_EQ(fired.calls, 0);
}

TEST_F(Ownership, FirstEntryWinsAndCyclesAreWalkedOnce) {
    collector::Root s(text("shared"));
    collector::Root self_blk(block_of({s.cell, s.cell}));
    // The block contains itself.
    Cell copy = self_blk.cell;
    *buffer::alloc_block_tail(self_blk.get()) = copy;
    collector::Root obj(make_object({{"a", self_blk.cell}}, 1));
    Cell a{T_WORD, obj->data1, symbol::make("a"), 0}, b{T_WORD, obj->data1, symbol::make("b"), 1};
    ownership::bind(self_blk.get(), obj.get(), &a);
    ownership::bind(s.get(), obj.get(), &b);  // already owned: keeps its first entry
    Cell* entry_word = ownership::owner_of(s->data2) + 1;
    EXPECT_EQ(entry_word->data2, a.data2);
    ownership::unbind(self_blk.get());
    EXPECT_FALSE(memory::buffer_of(self_blk->data2)->flags & SER_OWNED);
}

TEST_F(Ownership, EntriesOfDeadSeriesAndOwnersArePruned) {
    collector::Root kept(text("kept"));
    Handle dead_node;
    {
        collector::Root obj(make_object({}, 1));
        collector::Root gone(text("gone"));
        Cell w{T_WORD, obj->data1, symbol::make("x"), 0};
        ownership::bind(kept.get(), obj.get(), &w);  // the owner dies, the series lives
        ownership::bind(gone.get(), obj.get(), &w);
        dead_node = gone->data2;
        collector::collect();
        EXPECT_NE(ownership::owner_of(kept->data2), nullptr);
    }
    collector::collect();
    EXPECT_EQ(ownership::owner_of(kept->data2), nullptr);
    (void)dead_node;
}

TEST_F(Ownership, EntriesFollowEvacuatedNodes) {
    collector::state.enabled = false;
    collector::Root obj(make_object({}, 1));
    collector::Root kept(Cell{T_NONE, 0, 0, 0});
    for (int i = 0; i < 25000; i++) {
        collector::Root t(text("x"));
        if (i == 24990) kept.cell = t.cell;  // its node lies in the last, sparse frame
    }
    Cell w{T_WORD, obj->data1, symbol::make("x"), 0};
    ownership::bind(kept.get(), obj.get(), &w);
    for (int i = 0; i < 8; i++) collector::collect();
    EXPECT_GT(collector::state.node_cycles, 0u);
    EXPECT_TRUE(memory::buffer_of(kept->data2)->flags & SER_OWNED);
    ASSERT_NE(ownership::owner_of(kept->data2), nullptr);
    EXPECT_EQ(ownership::owner_of(kept->data2)->data1, obj->data1);
}

// An image kept inside an owned container gets its owned flag on the cell where it is kept, and
// loses it there when unbound; the owner's entry for its buffer comes and goes with it.
TEST_F(Ownership, ImageFlagsLandOnTheStoredCell) {
    struct Case {
        const char* name;
        bool in_object;  // the image is an object's field, else an item of a block
    };
    const Case cases[] = {{"block item", false}, {"object field", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        collector::Root image(Cell{T_IMAGE, 0, memory::make_bytes(64), 0});
        collector::Root owner(make_object({}, 1));
        collector::Root label(text("x"));  // rooted: making the container allocates
        collector::Root container(c.in_object ? make_object({{"picture", image.cell}}, 0)
                                              : block_of({label.cell, image.cell}));
        Cell w{T_WORD, owner->data1, symbol::make("field"), 0};
        // The stored image, found afresh after each step that may allocate.
        auto stored = [&]() -> Cell* {
            if (c.in_object) return context::value_cell(container->data1, 0);
            return memory::buffer_of(container->data2)->head_cell() + 1;
        };
        ASSERT_TRUE(stored()->is(T_IMAGE));
        ownership::bind(container.get(), owner.get(), &w);
        EXPECT_TRUE(stored()->header & ownership::IMAGE_OWNED);
        ASSERT_NE(ownership::owner_of(image->data2), nullptr);
        EXPECT_EQ(ownership::owner_of(image->data2)->data1, owner->data1);
        collector::collect();
        EXPECT_TRUE(stored()->header & ownership::IMAGE_OWNED);
        ownership::unbind(container.get());
        EXPECT_FALSE(stored()->header & ownership::IMAGE_OWNED);
        EXPECT_EQ(ownership::owner_of(image->data2), nullptr);
    }
}

class RuntimeWords : public RuntimeTest {
protected:
    Cell text(const char* s) {
        collector::Root t;
        string::make_at(t.get(), 8);
        string::concatenate_cstring(t.get(), s);
        return t.cell;
    }
};

TEST_F(RuntimeWords, InternedAtStartup) {
    using namespace runtime_words;
    EXPECT_EQ(symbol::name(sym::spec), "spec");
    EXPECT_EQ(symbol::name(sym::bar), "|");
    EXPECT_EQ(symbol::name(sym::any_type_t), "any-type!");
    EXPECT_EQ(sym::code, sym::code2);  // interned twice, into two globals
    EXPECT_EQ(symbol::name(words::anon.data2), "<anon>");
    EXPECT_EQ(words::at.data1, context::global);
    EXPECT_TRUE(words::on_deep_change_s.is(T_WORD));
    EXPECT_TRUE(refinements::part.is(T_REFINEMENT));
    EXPECT_TRUE(issue_ooo.is(T_ISSUE));
    EXPECT_EQ(symbol::name(issue_ooo.data2), "ooo");
    // The symbols precede the words: "spec" is the first name the start-up interns itself.
    EXPECT_LT(sym::spec, words::at.data2);
}

TEST_F(RuntimeWords, EveryRegisteredTypeHasItsNameWord) {
    for (uint32_t id = 1; id <= type_registry::top_id; id++) {
        if (!type_registry::names[id].name) continue;
        const Cell& w = type_registry::names[id].word;
        ASSERT_TRUE(w.is(T_WORD)) << id;
        EXPECT_EQ(symbol::name(w.data2), type_registry::names[id].name);
    }
    EXPECT_EQ(type_registry::names[T_LOGIC].length, 5);
}

TEST_F(RuntimeWords, ErrorsNameTheirTypeAndIdWithWords) {
    stack::mark_try(nullptr);
    uint32_t code = testing::unwind_code([] { stack::raise_error("script", "no-value"); });
    ASSERT_EQ(code, THROW_ERROR);
    Cell* e = stack::top_value();
    EXPECT_EQ(error::code(e), 300);
    EXPECT_TRUE(error::field(e, error::F_TYPE)->is(T_WORD));
    EXPECT_EQ(symbol::name(error::field(e, error::F_ID)->data2), "no-value");
    EXPECT_EQ(error::code_of("math", "zero-divide"), 400);
    EXPECT_EQ(error::code_of("internal", "stack-overflow"), 904);
}

TEST_F(RuntimeWords, WordsAndSymbolsSurviveNodeEvacuation) {
    collector::state.enabled = false;
    // Fill two more node frames, keep one value in a thousand in global words, free the rest.
    for (int i = 0; i < 25000; i++) {
        collector::Root t(text(""));
        if (i % 1000 == 999) {
            Cell* w = word::load("kept-" + std::to_string(i));
            Cell word = *w;
            context::set(&word, t.get());
        }
    }
    for (int i = 0; i < 8; i++) collector::collect();
    EXPECT_GT(collector::state.node_cycles, 0u);
    using namespace runtime_words;
    EXPECT_EQ(words::at.data1, context::global);
    EXPECT_EQ(symbol::name(words::at.data2), "at");
    for (int i = 999; i < 25000; i += 1000) {
        Cell w = *word::load("kept-" + std::to_string(i));
        EXPECT_TRUE(context::get(&w)->is(T_STRING));
    }
    stack::mark_try(nullptr);
    EXPECT_EQ(testing::unwind_code([] { stack::raise_error("math", "overflow"); }), THROW_ERROR);
    EXPECT_EQ(symbol::name(error::field(stack::top_value(), error::F_ID)->data2), "overflow");
}

}  // namespace
}  // namespace kov
