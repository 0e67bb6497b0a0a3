// The interrupt request: while stack::interrupt_requested is set, every loop native, parse's
// rule sequences and repetitions, and every call of a function! raise internal error limit-hit
// (arg1 the word time) at their next step, a try inside a loop body does not keep the loop
// going, and nothing is left behind once it is cleared.
#include <string>

#include "core/stack.hpp"
#include "tests/evaluator/actions_fixture.hpp"
#include "evaluator/interpreter.hpp"
#include "tests/datatypes/object_fixture.hpp"

namespace kov {
namespace {

class Interrupt : public testing::ObjectTest {
protected:
    void TearDown() override {
        stack::interrupt_requested = 0;
        testing::ObjectTest::TearDown();
    }

    // Evaluates the source under a try frame; answers "category/id" of a raised error, else "".
    static std::string run(const char* source, std::string* arg1 = nullptr) {
        collector::Root code;
        lexer::scan(code.get(), std::string_view(source));
        stack::Snapshot saved;
        stack::mark_try(nullptr);
        try {
            (void)interpreter::eval(code.get(), true);
        } catch (const Unwind&) {
            const Cell* e = stack::top_value();
            if (arg1) *arg1 = testing::spelling(*error::field(e, error::F_ARG1));
            return error::category_word(e) + "/" + error::id_word(e);
        }
        return "";
    }
};

TEST_F(Interrupt, EveryLoopAndCallStopsWhileRequested) {
    const char* loops[] = {
        "forever []",
        "while [true] []",
        "until [false]",
        "loop 2000000000 []",
        "repeat i 2000000000 []",
        "foreach x [1 2 3] []",
        "s: [1 2 3] forall s []",
        "remove-each x [1 2 3] [false]",
        "forever [try [forever []]]",
        "forever [attempt [while [true] [try [loop 10 []]]]]",
        "parse \"aaa\" [some \"a\"]",
        "parse \"aaa\" [any [opt \"b\"]]",
        "parse \"abc\" [to [\"c\"]]",
        "parse [1 2 3] [thru [3]]",
        "parse \"ab\" [\"a\" \"b\"]",
        "parse [x] [[\"no\" | 'x]]",
        "f: func [n] [if n > 0 [f n - 1 f n - 1]] f 40",
        "g: func [] [1] g",
        "h: func [x] [return x] h 1",
    };
    for (const char* source : loops) {
        stack::interrupt_requested = 1;
        std::string arg;
        EXPECT_EQ(run(source, &arg), "internal/limit-hit") << source;
        EXPECT_EQ(arg, "time") << source;
    }
}

TEST_F(Interrupt, LoopsRunWhenCleared) {
    stack::interrupt_requested = 0;
    EXPECT_EQ(run("n: 0 loop 3 [n: n + 1] foreach x [1 2] [n: n + x] if n <> 6 [do make error! \"n\"]"), "");
    EXPECT_EQ(run("unless parse \"aaa\" [some \"a\"] [do make error! \"parse\"]"), "");
    // Code without loops or function calls is not stopped by a request.
    stack::interrupt_requested = 1;
    EXPECT_EQ(run("x: 1 + 2 f: func [a] [a * 2] x: negate x if x < 0 [x: x * 2]"), "");
}

}  // namespace
}  // namespace kov
