// url! and file!: molding, percent-encoding and decoding, url composition, path joining, local
// paths, the current directory, the I/O actions and the two registrations.
#include "datatypes/file.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "core/cell.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "core/unicode.hpp"
#include "datatypes/object.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string.hpp"
#include "datatypes/string_actions.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interpreter.hpp"

namespace kov::io {
Services services;
}

namespace kov::url {

using collector::Root;
using memory::buffer_of;

namespace {

constexpr int32_t NO_LIMIT = INT32_MAX;

[[noreturn]] void raise_not_done() { stack::raise_error("internal", "not-done"); }

[[noreturn]] void raise_invalid_arg(const Cell* value) {
    Root v(*value);
    stack::raise_error("script", "invalid-arg", {v.get()});
}

// Plain-byte tables for code points 0..127, built from the characters each writes plain.
struct Table {
    bool plain[128] = {};
    constexpr explicit Table(const char* extra) {
        for (int c = 0; c < 128; c++)
            plain[c] = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        for (const char* p = extra; *p; p++) plain[uint8_t(*p)] = true;
    }
};
constexpr Table URL_TABLE("!#$&'()*+,-./:=?@_~");
constexpr Table STRICT_TABLE("-._~");

int hex_digit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

constexpr char HEX[] = "0123456789ABCDEF";

// A new text of the type and unit in `out` (rooted), head 0.
void make_text(Cell* out, uint32_t n, uint32_t unit, uint32_t type) {
    string::make_at_unit(out, n, unit);
    cell::set_type(out, type);
}

// Appends the code points one by one (the buffer widens as they need).
void append_chars(Cell* out, const std::u32string& chars) {
    SeriesBuffer* b = buffer_of(out->data2);
    for (char32_t c : chars) b = string::append_char(b, uint32_t(c));
}

// The formed text of a value, appended to `out` (rooted).
void form_into(const Cell* value, Cell* out) {
    Root v(*value);
    actions::form_dispatch(v.get(), out, false, NO_LIMIT);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Percent-encoding.

bool plain_byte_q(int mode, uint8_t byte) {
    if (byte >= 0x80) return false;
    return (mode == ENCODE_STRICT ? STRICT_TABLE : URL_TABLE).plain[byte];
}

bool decode_escape(const uint8_t* p, const uint8_t* end, uint8_t& out) {
    if (end - p < 3 || p[0] != '%') return false;
    int hi = hex_digit(p[1]), lo = hex_digit(p[2]);
    if (hi < 0 || lo < 0) return false;
    out = uint8_t(hi * 16 + lo);
    return true;
}

void decode_bytes(const uint8_t* p, size_t n, std::u32string& out) {
    const uint8_t* end = p + n;
    while (p < end) {
        uint8_t byte;
        if (decode_escape(p, end, byte)) {
            int size = byte >= 0xC0 ? unicode::utf8_char_size_q(byte) : 0;
            if (size < 2) {
                out.push_back(byte);
                p += 3;
                continue;
            }
            uint8_t seq[4] = {byte, 0, 0, 0};
            bool escapes = true;
            for (int k = 1; k < size && escapes; k++)
                escapes = decode_escape(p + 3 * k, end, seq[k]);
            if (escapes) {
                int32_t count = size;
                int32_t cp = unicode::decode_utf8_status(seq, count);
                if (cp >= 0 && count == size) {
                    out.push_back(char32_t(cp));
                    p += 3 * size;
                    continue;
                }
            }
            out.push_back(U'%');  // not a decodable escape: the "%" is text
            p++;
            continue;
        }
        if (*p < 0x80) {
            out.push_back(*p++);
            continue;
        }
        int32_t count = int32_t(end - p);
        int32_t cp = unicode::decode_utf8_status(p, count);
        if (cp < 0) {
            out.push_back(*p++);
            continue;
        }
        out.push_back(char32_t(cp));
        p += count;
    }
}

void decode(const Cell* text, Cell* out) {
    std::string bytes = string::to_utf8(text);
    std::u32string chars;
    decode_bytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), chars);
    append_chars(out, chars);
}

const char* encode_byte(int mode, uint8_t byte, int& count) {
    static char buffer[4];
    if (plain_byte_q(mode, byte)) {
        buffer[0] = char(byte);
        buffer[1] = 0;
        count = 1;
    } else {
        buffer[0] = '%';
        buffer[1] = HEX[byte >> 4];
        buffer[2] = HEX[byte & 15];
        buffer[3] = 0;
        count = 3;
    }
    return buffer;
}

std::string encode(const Cell* text, int mode) {
    std::string bytes = string::to_utf8(text);
    std::string out;
    out.reserve(bytes.size());
    for (char b : bytes) {
        int count;
        const char* e = encode_byte(mode, uint8_t(b), count);
        out.append(e, size_t(count));
    }
    return out;
}

void encode_into(const Cell* text, Cell* out, int mode) {
    string::concatenate_cstring(out, encode(text, mode));
}

// ---------------------------------------------------------------------------------------------
// make, to.

void compose(const Cell* block_in, Cell* out) {
    collector::SeriesRef blk(*block_in);
    uint32_t first = blk.index(), total = blk.total();
    uint32_t n = first < total ? total - first : 0;
    if (n == 0) {
        Root b(*block_in);
        Cell t = cells::make_datatype(T_URL);
        stack::raise_error("script", "bad-to-arg", {&t, b.get()});
    }
    string::ks_make_at(out, 32);
    auto element = [&](uint32_t k) { return *blk.cell_at(first + k); };
    Root v(element(0));
    form_into(v.get(), out);
    string::concatenate_cstring(out, "://", 3);
    uint32_t k = 1;
    if (k < n) {
        *v = element(k++);
        form_into(v.get(), out);
    }
    if (k < n && element(k).is(T_INTEGER)) {
        *v = element(k++);
        string::concatenate_cstring(out, ":", 1);
        form_into(v.get(), out);
    }
    if (k < n) {
        string::concatenate_cstring(out, "/", 1);
        for (; k < n; k++) {
            *v = element(k);
            form_into(v.get(), out);
            if (k + 1 < n) string::concatenate_cstring(out, element(k + 1).is(T_ISSUE) ? "#" : "/", 1);
        }
    }
    cell::set_type(out, T_URL);
    out->data1 = 0;
}

Cell* to(const Cell* proto, const Cell* spec, uint32_t type) {
    uint32_t t = spec->type();
    if (type == T_URL && (t == T_BLOCK || t == T_PAREN || t == T_HASH)) {
        Root out;
        compose(spec, out.get());
        *stack::arguments = *out;
        return stack::arguments;
    }
    return string::to(proto, spec, type);
}

Cell* make(const Cell* proto, const Cell* spec, uint32_t type) {
    uint32_t t = spec->type();
    if (type == T_URL && (t == T_BLOCK || t == T_PAREN || t == T_HASH)) return to(proto, spec, type);
    return string::make(proto, spec, type);
}

// ---------------------------------------------------------------------------------------------
// mold.

// The bytes that urls escape, and the parentheses too: they end a url token, so that molded
// text with a plain parenthesis would not read back as the same url.
int32_t mold(const Cell* value, Cell* out, bool, bool, bool, bool part, int32_t limit, int32_t) {
    std::string bytes = string::to_utf8(value);
    std::string text;
    text.reserve(bytes.size());
    int64_t written = 0;
    for (char b : bytes) {
        if (part && written >= limit) break;
        int count;
        const char* e = encode_byte(ENCODE_URL, uint8_t(b), count);
        if (b == '(' || b == ')') e = b == '(' ? "%28" : "%29", count = 3;
        text.append(e, size_t(count));
        written += count;
    }
    string::concatenate_cstring(out, text);
    return int32_t(std::max<int64_t>(int64_t(limit) - written, INT32_MIN));
}

// ---------------------------------------------------------------------------------------------
// eval-path.

Cell* eval_path(const PathStep& step) {
    if (step.set_value) {
        Root p(step.path ? *step.path : none_value), e(*step.element);
        stack::raise_error("script", "bad-path-set", {p.get(), e.get()});
    }
    Root base(*step.value);
    Root element(*step.element);
    if (element->is(T_GET_WORD)) {
        // The word's value (no-value when it has none), pushed by word::get and taken off again.
        *element = *word::get(element.get());
        stack::pop(1);
    }
    Root formed;
    string::ks_make_at(formed.get(), 16);
    form_into(element.get(), formed.get());
    uint32_t base_len = string::length(base.get());
    uint32_t formed_len = string::length(formed.get());
    bool ends = base_len > 0 && string::char_at(base.get(), base->data1 + base_len - 1) == '/';
    bool starts = formed_len > 0 && string::char_at(formed.get(), formed->data1) == '/';
    Root result;
    make_text(result.get(), base_len + formed_len + 1, buffer_of(base->data2)->unit(),
              base->type());
    string::concatenate(result.get(), base.get(), -1, 0, true, string::CONCAT_APPEND);
    if (!ends && !starts) string::concatenate_cstring(result.get(), "/", 1);
    if (ends && starts) formed->data1++;
    string::concatenate(result.get(), formed.get(), -1, 0, true, string::CONCAT_APPEND);
    return stack::push(result.get());
}

// ---------------------------------------------------------------------------------------------
// I/O.

namespace {

bool http_q(const Cell* value) { return string::starts_with_cstring_q(value, "http"); }

void no_connect(const Cell* value) {
    Root v(*value);
    stack::raise_error("access", "no-connect", {v.get()});
}

// A port is made from the object into which the boot library's url parser takes the url
// apart. The parser runs first, so that a url it refuses raises invalid-arg; port! itself is
// not there yet.
[[noreturn]] void through_port(const Cell* value) {
    Root url(*value);
    Root parser_word(*word::load("url-parser"));
    Root parser(*context::get(parser_word.get()));
    if (!parser->is(T_OBJECT)) raise_not_done();
    Root parse_word(*word::load("parse-url"));
    Root parse_url(*object::select_word(parser.get(), parse_word.get()));
    if (!parse_url->is(T_FUNCTION)) raise_not_done();
    const Cell* args[1] = {url.get()};
    Root spec;
    stack::raise_if_pending(interpreter::call_with(parse_url.get(), args, 1, spec.get()));
    if (!spec->is(T_OBJECT)) raise_invalid_arg(url.get());
    raise_not_done();
}

}  // namespace

Cell* open(Cell* source, bool, bool, bool, bool, const Cell*) { through_port(source); }

Cell* read(Cell* source, const Cell* part, const Cell* seek, bool binary, bool lines, bool info,
           const Cell* as) {
    if (!http_q(source)) through_port(source);  // other schemes go through a port
    if (part || seek || as) raise_not_done();
    if (!io::services.http_request) raise_not_done();
    Root url(*source);
    Root method(*word::load("get"));
    Cell* out = stack::push(&none_value);
    if (!io::services.http_request(method.get(), url.get(), nullptr, nullptr, binary, lines, info,
                                   out))
        no_connect(url.get());
    return out;
}

Cell* write(Cell* target, const Cell* data_in, bool binary, bool lines, bool info, bool,
            const Cell*, const Cell* seek, const Cell* allow, const Cell* as) {
    if (!http_q(target)) through_port(target);  // other schemes go through a port
    if (seek || allow || as) raise_not_done();
    Root url(*target);
    Root data(*data_in);
    Root method(*word::load("post"));
    Root headers(none_value);
    if (data->is(T_BLOCK)) {
        collector::SeriesRef blk(*data);
        uint32_t n = blk.length(), first = blk.index();
        if (n == 0) {
            *method = *word::load("get");
            *data = none_value;
        } else {
            Root m(*blk.cell_at(first));
            if (!m->is(T_WORD)) raise_invalid_arg(m.get());
            *method = *m;
            Cell body = none_value;
            if (n > 1) {
                Root h(*blk.cell_at(first + 1));
                if (!h->is(T_BLOCK)) raise_invalid_arg(h.get());
                *headers = *h;
            }
            if (n > 2) body = *blk.cell_at(first + 2);
            *data = body;
        }
    }
    uint32_t t = data->type();
    if (t != T_NONE && t != T_BLOCK && t != T_STRING && t != T_BINARY) raise_invalid_arg(data.get());
    if (!io::services.http_request) raise_not_done();
    Cell* out = stack::push(&none_value);
    if (!io::services.http_request(method.get(), url.get(),
                                   headers->is(T_NONE) ? nullptr : headers.get(),
                                   data->is(T_NONE) ? nullptr : data.get(), binary, lines, info,
                                   out))
        no_connect(url.get());
    return out;
}

// ---------------------------------------------------------------------------------------------
// Registration.

void init() {
    type_registry::register_type(T_URL, T_STRING, "url!", {
        .make = make, .to = to, .form = inherit, .mold = mold, .eval_path = eval_path,
        .compare = inherit, .append = inherit, .at = inherit, .back = inherit,
        .change = inherit, .clear = inherit, .copy = inherit, .find = inherit, .head = inherit,
        .head_q = inherit, .index_q = inherit, .insert = inherit, .length_q = inherit,
        .move = inherit, .next = inherit, .pick = inherit, .poke = inherit, .remove = inherit,
        .reverse = inherit, .select = inherit, .skip = inherit, .swap = inherit,
        .tail = inherit, .tail_q = inherit, .take = inherit, .modify = inherit, .open = open,
        .read = read, .write = write});
}

}  // namespace kov::url

