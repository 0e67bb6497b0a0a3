// event!: the two maps between type ids and type words, field reads of both forms, the six
// actions (make, form, mold, eval-path, pick, compare), the routines event?, send-event-os and
// find-flag?, and the registration that the boot top level runs last.
#include "datatypes/event.hpp"

#include <cmath>
#include <iterator>

#include "core/boot.hpp"
#include "core/buffer.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/memory.hpp"
#include "core/services.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/block.hpp"
#include "datatypes/char.hpp"
#include "datatypes/float.hpp"
#include "datatypes/string.hpp"

namespace kov::event {

Backend backend;

namespace {

using collector::Root;
using collector::SeriesRef;

constexpr const char* TYPE_NAMES[TYPE_COUNT + 1] = {
    nullptr,    "down",      "up",        "mid-down", "mid-up",   "alt-down", "alt-up",
    "aux-down", "aux-up",    "click",     "dbl-click", "wheel",   "over",     "key",
    "key-down", "key-up",    "ime",       "focus",    "unfocus",  "enter",    "zoom",
    "pan",      "rotate",    "two-tap",   "press-tap", "select",  "change",   "menu",
    "close",    "move",      "resize",    "moving",   "resizing", "time",     "drawing",
    "scroll",   "minimize",  "maximize",  "restore"};

constexpr const char* FIELD_NAMES[FIELD_COUNT + 1] = {
    nullptr,  "type",  "face",       "window",     "offset",     "key",   "picked",   "flags",
    "away?",  "down?", "mid-down?",  "alt-down?",  "aux-down?",  "ctrl?", "shift?", "orientation"};

// Special key codes -20 .. -42 (code -30 unused), indexed by -20 - code.
constexpr const char* KEY_NAMES[] = {"up",  "down", "right", "left", "end", "home",
                                     "insert", "delete", "page-up", "page-down", nullptr,
                                     "F1",  "F2",   "F3",    "F4",   "F5",  "F6",
                                     "F7",  "F8",   "F9",    "F10",  "F11", "F12"};
constexpr int32_t KEY_COUNT = int32_t(std::size(KEY_NAMES));

struct Flag {
    const char* name;
    uint32_t bit;
    bool reported;  // listed by the flags field
};
// In the order the flags field lists them.
constexpr Flag FLAGS[] = {{"away", AWAY, true},         {"down", DOWN, true},
                          {"mid-down", MID_DOWN, true}, {"alt-down", ALT_DOWN, true},
                          {"aux-down", AUX_DOWN, true}, {"control", CONTROL, true},
                          {"shift", SHIFT, true},       {"alt", ALT, true},
                          {"command", COMMAND, false}};
constexpr size_t FLAG_COUNT = std::size(FLAGS);

// The logic fields and their bits.
constexpr uint32_t FIELD_BITS[FIELD_COUNT + 1] = {
    0, 0, 0, 0, 0, 0, 0, 0, AWAY, DOWN, MID_DOWN, ALT_DOWN, AUX_DOWN, CONTROL, SHIFT, 0};

// Interned by init: word cells bound in the global context (marked by the root marker below)
// and canonical symbols.
Cell type_words[TYPE_COUNT + 1];
Cell key_words[KEY_COUNT];
Cell flag_words[FLAG_COUNT];
uint32_t field_symbols[FIELD_COUNT + 1];
bool interned = false;
bool marker_added = false;

enum SpecField { S_TYPE, S_KEY, S_FLAGS, S_FACE, S_WINDOW, S_OFFSET, S_PICKED, S_NONE };

void mark_words() {
    if (!interned) return;
    collector::mark_cells(type_words, type_words + TYPE_COUNT + 1);
    collector::mark_cells(key_words, key_words + KEY_COUNT);
    collector::mark_cells(flag_words, flag_words + FLAG_COUNT);
}

uint32_t canonical(const Cell& word) { return symbol::resolve(cells::word_symbol(word)); }

SpecField spec_field(uint32_t sym) {
    if (sym == field_symbols[F_TYPE]) return S_TYPE;
    if (sym == field_symbols[F_KEY]) return S_KEY;
    if (sym == field_symbols[F_FLAGS]) return S_FLAGS;
    if (sym == field_symbols[F_FACE]) return S_FACE;
    if (sym == field_symbols[F_WINDOW]) return S_WINDOW;
    if (sym == field_symbols[F_OFFSET]) return S_OFFSET;
    if (sym == field_symbols[F_PICKED]) return S_PICKED;
    return S_NONE;
}

uint32_t flag_bit(const Cell& word) {
    uint32_t sym = canonical(word);
    for (size_t i = 0; i < FLAG_COUNT; i++)
        if (sym == canonical(flag_words[i])) return FLAGS[i].bit;
    return 0;
}

[[noreturn]] void not_done() { stack::raise_error("internal", "not-done"); }

// The backend record a backend-form event names; not-done while there is none.
const BackendRecord& record_of(const Cell& ev) {
    const BackendRecord* r = backend.record ? backend.record(ev.data2) : nullptr;
    if (!r) not_done();
    return *r;
}

// Cell k of an own-values event's block, or the default when it has no block.
Cell own_cell(const Cell& ev, uint32_t k) {
    Handle node = ev.data2;
    if (node) {
        SeriesBuffer* b = memory::buffer_of(node);
        if (k < b->length()) return b->head_cell()[k];
    }
    switch (k) {
    case C_OFFSET: return Cell{T_PAIR, 0, 0, 0};
    case C_PICKED: return cells::make_integer(0);
    default: return cells::make_none();
    }
}

// A coordinate in cells, truncated toward zero (NaN reads 0, the infinities the far ends).
int32_t truncate_coordinate(float f) {
    if (std::isnan(f)) return 0;
    if (f >= 2147483647.0f) return INT32_MAX;
    if (f <= -2147483648.0f) return INT32_MIN;
    return int32_t(f);
}

Cell key_value(int32_t code) {
    if (code < 0 || uint32_t(code) > character::MAX_CODE_POINT) return cells::make_none();
    return character::make_cell(uint32_t(code));
}

Cell special_key(int32_t code) {
    int32_t i = -20 - code;
    if (i < 0 || i >= KEY_COUNT || !KEY_NAMES[i]) return cells::make_none();
    return key_words[i];
}

Cell* push_flags(uint32_t flags) {
    Cell* blk = block::push_new(int32_t(FLAG_COUNT));
    for (size_t i = 0; i < FLAG_COUNT; i++)
        if (FLAGS[i].reported && (flags & FLAGS[i].bit)) block::append_value(blk, &flag_words[i]);
    return blk;
}

}  // namespace

// ---- the maps ----

uint32_t type_of_word(const Cell* word) {
    uint32_t sym = canonical(*word);
    for (uint32_t id = 1; id <= TYPE_COUNT; id++)
        if (sym == canonical(type_words[id])) return id;
    return 0;
}

Cell type_word(uint32_t id) {
    if (id < 1 || id > TYPE_COUNT) return cells::make_none();
    return type_words[id];
}

void set_type(Cell* event, const Cell* word) {
    uint32_t id = type_of_word(word);
    if (!id) {
        Cell w = *word;
        w.header = T_WORD;
        stack::raise_error("script", "not-event-type", {&w});
    }
    event->data1 = id;
}

int32_t field_index(const Cell* word) {
    uint32_t sym = canonical(*word);
    for (int32_t i = 1; i <= FIELD_COUNT; i++)
        if (sym == field_symbols[i]) return i;
    return 0;
}

Cell* push_field(const Cell* event, int32_t index) {
    const Cell ev = *event;  // nothing below allocates before its last read of `ev`
    bool own = own_form(ev);
    uint32_t flags = ev.data3;
    Cell out = cells::make_none();
    switch (index) {
    case F_TYPE: out = type_word(ev.data1); break;
    case F_FACE: out = own ? own_cell(ev, C_FACE) : record_of(ev).face; break;
    case F_WINDOW: if (own) out = own_cell(ev, C_WINDOW); break;
    case F_OFFSET:
        if (own) {
            out = own_cell(ev, C_OFFSET);
        } else {
            const BackendRecord& r = record_of(ev);
            out = Cell{T_PAIR, 0, uint32_t(truncate_coordinate(r.x)),
                       uint32_t(truncate_coordinate(r.y))};
        }
        break;
    case F_KEY:
        if (own) {
            uint32_t code = flags & KEY_MASK;
            if (code) out = key_value(int32_t(code));
        } else {
            const BackendRecord& r = record_of(ev);
            out = (flags & SPECIAL_KEY) ? special_key(r.key_or_picked) : key_value(r.key_or_picked);
        }
        break;
    case F_PICKED:
        if (own) {
            out = own_cell(ev, C_PICKED);
        } else {
            const BackendRecord& r = record_of(ev);
            if (ev.data1 == WHEEL_TYPE) return float_::push(double(r.wheel));
            out = cells::make_integer(r.key_or_picked);
        }
        break;
    case F_FLAGS: return push_flags(flags);
    case F_AWAY_Q: case F_DOWN_Q: case F_MID_DOWN_Q: case F_ALT_DOWN_Q: case F_AUX_DOWN_Q:
    case F_CTRL_Q: case F_SHIFT_Q:
        out = cells::make_logic((flags & FIELD_BITS[index]) != 0);
        break;
    default: break;  // orientation
    }
    return stack::push(&out);
}

// ---- actions ----

Cell* make(const Cell*, const Cell* spec, uint32_t) {
    uint32_t type = 0, flags = 0;
    bool has_block = false;
    Root face(cells::make_none()), window(cells::make_none());
    Root offset(Cell{T_PAIR, 0, 0, 0}), picked(cells::make_integer(0));
    if (spec->is(T_BLOCK)) {
        SeriesRef s(*spec);
        uint32_t i = s.index();
        while (i < s.total()) {
            Cell item = *s.cell_at(i);
            if (!item.is(T_SET_WORD)) {
                i++;
                continue;
            }
            if (i + 1 >= s.total()) break;  // a set-word without a value
            Root value(*s.cell_at(i + 1));
            i += 2;
            if ((value->is(T_WORD) || value->is(T_GET_WORD)) && cells::word_context(*value))
                value.cell = *context::get(value.get());
            switch (spec_field(canonical(item))) {
            case S_TYPE:
                if (value->is(T_WORD) || value->is(T_LIT_WORD)) {
                    Cell probe{T_EVENT, 0, 0, 0};
                    set_type(&probe, value.get());
                    type = probe.data1;
                }
                break;
            case S_KEY:
                if (value->is(T_CHAR)) flags |= value->data2 & KEY_MASK;
                break;
            case S_FLAGS:
                if (value->is(T_BLOCK)) {
                    SeriesRef f(*value);
                    for (uint32_t k = f.index(); k < f.total(); k++) {
                        const Cell* w = f.cell_at(k);
                        if (w->is(T_WORD)) flags |= flag_bit(*w);
                    }
                }
                break;
            case S_FACE:
                if (value->is(T_OBJECT)) { face.cell = *value; has_block = true; }
                break;
            case S_WINDOW:
                if (value->is(T_OBJECT)) { window.cell = *value; has_block = true; }
                break;
            case S_OFFSET:
                if (value->is(T_PAIR) || value->is(T_POINT2D)) { offset.cell = *value; has_block = true; }
                break;
            case S_PICKED:
                if (value->is(T_INTEGER)) { picked.cell = *value; has_block = true; }
                break;
            case S_NONE: break;
            }
        }
    }
    Cell* result = stack::arguments;  // on the argument stack: it roots the block once made
    *result = Cell{T_EVENT | EVENT_FLAG, type, 0, flags};
    if (has_block) {
        Handle node = memory::make_cells(OWN_CELLS);
        result->data2 = node;
        const Cell* parts[OWN_CELLS] = {face.get(), window.get(), offset.get(), picked.get()};
        for (const Cell* p : parts) {
            Cell v = *p;
            *buffer::alloc_tail_cell(node) = v;
        }
    }
    return result;
}

int32_t form(const Cell*, Cell* out, bool, int32_t limit) {
    string::concatenate_cstring(out, "event", 5);
    return limit - 5;
}

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, bool part, int32_t limit, int32_t) {
    return form(value, out, part, limit);
}

