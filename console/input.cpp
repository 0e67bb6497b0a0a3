// Reading the console's input lines (see input.hpp). Standard input is read in blocks into one
// buffer shared by the line reader and the raw reader, so that bytes read ahead for a line are
// never lost to a later raw read.
#include "console/input.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "console/terminal.hpp"
#include "core/output.hpp"
#include "datatypes/block.hpp"
#include "datatypes/string.hpp"
#include "platform/console_io.hpp"

namespace kov::console {

namespace {

std::string pending;     // bytes read from standard input and not handed out yet
bool input_ended = false;  // the end of input (or a lasting failure) was met
bool last_entered = false;  // the last line came from the editor's Enter (not Esc, Ctrl-C, ...)

// Reads more bytes into `pending`; false at the end of input.
bool fill() {
    if (input_ended) return false;
    char chunk[4096];
    for (int failures = 0;;) {
        ssize_t n = ::read(0, chunk, sizeof chunk);
        if (n > 0) {
            pending.append(chunk, size_t(n));
            return true;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN) && ++failures < 100) continue;
        input_ended = true;
        return false;
    }
}

// Appends the UTF-8 encoding of a code point.
void put_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// The bytes as well-formed UTF-8: each invalid sequence (a stray continuation byte, a bad lead
// byte, a cut or overlong sequence, a surrogate) becomes U+FFFE.
std::string sanitise(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    size_t i = 0;
    while (i < in.size()) {
        uint8_t b = uint8_t(in[i]);
        if (b < 0x80) {
            out += char(b);
            i++;
            continue;
        }
        int len = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        char32_t c = len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        bool ok = len != 0 && i + size_t(len) <= in.size();
        for (int k = 1; ok && k < len; k++) {
            uint8_t t = uint8_t(in[i + size_t(k)]);
            if ((t & 0xC0) != 0x80) ok = false;
            c = (c << 6) | (t & 0x3F);
        }
        if (ok) {
            static const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
            if (c < least[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) ok = false;
        }
        if (ok) {
            put_utf8(out, c);
            i += size_t(len);
        } else {
            put_utf8(out, 0xFFFE);
            i++;
        }
    }
    return out;
}

}  // namespace

bool entered_q() { return last_entered; }

bool stdin_terminal_q() { return console_io::is_terminal(0); }

namespace {

// Valid UTF-8 (as sanitise gives) to code points.
std::u32string to_u32(std::string_view text) {
    std::u32string out;
    for (size_t i = 0; i < text.size();) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        int len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        char32_t c = len == 1 ? b : len == 2 ? b & 0x1F : len == 3 ? b & 0x0F : b & 0x07;
        for (int k = 1; k < len && i + size_t(k) < text.size(); k++)
            c = (c << 6) | (static_cast<unsigned char>(text[i + size_t(k)]) & 0x3F);
        out.push_back(c);
        i += size_t(len);
    }
    return out;
}

std::string to_utf8(const std::u32string& text) {
    std::string out;
    for (char32_t c : text) put_utf8(out, c);
    return out;
}

// The line editor on a terminal: the history block's strings (newest first) are browsed from a
// copy, since the console adds the entered line itself. Esc gives the line with character 27 at
// its end, Ctrl-C and Ctrl-D the line "q", a listing Tab an empty line.
bool edit_line(std::string_view prompt, const Cell* history, bool hide, std::string& out) {
    std::vector<std::u32string> lines;
    if (history && history->is(T_BLOCK)) {
        Cell blk = *history;
        for (Cell *c = block::ks_head(&blk), *end = block::ks_tail(&blk); c < end; c++)
            if (c->is(T_STRING)) lines.push_back(to_u32(sanitise(string::to_utf8(c))));
    }
    output::flush();
    terminal::ReadResult r = terminal::read_line(to_u32(sanitise(prompt)), &lines, hide);
    out = to_utf8(r.line);
    last_entered = r.outcome == line_editor::Outcome::Line;
    return true;
}

}  // namespace

bool read_line(std::string_view prompt, const Cell* history, std::string& out, bool hide) {
    out.clear();
    last_entered = false;
    static bool terminal_ready = false;
    if (!terminal_ready) {
        terminal::init(0, 1);
        terminal_ready = true;
    }
    if (pending.empty() && terminal::interactive()) return edit_line(prompt, history, hide, out);
    if (stdin_terminal_q() && !prompt.empty()) {
        output::flush();
        console_io::write_all(1, prompt.data(), prompt.size());
    } else {
        output::flush();
    }
    size_t from = 0;
    for (;;) {
        size_t nl = pending.find('\n', from);
        if (nl != std::string::npos) {
            out = sanitise(std::string_view(pending).substr(0, nl));
            pending.erase(0, nl + 1);
            return true;
        }
        from = pending.size();
        if (!fill()) break;
    }
    if (pending.empty()) return false;
    out = sanitise(pending);
    pending.clear();
    return true;
}

size_t read_stdin(void* into, size_t n) {
    if (n == 0) return 0;
    if (pending.empty() && !fill()) return 0;
    size_t k = pending.size() < n ? pending.size() : n;
    std::memcpy(into, pending.data(), k);
    pending.erase(0, k);
    return k;
}

void reset_input() {
    pending.clear();
    input_ended = false;
}

}  // namespace kov::console
