// The lexer's scanning loop, containers, syntax errors, events and structural tokens (see
// lexer.hpp).
#include "evaluator/lexer.hpp"

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/buffer.hpp"
#include "core/cell.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "core/unicode.hpp"
#include "datatypes/function.hpp"
#include "datatypes/map.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "evaluator/lexer_tables.hpp"
#include "evaluator/loaders.hpp"

namespace kov::lexer {

State* current = nullptr;
bool (*call_callback)(const Cell* function, Cell* arguments, int32_t locals) = nullptr;

namespace {

constexpr uint32_t INITIAL_CELLS = 1000;
std::vector<Cell> buffer;

// Stops a scan quietly (prescan and scan modes, or a callback that declined an error).
struct QuietStop {};

// Open markers: data1 the distance back to the previous container begin, data2 the container's
// datatype (commas of a point in the high 16 bits), data3 the byte offset of the opener.
constexpr uint32_t T_MARKER = T_TRIPLE;

void mark_scans() {
    for (State* s = current; s; s = s->previous) {
        if (s->slot > s->head) collector::mark_cells(&buffer[s->head], &buffer[0] + s->slot);
        collector::mark_cells(&s->callback, &s->callback + 1);
        collector::mark_cells(&s->input, &s->input + 1);
    }
}

bool path_type_q(int32_t t) { return t >= int32_t(T_PATH) && t <= int32_t(T_GET_PATH); }

// The innermost open marker of the scan, or -1.
int32_t innermost_marker(const State& s) {
    if (s.container == s.head) return -1;
    return int32_t(s.container - 1);
}
int32_t marker_type(const Cell* m) { return int32_t(m->data2 & 0xFFFF); }

// A symbol word of the global context, as an event argument.
Cell event_word(const char* name) { return make_word(T_WORD, name); }

// Character offset (from the scan's input begin) of a byte position; bytes for binary inputs.
int32_t update_offset(State& s, const uint8_t* p) {
    if (!s.string_input) return int32_t(p - s.begin);
    if (!s.cached_pos) {
        s.cached_pos = s.begin;
        s.cached_offset = 0;
    }
    if (p >= s.cached_pos) s.cached_offset += unicode::utf8_length_q(s.cached_pos, p);
    else s.cached_offset -= unicode::utf8_length_q(p, s.cached_pos);
    s.cached_pos = p;
    return s.cached_offset;
}

// Byte position of a character offset from the input begin.
const uint8_t* position_of(const State& s, int32_t offset) {
    if (offset <= 0) return s.begin;
    if (!s.string_input) return offset >= s.end - s.begin ? s.end : s.begin + offset;
    return unicode::utf8_skip(s.begin, s.end, offset);
}

// The type argument of an event: a datatype!, or the exit-states word of a final state.
Cell event_type(int32_t type, int final_state) {
    if (type > 0) return cells::make_datatype(uint32_t(type));
    if (final_state >= FIRST_FINAL && final_state <= S_COMMA)
        return event_word(exit_states[final_state - FIRST_FINAL]);
    return cells::make_none();
}

int current_final = 0;  // the final state of the token being handled, for event types

}  // namespace

uint32_t callback_mask(const Cell* events) {
    if (!events || !events->is(T_BLOCK)) return EV_ALL;
    static const char* const names[] = {"prescan", "scan", "load", "open", "close", "error"};
    uint32_t mask = 0;
    SeriesBuffer* b = memory::buffer_of(cells::series_node(*events));
    uint32_t n = b->length();
    for (uint32_t i = cells::series_index(*events); i < n; i++) {
        const Cell* c = memory::buffer_of(cells::series_node(*events))->head_cell() + i;
        if (!c->is(T_WORD)) continue;
        std::string_view name = symbol::spelling(cells::word_symbol(*c));
        for (int k = 0; k < 6; k++)
            if (name == names[k]) mask |= 1u << k;
    }
    return mask;
}

uint32_t function_mask(const Cell* fn) {
    if (!fn->is(T_FUNCTION)) return EV_ALL;
    const Cell* extra = memory::buffer_of(fn->data3)->head_cell();
    const Cell& body = extra[function::EXTRA_BODY];
    if (!body.is(T_BLOCK)) return EV_ALL;
    SeriesBuffer* b = memory::buffer_of(cells::series_node(body));
    uint32_t i = cells::series_index(body);
    if (i >= b->length() || !b->head_cell()[i].is(T_BLOCK)) return EV_ALL;
    Cell first = b->head_cell()[i];
    return callback_mask(&first);
}

uint32_t alloc_slot(State& s) {
    if (s.slot >= buffer.size()) {
        if (buffer.size() >= (1u << 26)) stack::raise_error("internal", "no-memory");
        buffer.resize(buffer.size() * 2);
    }
    uint32_t i = s.slot++;
    buffer[i] = cells::make_none();
    if (s.token_lines > 0) buffer[i].header |= CELL_NEW_LINE;
    return i;
}

Cell* cell_at(uint32_t index) { return &buffer[index]; }

bool fire_event(State& s, uint32_t event, int32_t type, const Cell* value, const uint8_t* start,
                const uint8_t* end) {
    if (!s.has_callback() || !(s.mask & event)) return true;
    if (!call_callback) stack::raise_error("internal", "not-done");
    static const char* const names[] = {"prescan", "scan", "load", "open", "close", "error"};
    int bit = __builtin_ctz(event);
    collector::Root ev(event_word(names[bit]));
    collector::Root input(s.input);
    // The input stands at the token start for open events and for prescan events of tokens
    // without a datatype, else after the token.
    const uint8_t* at = (event == EV_OPEN || (event == EV_PRESCAN && type == 0)) ? start : end;
    int32_t at_offset = update_offset(s, at);
    int32_t start_offset = update_offset(s, start);
    int32_t end_offset = update_offset(s, end);
    if (!input->is(T_NONE)) cells::set_series_index(*input, s.input_index + uint32_t(at_offset));
    collector::Root ty(event_type(type, current_final));
    if (type == T_ERROR && event == EV_ERROR) *ty = cells::make_datatype(T_ERROR);
    collector::Root line(cells::make_integer(s.line));
    collector::Root token(value ? *value
                                : Cell{T_PAIR, 0, uint32_t(start_offset + 1), uint32_t(end_offset + 1)});
    Cell args[5] = {*ev, *input, *ty, *line, *token};
    // The callback's arguments travel on the argument stack, where they stay rooted.
    Cell* pushed = stack::top;
    for (const Cell& a : args) stack::push(&a);
    // A transfer out of the callback (an error, a throw) has already set the stacks for its
    // receiver: they are left as it set them.
    bool answer = call_callback(&s.callback, pushed, s.callback_locals);
    Cell moved = pushed[1];
    stack::top = pushed;
    if (!moved.is(T_NONE) && cells::series_index(moved) != cells::series_index(*input)) {
        int32_t offset = int32_t(cells::series_index(moved)) - int32_t(s.input_index);
        s.pos = position_of(s, offset);
    }
    return answer;
}

// ---- containers ----

void open_block(State& s, int32_t type, const uint8_t* at) {
    int32_t m = innermost_marker(s);
    if (m >= 0 && marker_type(&buffer[m]) == T_POINT2D) throw_error(s, at, at + 1, T_POINT2D);
    if (!fire_event(s, EV_OPEN, type, nullptr, at, at + 1)) return;
    uint32_t i = alloc_slot(s);
    buffer[i].header = (buffer[i].header & ~CELL_TYPE_MASK) | T_MARKER;
    buffer[i].data1 = s.slot - 1 - s.container + 1;
    buffer[i].data1 = i + 1 - s.container;
    buffer[i].data2 = uint32_t(type);
    buffer[i].data3 = uint32_t(at - s.begin);
    s.container = i + 1;
    s.pending_type = type;
    s.mode = MODE_NORMAL;
}

namespace {

// Copies the cells after the marker at m into a new series of the given type that replaces the
// marker (its header flags kept), and makes the enclosing container current.
void store_series(State& s, uint32_t m, uint32_t type) {
    uint32_t first = m + 1;
    uint32_t n = s.slot - first;
    Handle node = memory::make_cells(n ? n : 1);
    SeriesBuffer* b = memory::buffer_of(node);
    if (n) std::memcpy(b->data(), &buffer[first], size_t(n) * sizeof(Cell));
    b->tail = b->head + n * uint32_t(sizeof(Cell));
    Cell& marker = buffer[m];
    uint32_t back = marker.data1;
    marker.header = (marker.header & ~CELL_TYPE_MASK) | type;
    marker.data1 = 0;
    marker.data2 = node;
    marker.data3 = 0;
    s.slot = first;
    s.container = m + 1 - back;
    int32_t outer = innermost_marker(s);
    s.pending_type = outer >= 0 ? marker_type(&buffer[outer]) : 0;
}

// Drops the innermost container with its marker and values.
void drop_container(State& s, uint32_t m) {
    uint32_t back = buffer[m].data1;
    s.slot = m;
    s.container = m + 1 - back;
    int32_t outer = innermost_marker(s);
    s.pending_type = outer >= 0 ? marker_type(&buffer[outer]) : 0;
}

bool number_cell_q(const Cell& c) { return c.is(T_INTEGER) || c.is(T_FLOAT); }

// A point marker closed by `)`: its values must be two or three numbers.
void close_point(State& s, uint32_t m, const uint8_t* at) {
    uint32_t n = s.slot - (m + 1);
    uint32_t commas = buffer[m].data2 >> 16;
    bool ok = (n == 2 || n == 3) && commas == n - 1;
    for (uint32_t i = m + 1; ok && i < s.slot; i++) ok = number_cell_q(buffer[i]);
    if (!ok) throw_error(s, at, at + 1, n == 3 ? T_POINT3D : T_POINT2D);
    double v[3] = {0, 0, 0};
    for (uint32_t i = 0; i < n; i++) {
        const Cell& c = buffer[m + 1 + i];
        v[i] = c.is(T_INTEGER) ? double(cells::integer(c)) : c.get_float();
    }
    uint32_t keep = buffer[m].header & ~CELL_TYPE_MASK;
    uint32_t back = buffer[m].data1;
    Cell& out = buffer[m];
    out = Cell{n == 3 ? uint32_t(T_POINT3D) : uint32_t(T_POINT2D), 0, 0, 0};
    float f[3] = {float(v[0]), float(v[1]), float(v[2])};
    std::memcpy(&out.data1, f, sizeof f);
    out.header |= keep;
    s.slot = m + 1;
    s.container = m + 1 - back;
    int32_t outer = innermost_marker(s);
    s.pending_type = outer >= 0 ? marker_type(&buffer[outer]) : 0;
    s.token_type = int32_t(out.type());
}

}  // namespace

void close_block(State& s, int32_t kind, const uint8_t* at, bool silent) {
    int32_t m = innermost_marker(s);
    if (m >= 0 && s.has_callback() && !silent) {
        if (!fire_event(s, EV_CLOSE, marker_type(&buffer[m]), nullptr, at, at + 1)) {
            s.mode = MODE_NORMAL;
            return;
        }
    }
    int32_t mt = m >= 0 ? marker_type(&buffer[m]) : 0;
    bool match = false;
    switch (kind) {
    case T_BLOCK: match = mt == T_BLOCK || mt == T_MAP; break;
    case T_PAREN: match = mt == T_PAREN || mt == T_POINT2D; break;
    case T_SET_PATH: match = mt == T_PATH; break;
    default: match = mt == kind; break;
    }
    if (!match) {
        s.pending_type = m >= 0 ? mt : kind;
        if (m < 0 && kind == T_SET_PATH) s.pending_type = T_PATH;
        throw_error(s, at, at + 1, K_MISSING);
    }
    if (mt == T_POINT2D) {
        close_point(s, uint32_t(m), at);
    } else {
        uint32_t type = kind == T_SET_PATH ? uint32_t(T_SET_PATH) : uint32_t(mt == T_MAP ? int32_t(T_BLOCK) : mt);
        store_series(s, uint32_t(m), type);
        s.token_type = int32_t(type);
    }
    int32_t outer = innermost_marker(s);
    s.mode = (outer >= 0 && path_type_q(marker_type(&buffer[outer]))) ? MODE_PATH : MODE_NORMAL;
}

namespace {

void close_map(State& s, const uint8_t* at) {
    int32_t m = innermost_marker(s);
    bool map = m >= 0 && marker_type(&buffer[m]) == T_MAP;
    if (map && s.load) {
        uint32_t n = s.slot - uint32_t(m + 1);
        bool ok = n % 2 == 0;
        for (uint32_t i = uint32_t(m + 1); ok && i < s.slot; i += 2) ok = map::valid_key_q(buffer[i].type());
        if (!ok) throw_error(s, at, at + 1, T_MAP);
    }
    close_block(s, T_BLOCK, at, false);
    if (map && s.load && s.token_type == T_BLOCK) {
        collector::Root blk(buffer[s.slot - 1]);
        collector::Root made;
        map::make_at(cells::series_node(*blk), made.get(), memory::buffer_of(cells::series_node(*blk))->length());
        uint32_t flags = buffer[s.slot - 1].header & ~CELL_TYPE_MASK;
        buffer[s.slot - 1] = *made;
        buffer[s.slot - 1].header |= flags;
        s.token_type = T_MAP;
    }
}

// ---- the error text ----

Cell error_text(const State& s, const uint8_t* from) {
    const uint8_t* p = from;
    std::string text;
    while (text.size() < 30 && p < s.end && *p != '\n' && *p != 0) {
        int n = unicode::utf8_char_size_q(*p);
        if (n == 0) n = 1;
        if (p + n > s.end) n = int(s.end - p);
        text.append(reinterpret_cast<const char*>(p), size_t(n));
        p += n;
    }
    Cell out = cells::make_none();
    collector::Root r;
    string::load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), r.get(),
                 string::ENCODING_UTF8);
    out = *r;
    return out;
}

}  // namespace

