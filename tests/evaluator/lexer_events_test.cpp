// The masks that select the lexer's callback events and transcode with its refinements. The
// events themselves, sent to Kov callback functions, run in tests/lang/natives/transcode-trace.kov.
#include <string>
#include <vector>

#include "core/cell.hpp"
#include "datatypes/function.hpp"
#include "datatypes/word.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/transcode.hpp"
#include "tests/evaluator/lexer_fixture.hpp"

namespace kov::testing {
namespace {

class LexerEventsTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        saved_callback = lexer::call_callback;
    }
    void TearDown() override { lexer::call_callback = saved_callback; }
    bool (*saved_callback)(const Cell*, Cell*, int32_t) = nullptr;

    Scanned traced(std::string_view text, uint32_t mask, bool prescan = false) {
        collector::Root fn(cells::make_integer(0));  // stands for the function value
        lexer::ScanOptions o;
        o.callback = fn.get();
        o.mask = mask;
        o.prescan = prescan;
        return scan_text(text, o);
    }
};

TEST_F(LexerEventsTest, MaskFromTheCallbackBody) {
    collector::Root body;
    lexer::scan(body.get(), "open close error");
    EXPECT_EQ(lexer::callback_mask(body.get()), uint32_t(lexer::EV_OPEN | lexer::EV_CLOSE | lexer::EV_ERROR));
    EXPECT_EQ(lexer::callback_mask(nullptr), uint32_t(lexer::EV_ALL));
}

TEST_F(LexerEventsTest, MaskOfACallbackFunction) {
    stack::Snapshot saved;
    collector::Root spec, body, plain;
    lexer::scan(spec.get(), "event input type line token");
    lexer::scan(body.get(), "[load error] true");
    lexer::scan(plain.get(), "true");
    function::push(spec.get(), body.get(), 0, 0, 0, 0);
    EXPECT_EQ(lexer::function_mask(stack::top_value()), uint32_t(lexer::EV_LOAD | lexer::EV_ERROR));
    function::push(spec.get(), plain.get(), 0, 0, 0, 0);
    EXPECT_EQ(lexer::function_mask(stack::top_value()), uint32_t(lexer::EV_ALL));
}

TEST_F(LexerEventsTest, WithoutTheInterpreterACallbackIsNotDone) {
    lexer::call_callback = nullptr;
    EXPECT_EQ(traced("1", lexer::EV_ALL).shown, "internal/not-done");
}

// ---- transcode ----

class TranscodeTest : public RuntimeTest {
protected:
    std::string run(const Cell& src, const transcode::Args& a) {
        stack::Snapshot saved;
        stack::mark_try(nullptr);
        collector::Root s(src);
        collector::Root out;
        try {
            transcode::run(out.get(), s.get(), a);
            return show(*out);
        } catch (const Unwind&) {
            return show_error(stack::top_value());
        }
    }
    Cell binary(std::string_view bytes) {
        Handle node = memory::make_bytes(uint32_t(bytes.size() + 1));
        SeriesBuffer* b = memory::buffer_of(node);
        std::memcpy(b->data() + b->head, bytes.data(), bytes.size());
        b->tail = b->head + uint32_t(bytes.size());
        return cells::make_series(T_BINARY, node);
    }
    Cell text(std::string_view t) {
        collector::Root r;
        string::load(reinterpret_cast<const uint8_t*>(t.data()), uint32_t(t.size()), r.get(), string::ENCODING_UTF8);
        return *r;
    }
};

TEST_F(TranscodeTest, Results) {
    collector::Root src(text("1 [2]"));
    EXPECT_EQ(run(*src, {}), "[1 [2]]");
    transcode::Args one;
    one.one = true;
    EXPECT_EQ(run(text("1 2"), one), "1");
    transcode::Args scan;
    scan.scan = true;
    EXPECT_EQ(run(text("x: 1"), scan), "set-word!");
    EXPECT_EQ(run(text(""), scan), "none");
    transcode::Args prescan;
    prescan.prescan = true;
    EXPECT_EQ(run(text("\"ab"), prescan), "error!");
    EXPECT_EQ(run(binary("\xEF\xBB\xBF" "a b"), {}), "[a b]");
}

TEST_F(TranscodeTest, DatesAndMoneyAreMadeAsValues) {
    struct Case { const char* source; const char* expected; } cases[] = {
        {"1-Jan-2000/10:00+2:00", "[d:1-Jan-2000/10:00:00+02:00]"},
        {"$1.50 EUR$3", "[m:$1.50000 m:EUR$3.00000]"},
        {"[2024-W03-2 -$0.5]", "[[d:16-Jan-2024 m:-$0.50000]]"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(text(c.source), {}), c.expected) << c.source;
        EXPECT_EQ(run(binary(c.source), {}), c.expected) << c.source;
    }
    transcode::Args one;
    one.one = true;
    EXPECT_EQ(run(text("EUR$3"), one), "m:EUR$3.00000");
}

