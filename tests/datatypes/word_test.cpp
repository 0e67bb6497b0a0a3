// The five word kinds: loading and case variants, values through words and context slots with
// their errors, index?, forming and molding each kind, comparison under every compare-op, make
// and to from each kind of spec, and the registration of the kinds with their parents.
#include <functional>
#include <string>
#include <vector>

#include "core/boot.hpp"
#include "core/buffer.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/error.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "tests/core/runtime_fixture.hpp"
#include "tests/datatypes/scalar_fixture.hpp"

namespace kov {
namespace {

using testing::call;
using testing::Outcome;

Cell word_of(const char* spelling, uint32_t type = T_WORD) {
    Cell w = *word::load(spelling);
    w.header = type;
    return w;
}

std::string spelling(const Cell& word) { return symbol::name(word.data2); }

// A stand-in for the lexer's services: the first blank-separated token of the text, read as an
// integer! when it starts with a digit, else as a word of the kind its markers give.
uint32_t kind_of_token(const std::string& t) {
    if (t.empty()) return 0;
    if (t[0] >= '0' && t[0] <= '9') return T_INTEGER;
    if (t[0] == ':') return T_GET_WORD;
    if (t[0] == '\'') return T_LIT_WORD;
    if (t[0] == '/') return T_REFINEMENT;
    if (t.back() == ':') return T_SET_WORD;
    return T_WORD;
}
uint32_t fake_scan_type(const uint8_t* utf8, uint32_t length) {
    return kind_of_token(std::string(reinterpret_cast<const char*>(utf8), length));
}
bool fake_scan_first(const Cell* text, Cell* out) {
    std::string s = string::to_utf8(text);
    std::string token = s.substr(0, s.find(' '));
    uint32_t kind = kind_of_token(token);
    if (kind == 0) {
        *out = cells::make_unset();
    } else if (kind == T_INTEGER) {
        *out = cells::make_integer(std::stoi(token));
    } else {
        std::string name = token;
        if (kind == T_SET_WORD) name.pop_back();
        else if (kind != T_WORD) name.erase(0, 1);
        word::make_at(symbol::make(name), out);
        out->header = kind;
    }
    return true;
}

class Words : public testing::RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        word::lexer = {fake_scan_type, fake_scan_first};
    }
    void TearDown() override { word::lexer = {}; }

    static std::string molded(const Cell& value, bool mold = true, int32_t* left = nullptr) {
        collector::Root v(value), out;
        string::make_at(out.get(), 8);
        int32_t limit = mold ? word::mold(v.get(), out.get(), false, false, false, false, 100, 0)
                             : word::form(v.get(), out.get(), false, 100);
        if (left) *left = limit;
        return string::to_utf8(out.get());
    }
};

TEST_F(Words, CaseVariantSharesTheSlotOfItsTwin) {
    Cell lower = word_of("hello");
    Cell upper = word_of("Hello");
    EXPECT_NE(lower.data2, upper.data2);
    EXPECT_EQ(spelling(upper), "Hello");
    EXPECT_EQ(upper.data1, context::global);
    EXPECT_EQ(upper.data3, lower.data3);
    Cell v = cells::make_integer(42);
    context::set(&upper, &v);
    EXPECT_EQ(cells::integer(*context::get(&lower)), 42);
}

TEST_F(Words, KinLoadersRetypeAndRefinementsStayUnbound) {
    const uint32_t kin[] = {T_LIT_WORD, T_SET_WORD, T_GET_WORD};
    for (uint32_t type : kin) {
        Cell w = *word::load_as("kin", type);
        EXPECT_EQ(w.type(), type);
        EXPECT_EQ(w.data1, context::global);
        EXPECT_EQ(w.data3, word_of("kin").data3);
    }
    Cell r = *word::load_as("only", T_REFINEMENT);
    EXPECT_EQ(r.type(), uint32_t(T_REFINEMENT));
    EXPECT_EQ(r.data1, 0u);
    EXPECT_EQ(spelling(r), "only");
}

TEST_F(Words, LoadInAndMakeInAppendGlobalWords) {
    collector::Root blk(cells::make_series(T_BLOCK, memory::make_cells(1)));
    word::load_in("alpha", blk.get(), T_SET_WORD);
    word::make_in(symbol::make("beta"), blk.get());
    Cell* first = memory::buffer_of(blk->data2)->head_cell();
    ASSERT_EQ(memory::buffer_of(blk->data2)->used() / 16, 2u);
    EXPECT_EQ(first[0].type(), uint32_t(T_SET_WORD));
    EXPECT_EQ(spelling(first[0]), "alpha");
    EXPECT_EQ(first[0].data3, word_of("alpha").data3);
    EXPECT_EQ(first[1].type(), uint32_t(T_WORD));
    EXPECT_EQ(first[1].data3, word_of("beta").data3);
}