void throw_error(State& s, const uint8_t* start, const uint8_t* end, int32_t kind) {
    s.error_kind = kind;
    if (!s.load) {
        s.token_type = T_ERROR;
        throw QuietStop{};
    }
    if (s.has_callback()) {
        int32_t type = kind > 0 ? kind : s.pending_type ? s.pending_type : s.token_type ? s.token_type : int32_t(T_ERROR);
        int32_t m = innermost_marker(s);
        if (s.mode == MODE_PATH && m >= 0 && path_type_q(marker_type(&buffer[m])))
            close_block(s, marker_type(&buffer[m]), s.pos, true);
        const uint8_t* at = start ? start : s.pos;
        if (!fire_event(s, EV_ERROR, type, nullptr, at, end ? end : at)) {
            s.token_type = T_ERROR;
            throw QuietStop{};
        }
    }
    // The text starts at the token, else at the innermost container's opener, else the input.
    const uint8_t* from = start;
    if (!from) {
        int32_t m = innermost_marker(s);
        from = m >= 0 ? s.begin + buffer[m].data3 : s.begin;
    }
    if (path_type_q(s.pending_type) && (kind == K_MISSING || kind == K_MISSING_AT_END || path_type_q(kind)))
        kind = K_BAD_CHAR;
    collector::Root line;
    {
        std::string l = "(line " + std::to_string(s.line) + ")";
        string::load(reinterpret_cast<const uint8_t*>(l.data()), uint32_t(l.size()), line.get(),
                     string::ENCODING_UTF8);
    }
    collector::Root text(error_text(s, from));
    switch (kind) {
    case K_BAD_CHAR: stack::raise_error("syntax", "bad-char", {line.get(), text.get()});
    case K_MALCONSTRUCT: stack::raise_error("syntax", "malconstruct", {line.get(), text.get()});
    case K_MISSING: case K_MISSING_AT_END: {
        bool paren = s.pending_type == T_PAREN || s.pending_type == T_POINT2D;
        char closer = paren ? ')' : ']';
        char opener = paren ? '(' : '[';
        char c = closer;
        if (kind == K_MISSING) {
            const uint8_t* at = start && start < s.end ? start : (s.end > s.begin ? s.end - 1 : s.end);
            if (at < s.end && *at == uint8_t(closer)) c = opener;
        }
        collector::Root ch;
        string::load(reinterpret_cast<const uint8_t*>(&c), 1, ch.get(), string::ENCODING_UTF8);
        stack::raise_error("syntax", "missing", {line.get(), ch.get(), text.get()});
    }
    default: {
        collector::Root type(cells::make_datatype(uint32_t(kind)));
        stack::raise_error("syntax", "invalid", {line.get(), type.get(), text.get()});
    }
    }
}

