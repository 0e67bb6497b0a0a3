// Symbols: interning, case aliases, spellings and their decoded caches, table growth.
#include <cstring>
#include <string>
#include <vector>

#include "core/buffer.hpp"
#include "core/collector.hpp"
#include "core/hashtable.hpp"
#include "core/memory.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/string.hpp"
#include "words_fixture.hpp"

namespace kov {
namespace {

using testing::WordsTest;

class Symbol : public WordsTest {};

TEST_F(Symbol, InterningGivesOneIdPerSpelling) {
    uint32_t n0 = symbol::count();
    uint32_t print = symbol::make("print");
    EXPECT_EQ(symbol::make("print"), print);
    EXPECT_EQ(symbol::count(), n0 + 1);
    EXPECT_EQ(print, n0 + 1);  // ids are 1-based places in the symbol block
    EXPECT_EQ(symbol::alias(print), -1);
    EXPECT_EQ(symbol::resolve(print), print);

    struct Case {
        const char* a;
        const char* b;
        bool same_id, same_word;
    };
    const Case cases[] = {
        {"word", "word", true, true},
        {"word", "Word", false, true},
        {"word", "WORD", false, true},
        {"word", "words", false, false},          // a prefix is another symbol
        {"wor", "word", false, false},
        {"", "", true, true},                      // the empty spelling is a symbol too
        {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", false, false},  // été / ÉTÉ: non-ASCII letters do not fold
        {"a-b?", "A-B?", false, true},
        {"x@1", "X@1", false, true},
    };
    for (const Case& c : cases) {
        uint32_t a = symbol::make(c.a), b = symbol::make(c.b);
        EXPECT_EQ(a == b, c.same_id) << c.a << " / " << c.b;
        EXPECT_EQ(symbol::resolve(a) == symbol::resolve(b), c.same_word) << c.a << " / " << c.b;
        EXPECT_EQ(symbol::name(b), c.b);
    }
}

TEST_F(Symbol, CaseVariantsAliasTheCanonicalSymbolWhateverTheHistory) {
    // Spellings met in various orders, with the table growing between them: every variant's
    // alias is the first spelling's id, and interning any spelling again answers its own id.
    const std::vector<std::vector<const char*>> orders = {
        {"print", "Print", "PRINT"},
        {"Value", "VALUE", "value", "vALUE"},
        {"ABC", "abc", "Abc", "aBC", "abC"},
    };
    for (size_t k = 0; k < orders.size(); k++) {
        const auto& spellings = orders[k];
        std::vector<uint32_t> ids;
        for (size_t i = 0; i < spellings.size(); i++) {
            ids.push_back(symbol::make(spellings[i]));
            // Fill the table between spellings so that its buckets are rearranged.
            for (int j = 0; j < 3000; j++) symbol::make("filler-" + std::to_string(k) + "-" + std::to_string(i) + "-" + std::to_string(j));
        }
        uint32_t canonical = ids[0];
        EXPECT_EQ(symbol::alias(canonical), -1);
        for (size_t i = 1; i < ids.size(); i++) {
            EXPECT_NE(ids[i], canonical);
            EXPECT_EQ(symbol::alias(ids[i]), int32_t(canonical)) << spellings[i];
            EXPECT_EQ(symbol::resolve(ids[i]), canonical) << spellings[i];
        }
        for (size_t i = 0; i < ids.size(); i++) EXPECT_EQ(symbol::make(spellings[i]), ids[i]);
    }
}

TEST_F(Symbol, AliasIsCanonicalEvenWhenAVariantComesFirstOnTheProbePath) {
    // A spelling whose home is the last bucket: its first variant wraps round to bucket 0, and
    // the growth re-places bucket 0 first, so the variant then precedes the canonical symbol on
    // the probe path of the next variant.
    uint32_t mask = uint32_t(hashtable::record(symbol::table)->buckets) - 1;
    std::string base;
    for (int n = 0; base.empty(); n++) {
        std::string s = "qz" + std::to_string(n);
        if ((hashtable::murmur3_lower(s.data(), s.size()) & mask) == mask) base = s;
    }
    std::string v1 = base, v2 = base, v3 = base;
    v2[0] = 'Q';
    v3[0] = 'Q';
    v3[1] = 'Z';
    uint32_t canonical = symbol::make(base);
    uint32_t first_variant = symbol::make(v2);
    for (int i = 0; hashtable::record(symbol::table)->buckets == int32_t(mask + 1); i++)
        symbol::make("grow-" + std::to_string(i));
    uint32_t second_variant = symbol::make(v3);
    EXPECT_EQ(symbol::alias(first_variant), int32_t(canonical));
    EXPECT_EQ(symbol::alias(second_variant), int32_t(canonical));
    EXPECT_EQ(symbol::resolve(second_variant), canonical);
    EXPECT_EQ(symbol::make(v1), canonical);
}

TEST_F(Symbol, AnyCaseInterningReusesAnExistingSpelling) {
    uint32_t print = symbol::make("print");
    uint32_t n = symbol::count();
    EXPECT_EQ(symbol::make_any_case("PRINT"), print);
    EXPECT_EQ(symbol::make_any_case("Print"), print);
    EXPECT_EQ(symbol::count(), n);
    uint32_t fresh = symbol::make_any_case("Fresh-One");
    EXPECT_EQ(symbol::count(), n + 1);
    EXPECT_EQ(symbol::alias(fresh), -1);
    EXPECT_EQ(symbol::make_any_case("fresh-one"), fresh);
    EXPECT_EQ(symbol::find("FRESH-ONE"), 0u);
    EXPECT_EQ(symbol::find("FRESH-ONE", true), fresh);
    EXPECT_EQ(symbol::find("Fresh-One"), fresh);
}

TEST_F(Symbol, TableGrowsThirtyTwoFoldAndKeepsEveryId) {
    hashtable::Record* r = hashtable::record(symbol::table);
    ASSERT_EQ(r->buckets, 16384);
    ASSERT_EQ(r->upper_bound, 12615);
    std::vector<uint32_t> ids;
    int i = 0;
    while (hashtable::record(symbol::table)->buckets == 16384) {
        ids.push_back(symbol::make("sym" + std::to_string(i++)));
        ASSERT_LT(i, 20000);
    }
    r = hashtable::record(symbol::table);
    EXPECT_EQ(r->buckets, 524288);
    EXPECT_EQ(r->upper_bound, 403702);
    EXPECT_EQ(r->occupied, r->live);
    EXPECT_EQ(uint32_t(r->live), symbol::count());
    for (int k = 0; k < i; k++) {
        std::string s = "sym" + std::to_string(k);
        ASSERT_EQ(symbol::make(s), ids[size_t(k)]);
        ASSERT_EQ(symbol::name(ids[size_t(k)]), s);
    }
    uint32_t variant = symbol::make("SYM7");
    EXPECT_EQ(variant, symbol::count());
    EXPECT_EQ(symbol::resolve(variant), ids[7]);
}

TEST_F(Symbol, SpellingsAndCachesDecodeIntoTheNarrowestUnit) {
    struct Case {
        const char* utf8;
        uint32_t unit;
        std::vector<uint32_t> code_points;
    };
    const Case cases[] = {
        {"abc", 1, {'a', 'b', 'c'}},
        {"caf\xC3\xA9", 1, {'c', 'a', 'f', 0xE9}},
        {"\xE2\x82\xAC" "5", 2, {0x20AC, '5'}},
        {"\xF0\x9D\x84\x9E!", 4, {0x1D11E, '!'}},
        {"", 1, {}},
        {"bad\xFFz", 1, {'b', 'a', 'd', 0xFF, 'z'}},  // a byte that starts no sequence stands for itself
    };
    for (const Case& c : cases) {
        uint32_t id = symbol::make(c.utf8);
        EXPECT_STREQ(symbol::spelling_c_string(id), c.utf8);
        EXPECT_EQ(symbol::spelling(id), std::string_view(c.utf8));
        Cell* s = symbol::get(id);
        ASSERT_NE(s->data2, 0u);
        SeriesBuffer* b = memory::buffer_of(s->data2);
        EXPECT_EQ(b->unit(), c.unit) << c.utf8;
        ASSERT_EQ(b->used() / c.unit, c.code_points.size()) << c.utf8;
        for (size_t i = 0; i < c.code_points.size(); i++) {
            uint32_t cp = 0;
            std::memcpy(&cp, b->head_ptr() + i * c.unit, c.unit);
            EXPECT_EQ(cp, c.code_points[i]) << c.utf8 << " at " << i;
        }
        Handle cache = s->data2;
        EXPECT_EQ(symbol::ensure_cache(id), cache);  // made once
    }
}

TEST_F(Symbol, SpellingBytesEndWithANulPastTheTail) {
    uint32_t id = symbol::make("sixteen-bytes-xx");  // fills its 16-byte data area to the end
    Cell* s = symbol::cell(id);
    SeriesBuffer* b = memory::buffer_of(s->data3);
    EXPECT_EQ(b->used(), 16u);
    EXPECT_STREQ(symbol::spelling_c_string(id), "sixteen-bytes-xx");
    b = memory::buffer_of(symbol::cell(id)->data3);
    EXPECT_EQ(b->used(), 16u);
    EXPECT_EQ(b->head_ptr()[16], 0);
}

TEST_F(Symbol, MakeFromBytesAndStrings) {
    const uint8_t bytes[] = {'h', 'e', 'l', 'l', 'o', '!', '!'};
    uint32_t hello = symbol::make_from_bytes(bytes, 5);
    EXPECT_EQ(symbol::name(hello), "hello");
    EXPECT_EQ(symbol::make("hello"), hello);
    Cell str;
    string::make_at(&str, 8);
    collector::Root keep(str);
    string::concatenate_cstring(keep.get(), "Hello world");
    EXPECT_EQ(symbol::make_from_string(keep.get(), 5), symbol::make("Hello"));
    EXPECT_EQ(symbol::resolve(symbol::make_from_string(keep.get(), 5)), hello);
    EXPECT_EQ(symbol::name(symbol::make_from_string(keep.get())), "Hello world");
    // Spelling bytes taken from inside a series buffer survive the allocations of interning.
    Handle node = memory::make_bytes(64);
    collector::RootNode hold(node);
    buffer::append_bytes(node, "inside-a-buffer", 15);
    uint32_t id = symbol::make_from_bytes(memory::buffer_of(node)->head_ptr(), 15);
    EXPECT_EQ(symbol::name(id), "inside-a-buffer");
}

TEST_F(Symbol, AnyTypeTest) {
    // The start-up interns any-type! among the runtime's own symbols.
    Cell w{T_WORD, 0, symbol::make("Any-Type!"), 0xFFFFFFFF};
    EXPECT_TRUE(symbol::is_any_type_q(&w));
    Cell a{T_WORD, 0, symbol::make("any-type!"), 0};
    Cell b{T_WORD, 0, symbol::make("any-value!"), 0};
    EXPECT_TRUE(symbol::is_any_type_q(&a));
    EXPECT_FALSE(symbol::is_any_type_q(&b));
}

TEST_F(Symbol, CompareOrdersSpellings) {
    uint32_t ids[] = {symbol::make("apple"), symbol::make("Apple"), symbol::make("banana")};
    Cell a = *symbol::cell(ids[0]), A = *symbol::cell(ids[1]), b = *symbol::cell(ids[2]);
    EXPECT_EQ(symbol::compare(&a, &A, COMP_EQUAL), 0);
    EXPECT_NE(symbol::compare(&a, &A, COMP_STRICT_EQUAL), 0);
    EXPECT_EQ(symbol::compare(&a, &b, COMP_LESSER), -1);
    EXPECT_EQ(symbol::compare(&b, &A, COMP_SORT), 1);
    Cell i{T_INTEGER, 0, 1, 0};
    EXPECT_EQ(symbol::compare(&a, &i, COMP_EQUAL), NOT_COMPARABLE);
}

TEST_F(Symbol, DatatypesRegisterAndGetTheirNameWords) {
    symbol::init();
    context::init();
    EXPECT_STREQ(type_registry::names[T_SYMBOL].name, "symbol!");
    EXPECT_STREQ(type_registry::names[T_CONTEXT].name, "context!");
    EXPECT_TRUE(type_registry::supports(T_SYMBOL, A_COMPARE));
    EXPECT_FALSE(type_registry::supports(T_SYMBOL, A_MAKE));
    EXPECT_FALSE(type_registry::supports(T_CONTEXT, A_COMPARE));
    // With the symbol table up, names registered from now on, and all of them on request, get
    // their words in the global context.
    Cell& w = type_registry::names[T_SYMBOL].word;
    EXPECT_TRUE(w.is(T_WORD));
    EXPECT_EQ(w.data1, context::global);
    EXPECT_EQ(symbol::name(w.data2), "symbol!");
    type_registry::intern_names();
    Cell& none = type_registry::names[T_NONE].word;
    EXPECT_TRUE(none.is(T_WORD));
    EXPECT_EQ(symbol::name(none.data2), "none!");
}

TEST_F(Symbol, SymbolsSurviveCollections) {
    // Garbage between the symbols' buffers, so that compaction moves them.
    std::vector<uint32_t> ids;
    for (int i = 0; i < 500; i++) {
        memory::make_bytes(100);
        ids.push_back(symbol::make("kept-" + std::to_string(i)));
    }
    symbol::get(ids[3]);  // with a cache
    collector::collect();
    collector::collect();
    for (int i = 0; i < 500; i++) {
        ASSERT_EQ(symbol::name(ids[size_t(i)]), "kept-" + std::to_string(i));
        ASSERT_EQ(symbol::make("kept-" + std::to_string(i)), ids[size_t(i)]);
    }
    EXPECT_EQ(memory::buffer_of(symbol::cell(ids[3])->data2)->used(), 6u);
}

}  // namespace
}  // namespace kov
