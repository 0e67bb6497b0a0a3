// Loaders of the text and word tokens: strings, raw strings, chars, files, urls, emails, tags,
// refs, binaries, words, refinements and issues (see loaders.hpp).
#include <cstring>
#include <string>

#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"
#include "datatypes/file.hpp"
#include "datatypes/issue.hpp"
#include "datatypes/string.hpp"
#include "evaluator/lexer_tables.hpp"
#include "evaluator/loaders.hpp"

namespace kov::lexer {

namespace {

void append(State& s, const Cell& v) {
    uint32_t i = alloc_slot(s);
    Cell* c = cell_at(i);
    uint32_t flag = c->header & CELL_NEW_LINE;
    *c = v;
    c->header |= flag;
}

int hex_value(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool match_word(const uint8_t* p, const uint8_t* end, const char* word) {
    size_t n = std::strlen(word);
    if (size_t(end - p) < n) return false;
    for (size_t i = 0; i < n; i++)
        if ((p[i] | 0x20) != uint8_t(word[i])) return false;
    return true;
}

// One UTF-8 character at p: the code point (-1 when invalid); p moves past it.
int32_t utf8_char(const uint8_t*& p, const uint8_t* end) {
    if (*p < 0x80) return *p++;
    int32_t count = int32_t(end - p);
    int32_t cp = unicode::decode_utf8_status(p, count);
    if (cp < 0) return -1;
    p += count;
    return cp;
}

// Decodes text into code points; carets are escapes when `escapes`. False on a bad escape, bad
// UTF-8 or a code point above 0x10FFFF.
bool decode_text(const uint8_t* p, const uint8_t* end, bool escapes, std::u32string& out) {
    out.clear();
    while (p < end) {
        int32_t cp;
        if (escapes && *p == '^') {
            p++;
            if (p >= end) return false;
            cp = decode_escape(p, end);
        } else {
            cp = utf8_char(p, end);
        }
        if (cp < 0 || cp > 0x10FFFF) return false;
        out.push_back(char32_t(cp));
    }
    return true;
}

// Makes a text value of the given type from code points, in the narrowest unit that the token
// flags and the characters allow.
Cell make_text(uint32_t type, const std::u32string& chars, uint32_t flags) {
    uint32_t unit = (flags & F_UTF8_4) ? 4 : (flags & F_UTF8_2_3) ? 2 : 1;
    for (char32_t c : chars) {
        if (c > 0xFFFF) unit = 4;
        else if (c > 0xFF && unit == 1) unit = 2;
    }
    collector::Root r;
    string::make_at_unit(r.get(), uint32_t(chars.size()), unit);
    SeriesBuffer* b = memory::buffer_of(cells::series_node(*r));
    uint8_t* d = b->data() + b->head;
    for (size_t i = 0; i < chars.size(); i++) {
        uint32_t c = chars[i];
        std::memcpy(d + i * unit, &c, unit);
    }
    b->tail = b->head + uint32_t(chars.size()) * unit;
    r->header = (r->header & ~CELL_TYPE_MASK) | type;
    return *r;
}

// Loads [a, b) as a text of type `type`.
void text_token(State& s, const uint8_t* start, const uint8_t* end, const uint8_t* a,
                const uint8_t* b, uint32_t type, uint32_t flags, bool escapes, bool decode,
                bool load) {
    std::u32string chars;
    bool caret = escapes && (flags & F_CARET);
    if (!decode_text(a, b, caret, chars)) throw_error(s, start, end, int32_t(type));
    if (decode) {
        // The token's bytes are valid UTF-8 here; percent-decoding never fails.
        chars.clear();
        url::decode_bytes(a, size_t(b - a), chars);
    }
    if (!load) return;
    append(s, make_text(type, chars, flags));
}

}  // namespace

Cell make_word(uint32_t type, std::string_view name) {
    uint32_t sym = symbol::make(name);
    Cell w = *context::add_global_word(sym, true, false);
    w.data2 = sym;
    w.header = type;
    return w;
}

int32_t decode_escape(const uint8_t*& p, const uint8_t* end) {
    uint8_t c = *p++;
    switch (c) {
    case '(': {
        const uint8_t* q = p;
        // One or two hex digits and `)`.
        if (q + 1 < end && hex_value(q[0]) >= 0 && q[1] == ')') {
            p = q + 2;
            return hex_value(q[0]);
        }
        if (q + 2 < end && hex_value(q[0]) >= 0 && hex_value(q[1]) >= 0 && q[2] == ')') {
            p = q + 3;
            return hex_value(q[0]) * 16 + hex_value(q[1]);
        }
        static const struct { const char* name; int32_t cp; } named[] = {
            {"null)", 0}, {"back)", 8}, {"tab)", 9}, {"line)", 10}, {"page)", 12}, {"esc)", 27},
            {"del)", 127}};
        for (const auto& n : named) {
            if (match_word(q, end, n.name)) {
                p = q + std::strlen(n.name);
                return n.cp;
            }
        }
        int64_t v = 0;
        int digits = 0;
        while (q < end && hex_value(*q) >= 0) {
            v = v * 16 + hex_value(*q++);
            if (++digits > 6) return -1;
        }
        if (!digits || q >= end || *q != ')') return -1;
        p = q + 1;
        return int32_t(v);
    }
    case '"': return '"';
    case '-': return '\t';
    case '/': return '\n';
    case '^': return '^';
    case '{': return '{';
    case '}': return '}';
    case '~': return 127;
    case '@': return 0;
    default: break;
    }
    if (c >= 'a' && c <= 'z') return c - 'a' + 1;
    if (c >= 'A' && c <= '_') return c - 64;
    if (c >= 0x80) {
        p--;
        return utf8_char(p, end);
    }
    return c;
}

// ---- strings ----

void scan_string_token(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool) {
    s.pos = end + 1;
    if (!(flags & (F_CARET | F_UTF8_2_3 | F_UTF8_4))) return;
    std::u32string chars;
    if (!decode_text(start + 1, end, flags & F_CARET, chars)) throw_error(s, start, end, T_STRING);
}

void load_string(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    uint32_t type = s.token_kind ? uint32_t(s.token_kind) : uint32_t(T_STRING);
    s.token_kind = 0;
    if (*start == '"') s.pos = end + 1;
    text_token(s, start, end, start + 1, end, type, flags, true, false, load);
}

void load_raw_string(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    const uint8_t* p = start;
    int32_t n = 0;
    while (p < end && *p == '%') {
        p++;
        n++;
    }
    const uint8_t* open = p;  // the `{`
    int32_t m = 0;
    const uint8_t* q = end;
    while (q > open && q[-1] == '%') {
        q--;
        m++;
    }
    const uint8_t* close = q - 1;  // the `}`
    if (m > n) throw_error(s, start, end, T_STRING);
    const uint8_t* after = end;
    if (m < n) {
        const uint8_t* r = end;
        close = nullptr;
        for (; r < s.end; r++) {
            if (*r != '}') continue;
            int32_t k = 0;
            while (r + 1 + k < s.end && r[1 + k] == '%' && k < n) k++;
            if (k == n) {
                close = r;
                break;
            }
        }
        if (!close) throw_error(s, start, s.end, T_STRING);
        after = close + 1 + n;
        const uint8_t* scan_flags_from = end;
        for (const uint8_t* f = scan_flags_from; f < close; f++) flags |= class_table[*f] & ~0xFFu;
    }
    s.pos = after;
    text_token(s, start, after, open + 1, close, T_STRING, flags, false, false, load);
}

void load_char(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    s.pos = end + 1;
    const uint8_t* p = start + 2;
    if (end - start < 2 || start[0] != '#' || start[1] != '"' || p >= end ||
        (end - p == 1 && *p == '^'))
        throw_error(s, start, end + 1, T_CHAR);
    int32_t cp;
    if (*p == '^') {
        p++;
        cp = decode_escape(p, end);
    } else {
        cp = utf8_char(p, end);
    }
    if (cp < 0 || cp > 0x10FFFF || p != end) throw_error(s, start, end + 1, T_CHAR);
    if (load) append(s, Cell{T_CHAR, 0, uint32_t(cp), 0});
}

void load_file(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    if (end - start >= 2 && start[1] == '"') {
        s.pos = end + 1;
        text_token(s, start, end + 1, start + 2, end, T_FILE, flags, true, false, load);
        return;
    }
    bool decode = std::memchr(start + 1, '%', size_t(end - start - 1)) != nullptr;
    text_token(s, start, end, start + 1, end, T_FILE, flags, false, decode, load);
}

void load_url(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    if (*start == ':') throw_error(s, start, end, T_GET_WORD);
    if (*start == '\'') throw_error(s, start, end, T_LIT_WORD);
    bool decode = (flags & F_PERCENT) != 0;
    text_token(s, start, end, start, end, T_URL, flags, false, decode, load);
}

void load_email(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    text_token(s, start, end, start, end, T_EMAIL, flags, false, false, load);
}

void load_tag(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    s.pos = end + 1;
    if (*start != '<') throw_error(s, start, end + 1, T_TAG);
    text_token(s, start, end + 1, start + 1, end, T_TAG, flags, false, false, load);
}

void load_ref(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    text_token(s, start, end, start + 1, end, T_REF, flags, false, false, load);
}

// ---- binaries ----

void load_binary(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    s.pos = end + 1;
    const uint8_t* sharp = static_cast<const uint8_t*>(std::memchr(start, '#', size_t(end - start)));
    int base = 16;
    if (sharp != start) {
        int v = 0;
        for (const uint8_t* p = start; p < sharp; p++) v = v < 1000 ? v * 10 + (*p - '0') : v;
        base = v;
    }
    if (base != 2 && base != 16 && base != 64) throw_error(s, start, end + 1, T_BINARY);
    const uint8_t* p = sharp + 2;  // after `{`
    std::string bytes;
    uint32_t acc = 0;
    int count = 0;
    auto fail = [&](const uint8_t* at) { throw_error(s, at, end + 1, T_BINARY); };
    for (; p < end; p++) {
        uint8_t c = *p;
        if (c == ';') {
            while (p < end && *p != '\n') p++;
            continue;
        }
        if (base == 64) {
            if (c == '\t' || c == '\n' || c == 8 || c == 12 || c == '\r' || c == ' ' || c == '\'')
                continue;
            if (c == '=') {
                // Padding ends the data: after two characters one byte, after three two.
                if (count == 2) bytes.push_back(char(acc >> 4));
                else if (count == 3) bytes.push_back(char(acc >> 10)), bytes.push_back(char(acc >> 2));
                else fail(p);
                count = 0;
                while (p < end && (*p == '=' || *p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')) p++;
                if (p != end) fail(p);
                break;
            }
            int v = c >= 'A' && c <= 'Z'   ? c - 'A'
                    : c >= 'a' && c <= 'z' ? c - 'a' + 26
                    : c >= '0' && c <= '9' ? c - '0' + 52
                    : c == '+'             ? 62
                    : c == '/'             ? 63
                                           : -1;
            if (v < 0) fail(p);
            acc = (acc << 6) | uint32_t(v);
            if (++count == 4) {
                bytes.push_back(char(acc >> 16));
                bytes.push_back(char(acc >> 8));
                bytes.push_back(char(acc));
                acc = 0;
                count = 0;
            }
            continue;
        }
        if (c == '\t' || c == '\n' || c == '\r' || c == ' ') continue;
        if (base == 16) {
            int v = hex_value(c);
            if (v < 0) fail(p);
            acc = (acc << 4) | uint32_t(v);
            if (++count == 2) {
                bytes.push_back(char(acc));
                acc = 0;
                count = 0;
            }
        } else {
            if (c != '0' && c != '1') fail(p);
            acc = (acc << 1) | uint32_t(c - '0');
            if (++count == 8) {
                bytes.push_back(char(acc));
                acc = 0;
                count = 0;
            }
        }
    }
    if (count != 0) fail(end);
    if (!load) return;
    Handle node = memory::make_bytes(uint32_t(bytes.size() ? bytes.size() : 1));
    SeriesBuffer* b = memory::buffer_of(node);
    if (!bytes.empty()) std::memcpy(b->data() + b->head, bytes.data(), bytes.size());
    b->tail = b->head + uint32_t(bytes.size());
    append(s, cells::make_series(T_BINARY, node));
}

// ---- words ----

void load_word(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* a = start;
    const uint8_t* b = end;
    uint32_t type = T_WORD;
    if (*a == ':') {
        type = T_GET_WORD;
        a++;
    } else if (*a == '\'') {
        type = T_LIT_WORD;
        a++;
    }
    if (b > a && b[-1] == ':') {
        if (type == T_LIT_WORD) throw_error(s, start, end, T_LIT_WORD);
        if (type == T_GET_WORD) throw_error(s, start, end, T_WORD);
        type = T_SET_WORD;
        b--;
    }
    for (const uint8_t* p = a; p < b; p++) {
        if (*p != ':') continue;
        bool in_path = s.mode == MODE_PATH && (p + 1 >= s.end || path_terminator[class_table[p[1]] & 0xFF]);
        if (!in_path) throw_error(s, start, end, T_WORD);
    }
    if (a == b) throw_error(s, start, end, int32_t(type));
    s.token_type = int32_t(type);
    if (!load) return;
    append(s, make_word(type, std::string_view(reinterpret_cast<const char*>(a), size_t(b - a))));
}

void load_refinement(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    size_t n = size_t(end - start);
    if (n == 1) {
        if (load) append(s, make_word(T_WORD, "/"));
        return;
    }
    if (n == 2 && *start != '/') {
        load_word(s, start, end, flags, load);
        return;
    }
    if (*start != '/') throw_error(s, start, end, T_REFINEMENT);
    if (!load) return;
    append(s, make_word(T_REFINEMENT, std::string_view(reinterpret_cast<const char*>(start + 1), n - 1)));
}

void load_issue(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    if (end - start < 2 || *start != '#') throw_error(s, start, end, T_ISSUE);
    if (!load) return;
    Cell issue;
    issue::make_at(&issue, std::string_view(reinterpret_cast<const char*>(start + 1), size_t(end - start - 1)));
    append(s, issue);
}

}  // namespace kov::lexer