namespace {

// ---- structural scanners ----

// The point-shape test on the bytes after `(`.
bool point_shape_q(const State& s, const uint8_t* paren) {
    const uint8_t* p = paren + 1;
    if (s.end - p < 4) return false;
    for (; p < s.end; p++) {
        uint8_t c = *p;
        if (c == '\t' || c == ' ' || c == '#' || c == '+' || c == '-' || c == '.' ||
            (c >= '0' && c <= '9'))
            continue;
        if (std::strchr("AEFINaefin", c) && c) continue;
        return c == ',';
    }
    return true;
}

void scan_paren_open(State& s, const uint8_t* at, bool load) {
    (void)load;
    s.pos = at + 1;
    if (point_shape_q(s, at)) {
        s.mode = MODE_POINT;
        return;
    }
    open_block(s, T_PAREN, at);
}

void scan_comma(State& s, const uint8_t* at) {
    int32_t m = innermost_marker(s);
    int32_t mt = m >= 0 ? marker_type(&buffer[m]) : 0;
    if (mt == T_POINT2D) buffer[m].data2 += 0x10000;
    else if (mt == T_PAREN) buffer[m].data2 = T_POINT2D | 0x10000;
    else throw_error(s, at, at + 1, T_POINT2D);
    s.pos = at + 1;
}

void scan_brace_open(State& s, const uint8_t* at, uint32_t flags) {
    if (s.brace_depth == 0) {
        if (!fire_event(s, EV_OPEN, T_STRING, nullptr, at, at + 1)) {
            s.pos = at + 1;
            return;
        }
        s.brace_start = at;
        s.brace_flags = 0;
        if (s.token_lines > 0) s.brace_flags |= F_NEW_LINE;
    }
    s.brace_depth++;
    s.brace_flags |= flags;
    s.mode = MODE_BRACED;
    s.pos = at + 1;
}

void scan_brace_close(State& s, const uint8_t* at, uint32_t flags, bool load) {
    s.brace_flags |= flags;
    s.pos = at + 1;
    if (--s.brace_depth > 0) return;
    s.mode = MODE_NORMAL;
    const uint8_t* start = s.brace_start;
    // The new-line marker goes with the opening of the string, not its closing.
    int32_t lines = s.token_lines;
    s.token_lines = (s.brace_flags & F_NEW_LINE) ? 1 : 0;
    s.token_kind = T_STRING;
    if (load || s.load) load_string(s, start, at, s.brace_flags, load);
    s.token_lines = lines;
    s.token_type = T_STRING;
    s.pos = at + 1;
    fire_event(s, EV_CLOSE, T_STRING, nullptr, at, at + 1);
}

// `#(...)`: logic, none, unset or a datatype by name.
void scan_construct(State& s, const uint8_t* start, const uint8_t* end, bool load) {
    s.pos = end + 1;
    const uint8_t* name = start + 2;
    size_t n = size_t(end - name);
    auto is = [&](const char* word) {
        size_t k = std::strlen(word);
        if (k != n) return false;
        for (size_t i = 0; i < k; i++)
            if ((name[i] | 0x20) != word[i]) return false;
        return true;
    };
    Cell value;
    if (is("true")) value = cells::make_logic(true);
    else if (is("false")) value = cells::make_logic(false);
    else if (is("none")) value = cells::make_none();
    else if (is("unset")) value = cells::make_unset();
    else {
        uint32_t found = 0;
        for (uint32_t id = 1; id <= TYPE_COUNT_MAX && !found; id++) {
            const TypeName& t = type_registry::names[id];
            if (!t.name || std::strlen(t.name) != n) continue;
            bool same = true;
            for (size_t i = 0; i < n && same; i++) {
                uint8_t a = name[i], b = uint8_t(t.name[i]);
                if (a >= 'A' && a <= 'Z') a |= 0x20;
                if (b >= 'A' && b <= 'Z') b |= 0x20;
                same = a == b;
            }
            if (same) found = id;
        }
        if (!found) throw_error(s, start, end + 1, K_MALCONSTRUCT);
        value = cells::make_datatype(found);
    }
    s.token_type = int32_t(value.type());
    if (!load) return;
    uint32_t i = alloc_slot(s);
    uint32_t keep = buffer[i].header & CELL_NEW_LINE;
    buffer[i] = value;
    buffer[i].header |= keep;
}

// A word followed by `/`: opens the path, loads its first element, enters path mode.
void scan_path_open(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags) {
    int32_t type = T_PATH;
    if (start < end && *start == '\'') type = T_LIT_PATH;
    else if (start < end && *start == ':') type = T_GET_PATH;
    open_block(s, type, start);
    const uint8_t* name = start + (type == T_PATH ? 0 : 1);
    s.token_lines = 0;
    int32_t saved = s.mode;
    s.mode = MODE_PATH;  // the element is read as inside the path
    load_word(s, name, end, flags, s.load);
    s.mode = saved;
    s.pos = end + 1;
    if (s.pos >= s.end) throw_error(s, start, end + 1, T_PATH);
    s.mode = MODE_PATH;
}

// After an element inside a path: closes the path at a terminator, or goes on after a `/`.
void path_element_check(State& s) {
    int32_t m = innermost_marker(s);
    if (m < 0 || !path_type_q(marker_type(&buffer[m]))) return;
    const uint8_t* p = s.pos;
    uint8_t cls = p < s.end ? uint8_t(class_table[*p]) : uint8_t(C_END);
    if (cls == C_SLASH) {
        if (p + 1 >= s.end) {
            drop_container(s, uint32_t(m));
            s.mode = MODE_NORMAL;
            throw_error(s, p, p + 1, T_PATH);
        }
        s.pos = p + 1;
        return;
    }
    if (cls == C_COLON) {
        if (p + 1 < s.end && p[1] == '/') {
            const uint8_t* from = s.begin + buffer[m].data3;
            drop_container(s, uint32_t(m));
            s.mode = MODE_NORMAL;
            throw_error(s, from, p + 2, T_PATH);
        }
        s.pos = p + 1;
        close_block(s, T_SET_PATH, p, false);
        return;
    }
    close_block(s, marker_type(&buffer[m]), p, false);
}

}  // namespace

