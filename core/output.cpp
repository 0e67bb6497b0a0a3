// Console output: hooks, the console printer and its writers, and the escape-sequence reader.
//
// Text is encoded to UTF-8 into a 1,024-byte buffer that goes out with one write(2) whenever more
// than 1,020 bytes are in it, and at the end of each print. Line ends are LF; on a terminal the
// terminal driver adds the CR.
//
// On a terminal the escape sequences keep the console's meaning: the sequence is read with the
// console's rules and the terminal gets the sequence that does the same. Most go through
// unchanged (SGR colours, cursor moves, erase to the end of the line); the others are translated:
// cursor positioning takes the column first and counts from 0, erasing with J and K and 2J also
// move the cursor or cover whole rows, and sequences that the console does not know, a zero
// move and an SGR without a number do nothing.
#include "core/output.hpp"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/memory.hpp"
#include "core/runtime.hpp"
#include "platform/console_io.hpp"
#include "tui/tui.hpp"

namespace kov::output {

char format_buffer[64];

namespace {

constexpr uint32_t ESC = 27;
constexpr uint32_t BUFFER_SIZE = 1024;
constexpr uint32_t BUFFER_FLUSH_AT = 1020;  // more than this many bytes are written out

int out_fd = 1;
bool console = false;
int32_t default_attr = 0x07;
uint8_t buffer[BUFFER_SIZE];
uint32_t fill = 0;

std::vector<PrintHook> print_hooks;
std::vector<RawHook> raw_hooks;

void put_bytes(const void* bytes, size_t n) {
    if (fill + n > BUFFER_SIZE) flush();
    if (n > BUFFER_SIZE) {
        console_io::write_all(out_fd, bytes, n);
        return;
    }
    std::memcpy(buffer + fill, bytes, n);
    fill += uint32_t(n);
    if (fill > BUFFER_FLUSH_AT) flush();  // room stays for one more encoded character
}

void put_text(const char* s) { put_bytes(s, std::strlen(s)); }

void put_number(int64_t n) {
    char digits[24];
    auto r = std::to_chars(digits, digits + sizeof digits, n);
    put_bytes(digits, size_t(r.ptr - digits));
}

// One code point as UTF-8. Code points beyond Unicode cannot be encoded and print as U+FFFD.
inline void put_code_point(uint32_t cp) {
    uint8_t* out = buffer + fill;
    if (cp < 0x80) {
        out[0] = uint8_t(cp);
        fill += 1;
    } else if (cp < 0x800) {
        out[0] = uint8_t(0xC0 | (cp >> 6));
        out[1] = uint8_t(0x80 | (cp & 0x3F));
        fill += 2;
    } else if (cp < 0x10000) {
        out[0] = uint8_t(0xE0 | (cp >> 12));
        out[1] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
        out[2] = uint8_t(0x80 | (cp & 0x3F));
        fill += 3;
    } else if (cp <= 0x10FFFF) {
        out[0] = uint8_t(0xF0 | (cp >> 18));
        out[1] = uint8_t(0x80 | ((cp >> 12) & 0x3F));
        out[2] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
        out[3] = uint8_t(0x80 | (cp & 0x3F));
        fill += 4;
    } else {
        out[0] = 0xEF;
        out[1] = 0xBF;
        out[2] = 0xBD;
        fill += 3;
    }
    if (fill > BUFFER_FLUSH_AT) flush();
}

template <uint32_t U> inline uint32_t unit_at(const uint8_t* p, uint32_t i) {
    if constexpr (U == 1) {
        return p[i];
    } else if constexpr (U == 2) {
        uint16_t v;
        std::memcpy(&v, p + 2 * size_t(i), 2);
        return v;
    } else {
        uint32_t v;
        std::memcpy(&v, p + 4 * size_t(i), 4);
        return v;
    }
}

uint32_t read_unit(const uint8_t* p, uint32_t i, uint32_t unit) {
    switch (unit) {
    case 1: return unit_at<1>(p, i);
    case 2: return unit_at<2>(p, i);
    default: return unit_at<4>(p, i);
    }
}

template <uint32_t U> void write_text(const uint8_t* p, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t cp = unit_at<U>(p, i);
        if (cp == ESC && console) {
            uint32_t taken = emulate_escape(p + size_t(i) * U, count - i, U);
            if (taken > 0) {
                i += taken - 1;
                continue;
            }
        }
        // The console takes the units as UTF-16 and shows a high surrogate followed by a low
        // surrogate as the one character they encode; the terminal reads UTF-8, so such a pair
        // is joined first. Redirected output keeps every unit as a code point of its own.
        if constexpr (U != 1) {
            if (console && cp >= 0xD800 && cp <= 0xDBFF && i + 1 < count) {
                uint32_t low = unit_at<U>(p, i + 1);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
        }
        put_code_point(cp);
    }
}

// The SGR codes that the console knows; the terminal carries each out itself.
bool known_sgr(int32_t code) {
    return code == 0 || code == 1 || code == 4 || code == 7 || (code >= 30 && code <= 37) ||
           code == 39 || (code >= 40 && code <= 47) || code == 49;
}

// Writes ESC "[" code ";" code ... "m" for the known codes among `codes`; nothing when none is.
void put_sgr(const int32_t* codes, size_t count) {
    bool any = false;
    for (size_t i = 0; i < count; ++i) {
        if (!known_sgr(codes[i])) continue;
        put_text(any ? ";" : "\x1b[");
        put_number(codes[i]);
        any = true;
    }
    if (any) put_text("m");
}

void put_screen_info() {
    int columns = 0, rows = 0;
    console_io::terminal_size(out_fd, columns, rows);
    put_text("Screen buffer info:\n   size______ ");
    put_number(columns);
    put_text("x");
    put_number(rows);
    put_text("\n   cursor____ unknown\n   attribute_ ");
    put_number(default_attr);
    put_text("\n   left______ 0 top: 0\n   right_____ ");
    put_number(columns > 0 ? columns - 1 : 0);
    put_text(" bottom: ");
    put_number(rows > 0 ? rows - 1 : 0);
    put_text("\n   max_______ ");
    put_number(columns);
    put_text("x");
    put_number(rows);
    put_text("\n");
}

}  // namespace

// ---- Hooks ----

void init_hooks() {
    print_hooks.clear();
    raw_hooks.clear();
    print_hooks.push_back(&print_to_console);
}

void add_hooks(PrintHook print, RawHook raw) {
    if (print) print_hooks.push_back(print);
    if (raw) raw_hooks.push_back(raw);
}

void remove_hooks(PrintHook print, RawHook raw) {
    if (print) {
        for (size_t i = 0; i < print_hooks.size(); ++i)
            if (print_hooks[i] == print) {
                print_hooks.erase(print_hooks.begin() + ptrdiff_t(i));
                break;
            }
    }
    if (raw) {
        for (size_t i = 0; i < raw_hooks.size(); ++i)
            if (raw_hooks[i] == raw) {
                raw_hooks.erase(raw_hooks.begin() + ptrdiff_t(i));
                break;
            }
    }
}

// By index, so that a hook may add or remove hooks while the list is being called.
bool last_new_line = true;

void call_print_hooks(const Cell* text, bool new_line) {
    for (size_t i = 0; i < print_hooks.size(); ++i) print_hooks[i](text, new_line);
}

void call_raw_hooks(const void* buf, uint32_t length, uint32_t unit) {
    for (size_t i = 0; i < raw_hooks.size(); ++i) raw_hooks[i](buf, length, unit);
}

// ---- Console printer and writers ----

void init_console(int fd) {
    flush();
    out_fd = fd;
    console = console_io::is_terminal(fd);
}

bool console_q() { return console; }

void read_console_attributes() { default_attr = 0x07; }

int32_t default_attribute() { return default_attr; }

void flush() {
    if (fill == 0) return;
    uint32_t n = fill;
    fill = 0;
    console_io::write_all(out_fd, buffer, n);
}

void print_to_console(const Cell* text, bool new_line) {
    tui::suspend_for_output();
    std::fflush(stdout);  // what was written through stdio goes first
    Handle node = text->data2;
    if (node != 0) {
        SeriesBuffer* buf = memory::buffer_of(node);
        uint32_t unit = buf->unit();
        if (unit == 1 || unit == 2 || unit == 4) {
            uint64_t head = uint64_t(buf->head) + (uint64_t(text->data1) << buf->shift());
            uint32_t length = head < buf->tail ? uint32_t(buf->tail - head) : 0;
            write_units(buf->data() + head, length, unit, new_line);
        } else {
            char message[48] = "Error: unknown string encoding: ";
            size_t at = std::strlen(message);
            auto r = std::to_chars(message + at, message + sizeof message - 1, unit);
            *r.ptr = 0;
            write_c_string(message);
        }
    }
    std::fflush(stdout);
    tui::resume_after_output();
}

void write_units(const void* units, uint32_t length, uint32_t unit, bool new_line) {
    const auto* p = static_cast<const uint8_t*>(units);
    switch (unit) {
    case 1: write_text<1>(p, length); break;
    case 2: write_text<2>(p, length / 2); break;
    case 4: write_text<4>(p, length / 4); break;
    default: runtime::runtime_error(FATAL_NO_SWITCH, 0);
    }
    if (new_line) put_code_point('\n');
    flush();
}

void write_c_string(const char* text) {
    size_t n = std::strlen(text);
    put_bytes(text, n);
    flush();
    call_raw_hooks(text, uint32_t(n), 0);
}

void write_buffer(uint32_t n) {
    if (n > sizeof format_buffer) n = sizeof format_buffer;
    put_bytes(format_buffer, n);
    flush();
    call_raw_hooks(format_buffer, n, 0);
}

// ---- Console control ----

CursorPosition clamp_cursor(int32_t column, int32_t row, int32_t columns, int32_t rows) {
    if (column < 0) column = 0;
    if (row < 0) row = 0;
    if (columns > 0 && column > columns - 1) column = columns - 1;
    if (rows > 0 && row > rows - 1) row = rows - 1;
    return {column, row};
}

void save_cursor() { put_text("\x1b[s"); }

void restore_cursor() { put_text("\x1b[u"); }

void set_cursor(int32_t column, int32_t row) {
    int columns = 0, rows = 0;
    console_io::terminal_size(out_fd, columns, rows);
    CursorPosition at = clamp_cursor(column, row, columns, rows);
    put_text("\x1b[");
    put_number(int64_t(at.row) + 1);
    put_text(";");
    put_number(int64_t(at.column) + 1);
    put_text("H");
}

void move_cursor(char direction, uint32_t n) {
    if (n == 0) return;
    put_text("\x1b[");
    put_number(n);
    put_bytes(&direction, 1);
}

void erase(int32_t mode) {
    switch (mode) {
    case 0: put_text("\x1b[2K\x1b[J"); break;
    // Up one row, to its last column, erase from the top: the cursor's row stays as it is.
    case 1: put_text("\x1b[s\x1b[1A\x1b[9999C\x1b[1J\x1b[u"); break;
    case 2: put_text("\x1b[2J\x1b[H"); break;
    case 3: put_text("\x1b[2K\r"); break;
    case 4: put_text("\x1b[K"); break;
    case 5: put_text("\x1b[1K\r"); break;
    default: break;
    }
}

int32_t sgr_attribute(int32_t a, int32_t code) {
    // Console colour bits of the ANSI colours 0-7 (bit 0 blue, bit 1 green, bit 2 red).
    static constexpr int32_t colour[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    if (code == 0) return default_attr;
    if (code == 1) return a | 0x88;
    if (code == 4) return a | 0x8000;
    if (code == 7) return ((a & 0x0F) << 4) | ((a >> 4) & 0x0F);
    if (code >= 30 && code <= 37) return (a & 0xF8) | colour[code - 30];
    if (code == 39) return a | 0x08;
    if (code >= 40 && code <= 47) return (a & 0x8F) | (colour[code - 40] << 4);
    if (code == 49) return a | 0x80;
    return a;
}

uint32_t emulate_escape(const void* text, uint32_t left, uint32_t unit) {
    const auto* p = static_cast<const uint8_t*>(text);
    if (left < 2 || read_unit(p, 1, unit) != '[') return 0;
    // SGR codes read so far; they take effect only when the sequence ends with "m".
    std::vector<int32_t> codes;
    uint32_t n = 0, m = 0;
    int state = 1;
    uint32_t i = 2;
    while (i < left) {
        uint32_t c = read_unit(p, i++, unit);
        bool digit = c >= '0' && c <= '9';
        switch (state) {
        case 1:
            if (digit) {
                n = c - '0';
                state = 2;
                continue;
            }
            if (c == ';') continue;
            if (c == 's') save_cursor();
            else if (c == 'u') restore_cursor();
            else if (c == 'K') erase(4);
            else if (c == 'J') erase(0);
            else if (c == 'H' || c == 'f') put_text("\x1b[H");
            else if (c == '?') put_screen_info();
            return i;
        case 2:
            if (digit) {
                n = (n * 10 + (c - '0')) % 65535;
                continue;
            }
            if (c == ';') {
                state = 3;
                continue;
            }
            if (c == 'm') {
                codes.push_back(int32_t(n));
                put_sgr(codes.data(), codes.size());
            } else if (c == 'A' || c == 'B' || c == 'C' || c == 'D') {
                move_cursor(char(c), n);
            } else if (c == 'J') {
                if (n == 1) erase(1);
                else if (n == 2) erase(2);
            } else if (c == 'K') {
                if (n == 1) erase(5);
                else if (n == 2) erase(3);
            }
            return i;
        case 3:
            if (digit) {
                m = c - '0';
                state = 4;
                continue;
            }
            if (c == ';') continue;
            return i;
        default:  // 4
            if (digit) {
                m = (m * 10 + (c - '0')) % 65535;
                continue;
            }
            if (c == 'm' || c == ';') {
                codes.push_back(int32_t(n));
                codes.push_back(int32_t(m));
                if (c == 'm') {
                    put_sgr(codes.data(), codes.size());
                    return i;
                }
                n = m = 0;
                state = 1;
                continue;
            }
            if (c == 'H' || c == 'f') set_cursor(int32_t(n), int32_t(m));
            return i;
        }
    }
    return i;  // the text ended inside the sequence: all of it is taken
}

}  // namespace kov::output
