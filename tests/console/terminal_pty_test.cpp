// The terminal layer end to end: a small program reads lines through a pseudo-terminal while
// the test types at it, answers its cursor-position query and checks the modes it leaves.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "console/terminal.hpp"
#include "tests/console/vt_screen.hpp"

namespace {

long now_ms() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return long(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// The probe on a pseudo-terminal of 40 columns and 24 rows.
struct PtySession {
    int master = -1;
    pid_t pid = -1;
    std::string output;  // everything the probe wrote
    bool answer_position = true;
    size_t queries_answered = 0;
    int status = 0;

    explicit PtySession(const char* count, bool answer = true, const char* mode = nullptr)
        : answer_position(answer) {
        winsize ws{};
        ws.ws_col = 40;
        ws.ws_row = 24;
        pid = ::forkpty(&master, nullptr, nullptr, &ws);
        if (pid == 0) {
            if (mode && std::strcmp(mode, "nohup") == 0) ::signal(SIGHUP, SIG_IGN);
            ::execl(KOV_LINE_PROBE, KOV_LINE_PROBE, count, mode, static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~PtySession() {
        if (pid > 0 && ::waitpid(pid, &status, WNOHANG) == 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        if (master >= 0) ::close(master);
    }

    // Reads until the output holds `text` (after `from`), answering cursor-position queries;
    // false after 5 seconds.
    bool wait_for(const std::string& text, size_t from = 0) {
        long deadline = now_ms() + 5000;
        for (;;) {
            if (answer_position) {
                size_t q = 0, seen = 0;
                while ((q = output.find("\x1b[6n", q)) != std::string::npos) ++seen, q += 4;
                for (; queries_answered < seen; ++queries_answered)
                    EXPECT_EQ(::write(master, "\x1b[5;1R", 6), 6);
            }
            if (output.find(text, from) != std::string::npos) return true;
            long left = deadline - now_ms();
            if (left <= 0) return false;
            pollfd pfd{master, POLLIN, 0};
            if (::poll(&pfd, 1, int(left)) <= 0) continue;
            char buf[512];
            ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) return output.find(text, from) != std::string::npos;
            output.append(buf, size_t(n));
        }
    }
    void type(const std::string& bytes) {
        EXPECT_EQ(::write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    // Waits up to 5 seconds for the probe to end.
    bool wait_exit() {
        long deadline = now_ms() + 5000;
        while (now_ms() < deadline) {
            char buf[512];
            pollfd pfd{master, POLLIN, 0};
            if (::poll(&pfd, 1, 20) > 0) {
                ssize_t n = ::read(master, buf, sizeof buf);
                if (n > 0) output.append(buf, size_t(n));
            }
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return true;
            }
        }
        return false;
    }
    termios modes() const {
        termios t{};
        EXPECT_EQ(::tcgetattr(master, &t), 0);
        return t;
    }
};

bool raw(const termios& t) { return !(t.c_lflag & (ICANON | ECHO | ISIG)) && !(t.c_iflag & ICRNL); }
bool cooked(const termios& t) { return (t.c_lflag & (ICANON | ECHO | ISIG)) == (ICANON | ECHO | ISIG); }

TEST(TerminalPty, ReadsTwoLinesAndRestoresTheModes) {
    PtySession s("2");
    ASSERT_GT(s.pid, 0);
    ASSERT_TRUE(s.wait_for("\x1b]0;Kov Probe\x07")) << s.output;
    ASSERT_TRUE(s.wait_for(">> ")) << s.output;
    EXPECT_TRUE(raw(s.modes()));
    s.type("hello\r");
    ASSERT_TRUE(s.wait_for("[restored] 1:hello|")) << s.output;
    size_t mark = s.output.size();
    ASSERT_TRUE(s.wait_for(">> ", mark)) << s.output;
    // An edit: "wod", Left, "r".
    s.type("wod\x1b[Dr");
    s.type("\r");
    ASSERT_TRUE(s.wait_for("[restored] 1:word|")) << s.output;
    ASSERT_TRUE(s.wait_exit()) << s.output;
    EXPECT_TRUE(WIFEXITED(s.status) && WEXITSTATUS(s.status) == 0);
    EXPECT_NE(s.output.find("history 2"), std::string::npos) << s.output;
    EXPECT_TRUE(cooked(s.modes()));
    EXPECT_EQ(s.queries_answered, 2u);
}

TEST(TerminalPty, PastedLinesAndKeysEndingAnEdit) {
    PtySession s("5");
    ASSERT_GT(s.pid, 0);
    ASSERT_TRUE(s.wait_for(">> ")) << s.output;
    // Two lines in one write: the second stays queued while the modes change between reads.
    s.type("one\rtwo\r");
    ASSERT_TRUE(s.wait_for("[restored] 1:two|")) << s.output;
    EXPECT_NE(s.output.find("[restored] 1:one|"), std::string::npos) << s.output;
    // Up shows the newest line; a lone Esc cancels after its timeout.
    size_t mark = s.output.size();
    ASSERT_TRUE(s.wait_for(">> ", mark)) << s.output;
    s.type("\x1b[A!");
    s.type("\x1b");
    ASSERT_TRUE(s.wait_for("[restored] 2:two!\x1b|")) << s.output;
    // Ctrl-C and Ctrl-D give "q" (no signal: the editor reads them as keys).
    mark = s.output.size();
    ASSERT_TRUE(s.wait_for(">> ", mark)) << s.output;
    s.type("abc\x03");
    ASSERT_TRUE(s.wait_for("[restored] 3:q|")) << s.output;
    mark = s.output.size();
    ASSERT_TRUE(s.wait_for(">> ", mark)) << s.output;
    s.type("\x04");
    ASSERT_TRUE(s.wait_for("[restored] 4:q|")) << s.output;
    ASSERT_TRUE(s.wait_exit()) << s.output;
    EXPECT_TRUE(WIFEXITED(s.status) && WEXITSTATUS(s.status) == 0);
    EXPECT_NE(s.output.find("history 2"), std::string::npos) << s.output;
    EXPECT_TRUE(cooked(s.modes()));
}

TEST(TerminalPty, NoPositionAnswerFallsBackToColumnZero) {
    PtySession s("1", false);
    ASSERT_GT(s.pid, 0);
    ASSERT_TRUE(s.wait_for(">> ")) << s.output;
    s.type("abc\r");
    ASSERT_TRUE(s.wait_for("[restored] 1:abc|")) << s.output;
    ASSERT_TRUE(s.wait_exit()) << s.output;
    EXPECT_TRUE(cooked(s.modes()));
}

TEST(TerminalPty, WindowSizeChangeReachesTheEditor) {
    PtySession s("1");
    ASSERT_GT(s.pid, 0);
    ASSERT_TRUE(s.wait_for(">> ")) << s.output;
    winsize ws{};
    ws.ws_col = 20;
    ws.ws_row = 24;
    ASSERT_EQ(::ioctl(s.master, TIOCSWINSZ, &ws), 0);
    s.type("abcdefghijklmnopqrstuvwxyz\x1b[HX");
    ASSERT_TRUE(s.wait_for("X")) << s.output;
    s.type("\x1b[F!");
    ASSERT_TRUE(s.wait_for("!")) << s.output;
    kov::testing::VtScreen screen(20, 24);
    screen.write(s.output);
    EXPECT_EQ(screen.lines(), (std::vector<std::string>{">> Xabcdefghijklmnop", "qrstuvwxyz!"}));
    EXPECT_EQ(screen.row, 1);
    EXPECT_EQ(screen.col, 11);
    s.type("\r");
    ASSERT_TRUE(s.wait_for("[restored] 1:Xabcdefghijklmnopqrstuvwxyz!|")) << s.output;
    ASSERT_TRUE(s.wait_exit()) << s.output;
}

TEST(TerminalPty, ExitDuringAnEditRestoresTheModes) {
    PtySession s("1", true, "exit-on-tab");
    ASSERT_GT(s.pid, 0);
    ASSERT_TRUE(s.wait_for(">> ")) << s.output;
    EXPECT_TRUE(raw(s.modes()));
    s.type("ab\t");
    ASSERT_TRUE(s.wait_exit()) << s.output;
    EXPECT_TRUE(WIFEXITED(s.status) && WEXITSTATUS(s.status) == 3) << s.status;
    EXPECT_TRUE(cooked(s.modes()));
}

// quit-return ends the process without the C runtime's exit handlers: the modes come back all
// the same.
TEST(TerminalPty, QuitReturnDuringAnEditRestoresTheModes) {
    PtySession s("1", true, "quit-on-tab");
    ASSERT_GT(s.pid, 0);
    ASSERT_TRUE(s.wait_for(">> ")) << s.output;
    EXPECT_TRUE(raw(s.modes()));
    s.type("ab\t");
    ASSERT_TRUE(s.wait_exit()) << s.output;
    EXPECT_TRUE(WIFEXITED(s.status) && WEXITSTATUS(s.status) == 4) << s.status;
    EXPECT_TRUE(cooked(s.modes()));
}

TEST(TerminalPty, SignalsRestoreTheModes) {
    for (int sig : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) {
        SCOPED_TRACE(sig);
        PtySession s("1");
        ASSERT_GT(s.pid, 0);
        ASSERT_TRUE(s.wait_for(">> ")) << s.output;
        s.type("ab");
        ASSERT_TRUE(s.wait_for("ab")) << s.output;
        EXPECT_TRUE(raw(s.modes()));
        ::kill(s.pid, sig);
        ASSERT_TRUE(s.wait_exit());
        EXPECT_TRUE(WIFSIGNALED(s.status) && WTERMSIG(s.status) == sig) << s.status;
        EXPECT_TRUE(cooked(s.modes()));
    }
}

TEST(TerminalPty, AnIgnoredHangupStaysIgnored) {
    PtySession s("1", true, "nohup");
    ASSERT_GT(s.pid, 0);
    ASSERT_TRUE(s.wait_for(">> ")) << s.output;
    ::kill(s.pid, SIGHUP);
    s.type("x\r");
    ASSERT_TRUE(s.wait_for("[restored] 1:x|")) << s.output;
    ASSERT_TRUE(s.wait_exit()) << s.output;
    EXPECT_TRUE(WIFEXITED(s.status) && WEXITSTATUS(s.status) == 0) << s.status;
}

// In this process: an error from the completion hook leaves the edit with the modes and the
// signal handlers as they were, and the next edit works.
TEST(TerminalPty, AnErrorDuringAnEditRestoresTheTerminal) {
    namespace term = kov::terminal;
    int master = -1, slave = -1;
    winsize ws{};
    ws.ws_col = 40;
    ws.ws_row = 10;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, &ws), 0);
    termios before{};
    ASSERT_EQ(::tcgetattr(slave, &before), 0);
    struct sigaction int_before {};
    ::sigaction(SIGINT, nullptr, &int_before);
    term::init(slave, slave);
    EXPECT_TRUE(term::interactive());
    // The answer to the position query, then the keys (queued before the edit begins).
    const std::string keys = "\x1b[1;1Rab\t";
    ASSERT_EQ(::write(master, keys.data(), keys.size()), ssize_t(keys.size()));
    std::vector<std::u32string> history;
    kov::line_editor::Completer fail = [](const std::u32string&, size_t)
        -> std::optional<kov::line_editor::Completion> { throw std::runtime_error("hook failed"); };
    EXPECT_THROW(term::read_line(U">> ", &history, false, fail), std::runtime_error);
    EXPECT_FALSE(term::in_raw_mode());
    termios after{};
    ASSERT_EQ(::tcgetattr(slave, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(std::memcmp(after.c_cc, before.c_cc, sizeof after.c_cc), 0);
    struct sigaction int_after {};
    ::sigaction(SIGINT, nullptr, &int_after);
    EXPECT_EQ(int_after.sa_handler, int_before.sa_handler);
    // The next edit starts afresh (the line feed of cooked input enters it).
    const std::string more = "\x1b[1;1Rcd\r";
    ASSERT_EQ(::write(master, more.data(), more.size()), ssize_t(more.size()));
    term::ReadResult r = term::read_line(U">> ", &history);
    EXPECT_EQ(r.outcome, kov::line_editor::Outcome::Line);
    EXPECT_EQ(r.line, U"cd");
    EXPECT_EQ(history, std::vector<std::u32string>{U"cd"});
    term::init(0, 1);
    ::close(slave);
    ::close(master);
}

}  // namespace
