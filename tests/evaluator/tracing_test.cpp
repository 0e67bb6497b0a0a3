// Trace runs seen from C++: the event mask a callback asks for, and the state a run saves and
// puts back (the switches, the mask and the error hook) whichever way its evaluation ends.
#include <stdexcept>

#include "actions_fixture.hpp"
#include "boot/base.hpp"
#include "core/cells.hpp"
#include "datatypes/string.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/lexer.hpp"
#include "evaluator/tracing.hpp"

namespace kov {
namespace {

using collector::Root;
using testing::Called;
using testing::in_frame;

class Tracing : public testing::RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        base::run();  // the natives and operators under their words
    }
    // Evaluates Kov source in a frame of its own.
    static Called run(const char* source) {
        Root text, block;
        string::make_at(text.get(), 64);
        string::concatenate_cstring(text.get(), source);
        lexer::ScanOptions options;
        lexer::scan_string(block.get(), text.get(), -1, options, nullptr);
        return in_frame("test", {block.cell}, [] {
            Cell b = stack::arguments[0];
            Status s = interpreter::eval(&b, true);
            EXPECT_EQ(s, Status::normal);
        });
    }
    static int outer_hook_calls;
    static void outer_hook(const Cell*) { outer_hook_calls++; }
};
int Tracing::outer_hook_calls = 0;

TEST_F(Tracing, CallbackMask) {
    using namespace tracing;
    struct Case {
        const char* body;
        uint32_t mask;
    };
    const Case cases[] = {
        {"[[fetch push] 1]", EV_FETCH | EV_PUSH},
        {"[[]]", 0},
        {"[[fetch 1 \"push\" no-such-event 'set set]]", EV_FETCH | EV_SET},
        {"[[FETCH Expr]]", EV_FETCH | EV_EXPR},
        {"[1 [fetch]]", ALL_EVENTS},
        {"[]", ALL_EVENTS},
        {"[[init end prolog epilog enter exit open return fetch push set call error throw catch expr]]",
         ALL_EVENTS},
    };
    for (const Case& c : cases) {
        std::string source = std::string("func [e c o v r f] ") + c.body;
        Called made = run(source.c_str());
        ASSERT_EQ(made.error, "") << c.body;
        Root fn(made.value);
        ASSERT_TRUE(fn->is(T_FUNCTION)) << c.body;
        EXPECT_EQ(callback_mask(fn.get()), c.mask) << c.body;
    }
}

TEST_F(Tracing, RunStateAndNesting) {
    Called made = run("func [e c o v r f] [[fetch] none]");
    ASSERT_EQ(made.error, "");
    Root fn(made.value);
    Called other = run("func [e c o v r f] [none]");
    Root second(other.value);
    stack::error_hook = outer_hook;
    Status s = tracing::with_callback(fn.get(), [&] {
        EXPECT_TRUE(interpreter::tracing);
        EXPECT_TRUE(tracing::active);
        EXPECT_EQ(tracing::mask, uint32_t(tracing::EV_FETCH));
        EXPECT_NE(stack::error_hook, &Tracing::outer_hook);
        // A nested run keeps the installed callback and its mask.
        return tracing::with_callback(second.get(), [] {
            EXPECT_EQ(tracing::mask, uint32_t(tracing::EV_FETCH));
            return Status::normal;
        });
    });
    EXPECT_EQ(s, Status::normal);
    EXPECT_FALSE(interpreter::tracing);
    EXPECT_FALSE(tracing::active);
    EXPECT_EQ(tracing::mask, 0u);
    EXPECT_EQ(stack::error_hook, &Tracing::outer_hook);
    stack::error_hook = nullptr;
}

TEST_F(Tracing, StateComesBackWhateverEndsTheRun) {
    Called made = run("func [e c o v r f] [[end] none]");
    Root fn(made.value);
    stack::error_hook = outer_hook;
    // A C++ exception that is no transfer of the language.
    EXPECT_THROW((void)tracing::with_callback(fn.get(), []() -> Status { throw std::runtime_error("x"); }),
                 std::runtime_error);
    EXPECT_FALSE(interpreter::tracing);
    EXPECT_FALSE(tracing::active);
    EXPECT_EQ(tracing::mask, 0u);
    EXPECT_EQ(stack::error_hook, &Tracing::outer_hook);
    // A transfer raised as an Unwind goes on after the end event.
    EXPECT_EQ(testing::unwind_code([&] {
                  (void)tracing::with_callback(fn.get(), []() -> Status { runtime::throw_code(THROW_ERROR); });
              }),
              THROW_ERROR);
    EXPECT_FALSE(interpreter::tracing);
    EXPECT_FALSE(tracing::active);
    EXPECT_EQ(stack::error_hook, &Tracing::outer_hook);
    stack::error_hook = nullptr;
}

TEST_F(Tracing, ErrorsReachTheOuterHookDuringARun) {
    outer_hook_calls = 0;
    stack::error_hook = outer_hook;
    Called r = run("n: 0 do/trace [try [1 / 0] try [1 / 0]] func [e c o v r f] [[error] n: n + 1] n");
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(cells::integer(r.value), 2);
    EXPECT_EQ(outer_hook_calls, 2);
    EXPECT_EQ(stack::error_hook, &Tracing::outer_hook);
    stack::error_hook = nullptr;
}

}  // namespace
}  // namespace kov
