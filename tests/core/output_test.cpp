// Console output: hooks, the writers on a pipe and on a pseudo-terminal, escape sequences on a
// terminal, and the whole-buffer writes of the platform layer.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "core/memory.hpp"
#include "core/output.hpp"
#include "core/stack.hpp"
#include "platform/console_io.hpp"
#include "runtime_fixture.hpp"

namespace kov {
namespace {

// ---- Capturing what the writers send ----

// Reads fd to its end on a thread of its own (so that writers never block on a full pipe).
struct Reader {
    int fd;
    std::string data;
    std::thread thread;
    explicit Reader(int f) : fd(f) {
        thread = std::thread([this] {
            char buf[4096];
            for (;;) {
                ssize_t n = ::read(fd, buf, sizeof buf);
                if (n > 0) {
                    data.append(buf, size_t(n));
                    if (data.size() >= 5 && data.compare(data.size() - 5, 5,
                                                         "\x01"
                                                         "END\x01") == 0) {
                        data.resize(data.size() - 5);
                        return;
                    }
                    continue;
                }
                if (n < 0 && errno == EINTR) continue;
                return;  // end of file, or the terminal's end (EIO)
            }
        });
    }
    std::string finish() {
        thread.join();
        return data;
    }
};

// Output on a pipe (redirected). The writer's output is whatever arrived when `body` is done.
template <class F> std::string on_pipe(F&& body) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    Reader reader(fds[0]);
    output::init_console(fds[1]);
    EXPECT_FALSE(output::console_q());
    body();
    output::init_console(1);
    ::close(fds[1]);
    std::string got = reader.finish();
    ::close(fds[0]);
    return got;
}

// Output on a pseudo-terminal of 80 columns and 24 rows; `raw` turns the terminal driver's
// output processing off, so that the bytes arrive as they were written.
template <class F> std::string on_terminal(F&& body, bool raw = true) {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(master, 0);
    EXPECT_EQ(::grantpt(master), 0);
    EXPECT_EQ(::unlockpt(master), 0);
    int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    EXPECT_GE(slave, 0);
    winsize ws{};
    ws.ws_row = 24;
    ws.ws_col = 80;
    ::ioctl(master, TIOCSWINSZ, &ws);
    if (raw) {
        termios t{};
        ::tcgetattr(slave, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave, TCSANOW, &t);
    }
    Reader reader(master);
    output::init_console(slave);
    EXPECT_TRUE(output::console_q());
    body();
    output::init_console(1);
    EXPECT_TRUE(console_io::write_all(slave, "\x01" "END\x01", 5));
    std::string got = reader.finish();
    ::close(slave);
    ::close(master);
    return got;
}

std::vector<uint8_t> units_of(const std::u32string& text, uint32_t unit) {
    std::vector<uint8_t> bytes(text.size() * unit);
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = uint32_t(text[i]);
        std::memcpy(bytes.data() + i * unit, &cp, unit);  // little-endian: the low bytes
    }
    return bytes;
}

void write_text(const std::u32string& text, uint32_t unit, bool new_line) {
    auto bytes = units_of(text, unit);
    output::write_units(bytes.data(), uint32_t(bytes.size()), unit, new_line);
}

class Output : public ::testing::Test {
protected:
    void TearDown() override {
        output::init_console(1);
        output::init_hooks();
    }
};

// ---- Redirected output ----

TEST_F(Output, LineEndIsLineFeed) {
    std::string got = on_pipe([] { write_text(U"abc", 1, true); });
    EXPECT_EQ(got, "abc\n");
    got = on_pipe([] { write_text(U"abc", 1, false); });
    EXPECT_EQ(got, "abc");
}