TEST_F(Words, IndexIsTheSlotPlusOneOrNone) {
    Cell w = word_of("indexed");
    Outcome bound = call({w}, word::index_q);
    ASSERT_EQ(bound.value.type(), uint32_t(T_INTEGER));
    EXPECT_EQ(cells::integer(bound.value), int32_t(w.data3) + 1);
    Cell unresolved = cells::make_word(T_WORD, 0, symbol::make("loose"));
    EXPECT_EQ(call({unresolved}, word::index_q).value.type(), uint32_t(T_NONE));
}

TEST_F(Words, ValuesThroughWordsAndTheirErrors) {
    Cell w = word_of("answer");
    Cell seven = cells::make_integer(7);
    // get of a word holding unset!: no-value, naming the word.
    Outcome unset_get = call({}, [&] { word::get(&w); });
    EXPECT_EQ(unset_get.error, "script/no-value");
    EXPECT_EQ(unset_get.arg1.data2, w.data2);
    // push-value does not check.
    EXPECT_EQ(call({}, [&] { *stack::arguments = *word::push_value(&w); }).value.type(),
              uint32_t(T_UNSET));
    // set from the stack: the value becomes the result; unset! needs a value.
    Outcome set = call({w, seven}, [] { word::set_from_stack(); });
    EXPECT_EQ(set.error, "");
    EXPECT_EQ(cells::integer(set.value), 7);
    EXPECT_EQ(cells::integer(*context::get(&w)), 7);
    Outcome need = call({w, cells::make_unset()}, [] { word::set_from_stack(); });
    EXPECT_EQ(need.error, "script/need-value");
    EXPECT_EQ(need.arg1.data2, w.data2);
    EXPECT_EQ(call({w, cells::make_unset()}, [] { word::set_from_stack(false); }).error, "");
    EXPECT_EQ(context::get(&w)->type(), uint32_t(T_UNSET));
    // get into the result, and get that checks.
    context::set(&w, &seven);
    EXPECT_EQ(cells::integer(call({w}, word::get_to_result).value), 7);
    EXPECT_EQ(cells::integer(call({}, [&] { *stack::arguments = *word::get(&w); }).value), 7);
    // store-result.
    Cell target = cells::make_none();
    Outcome stored = call({seven}, [&] { word::store_result(&target); });
    EXPECT_EQ(stored.error, "");
    EXPECT_EQ(cells::integer(target), 7);
    EXPECT_EQ(call({cells::make_unset()}, [&] { word::store_result(&w); }).error,
              "script/need-value");
}

TEST_F(Words, ContextSlots) {
    Cell spec_words[] = {word_of("p"), word_of("q")};
    collector::Root spec(cells::make_series(T_BLOCK, memory::make_cells(2)));
    for (Cell& c : spec_words) *buffer::alloc_block_tail(spec.get()) = c;
    collector::RootContext object(context::make(spec.get(), false, false, context::KIND_OBJECT));
    collector::RootContext on_stack(context::make(spec.get(), true, false, context::KIND_FUNCTION));
    Cell five = cells::make_integer(5), six = cells::make_integer(6);

    // A function context that is not running has no values.
    Outcome missing = call({}, [&] { word::get_local(on_stack.handle(), 1); });
    EXPECT_EQ(missing.error, "script/not-defined");
    EXPECT_EQ(missing.arg1.data2, spec_words[1].data2);

    Outcome stored = call({}, [&] {
        stack::push(&five);
        word::set_local(object.handle(), 1);
        stack::push(&six);
        word::set_local(object.handle(), 1, true);  // pushes 5, stores 6
        Cell old = *stack::top_value();
        *stack::arguments = old;
    });
    ASSERT_EQ(stored.error, "");
    EXPECT_EQ(cells::integer(stored.value), 5);
    EXPECT_EQ(cells::integer(call({}, [&] {
                  *stack::arguments = *word::get_local(object.handle(), 1);
              }).value),
              6);
    EXPECT_TRUE(context::word_cell_at(object.handle(), 1)->header & WORD_ASSIGNED);
    EXPECT_FALSE(context::word_cell_at(object.handle(), 0)->header & WORD_ASSIGNED);
}