// ---- the scanning loop ----

namespace {

bool has_scanner(int final_state) {
    return final_state < S_STRING || final_state == S_STRING || final_state == S_WORD ||
           final_state == S_ISSUE;
}

Loader loader_of(int final_state) {
    switch (final_state) {
    case S_STRING: return load_string;
    case S_WORD: return load_word;
    case S_ISSUE: return load_issue;
    case S_INTEGER: return load_integer;
    case S_REFINEMENT: return load_refinement;
    case S_CHAR: return load_char;
    case S_FILE: return load_file;
    case S_BINARY: return load_binary;
    case S_PERCENT: return load_percent;
    case S_FLOAT: return load_float;
    case S_SPECIAL_FLOAT: return load_special_float;
    case S_TUPLE: return load_tuple;
    case S_DATE: return load_date;
    case S_PAIR: return load_pair;
    case S_POINT: return load_point;
    case S_TIME: return load_time;
    case S_MONEY: return load_money;
    case S_TAG: return load_tag;
    case S_URL: return load_url;
    case S_EMAIL: return load_email;
    case S_HEX: return load_hex;
    case S_RAW_STRING: return load_raw_string;
    case S_REF: return load_ref;
    default: return nullptr;
    }
}

// Strips the Unicode delimiters (a fixed set of spaces and separators) from the token's start.
bool unicode_delimiter_q(int32_t cp) {
    switch (cp) {
    case 0x85: case 0xA0: case 0x1680: case 0x180E: case 0x2028: case 0x2029: case 0x202F:
    case 0x205F: case 0x200B:
        return true;
    default: return cp >= 0x2000 && cp <= 0x200A;
    }
}
const uint8_t* skip_unicode_delimiters(const uint8_t* p, const uint8_t* end) {
    while (p < end && *p >= 0xC2) {
        int32_t count = int32_t(end - p);
        int32_t cp = unicode::decode_utf8_status(p, count);
        if (cp < 0 || !unicode_delimiter_q(cp)) break;
        p += count;
    }
    return p;
}

// Runs the scanner of a final state. Structural finals (below S_STRING) do their whole work
// here; the string, word and issue scanners check their token.
void run_scanner(State& s, int final_state, const uint8_t* start, const uint8_t* end,
                 uint32_t flags, bool load) {
    switch (final_state) {
    case S_EOF: s.pos = s.end; break;
    case S_ERROR: {
        int32_t kind = token_type[s.previous_state] ? int32_t(token_type[s.previous_state]) : K_BAD_CHAR;
        const uint8_t* from = start;
        if (s.mode == MODE_BRACED) from = s.brace_start;
        else if (kind == T_BLOCK || kind == T_PAREN || path_type_q(kind)) from = nullptr;
        throw_error(s, from, end, kind);
    }
    case S_BLOCK_OPEN: s.pos = end + 1; open_block(s, T_BLOCK, end); break;
    case S_BLOCK_CLOSE: s.pos = end + 1; close_map(s, end); break;
    case S_PAREN_OPEN: scan_paren_open(s, end, load); break;
    case S_PAREN_CLOSE: s.pos = end + 1; close_block(s, T_PAREN, end, false); break;
    case S_BRACE_OPEN: scan_brace_open(s, end, flags); break;
    case S_BRACE_CLOSE: scan_brace_close(s, end, flags, load); break;
    case S_MAP_OPEN: s.pos = end + 1; open_block(s, T_MAP, start); break;
    case S_PATH: scan_path_open(s, start, end, flags); break;
    case S_CONSTRUCT: scan_construct(s, start, end, load); break;
    case S_COMMENT: break;
    case S_COMMA: scan_comma(s, end); break;
    case S_STRING: scan_string_token(s, start, end, flags, false); break;
    case S_WORD: load_word(s, start, end, flags, false); break;
    case S_ISSUE: load_issue(s, start, end, flags, false); break;
    default: break;
    }
}

// A token whose loader did not run: the position moves past the closing byte that the token
// does not include, as the loader would have moved it.
void skip_unloaded(State& s, int final_state, const uint8_t* start, const uint8_t* end) {
    switch (final_state) {
    case S_PERCENT: case S_CHAR: case S_BINARY: case S_TAG: s.pos = end + 1; break;
    case S_POINT: s.pos = end + 1; s.mode = MODE_NORMAL; break;
    case S_FILE: if (end - start >= 2 && start[1] == '"') s.pos = end + 1; break;
    default: break;
    }
    if (s.pos > s.end) s.pos = s.end;
}

// One-value and prescan modes return once the buffer holds no value or one finished value.
bool one_value_done(const State& s) {
    uint32_t n = s.slot - s.head;
    return n == 0 || (n == 1 && !buffer[s.head].is(T_MARKER));
}

void scan_tokens(State& s, bool one_value, bool prescan) {
    s.line = 1;
    while (true) {
        uint32_t flags = 0;
        int state = s.mode;
        int previous = state;
        const uint8_t* p = s.pos;
        const uint8_t* start = p;
        int32_t lines = 0;
        const uint8_t* end = s.end;
        while (true) {
            if (p >= end) {
                previous = state;
                state = transitions[state][C_END];
                break;
            }
            uint32_t entry = class_table[*p];
            uint32_t cls = entry & 0xFF;
            flags |= entry & ~0xFFu;
            int next = transitions[state][cls];
            if (next >= FIRST_FINAL) {
                previous = state;
                state = next;
                break;
            }
            if (next == 0) start = p + 1;  // leading blanks are not part of the token
            lines += line_count[cls];
            state = next;
            p++;
        }
        s.pos = p;
        s.token_end = p;
        s.line += lines;
        s.token_lines = lines;
        s.previous_state = previous;
        s.error_kind = -1;
        s.token_type = token_type[state];
        current_final = state;
        int32_t token_mode = s.mode;

        if (state == S_EOF) {
            if (s.has_callback() && token_mode != MODE_BRACED) fire_event(s, EV_PRESCAN, 0, nullptr, start, p);
            s.pos = s.end;
            break;
        }
        bool structural_done = false;
        if (prescan && state <= S_STRING) {
            run_scanner(s, state, start, p, flags, false);
            structural_done = true;
        }
        if (state == S_WORD) {
            start = skip_unicode_delimiters(start, p);
            if (start == p) {
                if (s.pos >= s.end) break;
                continue;
            }
        }
        bool proceed;
        if (!s.has_callback()) proceed = !prescan;
        else if (token_mode == MODE_BRACED) proceed = true;
        else if (state == S_PAREN_OPEN && point_shape_q(s, p)) proceed = true;
        else proceed = fire_event(s, EV_PRESCAN, s.token_type, nullptr, start, p);

        bool loaded = state < S_STRING || structural_done;
        if (proceed && !structural_done) {
            bool wanted = !one_value || s.load;
            if (state < S_STRING) {
                run_scanner(s, state, start, p, flags, s.load);
            } else {
                bool scan_events = s.has_callback() && (s.mask & EV_SCAN);
                if (s.load || has_scanner(state) || scan_events) {
                    if (has_scanner(state)) run_scanner(s, state, start, p, flags, s.load);
                    else loader_of(state)(s, start, p, flags, false);
                    if (s.has_callback())
                        wanted = fire_event(s, EV_SCAN, s.token_type, nullptr, start, p);
                }
                if (wanted) {
                    loaded = true;
                    uint32_t before = s.slot;
                    loader_of(state)(s, start, p, flags, true);
                    if (s.has_callback() && s.slot > before) {
                        collector::Root v(buffer[s.slot - 1]);
                        if (!fire_event(s, EV_LOAD, s.token_type, v.get(), start, p)) s.slot--;
                    }
                }
            }
        }
        if (!loaded) skip_unloaded(s, state, start, p);
        if (s.mode == MODE_PATH && token_mode == MODE_PATH && state != S_ERROR)
            path_element_check(s);
        else if (s.mode == MODE_PATH && state == S_PAREN_CLOSE)
            path_element_check(s);
        if ((one_value || prescan) && s.token_type != 0 && s.mode != MODE_PATH &&
            s.mode != MODE_BRACED && one_value_done(s))
            break;
        s.last_type = s.token_type;
        if (s.pos >= s.end && s.mode != MODE_BRACED && s.mode != MODE_POINT && s.mode != MODE_PATH) {
            // The next round reads the end of the input.
        }
    }
    if (s.mode == MODE_BRACED) throw_error(s, s.brace_start, s.end, T_STRING);
}

// Keeps the scan chain and the shared buffer consistent on every exit path.
struct Link {
    State& s;
    explicit Link(State& state) : s(state) {
        s.previous = current;
        if (current) current->next = &s;
        current = &s;
    }
    ~Link() {
        current = s.previous;
        if (current) current->next = nullptr;
    }
};

}  // namespace

