// event!: the value through which the text-UI backend tells the view engine what happened (a
// key, a button, the wheel, the pointer, a timer), and which the language can build itself with
// `make event!`. Fields are read through paths and `pick`; only `type` can be set.
//
// A cell has two forms, told apart by EVENT_FLAG in the header:
//   own values (made by `make`): data1 the type id (0: none given), data2 the node of a block of
//     four cells [face window offset picked] or 0 when none was given, data3 the flags, whose
//     low 21 bits hold the key's code point;
//   backend (made by the backend while it dispatches): data1 the type id, data2 the id of the
//     backend's record (never a machine address; read through `backend.record`), data3 the
//     flags. Reading the fields that live in the record needs the backend: while it is absent,
//     or once the record is gone, such a read raises the internal error not-done.
// The datatype is registered at the end of the boot top level (`init`), not with the others.
#pragma once

#include <cstdint>

#include "core/action_table.hpp"
#include "core/value.hpp"

namespace kov::event {

constexpr uint32_t TYPE_COUNT = 38;  // type ids 1..38
constexpr uint32_t WHEEL_TYPE = 11;

// Flag bits (data3 of both forms).
constexpr uint32_t SPECIAL_KEY = 0x00000001;  // backend form: the key is a special key code
constexpr uint32_t AUX_DOWN = 0x00400000;
constexpr uint32_t ALT_DOWN = 0x00800000;
constexpr uint32_t MID_DOWN = 0x01000000;
constexpr uint32_t DOWN = 0x02000000;
constexpr uint32_t AWAY = 0x04000000;
constexpr uint32_t CONTROL = 0x10000000;
constexpr uint32_t SHIFT = 0x20000000;
constexpr uint32_t ALT = 0x40000000;
constexpr uint32_t COMMAND = 0x80000000;
// Own-values form: the key's code point (0: no key). The flag bits start above it.
constexpr uint32_t KEY_MASK = 0x001FFFFF;

// Field indexes, as `pick` takes them.
enum Field : int32_t {
    F_TYPE = 1, F_FACE, F_WINDOW, F_OFFSET, F_KEY, F_PICKED, F_FLAGS, F_AWAY_Q, F_DOWN_Q,
    F_MID_DOWN_Q, F_ALT_DOWN_Q, F_AUX_DOWN_Q, F_CTRL_Q, F_SHIFT_Q, F_ORIENTATION
};
constexpr int32_t FIELD_COUNT = 15;

// Cells of the own-values block.
enum OwnCell : uint32_t { C_FACE = 0, C_WINDOW, C_OFFSET, C_PICKED, OWN_CELLS };

// The backend's record of the event it is dispatching.
struct BackendRecord {
    Cell face;              // the face of the widget concerned (the backend keeps it alive)
    float x, y;             // pointer position in cells, relative to the widget
    int32_t key_or_picked;  // a character, a special key code (SPECIAL_KEY set) or the picked value
    float wheel;            // wheel steps (+1 up, -1 down), for wheel events
};

// What the event datatype needs of the text-UI backend; null entries while it does not exist.
struct Backend {
    // The live record of that id, or null once its dispatch is over.
    const BackendRecord* (*record)(uint32_t id) = nullptr;
    // Hands an event to the backend; answers whether it was posted.
    bool (*send)(const Cell* event, bool queued) = nullptr;
};
extern Backend backend;

constexpr bool own_form(const Cell& c) { return (c.header & EVENT_FLAG) != 0; }
constexpr Cell make_backend_cell(uint32_t type, uint32_t record, uint32_t flags) {
    return Cell{T_EVENT, type, record, flags};
}

// Registers event! (id 54) and interns the words of its maps and fields. Run once the symbol
// table and the global context exist (start-up runs it at the end of the boot top level).
void init();
// Forgets the interned words (runtime start-up, before a restart).
void unbind();

// ---- the two maps ----

// The type id a word names (compared by canonical symbol), or 0 when it names no event type.
uint32_t type_of_word(const Cell* word);
// The word of a type id, or none for an id outside 1..38.
Cell type_word(uint32_t id);
// Replaces the type id of an event cell by the one the word names; raises not-event-type.
void set_type(Cell* event, const Cell* word);

// The field index a word names (canonical symbol), or 0.
int32_t field_index(const Cell* word);
// Pushes the value of field 1..15 of the event (rooted); answers the pushed cell.
Cell* push_field(const Cell* event, int32_t index);

// ---- actions ----

Cell* make(const Cell* proto, const Cell* spec, uint32_t type);
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
             int32_t limit, int32_t indent);
Cell* eval_path(const PathStep& step);
Cell* pick(Cell* value, int32_t index, const Cell* index_value);
int32_t compare(const Cell* a, const Cell* b, int32_t op);

// ---- routines (arguments from arguments[0] on in the current frame, result in arguments[0]) ----

void event_q();        // value [any-type!]
void send_event_os();  // event [event!] queued? [logic!]
void find_flag_q();    // facet [any-type!] flag [word!]
// Boot-only: registers the datatype with the booting flag set, then clears the flag.
void boot_init();

}  // namespace kov::event