TEST_F(TranscodeTest, NextGivesTheValueAndTheRestOfTheInput) {
    transcode::Args next;
    next.next = true;
    collector::Root src(text("\xC3\xA9t\xC3\xA9 [2] 3"));
    collector::Root out;
    transcode::run(out.get(), src.get(), next);
    SeriesBuffer* b = memory::buffer_of(cells::series_node(*out));
    ASSERT_EQ(b->length(), 2u);
    EXPECT_EQ(show(b->head_cell()[0]), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(cells::series_index(b->head_cell()[1]), 3u);  // characters, not bytes
    collector::Root rest(b->head_cell()[1]);
    transcode::run(out.get(), rest.get(), next);
    b = memory::buffer_of(cells::series_node(*out));
    EXPECT_EQ(show(b->head_cell()[0]), "[2]");
    EXPECT_EQ(cells::series_index(b->head_cell()[1]), 7u);
}

TEST_F(TranscodeTest, PartClampsToTheBytesAvailable) {
    collector::Root src(binary("1 2 3"));
    transcode::Args a;
    collector::Root part(cells::make_integer(3));
    a.part = part.get();
    EXPECT_EQ(run(*src, a), "[1 2]");
    *part = cells::make_integer(1000);
    EXPECT_EQ(run(*src, a), "[1 2 3]");
    *part = cells::make_integer(-5);
    EXPECT_EQ(run(*src, a), "[]");
    // A position in the same binary, and one before the source's head.
    *part = *src;
    cells::set_series_index(*part, 1);
    EXPECT_EQ(run(*src, a), "[1]");
    collector::Root later(*src);
    cells::set_series_index(*later, 2);
    *part = *src;
    EXPECT_EQ(run(*later, a), "[]");
    // A position in another series, or a binary position with a string source.
    *part = binary("1 2");
    EXPECT_EQ(run(*src, a).substr(0, 19), "script/invalid-part");
    *part = *src;
    EXPECT_EQ(run(text("1 2"), a).substr(0, 19), "script/invalid-part");
}

TEST_F(TranscodeTest, IntoAppendsAfterWhatTheBlockHolds) {
    collector::Root into;
    lexer::scan(into.get(), "0");
    transcode::Args a;
    a.into = into.get();
    EXPECT_EQ(run(text("1 2"), a), "[0 1 2]");
}

TEST_F(TranscodeTest, NativeEntryReadsItsFrame) {
    stack::Snapshot saved;
    stack::mark_native(nullptr);
    Cell src = text("1 2");
    stack::push(&src);
    const int32_t refs[7] = {-1, 1, -1, -1, -1, -1, -1};  // /one
    EXPECT_EQ(natives::table[transcode::NATIVE_NUMBER - 1], &transcode::native);
    EXPECT_EQ(transcode::native(refs), Status::normal);
    EXPECT_EQ(show(*stack::arguments), "1");
}

TEST_F(TranscodeTest, FirstValueOfAText) {
    const struct { const char* text; const char* expected; } cases[] = {
        {"12", "12"}, {"1:30", "t:5400"}, {"", "unset"}, {"12 13", "failure"}, {"[a b]", "[a b]"}};
    for (const auto& c : cases) {
        collector::Root src(text(c.text));
        collector::Root out;
        const Cell* r = cell::scan_first_value(src.get(), out.get());
        EXPECT_EQ(r == &cell::scan_failure ? "failure" : show(*r), c.expected) << c.text;
    }
}

// The services that the word datatype's make and to use are the lexer's once it is set up.
TEST_F(TranscodeTest, WordServices) {
    ASSERT_NE(word::lexer.scan_first_value, nullptr);
    ASSERT_NE(word::lexer.scan_type, nullptr);
    const struct { const char* text; const char* expected; } firsts[] = {
        {"abc", "abc"}, {"x:", "x:"}, {"", "unset"}, {"a b", "failure"}, {"12", "12"}};
    for (const auto& c : firsts) {
        collector::Root src(text(c.text));
        collector::Root out;
        bool ok = word::lexer.scan_first_value(src.get(), out.get());
        EXPECT_EQ(ok ? show(*out) : "failure", c.expected) << c.text;
    }
    const struct { const char* text; uint32_t type; } types[] = {
        {"abc", T_WORD}, {"x:", T_SET_WORD}, {":y", T_GET_WORD}, {"'z", T_LIT_WORD},
        {"/r", T_REFINEMENT}, {"123", T_INTEGER}, {"", 0}};
    for (const auto& c : types) {
        auto bytes = reinterpret_cast<const uint8_t*>(c.text);
        EXPECT_EQ(word::lexer.scan_type(bytes, uint32_t(std::strlen(c.text))), c.type) << c.text;
    }
}

}  // namespace
}  // namespace kov::testing
