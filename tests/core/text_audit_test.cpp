// Text conversions, widths and console output checked case by case against what each routine
// is meant to do: the UTF-8 loader against a direct transcription of its rules, and the console
// writer on a terminal, which takes text as the console reads UTF-16 units.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/output.hpp"
#include "core/stack.hpp"
#include "core/unicode.hpp"
#include "datatypes/error.hpp"
#include "platform/console_io.hpp"
#include "tests/core/runtime_fixture.hpp"
#include "tests/core/text_fixture.hpp"

namespace kov {
namespace {

using testing::Text;
using testing::Units;
using testing::make_text;
using testing::read_text;
using testing::unwind_code;

class TextAudit : public testing::RuntimeTest {};

// ---------------------------------------------------------------------------------------------
// Console output captured from a pipe or a raw pseudo-terminal.

// The bytes that `body` writes through the console writer to a pipe (terminal = false) or to a
// pseudo-terminal whose driver passes output through unchanged (terminal = true).
template <class F> std::string captured(bool terminal, F&& body) {
    int read_fd = -1, write_fd = -1;
    if (terminal) {
        read_fd = ::posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(read_fd, 0);
        EXPECT_EQ(::grantpt(read_fd), 0);
        EXPECT_EQ(::unlockpt(read_fd), 0);
        write_fd = ::open(::ptsname(read_fd), O_RDWR | O_NOCTTY);
        winsize ws{};
        ws.ws_row = 24;
        ws.ws_col = 80;
        ::ioctl(read_fd, TIOCSWINSZ, &ws);
        termios t{};
        ::tcgetattr(write_fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(write_fd, TCSANOW, &t);
    } else {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        read_fd = fds[0];
        write_fd = fds[1];
    }
    static const std::string end_mark = "\x01" "END\x01";
    std::string got;
    std::thread reader([&] {
        char buf[4096];
        for (;;) {
            ssize_t n = ::read(read_fd, buf, sizeof buf);
            if (n > 0) {
                got.append(buf, size_t(n));
                if (got.size() >= end_mark.size() &&
                    got.compare(got.size() - end_mark.size(), end_mark.size(), end_mark) == 0) {
                    got.resize(got.size() - end_mark.size());
                    return;
                }
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            return;
        }
    });
    output::init_console(write_fd);
    EXPECT_EQ(output::console_q(), terminal);
    body();
    output::init_console(1);
    EXPECT_TRUE(console_io::write_all(write_fd, end_mark.data(), end_mark.size()));
    reader.join();
    ::close(write_fd);
    ::close(read_fd);
    return got;
}

void write_units(const Units& units, uint32_t unit) {
    std::vector<uint8_t> bytes(units.size() * unit);
    for (size_t i = 0; i < units.size(); ++i) std::memcpy(&bytes[i * unit], &units[i], unit);
    output::write_units(bytes.data(), uint32_t(bytes.size()), unit, false);
}

// The console writer hands text of 2- and 4-byte units to the console as UTF-16 units, one per
// unit, and the console shows a high surrogate followed by a low surrogate as the one character
// they encode. A terminal reads UTF-8, so the writer joins such a pair before encoding it. The
// redirected writer encodes every unit as a code point of its own, pairs included.
TEST_F(TextAudit, TerminalShowsSurrogatePairsAsOneCharacter) {
    struct Case {
        Units units;
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
            EXPECT_EQ(captured(true, [&] { write_units(c.units, unit); }), c.terminal)
                << "case " << &c - cases << " unit " << unit;
            EXPECT_EQ(captured(false, [&] { write_units(c.units, unit); }), c.redirected)
                << "case " << &c - cases << " unit " << unit;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The UTF-8 loader against its rules, written out one by one: a leading byte order mark skipped
// when more than 2 bytes are given; CR LF and a lone CR read as LF with the flag; leads C0-DF,
// E0-EF and F0-F7 needing 2, 3 and 4 bytes with followers 80-BF (overlong forms accepted); DC00-
// DCFF and anything above 10FFFF refused; any other lead refused; a sequence cut by the end of
// the input left undecoded and counted; unit 1 widening above FF (to 2, or to 4 above FFFF) and
// unit 2 widening above FFFF. The text goes after what the buffer already holds.

struct Loaded {
    Text text;               // what the buffer holds afterwards (up to the error, if any)
    uint32_t remaining = 0;  // bytes of a cut sequence left at the end
    bool invalid = false;    // an invalid sequence raised invalid-utf8
};

Loaded load_by_the_rules(const std::vector<uint8_t>& in, bool crlf, Text start) {
    Loaded r{start, 0, false};
    size_t i = 0, n = in.size();
    if (n > 2 && in[0] == 0xEF && in[1] == 0xBB && in[2] == 0xBF) i = 3;
    auto add = [&](uint32_t cp) {
        if (r.text.unit == 1 && cp > 0xFF) r.text.unit = cp > 0xFFFF ? 4 : 2;
        else if (r.text.unit == 2 && cp > 0xFFFF) r.text.unit = 4;
        r.text.units.push_back(cp);
    };
    auto follower = [](uint8_t b) { return b >= 0x80 && b <= 0xBF; };
    while (i < n) {
        uint32_t b0 = in[i];
        if (b0 < 0x80) {
            if (b0 == '\r' && crlf) {
                if (i + 1 < n && in[i + 1] == '\n') {
                    ++i;
                    continue;
                }
                b0 = '\n';
            }
            add(b0);
            ++i;
            continue;
        }
        size_t need = b0 >= 0xC0 && b0 <= 0xDF ? 2 : b0 >= 0xE0 && b0 <= 0xEF ? 3
                    : b0 >= 0xF0 && b0 <= 0xF7 ? 4 : 0;
        if (need == 0) {
            r.invalid = true;
            return r;
        }
        if (n - i < need) {
            r.remaining = uint32_t(n - i);
            return r;
        }
        for (size_t k = 1; k < need; ++k)
            if (!follower(in[i + k])) {
                r.invalid = true;
                return r;
            }
        uint32_t cp = need == 2 ? ((b0 - 0xC0) << 6) | (in[i + 1] - 0x80)
                    : need == 3 ? ((b0 & 0xF) << 12) | ((in[i + 1] & 0x3F) << 6) |
                                      (in[i + 2] & 0x3F)
                                : ((b0 & 7) << 18) | ((in[i + 1] & 0x3F) << 12) |
                                      ((in[i + 2] & 0x3F) << 6) | (in[i + 3] & 0x3F);
        if ((cp >= 0xDC00 && cp <= 0xDCFF && need == 3) || cp > 0x10FFFF) {
            r.invalid = true;
            return r;
        }
        add(cp);
        i += need;
    }
    return r;
}

TEST_F(TextAudit, LoadUtf8FollowsItsRules) {
    std::mt19937 rng(5);
    const uint8_t mixed[] = {'a', 'b', '\r', '\n', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0,
                             0x9F, 0x98, 0x80, 0xED, 0xB0, 0xA0, 0xC0, 0xFF, 0xEF, 0xBB,
                             0xBF, 0xF4, 0x90, 0xC4, 0x8F, 0xF8, 'z', 'z', 'z', 'z'};
    const uint8_t line_ends[] = {'x', 'y', '\r', '\n'};
    for (int iter = 0; iter < 4000; ++iter) {
        // Every other input is mostly ASCII with line ends, in runs long enough for the
        // eight-bytes-at-a-time path.
        std::vector<uint8_t> in(rng() % 70);
        for (auto& b : in)
            b = iter % 2 && rng() % 8 ? line_ends[rng() % 4] : mixed[rng() % sizeof mixed];
        if (rng() % 4 == 0 && in.size() >= 3) {
            in[0] = 0xEF;
            in[1] = 0xBB;
            in[2] = 0xBF;
        }
        bool crlf = rng() % 2;
        bool into_text = rng() % 2;  // else into a new buffer
        Text start{into_text ? 1u << (rng() % 3) : 1u, Units(into_text ? rng() % 4 : 0, 'p')};
        Loaded want = load_by_the_rules(in, crlf, start);

        collector::Root text(Cell{T_STRING, 0, make_text(start.units, start.unit), 0});
        uint32_t remaining = 77;
        if (want.invalid) stack::mark_try(nullptr);
        uint32_t code = unwind_code([&] {
            unicode::load_utf8_into(in.data(), uint32_t(in.size()), text.get(), crlf, &remaining);
        });
        if (want.invalid) {
            ASSERT_EQ(code, THROW_ERROR) << "iteration " << iter;
            EXPECT_EQ(error::id_word(stack::top_value()), "invalid-utf8");
        } else {
            ASSERT_EQ(code, 0u) << "iteration " << iter;
            ASSERT_EQ(remaining, want.remaining) << "iteration " << iter;
        }
        ASSERT_EQ(read_text(text->data2), want.text) << "iteration " << iter;
    }
}

}  // namespace
}  // namespace kov
