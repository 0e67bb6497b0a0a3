// error! and the error catalogue: the categories and their codes, making errors from a code, a
// block or a text, the report's text (message templates with their arguments, where, near and
// its cut, the stack and files lines), and the fields filled while an error is thrown.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/boot.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/block.hpp"
#include "datatypes/error.hpp"
#include "datatypes/error_catalogue.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "evaluator/lexer.hpp"
#include "core/memory.hpp"
#include "tests/core/runtime_fixture.hpp"

namespace kov {
namespace {

using testing::RuntimeTest;

class Error : public RuntimeTest {
protected:
    void TearDown() override {
        error::stack_trace_level = nullptr;
        error::source_files = nullptr;
    }

    static Cell integer(int32_t n) { return cells::make_integer(n); }
    static Cell word(const char* spelling, uint32_t type = T_WORD) {
        Cell w = *word::load(spelling);
        w.header = type;
        return w;
    }
    // Texts and blocks made here are kept alive for the test (in the root block), so that the
    // cases can hold them in plain cells; no test collects nodes while it holds them.
    static Cell text(const char* s) {
        collector::Root t;
        string::make_at(t.get(), 16);
        string::concatenate_cstring(t.get(), s);
        return *boot::keep(t.get());
    }
    // A block of the given values (words and scalars, or values kept as above).
    static Cell block(std::vector<Cell> values) {
        collector::Root b;
        block::make_at(b.get(), int32_t(values.size()));
        for (const Cell& v : values) block::append_value(b.get(), &v);
        return *boot::keep(b.get());
    }

    // Makes an error from a spec through the make action, under a try frame: the error made, or
    // the "category/id" of the error raised (into `raised`). The result stays on the stack.
    Cell* make(const Cell& spec, std::string* raised = nullptr) {
        collector::Root s(spec);
        Cell none = cells::make_none();
        Cell* result = stack::push(&none);
        stack::Snapshot snap;
        stack::mark_try(nullptr);
        try {
            *result = *error::make(nullptr, s.get(), T_ERROR);
            if (raised) *raised = "";
        } catch (const Unwind&) {
            const Cell* e = stack::top_value();
            if (raised) *raised = error::category_word(e) + "/" + error::id_word(e);
            *result = cells::make_none();
        }
        return result;
    }

    // A new error on the stack.
    static Cell* create(const char* category, const char* id, const Cell* a1 = nullptr,
                        const Cell* a2 = nullptr, const Cell* a3 = nullptr) {
        Cell none = cells::make_none();
        Cell* e = stack::push(&none);
        error::create(e, category, id, a1, a2, a3);
        return e;
    }

