// The terminal layer without a terminal: key decoding from VT bytes (whole, split and with the
// Esc timeout), cursor-position reports, and line reading from a pipe.
#include "console/terminal.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace kov::terminal {
void PrintTo(const Key& k, std::ostream* os) { *os << "{" << k.code << (k.alt ? ", alt}" : "}"); }
}  // namespace kov::terminal

namespace kov {
namespace {

namespace le = line_editor;
namespace term = terminal;
using term::Key;


std::vector<Key> decode_all(const std::string& bytes, bool timeout_at_end) {
    term::KeyDecoder d;
    std::vector<Key> keys;
    for (char c : bytes) term::decode_byte(d, uint8_t(c), keys);
    if (timeout_at_end) term::decode_timeout(d, keys);
    return keys;
}

struct DecodeCase {
    const char* name;
    std::string bytes;
    std::vector<Key> keys;
};

TEST(KeyDecoder, Sequences) {
    const DecodeCase cases[] = {
        {"plain text", "ab1", {{'a'}, {'b'}, {'1'}}},
        {"controls", "\x01\x03\x04\r\t\x7f", {{1}, {3}, {4}, {13}, {9}, {127}}},
        {"arrows", "\x1b[A\x1b[B\x1b[C\x1b[D",
         {{le::KEY_UP}, {le::KEY_DOWN}, {le::KEY_RIGHT}, {le::KEY_LEFT}}},
        {"application arrows", "\x1bOA\x1bOB\x1bOC\x1bOD",
         {{le::KEY_UP}, {le::KEY_DOWN}, {le::KEY_RIGHT}, {le::KEY_LEFT}}},
        {"home in its forms", "\x1b[H\x1bOH\x1b[1~\x1b[7~",
         {{le::KEY_HOME}, {le::KEY_HOME}, {le::KEY_HOME}, {le::KEY_HOME}}},
        {"end in its forms", "\x1b[F\x1bOF\x1b[4~\x1b[8~",
         {{le::KEY_END}, {le::KEY_END}, {le::KEY_END}, {le::KEY_END}}},
        {"insert delete pages", "\x1b[2~\x1b[3~\x1b[5~\x1b[6~",
         {{le::KEY_INSERT}, {le::KEY_DELETE}, {le::KEY_PAGE_UP}, {le::KEY_PAGE_DOWN}}},
        {"with modifiers", "\x1b[1;5C\x1b[3;2~\x1b[1;3H",
         {{le::KEY_RIGHT}, {le::KEY_DELETE}, {le::KEY_HOME}}},
        {"unknown sequences", "\x1b[15~\x1b[Z\x1bOP\x1b[~\x1b[99~x",
         {{0}, {0}, {0}, {0}, {0}, {'x'}}},
        {"alt keys", "\x1bx\x1b\xc3\xa9", {{'x', true}, {0xE9, true}}},
        {"esc esc", "\x1b\x1b[A", {{27}, {le::KEY_UP}}},
        {"utf-8", "\xc3\xa9\xe4\xb8\xad\xf0\x9f\x8c\x80", {{0xE9}, {0x4E2D}, {0x1F300}}},
        {"invalid lead bytes", "\x80\xff\xc0" "a", {{0xFFFD}, {0xFFFD}, {0xFFFD}, {'a'}}},
        {"cut sequence", "\xe4\xb8z", {{0xFFFD}, {'z'}}},
        {"overlong and surrogate", "\xe0\x80\x80\xed\xa0\x80", {{0xFFFD}, {0xFFFD}}},
        {"cut control sequence", "\x1b[1\x01", {{1}}},
        {"very long parameters",
         "\x1b[" + std::string(100, '1') + "~", {{0}}},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decode_all(c.bytes, false), c.keys);
    }
}

TEST(KeyDecoder, SplitReadsAndTheEscTimeout) {
    term::KeyDecoder d;
    std::vector<Key> keys;
    // A sequence arriving in pieces: the decoder waits (with the timeout) between them.
    term::decode_byte(d, 0x1b, keys);
    EXPECT_TRUE(term::decoder_waiting(d));
    term::decode_byte(d, '[', keys);
    EXPECT_TRUE(term::decoder_waiting(d));
    term::decode_byte(d, '3', keys);
    EXPECT_TRUE(keys.empty());
    term::decode_byte(d, '~', keys);
    EXPECT_FALSE(term::decoder_waiting(d));
    EXPECT_EQ(keys, (std::vector<Key>{{le::KEY_DELETE}}));
    // UTF-8 split: no timeout is needed, the rest is awaited.
    keys.clear();
    term::decode_byte(d, 0xe4, keys);
    EXPECT_FALSE(term::decoder_waiting(d));
    term::decode_timeout(d, keys);
    term::decode_byte(d, 0xb8, keys);
    term::decode_byte(d, 0xad, keys);
    EXPECT_EQ(keys, (std::vector<Key>{{0x4E2D}}));
    // A lone Esc becomes the key when the time runs out.
    EXPECT_EQ(decode_all("\x1b", true), (std::vector<Key>{{27}}));
    EXPECT_EQ(decode_all("\x1b", false), (std::vector<Key>{}));
    // A cut control sequence is dropped on the timeout; decoding goes on afresh.
    keys.clear();
    term::KeyDecoder d2;
    for (char c : std::string("\x1b[1;")) term::decode_byte(d2, uint8_t(c), keys);
    term::decode_timeout(d2, keys);
    EXPECT_FALSE(term::decoder_waiting(d2));
    term::decode_byte(d2, 'A', keys);
    EXPECT_EQ(keys, (std::vector<Key>{{'A'}}));
    // No timeout in the ground state: nothing comes.
    EXPECT_EQ(decode_all("ab", true), (std::vector<Key>{{'a'}, {'b'}}));
}

TEST(Terminal, PositionReports) {
    struct Case {
        std::string in;
        int col;
        std::string left;
    };
    const Case cases[] = {
        {"\x1b[12;5R", 4, ""},
        {"ab\x1b[1;1Rcd", 0, "abcd"},
        {"\x1b[A\x1b[3;80R", 79, "\x1b[A"},
        {"x\x1b[3;R", -1, "x\x1b[3;R"},
        {"\x1b[;5R", -1, "\x1b[;5R"},
        {"\x1b[3;5", -1, "\x1b[3;5"},
        {"", -1, ""},
        {"\x1b[2;0R", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        std::string bytes = c.in;
        EXPECT_EQ(term::take_position_report(bytes), c.col);
        EXPECT_EQ(bytes, c.left);
    }
}

// A pipe holding `bytes`, then closed: its read end becomes the terminal layer's input.
struct PipeInput {
    int out_fd[2] = {-1, -1};
    int in_fd[2] = {-1, -1};
    explicit PipeInput(const std::string& bytes) {
        EXPECT_EQ(::pipe(in_fd), 0);
        EXPECT_EQ(::pipe(out_fd), 0);
        EXPECT_EQ(::write(in_fd[1], bytes.data(), bytes.size()), ssize_t(bytes.size()));
        ::close(in_fd[1]);
        ::fcntl(out_fd[0], F_SETFL, O_NONBLOCK);
        term::init(in_fd[0], out_fd[1]);
    }
    std::string written() {
        char buf[256];
        ssize_t n = ::read(out_fd[0], buf, sizeof buf);
        return n > 0 ? std::string(buf, size_t(n)) : std::string();
    }
    ~PipeInput() {
        term::init(0, 1);
        ::close(in_fd[0]);
        ::close(out_fd[0]);
        ::close(out_fd[1]);
    }
};

TEST(Terminal, PipedLines) {
    using R = term::ReadResult;
    const auto L = le::Outcome::Line;
    const auto E = le::Outcome::EndOfInput;
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<R> results;
    };
    const Case cases[] = {
        {"two lines", "ab\ncd\n", {R{L, U"ab"}, R{L, U"cd"}, R{E, U""}}},
        {"a carriage return stays", "ab\r\n", {R{L, U"ab\r"}, R{E, U""}}},
        {"last line without a line feed", "ab\ncd", {R{L, U"ab"}, R{L, U"cd"}, R{E, U""}}},
        {"empty lines", "\n\n", {R{L, U""}, R{L, U""}, R{E, U""}}},
        {"nothing", "", {R{E, U""}, R{E, U""}}},
        {"utf-8", "\xc3\xa9\xe4\xb8\xad\xf0\x9f\x8c\x80\n", {R{L, U"\u00e9\u4e2d\U0001F300"}, R{E, U""}}},
        {"invalid bytes", "a\x80\xff" "b\n", {R{L, U"a\uFFFE\uFFFEb"}, R{E, U""}}},
        {"a cut sequence keeps the line feed", "\xe4\xb8\nx\n", {R{L, U"\uFFFE"}, R{L, U"x"}, R{E, U""}}},
        {"a cut sequence keeps the next character", "\xe4z\n", {R{L, U"\uFFFEz"}, R{E, U""}}},
        {"input ends inside a sequence", "a\xe4\xb8", {R{L, U"a\uFFFE"}, R{E, U""}}},
        {"an overlong form", "\xc0\xaf\n", {R{L, U"\uFFFE\uFFFE"}, R{E, U""}}},
        {"overlong, surrogate, too high", "\xe0\x80\x80\xed\xa0\x80\xf4\x90\x80\x80\n",
         {R{L, U"\uFFFE\uFFFE\uFFFE"}, R{E, U""}}},
        {"nul bytes", std::string("a\0b\n", 4), {R{L, std::u32string(U"a\0b", 3)}, R{E, U""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PipeInput in(c.bytes);
        EXPECT_FALSE(term::interactive());
        for (const R& want : c.results) EXPECT_EQ(term::read_plain_line(), want);
    }
}

TEST(Terminal, PipedInputHasNoPromptNorEditing) {
    PipeInput in("ab\x1b[D\x7f" "c\n");
    std::vector<std::u32string> history;
    term::ReadResult r = term::read_line(U">> ", &history);
    EXPECT_EQ(r.outcome, le::Outcome::Line);
    EXPECT_EQ(r.line, U"ab\x1b[D\x7f" U"c");
    EXPECT_EQ(in.written(), "");
    EXPECT_TRUE(history.empty());
    EXPECT_EQ(term::read_line(U">> ", &history).outcome, le::Outcome::EndOfInput);
    // Raw mode does nothing without a terminal.
    term::raw_mode();
    EXPECT_FALSE(term::in_raw_mode());
    term::restore_mode();
    EXPECT_FALSE(term::set_title("Kov"));
    int cols = 1, rows = 1;
    EXPECT_FALSE(term::window_size(cols, rows));
    EXPECT_EQ(cols, 0);
}

}  // namespace
}  // namespace kov