namespace kov::file {

using collector::Root;
using memory::buffer_of;

namespace {

[[noreturn]] void raise_not_done() { stack::raise_error("internal", "not-done"); }

// True for a character that makes a molded file! go between double quotes: a character below
// 127 that urls escape, or one that ends a file token when the loader reads it plain (the
// parentheses, ":" and "@").
bool needs_quotes(uint32_t c) {
    if (c == '(' || c == ')' || c == ':' || c == '@') return true;
    return c < 127 && !url::plain_byte_q(url::ENCODE_URL, uint8_t(c));
}

// Appends the character as it goes between the double quotes of a molded file!, so that the
// loader reads it back: the caret and the control codes take their caret escapes, the double
// quote (which would end the token even after a caret) its code.
void quoted_char(std::u32string& o, uint32_t c) {
    static constexpr char CONTROL[] = "@ABCDEFGH-/KLMNOPQRSTUVWXYZ[\\]^_";
    if (c == '^') {
        o += U"^^";
    } else if (c == '"') {
        o += U"^(22)";
    } else if (c == 30) {
        o += U"^(1E)";
    } else if (c < 32) {
        o += U'^';
        o += char32_t(CONTROL[c]);
    } else if (c == 127) {
        o += U"^~";
    } else {
        o += char32_t(c);
    }
}

}  // namespace

Cell* push(const Cell* file) { return stack::push(file); }

std::string current_dir() {
    std::vector<char> buf(256);
    while (!::getcwd(buf.data(), buf.size())) {
        if (errno != ERANGE) return "/";
        buf.resize(buf.size() * 2);
    }
    std::string dir(buf.data());
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

void get_current_dir(Cell* out) {
    std::string dir = current_dir();
    string::load(reinterpret_cast<const uint8_t*>(dir.data()), uint32_t(dir.size()), out,
                 string::ENCODING_UTF8);
}

void to_local(const Cell* file, Cell* out, bool full) {
    Root f(*file);
    bool relative = string::length(f.get()) == 0 || string::char_at(f.get(), f->data1) != '/';
    if (full && relative) {
        Root dir;
        get_current_dir(dir.get());
        string::concatenate(out, dir.get(), -1, 0, true, string::CONCAT_APPEND);
    }
    string::concatenate(out, f.get(), -1, 0, true, string::CONCAT_APPEND);
}

std::string to_os_path(const Cell* file) { return string::to_utf8(file); }

// ---------------------------------------------------------------------------------------------
// mold.

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, bool part, int32_t limit, int32_t) {
    uint32_t n = string::length(value);
    bool empty = n == 0;
    if (part) n = limit < 0 ? 0 : std::min(n, uint32_t(limit));
    std::u32string chars;
    chars.reserve(n);
    uint32_t from = value->data1;
    bool quotes = false;
    for (uint32_t i = 0; i < n; i++) {
        uint32_t c = string::char_at(value, from + i);
        chars += char32_t(c);
        quotes = quotes || needs_quotes(c);
    }
    std::u32string o = U"%";
    if (empty) {
        o += U"\"\"";
    } else if (quotes) {
        o += U'"';
        for (char32_t c : chars) quoted_char(o, uint32_t(c));
        o += U'"';
    } else {
        o += chars;
    }
    SeriesBuffer* b = buffer_of(out->data2);
    for (char32_t c : o) b = string::append_char(b, uint32_t(c));
    return int32_t(std::max<int64_t>(int64_t(limit) - n - 1, INT32_MIN));
}

// ---------------------------------------------------------------------------------------------
// I/O.

Cell* delete_(Cell* file) {
    if (!io::services.remove) raise_not_done();
    Root f(*file);
    return stack::push(io::services.remove(f.get()) ? &true_value : &false_value);
}

Cell* query(Cell* file) {
    if (!io::services.query) raise_not_done();
    Root f(*file);
    Cell* out = stack::push(&none_value);
    io::services.query(f.get(), out);
    return out;
}

Cell* rename(Cell* from, Cell* to) {
    if (!io::services.rename) raise_not_done();
    Root a(*from), b(*to);
    return stack::push(io::services.rename(a.get(), b.get()) ? &true_value : &false_value);
}

Cell* read(Cell* source, const Cell* part, const Cell* seek, bool binary, bool lines, bool,
           const Cell* as) {
    if (as || !io::services.read) raise_not_done();
    Root f(*source);
    Cell* out = stack::push(&none_value);
    io::services.read(f.get(), part, seek, binary, lines, out);
    return out;
}

Cell* write(Cell* target, const Cell* data, bool binary, bool lines, bool, bool append,
            const Cell* part, const Cell* seek, const Cell* allow, const Cell* as) {
    if (allow || as || !io::services.write) raise_not_done();
    Root f(*target);
    io::services.write(f.get(), data, part, seek, binary, append, lines);
    return target;
}

// ---------------------------------------------------------------------------------------------
// Registration.

void init() {
    type_registry::register_type(T_FILE, T_URL, "file!", {
        .make = inherit, .to = inherit, .form = inherit, .mold = mold, .eval_path = inherit,
        .compare = inherit, .append = inherit, .at = inherit, .back = inherit,
        .change = inherit, .clear = inherit, .copy = inherit, .find = inherit, .head = inherit,
        .head_q = inherit, .index_q = inherit, .insert = inherit, .length_q = inherit,
        .move = inherit, .next = inherit, .pick = inherit, .poke = inherit, .remove = inherit,
        .reverse = inherit, .select = inherit, .skip = inherit, .swap = inherit,
        .tail = inherit, .tail_q = inherit, .take = inherit, .delete_ = delete_,
        .modify = inherit, .query = query, .read = read, .rename = rename, .write = write});
}

}  // namespace kov::file