TEST_F(Words, EachKindMoldsWithItsMarkerAndFormsPlain) {
    const struct {
        uint32_t type;
        const char* mold;
    } cases[] = {
        {T_WORD, "name"},       {T_LIT_WORD, "'name"},     {T_GET_WORD, ":name"},
        {T_REFINEMENT, "/name"}, {T_SET_WORD, "name:"},
    };
    for (const auto& c : cases) {
        int32_t left = 0;
        EXPECT_EQ(molded(word_of("name", c.type), true, &left), c.mold) << c.mold;
        EXPECT_EQ(left, 100 - int32_t(std::string(c.mold).size())) << c.mold;
        EXPECT_EQ(molded(word_of("name", c.type), false, &left), "name") << c.mold;
        EXPECT_EQ(left, 96);
    }
    int32_t left = 0;
    EXPECT_EQ(molded(word_of("\xC3\xA9t\xC3\xA9", T_SET_WORD), true, &left), "\xC3\xA9t\xC3\xA9:");
    EXPECT_EQ(left, 96);  // characters, not bytes
}

TEST_F(Words, PushSpellingGivesTheTextOfTheSymbol) {
    Cell w = word_of("Spelt");
    Outcome o = call({}, [&] { *stack::arguments = *word::push_spelling(&w); });
    ASSERT_EQ(o.value.type(), uint32_t(T_STRING));
    collector::Root text(o.value);
    EXPECT_EQ(string::to_utf8(text.get()), "Spelt");
    EXPECT_EQ(word::symbol_cell(&w)->type(), uint32_t(T_SYMBOL));
}

