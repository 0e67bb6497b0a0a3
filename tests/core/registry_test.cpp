// The datatype registry: registration, inheritance of handlers, refusals and names.
#include <type_traits>

#include "core/type_registry.hpp"
#include "datatypes/simple.hpp"
#include "runtime_fixture.hpp"

namespace kov {
namespace {

class Registry : public testing::RuntimeTest {};

Cell* child_make(const Cell*, const Cell*, uint32_t) { return &none_value; }
int32_t parent_form(const Cell*, Cell*, bool, int32_t limit) { return limit - 1; }
int32_t other_form(const Cell*, Cell*, bool, int32_t limit) { return limit - 2; }
int32_t parent_mold(const Cell*, Cell*, bool, bool, bool, bool, int32_t limit, int32_t) { return limit; }
int32_t parent_compare(const Cell*, const Cell*, int32_t) { return 0; }

// A handler of another slot's signature is not accepted for a field.
static_assert(std::is_constructible_v<Entry<MakeFn>, decltype(&child_make)>);
static_assert(!std::is_constructible_v<Entry<FormFn>, decltype(&child_make)>);
static_assert(!std::is_constructible_v<Entry<MoldFn>, decltype(&parent_form)>);

TEST_F(Registry, InheritanceIsResolvedAtRegistration) {
    ASSERT_TRUE(type_registry::register_type(55, 0, "parent!", {.form = parent_form, .mold = parent_mold}));
    ASSERT_TRUE(type_registry::register_type(
        56, 55, "child!",
        {.make = child_make, .random = inherit, .form = inherit, .compare = inherit, .write = inherit}));
    const ActionTable& child = type_registry::table(56);
    EXPECT_EQ(child.make.fn, &child_make);
    EXPECT_EQ(child.form.fn, &parent_form);  // the parent's
    EXPECT_FALSE(child.form.inherited);
    // Inherited from an unsupported parent field, or not mentioned: unsupported, even where the
    // parent has a handler (mold).
    for (int slot = 1; slot <= ACTION_COUNT; slot++)
        EXPECT_EQ(type_registry::supports(56, slot), slot == A_MAKE || slot == A_FORM) << slot;
    // Later changes to the parent are not seen by the child.
    type_registry::tables[55].form = other_form;
    type_registry::tables[55].compare = parent_compare;
    EXPECT_EQ(child.form.fn, &parent_form);
    EXPECT_FALSE(type_registry::supports(56, A_COMPARE));
    EXPECT_EQ(type_registry::top_id, 56u);
    EXPECT_EQ(type_registry::names[56].length, 5);
}

TEST_F(Registry, RegistrationsThatAreRefused) {
    struct Case { uint32_t id, parent; ActionTable handlers; const char* why; };
    const Case cases[] = {
        {56, 55, {.form = parent_form}, "the parent has not registered yet"},
        {56, 0, {.form = inherit}, "inherited without a parent"},
        {55, 55, {}, "its own parent"},
        {0, 0, {}, "id 0"},
        {TYPE_COUNT_MAX + 1, 0, {}, "id past the table"},
    };
    for (const Case& c : cases) {
        uint32_t top = type_registry::top_id;
        EXPECT_FALSE(type_registry::register_type(c.id, c.parent, "refused!", c.handlers)) << c.why;
        EXPECT_EQ(type_registry::top_id, top) << c.why;
        if (c.id <= TYPE_COUNT_MAX) {
            EXPECT_EQ(type_registry::names[c.id].name, nullptr) << c.why;
            EXPECT_FALSE(type_registry::supports(c.id, A_FORM)) << c.why;
        }
    }
    // The parent registering after its child does not make the child.
    ASSERT_TRUE(type_registry::register_type(55, 0, "parent!", {.form = parent_form}));
    EXPECT_EQ(type_registry::names[56].name, nullptr);
    EXPECT_FALSE(type_registry::supports(56, A_FORM));
}

TEST_F(Registry, NamesOfRegisteredTypes) {
    EXPECT_STREQ(type_registry::names[T_LOGIC].name, "logic!");
    EXPECT_EQ(type_registry::names[T_DATATYPE].length, 8);
    for (uint32_t t : {T_DATATYPE, T_UNSET, T_NONE, T_LOGIC}) EXPECT_TRUE(type_registry::supports(t, A_FORM));
}

}  // namespace
}  // namespace kov
