// The argument stack, call frames and control transfers.
#include <optional>

#include "core/memory.hpp"
#include "core/stack.hpp"
#include "datatypes/error.hpp"
#include "runtime_fixture.hpp"

namespace kov {
namespace {

using testing::RuntimeTest;
using testing::unwind_code;

class Stack : public RuntimeTest {};

Cell integer(int32_t n) { return Cell{T_INTEGER, 0, uint32_t(n), 0}; }

TEST_F(Stack, PushPopAndEmptyTop) {
    Cell* base = stack::arguments;
    stack::reset();
    EXPECT_EQ(stack::top, base);
    Cell a = integer(1), b = integer(2);
    stack::push(&a);
    stack::push(&b);
    EXPECT_EQ(stack::top_value()->data2, 2u);
    stack::pop(1);
    EXPECT_EQ(stack::top_value()->data2, 1u);
    stack::pop(1000000);
    EXPECT_EQ(stack::top, stack::begin);
    EXPECT_EQ(stack::top_value(), stack::begin);
}

// A pushed slot never shows what an earlier call left there: the collector marks the stack up to
// its top, and a stale series value in a fresh slot would name a freed node.
TEST_F(Stack, PushedSlotReadsUnset) {
    Cell* c = stack::push_slot();
    *c = integer(5);
    stack::pop(1);
    Cell* d = stack::push_slot();
    EXPECT_EQ(d, c);
    EXPECT_TRUE(d->is(T_UNSET));
    stack::pop(1);
}

TEST_F(Stack, MarkAndUnwindVariants) {
    struct Case {
        void (*leave)();
        bool result_in_slot;  // copied into the caller's result slot
        bool result_on_top;   // left as the caller's top value
    };
    const Case cases[] = {
        {stack::unwind, false, true},      {stack::unwind_func, false, true},
        {stack::unwind_last, true, true},  {stack::unwind_func_last, true, true},
        {stack::unwind_drop, false, false}, {stack::unwind_func_drop, false, false},
    };
    for (const Case& c : cases) {
        stack::reset();
        Cell* caller = stack::push_slot();  // the caller's result slot
        ASSERT_EQ(caller, stack::arguments);
        *caller = integer(-1);
        Cell* base = stack::mark_native(nullptr);
        EXPECT_EQ(base, stack::top);
        Cell r = integer(42);
        stack::push(&r);  // the callee's result slot
        Cell x = integer(7);
        stack::push(&x);
        c.leave();
        EXPECT_EQ(stack::arguments, caller);
        EXPECT_EQ(caller->data2, c.result_in_slot ? 42u : uint32_t(-1));
        if (c.result_on_top) {
            EXPECT_EQ(stack::top, base + 1);
            EXPECT_EQ(stack::top_value()->data2, 42u);
        } else {
            EXPECT_EQ(stack::top, caller);
        }
    }
}

// A snapshot puts the arguments base, the top and the top frame back when its scope ends,
// whether the scope ends normally or by an Unwind, unless it was dismissed; restore() puts them
// back at once and leaves it armed.
TEST_F(Stack, SnapshotRestoresOnScopeExitUnlessDismissed) {
    struct Case { bool by_unwind, dismiss, restore_early; };
    const Case cases[] = {
        {false, false, false}, {true, false, false}, {false, true, false},
        {true, true, false},   {false, false, true}, {false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "unwind " << c.by_unwind << " dismiss " << c.dismiss
                                          << " early " << c.restore_early);
        stack::reset();
        Cell* args = stack::arguments;
        Cell* top = stack::top;
        CallFrame* frames = stack::frame_top;
        Cell* inner_args = nullptr;
        Cell* inner_top = nullptr;
        CallFrame* inner_frames = nullptr;
        uint32_t code = unwind_code([&] {
            stack::Snapshot snap;
            Cell v = integer(5);
            stack::push(&v);
            stack::mark_loop(nullptr);
            stack::push(&v);
            stack::push(&v);
            if (c.restore_early) {
                snap.restore();
                EXPECT_EQ(stack::arguments, args);
                EXPECT_EQ(stack::top, top);
                EXPECT_EQ(stack::frame_top, frames);
                stack::mark_native(nullptr);  // moved again after the early restore
                stack::push(&v);
            }
            inner_args = stack::arguments;
            inner_top = stack::top;
            inner_frames = stack::frame_top;
            if (c.dismiss) snap.dismiss();
            if (c.by_unwind) stack::raise_pending(Status::brk);
        });
        EXPECT_EQ(code, c.by_unwind ? THROW_BREAK : 0u);
        EXPECT_EQ(stack::arguments, c.dismiss ? inner_args : args);
        EXPECT_EQ(stack::top, c.dismiss ? inner_top : top);
        EXPECT_EQ(stack::frame_top, c.dismiss ? inner_frames : frames);
        while (stack::frame_top > frames) stack::unwind_drop();
    }
}

TEST_F(Stack, FrameStackOverflowIsAnError) {
    stack::mark_try(nullptr);
    CallFrame* try_frame = stack::ctop();
    uint32_t code = unwind_code([] {
        for (int i = 0; i < 20000; i++) stack::mark_native(nullptr);
    });
    EXPECT_EQ(code, THROW_ERROR);
    EXPECT_EQ(stack::frame_top, try_frame);  // the try frame was popped as well
    ASSERT_TRUE(stack::top_value()->is(T_ERROR));
    EXPECT_EQ(error::id_word(stack::top_value()), "stack-overflow");
    EXPECT_EQ(stack::frame_depth(), 1u);
}

TEST_F(Stack, FrameStackHoldsTwelveThousandFrames) {
    stack::mark_try(nullptr);
    uint32_t pushed = 0;
    unwind_code([&] {
        while (true) {
            stack::mark_native(nullptr);
            pushed++;
        }
    });
    EXPECT_EQ(pushed + 2, FRAME_STACK_FRAMES);  // with the bottom and the try frames
}

TEST_F(Stack, ArgumentStackOverflowIsAnError) {
    stack::mark_try(nullptr);
    Cell v = integer(1);
    uint32_t code = unwind_code([&] {
        for (uint32_t i = 0; i < ARG_STACK_CELLS + 10; i++) stack::push(&v);
    });
    EXPECT_EQ(code, THROW_ERROR);
    EXPECT_EQ(error::id_word(stack::top_value()), "stack-overflow");
}

TEST_F(Stack, BreakReachesTheLoopFrame) {
    stack::mark_loop(nullptr);
    CallFrame* loop = stack::ctop();
    Cell* loop_base = stack::arguments;
    stack::mark_native(nullptr);
    stack::mark_native(nullptr);  // the break native's own frame
    Cell v = integer(9);
    stack::push_slot();
    stack::push(&v);
    EXPECT_EQ(unwind_code([] { stack::throw_break(true, false); }), THROW_BREAK);
    EXPECT_EQ(stack::ctop(), loop);
    EXPECT_EQ(stack::arguments, loop_base);
    EXPECT_EQ(loop_base->data2, 9u);
    stack::mark_native(nullptr);
    EXPECT_EQ(unwind_code([] { stack::throw_break(false, true); }), THROW_CONTINUE);
    EXPECT_EQ(stack::ctop(), loop);
    EXPECT_TRUE(loop_base->is(T_UNSET));
}

TEST_F(Stack, TransfersWithoutReceiverRaiseThrowErrors) {
    struct Case { void (*transfer)(); const char* id; };
    const Case cases[] = {
        {[] { stack::throw_break(false, false); }, "break"},
        {[] { stack::throw_break(false, true); }, "continue"},
        {[] { stack::throw_return(true, false); }, "return"},
        {[] { stack::throw_value(100); }, "throw"},
        {[] { (void)stack::deliver_break(true, false); }, "break"},
        {[] { (void)stack::deliver_return(false, true); }, "return"},
        {[] { (void)stack::deliver_throw(100); }, "throw"},
    };
    for (const Case& c : cases) {
        stack::mark_try(nullptr);
        stack::mark_loop(nullptr);  // hidden behind the try-all frame below
        stack::mark(nullptr, FRAME_IN_FUNC >> 24 | FRAME_CATCH);
        stack::mark_try_all(nullptr);
        stack::mark_native(nullptr);
        stack::push_slot();
        EXPECT_EQ(unwind_code(c.transfer), THROW_ERROR) << c.id;
        ASSERT_TRUE(stack::top_value()->is(T_ERROR));
        EXPECT_EQ(error::category_word(stack::top_value()), "throw");
        EXPECT_EQ(error::id_word(stack::top_value()), c.id);
        stack::frame_top = stack::frame_begin + 1;
        stack::arguments = stack::top = stack::begin + 1;
    }
}

TEST_F(Stack, ReturnPassesLoopsToTheFunction) {
    stack::mark_interp_func(nullptr);
    stack::set_in_func_flag(true);
    CallFrame* func = stack::ctop();
    Cell* func_base = stack::arguments;
    stack::mark_loop(nullptr);
    stack::mark_native(nullptr);  // return's own frame
    Cell v = integer(5);
    stack::push(&v);
    EXPECT_EQ(unwind_code([] { stack::throw_return(true, false); }), THROW_RETURN);
    EXPECT_EQ(stack::ctop(), func);
    EXPECT_EQ(func_base->data2, 5u);
    stack::mark_native(nullptr);
    EXPECT_EQ(unwind_code([] { stack::throw_return(false, false); }), THROW_EXIT);
    EXPECT_TRUE(func_base->is(T_UNSET));
}

TEST_F(Stack, BreakInsideTryAllInsideLoop) {
    stack::mark_loop(nullptr);
    stack::mark_try_all(nullptr);
    stack::mark_native(nullptr);
    EXPECT_EQ(unwind_code([] { stack::throw_break(false, false); }), THROW_ERROR);
    EXPECT_EQ(error::id_word(stack::top_value()), "break");
}

TEST_F(Stack, ThrowReachesCatchWithValueAndName) {
    stack::mark_catch(nullptr);
    CallFrame* c = stack::ctop();
    stack::mark_native(nullptr);
    Cell v = integer(3), name = Cell{T_NONE, 0, 0, 0};
    stack::push(&v);
    stack::push(&name);
    EXPECT_EQ(unwind_code([] { stack::throw_value(1234); }), 1234u);
    EXPECT_EQ(stack::ctop(), c);
    EXPECT_EQ(stack::top - stack::arguments, 2);
    EXPECT_EQ(stack::arguments[0].data2, 3u);
    EXPECT_TRUE(stack::arguments[1].is(T_NONE));
}

TEST_F(Stack, ErrorUnwindsToTryAndRestoresFunctionContexts) {
    // A function context whose values pointer each activation saves and restores.
    Handle ctx = memory::make_cells(2);
    SeriesBuffer* b = memory::buffer_of(ctx);
    b->head_cell()[0] = Cell{T_CONTEXT | CTX_ON_STACK, 0, 77, 0};
    b->tail = 32;
    stack::mark_try(nullptr);
    stack::mark_func(nullptr, ctx);
    stack::mark_func_body(nullptr, ctx);
    EXPECT_NE(memory::buffer_of(ctx)->head_cell()->data2, 77u);
    stack::mark_func(nullptr, ctx);  // a recursive activation
    stack::mark_func_body(nullptr, ctx);
    Cell e;
    error::create(&e, "math", "zero-divide");
    EXPECT_EQ(unwind_code([&] { stack::throw_error(&e); }), THROW_ERROR);
    EXPECT_EQ(memory::buffer_of(ctx)->head_cell()->data2, 77u);
    EXPECT_EQ(stack::frame_depth(), 1u);
    EXPECT_TRUE(error::field(stack::top_value(), error::F_STACK)->is(T_INTEGER));
}

TEST_F(Stack, UnrollStopsAtKindOrTryAllOrBottom) {
    stack::mark_loop(nullptr);
    CallFrame* loop = stack::ctop();
    Cell* loop_base = stack::arguments;
    stack::mark_native(nullptr);
    stack::mark_native(nullptr);
    Cell* inner = stack::arguments;
    EXPECT_EQ(stack::unroll_loop(true), loop);
    EXPECT_EQ(stack::arguments, loop_base);
    EXPECT_EQ(stack::top, inner + 1);
    stack::mark_native(nullptr);
    EXPECT_EQ(stack::unroll(FRAME_CATCH, false), stack::frame_begin);
    EXPECT_EQ(stack::arguments, stack::begin);
    EXPECT_EQ(stack::top, stack::begin);
}

TEST_F(Stack, RevertErrorMovesTheErrorIntoTheResultSlot) {
    Cell e;
    error::create(&e, "script", "no-value");
    stack::reset();
    stack::push_slot();
    stack::push(&e);
    stack::revert_error();
    EXPECT_TRUE(stack::arguments->is(T_ERROR));
    EXPECT_EQ(stack::top, stack::arguments + 1);
}

TEST_F(Stack, NameSymbolsAboveSixteenBitsStayOutOfTheKind) {
    Cell name{T_WORD, 0, 0x12345, 0};
    stack::mark(&name, FRAME_LOOP);
    EXPECT_EQ(stack::ctop()->kind(), uint32_t(FRAME_LOOP));
    EXPECT_EQ(stack::ctop()->symbol, 0x12345u);
    Cell out;
    stack::frame_name(&out);
    EXPECT_EQ(out.data2, 0x12345u);
}

// ---- receiving transfers ----

// How a delivered transfer travels up to its receiver.
enum class Travel { returned, thrown };
constexpr int DEPTH = 3;  // C++ calls between the delivery and the receiver

// Delivers a transfer `depth` calls down, then passes its status up each call, or throws it
// from the innermost one.
template <class Deliver> Status nested(int depth, Travel how, Deliver deliver) {
    if (depth == 0) {
        Status s = deliver();
        if (how == Travel::thrown) stack::raise_pending(s);
        return s;
    }
    Status s = nested(depth - 1, how, deliver);
    if (s == Status::normal) ADD_FAILURE() << "a transfer came back as normal";
    return s;
}

// A loop as the interpreter runs one: its frame, each round's body through the receiver, and
// one switch on the answer. Answers what the loop passes up.
template <class Body> Status run_loop(int rounds, int& ran, Body body) {
    stack::mark_loop(nullptr);
    for (int i = 0; i < rounds; i++) {
        ran++;
        Status s = stack::receive(THROW_BREAK, [&] { return body(i); });
        switch (s) {
        case Status::normal: case Status::cont: break;
        case Status::brk: stack::unwind_last(); return Status::normal;
        default: return s;  // not the loop's: its frame is gone already
        }
    }
    stack::unwind_last();
    return Status::normal;
}

// A function call: its frame receives return and exit.
template <class Body> Status call_function(Body body) {
    stack::mark_interp_func(nullptr);
    stack::set_in_func_flag(true);
    Status s = stack::receive(THROW_RETURN, body);
    switch (s) {
    case Status::normal: case Status::ret: case Status::exit: stack::unwind_last(); return Status::normal;
    default: return s;
    }
}

// What the stacks look like after a transfer was received.
struct After {
    uint32_t depth, arguments, top;
    Cell result;  // the caller's result slot
    int ran;
    bool operator==(const After& o) const {
        return depth == o.depth && arguments == o.arguments && top == o.top &&
               result.header == o.result.header && result.data2 == o.result.data2 && ran == o.ran;
    }
};
After after(Cell* caller, int ran) {
    return {stack::frame_depth(), stack::index_of(stack::arguments), stack::index_of(stack::top), *caller, ran};
}

// Each case starts from the bottom frame alone.
class Receive : public RuntimeTest {
protected:
    std::optional<stack::Snapshot> bottom;  // taken once the runtime is up
    void SetUp() override {
        RuntimeTest::SetUp();
        bottom.emplace();
    }
    void fresh() {
        bottom->restore();
        stack::reset();
    }
};

TEST_F(Receive, LoopTakesBreakAndContinueAlikeReturnedOrThrown) {
    struct Case { bool with_value, is_continue; int at_round; int ran; Cell result; };
    const Case cases[] = {
        {true, false, 1, 2, integer(9)},
        {false, false, 2, 3, Cell{T_UNSET, 0, 0, 0}},
        {true, true, 1, 4, Cell{T_UNSET, 0, 0, 0}},  // the value of a continue is dropped
    };
    for (const Case& c : cases) {
        After seen[2];
        for (Travel how : {Travel::returned, Travel::thrown}) {
            fresh();
            Cell* caller = stack::push_slot();
            int ran = 0;
            Status s = run_loop(4, ran, [&](int round) {
                if (round != c.at_round) return Status::normal;
                stack::mark_native(nullptr);  // break's own frame
                stack::push_slot();
                Cell v = integer(9);
                stack::push(&v);
                return nested(DEPTH, how, [&] { return stack::deliver_break(c.with_value, c.is_continue); });
            });
            EXPECT_EQ(s, Status::normal);
            seen[int(how)] = after(caller, ran);
        }
        EXPECT_EQ(seen[0], seen[1]) << c.at_round;
        EXPECT_EQ(seen[0].ran, c.ran);
        EXPECT_EQ(seen[0].depth, 1u);
        EXPECT_EQ(seen[0].result.type(), c.result.type());
        EXPECT_EQ(seen[0].result.data2, c.result.data2);
    }
}

TEST_F(Receive, ReturnLandsInTheFunctionThroughALoop) {
    for (bool with_value : {true, false}) {
        After seen[2];
        for (Travel how : {Travel::returned, Travel::thrown}) {
            fresh();
            Cell* caller = stack::push_slot();
            int ran = 0;
            Status s = call_function([&] {
                stack::push_slot();  // the function's result slot
                return run_loop(3, ran, [&](int round) {
                    if (round < 1) return Status::normal;
                    stack::mark_native(nullptr);  // return's own frame
                    Cell v = integer(5);
                    stack::push(&v);
                    return nested(DEPTH, how, [&] { return stack::deliver_return(with_value, false); });
                });
            });
            EXPECT_EQ(s, Status::normal);
            seen[int(how)] = after(caller, ran);
        }
        EXPECT_EQ(seen[0], seen[1]);
        EXPECT_EQ(seen[0].ran, 2);  // the loop stopped at the return
        EXPECT_EQ(seen[0].depth, 1u);
        EXPECT_EQ(seen[0].result.type(), with_value ? uint32_t(T_INTEGER) : uint32_t(T_UNSET));
        if (with_value) {
            EXPECT_EQ(seen[0].result.data2, 5u);
        }
    }
}

TEST_F(Receive, BreakInsideTryAllBecomesTheThrowError) {
    After seen[2];
    for (Travel how : {Travel::returned, Travel::thrown}) {
        fresh();
        Cell* caller = stack::push_slot();
        stack::mark_loop(nullptr);
        stack::mark_try_all(nullptr);
        Status s = stack::receive(THROW_ERROR, [&] {
            stack::mark_native(nullptr);
            return nested(DEPTH, how, [] { return stack::deliver_break(false, false); });
        });
        EXPECT_EQ(s, Status::error);
        ASSERT_TRUE(stack::top_value()->is(T_ERROR));
        EXPECT_EQ(error::category_word(stack::top_value()), "throw");
        EXPECT_EQ(error::id_word(stack::top_value()), "break");
        seen[int(how)] = after(caller, 0);
        EXPECT_EQ(seen[int(how)].depth, 2u);  // the try-all frame is gone, the loop's stays
    }
    EXPECT_EQ(seen[0].arguments, seen[1].arguments);
    EXPECT_EQ(seen[0].top, seen[1].top);
}

TEST_F(Receive, CatchTakesAThrownValue) {
    for (Travel how : {Travel::returned, Travel::thrown}) {
        fresh();
        stack::push_slot();
        stack::mark_catch(nullptr);
        CallFrame* catch_frame = stack::ctop();
        Status s = stack::receive(THROW_CATCH_LEVEL, [&] {
            stack::mark_native(nullptr);
            Cell v = integer(3), name = Cell{T_NONE, 0, 0, 0};
            stack::push(&v);
            stack::push(&name);
            return nested(DEPTH, how, [] { return stack::deliver_throw(1234); });
        });
        EXPECT_EQ(s, Status(1234));
        EXPECT_EQ(stack::ctop(), catch_frame);
        ASSERT_EQ(stack::top - stack::arguments, 2);
        EXPECT_EQ(stack::arguments[0].data2, 3u);
        EXPECT_TRUE(stack::arguments[1].is(T_NONE));
    }
}

TEST_F(Receive, PendingStatusPassesAGuardBelowItsLevel) {
    // A break to a loop below a catch: the catch guard does not take it, either way.
    After seen[2];
    for (Travel how : {Travel::returned, Travel::thrown}) {
        fresh();
        Cell* caller = stack::push_slot();
        stack::mark_loop(nullptr);
        CallFrame* loop = stack::ctop();
        stack::mark_catch(nullptr);
        auto guard = [&] {
            return stack::receive(THROW_CATCH_LEVEL, [&] {
                stack::mark_native(nullptr);
                return nested(DEPTH, how, [] { return stack::deliver_break(false, false); });
            });
        };
        if (how == Travel::returned) {
            EXPECT_EQ(guard(), Status::brk);
        } else {
            EXPECT_EQ(unwind_code([&] { (void)guard(); }), THROW_BREAK);
        }
        EXPECT_EQ(stack::ctop(), loop);
        seen[int(how)] = after(caller, 0);
    }
    EXPECT_EQ(seen[0], seen[1]);
    // C++ code that cannot pass a status up raises it with the same code.
    for (Status s : {Status::brk, Status::cont, Status::ret, Status::exit, Status(77)})
        EXPECT_EQ(unwind_code([&] { stack::raise_pending(s); }), uint32_t(s));
    EXPECT_EQ(unwind_code([] { stack::raise_if_pending(Status::normal); }), 0u);
}

TEST(StackDeath, UncaughtErrorEndsWithMinusTwo) {
    EXPECT_EXIT(
        {
            cycles::init();
            boot::restart_for_tests();
            stack::raise_error("math", "zero-divide");
        },
        ::testing::ExitedWithCode(254), "");
}

}  // namespace
}  // namespace kov