TEST_F(Output, EveryUnitWidthBecomesUtf8) {
    struct Case {
        std::u32string text;
        uint32_t unit;
        std::string bytes;
    };
    const Case cases[] = {
        {U"\u00e9t\u00e9", 1, "\xC3\xA9t\xC3\xA9"},
        {U"\u00ff\u0080", 1, "\xC3\xBF\xC2\x80"},
        {U"\u20ac \u00e9", 2, "\xE2\x82\xAC \xC3\xA9"},
        {U"\U0001F600!", 4, "\xF0\x9F\x98\x80!"},
        {U"\u07ff\u0800\uffff", 4, "\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
        {U"\U0010FFFF", 4, "\xF4\x8F\xBF\xBF"},
        {std::u32string(1, char32_t(0x110000)), 4, "\xEF\xBF\xBD"},  // beyond Unicode: U+FFFD
        {U"", 2, ""},
    };
    for (const auto& c : cases) {
        std::string got = on_pipe([&] { write_text(c.text, c.unit, false); });
        EXPECT_EQ(got, c.bytes) << "unit " << c.unit;
    }
}

TEST_F(Output, LongTextCrossesTheBufferIntact) {
    // Multi-byte characters land on every position around the 1,020-byte flush point.
    for (uint32_t unit : {1u, 2u, 4u}) {
        std::u32string text;
        std::string expected;
        for (int i = 0; i < 5000; ++i) {
            char32_t c = unit == 1   ? (i % 3 ? U'\u00e9' : U'a')
                         : unit == 2 ? (i % 2 ? U'\u20ac' : U'b')
                                     : (i % 4 ? U'\U0001F600' : U'c');
            text += c;
            expected += c == U'a'        ? "a"
                        : c == U'b'      ? "b"
                        : c == U'c'      ? "c"
                        : c == U'\u00e9' ? "\xC3\xA9"
                        : c == U'\u20ac' ? "\xE2\x82\xAC"
                                         : "\xF0\x9F\x98\x80";
        }
        std::string got = on_pipe([&] { write_text(text, unit, true); });
        EXPECT_EQ(got, expected + "\n") << "unit " << unit;
    }
}

TEST_F(Output, RedirectedOutputKeepsEscapeSequences) {
    std::string got = on_pipe([] { write_text(U"\x1b[31mred\x1b[0m \x1b[5;3H\x1b[2J", 1, false); });
    EXPECT_EQ(got, "\x1b[31mred\x1b[0m \x1b[5;3H\x1b[2J");
}

TEST_F(Output, UnknownUnitWidthIsFatal) {
    EXPECT_EXIT(
        {
            output::init_console(1);
            output::write_units("abc", 3, 3, false);
        },
        ::testing::ExitedWithCode(101), "");
}

// ---- Hooks ----

std::vector<std::string> calls;

void print_a(const Cell*, bool n) { calls.push_back(n ? "a/" : "a"); }
void print_b(const Cell*, bool n) { calls.push_back(n ? "b/" : "b"); }
void raw_a(const void* buf, uint32_t len, uint32_t unit) {
    calls.push_back("raw-a:" + std::string(static_cast<const char*>(buf), len) + ":" +
                    std::to_string(unit));
}
void raw_b(const void* buf, uint32_t len, uint32_t) {
    calls.push_back("raw-b:" + std::string(static_cast<const char*>(buf), len));
}

TEST_F(Output, HooksAreCalledInRegistrationOrder) {
    output::init_hooks();
    output::remove_hooks(&output::print_to_console, nullptr);  // keep the console out of it
    calls.clear();
    output::add_hooks(&print_a, &raw_a);
    output::add_hooks(&print_b, nullptr);
    output::add_hooks(nullptr, &raw_b);
    output::add_hooks(&print_a, nullptr);
    Cell none{T_NONE, 0, 0, 0};
    output::call_print_hooks(&none, true);
    output::call_raw_hooks("xy", 2, 1);
    EXPECT_EQ(calls, (std::vector<std::string>{"a/", "b/", "a/", "raw-a:xy:1", "raw-b:xy"}));

    // Only the first occurrence goes.
    calls.clear();
    output::remove_hooks(&print_a, &raw_b);
    output::call_print_hooks(&none, false);
    output::call_raw_hooks("z", 1, 2);
    EXPECT_EQ(calls, (std::vector<std::string>{"b", "a", "raw-a:z:2"}));

    // Lists grow past their first blocks of room.
    calls.clear();
    for (int i = 0; i < 12; ++i) output::add_hooks(&print_b, nullptr);
    output::call_print_hooks(&none, false);
    EXPECT_EQ(calls.size(), 14u);
    output::remove_hooks(&print_a, &raw_a);
    output::remove_hooks(&print_a, &raw_a);  // no longer there: nothing happens
    calls.clear();
    output::call_print_hooks(&none, false);
    output::call_raw_hooks("q", 1, 0);
    EXPECT_EQ(calls, std::vector<std::string>(13, "b"));
}

TEST_F(Output, DiagnosticWritersFeedTheRawHooks) {
    output::init_hooks();
    calls.clear();
    output::add_hooks(nullptr, &raw_a);
    std::string got = on_pipe([] {
        output::write_c_string("*** diagnostic");
        std::memcpy(output::format_buffer, "0123456789", 10);
        output::write_buffer(4);
    });
    EXPECT_EQ(got, "*** diagnostic0123");
    EXPECT_EQ(calls, (std::vector<std::string>{"raw-a:*** diagnostic:0", "raw-a:0123:0"}));
}

// ---- The console printer on string values ----

class OutputValues : public testing::RuntimeTest {
protected:
    void TearDown() override {
        output::init_console(1);
        output::init_hooks();
    }
    // A string! of the given units, its head at `index`, kept on the argument stack.
    const Cell* make_string(const std::u32string& text, uint32_t unit, uint32_t index) {
        Handle node = memory::make_string_buffer(uint32_t(text.size()) + 1, unit);
        SeriesBuffer* buf = memory::buffer_of(node);
        auto bytes = units_of(text, unit);
        std::memcpy(buf->head_ptr(), bytes.data(), bytes.size());
        buf->tail = buf->head + uint32_t(bytes.size());
        Cell cell{T_STRING, index, node, 0};
        return stack::push(&cell);
    }
};

TEST_F(OutputValues, PrintsFromTheHeadToTheTail) {
    output::init_hooks();
    const Cell* latin = make_string(U"h\u00e9llo", 1, 0);
    const Cell* wide = make_string(U"x\u20acy", 2, 1);
    const Cell* emoji = make_string(U"\U0001F600\U0001F601", 4, 1);
    const Cell* past = make_string(U"abc", 1, 7);  // head past the tail: nothing to print
    std::string got = on_pipe([&] {
        output::call_print_hooks(latin, true);
        output::print_to_console(wide, false);
        output::print_to_console(emoji, true);
        output::print_to_console(past, true);
    });
    EXPECT_EQ(got, "h\xC3\xA9llo\n\xE2\x82\xACy\xF0\x9F\x98\x81\n\n");
}

TEST_F(OutputValues, UnknownEncodingIsReported) {
    const Cell* s = make_string(U"abc", 1, 0);
    SeriesBuffer* buf = memory::buffer_of(s->data2);
    buf->flags = (buf->flags & ~SER_UNIT_MASK) | 8;
    std::string got = on_pipe([&] { output::print_to_console(s, true); });
    EXPECT_EQ(got, "Error: unknown string encoding: 8");
}

// ---- On a terminal ----

TEST_F(Output, TerminalGetsUtf8AndTheDriverAddsCarriageReturns) {
    EXPECT_EQ(on_terminal([] { write_text(U"abc\u00e9", 1, true); }), "abc\xC3\xA9\n");
    EXPECT_EQ(on_terminal([] { write_text(U"abc", 1, true); }, false), "abc\r\n");
}

// The console writer hands text of 2- and 4-byte units to the console as UTF-16 units, one per
// unit, and the console shows a high surrogate followed by a low surrogate as the one character
// they encode. A terminal reads UTF-8, so the writer joins such a pair before encoding it. The
// redirected writer encodes every unit as a code point of its own, pairs included.
TEST_F(Output, TerminalShowsSurrogatePairsAsOneCharacter) {
    struct Case {
        std::vector<uint32_t> units;
        const char* terminal;
        const char* redirected;
    };
    const Case cases[] = {
        {{0xD83D, 0xDE00}, "\xF0\x9F\x98\x80", "\xED\xA0\xBD\xED\xB8\x80"},
        {{'a', 0xDBFF, 0xDFFF, 'b'}, "a\xF4\x8F\xBF\xBF" "b", "a\xED\xAF\xBF\xED\xBF\xBF" "b"},
        {{0xD800, 0xDC00, 0xD83D, 0xDE01}, "\xF0\x90\x80\x80\xF0\x9F\x98\x81",
         "\xED\xA0\x80\xED\xB0\x80\xED\xA0\xBD\xED\xB8\x81"},
        // Surrogates that do not form a pair stay as they are.
        {{0xDE00, 0xD83D}, "\xED\xB8\x80\xED\xA0\xBD", "\xED\xB8\x80\xED\xA0\xBD"},
        {{0xD83D, 'x'}, "\xED\xA0\xBDx", "\xED\xA0\xBDx"},
        {{0xD83D, 0xD83D, 0xDE00}, "\xED\xA0\xBD\xF0\x9F\x98\x80",
         "\xED\xA0\xBD\xED\xA0\xBD\xED\xB8\x80"},
        {{0xD83D}, "\xED\xA0\xBD", "\xED\xA0\xBD"},
    };
    for (const Case& c : cases) {
        for (uint32_t unit : {2u, 4u}) {
            std::u32string text(c.units.begin(), c.units.end());
            EXPECT_EQ(on_terminal([&] { write_text(text, unit, false); }), c.terminal)
                << "case " << &c - cases << " unit " << unit;
            EXPECT_EQ(on_pipe([&] { write_text(text, unit, false); }), c.redirected)
                << "case " << &c - cases << " unit " << unit;
        }
    }
}

TEST_F(Output, TerminalEscapeSequences) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        // Colours: the codes the console knows go to the terminal; an SGR only takes effect
        // at its "m".
        {"\x1b[1;31mX", "\x1b[1;31mX"},
        {"\x1b[31;44;1m", "\x1b[31;44;1m"},
        {"\x1b[0m", "\x1b[0m"},
        {"\x1b[m", ""},
        {"\x1b[31;99m", "\x1b[31m"},
        {"\x1b[38;5;196m", ""},
        {"\x1b[31;44;X", ""},
        {"\x1b[31;m", ""},
        {"\x1b[;;7m", "\x1b[7m"},
        // Cursor moves: a zero move does nothing; numbers wrap at 65,535.
        {"\x1b[5A", "\x1b[5A"},
        {"\x1b[2B\x1b[3C\x1b[4D", "\x1b[2B\x1b[3C\x1b[4D"},
        {"\x1b[0B", ""},
        {"\x1b[65537A", "\x1b[2A"},
        // Positions: column first, from 0, kept on the 80 x 24 screen.
        {"\x1b[5;3H", "\x1b[4;6H"},
        {"\x1b[0;0f", "\x1b[1;1H"},
        {"\x1b[79;23H", "\x1b[24;80H"},
        {"\x1b[80;24H", "\x1b[24;80H"},
        {"\x1b[200;100f", "\x1b[24;80H"},
        {"\x1b[H", "\x1b[H"},
        {"\x1b[f", "\x1b[H"},
        {"\x1b[7H", ""},
        {"\x1b[s..\x1b[u", "\x1b[s..\x1b[u"},
        // Erasing.
        {"\x1b[K", "\x1b[K"},
        {"\x1b[1K", "\x1b[1K\r"},
        {"\x1b[2K", "\x1b[2K\r"},
        {"\x1b[0K", ""},
        {"\x1b[J", "\x1b[2K\x1b[J"},
        {"\x1b[1J", "\x1b[s\x1b[1A\x1b[9999C\x1b[1J\x1b[u"},
        {"\x1b[2J", "\x1b[2J\x1b[H"},
        {"\x1b[0J", ""},
        // What is not a sequence, or not one the console knows.
        {"a\x1bxb", "a\x1bxb"},
        {"a\x1b", "a\x1b"},
        {"a\x1b[Zb", "ab"},
        {"a\x1b[1;2;3Xb", "ab"},
        {"a\x1b[12", "a"},
    };
    for (const auto& c : cases) {
        for (uint32_t unit : {1u, 2u, 4u}) {
            std::u32string text;
            for (const char* p = c.in; *p; ++p) text += char32_t(uint8_t(*p));
            std::string got = on_terminal([&] { write_text(text, unit, false); });
            EXPECT_EQ(got, c.out) << "unit " << unit << " input " << (c.in + 1);
        }
    }
}

