// The boot payload: every boot source packs into bytes that decode to the values the lexer loads
// and encode again to the same bytes; the payload linked into this program is the one the
// current sources give; the deep comparison finds each kind of difference; and damaged payload
// data ends the process with its report and status instead of running.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "boot/base.hpp"
#include "boot/embedded.hpp"
#include "boot/payload.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/word.hpp"
#include "evaluator/lexer.hpp"
#include "platform/kovbin.hpp"
#include "tests/core/runtime_fixture.hpp"

namespace kov {
namespace {

using collector::Root;

struct Source {
    std::string name;
    std::string text;
};

std::vector<Source> boot_sources() {
    std::vector<Source> out;
    for (const char* dir : {"/boot", "/console"}) {
        for (const auto& e : std::filesystem::directory_iterator(std::string(KOV_SOURCE_DIR) + dir)) {
            if (e.path().extension() != ".kov") continue;
            std::ifstream in(e.path(), std::ios::binary);
            std::stringstream s;
            s << in.rdbuf();
            out.push_back({e.path().filename().string(), s.str()});
        }
    }
    std::sort(out.begin(), out.end(), [](const Source& a, const Source& b) { return a.name < b.name; });
    return out;
}

std::vector<uint8_t> bytes_of(const Cell* bin) {
    const uint8_t* head = binary::ks_head(bin);
    return std::vector<uint8_t>(head, head + binary::ks_length(bin));
}

// Runs `body` in a child process with standard output on a pipe; answers {status, output}.
template <class F> std::pair<int, std::string> run_captured(F body) {
    int fds[2];
    if (pipe(fds) != 0) return {-1, ""};
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        body();
        _exit(123);
    }
    close(fds[1]);
    std::string out;
    char buf[256];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

class Payload : public testing::RuntimeTest {
protected:
    // Packs `text`, failing the test when that does not succeed.
    static std::vector<uint8_t> packed(std::string_view text) {
        std::string problem;
        std::vector<uint8_t> bytes = payload::pack(text, &problem);
        EXPECT_FALSE(bytes.empty()) << problem;
        return bytes;
    }
    // The deep difference between the loaded values of two texts.
    static std::string differs(std::string_view a, std::string_view b) {
        Root x, y;
        lexer::scan(x.get(), a);
        lexer::scan(y.get(), b);
        return payload::difference(x.get(), y.get());
    }
};

TEST_F(Payload, EveryBootSourceRoundTrips) {
    std::vector<Source> sources = boot_sources();
    ASSERT_GE(sources.size(), 4u);
    for (const Source& s : sources) {
        SCOPED_TRACE(s.name);
        std::vector<uint8_t> bytes = packed(s.text);
        ASSERT_GE(bytes.size(), 8u);
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "KOVBIN");
        EXPECT_TRUE(bytes[7] & kovbin::FLAG_COMPACT);
        Root loaded, decoded, again;
        lexer::scan(loaded.get(), s.text);
        payload::decode(bytes.data(), bytes.size(), decoded.get());
        EXPECT_EQ(payload::difference(loaded.get(), decoded.get()), "");
        // The decoded values encode to the bytes of the loaded ones (before compression).
        Root first;
        kovbin::encode_compact(loaded.get(), first.get());
        kovbin::encode_compact(decoded.get(), again.get());
        EXPECT_EQ(bytes_of(first.get()), bytes_of(again.get()));
    }
}

TEST_F(Payload, LinkedTableIsThePayloadOfTheCurrentSources) {
    ASSERT_EQ(embedded::form, embedded::Form::payload);
    std::vector<Source> sources = boot_sources();
    size_t listed = 0;
    for (const embedded::File* f = embedded::files; f->name; f++) listed++;
    EXPECT_EQ(listed, sources.size());
    for (const Source& s : sources) {
        SCOPED_TRACE(s.name);
        std::string_view table = embedded::text(s.name);
        ASSERT_FALSE(table.empty());
        std::vector<uint8_t> bytes = packed(s.text);
        EXPECT_EQ(std::string(table), std::string(bytes.begin(), bytes.end()));
    }
}

TEST_F(Payload, LargeSourcesAreCompressedAndSmallOnesAreNot) {
    std::vector<uint8_t> small = packed("1");
    ASSERT_GE(small.size(), 8u);
    EXPECT_FALSE(small[7] & kovbin::FLAG_COMPRESSED);
    std::string text;
    for (int i = 0; i < 200; i++) text += "alpha: [beta gamma \"delta\" 1.5 #issue]\n";
    std::vector<uint8_t> large = packed(text);
    ASSERT_GE(large.size(), 8u);
    EXPECT_TRUE(large[7] & kovbin::FLAG_COMPRESSED);
    EXPECT_LT(large.size(), text.size() / 4);
    Root loaded, decoded;
    lexer::scan(loaded.get(), text);
    payload::decode(large.data(), large.size(), decoded.get());
    EXPECT_EQ(payload::difference(loaded.get(), decoded.get()), "");
}

TEST_F(Payload, ValuesOfEveryLiteralKindRoundTrip) {
    const char* texts[] = {
        "",
        "none true false",
        "0 63 64 -1 2147483647 -2147483648",
        "1.5 -0.0 2.0 1e300 50% 12.5% 0:00:01 10:20:30.5 -1:00",
        "#\"a\" #\"^(263A)\" #\"^(1F600)\"",
        "\"\" \"abc\" \"caf\xC3\xA9\" \"\xF0\x9F\x98\x80\" {multi\nline}",
        "%file.txt %\"a b\" http://example.org/x?y=1 <tag attr=\"v\"> user@example.org @ref",
        "#{} #{00FF10} 2#{11110000}",
        "1x2 -3x4 1.2.3 1.2.3.4.5 $1.50 -$2 USD$3.25",
        "1-Jan-2000 31-Dec-1999/23:59:59 1-Jan-2000/10:00+2:00",
        "word set-word: :get-word 'lit-word /refinement #issue",
        "a/b/c :a/b a/b: 'a/b a/1/(x)",
        "[] [[]] [1 [2 [3 [4]]]] (paren 1) [\n  new line\n  kept\n]",
        "#[a 1 b [2]] #[]",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        Root loaded, decoded;
        stack::Snapshot saved;
        stack::mark_try(nullptr);
        try {
            lexer::scan(loaded.get(), text);
        } catch (const Unwind&) {
            ADD_FAILURE() << "does not load";
            continue;
        }
        std::vector<uint8_t> bytes = packed(text);
        if (bytes.empty()) continue;
        payload::decode(bytes.data(), bytes.size(), decoded.get());
        EXPECT_EQ(payload::difference(loaded.get(), decoded.get()), "");
    }
}

TEST_F(Payload, PackReportsSourceThatDoesNotLoad) {
    std::string problem;
    EXPECT_TRUE(payload::pack("[1 2", &problem).empty());
    EXPECT_NE(problem.find("Syntax Error"), std::string::npos) << problem;
}

TEST_F(Payload, DifferenceNamesWhereValuesDiffer) {
    struct Case {
        const char* a;
        const char* b;
        const char* where;  // "" when the same
    };
    const Case cases[] = {
        {"1 [2 \"x\"]", "1 [2 \"x\"]", ""},
        {"1 2", "1 3", "top[1]: datatype 11 value"},
        {"1 2", "1 2.0", "top[1]: datatype 11 against 12"},
        {"1 2", "1 2 3", "top: datatype 5 length"},
        {"[a \"xy\"]", "[a \"xz\"]", "top[0][1]: datatype 7 contents"},
        {"\"ab\"", "\"a\xC3\xA9\"", "top[0]: datatype 7 unit"},
        {"a b", "a c", "top[1]: datatype 15 value"},
        {"1 2", "1\n2", "top[1]: datatype 11 flags"},
        {"#{0102}", "#{0103}", "top[0]: datatype 41 contents"},
        {"a/b", "a/c", "top[0][1]: datatype 15 value"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        EXPECT_EQ(differs(c.a, c.b), c.where);
    }
    // The head of a series.
    Root x, y;
    lexer::scan(x.get(), "1 2");
    y.cell = x.cell;
    cells::set_series_index(y.cell, 1);
    EXPECT_EQ(payload::difference(x.get(), y.get()), "top: datatype 5 head");
}

TEST_F(Payload, ValidPayloadIsEvaluated) {
    std::vector<uint8_t> bytes = packed("payload-probe: 42\npayload-text: \"done\"");
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(base::do_payload(bytes.data(), bytes.size(), "probe.kov"), Status::normal);
    Cell word = *word::load("payload-probe");
    Cell* v = context::get(&word);
    ASSERT_TRUE(v->is(T_INTEGER));
    EXPECT_EQ(cells::integer(*v), 42);
}

TEST_F(Payload, DamagedPayloadEndsTheProcessWithItsReport) {
    std::vector<uint8_t> good = packed("[1 2] probe: \"text\"");
    ASSERT_GE(good.size(), 12u);
    ASSERT_FALSE(good[7] & kovbin::FLAG_COMPRESSED);
    std::string big_text;
    for (int i = 0; i < 100; i++) big_text += "alpha beta gamma delta ";
    std::vector<uint8_t> compressed = packed(big_text);
    ASSERT_TRUE(compressed[7] & kovbin::FLAG_COMPRESSED);

    // Payloads that are not exactly one block.
    Root one, encoded;
    one.cell = cells::make_integer(7);
    kovbin::encode_compact(one.get(), encoded.get());
    std::vector<uint8_t> integer = bytes_of(encoded.get());
    // Header, value count, B = 3, then the block [1] (0x05 0x01 0x81); two values when B = 4
    // takes in the integer 2 after it.
    std::vector<uint8_t> two = {'K', 'O', 'V', 'B', 'I', 'N', 2, kovbin::FLAG_COMPACT, 1, 4,
                                0x05, 0x01, 0x81, 0x82};

    auto with = [](std::vector<uint8_t> b, size_t at, uint8_t v) {
        b[at] = v;
        return b;
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* message;  // what the report holds after the file name
    };
    std::vector<uint8_t> truncated(good.begin(), good.end() - 3);
    // No symbols, and the last byte is the code of the integer 3.
    std::vector<uint8_t> blocks = packed("[1 2] [3]");
    ASSERT_EQ(blocks.back(), 0x83);
    std::vector<uint8_t> lz_bad = compressed;
    lz_bad.resize(20);  // the LZ block's sizes now run past its end
    const Case cases[] = {
        {"empty", {}, "Script Error: data not in correct format: \"no Kovbin header\""},
        {"short header", {'K', 'O', 'V'}, "Script Error: data not in correct format: \"no Kovbin header\""},
        {"bad magic", with(good, 0, 'X'), "Script Error: data not in correct format: \"no Kovbin header\""},
        {"truncated", truncated, "Script Error: KOVBIN - invalid record at index"},
        {"bad code byte", with(blocks, blocks.size() - 1, 0xC5), "Script Error: KOVBIN - invalid record at index"},
        {"corrupt compressed body", lz_bad,
         "Script Error: data not in correct format: \"corrupt compressed body\""},
        {"an integer, not a block", integer, "Script Error: data not in correct format: \"not one block\""},
        {"two values", two, "Script Error: data not in correct format: \"not one block\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto [status, text] = run_captured([&] {
            (void)base::do_payload(c.bytes.data(), c.bytes.size(), "probe.kov");
        });
        EXPECT_EQ(status, base::DAMAGED_PAYLOAD_STATUS);
        std::string head = std::string("*** Boot payload damaged: probe.kov: ") + c.message;
        EXPECT_EQ(text.substr(0, head.size()), head) << text;
        EXPECT_EQ(text.back(), '\n');
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    }
    // The unharmed payload runs in a child as well (the harness itself is sound).
    auto [status, text] = run_captured([&] {
        Status s = base::do_payload(good.data(), good.size(), "probe.kov");
        _exit(s == Status::normal ? 0 : 9);
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(text, "");
}

// The start-up decoder of the literal payload reports a bad header or a corrupt compressed body
// and fails the process; it never ends with status 0.
TEST_F(Payload, BootDecoderFailsTheProcessOnDamage) {
    std::string big_text;
    for (int i = 0; i < 100; i++) big_text += "alpha beta gamma delta ";
    std::vector<uint8_t> lz_bad = packed(big_text);
    ASSERT_TRUE(lz_bad[7] & kovbin::FLAG_COMPRESSED);
    lz_bad.resize(20);
    std::vector<uint8_t> bad_magic = packed("[1 2]");
    bad_magic[0] = 'X';
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* report;
    };
    const Case cases[] = {
        {"bad magic", bad_magic, "Error: Not a Kovbin file!\n"},
        {"corrupt compressed body", lz_bad, "Error: Kovbin compressed data corrupted!\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto [status, text] = run_captured([&] { kovbin::decode_boot(c.bytes.data(), c.bytes.size(), true); });
        EXPECT_EQ(status, 2);
        EXPECT_EQ(text, c.report);
    }
}

}  // namespace
}  // namespace kov
