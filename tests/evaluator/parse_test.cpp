// The parse engine called directly: the /part limit as an absolute index (set or not, never
// encoded as 0), the result shapes, and the frame limit shared by nested rules, which an error
// gives back.
#include <string>

#include "actions_fixture.hpp"
#include "core/runtime.hpp"
#include "datatypes/block.hpp"
#include "evaluator/lexer.hpp"
#include "evaluator/parse.hpp"

namespace kov {
namespace {

using collector::Root;
using testing::Called;
using testing::in_frame;

class Parse : public testing::RuntimeTest {
protected:
    // Loads `input rules` from source text and parses with them; the input's head moves on by
    // `skip` elements first.
    static Called run(const char* source, parse::Limit limit, uint32_t skip = 0, int32_t op = COMP_EQUAL) {
        Root loaded;
        lexer::scan(loaded.get(), source);
        Root input(*block::ks_abs_at(loaded.get(), 0)), rules(*block::ks_abs_at(loaded.get(), 1));
        input->data1 += skip;
        return in_frame("parse", {}, [&] {
            parse::process(input.get(), rules.get(), op, limit, nullptr, stack::arguments);
        });
    }
    static parse::Limit at(uint32_t index) { return parse::Limit{true, index}; }
    static bool truth(const Called& c) { return c.value.is(T_LOGIC) && cells::logic(c.value); }
};

TEST_F(Parse, LimitsAreAbsoluteIndexesAndNoLimitIsNotZero) {
    struct Case {
        const char* source;
        parse::Limit limit;
        uint32_t skip;
        bool expected;
    } cases[] = {
        {"\"abc\" [\"abc\"]", {}, 0, true},
        {"\"abc\" [\"ab\"]", {}, 0, false},
        {"\"abc\" [\"ab\"]", at(2), 0, true},
        {"\"abc\" [\"abc\"]", at(2), 0, false},   // a literal may not run past the limit
        {"\"abc\" [to end]", at(0), 0, true},      // a limit at the head: nothing left
        {"\"\" []", {}, 0, true},
        {"\"abcd\" [\"bc\"]", at(3), 1, true},     // counted from the buffer, not the head
        {"\"abcd\" [\"b\"]", at(3), 1, false},
        {"\"abcd\" [\"cd\"]", at(9), 2, true},     // past the tail: the tail
        {"[1 2 3] [skip skip]", at(2), 0, true},
        {"[1 2 3] [skip skip]", {}, 0, false},
        {"#{0102} [skip]", at(1), 0, true},
    };
    for (const Case& c : cases) {
        Called r = run(c.source, c.limit, c.skip);
        EXPECT_EQ(r.error, "") << c.source;
        EXPECT_EQ(truth(r), c.expected) << c.source << " limit " << c.limit.set << "/" << c.limit.at;
    }
}

TEST_F(Parse, CaseOperatorAndCollectedBlock) {
    EXPECT_TRUE(truth(run("\"aBc\" [\"abc\"]", {})));
    EXPECT_FALSE(truth(run("\"aBc\" [\"abc\"]", {}, 0, COMP_STRICT_EQUAL)));
    Called r = run("\"ab\" [collect [keep skip keep skip]]", {});
    ASSERT_TRUE(r.value.is(T_BLOCK));
    EXPECT_EQ(block::ks_length_q(&r.value), 2);
}

TEST_F(Parse, TheFrameLimitIsGivenBackAfterAnError) {
    // The test thread's stack is a plain one: guard it as the runtime's own thread is guarded.
    struct StackGuard {
        uintptr_t saved = runtime::stack_limit;
        StackGuard() { runtime::set_stack_limit_from_here(size_t(4) << 20); }
        ~StackGuard() { runtime::stack_limit = saved; }
    } guard;
    // A rule block that holds itself recurses until the frames run out.
    Root loaded;
    lexer::scan(loaded.get(), "\"a\" []");
    Root input(*block::ks_abs_at(loaded.get(), 0)), rules(*block::ks_abs_at(loaded.get(), 1));
    Root self(*rules);
    block::append_value(rules.get(), self.get());  // [<itself>]
    Called r = in_frame("parse", {}, [&] {
        parse::process(input.get(), rules.get(), COMP_EQUAL, {}, nullptr, stack::arguments);
    });
    EXPECT_EQ(r.error, "script/parse-stack");
    // Nested rules close to the limit still run afterwards.
    std::string deep = "[] ";
    for (int i = 0; i < 300; i++) deep += "[";
    for (int i = 0; i < 300; i++) deep += "]";
    Called ok = run(deep.c_str(), {});
    EXPECT_EQ(ok.error, "");
    EXPECT_TRUE(truth(ok));
    deep = "[] ";
    for (int i = 0; i < 4000; i++) deep += "[";
    for (int i = 0; i < 4000; i++) deep += "]";
    EXPECT_EQ(run(deep.c_str(), {}).error, "script/parse-stack");
}

}  // namespace
}  // namespace kov
