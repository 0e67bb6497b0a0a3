// The loaders of the lexer's value tokens: numbers, times, dates, money, text, binaries and the
// word family, with their rejections; and the text readers used by `to`.
#include <cmath>

#include "evaluator/loaders.hpp"
#include "tests/evaluator/lexer_fixture.hpp"

namespace kov::testing {
namespace {

class LoadersTest : public RuntimeTest {};

struct Case {
    const char* text;
    const char* expected;
};

void check(const Case* cases, size_t n) {
    for (size_t i = 0; i < n; i++) EXPECT_EQ(loaded(cases[i].text), cases[i].expected) << cases[i].text;
}
#define CHECK_CASES(c) check(c, sizeof(c) / sizeof(c[0]))

TEST_F(LoadersTest, Integers) {
    const Case cases[] = {
        {"0 42 -7 +3", "0 42 -7 3"},
        {"2147483647", "2147483647"},
        {"2147483648", "f:2147483648"},
        {"-2147483648", "-2147483648"},
        {"-2'147'483'648", "f:-2147483648"},
        {"00000000001", "f:1"},
        {"1'000", "1000"},
        {"1''000", "syntax/invalid | (line 1) | integer! | 1''000"},
        {"FFh 0Ah", "255 10"},
        {"FFFFFFFFh", "-1"},
        {"123456789h", "syntax/invalid | (line 1) | integer! | 123456789h"},
        {"Ah", "syntax/invalid | (line 1) | word! | Ah"},
    };
    CHECK_CASES(cases);
}

TEST_F(LoadersTest, Floats) {
    const Case cases[] = {
        {"1.5 .5 1. -0.25", "f:1.5 f:0.5 f:1 f:-0.25"},
        {"1e3 1.5E-2 2e+2", "f:1000 f:0.015 f:200"},
        {"1'000.5", "f:1000.5"},
        {"1e", "syntax/invalid | (line 1) | float! | 1e"},
        {"50% 12.5% -1%", "p:0.5 p:0.125 p:-0.01"},
        {"-1.#INF 1.#inf", "f:-inf f:inf"},
        {"1.#XYZ", "syntax/invalid | (line 1) | float! | 1.#XYZ"},
        {"0.1", "f:0.1"},
    };
    CHECK_CASES(cases);
    collector::Root out;
    lexer::scan(out.get(), "1.#nan -1.#NaN");
    const Cell* v = memory::buffer_of(cells::series_node(*out))->head_cell();
    for (int i = 0; i < 2; i++)
        EXPECT_EQ(std::bit_cast<uint64_t>(v[i].get_float()), 0x7FF8000000000000ull);
}

TEST_F(LoadersTest, TuplesPairsPoints) {
    const Case cases[] = {
        {"1.2.3 255.0.0.255", "1.2.3 255.0.0.255"},
        {"256.1.1", "syntax/invalid | (line 1) | tuple! | 256.1.1"},
        {"1.2.3.4.5.6.7.8.9.10.11.12", "1.2.3.4.5.6.7.8.9.10.11.12"},
        {"1.2.3.4.5.6.7.8.9.10.11.12.13", "syntax/invalid | (line 1) | tuple! | 1.2.3.4.5.6.7.8.9.10.11.12.13"},
        {"1.2..3", "syntax/invalid | (line 1) | tuple! | 1.2..3"},
        {"10x20 -1x-2 3X4", "10x20 -1x-2 3x4"},
        {"1.5x2", "syntax/invalid | (line 1) | pair! | 1.5x2"},
        {"(1, 2) ( 1.5 , -2 )", "(1, 2) (1.5, -2)"},
        {"(1,2,3)", "(1, 2, 3)"},
        {"( , 2)", "syntax/invalid | (line 1) | point2D! | ( , 2)"},
        {"(1, 1.#INF)", "(1, inf)"},
    };
    CHECK_CASES(cases);
}

TEST_F(LoadersTest, Times) {
    const Case cases[] = {
        {"1:30", "t:5400"},
        {"1:30.5", "t:90.5"},
        {"-1:30", "t:-5400"},
        {"1:2:3", "t:3723"},
        {"1:2:3.25", "t:3723.25"},
        {"1:75", "t:8100"},
        {"1:2:", "syntax/invalid | (line 1) | time! | 1:2:"},
    };
    CHECK_CASES(cases);
}

TEST_F(LoadersTest, Dates) {
    const Case valid[] = {
        {"2024-01-15", "d:15-Jan-2024"},
        {"15-01-2024", "d:15-Jan-2024"},
        {"15-Jan-2024", "d:15-Jan-2024"},
        {"15/jan/24", "d:15-Jan-2024"},
        {"15-January-2024", "d:15-Jan-2024"},
        {"1-Jan-60", "d:1-Jan-1960"},
        {"24-01-15", "d:24-Jan-2015"},
        {"2024-W03-2", "d:16-Jan-2024"},
        {"2024-W01", "d:1-Jan-2024"},
        {"2024-015", "d:15-Jan-2024"},
        {"2024-060", "d:29-Feb-2024"},
        {"2024-01-15T10:30:00+01:00", "d:15-Jan-2024/10:30:00+01:00"},
        {"20240115T1030Z", "d:15-Jan-2024/10:30:00"},
        {"20240115T103045.5-0230", "d:15-Jan-2024/10:30:45.5-02:30"},
        {"2024-02-29", "d:29-Feb-2024"},
        {"1-1-2000/10:00", "d:1-Jan-2000/10:00:00"},
        {"1-Jan-2000/10:00+2:00", "d:1-Jan-2000/10:00:00+02:00"},
        {"1-Jan-2000/23:30-5:00", "d:1-Jan-2000/23:30:00-05:00"},
        {"1-Jan-2000/0:15-0:30", "d:1-Jan-2000/0:15:00-00:30"},
        {"2024-01-15T10:30+05:45", "d:15-Jan-2024/10:30:00+05:45"},
    };
    CHECK_CASES(valid);
    const char* invalid[] = {"2023-02-29", "2024-13-01", "2024-01-32", "2024-000", "15-Foo-2024",
                             "2024-01-15T24:00", "2024-01-15T10:60", "2024-W03-8",
                             "2024-01-15T10:30+01:60", "2024-01-15T10:30+16:00", "2024-01/15"};
    for (const char* t : invalid)
        EXPECT_EQ(loaded(t), std::string("syntax/invalid | (line 1) | date! | ") + t) << t;
}

TEST_F(LoadersTest, DateZoneMinutesAboveFiftyNineAreInvalid) {
    EXPECT_EQ(loaded("2024-01-15/10:30+01:75"), "syntax/invalid | (line 1) | date! | 2024-01-15/10:30+01:75");
    EXPECT_EQ(loaded("20240115T1030+0199"), "syntax/invalid | (line 1) | date! | 20240115T1030+0199");
}

TEST_F(LoadersTest, Money) {
    const Case valid[] = {
        {"$1'000.50", "m:$1000.50000"},
        {"-$12.5", "m:-$12.50000"},
        {"$0", "m:$0.00000"},
        {"$1.50", "m:$1.50000"},
        {"EUR$3", "m:EUR$3.00000"},
        {"-USD$0012", "m:-USD$12.00000"},
        {"$1.12345", "m:$1.12345"},
        {"$12345678901234567", "m:$12345678901234567.00000"},
    };
    CHECK_CASES(valid);
    // A currency code that is not known is no money.
    EXPECT_EQ(loaded("QQQ$1"), "syntax/invalid | (line 1) | money! | QQQ$1");
    const char* invalid[] = {"$'1", "$1.123456", "$12,5", "$1''0", "AB$1"};
    for (const char* t : invalid)
        EXPECT_EQ(loaded(t), std::string("syntax/invalid | (line 1) | money! | ") + t);
}

TEST_F(LoadersTest, Strings) {
    const Case cases[] = {
        {"\"a^/b\"", "\"a\nb\""},
        {"\"^(41)\" \"^(tab)\" \"^(TAB)\"", "\"A\" \"\t\" \"\t\""},
        {"\"^(1F600)\"", "\"\xF0\x9F\x98\x80\""},
        {"\"^1\" \"^M\" \"^m\"", "\"1\" \"\r\" \"\r\""},
        {"\"^\"\" \"^-\" \"^^\" \"^~\"", "\"\"\" \"\t\" \"^\" \"\x7F\""},
        {"\"\xC3\xA9t\xC3\xA9\"", "\"\xC3\xA9t\xC3\xA9\""},
        {"\"^(1234567)\"", "syntax/invalid | (line 1) | string! | \"^(1234567)\""},
        {"\"^(110000)\"", "syntax/invalid | (line 1) | string! | \"^(110000)\""},
        {"\"^(10FFFF)\"", "\"\xF4\x8F\xBF\xBF\""},
        {"%{a}% %%{a}% b}%%", "\"a\" \"a}% b\""},
        {"%{a^b}%", "\"a^b\""},
        {"%{a}%%", "syntax/invalid | (line 1) | string! | %{a}%%"},
    };
    CHECK_CASES(cases);
}

TEST_F(LoadersTest, StringUnitsFollowTheCharacters) {
    const struct { const char* text; uint32_t unit; } cases[] = {
        {"\"abc\"", 1}, {"\"\xC3\xA9\"", 2}, {"\"^(263A)\"", 2}, {"\"^(1F600)\"", 4},
        {"{\xF0\x9F\x98\x80}", 4}};
    for (const auto& c : cases) {
        collector::Root out;
        lexer::ScanOptions o;
        o.one_value = true;
        lexer::scan(out.get(), c.text, o);
        EXPECT_EQ(memory::buffer_of(cells::series_node(*out))->unit(), c.unit) << c.text;
    }
}

TEST_F(LoadersTest, Chars) {
    const Case cases[] = {
        {"#\"a\" #\"^/\" #\"^(41)\"", "#\"97\" #\"10\" #\"65\""},
        {"#\"\xE2\x98\xBA\"", "#\"9786\""},
        {"#\"\"", "syntax/invalid | (line 1) | char! | #\"\""},
        {"#\"ab\"", "syntax/invalid | (line 1) | char! | #\"ab\""},
        {"#\"^\"", "syntax/invalid | (line 1) | char! | #\"^\""},
        {"#\"^(110000)\"", "syntax/invalid | (line 1) | char! | #\"^(110000)\""},
    };
    CHECK_CASES(cases);
}

TEST_F(LoadersTest, FilesUrlsTagsEmailsRefs) {
    const Case cases[] = {
        {"%a^b", "%a^b"},
        {"%a%20b", "%a b"},
        {"%\"a b\"", "%a b"},
        {"%\"a^/b\"", "%a\nb"},
        {"http://x.com/a%20b", "url:http://x.com/a b"},
        {"a:b", "url:a:b"},
        {"<a href=\"x\">", "<a href=\"x\">"},
        {"user@host.com", "email:user@host.com"},
        {"@name", "@name"},
    };
    CHECK_CASES(cases);
}

TEST_F(LoadersTest, Binaries) {
    const Case cases[] = {
        {"#{0A0b}", "#{0A0B}"},
        {"#{}", "#{}"},
        {"2#{0000000111111111}", "#{01FF}"},
        {"2#{0101}", "syntax/invalid | (line 1) | binary! | }"},
        {"64#{QQ==}", "#{41}"},
        {"64#{QUJD}", "#{414243}"},
        {"64#{QUI=}", "#{4142}"},
        {"8#{00}", "syntax/invalid | (line 1) | binary! | 8#{00}"},
        {"#{0A ; comment\n0B}", "#{0A0B}"},
        {"#{0A0}", "syntax/invalid | (line 1) | binary! | }"},
    };
    CHECK_CASES(cases);
}

TEST_F(LoadersTest, Words) {
    const Case cases[] = {
        {"a b-c a? +", "a b-c a? +"},
        {"a: :a 'a", "a: :a 'a"},
        {"/ /a", "/ /a"},
        {"#abc", "#abc"},
        {"#", "syntax/invalid | (line 1) | issue! | #"},
        {"< > <= >= <>", "< > <= >= <>"},
        {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
    };
    CHECK_CASES(cases);
}

TEST_F(LoadersTest, WordsShareTheirSlotAcrossSpellings) {
    collector::Root out;
    lexer::scan(out.get(), "Print print");
    const Cell* v = memory::buffer_of(cells::series_node(*out))->head_cell();
    EXPECT_EQ(cells::word_context(v[0]), cells::word_context(v[1]));
    EXPECT_EQ(cells::word_index(v[0]), cells::word_index(v[1]));
    EXPECT_NE(cells::word_symbol(v[0]), cells::word_symbol(v[1]));
}

TEST_F(LoadersTest, TextReaders) {
    struct IntCase { const char* text; int32_t value; int32_t error; };
    const IntCase ints[] = {{"42", 42, 0},        {"-2147483648", INT32_MIN, 0}, {"1'000", 1000, 0},
                            {"2147483648", 0, -2}, {"12a", 0, -1},              {"", 0, -1}};
    for (const IntCase& c : ints) {
        int32_t error = 0;
        int32_t v = lexer::scan_integer(reinterpret_cast<const uint8_t*>(c.text), uint32_t(strlen(c.text)), 1, error);
        EXPECT_EQ(error, c.error) << c.text;
        if (!c.error) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
    const uint16_t wide[] = {'1', ',', '5'};
    int32_t error = 0;
    EXPECT_EQ(lexer::scan_float(reinterpret_cast<const uint8_t*>(wide), 3, 2, error), 1.5);
    EXPECT_EQ(error, 0);
    EXPECT_TRUE(std::isnan(lexer::scan_float(reinterpret_cast<const uint8_t*>("1e"), 2, 1, error)));
    EXPECT_EQ(error, -1);
    Cell t{};
    EXPECT_TRUE(lexer::scan_tuple(reinterpret_cast<const uint8_t*>("1.2.3"), 5, 1, t));
    EXPECT_EQ(show(t), "1.2.3");
    EXPECT_FALSE(lexer::scan_tuple(reinterpret_cast<const uint8_t*>("1.300.3"), 7, 1, t));
}

}  // namespace
}  // namespace kov::testing
