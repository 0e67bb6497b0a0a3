// error! values and the error catalogue.
#include "datatypes/error.hpp"

#include <cstring>

#include "core/memory.hpp"
#include "core/output.hpp"
#include "core/symbol.hpp"

namespace kov::error {

namespace {

const char* const throw_ids[] = {"break", "return", "throw", "continue", "while-cond", nullptr};
const char* const note_ids[] = {"no-load", nullptr};
const char* const syntax_ids[] = {"invalid", "missing", "no-header", "no-ks-header", "bad-header",
                                  "malconstruct", "bad-char", nullptr};
const char* const script_ids[] = {
    "no-value", "need-value", "not-defined", "not-in-context", "no-arg", "expect-arg",
    "expect-val", "expect-type", "cannot-use", "invalid-arg", "invalid-type", "invalid-type-spec",
    "invalid-key-type", "invalid-op", "no-op-arg", "bad-op-spec", "invalid-data", "invalid-part",
    "not-same-type", "not-same-class", "not-related", "bad-func-def", "bad-func-arg",
    "bad-func-extern", "no-refine", "bad-refines", "bad-refine", "dup-refine", "word-first",
    "empty-path", "unset-path", "invalid-path", "invalid-path-set", "invalid-path-get",
    "bad-path-type", "bad-path-type2", "bad-path-set", "bad-field-set", "dup-vars", "past-end",
    "missing-arg", "out-of-range", "invalid-chars", "invalid-compare", "wrong-type",
    "invalid-refine-arg", "type-limit", "size-limit", "no-return", "throw-usage", "locked-word",
    "protected", "bad-bad", "bad-make-arg", "bad-to-arg", "invalid-months", "invalid-spec-field",
    "missing-spec-field", "move-bad", "too-long", "invalid-char", "bad-loop-series", "wrong-denom",
    "bad-denom", "invalid-obj-evt", "parse-rule", "parse-end", "parse-invalid-ref", "parse-block",
    "parse-unsupported", "parse-infinite", "parse-stack", "parse-keep", "parse-into-bad",
    "parse-into-type", "draw-invalid", "draw-infinite", "invalid-data-facet", "face-type",
    "not-window", "bad-window", "not-linked", "not-event-type", "invalid-facet-type",
    "kvd-invalid-syntax", "rtd-invalid-syntax", "rtd-no-match", "react-bad-func",
    "react-not-enough", "react-no-match", "react-bad-obj", "react-gctx", "lib-invalid-arg",
    "kb-invalid-record", nullptr};
const char* const math_ids[] = {"zero-divide", "overflow", "positive", nullptr};
const char* const access_ids[] = {"cannot-open", "cannot-close", "invalid-utf8", "not-open",
                                  "no-connect", "no-scheme", "unknown-scheme", "invalid-spec",
                                  "invalid-port", "invalid-actor", "no-port-action", "no-create",
                                  "no-codec", "bad-media", "invalid-cmd", nullptr};
const char* const no_ids[] = {nullptr};
const char* const user_ids[] = {"message", nullptr};
const char* const internal_ids[] = {"bad-path", "not-here", "no-memory", "wrong-mem",
                                    "stack-overflow", "limit-hit", "too-deep", "no-cycle",
                                    "feature-na", "not-done", "invalid-error", "routines",
                                    "kov-system", "deprecated", nullptr};

Cell* fields(const Cell* e) { return memory::buffer_of(e->data1)->head_cell(); }


}  // namespace

const Category catalogue[CATEGORY_COUNT] = {
    {"throw", "Throw Error", throw_ids},       {"note", "note", note_ids},
    {"syntax", "Syntax Error", syntax_ids},    {"script", "Script Error", script_ids},
    {"math", "Math Error", math_ids},          {"access", "Access Error", access_ids},
    {"reserved1", "Reserved1 Error", no_ids},  {"reserved2", "Reserved2 Error", no_ids},
    {"user", "User Error", user_ids},          {"internal", "Internal Error", internal_ids},
};

bool lookup(std::string_view category, std::string_view id, int& cat, int& slot) {
    for (int c = 0; c < CATEGORY_COUNT; c++) {
        if (category != catalogue[c].word) continue;
        for (int i = 0; catalogue[c].ids[i]; i++) {
            if (id == catalogue[c].ids[i]) {
                cat = c;
                slot = i + 2;
                return true;
            }
        }
        return false;
    }
    return false;
}

int32_t code_of(std::string_view category, std::string_view id) {
    int c, s;
    return lookup(category, id, c, s) ? c * 100 + s - 2 : -1;
}

void create(Cell* out, std::string_view category, std::string_view id, const Cell* a1,
            const Cell* a2, const Cell* a3) {
    int cat = 9, slot = 12;  // internal invalid-error for anything the catalogue lacks
    if (!lookup(category, id, cat, slot)) lookup("internal", "invalid-error", cat, slot);
    // The type and id words (their slots as integers while the symbol table does not exist),
    // made before the field block so that nothing allocates while it is unrooted.
    Cell type_cell{T_INTEGER, 0, uint32_t(cat), 0}, id_cell{T_INTEGER, 0, uint32_t(slot), 0};
    if (symbol::table) {
        type_cell = Cell{T_WORD, 0, symbol::make(catalogue[cat].word), 0xFFFFFFFFu};
        id_cell = Cell{T_WORD, 0, symbol::make(catalogue[cat].ids[slot - 2]), 0xFFFFFFFFu};
    }
    Handle node = memory::make_cells(FIELD_COUNT);
    SeriesBuffer* b = memory::buffer_of(node);
    Cell* f = b->head_cell();
    for (int i = 0; i < FIELD_COUNT; i++) f[i] = Cell{T_NONE, 0, 0, 0};
    b->tail = b->head + FIELD_COUNT * 16;
    f[F_CODE] = Cell{T_INTEGER, 0, uint32_t(cat * 100 + slot - 2), 0};
    f[F_TYPE] = type_cell;
    f[F_ID] = id_cell;
    if (a1) f[F_ARG1] = *a1;
    if (a2) f[F_ARG2] = *a2;
    if (a3) f[F_ARG3] = *a3;
    *out = Cell{T_ERROR, node, 0, 0};
}

Cell* field(const Cell* e, int slot) { return fields(e) + slot; }

int32_t code(const Cell* e) { return int32_t(fields(e)[F_CODE].data2); }

std::string category_word(const Cell* e) {
    int32_t c = code(e);
    return c >= 0 && c / 100 < CATEGORY_COUNT ? catalogue[c / 100].word : "";
}

std::string id_word(const Cell* e) {
    int32_t c = code(e);
    if (c < 0 || c / 100 >= CATEGORY_COUNT) return "";
    const Category& cat = catalogue[c / 100];
    int i = c % 100;
    for (int k = 0; cat.ids[k]; k++)
        if (k == i) return cat.ids[k];
    return "";
}

void set_where(Cell* e, const Cell* where) {
    Cell* f = fields(e);
    if (f[F_WHERE].is(T_NONE)) f[F_WHERE] = *where;
}

void set_stack_position(Cell* e, int32_t position) {
    Cell* f = fields(e);
    if (!f[F_STACK].is(T_BLOCK)) f[F_STACK] = Cell{T_INTEGER, 0, uint32_t(position), 0};
}

std::string brief_report(const Cell* e) {
    int32_t c = code(e);
    std::string s = "*** ";
    s += c >= 0 && c / 100 < CATEGORY_COUNT ? catalogue[c / 100].type_text : "Internal Error";
    s += ": ";
    s += id_word(e);
    return s;
}

// Through the console writer, so that the report follows what was printed before it; the
// process exit flushes it.
void print_uncaught(const Cell* e) { output::write_c_string((brief_report(e) + "\n").c_str()); }

}  // namespace kov::error
