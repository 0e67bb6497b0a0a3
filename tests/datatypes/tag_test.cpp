// tag!, email! and ref!: forming and molding with their /part budgets, reading the molded text
// back with the lexer, email! user and host paths (reading and changing), and the action tables
// (what each inherits from string! and what it leaves unsupported).
#include <string>
#include <vector>

#include "core/type_registry.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string_actions.hpp"
#include "datatypes/tag.hpp"
#include "datatypes/word.hpp"
#include "tests/datatypes/literal_fixture.hpp"

namespace kov {
namespace {

using collector::Root;
using testing::error_name;
using testing::formed;
using testing::fresh_text;
using testing::load_one;
using testing::molded;
using testing::raised;
using testing::text_of;

class TagEmailRef : public testing::RuntimeTest {};

TEST_F(TagEmailRef, FormAndMold) {
    struct Row {
        uint32_t type;
        std::string text, mold, form;
    };
    const std::vector<Row> rows = {
        {T_TAG, "a href=\"x\"", "<a href=\"x\">", "<a href=\"x\">"},
        {T_TAG, "", "<>", "<>"},
        {T_TAG, "b\xc3\xa9", "<b\xc3\xa9>", "<b\xc3\xa9>"},
        {T_EMAIL, "me@srv", "me@srv", "me@srv"},
        {T_EMAIL, "a^b@c", "a^b@c", "a^b@c"},
        {T_REF, "abc", "@abc", "abc"},
        {T_REF, "", "@", ""},
    };
    for (const Row& r : rows) {
        stack::Snapshot keep;
        Cell* v = text_of(r.type, r.text);
        EXPECT_EQ(molded(v), r.mold) << r.text;
        EXPECT_EQ(formed(v), r.form) << r.text;
    }
}

TEST_F(TagEmailRef, FormAndMoldFromTheHead) {
    Cell* t = text_of(T_TAG, "abc");
    t->data1 = 1;
    EXPECT_EQ(molded(t), "<bc>");
    Cell* r = text_of(T_REF, "abc");
    r->data1 = 3;
    EXPECT_EQ(molded(r), "@");
}

TEST_F(TagEmailRef, PartBudgets) {
    struct Row {
        uint32_t type;
        int32_t limit;
        std::string out;
        int32_t left;
    };
    const std::vector<Row> rows = {
        {T_TAG, 100, "<abcdef>", 92},
        {T_TAG, 4, "<abc>", -4},
        {T_EMAIL, 3, "abc", -3},
        {T_REF, 3, "@ab", -4},
        {T_REF, 100, "@abcdef", 93},
    };
    for (const Row& r : rows) {
        stack::Snapshot keep;
        Cell* v = text_of(r.type, "abcdef");
        Cell* out = fresh_text();
        int32_t left = type_registry::table(r.type).mold(v, out, false, false, false, true,
                                                         r.limit, 0);
        EXPECT_EQ(string::to_utf8(out), r.out) << r.type << " " << r.limit;
        EXPECT_EQ(left, r.left) << r.type << " " << r.limit;
    }
}

TEST_F(TagEmailRef, MoldedValuesLoadBack) {
    struct Row {
        uint32_t type;
        std::string text;
    };
    const std::vector<Row> rows = {
        {T_TAG, "a href=\"x\""}, {T_TAG, "br/"},     {T_TAG, "p class='\xc3\xa9'"},
        {T_EMAIL, "me@srv"},     {T_EMAIL, "a.b-c@d.e.f"}, {T_REF, "abc"},
        {T_REF, "user-1"},
    };
    for (const Row& r : rows) {
        stack::Snapshot keep;
        std::string m = molded(text_of(r.type, r.text));
        Root back;
        ASSERT_TRUE(load_one(m, back.get())) << m;
        EXPECT_EQ(back->type(), r.type) << m;
        EXPECT_EQ(string::to_utf8(back.get()), r.text) << m;
    }
}

// Inside a block, each text literal molds as it reads, and the block reads back the same.
TEST_F(TagEmailRef, BlockOfTextLiteralsMoldsAndLoadsBack) {
    const std::string source =
        "[<a href=\"x\"> @abc %dir/f.txt %\"a b\" http://h/a%20b me@srv \"s\" <br>]";
    Root block;
    ASSERT_TRUE(load_one(source, block.get()));
    std::string m = molded(block.get());
    EXPECT_EQ(m, source);
    Root again;
    ASSERT_TRUE(load_one(m, again.get()));
    EXPECT_EQ(molded(again.get()), source);
}

// ---------------------------------------------------------------------------------------------
// email! paths.

Cell* path_step(Cell* email, std::string_view element_source, const Cell* set_value) {
    Root element;
    EXPECT_TRUE(load_one(element_source, element.get()));
    Cell* e = stack::push(element.get());
    PathStep step{email, e, set_value, nullptr, nullptr, nullptr, nullptr, 1, false, true, false};
    return email::eval_path(step);
}

TEST_F(TagEmailRef, EmailUserAndHost) {
    struct Row {
        std::string text, element, out;
    };
    const std::vector<Row> rows = {
        {"me@srv", "user", "me"},   {"me@srv", "host", "srv"}, {"me@srv", "USER", "me"},
        {"me@srv", "Host", "srv"},  {"nohost", "user", "nohost"}, {"nohost", "host", ""},
        {"a@b@c", "user", "a"},     {"a@b@c", "host", "b@c"},  {"@x", "user", ""},
        {"x@", "host", ""},         {"\xd0\x96@\xc3\xa9", "host", "\xc3\xa9"},
    };
    for (const Row& r : rows) {
        stack::Snapshot keep;
        Cell* e = text_of(T_EMAIL, r.text);
        Cell* result = path_step(e, r.element, nullptr);
        EXPECT_EQ(result->type(), T_STRING) << r.text << "/" << r.element;
        EXPECT_EQ(string::to_utf8(result), r.out) << r.text << "/" << r.element;
        EXPECT_EQ(string::to_utf8(e), r.text);
    }
}

TEST_F(TagEmailRef, EmailPathsFromTheHead) {
    Cell* e = text_of(T_EMAIL, "xxme@srv");
    e->data1 = 2;
    EXPECT_EQ(string::to_utf8(path_step(e, "user", nullptr)), "me");
    EXPECT_EQ(string::to_utf8(path_step(e, "host", nullptr)), "srv");
}

TEST_F(TagEmailRef, EmailSetUserOrHostChangesInPlace) {
    struct Row {
        std::string text, element, value, out;
    };
    const std::vector<Row> rows = {
        {"me@srv", "user", "you", "you@srv"},
        {"me@srv", "host", "example.com", "me@example.com"},
        {"longname@srv", "user", "x", "x@srv"},
        {"me@srv", "host", "", "me@"},
        {"me@srv", "user", "\xc3\xa9", "\xc3\xa9@srv"},
        {"nohost", "user", "u", "u"},
        {"me", "host", "srv", "me@srv"},
    };
    for (const Row& r : rows) {
        stack::Snapshot keep;
        Cell* e = text_of(T_EMAIL, r.text);
        Cell* v = text_of(T_STRING, r.value);
        Cell* result = path_step(e, r.element, v);
        EXPECT_EQ(result->type(), T_EMAIL);
        EXPECT_EQ(string::to_utf8(e), r.out) << r.text << "/" << r.element;
        EXPECT_EQ(e->data1, 0u);
    }
}

TEST_F(TagEmailRef, EmailPathIntegerPicksACharacter) {
    Cell* e = text_of(T_EMAIL, "me@srv");
    Cell* result = path_step(e, "2", nullptr);
    EXPECT_EQ(result->type(), T_CHAR);
    EXPECT_EQ(result->data2, uint32_t('e'));
}

TEST_F(TagEmailRef, EmailPathOtherElementsRaise) {
    for (const char* element : {"name", "1.5", "\"user\"", "'user"}) {
        stack::Snapshot keep;
        Cell* e = text_of(T_EMAIL, "me@srv");
        EXPECT_EQ(error_name(raised([&] { path_step(e, element, nullptr); })),
                  "script/invalid-path")
            << element;
    }
}

// ---------------------------------------------------------------------------------------------
// Registrations.

TEST_F(TagEmailRef, ActionTables) {
    const ActionTable& s = type_registry::table(T_STRING);
    const ActionTable& tag = type_registry::table(T_TAG);
    const ActionTable& email = type_registry::table(T_EMAIL);
    const ActionTable& ref = type_registry::table(T_REF);
    EXPECT_EQ(tag.form.fn, tag::form);
    EXPECT_EQ(tag.mold.fn, tag::mold);
    EXPECT_EQ(tag.eval_path.fn, s.eval_path.fn);
    EXPECT_EQ(tag.append.fn, s.append.fn);
    EXPECT_EQ(email.form.fn, s.form.fn);
    EXPECT_EQ(email.eval_path.fn, email::eval_path);
    EXPECT_EQ(ref.form.fn, s.form.fn);
    EXPECT_EQ(ref.take.fn, s.take.fn);
    for (const ActionTable* t : {&tag, &email, &ref}) {
        EXPECT_FALSE(t->sort);
        EXPECT_FALSE(t->trim);
        EXPECT_FALSE(t->read);
        EXPECT_TRUE(t->reflect);
    }
    EXPECT_FALSE(ref.append);
    EXPECT_FALSE(ref.eval_path);
    EXPECT_TRUE(type_registry::supports(T_EMAIL, A_APPEND));
    EXPECT_FALSE(type_registry::supports(T_REF, A_APPEND));
}

// Each value compares as text with string! under equality, whatever its type.
TEST_F(TagEmailRef, CompareAsText) {
    Cell* a = text_of(T_TAG, "abc");
    Cell* b = text_of(T_STRING, "ABC");
    EXPECT_EQ(type_registry::table(T_TAG).compare(a, b, COMP_EQUAL), 0);
    EXPECT_EQ(type_registry::table(T_TAG).compare(a, b, COMP_LESSER), NOT_COMPARABLE);
}

}  // namespace
}  // namespace kov