namespace {

// Before an error leaves a scan into an /into block: the values complete at the top level (those
// before the outermost container still open) are appended to it, as a scan that appends each
// value as it is made would have left them.
void keep_scanned(State& s, const ScanOptions& o) {
    if (!o.into || !s.load || o.one_value || o.scan) return;
    uint32_t end = s.slot;
    for (uint32_t c = s.container; c != s.head;) {
        end = c - 1;  // a marker; the container before it begins data1 cells back
        c = c - buffer[end].data1;
    }
    collector::Root into(*o.into);
    for (uint32_t i = s.head; i < end; i++) {
        buffer::alloc_block_tail(into.get());
        Cell* tail = memory::buffer_of(cells::series_node(*into))->tail_cell() - 1;
        *tail = buffer[i];
    }
}

}  // namespace

int32_t scan(Cell* out, const uint8_t* text, uint32_t length, const ScanOptions& o,
             int32_t* consumed) {
    if (buffer.empty()) buffer.resize(INITIAL_CELLS);
    State s;
    s.head = s.container = s.slot = current ? current->slot : 0;
    s.begin = s.pos = text;
    s.end = text + length;
    s.load = !o.prescan && !o.scan;
    s.mode = MODE_NORMAL;
    s.callback = (o.callback && !o.callback->is(T_NONE)) ? *o.callback : cells::make_none();
    s.mask = o.mask;
    s.callback_locals = o.callback_locals;
    s.input = o.input ? *o.input : cells::make_none();
    s.string_input = o.input && !o.input->is(T_BINARY);
    s.input_index = o.input ? cells::series_index(*o.input) : 0;
    Link link(s);
    // Almost everything a scan allocates stays alive (its values), so collecting during a scan
    // only moves live data: a scan without a callback runs with the collector off, except in
    // stress mode, whose collections check the scan's rooting.
    std::optional<collector::CollectorOff> off;
    if (!s.has_callback() && !collector::state.stress) off.emplace();
    bool quiet = false;
    try {
        scan_tokens(s, o.one_value || o.scan, o.prescan);
    } catch (const QuietStop&) {
        quiet = true;
    } catch (...) {
        keep_scanned(s, o);
        s.slot = s.head;
        throw;
    }
    int32_t result_type = s.token_type;
    if (!quiet && s.container != s.head) {
        // A container is still open at the end.
        int32_t m = innermost_marker(s);
        s.pending_type = marker_type(&buffer[m]);
        if (s.load) {
            try {
                throw_error(s, nullptr, nullptr, K_MISSING_AT_END);
            } catch (const QuietStop&) {
                quiet = true;
            } catch (...) {
                keep_scanned(s, o);
                s.slot = s.head;
                throw;
            }
        } else {
            if (o.prescan && path_type_q(s.pending_type)) result_type = s.pending_type;
            *out = cells::make_none();
            quiet = true;
        }
    }
    if (consumed) {
        int32_t bytes = int32_t(s.pos - s.begin);
        *consumed = s.string_input ? unicode::utf8_length_q(s.begin, s.pos) : bytes;
    }
    if (s.load && !quiet) {
        uint32_t n = s.slot - s.head;
        if ((o.one_value || o.scan) && !o.block_result) {
            *out = n ? buffer[s.head] : cells::make_unset();
            out->header &= ~CELL_NEW_LINE;
        } else {
            collector::Root blk;
            if (o.into) {
                *blk = *o.into;
                for (uint32_t i = 0; i < n; i++) {
                    Cell v = buffer[s.head + i];
                    buffer::alloc_block_tail(blk.get());
                    Cell* tail = memory::buffer_of(cells::series_node(*blk))->tail_cell() - 1;
                    *tail = buffer[s.head + i];
                    (void)v;
                }
            } else {
                Handle node = memory::make_cells(n ? n : 1);
                SeriesBuffer* b = memory::buffer_of(node);
                if (n) std::memcpy(b->data(), &buffer[s.head], size_t(n) * sizeof(Cell));
                b->tail = b->head + n * uint32_t(sizeof(Cell));
                *blk = cells::make_series(T_BLOCK, node);
            }
            *out = *blk;
        }
    } else if (quiet && s.load) {
        *out = cells::make_none();
    }
    s.slot = s.head;
    if (quiet && result_type != T_ERROR && s.token_type == T_ERROR) result_type = T_ERROR;
    return result_type;
}

