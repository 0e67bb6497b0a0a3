// url! and file!: molding (percent-encoding, quoted files) and reading the molded text back with
// the lexer, percent-decoding and -encoding, url composition from blocks, path joining, local
// paths and the current directory, the I/O actions through the I/O services, and the tables of
// the two registrations.
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "core/cells.hpp"
#include "core/context.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"
#include "core/type_registry.hpp"
#include "datatypes/block.hpp"
#include "datatypes/file.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/word.hpp"
#include "tests/datatypes/literal_fixture.hpp"

namespace kov {
namespace {

using collector::Root;
using testing::error_name;
using testing::fresh_text;
using testing::load_one;
using testing::molded;
using testing::raised;
using testing::text_of;

class FileUrl : public testing::RuntimeTest {};

std::string u32_to_utf8(const std::u32string& s) {
    std::string out;
    for (char32_t c : s) {
        uint8_t b[4];
        int n = unicode::encode_utf8(uint32_t(c), b);
        out.append(reinterpret_cast<char*>(b), size_t(n));
    }
    return out;
}

std::string decoded(std::string_view in) {
    std::u32string out;
    url::decode_bytes(reinterpret_cast<const uint8_t*>(in.data()), in.size(), out);
    return u32_to_utf8(out);
}

// A block! on the argument stack of the values that the lexer reads from the text.
Cell* block_of(std::string_view text) {
    Cell* b = stack::push(&none_value);
    lexer::scan(b, text);
    return b;
}

// ---------------------------------------------------------------------------------------------
// Molding.

TEST_F(FileUrl, FileMoldIsPlainOrQuoted) {
    struct Row {
        std::string in, out;
    };
    const std::vector<Row> rows = {
        {"a/b.txt", "%a/b.txt"},
        {"", "%\"\""},
        {"a b", "%\"a b\""},
        {"\xc3\xa9t\xc3\xa9", "%\xc3\xa9t\xc3\xa9"},
        {"/c/dir/", "%/c/dir/"},
        {"100%", "%\"100%\""},
        {"a;b", "%\"a;b\""},
        {"a[1]", "%\"a[1]\""},
        {"x<y>", "%\"x<y>\""},
        {"a\\b", "%\"a\\b\""},
        {"{x}", "%\"{x}\""},
        {"a|b`c", "%\"a|b`c\""},
        // Inside the quotes, the characters the loader would read as escapes are escaped.
        {"say \"hi\"", "%\"say ^(22)hi^(22)\""},
        {"f(1).txt", "%\"f(1).txt\""},
        {"a:b", "%\"a:b\""},
        {"me@h", "%\"me@h\""},
        {"a,b!$&'*+=?~#", "%a,b!$&'*+=?~#"},
        {"a^b", "%\"a^^b\""},
        {"a\tb\n", "%\"a^-b^/\""},
        {"\x1e", "%\"^(1E)\""},
    };
    for (const Row& r : rows) {
        stack::Snapshot keep;
        EXPECT_EQ(molded(text_of(T_FILE, r.in)), r.out) << r.in;
    }
}

TEST_F(FileUrl, FileMoldPartCutsTheTextAndCountsThePercent) {
    Cell* f = text_of(T_FILE, "abc def");
    struct Row {
        int32_t limit;
        std::string out;
        int32_t left;
    };
    const Row rows[] = {{3, "%abc", -1}, {5, "%\"abc d\"", -1}, {100, "%\"abc def\"", 92},
                        {-4, "%", -5}, {0, "%", -1}};
    for (const Row& r : rows) {
        stack::Snapshot keep;
        Cell* out = fresh_text();
        EXPECT_EQ(file::mold(f, out, false, false, false, true, r.limit, 0), r.left) << r.limit;
        EXPECT_EQ(string::to_utf8(out), r.out) << r.limit;
    }
}

TEST_F(FileUrl, UrlMoldEncodesWhatUrlsEscape) {
    struct Row {
        std::string in, out;
    };
    const std::vector<Row> rows = {
        {"http://a.com/a b", "http://a.com/a%20b"},
        {"http://a.com/\xc3\xa9", "http://a.com/%C3%A9"},
        {"http://h/p?q=1&r=2#f", "http://h/p?q=1&r=2#f"},
        {"ftp://u@h:21/~x_y-z.!$'*+,", "ftp://u@h:21/~x_y-z.!$'*+,"},
        {"http://h/f(1)", "http://h/f%281%29"},
        {"a:%;<>[\\]^`{|}\"", "a:%25%3B%3C%3E%5B%5C%5D%5E%60%7B%7C%7D%22"},
        {"a:\x7f\x01", "a:%7F%01"},
    };
    for (const Row& r : rows) {
        stack::Snapshot keep;
        EXPECT_EQ(molded(text_of(T_URL, r.in)), r.out) << r.in;
    }
}

TEST_F(FileUrl, UrlMoldPartStopsOnceTheLimitIsReached) {
    Cell* u = text_of(T_URL, "a:b c");
    struct Row {
        int32_t limit;
        std::string out;
        int32_t left;
    };
    // An escape is written whole even when it passes the limit.
    const Row rows[] = {{2, "a:", 0}, {4, "a:b%20", -2}, {3, "a:b", 0}, {0, "", 0}, {50, "a:b%20c", 43}};
    for (const Row& r : rows) {
        stack::Snapshot keep;
        Cell* out = fresh_text();
        EXPECT_EQ(url::mold(u, out, false, false, false, true, r.limit, 0), r.left) << r.limit;
        EXPECT_EQ(string::to_utf8(out), r.out) << r.limit;
    }
}

// What is molded reads back as the same value.
TEST_F(FileUrl, MoldedFilesAndUrlsLoadBack) {
    struct Row {
        uint32_t type;
        std::string text;
    };
    const std::vector<Row> rows = {
        {T_FILE, "a/b.txt"},        {T_FILE, "a b"},          {T_FILE, "say \"hi\""},
        {T_FILE, "100%"},           {T_FILE, "a%20b"},        {T_FILE, "a^b"},
        {T_FILE, "t\tn\n"},         {T_FILE, "\xc3\xa9t\xc3\xa9"}, {T_FILE, ""},
        {T_FILE, "a;b[c]{d}"},      {T_FILE, "/"},            {T_FILE, "\x1e\x1f"},
        {T_FILE, "x<y>"},           {T_FILE, "a\\b|c`"},  {T_FILE, "a(b)"}, {T_FILE, "a\x7f"}, {T_FILE, "a@b:c"}, {T_FILE, "a,b"}, {T_FILE, "'x'#1"},      {T_FILE, "\xe2\x98\xba \xf0\x9f\x98\x80"},
        {T_URL, "http://a.com/a b"}, {T_URL, "http://a.com/\xc3\xa9"},
        {T_URL, "http://h/p?q=1&r=2#f"}, {T_URL, "ftp://h/100%"}, {T_URL, "a:\"[x]\""},
        {T_URL, "mailto:x;y"}, {T_URL, "http://h/(a)b"}, {T_URL, "http://u@h:1/!$&'*+,=?#~"},       {T_URL, "http://h/\xf0\x9f\x98\x80"},
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

// ---------------------------------------------------------------------------------------------
// Percent-decoding and -encoding.

TEST_F(FileUrl, DecodeKeepsMalformedEscapesAsText) {
    struct Row {
        std::string in, out;
    };
    const std::vector<Row> rows = {
        {"%41%42", "AB"},
        {"%C3%A9", "\xc3\xa9"},
        {"%c3%a9", "\xc3\xa9"},
        {"%C3x", "%C3x"},
        {"100%", "100%"},
        {"%4", "%4"},
        {"%%41", "%A"},
        {"%G1", "%G1"},
        {"a%20b", "a b"},
        {"%A9", "\xc2\xa9"},               // a lone continuation byte is its own code point
        {"%E2%98%BA", "\xe2\x98\xba"},
        // An escaped lead byte without all its followers leaves its "%" as text; an escaped
        // continuation byte after it is a code point of its own.
        {"%E2%98", "%E2\xc2\x98"},
        {"%E2%98x", "%E2\xc2\x98x"},
        {"%E2x", "%E2x"},
        {"%F0%9F%98%80", "\xf0\x9f\x98\x80"},
        {"%C3%28", "%C3("},                // a lead byte with a bad follower stays text
        {"\xc3\xa9%20", "\xc3\xa9 "},
        {"", ""},
    };
    for (const Row& r : rows) EXPECT_EQ(decoded(r.in), r.out) << r.in;
}

TEST_F(FileUrl, DecodeOfTextValue) {
    Cell* in = text_of(T_STRING, "a%20%C3%A9");
    Cell* out = fresh_text();
    url::decode(in, out);
    EXPECT_EQ(string::to_utf8(out), "a \xc3\xa9");
}

TEST_F(FileUrl, EncodeInBothModes) {
    struct Row {
        std::string in;
        int mode;
        std::string out;
    };
    const std::vector<Row> rows = {
        {"a b/c", url::ENCODE_STRICT, "a%20b%2Fc"},
        {"a b/c", url::ENCODE_URL, "a%20b/c"},
        {"-._~", url::ENCODE_STRICT, "-._~"},
        {"!:@", url::ENCODE_STRICT, "%21%3A%40"},
        {"\xc3\xa9", url::ENCODE_URL, "%C3%A9"},
        {"%", url::ENCODE_URL, "%25"},
    };
    for (const Row& r : rows) {
        stack::Snapshot keep;
        EXPECT_EQ(url::encode(text_of(T_STRING, r.in), r.mode), r.out) << r.in;
    }
    Cell* out = fresh_text();
    url::encode_into(text_of(T_STRING, "x y"), out, url::ENCODE_URL);
    EXPECT_EQ(string::to_utf8(out), "x%20y");
}

TEST_F(FileUrl, EncodeByteCounts) {
    int count = 0;
    EXPECT_STREQ(url::encode_byte(url::ENCODE_URL, '/', count), "/");
    EXPECT_EQ(count, 1);
    EXPECT_STREQ(url::encode_byte(url::ENCODE_STRICT, '/', count), "%2F");
    EXPECT_EQ(count, 3);
    EXPECT_STREQ(url::encode_byte(url::ENCODE_URL, 0xFF, count), "%FF");
    EXPECT_EQ(count, 3);
}

TEST_F(FileUrl, LexerDecodesUrlAndFileTokens) {
    struct Row {
        std::string in;
        uint32_t type;
        std::string text;
    };
    const std::vector<Row> rows = {
        {"http://h/a%20b", T_URL, "http://h/a b"},
        {"http://h/%C3x", T_URL, "http://h/%C3x"},
        {"http://h/%A9", T_URL, "http://h/\xc2\xa9"},
        {"%a%C3%A9", T_FILE, "a\xc3\xa9"},
        {"%\"a%20b\"", T_FILE, "a%20b"},
    };
    for (const Row& r : rows) {
        stack::Snapshot keep;
        Root v;
        ASSERT_TRUE(load_one(r.in, v.get())) << r.in;
        EXPECT_EQ(v->type(), r.type) << r.in;
        EXPECT_EQ(string::to_utf8(v.get()), r.text) << r.in;
    }
}

// ---------------------------------------------------------------------------------------------
// Composition and conversion.

TEST_F(FileUrl, ToUrlComposesFromBlocks) {
    struct Row {
        std::string block, out;
    };
    const std::vector<Row> rows = {
        {"[ftp srv 8080 a b]", "ftp://srv:8080/a/b"},
        {"[ftp srv]", "ftp://srv"},
        {"[ftp srv a #frag]", "ftp://srv/a#frag"},
        {"[ftp]", "ftp://"},
        {"[http srv 80]", "http://srv:80"},
        {"[http srv a 80]", "http://srv/a/80"},
        {"[http \"h.com\" \"x y\" %f.txt]", "http://h.com/x y/f.txt"},
    };
    for (const Row& r : rows) {
        stack::Snapshot keep;
        Root b;
        ASSERT_TRUE(load_one(r.block, b.get()));
        Cell* spec = stack::push(b.get());
        Cell* result = url::to(nullptr, spec, T_URL);
        EXPECT_EQ(result->type(), T_URL) << r.block;
        EXPECT_EQ(string::to_utf8(result), r.out) << r.block;
        Cell* made = url::make(nullptr, spec, T_URL);
        EXPECT_EQ(string::to_utf8(made), r.out) << r.block;
    }
}

// A one-element block ends after the scheme, even when the block's buffer holds more values
// after its tail or the block is a position inside a longer series.
TEST_F(FileUrl, ComposeReadsOnlyTheBlocksValues) {
    Cell* b = block_of("x y [ftp]");
    Cell* inner = stack::push(memory::buffer_of(b->data2)->head_cell() + 2);
    EXPECT_EQ(string::to_utf8(url::to(nullptr, inner, T_URL)), "ftp://");
    Cell* tail_part = stack::push(b);
    tail_part->data1 = 1;  // [y [ftp]]
    EXPECT_EQ(string::to_utf8(url::to(nullptr, tail_part, T_URL)), "y://ftp");
}

TEST_F(FileUrl, ComposeFromEmptyBlockRaises) {
    Cell* b = block_of("");
    uint32_t code = raised([&] { url::to(nullptr, b, T_URL); });
    EXPECT_EQ(error_name(code), "script/bad-to-arg");
    Cell* at_tail = block_of("a");
    at_tail->data1 = 1;
    code = raised([&] { url::to(nullptr, at_tail, T_URL); });
    EXPECT_EQ(error_name(code), "script/bad-to-arg");
}

TEST_F(FileUrl, ToFileOfBlockJoinsWithoutSeparators) {
    Root b;
    ASSERT_TRUE(load_one("[a b 1]", b.get()));
    Cell* spec = stack::push(b.get());
    Cell* result = type_registry::table(T_FILE).to(nullptr, spec, T_FILE);
    EXPECT_EQ(result->type(), T_FILE);
    EXPECT_EQ(string::to_utf8(result), "ab1");
}

TEST_F(FileUrl, ToUrlOfTextCopiesIt) {
    Cell* s = text_of(T_STRING, "http://x");
    Cell* result = url::to(nullptr, s, T_URL);
    EXPECT_EQ(result->type(), T_URL);
    EXPECT_EQ(string::to_utf8(result), "http://x");
}

// ---------------------------------------------------------------------------------------------
// Paths.

Cell* join(const Cell* base_in, const Cell* element_in) {
    Cell* base = stack::push(base_in);
    Cell* element = stack::push(element_in);
    PathStep step{base, element, nullptr, nullptr, nullptr, nullptr, nullptr, 1, false, true, false};
    return type_registry::table(base->type()).eval_path(step);
}

TEST_F(FileUrl, PathElementsJoinWithOneSlash) {
    struct Row {
        uint32_t type;
        std::string base, element_source, out;
    };
    const std::vector<Row> rows = {
        {T_URL, "ftp://srv/", "x", "ftp://srv/x"},
        {T_URL, "ftp://srv", "x", "ftp://srv/x"},
        {T_URL, "ftp://srv/", "%/x", "ftp://srv/x"},
        {T_URL, "ftp://srv", "%/x", "ftp://srv/x"},
        {T_FILE, "dir", "f", "dir/f"},
        {T_FILE, "dir/", "f", "dir/f"},
        {T_FILE, "dir", "1", "dir/1"},
        {T_FILE, "dir", "\"a b\"", "dir/a b"},
        {T_FILE, "", "f", "/f"},
    };
    for (const Row& r : rows) {
        stack::Snapshot keep;
        Cell* base = text_of(r.type, r.base);
        Root element;
        ASSERT_TRUE(load_one(r.element_source, element.get()));
        Cell* result = join(base, element.get());
        EXPECT_EQ(result->type(), r.type) << r.base;
        EXPECT_EQ(string::to_utf8(result), r.out) << r.base << " " << r.element_source;
        EXPECT_EQ(string::to_utf8(base), r.base);  // the base value is not changed
    }
}

TEST_F(FileUrl, PathKeepsTheUnitOfTheBase) {
    Cell* base = text_of(T_FILE, "\xd0\x96");
    Root element;
    ASSERT_TRUE(load_one("a", element.get()));
    Cell* result = join(base, element.get());
    EXPECT_EQ(memory::buffer_of(result->data2)->unit(), 2u);
    EXPECT_EQ(string::to_utf8(result), "\xd0\x96/a");
}

TEST_F(FileUrl, PathFromTheHeadOfTheBase) {
    Cell* base = text_of(T_FILE, "a/b");
    base->data1 = 2;
    Root element;
    ASSERT_TRUE(load_one("c", element.get()));
    EXPECT_EQ(string::to_utf8(join(base, element.get())), "b/c");
}

TEST_F(FileUrl, GetWordElementUsesItsValue) {
    Root element;
    ASSERT_TRUE(load_one(":name", element.get()));
    Cell* value = text_of(T_STRING, "readme.txt");
    Root w(*word::load("name"));
    context::set_in(w.get(), value, w->data1, false);
    Cell* result = join(text_of(T_FILE, "docs"), element.get());
    EXPECT_EQ(string::to_utf8(result), "docs/readme.txt");
}

TEST_F(FileUrl, SettingThroughAPathRaises) {
    Cell* base = text_of(T_URL, "http://h");
    Root element;
    ASSERT_TRUE(load_one("x", element.get()));
    Cell* v = text_of(T_STRING, "y");
    PathStep step{base, element.get(), v, nullptr, nullptr, nullptr, nullptr, 1, false, true, false};
    uint32_t code = raised([&] { url::eval_path(step); });
    EXPECT_EQ(error_name(code), "script/bad-path-set");
}

// ---------------------------------------------------------------------------------------------
// Local paths.

TEST_F(FileUrl, LocalFormIsThePosixPath) {
    struct Row {
        std::string in;
        bool full;
        std::string out;
    };
    std::string cwd = file::current_dir();
    const std::vector<Row> rows = {
        {"/c/Windows", false, "/c/Windows"},
        {"/", false, "/"},
        {"//x", false, "//x"},
        {"dir/f", false, "dir/f"},
        {"dir/f", true, cwd + "dir/f"},
        {"/abs/f", true, "/abs/f"},
        {"", true, cwd},
        {"\xc3\xa9", false, "\xc3\xa9"},
    };
    for (const Row& r : rows) {
        stack::Snapshot keep;
        Cell* out = fresh_text();
        file::to_local(text_of(T_FILE, r.in), out, r.full);
        EXPECT_EQ(string::to_utf8(out), r.out) << r.in;
    }
    EXPECT_EQ(file::to_os_path(text_of(T_FILE, "a b/\xc3\xa9")), "a b/\xc3\xa9");
}

TEST_F(FileUrl, CurrentDirEndsWithSlash) {
    std::string dir = file::current_dir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.front(), '/');
    EXPECT_EQ(dir.back(), '/');
    char buf[4096];
    ASSERT_NE(::getcwd(buf, sizeof buf), nullptr);
    std::string expect(buf);
    if (expect.back() != '/') expect += '/';
    EXPECT_EQ(dir, expect);
    Root out;
    file::get_current_dir(out.get());
    EXPECT_EQ(out->type(), T_STRING);
    EXPECT_EQ(string::to_utf8(out.get()), dir);
}

// ---------------------------------------------------------------------------------------------
// I/O through the services.

class FileUrlIo : public FileUrl {
protected:
    // Start-up fills the file services; these cases put their own in place.
    void SetUp() override {
        FileUrl::SetUp();
        io::services = {};
    }
    void TearDown() override { io::services = {}; }
};

TEST_F(FileUrlIo, WithoutServicesTheActionsAreNotDone) {
    Cell* f = text_of(T_FILE, "x.txt");
    Cell* u = text_of(T_URL, "http://h/");
    Cell* other = text_of(T_URL, "ftp://h/");
    Cell* f_data = text_of(T_STRING, "d");
    const std::vector<std::pair<const char*, std::function<void()>>> calls = {
        {"delete", [&] { file::delete_(f); }},
        {"query", [&] { file::query(f); }},
        {"rename", [&] { file::rename(f, f); }},
        {"read", [&] { file::read(f, nullptr, nullptr, false, false, false, nullptr); }},
        {"write", [&] { file::write(f, f, false, false, false, false, nullptr, nullptr, nullptr, nullptr); }},
        {"url read", [&] { url::read(u, nullptr, nullptr, false, false, false, nullptr); }},
        {"url write", [&] { url::write(u, f_data, false, false, false, false, nullptr, nullptr, nullptr, nullptr); }},
        {"port read", [&] { url::read(other, nullptr, nullptr, false, false, false, nullptr); }},
        {"open", [&] { url::open(u, false, false, false, false, nullptr); }},
    };
    for (const auto& [name, call] : calls) {
        stack::Snapshot keep;
        EXPECT_EQ(error_name(raised(call)), "internal/not-done") << name;
    }
}

struct Seen {
    std::string file, method, data, headers;
    bool binary = false, lines = false, info = false, append = false;
    int calls = 0;
};
Seen seen;

TEST_F(FileUrlIo, FileActionsHandTheFileToTheServices) {
    seen = {};
    io::services.remove = [](const Cell* f) {
        seen.file = string::to_utf8(f);
        return true;
    };
    io::services.rename = [](const Cell* a, const Cell* b) {
        seen.file = string::to_utf8(a) + ">" + string::to_utf8(b);
        return false;
    };
    io::services.query = [](const Cell* f, Cell* out) {
        seen.file = string::to_utf8(f);
        *out = cells::make_integer(7);
    };
    io::services.read = [](const Cell* f, const Cell*, const Cell*, bool binary, bool lines,
                           Cell* out) {
        seen.file = string::to_utf8(f);
        seen.binary = binary;
        seen.lines = lines;
        string::ks_make_at(out, 4);
        string::concatenate_cstring(out, "data");
    };
    io::services.write = [](const Cell* f, const Cell* data, const Cell*, const Cell*, bool,
                            bool append, bool) {
        seen.file = string::to_utf8(f);
        seen.data = string::to_utf8(data);
        seen.append = append;
    };
    Cell* f = text_of(T_FILE, "a b.txt");
    EXPECT_TRUE(cells::logic(*file::delete_(f)));
    EXPECT_EQ(seen.file, "a b.txt");
    EXPECT_FALSE(cells::logic(*file::rename(f, text_of(T_FILE, "c"))));
    EXPECT_EQ(seen.file, "a b.txt>c");
    EXPECT_EQ(cells::integer(*file::query(f)), 7);
    Cell* r = file::read(f, nullptr, nullptr, true, false, true, nullptr);
    EXPECT_EQ(string::to_utf8(r), "data");
    EXPECT_TRUE(seen.binary);
    file::write(f, text_of(T_STRING, "hello"), false, false, true, true, nullptr, nullptr, nullptr,
                nullptr);
    EXPECT_EQ(seen.data, "hello");
    EXPECT_TRUE(seen.append);
    // /as and /allow are refused before any I/O.
    seen.calls = 0;
    Cell* as = text_of(T_STRING, "x");
    EXPECT_EQ(error_name(raised([&] { file::read(f, nullptr, nullptr, false, false, false, as); })),
              "internal/not-done");
    EXPECT_EQ(error_name(raised([&] {
                  file::write(f, as, false, false, false, false, nullptr, nullptr, as, nullptr);
              })),
              "internal/not-done");
}

bool fake_http(const Cell* method, const Cell* u, const Cell* headers, const Cell* data, bool,
               bool, bool info, Cell* out) {
    seen.calls++;
    seen.method = std::string(symbol::spelling(cells::word_symbol(*method)));
    seen.file = string::to_utf8(u);
    seen.headers = headers ? "headers" : "";
    seen.data = data ? (data->is(T_STRING) ? string::to_utf8(data) : "data") : "";
    seen.info = info;
    if (seen.file.find("down") != std::string::npos) return false;
    string::ks_make_at(out, 4);
    string::concatenate_cstring(out, "body");
    return true;
}

TEST_F(FileUrlIo, HttpReadAndWrite) {
    seen = {};
    io::services.http_request = fake_http;
    Cell* u = text_of(T_URL, "https://h/p");
    Cell* r = url::read(u, nullptr, nullptr, false, false, true, nullptr);
    EXPECT_EQ(string::to_utf8(r), "body");
    EXPECT_EQ(seen.method, "get");
    EXPECT_TRUE(seen.info);

    struct Row {
        std::string data_source;  // loaded; its value is the data
        std::string method, headers, data;
    };
    const std::vector<Row> rows = {
        {"\"text\"", "post", "", "text"},
        {"[]", "get", "", ""},
        {"[put]", "put", "", ""},
        {"[put [A: 1]]", "put", "headers", ""},
        {"[put [A: 1] \"d\"]", "put", "headers", "d"},
        {"none", "post", "", ""},
    };
    for (const Row& row : rows) {
        stack::Snapshot keep;
        Root data;
        ASSERT_TRUE(load_one(row.data_source, data.get()));
        if (data->is(T_WORD)) *data = none_value;
        Cell* d = stack::push(data.get());
        url::write(u, d, false, false, false, false, nullptr, nullptr, nullptr, nullptr);
        EXPECT_EQ(seen.method, row.method) << row.data_source;
        EXPECT_EQ(seen.headers, row.headers) << row.data_source;
        EXPECT_EQ(seen.data, row.data) << row.data_source;
    }
}

TEST_F(FileUrlIo, HttpFailuresAndRefusals) {
    seen = {};
    io::services.http_request = fake_http;
    Cell* down = text_of(T_URL, "http://down/");
    EXPECT_EQ(error_name(raised([&] { url::read(down, nullptr, nullptr, false, false, false, nullptr); })),
              "access/no-connect");
    Cell* u = text_of(T_URL, "http://h/");
    Cell two_value = cells::make_integer(2);
    Cell* two = stack::push(&two_value);
    seen.calls = 0;
    EXPECT_EQ(error_name(raised([&] { url::read(u, two, nullptr, false, false, false, nullptr); })),
              "internal/not-done");
    EXPECT_EQ(error_name(raised([&] {
                  url::write(u, u, false, false, false, false, nullptr, two, nullptr, nullptr);
              })),
              "internal/not-done");
    const char* bad[] = {"[\"get\"]", "[get \"h\"]", "2", "[get [] 3]"};
    for (const char* src : bad) {
        stack::Snapshot keep;
        Root data;
        ASSERT_TRUE(load_one(src, data.get()));
        Cell* d = stack::push(data.get());
        EXPECT_EQ(error_name(raised([&] {
                      url::write(u, d, false, false, false, false, nullptr, nullptr, nullptr,
                                 nullptr);
                  })),
                  "script/invalid-arg")
            << src;
    }
    EXPECT_EQ(seen.calls, 0);
}

// ---------------------------------------------------------------------------------------------
// Registration.

TEST_F(FileUrl, ActionTablesFollowTheTypes) {
    const ActionTable& u = type_registry::table(T_URL);
    const ActionTable& f = type_registry::table(T_FILE);
    const ActionTable& s = type_registry::table(T_STRING);
    EXPECT_EQ(u.form.fn, s.form.fn);
    EXPECT_EQ(u.append.fn, s.append.fn);
    EXPECT_EQ(f.make.fn, u.make.fn);
    EXPECT_EQ(f.eval_path.fn, u.eval_path.fn);
    EXPECT_EQ(f.to.fn, url::to);
    EXPECT_EQ(f.mold.fn, file::mold);
    EXPECT_FALSE(u.sort);
    EXPECT_FALSE(u.trim);
    EXPECT_FALSE(u.reflect);
    EXPECT_FALSE(f.open);
    EXPECT_FALSE(f.sort);
    EXPECT_TRUE(u.open);
    EXPECT_FALSE(u.delete_);
    EXPECT_TRUE(f.delete_);
}

}  // namespace
}  // namespace kov