TEST_F(Output, ScreenInformationSequence) {
    std::string got = on_terminal([] { write_text(U"\x1b[?", 1, false); });
    EXPECT_EQ(got.rfind("Screen buffer info:\n   size______ 80x24\n", 0), 0u) << got;
    EXPECT_NE(got.find("   right_____ 79 bottom: 23\n"), std::string::npos) << got;
}

TEST_F(Output, ClampCursorKeepsTheLastRowAndColumn) {
    struct Case {
        int32_t column, row, columns, rows, want_column, want_row;
    };
    const Case cases[] = {
        {0, 0, 80, 24, 0, 0},     {79, 23, 80, 24, 79, 23}, {80, 24, 80, 24, 79, 23},
        {500, 3, 80, 24, 79, 3},  {3, 500, 80, 24, 3, 23},  {-4, -1, 80, 24, 0, 0},
        {120, 50, 0, 0, 120, 50},
    };
    for (const auto& c : cases) {
        auto at = output::clamp_cursor(c.column, c.row, c.columns, c.rows);
        EXPECT_EQ(at.column, c.want_column);
        EXPECT_EQ(at.row, c.want_row);
    }
}

TEST_F(Output, SgrAttributes) {
    output::read_console_attributes();
    const int32_t d = output::default_attribute();
    EXPECT_EQ(d, 0x07);
    // ESC [1;31m from the default: intensity for both, then red foreground.
    int32_t a = output::sgr_attribute(d, 1);
    EXPECT_EQ(a, 0x8F);
    EXPECT_EQ(output::sgr_attribute(a, 31), 0x8C);
    struct Case {
        int32_t attribute, code, result;
    };
    const Case cases[] = {
        {0x8123, 0, 0x07},   {0x0001, 1, 0x0089},  {0x0012, 4, 0x8012},  {0x8A15, 7, 0x51},
        {0x80FF, 30, 0xF8},  {0x00F0, 31, 0xF4},   {0x00F0, 32, 0xF2},   {0x00F0, 33, 0xF6},
        {0x00F0, 34, 0xF1},  {0x00F0, 35, 0xF5},   {0x00F0, 36, 0xF3},   {0x00F0, 37, 0xF7},
        {0x0001, 39, 0x09},  {0x80FF, 40, 0x8F},   {0x000F, 41, 0x4F},   {0x000F, 42, 0x2F},
        {0x000F, 43, 0x6F},  {0x000F, 44, 0x1F},   {0x000F, 45, 0x5F},   {0x000F, 46, 0x3F},
        {0x000F, 47, 0x7F},  {0x0001, 49, 0x81},   {0x1234, 2, 0x1234},  {0x1234, 38, 0x1234},
        {0x1234, 99, 0x1234}, {0x1234, 65534, 0x1234},
    };
    for (const auto& c : cases)
        EXPECT_EQ(output::sgr_attribute(c.attribute, c.code), c.result) << "code " << c.code;
}

