// date!: day numbers over the whole year range, the block constructor and its validation,
// conversions from and to seconds, text, the fourteen fields read and stored, zones, comparison
// by instant, arithmetic (also with the date on the right of integer! and time!) and random dates.
#include <cmath>
#include <iterator>
#include <string>

#include "core/cells.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/date.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/system_settings.hpp"
#include "datatypes/time.hpp"
#include "evaluator/random.hpp"
#include "tests/datatypes/scalar_fixture.hpp"

namespace kov {
namespace {

using testing::float_cell;
using testing::integer_cell;
using testing::Outcome;
using testing::run;

Cell I(int32_t n) { return integer_cell(n); }
Cell T(double s) { return float_cell(s, T_TIME); }
Cell word(const char* s) { return cells::make_word(T_WORD, 0, symbol::make(s)); }

// A date without time, or with a local time (seconds) and a zone of hours and minutes.
Cell D(int32_t y, int32_t m, int32_t d) {
    Cell c;
    date::set_all(&c, y, m, d, 0, 0, 0, false);
    return c;
}
Cell DT(int32_t y, int32_t m, int32_t d, double local, int32_t zh = 0, int32_t zm = 0) {
    Cell c;
    date::set_all(&c, y, m, d, local, zh, zm, true);
    date::normalize_time(&c, c.get_float(), false);
    return c;
}

class Date : public testing::RuntimeTest {
protected:
    void TearDown() override { system_settings::reset(); }
};

// Every day of the year range: the day number of a date's fields gives the day back, and the
// next day number is the next calendar day (a month or year rolling over exactly when the
// month's length, leap years included, is reached).
TEST_F(Date, DayNumbersRoundTripOverTheWholeYearRange) {
    static const int32_t LENGTH[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int64_t first = date::to_days(date::YEAR_MIN, 1, 1);
    int64_t last = date::to_days(date::YEAR_MAX, 12, 31);
    uint32_t w = date::from_days(first, 0);
    ASSERT_EQ(date::year_of(w), date::YEAR_MIN);
    int64_t failures = 0;
    for (int64_t g = first; g <= last && failures < 10; ++g) {
        int32_t y = date::year_of(w), m = date::month_of(w), d = date::day_of(w);
        if (date::to_days(y, m, d) != g) {
            ADD_FAILURE() << "day " << g << " read back as " << date::to_days(y, m, d);
            ++failures;
        }
        if (g == last) break;
        uint32_t next = date::from_days(g + 1, 0);
        int32_t length = LENGTH[m - 1] + (m == 2 && date::leap_year_q(y) ? 1 : 0);
        int32_t ey = y, em = m, ed = d + 1;
        if (ed > length) {
            ed = 1;
            if (++em > 12) em = 1, ++ey;
        }
        if (date::year_of(next) != ey || date::month_of(next) != em || date::day_of(next) != ed) {
            ADD_FAILURE() << "after " << y << "-" << m << "-" << d << " came "
                          << date::year_of(next) << "-" << date::month_of(next) << "-"
                          << date::day_of(next);
            ++failures;
        }
        w = next;
    }
    EXPECT_EQ(failures, 0);
}

TEST_F(Date, DayNumbersAndDerivedDays) {
    EXPECT_EQ(date::to_days(0, 3, 1), 0);
    EXPECT_EQ(date::to_days(0, 2, 29), -1);  // year 0 is a leap year
    EXPECT_EQ(date::to_days(-1, 3, 1), -366);  // its year runs to 29 Feb 0
    EXPECT_EQ(date::to_days(-4, 3, 1) - date::to_days(-5, 3, 1), 366);  // Feb -4 has 29 days
    EXPECT_TRUE(date::leap_year_q(-4));
    EXPECT_FALSE(date::leap_year_q(-3));
    EXPECT_TRUE(date::leap_year_q(2000));
    EXPECT_FALSE(date::leap_year_q(1900));
    Cell out;
    EXPECT_EQ(date::text(&(out = D(2021, 1, 1))), "1-Jan-2021");
    EXPECT_EQ(date::iso_week1_start(out.data1), date::to_days(2021, 1, 4));
    int32_t weekday = 0;
    date::iso_week1_start(D(2026, 1, 1).data1, &weekday);
    EXPECT_EQ(weekday, 4);  // a Thursday
}

TEST_F(Date, Text) {
    const struct {
        Cell date;
        const char* text;
    } cases[] = {
        {D(2024, 3, 5), "5-Mar-2024"},
        {DT(2024, 3, 5, 37800, 5, 30), "5-Mar-2024/10:30:00+05:30"},
        {DT(2024, 3, 5, 37800, -3, 30), "5-Mar-2024/10:30:00-03:30"},
        {DT(2024, 3, 5, 0), "5-Mar-2024/0:00:00"},
        {D(99, 1, 1), "1-Jan-0099"},
        {D(100, 1, 1), "1-Jan-100"},
        {D(5, 12, 31), "31-Dec-0005"},
        {D(-44, 2, 3), "3/Feb/-0044"},
        {D(-1000, 2, 3), "3/Feb/-1000"},
        {DT(2020, 6, 1, 3723.25, 1, 0), "1-Jun-2020/1:02:03.25+01:00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(testing::formed(c.date), c.text);
        EXPECT_EQ(testing::molded(c.date), c.text);
    }
    system_settings::months.resize(5);
    Outcome o = run({}, [] {
        Cell d = D(2020, 6, 1);
        date::text(&d);
        return nullptr;
    });
    EXPECT_EQ(o.error, "script/invalid-months");
}

// make and to over blocks: shapes, year-first order, carries, validation (make only).
TEST_F(Date, BlockConstructor) {
    collector::Root block;
    auto blk = [&](std::vector<Cell> items) { return testing::make_block(block.get(), items); };
    struct Case {
        std::vector<Cell> items;
        const char* made;  // text, or an error
        const char* converted;
    };
    const char* bad = "script/bad-to-arg";
    const Case cases[] = {
        {{I(5), I(3), I(2024)}, "5-Mar-2024", "5-Mar-2024"},
        {{I(2024), I(3), I(5)}, "5-Mar-2024", "5-Mar-2024"},
        {{I(29), I(2), I(2023)}, bad, "1-Mar-2023"},
        {{I(29), I(2), I(2024)}, "29-Feb-2024", "29-Feb-2024"},
        {{I(1), I(13), I(2020)}, bad, "1-Jan-2021"},
        {{I(0), I(3), I(2020)}, bad, "29-Feb-2020"},
        {{I(31), I(4), I(2020)}, bad, "1-May-2020"},
        {{I(1), I(0), I(2020)}, bad, "1-Dec-2019"},
        {{I(5), I(3), I(2024), T(37800)}, "5-Mar-2024/10:30:00", "5-Mar-2024/10:30:00"},
        {{I(5), I(3), I(2024), T(37800), T(19800)}, "5-Mar-2024/10:30:00+05:30",
         "5-Mar-2024/10:30:00+05:30"},
        {{I(5), I(3), I(2024), T(37800), I(-3), I(30)}, "5-Mar-2024/10:30:00-03:30",
         "5-Mar-2024/10:30:00-03:30"},
        {{I(5), I(3), I(2024), T(37800), I(2)}, "5-Mar-2024/10:30:00+02:00",
         "5-Mar-2024/10:30:00+02:00"},
        {{I(5), I(3), I(2024), I(10)}, "5-Mar-2024/10:00:00", "5-Mar-2024/10:00:00"},
        {{I(5), I(3), I(2024), I(10), I(30)}, "5-Mar-2024/10:30:00", "5-Mar-2024/10:30:00"},
        {{I(5), I(3), I(2024), I(10), I(30), I(15)}, "5-Mar-2024/10:30:15",
         "5-Mar-2024/10:30:15"},
        {{I(5), I(3), I(2024), I(10), I(30), float_cell(1.5)}, "5-Mar-2024/10:30:01.5",
         "5-Mar-2024/10:30:01.5"},
        {{I(5), I(3), I(2024), I(10), I(30), I(0), T(-12600)}, "5-Mar-2024/10:30:00-03:30",
         "5-Mar-2024/10:30:00-03:30"},
        {{I(5), I(3), I(2024), I(10), I(30), I(0), I(5), I(45)}, "5-Mar-2024/10:30:00+05:45",
         "5-Mar-2024/10:30:00+05:45"},
        {{I(5), I(3), I(2024), I(0), I(0), I(0)}, "5-Mar-2024/0:00:00", "5-Mar-2024/0:00:00"},
        // Times out of their ranges carry when converted and are refused when made.
        {{I(5), I(3), I(2024), I(25)}, bad, "6-Mar-2024/1:00:00"},
        {{I(5), I(3), I(2024), I(10), I(75)}, bad, "5-Mar-2024/11:15:00"},
        {{I(5), I(3), I(2024), I(0), I(-1), I(0)}, bad, "4-Mar-2024/23:59:00"},
        {{I(5), I(3), I(2024), I(1), I(-60), I(0)}, bad, "5-Mar-2024/0:00:00"},
        {{I(5), I(3), I(2024), T(-3600)}, bad, "4-Mar-2024/23:00:00"},
        // Shapes that are not dates, and zones outside the packed field.
        {{I(5), I(3)}, bad, bad},
        {{I(5), float_cell(3), I(2024)}, bad, bad},
        {{I(5), I(3), I(2024), T(0), T(0), T(0)}, bad, bad},
        {{I(5), I(3), I(2024), Cell{T_NONE, 0, 0, 0}}, bad, bad},
        {{I(5), I(3), I(2024), T(0), I(16)}, bad, bad},
        {{I(5), I(3), I(2024), T(0), I(1), I(60)}, bad, bad},
        {{I(1), I(1), I(20000)}, bad, bad},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        for (int to = 0; to < 2; ++to) {
            Cell spec = blk(c.items);
            Outcome o = run({Cell{T_NONE, 0, 0, 0}, spec}, [to] {
                return to ? date::to(nullptr, stack::arg(1), T_DATE)
                          : date::make(nullptr, stack::arg(1), T_DATE);
            });
            std::string expect = to ? c.converted : c.made;
            std::string got = o.error.empty() ? date::text(&o.value) : o.error;
            EXPECT_EQ(got, expect) << "case " << i << (to ? " to" : " make");
        }
    }
    Outcome o = run({Cell{T_NONE, 0, 0, 0}, T(5)},
                    [] { return date::make(nullptr, stack::arg(1), T_DATE); });
    EXPECT_EQ(o.error, bad);
}

TEST_F(Date, Seconds) {
    const struct {
        int32_t seconds;
        const char* text;
    } cases[] = {
        {0, "1-Jan-1970/0:00:00"},
        {-1, "31-Dec-1969/23:59:59"},
        {86400, "2-Jan-1970/0:00:00"},
        {-86400, "31-Dec-1969/0:00:00"},
        {2147483647, "19-Jan-2038/3:14:07"},
        {-2147483647 - 1, "13-Dec-1901/20:45:52"},
    };
    for (const auto& c : cases) {
        Outcome o = run({Cell{T_NONE, 0, 0, 0}, I(c.seconds)},
                        [] { return date::to(nullptr, stack::arg(1), T_DATE); });
        ASSERT_EQ(o.error, "");
        EXPECT_EQ(date::text(&o.value), c.text);
        EXPECT_EQ(date::to_epoch(&o.value), c.seconds);
        Outcome back = run({Cell{T_NONE, 0, 0, 0}, o.value},
                           [] { return integer::to(nullptr, stack::arg(1), T_INTEGER); });
        EXPECT_EQ(back.value.get_int(), c.seconds);
    }
    // The instant counts, not the local time; beyond 32 bits the conversion is refused.
    Cell zoned = DT(1970, 1, 1, 3600, 1, 0);
    EXPECT_EQ(date::to_epoch(&zoned), 0);
    Outcome far = run({Cell{T_NONE, 0, 0, 0}, D(2100, 1, 1)},
                      [] { return integer::to(nullptr, stack::arg(1), T_INTEGER); });
    EXPECT_EQ(far.error, "script/type-limit");
}

TEST_F(Date, FieldsRead) {
    Cell d = DT(2021, 1, 1, 37815.5, 5, 45);  // a Friday
    const struct {
        const char* field;
        Cell expect;
    } cases[] = {
        {"year", I(2021)},       {"month", I(1)},        {"day", I(1)},
        {"zone", T(20700)},      {"timezone", T(20700)}, {"time", T(37815.5)},
        {"hour", I(10)},         {"minute", I(30)},      {"second", float_cell(15.5)},
        {"weekday", I(5)},       {"yearday", I(1)},      {"julian", I(1)},
        {"week", I(1)},          {"isoweek", I(53)},
    };
    for (const auto& c : cases) {
        Cell element = word(c.field);
        Outcome o = run({d}, [&] {
            PathStep step = testing::path_step(&element, nullptr);
            return date::eval_path(step);
        });
        ASSERT_EQ(o.error, "") << c.field;
        EXPECT_EQ(o.value.type(), c.expect.type()) << c.field;
        EXPECT_EQ(o.value.data2, c.expect.data2) << c.field;
        EXPECT_EQ(o.value.data3, c.expect.data3) << c.field;
        Outcome p = run({d}, [&] { return date::pick(stack::arg(0), 0, &element); });
        EXPECT_EQ(p.value.data2, c.expect.data2) << c.field;
    }
    Cell whole = date::get_field(&d, date::F_DATE);
    EXPECT_EQ(date::text(&whole), "1-Jan-2021");
    Cell plain = D(2021, 1, 1);
    EXPECT_TRUE(date::get_field(&plain, date::F_ZONE).is(T_NONE));
    EXPECT_TRUE(date::get_field(&plain, date::F_TIME).is(T_NONE));
    Cell bad = word("century");
    EXPECT_EQ(run({d}, [&] { return date::eval_path(testing::path_step(&bad, nullptr)); }).error,
              "script/invalid-path");
    EXPECT_EQ(run({d}, [] { return date::pick(stack::arg(0), 15, nullptr); }).error,
              "script/out-of-range");
    EXPECT_EQ(run({d}, [] { return date::pick(stack::arg(0), 2, nullptr); }).value.get_int(), 2021);
}

TEST_F(Date, WeeksAndDays) {
    const struct {
        Cell date;
        int32_t weekday, yearday, week, isoweek;
    } cases[] = {
        {D(2021, 1, 1), 5, 1, 1, 53},
        {D(2022, 1, 1), 6, 1, 1, 52},
        {D(2021, 1, 4), 1, 4, 2, 1},
        {D(2000, 3, 1), 3, 61, 10, 9},
        {D(2020, 12, 31), 4, 366, 53, 53},
        {D(2024, 12, 30), 1, 365, 53, 1},
        {D(2016, 1, 1), 5, 1, 1, 53},
        {D(2017, 1, 1), 7, 1, 1, 52},
        {D(1970, 1, 1), 4, 1, 1, 1},
    };
    for (const auto& c : cases) {
        std::string name = date::text(&c.date);
        EXPECT_EQ(date::get_field(&c.date, date::F_WEEKDAY).get_int(), c.weekday) << name;
        EXPECT_EQ(date::get_field(&c.date, date::F_YEARDAY).get_int(), c.yearday) << name;
        EXPECT_EQ(date::get_field(&c.date, date::F_WEEK).get_int(), c.week) << name;
        EXPECT_EQ(date::get_field(&c.date, date::F_ISOWEEK).get_int(), c.isoweek) << name;
    }
    Cell c = D(2021, 6, 15);
    date::set_week(&c, 1);
    EXPECT_EQ(date::text(&c), "4-Jan-2021");
    date::set_weekday(&c, 7);
    EXPECT_EQ(date::text(&c), "10-Jan-2021");
    date::set_yearday(&c, 60);
    EXPECT_EQ(date::text(&c), "1-Mar-2021");
}

// Stores through paths: each case starts from a date, stores a value into a field and checks
// the text after the store.
TEST_F(Date, FieldsStored) {
    struct Case {
        Cell date;
        const char* field;
        Cell value;
        const char* after;  // text, or an error
    };
    const Case cases[] = {
        {D(2020, 6, 15), "month", I(-11), "15-Jan-2019"},
        {D(2020, 6, 15), "month", I(0), "15-Dec-2019"},
        {D(2020, 6, 15), "month", I(13), "15-Jan-2021"},
        {D(2020, 1, 31), "month", I(4), "1-May-2020"},
        {D(2020, 2, 29), "year", I(2021), "1-Mar-2021"},
        {D(2020, 2, 10), "day", I(0), "31-Jan-2020"},
        {D(2020, 2, 10), "day", I(30), "1-Mar-2020"},
        {D(2021, 6, 16), "weekday", I(1), "14-Jun-2021"},
        {D(2021, 6, 16), "yearday", I(1), "1-Jan-2021"},
        {D(2021, 6, 16), "week", I(1), "1-Jan-2021"},
        {D(2021, 6, 16), "week", I(2), "3-Jan-2021"},
        {D(2021, 6, 16), "isoweek", I(1), "4-Jan-2021"},
        {DT(2020, 1, 1, 0), "timezone", T(7200), "1-Jan-2020/2:00:00+02:00"},
        {DT(2020, 1, 1, 0), "zone", T(7200), "1-Jan-2020/0:00:00+02:00"},
        {DT(2020, 1, 1, 0), "zone", I(-3), "1-Jan-2020/0:00:00-03:00"},
        {DT(2020, 1, 1, 0), "timezone", T(-12600), "31-Dec-2019/20:30:00-03:30"},
        {DT(2020, 1, 1, 3600, -3, 30), "timezone", I(0), "1-Jan-2020/4:30:00"},
        {D(2020, 1, 1), "zone", T(19800), "1-Jan-2020/0:00:00+05:30"},
        {D(2020, 1, 1), "time", T(37800), "1-Jan-2020/10:30:00"},
        {DT(2020, 1, 1, 37800, 5, 30), "time", T(3600), "1-Jan-2020/1:00:00+05:30"},
        {DT(2020, 1, 1, 37800, 5, 30), "time", Cell{T_NONE, 0, 0, 0}, "1-Jan-2020"},
        {DT(2020, 1, 1, 37800), "time", T(90000), "2-Jan-2020/1:00:00"},
        // hour, minute and second work on the local time, whatever the zone.
        {DT(2020, 1, 1, 37815, 5, 45), "hour", I(3), "1-Jan-2020/3:30:15+05:45"},
        {DT(2020, 1, 1, 37815, 5, 45), "minute", I(5), "1-Jan-2020/10:05:15+05:45"},
        {DT(2020, 1, 1, 37815, -3, 30), "minute", I(59), "1-Jan-2020/10:59:15-03:30"},
        {DT(2020, 1, 1, 37815, 5, 45), "second", float_cell(1.5), "1-Jan-2020/10:30:01.5+05:45"},
        {DT(2020, 1, 1, 1800, 5, 45), "hour", I(0), "1-Jan-2020/0:30:00+05:45"},
        {DT(2020, 1, 1, 37815, 5, 45), "hour", I(25), "2-Jan-2020/1:30:15+05:45"},
        {D(2020, 1, 1), "hour", I(7), "1-Jan-2020/7:00:00"},
        {DT(2020, 1, 1, 37800, 2, 0), "date", D(2021, 5, 6), "6-May-2021"},
        {DT(2020, 1, 1, 37800, 2, 0), "date", DT(2021, 5, 6, 60), "6-May-2021/10:30:00+02:00"},
        // Wrong value types change nothing.
        {D(2020, 1, 1), "year", float_cell(1), "script/invalid-arg"},
        {D(2020, 1, 1), "date", I(1), "script/invalid-arg"},
        {D(2020, 1, 1), "zone", float_cell(1), "script/invalid-arg"},
        {D(2020, 1, 1), "time", I(1), "script/invalid-arg"},
        {D(2020, 1, 1), "hour", float_cell(1), "script/invalid-arg"},
        {D(2020, 1, 1), "century", I(1), "script/invalid-path"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        Cell element = word(c.field);
        Cell after{};
        Outcome o = run({c.date}, [&] {
            after = *stack::arg(0);
            Cell* r = date::eval_path(testing::path_step(&element, &c.value));
            after = *stack::arg(0);
            return r;
        });
        std::string got = o.error.empty() ? date::text(&after) : o.error;
        EXPECT_EQ(got, c.after) << "case " << i;
        if (!o.error.empty()) {
            EXPECT_EQ(after.data1, c.date.data1) << "case " << i;
            continue;
        }
        // The stored time keeps its meaning: local time = stored + zone, within the day.
        double local = date::to_local(&after);
        EXPECT_GE(local, 0) << "case " << i;
        EXPECT_LT(local, 86400) << "case " << i;
    }
}

TEST_F(Date, StoreKeepsTheCellFlags) {
    Cell d = D(2020, 1, 1);
    d.header |= CELL_NEW_LINE;
    Cell element = word("time"), value = T(60);
    Cell after{};
    run({d}, [&] {
        Cell* r = date::eval_path(testing::path_step(&element, &value));
        after = *stack::arg(0);
        return r;
    });
    EXPECT_EQ(after.header, uint32_t(T_DATE) | CELL_NEW_LINE);
    EXPECT_EQ(date::text(&after), "1-Jan-2020/0:01:00");
}

TEST_F(Date, ZoneOffsets) {
    Cell d = DT(2020, 1, 1, 0, -3, 30);
    EXPECT_EQ(date::zone_offset(date::zone_of(d.data1)), -12600);
    EXPECT_EQ(date::get_field(&d, date::F_ZONE).get_float(), -12600);
    EXPECT_EQ(d.get_float(), 12600);
    Cell e = DT(2020, 1, 1, 3600, -3, 30);
    Cell utc = DT(2020, 1, 1, 16200);
    EXPECT_EQ(date::compare(&e, &utc, COMP_EQUAL), 0);
    Cell late = DT(2020, 1, 1, 86000, -3, 30);  // the next day in UTC
    EXPECT_EQ(date::text(&late), "1-Jan-2020/23:53:20-03:30");
    EXPECT_EQ(date::days_of(late.data1), date::to_days(2020, 1, 1));
}

// Dates compare by instant: the same instant in two zones is equal, order follows the instants.
TEST_F(Date, CompareByInstant) {
    struct Case {
        Cell a, b;
        int32_t equal, order;  // compare under = and under <
    };
    const Case cases[] = {
        {DT(2020, 1, 1, 36000, 2, 0), DT(2020, 1, 1, 28800), 0, 0},
        {DT(2020, 1, 1, 1800, 5, 45), DT(2019, 12, 31, 67400), 1, 1},
        {DT(2020, 1, 1, 1800, 5, 45), DT(2019, 12, 31, 67500), 0, 0},
        {DT(2020, 1, 2, 1800, 1, 0), DT(2020, 1, 1, 84600 + 900), 1, -1},
        {DT(2020, 1, 1, 84600, -3, 30), DT(2020, 1, 2, 1800), 1, 1},
        {D(2020, 1, 1), DT(2020, 1, 1, 0), 0, 0},
        {D(2020, 1, 1), D(2020, 1, 2), 1, -1},
        {DT(2020, 1, 1, 1.0), DT(2020, 1, 1, 1.0 + 1e-15), 0, 0},
        {D(-44, 3, 15), D(2020, 1, 1), 1, -1},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        int32_t eq = date::compare(&c.a, &c.b, COMP_EQUAL);
        EXPECT_EQ(eq != 0, c.equal != 0) << "case " << i;
        EXPECT_EQ(date::compare(&c.a, &c.b, COMP_STRICT_EQUAL) != 0, c.equal != 0) << "case " << i;
        EXPECT_EQ(date::compare(&c.a, &c.b, COMP_LESSER), c.order) << "case " << i;
        EXPECT_EQ(date::compare(&c.b, &c.a, COMP_LESSER), -c.order) << "case " << i;
        EXPECT_EQ(type_registry::relation(&c.a, &c.b, COMP_EQUAL), c.equal == 0 ? 1 : 0)
            << "case " << i;
    }
    Cell a = D(2020, 1, 1), n = I(1);
    EXPECT_EQ(date::compare(&a, &n, COMP_EQUAL), NOT_COMPARABLE);
    Cell b = DT(2020, 1, 1, 36000, 2, 0), c = DT(2020, 1, 1, 28800);
    EXPECT_EQ(date::compare(&b, &c, COMP_SAME), 0);
    Cell d = DT(2020, 1, 1, 28800.5);
    EXPECT_EQ(date::compare(&c, &d, COMP_SAME), 1);
}

TEST_F(Date, Arithmetic) {
    struct Case {
        Cell left, right;
        void (*action)();
        const char* expect;  // text of a date, "=n" an integer, or an error
    };
    const Case cases[] = {
        {D(2020, 12, 31), I(1), date::add, "1-Jan-2021"},
        {D(2020, 3, 1), I(-1), date::add, "29-Feb-2020"},
        {D(2020, 3, 1), I(366), date::subtract, "1-Mar-2019"},
        {D(2020, 1, 1), T(90000), date::add, "2-Jan-2020/1:00:00"},
        {DT(2020, 1, 1, 0, 5, 30), T(-1), date::add, "31-Dec-2019/23:59:59+05:30"},
        {DT(2020, 1, 1, 3600, -3, 30), T(86400), date::subtract, "31-Dec-2019/1:00:00-03:30"},
        {D(2021, 1, 1), D(2020, 12, 31), date::subtract, "=1"},
        {DT(2020, 1, 1, 1), DT(2020, 1, 1, 2), date::subtract, "=-1"},
        {DT(2020, 1, 2, 0), DT(2020, 1, 1, 1), date::subtract, "=0"},
        {DT(2020, 1, 1, 36000, -5, 0), DT(2020, 1, 1, 36000, -5, 0), date::subtract, "=0"},
        {DT(2020, 1, 2, 3600, 2, 0), DT(2020, 1, 1, 82800), date::subtract, "=0"},
        {D(2020, 1, 1), D(2020, 1, 1), date::add, "script/not-related"},
        {D(2020, 1, 1), float_cell(1), date::add, "script/invalid-type"},
        {D(2020, 1, 1), Cell{T_STRING, 0, 0, 0}, date::subtract, "script/invalid-type"},
        // The date on the right of integer! and time!.
        {I(1), D(2020, 12, 31), integer::add, "1-Jan-2021"},
        {I(1), D(2020, 12, 31), integer::subtract, "script/not-related"},
        {I(1), D(2020, 12, 31), integer::multiply, "script/not-related"},
        {T(3600), D(2020, 12, 31), time_::add, "31-Dec-2020/1:00:00"},
        {T(3600), D(2020, 12, 31), time_::subtract, "script/not-related"},
        {D(16383, 12, 31), I(1), date::add, "script/type-limit"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        Outcome o = run({c.left, c.right}, [&] { c.action(); return nullptr; });
        std::string got = !o.error.empty()      ? o.error
                          : o.value.is(T_DATE) ? date::text(&o.value)
                          : o.value.is(T_INTEGER) ? "=" + std::to_string(o.value.get_int())
                                                  : "?";
        EXPECT_EQ(got, c.expect) << "case " << i;
    }
    Cell a = DT(2020, 1, 2, 3600, 2, 0), b = DT(2020, 1, 1, 0);
    date::difference(&a, &b);
    EXPECT_TRUE(a.is(T_TIME));
    EXPECT_EQ(a.get_float(), 86400 - 3600);
}

TEST_F(Date, Builders) {
    Cell c;
    date::make_from_parts(&c, 2024, 2, 29, 23, 59, 58, 500000000);
    EXPECT_EQ(date::text(&c), "29-Feb-2024/23:59:58.5");
    date::set_all(&c, 2024, 2, 29, 3600, 0, 0, false);
    EXPECT_EQ(date::text(&c), "29-Feb-2024");
    EXPECT_EQ(c.get_float(), 0);
    Outcome o = run({}, [] { return date::push(date::pack(2000, 1, 2), 0); });
    EXPECT_EQ(date::text(&o.value), "2-Jan-2000");
    EXPECT_EQ(date::field_index(&(c = word("JULIAN"))), int32_t(date::F_YEARDAY));
    EXPECT_EQ(date::field_index(&(c = word("timezone"))), int32_t(date::F_TIMEZONE));
    EXPECT_EQ(date::field_index(&(c = word("noon"))), 0);
}

TEST_F(Date, Random) {
    Cell bound = DT(2020, 6, 15, 37800, 2, 0);
    random::seed(7);
    for (int i = 0; i < 200; ++i) {
        Outcome o = run({bound}, [] { return date::random(stack::arg(0), false, false, false); });
        ASSERT_EQ(o.error, "");
        ASSERT_TRUE(o.value.is(T_DATE));
        EXPECT_LE(date::days_of(o.value.data1), date::days_of(bound.data1) + 1);
        EXPECT_GE(date::days_of(o.value.data1), -1);
        EXPECT_TRUE(date::has_time(o.value.data1));
        double local = date::to_local(&o.value);
        EXPECT_GE(local, 0);
        EXPECT_LT(local, 86400);
    }
    Cell plain = D(2020, 6, 15);
    Outcome o = run({plain}, [] { return date::random(stack::arg(0), false, true, false); });
    EXPECT_FALSE(date::has_time(o.value.data1));
    // The seed makes the draws repeatable.
    auto draw = [&] {
        run({bound}, [] { return date::random(stack::arg(0), true, false, false); });
        return run({bound}, [] { return date::random(stack::arg(0), false, false, false); }).value;
    };
    Cell first = draw(), second = draw();
    EXPECT_EQ(first.data1, second.data1);
    EXPECT_EQ(first.get_float(), second.get_float());
    EXPECT_TRUE(run({bound}, [] { return date::random(stack::arg(0), true, false, false); })
                    .value.is(T_UNSET));
}

}  // namespace
}  // namespace kov
