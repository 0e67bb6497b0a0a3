// percent!: the text of a fraction as a percentage, and what it takes from float!.
#include <cmath>

#include "core/type_registry.hpp"
#include "datatypes/percent.hpp"
#include "tests/datatypes/scalar_fixture.hpp"

namespace kov {
namespace {

using testing::float_cell;

class Percent : public testing::RuntimeTest {};

TEST_F(Percent, Text) {
    const struct {
        double fraction;
        const char* text;
    } cases[] = {
        {0.5, "50%"}, {0.005, "0.5%"}, {1.0, "100%"}, {0.125, "12.5%"}, {-0.03, "-3%"},
        {1e-20, "0%"}, {0.1 + 0.7, "80%"}, {1e20, "1e22%"}, {INFINITY, "1.#INF"}, {NAN, "1.#NaN"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(testing::formed(float_cell(c.fraction, T_PERCENT)), c.text) << c.fraction;
        EXPECT_EQ(testing::molded(float_cell(c.fraction, T_PERCENT)), c.text) << c.fraction;
    }
}

TEST_F(Percent, TakesTheRestFromFloat) {
    const ActionTable& p = type_registry::table(T_PERCENT);
    const ActionTable& f = type_registry::table(T_FLOAT);
    EXPECT_EQ(p.add.fn, f.add.fn);
    EXPECT_EQ(p.round.fn, f.round.fn);
    EXPECT_EQ(p.make.fn, f.make.fn);
    EXPECT_NE(p.form.fn, f.form.fn);
    EXPECT_FALSE(p.eval_path);
    Cell c;
    percent::make_at_parts(&c, 0x3FE00000u, 0);
    EXPECT_EQ(c.type(), uint32_t(T_PERCENT));
    EXPECT_EQ(percent::get(&c), 0.5);
}

}  // namespace
}  // namespace kov