// ---- Whole-buffer writes ----

// Writes 8 MB into a pipe that a reader thread drains while a timer signal without restart
// keeps interrupting the writer; answers what arrived and whether write_all reported success.
std::pair<std::string, bool> write_through_pipe(const std::string& data, bool non_blocking) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    if (non_blocking) ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK);

    struct sigaction sa {}, old {};
    sa.sa_handler = [](int) {};
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: interrupted calls fail with EINTR
    ::sigaction(SIGALRM, &sa, &old);

    sigset_t alarm_set, previous;
    sigemptyset(&alarm_set);
    sigaddset(&alarm_set, SIGALRM);
    ::pthread_sigmask(SIG_BLOCK, &alarm_set, &previous);  // the reader thread never takes it
    std::string got;
    std::thread reader([&] {
        char buf[1000];
        for (;;) {
            ssize_t n = ::read(fds[0], buf, sizeof buf);
            if (n > 0) {
                got.append(buf, size_t(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            return;
        }
    });
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);

    itimerval every{{0, 200}, {0, 200}};
    ::setitimer(ITIMER_REAL, &every, nullptr);
    bool ok = console_io::write_all(fds[1], data.data(), data.size());
    itimerval stop{};
    ::setitimer(ITIMER_REAL, &stop, nullptr);
    ::sigaction(SIGALRM, &old, nullptr);
    ::close(fds[1]);
    reader.join();
    ::close(fds[0]);
    return {got, ok};
}

TEST(ConsoleIo, WritesEverythingThroughPartialWritesAndSignals) {
    std::string data(8 << 20, 0);
    for (size_t i = 0; i < data.size(); ++i) data[i] = char('a' + (i * 7 + i / 4096) % 26);
    for (bool non_blocking : {false, true}) {
        auto [got, ok] = write_through_pipe(data, non_blocking);
        EXPECT_TRUE(ok) << non_blocking;
        EXPECT_EQ(got.size(), data.size());
        EXPECT_TRUE(got == data);
    }
}

TEST(ConsoleIo, ClosedPipeFailsWithoutHanging) {
    struct sigaction ignore {}, old {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, &old);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    EXPECT_FALSE(console_io::write_all(fds[1], "abc", 3));
    ::close(fds[1]);
    EXPECT_FALSE(console_io::write_all(fds[1], "abc", 3));  // closed descriptor
    ::sigaction(SIGPIPE, &old, nullptr);
}

TEST(ConsoleIo, TerminalQueries) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int columns = -1, rows = -1;
    EXPECT_FALSE(console_io::is_terminal(fds[1]));
    EXPECT_FALSE(console_io::terminal_size(fds[1], columns, rows));
    EXPECT_EQ(columns, 0);
    EXPECT_EQ(rows, 0);
    ::close(fds[0]);
    ::close(fds[1]);

    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    winsize ws{};
    ws.ws_row = 30;
    ws.ws_col = 100;
    ::ioctl(master, TIOCSWINSZ, &ws);
    EXPECT_TRUE(console_io::is_terminal(slave));
    EXPECT_TRUE(console_io::terminal_size(slave, columns, rows));
    EXPECT_EQ(columns, 100);
    EXPECT_EQ(rows, 30);
    ::close(slave);
    ::close(master);
}

}  // namespace
}  // namespace kov