Cell* eval_path(const PathStep& step) {
    const Cell* e = step.element;
    int32_t index = e->is(T_WORD) ? field_index(e) : 0;
    Cell path = step.path ? *step.path : cells::make_none();
    if (!index) {
        Cell element = *e;
        stack::raise_error("script", "invalid-path", {&path, &element});
    }
    if (!step.set_value) return push_field(step.value, index);
    if (index != F_TYPE) {
        Cell element = *e;
        stack::raise_error("script", "bad-path-set", {&path, &element});
    }
    if (!step.set_value->is(T_WORD)) {
        Cell v = *step.set_value;
        stack::raise_error("script", "bad-path-set", {&path, &v});
    }
    Cell old = *step.value;
    set_type(step.value, step.set_value);
    return float_::finish_path_set(step, old);
}

Cell* pick(Cell* value, int32_t index, const Cell* index_value) {
    if (index_value && index_value->is(T_WORD)) {
        index = field_index(index_value);
        if (!index) {
            Cell w = *index_value, v = *value;
            stack::raise_error("script", "cannot-use", {&w, &v});
        }
    } else if (index_value && !index_value->is(T_INTEGER)) {
        index = 0;  // only integers and field words name a field
    }
    if (index < 1 || index > FIELD_COUNT) {
        Cell i = index_value ? *index_value : cells::make_integer(index);
        stack::raise_error("script", "out-of-range", {&i});
    }
    return push_field(value, index);
}

