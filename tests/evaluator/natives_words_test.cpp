// The word and context natives on words that the language cannot spell directly: unbound words
// and words of contexts whose values are not present.
#include "actions_fixture.hpp"
#include "core/cells.hpp"
#include "core/context.hpp"
#include "evaluator/natives.hpp"

namespace kov {
namespace {

using testing::Called;
using testing::in_frame;

// Calls native number n with the arguments and the refinement array.
Called call_native(int n, std::vector<Cell> args, std::vector<int32_t> refs = {}) {
    natives::init();
    refs.resize(8, -1);
    return in_frame("native", std::move(args), [&] {
        Status s = natives::table[n - 1](refs.data());
        EXPECT_EQ(s, Status::normal);
    });
}

constexpr int GET = 21, SET = 22, BIND = 38, VALUE_Q = 69, CONTEXT_Q = 92;

class WordNatives : public testing::RuntimeTest {
protected:
    static Cell unbound(const char* name, uint32_t type = T_WORD) {
        return cells::make_word(type, 0, symbol::make(name));
    }
};

TEST_F(WordNatives, UnboundWords) {
    for (uint32_t type : {T_WORD, T_SET_WORD, T_GET_WORD, T_LIT_WORD}) {
        Called r = call_native(CONTEXT_Q, {unbound("loose", type)});
        EXPECT_EQ(r.error, "");
        EXPECT_EQ(r.value.type(), uint32_t(T_NONE));
    }
    Called v = call_native(VALUE_Q, {unbound("loose")});
    EXPECT_EQ(v.error, "");
    EXPECT_EQ(v.value.type(), uint32_t(T_LOGIC));
    EXPECT_FALSE(cells::logic(v.value));

    Called g = call_native(GET, {unbound("loose")}, {0});
    EXPECT_EQ(g.error, "script/no-value");
    Called s = call_native(SET, {unbound("loose"), cells::make_integer(1)});
    EXPECT_EQ(s.error, "script/not-defined");

    // Binding to the context of an unbound word has no context to bind to.
    Called b = call_native(BIND, {unbound("a"), unbound("loose")});
    EXPECT_EQ(b.error, "script/not-defined");
    EXPECT_EQ(testing::spelling(b.arg[0]), "loose");
}

}  // namespace
}  // namespace kov