    static std::string first_line(const Cell* e) {
        std::string r = error::report(e);
        return r.substr(0, r.find('\n'));
    }
};

// ---- the catalogue ----

TEST_F(Error, CategoriesInSlotOrderWithCodesAndNames) {
    struct Row {
        const char* word;
        int32_t code;
        const char* name;
    };
    const Row rows[] = {
        {"throw", 0, "Throw Error"},     {"note", 100, "note"},
        {"syntax", 200, "Syntax Error"}, {"script", 300, "Script Error"},
        {"math", 400, "Math Error"},     {"access", 500, "Access Error"},
        {"reserved1", 600, "Reserved1 Error"}, {"reserved2", 700, "Reserved2 Error"},
        {"user", 800, "User Error"},     {"internal", 900, "Internal Error"},
    };
    ASSERT_EQ(error_catalogue::category_count(), std::size(rows));
    Handle errors = error_catalogue::errors();
    for (int32_t slot = 0; slot < int32_t(std::size(rows)); slot++) {
        const Row& r = rows[slot];
        SCOPED_TRACE(r.word);
        EXPECT_EQ(symbol::name(context::word_cell_at(errors, slot)->data2), r.word);
        Handle cat = error_catalogue::category(slot);
        ASSERT_NE(cat, 0u);
        EXPECT_EQ(symbol::name(context::word_cell_at(cat, 0)->data2), "code");
        EXPECT_EQ(symbol::name(context::word_cell_at(cat, 1)->data2), "type");
        EXPECT_EQ(cells::integer(*context::value_cell(cat, 0)), r.code);
        EXPECT_EQ(string::to_utf8(context::value_cell(cat, 1)), r.name);
    }
    // The ids each category holds after its code and type.
    const uint32_t ids[] = {5, 1, 7, 94, 3, 15, 0, 0, 1, 14};
    for (int32_t slot = 0; slot < 10; slot++)
        EXPECT_EQ(error_catalogue::field_count(error_catalogue::category(slot)), ids[slot] + 2) << slot;
}

// The catalogue comes from the boot library's file: a catalogue read from other loaded text
// replaces it, and what it holds is copied out of that text.
TEST_F(Error, CatalogueIsReadFromLoadedText) {
    collector::Root text;
    lexer::scan(text.get(), R"(context [
        throw: context [code: 0 type: "Throw Error" break: "no loop"]
        script: context [code: 100 type: "Script Error" one: [:arg1 "then" arg2] two: "plain"
            three: arg1]
    ])");
    error_catalogue::build(text.get());
    EXPECT_EQ(error_catalogue::category_count(), 2u);
    EXPECT_EQ(error_catalogue::code_of("script", "one"), 100);
    EXPECT_EQ(error_catalogue::code_of("SCRIPT", "Three"), 102);
    EXPECT_EQ(error_catalogue::code_of("throw", "break"), 0);
    EXPECT_EQ(error_catalogue::code_of("script", "missing"), -1);
    Handle cat = error_catalogue::category(1);
    const Cell* one = context::value_cell(cat, 2);
    ASSERT_TRUE(one->is(T_BLOCK));
    const Cell* items = memory::buffer_of(one->data2)->head_cell();
    EXPECT_TRUE(items[0].is(T_GET_WORD));
    EXPECT_TRUE(items[1].is(T_STRING));
    EXPECT_TRUE(items[2].is(T_WORD));
    EXPECT_EQ(items[0].data1, 0u);  // words are not bound to where the text was loaded
    // The message is a copy of the loaded string, not the loaded string itself.
    auto item = [](const Cell& blk, uint32_t i) { return memory::buffer_of(blk.data2)->head_cell()[i]; };
    Cell loaded_two = item(item(item(text.cell, 1), 5), 7);
    ASSERT_TRUE(loaded_two.is(T_STRING));
    const Cell* two = context::value_cell(cat, 3);
    EXPECT_EQ(string::to_utf8(two), "plain");
    EXPECT_NE(two->data2, loaded_two.data2);
    EXPECT_TRUE(context::value_cell(cat, 4)->is(T_WORD));
}

// The first, a middle and the last id of each category.
struct CodeCase {
    const char* category;
    const char* id;
    int32_t code;
};
const CodeCase code_cases[] = {
    {"throw", "break", 0},           {"throw", "throw", 2},           {"throw", "while-cond", 4},
    {"note", "no-load", 100},
    {"syntax", "invalid", 200},      {"syntax", "bad-header", 204},   {"syntax", "bad-char", 206},
    {"script", "no-value", 300},     {"script", "not-defined", 302},  {"script", "bad-make-arg", 353},
    {"script", "parse-rule", 365},   {"script", "kb-invalid-record", 393},
    {"math", "zero-divide", 400},    {"math", "overflow", 401},       {"math", "positive", 402},
    {"access", "cannot-open", 500},  {"access", "no-port-action", 510}, {"access", "invalid-cmd", 514},
    {"user", "message", 800},
    {"internal", "bad-path", 900},   {"internal", "stack-overflow", 904}, {"internal", "deprecated", 913},
};

TEST_F(Error, CodesAreCategorySlotTimesHundredPlusIdSlotLessTwo) {
    for (const CodeCase& c : code_cases) {
        SCOPED_TRACE(std::string(c.category) + "/" + c.id);
        EXPECT_EQ(error::code_of(c.category, c.id), c.code);
        Cell* e = create(c.category, c.id);
        EXPECT_EQ(error::code(e), c.code);
        EXPECT_EQ(error::category_word(e), c.category);
        EXPECT_EQ(error::id_word(e), c.id);
        // The words are bound to the catalogue's objects, at the slots the code names.
        const Cell* type = error::field(e, error::F_TYPE);
        const Cell* id = error::field(e, error::F_ID);
        EXPECT_EQ(type->data1, error_catalogue::errors());
        EXPECT_EQ(type->data3, uint32_t(c.code / 100));
        EXPECT_EQ(id->data1, error_catalogue::category(c.code / 100));
        EXPECT_EQ(id->data3, uint32_t(c.code % 100 + 2));
    }
    EXPECT_EQ(error::code_of("script", "no-such-id"), -1);
    EXPECT_EQ(error::code_of("no-such-category", "no-value"), -1);
    EXPECT_EQ(error::code_of("script", "type"), -1);  // a category's own fields are no ids
}

TEST_F(Error, UnknownCategoryOrIdIsCreatedAsInvalidError) {
    Cell* e = create("script", "no-such-id");
    EXPECT_EQ(error::category_word(e), "internal");
    EXPECT_EQ(error::id_word(e), "invalid-error");
    EXPECT_EQ(error::code(e), 910);
}

// ---- making ----

TEST_F(Error, MakeFromCode) {
    for (const CodeCase& c : code_cases) {
        SCOPED_TRACE(c.code);
        std::string raised;
        Cell* e = make(integer(c.code), &raised);
        ASSERT_EQ(raised, "");
        EXPECT_TRUE(e->is(T_ERROR));
        EXPECT_EQ(e->data2, cells::ERROR_CLASS_ID);
        EXPECT_EQ(error::category_word(e), c.category);
        EXPECT_EQ(error::id_word(e), c.id);
        EXPECT_EQ(error::code(e), c.code);
        for (int f = error::F_ARG1; f < error::FIELD_COUNT; f++)
            EXPECT_TRUE(error::field(e, f)->is(T_NONE)) << f;
    }
    for (int32_t bad : {399, 1000, -1, 5, 105, 600, 701, 801, 914}) {
        std::string raised;
        make(integer(bad), &raised);
        EXPECT_EQ(raised, "script/out-of-range") << bad;
    }
}

TEST_F(Error, MakeFromBlockOfCategoryAndId) {
    struct Case {
        std::vector<const char*> words;
        int32_t code;
    };
    const Case cases[] = {
        {{"script", "bad-make-arg"}, 353},
        {{"math", "zero-divide"}, 400},
        {{"SCRIPT", "No-Value"}, 300},  // ignoring case, spelt as given
        {{"internal", "deprecated", "extra"}, 913},
    };
    for (const Case& c : cases) {
        std::vector<Cell> words;
        for (const char* w : c.words) words.push_back(word(w));
        collector::Root spec(block(words));
        std::string raised;
        Cell* e = make(spec.cell, &raised);
        ASSERT_EQ(raised, "") << c.code;
        EXPECT_EQ(error::code(e), c.code);
        EXPECT_EQ(symbol::name(error::get_type(e)), c.words[0]);
        EXPECT_EQ(symbol::name(error::get_id(e)), c.words[1]);
    }
}

TEST_F(Error, MakeFromBadSpecsRaises) {
    struct Case {
        const char* name;
        std::vector<Cell> values;
        const char* raised;
    };
    std::vector<Case> cases = {
        {"unknown category", {word("nope"), word("no-value")}, "script/invalid-spec-field"},
        {"no id", {word("script")}, "script/invalid-spec-field"},
        {"id not a word", {word("script"), integer(5)}, "script/invalid-arg"},
        {"unknown id", {word("math"), word("no-value")}, "script/invalid-spec-field"},
        {"first not a word", {integer(1), integer(2)}, "internal/invalid-error"},
        {"empty", {}, "internal/invalid-error"},
        {"evaluated spec without an id", {word("type", T_SET_WORD), word("script", T_LIT_WORD)}, "script/invalid-spec-field"},
    };
    for (const Case& c : cases) {
        collector::Root spec(block(c.values));
        std::string raised;
        make(spec.cell, &raised);
        EXPECT_EQ(raised, c.raised) << c.name;
    }
    std::string raised;
    make(cells::make_none(), &raised);
    EXPECT_EQ(raised, "script/bad-make-arg");
}

TEST_F(Error, InvalidSpecFieldNamesTheField) {
    collector::Root spec(block({word("script")}));
    stack::Snapshot snap;
    stack::mark_try(nullptr);
    try {
        error::make(nullptr, spec.get(), T_ERROR);
        FAIL() << "no error";
    } catch (const Unwind&) {
        EXPECT_EQ(symbol::name(error::field(stack::top_value(), error::F_ARG1)->data2), "id");
    }
}

TEST_F(Error, MakeFromTextIsAUserErrorShowingTheText) {
    collector::Root t(text("disk on fire"));
    Cell* e = make(t.cell);
    EXPECT_EQ(error::category_word(e), "user");
    EXPECT_EQ(error::id_word(e), "message");
    EXPECT_EQ(error::code(e), 800);
    EXPECT_EQ(error::field(e, error::F_ARG1)->data2, t->data2);
    EXPECT_EQ(first_line(e), "*** User Error: disk on fire");
}

// ---- the report ----

struct TemplateCase {
    const char* category;
    const char* id;
    const char* line;
};
// Each id's first report line with the arguments 101, 102 and 103.
const TemplateCase template_cases[] = {
    {"throw", "break", "*** Throw Error: no loop to break"},
    {"throw", "return", "*** Throw Error: return or exit not in function"},
    {"throw", "throw", "*** Throw Error: no catch for throw: 101"},
    {"throw", "continue", "*** Throw Error: no loop to continue"},
    {"throw", "while-cond", "*** Throw Error: BREAK/CONTINUE cannot be used in WHILE condition block"},
    {"note", "no-load", "*** note: cannot load:  101"},
    {"syntax", "invalid", "*** Syntax Error: 101 invalid 102 at 103"},
    {"syntax", "missing", "*** Syntax Error: 101 missing 102 at 103"},
    {"syntax", "no-header", "*** Syntax Error: script is missing a Kov header: 101"},
    {"syntax", "no-ks-header", "*** Syntax Error: script is missing a Kov/System header: 101"},
    {"syntax", "bad-header", "*** Syntax Error: script header is not valid: 101"},
    {"syntax", "malconstruct", "*** Syntax Error: 101 invalid construction spec at 102"},
    {"syntax", "bad-char", "*** Syntax Error: 101 invalid character at 102"},
    {"script", "no-value", "*** Script Error: 101 has no value"},
    {"script", "need-value", "*** Script Error: 101 needs a value"},
    {"script", "not-defined", "*** Script Error: 101 word is not bound to a context"},
    {"script", "not-in-context", "*** Script Error: context for 101 is not available"},
    {"script", "no-arg", "*** Script Error: 101 is missing its 102 argument"},
    {"script", "expect-arg", "*** Script Error: 101 does not allow 102 for its 103 argument"},
    {"script", "expect-val", "*** Script Error: expected 101 not 102"},
    {"script", "expect-type", "*** Script Error: 101 102 field must be of type 103"},
    {"script", "cannot-use", "*** Script Error: cannot use 101 on 102 value"},
    {"script", "invalid-arg", "*** Script Error: invalid argument: 101"},
    {"script", "invalid-type", "*** Script Error: 101 type is not allowed here"},
    {"script", "invalid-type-spec", "*** Script Error: invalid type specifier: 101"},
    {"script", "invalid-key-type", "*** Script Error: invalid key type: 101"},
    {"script", "invalid-op", "*** Script Error: invalid operator: 101"},
    {"script", "no-op-arg", "*** Script Error: 101 operator is missing an argument"},
    {"script", "bad-op-spec", "*** Script Error: making an op! requires a function with only 2 arguments and no lit/get-word on left argument"},
    {"script", "invalid-data", "*** Script Error: data not in correct format: 101"},
    {"script", "invalid-part", "*** Script Error: invalid /part count: 101"},
    {"script", "not-same-type", "*** Script Error: values must be of the same type"},
    {"script", "not-same-class", "*** Script Error: cannot coerce 101 to 102"},
    {"script", "not-related", "*** Script Error: incompatible argument for 101 of 102"},
    {"script", "bad-func-def", "*** Script Error: invalid function definition: 101"},
    {"script", "bad-func-arg", "*** Script Error: function argument 101 is not valid"},
    {"script", "bad-func-extern", "*** Script Error: invalid /extern value: 101"},
    {"script", "no-refine", "*** Script Error: 101 has no refinement called 102"},
    {"script", "bad-refines", "*** Script Error: incompatible or invalid refinements"},
    {"script", "bad-refine", "*** Script Error: invalid refinement value: 101"},
    {"script", "dup-refine", "*** Script Error: duplicate refinement usage in: 101"},
    {"script", "word-first", "*** Script Error: path must start with a word: 101"},
    {"script", "empty-path", "*** Script Error: cannot evaluate an empty path value"},
    {"script", "unset-path", "*** Script Error: 102 is unset in path 101"},
    {"script", "invalid-path", "*** Script Error: cannot access 102 in path 101"},
    {"script", "invalid-path-set", "*** Script Error: unsupported type in 101 set-path"},
    {"script", "invalid-path-get", "*** Script Error: unsupported type in 101 get-path"},
    {"script", "bad-path-type", "*** Script Error: 103 returned a 102 value, so 101 could not be accessed"},
    {"script", "bad-path-type2", "*** Script Error: path element > 101 < does not apply to 102 type"},
    {"script", "bad-path-set", "*** Script Error: cannot set 102 in path 101"},
    {"script", "bad-field-set", "*** Script Error: cannot set 101 field to 102 datatype"},
    {"script", "dup-vars", "*** Script Error: duplicate variable specified: 101"},
    {"script", "past-end", "*** Script Error: out of range or past end"},
    {"script", "missing-arg", "*** Script Error: missing a required argument or refinement"},
    {"script", "out-of-range", "*** Script Error: value out of range: 101"},
    {"script", "invalid-chars", "*** Script Error: contains invalid characters"},
    {"script", "invalid-compare", "*** Script Error: cannot compare 101 with 102"},
    {"script", "wrong-type", "*** Script Error: datatype assertion failed for: 101"},
    {"script", "invalid-refine-arg", "*** Script Error: invalid 101 argument: 102"},
    {"script", "type-limit", "*** Script Error: 101 overflow/underflow"},
    {"script", "size-limit", "*** Script Error: maximum limit reached: 101"},
    {"script", "no-return", "*** Script Error: block did not return a value"},
    {"script", "throw-usage", "*** Script Error: invalid use of a thrown error value"},
    {"script", "locked-word", "*** Script Error: protected word - cannot modify: 101"},
    {"script", "protected", "*** Script Error: protected value or series - cannot modify"},
    {"script", "bad-bad", "*** Script Error: 101 error: 102"},
    {"script", "bad-make-arg", "*** Script Error: cannot MAKE 101 from: 102"},
    {"script", "bad-to-arg", "*** Script Error: cannot MAKE/TO 101 from: 102"},
    {"script", "invalid-months", "*** Script Error: invalid system/locale/month list"},
    {"script", "invalid-spec-field", "*** Script Error: invalid 101 field in spec block"},
    {"script", "missing-spec-field", "*** Script Error: 101 not found in spec block"},
    {"script", "move-bad", "*** Script Error: Cannot MOVE elements from 101 to 102"},
    {"script", "too-long", "*** Script Error: Content too long"},
    {"script", "invalid-char", "*** Script Error: Invalid char! value: 101"},
    {"script", "bad-loop-series", "*** Script Error: Loop series changed to invalid value: 101"},
    {"script", "wrong-denom", "*** Script Error: 101 not same denomination as 102"},
    {"script", "bad-denom", "*** Script Error: invalid denomination: 101"},
    {"script", "invalid-obj-evt", "*** Script Error: invalid object event handler: 101"},
    {"script", "parse-rule", "*** Script Error: PARSE - invalid rule or usage of rule: 101"},
    {"script", "parse-end", "*** Script Error: PARSE - unexpected end of rule after: 101"},
    {"script", "parse-invalid-ref", "*** Script Error: PARSE - get-word refers to a different series! 101"},
    {"script", "parse-block", "*** Script Error: PARSE - input must be of any-block! type: 101"},
    {"script", "parse-unsupported", "*** Script Error: PARSE - matching by datatype not supported for any-string! input"},
    {"script", "parse-infinite", "*** Script Error: PARSE - infinite recursion at rule: [ 101 ]"},
    {"script", "parse-stack", "*** Script Error: PARSE - stack limit reached"},
    {"script", "parse-keep", "*** Script Error: PARSE - KEEP is used without a wrapping COLLECT"},
    {"script", "parse-into-bad", "*** Script Error: PARSE - COLLECT INTO/AFTER invalid series! argument"},
    {"script", "parse-into-type", "*** Script Error: PARSE - COLLECT INTO/AFTER expects a series! of compatible datatype"},
    {"script", "draw-invalid", "*** Script Error: DRAW - invalid input at: 101"},
    {"script", "draw-infinite", "*** Script Error: DRAW - infinite recursion at: 101"},
    {"script", "invalid-data-facet", "*** Script Error: invalid DATA facet content 101"},
    {"script", "face-type", "*** Script Error: VIEW - invalid face type: 101"},
    {"script", "not-window", "*** Script Error: VIEW - expected a window root face"},
    {"script", "bad-window", "*** Script Error: VIEW - a window face cannot be nested in another window"},
    {"script", "not-linked", "*** Script Error: VIEW - face not linked to a window"},
    {"script", "not-event-type", "*** Script Error: VIEW - not a valid event type 101"},
    {"script", "invalid-facet-type", "*** Script Error: VIEW - invalid rate value: 101"},
    {"script", "kvd-invalid-syntax", "*** Script Error: KVD - invalid syntax at: 101"},
    {"script", "rtd-invalid-syntax", "*** Script Error: RTD - invalid syntax at: 101"},
    {"script", "rtd-no-match", "*** Script Error: RTD - opening/closing tag not matching for: 101"},
    {"script", "react-bad-func", "*** Script Error: REACT - /LINK option requires a function! as argument"},
    {"script", "react-not-enough", "*** Script Error: REACT - reactive functions must accept at least 2 arguments"},
    {"script", "react-no-match", "*** Script Error: REACT - objects block length must match reaction function arg count"},
    {"script", "react-bad-obj", "*** Script Error: REACT - target can only contain object values"},
    {"script", "react-gctx", "*** Script Error: REACT - word 101 is not a reactor's field"},
    {"script", "lib-invalid-arg", "*** Script Error: LIBKOV - invalid argument for 101"},
    {"script", "kb-invalid-record", "*** Script Error: KOVBIN - invalid record at index 101"},
    {"math", "zero-divide", "*** Math Error: attempt to divide by zero"},
    {"math", "overflow", "*** Math Error: math or number overflow"},
    {"math", "positive", "*** Math Error: positive number required"},
    {"access", "cannot-open", "*** Access Error: cannot open: 101"},
    {"access", "cannot-close", "*** Access Error: cannot close: 101"},
    {"access", "invalid-utf8", "*** Access Error: invalid UTF-8 encoding: 101"},
    {"access", "not-open", "*** Access Error: port is not open: 101"},
    {"access", "no-connect", "*** Access Error: cannot connect: 101 reason: timeout"},
    {"access", "no-scheme", "*** Access Error: missing port scheme: 101"},
    {"access", "unknown-scheme", "*** Access Error: scheme is unknown: 101"},
    {"access", "invalid-spec", "*** Access Error: invalid spec or options: 101"},
    {"access", "invalid-port", "*** Access Error: invalid port object (invalid field values)"},
    {"access", "invalid-actor", "*** Access Error: invalid port actor (must be handle or object)"},
    {"access", "no-port-action", "*** Access Error: port action not supported"},
    {"access", "no-create", "*** Access Error: cannot create: 101"},
    {"access", "no-codec", "*** Access Error: cannot decode or encode (no codec): 101"},
    {"access", "bad-media", "*** Access Error: bad media data (corrupt image, sound, video)"},
    {"access", "invalid-cmd", "*** Access Error: invalid port command: 101"},
    {"internal", "bad-path", "*** Internal Error: bad path: 101"},
    {"internal", "not-here", "*** Internal Error: 101 not supported on your system"},
    {"internal", "no-memory", "*** Internal Error: not enough memory"},
    {"internal", "wrong-mem", "*** Internal Error: failed to release memory"},
    {"internal", "stack-overflow", "*** Internal Error: stack overflow"},
    {"internal", "limit-hit", "*** Internal Error: internal limit reached: 101"},
    {"internal", "too-deep", "*** Internal Error: block or paren series is too deep to process"},
    {"internal", "no-cycle", "*** Internal Error: circular reference not allowed"},
    {"internal", "feature-na", "*** Internal Error: feature not available"},
    {"internal", "not-done", "*** Internal Error: reserved for future use (or not yet implemented)"},
    {"internal", "invalid-error", "*** Internal Error: invalid error object field value: 101"},
    {"internal", "routines", "*** Internal Error: routines require compilation, from OS shell: `kov -r <script.kov>`"},
    {"internal", "kov-system", "*** Internal Error: contains Kov/System code which requires compilation"},
    {"internal", "deprecated", "*** Internal Error: 101 is DEPRECATED, please use 102 instead"},
};

TEST_F(Error, EveryTemplatePutsItsArgumentsIn) {
    Cell a1 = integer(101), a2 = integer(102), a3 = integer(103);
    for (const TemplateCase& c : template_cases) {
        Cell* e = create(c.category, c.id, &a1, &a2, &a3);
        ASSERT_EQ(error::id_word(e), c.id);
        EXPECT_EQ(first_line(e), c.line) << c.category << "/" << c.id;
        stack::pop(1);
    }
    // Every id of every category is in the table above, the user category's aside.
    uint32_t ids = 0;
    for (int32_t slot = 0; slot < int32_t(error_catalogue::category_count()); slot++)
        ids += error_catalogue::field_count(error_catalogue::category(slot)) - 2;
    EXPECT_EQ(ids, std::size(template_cases) + 1);
}

TEST_F(Error, ReportLines) {
    struct Case {
        const char* name;
        const char* category;
        const char* id;
        std::vector<Cell> args;
        Cell where;
        Cell near;
        const char* report;
    };
    Cell x = word("x"), lit = word("x", T_LIT_WORD), pair = block({integer(1), integer(2)});
    Cell long_near = block({word("alpha"), word("beta"), word("gamma"), word("delta"), word("epsilon"),
                            word("zeta"), word("theta"), word("iota")});
    std::vector<Case> cases = {
        {"words and where", "script", "no-value", {x}, word("print"), block({x, integer(1)}),
         "*** Script Error: x has no value\n*** Where: print\n*** Near : x 1"},
        {"no where", "math", "zero-divide", {}, cells::make_none(), block({integer(1), word("/"), integer(0)}),
         "*** Math Error: attempt to divide by zero\n*** Where: ???\n*** Near : 1 / 0"},
        {"where as text", "math", "overflow", {}, text("calc"), cells::make_none(),
         "*** Math Error: math or number overflow\n*** Where: calc\n*** Near : none"},
        {"where not a word", "math", "positive", {}, integer(7), integer(12),
         "*** Math Error: positive number required\n*** Where: ???\n*** Near : 12"},
        {"near cut at forty", "script", "invalid-arg", {integer(3)}, word("f"), long_near,
         "*** Script Error: invalid argument: 3\n*** Where: f\n"
         "*** Near : alpha beta gamma delta epsilon zeta thet"},
        {"near of forty stays whole", "script", "past-end", {}, word("f"),
         block({word("abcdefghij"), word("abcdefghij"), word("abcdefghij"), word("abcdefg")}),
         "*** Script Error: out of range or past end\n*** Where: f\n"
         "*** Near : abcdefghij abcdefghij abcdefghij abcdefg"},
        {"script molds its arguments", "script", "invalid-arg", {pair}, word("f"), cells::make_none(),
         "*** Script Error: invalid argument: [1 2]\n*** Where: f\n*** Near : none"},
        {"syntax forms its arguments", "syntax", "invalid", {pair, lit, integer(4)}, word("load"),
         cells::make_none(),
         "*** Syntax Error: 1 2 invalid x at 4\n*** Where: load\n*** Near : none"},
        {"syntax forms text", "syntax", "bad-header", {text("Kov []")}, word("load"),
         cells::make_none(), "*** Syntax Error: script header is not valid: Kov []\n*** Where: load\n"
         "*** Near : none"},
        {"access molds text", "access", "cannot-open", {text("a.txt")}, word("read"),
         block({word("read"), text("a.txt")}),
         "*** Access Error: cannot open: \"a.txt\"\n*** Where: read\n*** Near : read \"a.txt\""},
        {"script molds a lit-word", "script", "no-value", {lit}, word("f"), cells::make_none(),
         "*** Script Error: 'x has no value\n*** Where: f\n*** Near : none"},
        {"arguments in template order", "script", "unset-path", {word("p"), word("q")}, word("f"),
         cells::make_none(), "*** Script Error: q is unset in path p\n*** Where: f\n*** Near : none"},
        {"plain-word arguments", "internal", "deprecated", {word("old"), word("new")}, word("f"),
         cells::make_none(),
         "*** Internal Error: old is DEPRECATED, please use new instead\n*** Where: f\n*** Near : none"},
        {"missing arguments are none", "script", "no-arg", {x}, word("f"), cells::make_none(),
         "*** Script Error: x is missing its none argument\n*** Where: f\n*** Near : none"},
    };
    for (Case& c : cases) {
        collector::Root args[3], where(c.where), near(c.near);
        for (size_t i = 0; i < c.args.size(); i++) args[i].cell = c.args[i];
        Cell* e = create(c.category, c.id, c.args.size() > 0 ? args[0].get() : nullptr,
                         c.args.size() > 1 ? args[1].get() : nullptr,
                         c.args.size() > 2 ? args[2].get() : nullptr);
        error::set_where(e, where.get());
        *error::field(e, error::F_NEAR) = near.cell;
        EXPECT_EQ(error::report(e), c.report) << c.name;
    }
}

TEST_F(Error, UnknownTypeOrIdReportsInvalidError) {
    Cell* e = create("script", "no-value");
    Cell bad = word("nope");
    *error::field(e, error::F_TYPE) = bad;
    EXPECT_EQ(first_line(e), "*** Internal Error: invalid error object field value: nope");
    EXPECT_EQ(error::category_word(e), "internal");
    EXPECT_EQ(error::id_word(e), "invalid-error");

    Cell* f = create("math", "overflow");
    Cell other = word("no-value");
    *error::field(f, error::F_ID) = other;
    EXPECT_EQ(first_line(f), "*** Internal Error: invalid error object field value: no-value");

    Cell* g = create("math", "overflow");
    Cell number = integer(12);
    *error::field(g, error::F_TYPE) = number;
    EXPECT_EQ(first_line(g), "*** Internal Error: invalid error object field value: 12");
}

TEST_F(Error, UserMessageThatIsNoTextReportsInvalidError) {
    Cell n = integer(5);
    Cell* e = create("user", "message", &n);
    EXPECT_EQ(first_line(e), "*** User Error: ");
    EXPECT_EQ(error::id_word(e), "invalid-error");
    EXPECT_EQ(error::field(e, error::F_ARG1)->data2, word("user").data2);
}

TEST_F(Error, StackAndFilesLinesWhenEnabled) {
    Cell* e = create("math", "zero-divide");
    Cell names = block({word("outer"), word("inner")});
    *error::field(e, error::F_STACK) = names;
    Cell files = block({word("a.kov")});
    *error::field(e, error::F_FILES) = files;
    EXPECT_EQ(error::report(e),
              "*** Math Error: attempt to divide by zero\n*** Where: ???\n*** Near : none\n"
              "*** Files: a.kov");
    error::stack_trace_level = [] { return 2; };
    EXPECT_EQ(error::report(e),
              "*** Math Error: attempt to divide by zero\n*** Where: ???\n*** Near : none\n"
              "*** Stack: outer inner\n*** Files: a.kov");
}

TEST_F(Error, StackLineNamesTheCallsOfARecordedPosition) {
    error::stack_trace_level = [] { return 2; };
    Cell outer = word("outer"), inner = word("inner");
    stack::Snapshot snap;
    stack::mark_native(&outer);
    stack::mark_native(&inner);
    Cell* e = create("math", "zero-divide");
    error::set_stack_position(e, int32_t(stack::frame_depth()));
    EXPECT_EQ(error::report(e),
              "*** Math Error: attempt to divide by zero\n*** Where: ???\n*** Near : none\n"
              "*** Stack: outer inner ");
    error::build_trace(e);
    const Cell* st = error::field(e, error::F_STACK);
    ASSERT_TRUE(st->is(T_BLOCK));
    EXPECT_EQ(block::ks_length_q(st), 2);
}

TEST_F(Error, FormCountsWhatItWrites) {
    Cell* e = create("math", "zero-divide");
    collector::Root out;
    string::make_at(out.get(), 16);
    int32_t left = error::form(e, out.get(), true, 1000);
    EXPECT_EQ(1000 - left, int32_t(error::report(e).size()));
}

// ---- fields while thrown ----

TEST_F(Error, ThrowingFillsWhereOnceAndTheStackPosition) {
    Cell f = word("failing");
    stack::Snapshot snap;
    stack::mark_try(nullptr);
    stack::mark_native(&f);
    try {
        stack::raise_error("math", "overflow");
    } catch (const Unwind&) {
    }
    Cell* e = stack::top_value();
    EXPECT_EQ(symbol::name(error::field(e, error::F_WHERE)->data2), "failing");
    EXPECT_TRUE(error::field(e, error::F_STACK)->is(T_INTEGER));
    Cell other = word("other");
    error::set_where(e, &other);
    EXPECT_EQ(symbol::name(error::field(e, error::F_WHERE)->data2), "failing");
    EXPECT_EQ(first_line(e), "*** Math Error: math or number overflow");
}

TEST_F(Error, StackFieldCannotBeReachedByPath) {
    Cell* e = create("math", "overflow");
    Cell el = word("STACK");
    Cell path = block({word("err"), el});
    path.header = T_PATH;
    collector::Root p(path);
    PathStep step{e, &el, nullptr, p.get(), nullptr, nullptr, nullptr, 2, false, true, false};
    stack::Snapshot snap;
    stack::mark_try(nullptr);
    try {
        type_registry::table(T_ERROR).eval_path(step);
        FAIL() << "no error";
    } catch (const Unwind&) {
        EXPECT_EQ(error::id_word(stack::top_value()), "invalid-path-set");
    }
}

// Molding, paths, comparison and reflection run through object!'s routines.
TEST_F(Error, MoldsAsAnObjectWithItsOwnHeader) {
    Cell a = integer(42);
    Cell* e = create("script", "invalid-arg", &a);
    collector::Root out;
    string::make_at(out.get(), 64);
    type_registry::table(T_ERROR).mold(e, out.get(), false, false, true, false, 1 << 20, 0);
    EXPECT_EQ(string::to_utf8(out.get()),
              "make error! [code: 309 type: 'script id: 'invalid-arg arg1: 42 arg2: none "
              "arg3: none near: none where: none stack: none files: none]");
    string::make_at(out.get(), 64);
    type_registry::table(T_ERROR).mold(e, out.get(), false, false, false, false, 1 << 20, 1);
    EXPECT_EQ(string::to_utf8(out.get()),
              "make error! [\n        code: 309\n        type: 'script\n        id: 'invalid-arg\n"
              "        arg1: 42\n        arg2: none\n        arg3: none\n        near: none\n"
              "        where: none\n        stack: none\n        files: none\n    ]");
    // The report is still the form.
    EXPECT_EQ(first_line(e), "*** Script Error: invalid argument: 42");
}

TEST_F(Error, PathsReadAndSetFieldsAsAnObjectsDo) {
    Cell a = integer(42);
    Cell* e = create("script", "invalid-arg", &a);
    const ActionTable& t = type_registry::table(T_ERROR);
    auto step = [&](const Cell* element, const Cell* value) {
        return PathStep{e, element, value, nullptr, nullptr, nullptr, nullptr, 2, false, true, false};
    };
    Cell id = word("id"), arg1 = word("ARG1"), seven = integer(7);
    Cell got = *t.eval_path(step(&id, nullptr));
    ASSERT_TRUE(got.is(T_WORD));
    EXPECT_EQ(symbol::name(got.data2), "invalid-arg");
    t.eval_path(step(&arg1, &seven));
    EXPECT_EQ(error::field(e, error::F_ARG1)->get_int(), 7);
    EXPECT_EQ(first_line(e), "*** Script Error: invalid argument: 7");
    // A word that is not a field raises invalid-path, as for an object.
    Cell nothing = word("nothing");
    stack::Snapshot snap;
    stack::mark_try(nullptr);
    try {
        t.eval_path(step(&nothing, nullptr));
        FAIL() << "no error";
    } catch (const Unwind&) {
        EXPECT_EQ(error::id_word(stack::top_value()), "invalid-path");
    }
}

TEST_F(Error, CompareSelectReflectAndCopyAsObjects) {
    Cell a = integer(1), b = integer(2);
    Cell* x = create("script", "invalid-arg", &a);
    Cell* same = create("script", "invalid-arg", &a);
    Cell* other_arg = create("script", "invalid-arg", &b);
    Cell* other_id = create("math", "overflow");
    const ActionTable& t = type_registry::table(T_ERROR);
    struct Case { const Cell* other; int32_t op; bool equal; } cases[] = {
        {same, COMP_EQUAL, true}, {x, COMP_SAME, true}, {same, COMP_SAME, false},
        {other_arg, COMP_EQUAL, false}, {other_id, COMP_EQUAL, false},
        {same, COMP_STRICT_EQUAL, true},
    };
    for (const Case& c : cases) EXPECT_EQ(t.compare(x, c.other, c.op) == 0, c.equal) << c.op;
    Cell as_object = *x;
    as_object.header = T_OBJECT;
    EXPECT_EQ(t.compare(x, &as_object, COMP_EQUAL), NOT_COMPARABLE);
    EXPECT_TRUE(x->is(T_ERROR));

    Cell code = word("code");
    EXPECT_EQ(t.select.fn(x, &code, {})->get_int(), 309);
    Cell words = word("words");
    Cell* listed = t.reflect(x, &words);
    ASSERT_TRUE(listed->is(T_BLOCK));
    EXPECT_EQ(block::ks_length_q(listed), error::FIELD_COUNT);
    collector::Root copy;
    t.copy(x, copy.get(), nullptr, false, nullptr);
    EXPECT_TRUE(copy->is(T_ERROR));
    EXPECT_NE(copy->data1, x->data1);
    EXPECT_EQ(first_line(copy.get()), "*** Script Error: invalid argument: 1");
    EXPECT_EQ(t.compare(x, copy.get(), COMP_EQUAL), 0);
}

TEST_F(Error, ErrorsSurviveCollections) {
    Cell a = integer(42);
    Cell* e = create("script", "invalid-arg", &a);
    for (int i = 0; i < 3; i++) {
        collector::collect();
        Cell* again = create("math", "overflow");
        (void)again;
    }
    EXPECT_EQ(first_line(e), "*** Script Error: invalid argument: 42");
    EXPECT_EQ(error::code_of("access", "invalid-cmd"), 514);
}

}  // namespace
}  // namespace kov