int32_t compare(const Cell*, const Cell* b, int32_t op) {
    if (!b->is(T_EVENT)) return NOT_COMPARABLE;
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SAME: case COMP_FIND:
    case COMP_SORT: case COMP_CASE_SORT:
        return 0;
    default: return NOT_COMPARABLE;
    }
}

// ---- routines ----

void event_q() { *stack::arguments = cells::make_logic(stack::arguments[0].is(T_EVENT)); }

void send_event_os() {
    if (!backend.send) not_done();
    Root ev(stack::arguments[0]);
    bool queued = cells::truthy(stack::arguments[1]);
    *stack::arguments = cells::make_logic(backend.send(ev.get(), queued));
}

void find_flag_q() {
    const Cell facet = stack::arguments[0];
    uint32_t flag = canonical(stack::arguments[1]);
    bool found = false;
    if (facet.is(T_WORD)) {
        found = canonical(facet) == flag;
    } else if (facet.is(T_BLOCK)) {
        SeriesRef s(facet);
        for (uint32_t i = s.index(); i < s.total() && !found; i++) {
            const Cell* c = s.cell_at(i);
            found = (c->is(T_WORD) || c->is(T_LIT_WORD)) && canonical(*c) == flag;
        }
    }
    *stack::arguments = cells::make_logic(found);
}

void boot_init() {
    boot::booting = true;
    init();
    boot::booting = false;
    *stack::arguments = cells::make_unset();
}

// ---- registration ----

void init() {
    for (uint32_t id = 1; id <= TYPE_COUNT; id++) type_words[id] = *word::load(TYPE_NAMES[id]);
    type_words[0] = cells::make_none();
    for (int32_t i = 0; i < KEY_COUNT; i++)
        key_words[i] = KEY_NAMES[i] ? *word::load(KEY_NAMES[i]) : cells::make_none();
    for (size_t i = 0; i < FLAG_COUNT; i++) flag_words[i] = *word::load(FLAGS[i].name);
    field_symbols[0] = 0;
    for (int32_t i = 1; i <= FIELD_COUNT; i++)
        field_symbols[i] = symbol::resolve(symbol::make(FIELD_NAMES[i]));
    interned = true;
    if (!marker_added) {
        collector::add_root_marker(mark_words);
        marker_added = true;
    }
    type_registry::register_type(T_EVENT, 0, "event!",
                                 {.make = make, .form = form, .mold = mold, .eval_path = eval_path,
                                  .compare = compare, .pick = pick});
}

void unbind() { interned = false; }

}  // namespace kov::event