TEST_F(Words, CompareUnderEachOp) {
    const struct {
        Cell a, b;
        int32_t op, expected;
        const char* what;
    } cases[] = {
        {word_of("abc"), word_of("ABC", T_SET_WORD), COMP_EQUAL, 0, "equal ignores case and kind"},
        {word_of("abc", T_LIT_WORD), word_of("abc", T_SET_WORD), COMP_EQUAL, 0, "lit and set"},
        {word_of("abc"), word_of("abd"), COMP_EQUAL, 1, "different names"},
        {word_of("abc"), word_of("abd"), COMP_NOT_EQUAL, 1, "not-equal answers as equal"},
        {word_of("abc"), word_of("abc"), COMP_FIND, 0, "find equality"},
        {word_of("abc"), word_of("abc"), COMP_STRICT_EQUAL, 0, "strict same kind and spelling"},
        {word_of("abc"), word_of("Abc"), COMP_STRICT_EQUAL, 1, "strict spelling"},
        {word_of("abc"), word_of("abc", T_GET_WORD), COMP_STRICT_EQUAL, 1, "strict kind"},
        {word_of("abc"), cells::make_word(T_WORD, 0, symbol::make("abc")), COMP_SAME, 1,
         "sameness needs the context"},
        {word_of("abc"), word_of("abc"), COMP_SAME, 0, "same word"},
        {word_of("abc"), word_of("abc", T_LIT_WORD), COMP_SAME, 1, "sameness needs the kind"},
        {word_of("abc"), word_of("abc", T_LIT_WORD), COMP_FIND_EXACT, 0, "word matches lit-word"},
        {word_of("abc", T_LIT_WORD), word_of("abc"), COMP_FIND_EXACT, 0, "either way round"},
        {word_of("abc"), word_of("ABC", T_LIT_WORD), COMP_FIND_EXACT, 1, "exact spelling"},
        {word_of("abc", T_SET_WORD), word_of("abc", T_LIT_WORD), COMP_FIND_EXACT, 1,
         "other pairs need the same kind"},
        {word_of("abc"), word_of("ABC", T_LIT_WORD), COMP_FIND_NOCASE, 0, "ignoring case"},
        {word_of("abc", T_SET_WORD), word_of("ABC", T_SET_WORD), COMP_FIND_NOCASE, 0, "same kind"},
        {word_of("abc", T_SET_WORD), word_of("ABC", T_GET_WORD), COMP_FIND_NOCASE, 1, "kinds"},
        {word_of("abc"), word_of("abd"), COMP_LESSER, -1, "ordering by spelling"},
        {word_of("b"), word_of("A"), COMP_GREATER, 1, "ordering ignores case"},
        {word_of("b"), word_of("A"), COMP_CASE_SORT, 1, "case sort"},
        {word_of("a"), word_of("B"), COMP_CASE_SORT, 1, "case sort puts capitals first"},
        {word_of("abc"), word_of("ab"), COMP_LESSER_EQUAL, 1, "longer after"},
        {word_of("abc"), word_of("abc", T_ISSUE), COMP_EQUAL, NOT_COMPARABLE, "issue"},
        {word_of("abc"), cells::make_integer(1), COMP_EQUAL, NOT_COMPARABLE, "integer"},
        {word_of("abc", T_ISSUE), word_of("abc", T_ISSUE), COMP_EQUAL, 0, "issue with issue"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(word::compare(&c.a, &c.b, c.op), c.expected) << c.what;
}

TEST_F(Words, MakeAndToFromEachKindOfSpec) {
    Cell proto = cells::make_datatype(T_WORD);
    Cell bound = word_of("target");
    const struct {
        Cell spec;
        uint32_t type;
        uint32_t result_type;  // 0: an error
        const char* spelling_or_error;
    } cases[] = {
        {word_of("target", T_GET_WORD), T_WORD, T_WORD, "target"},
        {bound, T_SET_WORD, T_SET_WORD, "target"},
        {word_of("target"), T_REFINEMENT, T_REFINEMENT, "target"},
        {cells::make_word(T_REFINEMENT, 0, symbol::make("target")), T_WORD, T_WORD, "target"},
        {word_of("99", T_ISSUE), T_WORD, 0, "script/bad-to-arg"},
        {Cell{T_CHAR, 0, 'x', 0}, T_WORD, T_WORD, "x"},
        {cells::make_datatype(T_LOGIC), T_WORD, T_WORD, "logic!"},
        {cells::make_datatype(T_NATIVE), T_LIT_WORD, T_LIT_WORD, "native!"},
        {cells::make_logic(true), T_WORD, T_WORD, "true"},
        {cells::make_logic(false), T_GET_WORD, T_GET_WORD, "false"},
        {cells::make_integer(5), T_WORD, 0, "script/bad-to-arg"},
        {cells::make_none(), T_WORD, 0, "script/bad-to-arg"},
    };
    for (const auto& c : cases) {
        Outcome o = call({proto, c.spec}, [&] {
            word::make(stack::arg(0), stack::arg(1), c.type);
        });
        if (!c.result_type) {
            EXPECT_EQ(o.error, c.spelling_or_error) << c.spelling_or_error;
            continue;
        }
        ASSERT_EQ(o.error, "") << c.spelling_or_error;
        EXPECT_EQ(o.value.header, c.result_type) << c.spelling_or_error;
        EXPECT_EQ(spelling(o.value), c.spelling_or_error);
        EXPECT_EQ(o.value.data1, context::global) << c.spelling_or_error;
        EXPECT_EQ(o.value.data3, word_of(c.spelling_or_error).data3) << c.spelling_or_error;
    }
}

TEST_F(Words, MakeFromTextTakesTheFirstValue) {
    Cell proto = cells::make_datatype(T_WORD);
    const struct {
        const char* text;
        uint32_t type;
        const char* spelling_or_error;
    } cases[] = {
        {"first second", T_WORD, "first"},
        {"name:", T_WORD, "name"},
        {":name", T_SET_WORD, "name"},
        {"12 after", T_WORD, "script/invalid-chars"},
        {"", T_WORD, "script/invalid-chars"},
    };
    for (const auto& c : cases) {
        collector::Root text;
        string::make_at(text.get(), 8);
        string::concatenate_cstring(text.get(), c.text);
        Outcome o = call({proto, text.cell}, [&] {
            word::make(stack::arg(0), stack::arg(1), c.type);
        });
        if (std::string(c.spelling_or_error).find('/') != std::string::npos) {
            EXPECT_EQ(o.error, c.spelling_or_error) << c.text;
            continue;
        }
        ASSERT_EQ(o.error, "") << c.text;
        EXPECT_EQ(o.value.header, c.type) << c.text;
        EXPECT_EQ(spelling(o.value), c.spelling_or_error) << c.text;
    }
}

TEST_F(Words, MakeThatNeedsTheLexerIsRefusedWithoutIt) {
    word::lexer = {};
    Cell proto = cells::make_datatype(T_WORD);
    const Cell specs[] = {Cell{T_CHAR, 0, 'x', 0},
                          cells::make_word(T_REFINEMENT, 0, symbol::make("r"))};
    for (const Cell& spec : specs)
        EXPECT_EQ(call({proto, spec}, [&] { word::make(stack::arg(0), stack::arg(1), T_WORD); }).error,
                  "internal/not-done");
}

TEST_F(Words, KindsRegisterUnderTheirParents) {
    const ActionTable& w = type_registry::table(T_WORD);
    EXPECT_TRUE(w.make && w.to && w.form && w.mold && w.compare && w.index_q);
    EXPECT_FALSE(w.append || w.pick || w.reflect);
    const uint32_t kin[] = {T_SET_WORD, T_LIT_WORD, T_GET_WORD, T_REFINEMENT};
    for (uint32_t t : kin) {
        const ActionTable& k = type_registry::table(t);
        EXPECT_EQ(k.make.fn, w.make.fn);
        EXPECT_EQ(k.to.fn, w.to.fn);
        EXPECT_EQ(k.form.fn, w.form.fn);
        EXPECT_EQ(k.compare.fn, w.compare.fn);
        EXPECT_TRUE(k.mold);
        EXPECT_EQ(bool(k.index_q), t != T_REFINEMENT) << t;
    }
    EXPECT_EQ(std::string(type_registry::names[T_REFINEMENT].name), "refinement!");
}

}  // namespace
}  // namespace kov