#include "core/buffer.hpp"
#include "core/context.hpp"
#include "core/runtime_words.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"

namespace kov {
namespace {

class StackNames : public testing::RuntimeTest {};

TEST_F(StackNames, CallsTracesAndNames) {
    Cell f_word = *word::load("fn-a");
    Cell n_word = *word::load("native-b");
    Cell anon = *word::load("<anon>");
    Cell function{T_FUNCTION, 0, 0, 0};
    context::set(&f_word, &function);
    stack::mark_interp_func(&f_word);
    stack::mark_interp_native(&n_word);
    stack::mark_native(&anon);  // hidden from every name report
    CallFrame* last = stack::ctop();

    collector::Root calls(Cell{T_BLOCK, 0, memory::make_cells(8), 0});
    stack::collect_calls(calls.get());
    SeriesBuffer* b = memory::buffer_of(calls->data2);
    ASSERT_EQ(b->length(), 4u);
    EXPECT_EQ(symbol::name(b->head_cell()[0].data2), "native-b");  // newest first
    EXPECT_EQ(b->head_cell()[0].data1, context::global);
    EXPECT_TRUE(b->head_cell()[1].is(T_INTEGER));
    EXPECT_EQ(symbol::name(b->head_cell()[2].data2), "fn-a");

    collector::Root trace(Cell{T_BLOCK, 0, memory::make_cells(8), 0});
    stack::collect_trace(1, trace.get(), last);  // level 1: functions only
    b = memory::buffer_of(trace->data2);
    ASSERT_EQ(b->length(), 1u);
    EXPECT_EQ(symbol::name(b->head_cell()[0].data2), "fn-a");
    collector::Root all(Cell{T_BLOCK, 0, memory::make_cells(8), 0});
    stack::collect_trace(2, all.get(), last);
    EXPECT_EQ(memory::buffer_of(all->data2)->length(), 2u);

    collector::Root text;
    string::make_at(text.get(), 16);
    int32_t left = stack::form_trace(2, text.get(), last, 100);
    EXPECT_EQ(string::to_utf8(text.get()), "fn-a native-b ");
    EXPECT_EQ(left, 100 - 14);

    Cell name;
    stack::frame_name(&name);
    EXPECT_EQ(symbol::name(name.data2), "native-b");  // the hidden frame is skipped
}

// A throw that a catch frame received leaves no origin behind: the next name report starts at
// the top frame, not at the frame the throw came from.
TEST_F(StackNames, ACaughtThrowLeavesNoErrorOrigin) {
    Cell thrower = *word::load("names-thrower");
    Cell a = *word::load("names-a"), b = *word::load("names-b"), c = *word::load("names-c");
    stack::mark_catch(nullptr);
    stack::mark_native(&thrower);
    Cell v{T_INTEGER, 0, 3, 0}, name{T_NONE, 0, 0, 0};
    stack::push(&v);
    stack::push(&name);
    EXPECT_EQ(unwind_code([] { stack::throw_value(1234); }), 1234u);
    stack::unwind();  // the catch frame is left
    stack::mark_native(&a);
    stack::mark_native(&b);
    stack::mark_native(&c);
    Cell where;
    stack::frame_name(&where);
    EXPECT_EQ(symbol::name(where.data2), "names-c");
}

// The word naming a frame is bound in the frame's name context, so it can be looked up there;
// with no named frame the answer is the runtime's word <not-found>.
TEST_F(StackNames, FrameNamesAreWordsOfTheirContext) {
    Cell w = *word::load("names-fn");
    ASSERT_EQ(w.data1, context::global);
    Cell value{T_INTEGER, 0, 5, 0};
    context::set(&w, &value);
    Cell none_name;
    stack::frame_name(&none_name);
    EXPECT_EQ(none_name.header, runtime_words::words::not_found.header);
    EXPECT_EQ(none_name.data1, runtime_words::words::not_found.data1);
    EXPECT_EQ(none_name.data2, runtime_words::words::not_found.data2);
    EXPECT_EQ(none_name.data3, runtime_words::words::not_found.data3);
    stack::mark_native(&w);
    Cell name;
    stack::frame_name(&name);
    EXPECT_EQ(name.data1, context::global);
    EXPECT_EQ(name.data2, w.data2);
    ASSERT_EQ(name.data3, w.data3);
    EXPECT_EQ(context::get(&name)->data2, 5u);
    // A name whose context does not hold it stays a word of that symbol, unbound.
    Cell stray{T_WORD, context::global, symbol::make("names-not-there"), 0xFFFFFFFFu};
    stack::mark_native(&stray);
    stack::frame_name(&name);
    EXPECT_EQ(symbol::name(name.data2), "names-not-there");
    EXPECT_EQ(name.data3, 0xFFFFFFFFu);
}

// Argument errors name the parameter through the parameter-word service: logic! math names the
// second parameter (0-based index 1), and without a function spec the word is <anon>.
int32_t asked_param = -1;
void named_param_word(int32_t n, Cell* out) {
    asked_param = n;
    *out = *word::load("names-param");
}

TEST_F(StackNames, ArgumentErrorsNameTheParameterWord) {
    auto saved = stack::param_word;
    stack::param_word = named_param_word;
    asked_param = -1;
    stack::mark_try(nullptr);
    logic::push(true);
    Cell n{T_INTEGER, 0, 1, 0};
    stack::push(&n);
    EXPECT_EQ(unwind_code([] { type_registry::table(T_LOGIC).or_t(); }),
              THROW_ERROR);
    stack::param_word = saved;
    EXPECT_EQ(error::id_word(stack::top_value()), "expect-arg");
    EXPECT_EQ(asked_param, 1);
    EXPECT_EQ(error::field(stack::top_value(), error::F_ARG3)->data2, word::load("names-param")->data2);

    // The default service: no function spec to read, so the word <anon>.
    Cell ts{T_TYPESET, 0, 0, 0};
    Cell v{T_INTEGER, 0, 0, 0};
    stack::mark_try(nullptr);
    EXPECT_EQ(unwind_code([&] { stack::check_type(&ts, 0, &v); }), THROW_ERROR);
    Cell* word3 = error::field(stack::top_value(), error::F_ARG3);
    EXPECT_TRUE(word3->is(T_WORD));
    EXPECT_EQ(word3->data2, runtime_words::words::anon.data2);
}

}  // namespace
}  // namespace kov
