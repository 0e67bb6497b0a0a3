// The console's terminal layer on Linux: key decoding, raw mode and its restoring on every exit
// path, the window size and title, the cursor-position query that finds where a prompt begins,
// and the read loop that feeds decoded keys to the line editor and writes what it draws.
//
// Input is read one byte at a time, so that an edit never takes bytes beyond the Enter that ends
// it: the rest of a pasted text stays queued in the terminal for the next read. Bytes that
// arrive while the cursor position is asked for are kept and read first afterwards.
#include "console/terminal.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "core/runtime.hpp"
#include "platform/console_io.hpp"

namespace kov::terminal {

namespace le = line_editor;

// ---------------------------------------------------------------------------------------------
// Key decoding.

namespace {

constexpr int32_t REPLACEMENT = 0xFFFD;

// Sequence length from a UTF-8 lead byte; 0 for a byte that cannot begin one.
int lead_length(uint8_t b) {
    if (b < 0x80) return 1;
    if (b >= 0xC2 && b <= 0xDF) return 2;
    if (b >= 0xE0 && b <= 0xEF) return 3;
    if (b >= 0xF0 && b <= 0xF4) return 4;
    return 0;
}

// The code point of a complete UTF-8 sequence of `len` bytes (lead and continuation bytes
// already checked); -1 for an overlong form, a surrogate or a value above U+10FFFF.
int32_t decode_checked(const uint8_t* b, int len) {
    static constexpr uint32_t lead_mask[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    static constexpr uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
    uint32_t cp = b[0] & lead_mask[len];
    for (int i = 1; i < len; ++i) cp = (cp << 6) | (b[i] & 0x3F);
    if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
    return int32_t(cp);
}

int32_t ss3_key(uint8_t b) {
    switch (b) {
    case 'A': return le::KEY_UP;
    case 'B': return le::KEY_DOWN;
    case 'C': return le::KEY_RIGHT;
    case 'D': return le::KEY_LEFT;
    case 'H': return le::KEY_HOME;
    case 'F': return le::KEY_END;
    default: return le::KEY_NONE;
    }
}

int32_t csi_key(const std::string& params, uint8_t final) {
    // The letter forms are those of SS3 (their parameters, modifiers, are ignored).
    if (final != '~') return ss3_key(final);
    // "n~" or "n;m~" (m: modifiers, which these keys ignore).
    int n = 0;
    size_t i = 0;
    for (; i < params.size() && params[i] >= '0' && params[i] <= '9' && n < 1000; ++i)
        n = n * 10 + (params[i] - '0');
    if (i == 0 || (i < params.size() && params[i] != ';')) return le::KEY_NONE;
    switch (n) {
    case 1: case 7: return le::KEY_HOME;
    case 4: case 8: return le::KEY_END;
    case 2: return le::KEY_INSERT;
    case 3: return le::KEY_DELETE;
    case 5: return le::KEY_PAGE_UP;
    case 6: return le::KEY_PAGE_DOWN;
    default: return le::KEY_NONE;
    }
}

// A byte in the ground state (alt: it follows an Esc).
void ground_byte(KeyDecoder& d, uint8_t b, bool alt, std::vector<Key>& keys) {
    int len = lead_length(b);
    if (len == 1) {
        keys.push_back({int32_t(b), alt});
    } else if (len == 0) {
        keys.push_back({REPLACEMENT, alt});
    } else {
        d.state = KeyDecoder::State::Utf8;
        d.alt = alt;
        d.bytes[0] = b;
        d.have = 1;
        d.need = len;
    }
}

}  // namespace

void decode_byte(KeyDecoder& d, uint8_t b, std::vector<Key>& keys) {
    using S = KeyDecoder::State;
    switch (d.state) {
    case S::Ground:
        if (b == 27) {
            d.state = S::Esc;
            return;
        }
        return ground_byte(d, b, false, keys);
    case S::Esc:
        if (b == '[') {
            d.state = S::Csi;
            d.params.clear();
        } else if (b == 'O') {
            d.state = S::Ss3;
        } else if (b == 27) {
            keys.push_back({le::KEY_ESC, false});  // the first Esc stands alone; the second waits
        } else {
            d.state = S::Ground;
            ground_byte(d, b, true, keys);
        }
        return;
    case S::Csi:
        if (b >= 0x20 && b <= 0x3F) {
            if (d.params.size() < 32) d.params += char(b);
            return;
        }
        d.state = S::Ground;
        if (b >= 0x40 && b <= 0x7E) {
            keys.push_back({csi_key(d.params, b), false});
            return;
        }
        return decode_byte(d, b, keys);  // a cut sequence: the byte starts anew
    case S::Ss3:
        d.state = S::Ground;
        if (b >= 0x40 && b <= 0x7E) {
            keys.push_back({ss3_key(b), false});
            return;
        }
        return decode_byte(d, b, keys);
    case S::Utf8:
        if ((b & 0xC0) != 0x80) {
            // The sequence was cut: it gives U+FFFD and the byte starts anew.
            d.state = S::Ground;
            keys.push_back({REPLACEMENT, d.alt});
            return decode_byte(d, b, keys);
        }
        d.bytes[d.have++] = b;
        if (d.have < d.need) return;
        d.state = S::Ground;
        {
            int32_t cp = decode_checked(d.bytes, d.have);
            keys.push_back({cp >= 0 ? cp : REPLACEMENT, d.alt});
        }
        return;
    }
}

void decode_timeout(KeyDecoder& d, std::vector<Key>& keys) {
    if (d.state == KeyDecoder::State::Esc) keys.push_back({le::KEY_ESC, false});
    if (d.state != KeyDecoder::State::Utf8) d.state = KeyDecoder::State::Ground;
}

bool decoder_waiting(const KeyDecoder& d) {
    return d.state == KeyDecoder::State::Esc || d.state == KeyDecoder::State::Csi ||
           d.state == KeyDecoder::State::Ss3;
}

int take_position_report(std::string& bytes) {
    for (size_t at = bytes.rfind('\x1b'); at != std::string::npos;
         at = at == 0 ? std::string::npos : bytes.rfind('\x1b', at - 1)) {
        size_t i = at + 1;
        if (i >= bytes.size() || bytes[i] != '[') continue;
        ++i;
        long row = 0, col = 0;
        size_t digits = 0;
        for (; i < bytes.size() && bytes[i] >= '0' && bytes[i] <= '9' && digits < 6; ++i, ++digits)
            row = row * 10 + (bytes[i] - '0');
        if (digits == 0 || i >= bytes.size() || bytes[i] != ';') continue;
        ++i;
        digits = 0;
        for (; i < bytes.size() && bytes[i] >= '0' && bytes[i] <= '9' && digits < 6; ++i, ++digits)
            col = col * 10 + (bytes[i] - '0');
        if (digits == 0 || i >= bytes.size() || bytes[i] != 'R') continue;
        bytes.erase(at, i + 1 - at);
        return col > 0 ? int(col - 1) : 0;
    }
    return -1;
}

// ---------------------------------------------------------------------------------------------
// Terminal state, one for the process.

namespace {

struct TerminalState {
    int in_fd = 0;
    int out_fd = 1;
    bool interactive = false;
    bool position_answers = true;  // the terminal answered the cursor-position query so far
    termios saved{};
    std::deque<uint8_t> pending;   // bytes read ahead (typeahead around a position report)
    std::vector<Key> keys;         // decoded keys left over from the last edit
    KeyDecoder decoder;
    le::Editor editor;
    int winch_pipe[2] = {-1, -1};
    struct sigaction old_actions[5];
    bool handlers_installed = false;
    bool atexit_registered = false;
};

TerminalState g;

// What the signal handlers read.
volatile sig_atomic_t g_raw = 0;
int g_raw_fd = 0;
termios g_raw_saved{};
int g_winch_write = -1;

// The signals that end the process (the terminal is restored first), then SIGWINCH.
constexpr int SIGNALS[5] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGWINCH};
constexpr int EXIT_SIGNALS = 4;

void restore_now() {
    if (g_raw) {
        ::tcsetattr(g_raw_fd, TCSANOW, &g_raw_saved);
        g_raw = 0;
    }
}

// The title the terminal had is saved on its title stack before the first title is set and
// brought back when the process ends.
volatile sig_atomic_t g_title_pushed = 0;
int g_title_fd = 1;

// Every way out of the process: the modes, then the title.
void restore_at_exit() {
    restore_now();
    if (g_title_pushed) {
        g_title_pushed = 0;
        [[maybe_unused]] ssize_t r = ::write(g_title_fd, "\x1b[23;0t", 7);
    }
}

void on_exit_signal(int sig) {
    int saved_errno = errno;
    restore_at_exit();
    for (int i = 0; i < EXIT_SIGNALS; ++i)
        if (SIGNALS[i] == sig) ::sigaction(sig, &g.old_actions[i], nullptr);
    errno = saved_errno;
    ::raise(sig);  // delivered once this handler returns, to the previous disposition
}

void on_winch(int) {
    int saved_errno = errno;
    if (g_winch_write >= 0) {
        char b = 1;
        [[maybe_unused]] ssize_t r = ::write(g_winch_write, &b, 1);
    }
    errno = saved_errno;
}

void install_handlers() {
    if (g.handlers_installed) return;
    if (g.winch_pipe[0] < 0 && ::pipe2(g.winch_pipe, O_NONBLOCK | O_CLOEXEC) == 0)
        g_winch_write = g.winch_pipe[1];
    for (int i = 0; i <= EXIT_SIGNALS; ++i) {
        struct sigaction sa {};
        sa.sa_handler = SIGNALS[i] == SIGWINCH ? on_winch : on_exit_signal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SIGNALS[i] == SIGWINCH ? SA_RESTART : 0;
        ::sigaction(SIGNALS[i], &sa, &g.old_actions[i]);
        // A signal the process ignores (nohup) stays ignored: it cannot end the edit.
        if (SIGNALS[i] != SIGWINCH && g.old_actions[i].sa_handler == SIG_IGN &&
            !(g.old_actions[i].sa_flags & SA_SIGINFO))
            ::sigaction(SIGNALS[i], &g.old_actions[i], nullptr);
    }
    g.handlers_installed = true;
}

void remove_handlers() {
    if (!g.handlers_installed) return;
    for (int i = 0; i <= EXIT_SIGNALS; ++i) ::sigaction(SIGNALS[i], &g.old_actions[i], nullptr);
    g.handlers_installed = false;
}

void register_exit_hooks() {
    if (g.atexit_registered) return;
    std::atexit(restore_at_exit);
    runtime::restore_terminal = restore_at_exit;  // quit-return and fatal reports end by _Exit
    g.atexit_registered = true;
}

void drain_winch() {
    char buf[64];
    while (g.winch_pipe[0] >= 0 && ::read(g.winch_pipe[0], buf, sizeof buf) > 0) {
    }
}

long now_ms() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return long(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Reads one byte from the input (read-ahead bytes first). 1: a byte; 0: the input ended; -1: it
// failed. EINTR is retried.
int read_byte(uint8_t& b) {
    if (!g.pending.empty()) {
        b = g.pending.front();
        g.pending.pop_front();
        return 1;
    }
    for (;;) {
        ssize_t r = ::read(g.in_fd, &b, 1);
        if (r == 1) return 1;
        if (r == 0) return 0;
        if (errno == EINTR) continue;
        return -1;
    }
}

// Waits up to timeout_ms (-1: no limit) for input or a size change. 1: input is ready; 2: the
// size changed; 0: the time ran out; -1: poll failed.
int wait_input(int timeout_ms) {
    if (!g.pending.empty()) return 1;
    pollfd fds[2] = {{g.in_fd, POLLIN, 0}, {g.winch_pipe[0], POLLIN, 0}};
    int n = g.winch_pipe[0] >= 0 ? 2 : 1;
    for (;;) {
        int r = ::poll(fds, nfds_t(n), timeout_ms);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) return 0;
        if (n == 2 && (fds[1].revents & POLLIN)) return 2;
        return 1;
    }
}

void write_out(const std::string& bytes) {
    if (!bytes.empty()) console_io::write_all(g.out_fd, bytes.data(), bytes.size());
}

// The column where the cursor stands, from a cursor-position report; 0 when the terminal does
// not answer within the time (and from then on the question is not asked again).
int cursor_column() {
    if (!g.position_answers) return 0;
    write_out("\x1b[6n");
    std::string got;
    long deadline = now_ms() + 200;
    int col = -1;
    while (col < 0) {
        long left = deadline - now_ms();
        if (left <= 0) break;
        pollfd pfd{g.in_fd, POLLIN, 0};
        int r = ::poll(&pfd, 1, int(left));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        char buf[64];
        ssize_t n = ::read(g.in_fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got.append(buf, size_t(n));
        col = take_position_report(got);
    }
    // Whatever else came (typeahead) is read before newer input.
    for (auto it = got.rbegin(); it != got.rend(); ++it) g.pending.push_front(uint8_t(*it));
    if (col < 0) {
        g.position_answers = false;
        return 0;
    }
    return col;
}

void read_size_into_editor() {
    int cols = 0, rows = 0;
    if (window_size(cols, rows)) le::set_columns(g.editor, cols);
}

struct RawModeGuard {
    RawModeGuard() { raw_mode(); }
    ~RawModeGuard() { restore_mode(); }
    RawModeGuard(const RawModeGuard&) = delete;
    RawModeGuard& operator=(const RawModeGuard&) = delete;
};

}  // namespace

void init(int in_fd, int out_fd) {
    restore_mode();
    g.in_fd = in_fd;
    g.out_fd = out_fd;
    g.interactive = console_io::is_terminal(in_fd) && console_io::is_terminal(out_fd);
    g.position_answers = true;
    g.pending.clear();
    g.keys.clear();
    g.decoder = KeyDecoder{};
    g.editor.saved_line.clear();
    register_exit_hooks();
}

bool interactive() { return g.interactive; }

bool window_size(int& columns, int& rows) {
    if (console_io::terminal_size(g.out_fd, columns, rows)) return true;
    return console_io::terminal_size(g.in_fd, columns, rows);
}

bool set_title(std::string_view utf8) {
    if (!console_io::is_terminal(g.out_fd)) return false;
    std::string seq = "\x1b]0;";
    for (size_t i = 0; i < utf8.size(); ++i) {
        uint8_t b = uint8_t(utf8[i]);
        if (b < 0x20 || b == 0x7F) continue;
        // C1 controls in UTF-8 (C2 80 .. C2 9F).
        if (b == 0xC2 && i + 1 < utf8.size() && uint8_t(utf8[i + 1]) >= 0x80 &&
            uint8_t(utf8[i + 1]) <= 0x9F) {
            ++i;
            continue;
        }
        seq += char(b);
    }
    seq += '\x07';
    if (!g_title_pushed) {
        register_exit_hooks();
        seq.insert(0, "\x1b[22;0t");
        g_title_fd = g.out_fd;
        g_title_pushed = 1;
    }
    return console_io::write_all(g.out_fd, seq.data(), seq.size());
}

void raw_mode() {
    if (!g.interactive || g_raw) return;
    termios t{};
    if (::tcgetattr(g.in_fd, &t) != 0) return;
    g_raw_saved = t;
    g_raw_fd = g.in_fd;
    g.saved = t;
    t.c_iflag &= ~tcflag_t(BRKINT | ICRNL | INPCK | ISTRIP | IXON);
    t.c_lflag &= ~tcflag_t(ECHO | ICANON | IEXTEN | ISIG);
    t.c_cflag |= CS8;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    install_handlers();
    g_raw = 1;
    if (::tcsetattr(g.in_fd, TCSANOW, &t) != 0) {
        g_raw = 0;
        remove_handlers();
    }
}

void restore_mode() {
    restore_now();
    remove_handlers();
}

bool in_raw_mode() { return g_raw != 0; }

ReadResult read_plain_line() {
    ReadResult res{le::Outcome::Line, {}};
    bool any = false;
    uint8_t b;
    bool have = false;  // b holds a byte not yet used
    for (;;) {
        if (!have) {
            if (read_byte(b) != 1) break;
        }
        have = false;
        any = true;
        if (b == '\n') break;
        int len = lead_length(b);
        if (len <= 1) {
            res.line.push_back(len == 1 ? char32_t(b) : char32_t(0xFFFE));
            continue;
        }
        uint8_t seq[4] = {b};
        int got = 1;
        while (got < len) {
            if (read_byte(b) != 1) break;
            if ((b & 0xC0) != 0x80) {
                have = true;  // not part of the sequence: read anew
                break;
            }
            seq[got++] = b;
        }
        int32_t cp = got == len ? decode_checked(seq, len) : -1;
        res.line.push_back(cp >= 0 ? char32_t(cp) : char32_t(0xFFFE));
        if (!have && got < len) break;  // the input ended inside the sequence
    }
    if (!any) res = {le::Outcome::EndOfInput, {}};
    return res;
}

ReadResult read_line(const std::u32string& prompt, std::vector<std::u32string>* history, bool hide,
                     const le::Completer& complete) {
    if (!g.interactive) return read_plain_line();
    std::fflush(stdout);
    le::Editor& ed = g.editor;
    RawModeGuard raw;
    int start = cursor_column();
    int cols = 80, rows = 0;
    if (!window_size(cols, rows)) cols = 80;
    ed.complete = complete;
    ed.out.clear();
    le::begin(ed, prompt, history, hide, cols, start);
    write_out(ed.out);
    ed.out.clear();
    le::Outcome outcome = le::Outcome::Editing;
    while (outcome == le::Outcome::Editing) {
        if (g.keys.empty()) {
            int w = wait_input(decoder_waiting(g.decoder) ? ESC_TIMEOUT_MS : -1);
            if (w == 2) {
                drain_winch();
                read_size_into_editor();
                continue;
            }
            if (w == 0) {
                decode_timeout(g.decoder, g.keys);
            } else {
                uint8_t b;
                int r = w < 0 ? -1 : read_byte(b);
                if (r != 1) {
                    outcome = le::end_of_input(ed);
                    break;
                }
                decode_byte(g.decoder, b, g.keys);
            }
        }
        while (!g.keys.empty() && outcome == le::Outcome::Editing) {
            Key k = g.keys.front();
            g.keys.erase(g.keys.begin());
            // Alt with a key has no meaning in the editor.
            outcome = le::feed(ed, k.alt ? le::KEY_NONE : k.code);
            write_out(ed.out);
            ed.out.clear();
        }
    }
    write_out(ed.out);
    ed.out.clear();
    ed.complete = nullptr;
    return {outcome, ed.line};
}

}  // namespace kov::terminal