int32_t scan_string(Cell* out, const Cell* text, int32_t length, const ScanOptions& o,
                    int32_t* consumed) {
    std::string utf8;
    collector::Root t(*text);
    unicode::append_utf8(utf8, t.get());
    if (length >= 0) {
        const uint8_t* b = reinterpret_cast<const uint8_t*>(utf8.data());
        const uint8_t* e = unicode::utf8_skip(b, b + utf8.size(), length);
        utf8.resize(size_t(e - b));
    }
    ScanOptions opts = o;
    opts.input = t.get();
    return scan(out, reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size()), opts,
                consumed);
}

}  // namespace kov::lexer

namespace kov::lexer {

namespace {

// cell::scan_first_value's service: the whole text into a block, one value deep.
bool scan_text_into(Cell* out_block, const Cell* text, int32_t* consumed) {
    ScanOptions o;
    o.one_value = true;
    o.block_result = true;
    scan_string(out_block, text, -1, o, consumed);
    return true;
}

// The word datatype's services: the datatype of a text's first token, and the first value of a
// text value loaded as a whole (false when the text holds more than that value).
uint32_t scan_type_of(const uint8_t* utf8, uint32_t length) {
    collector::Root out;
    ScanOptions o;
    o.scan = true;
    int32_t type = scan(out.get(), utf8, length, o, nullptr);
    return type > 0 ? uint32_t(type) : 0;
}

bool scan_first_of(const Cell* text, Cell* out) {
    return cell::scan_first_value(text, out) != &cell::scan_failure;
}

}  // namespace

void init() {
    static bool marker_added = false;
    if (!marker_added) {
        collector::add_root_marker(mark_scans);
        marker_added = true;
    }
    current = nullptr;
    if (buffer.size() < INITIAL_CELLS) buffer.assign(INITIAL_CELLS, cells::make_none());
    cell::scan_string_hook = scan_text_into;
    word::lexer.scan_type = scan_type_of;
    word::lexer.scan_first_value = scan_first_of;
}

}  // namespace kov::lexer
