// The reference layout of every datatype's cells (see cell_layout.hpp).
#include "core/cell_layout.hpp"

namespace kov::cell_layout {

namespace {

constexpr Layout L(Ref d1, Ref d2, Ref d3) { return Layout{{d1, d2, d3}}; }

constexpr std::array<Layout, 256> build() {
    std::array<Layout, 256> t{};
    using R = Ref;
    for (uint32_t id : {T_BLOCK, T_PAREN, T_PATH, T_LIT_PATH, T_SET_PATH, T_GET_PATH})
        t[id] = L(R::NONE, R::CELLS, R::NONE);
    for (uint32_t id : {T_STRING, T_FILE, T_URL, T_TAG, T_EMAIL, T_REF})
        t[id] = L(R::NONE, R::TEXT, R::NODE);
    t[T_SYMBOL] = L(R::NONE, R::NODE, R::NODE);
    t[T_CONTEXT] = L(R::TABLE, R::FRAME_CELLS, R::NONE);
    for (uint32_t id : {T_WORD, T_SET_WORD, T_LIT_WORD, T_GET_WORD, T_REFINEMENT})
        t[id] = L(R::BINDING, R::NONE, R::NONE);
    t[T_NATIVE] = t[T_ACTION] = L(R::NONE, R::CELLS, R::CELLS);
    t[T_OP] = L(R::OP_CONTEXT, R::CELLS, R::CELLS);
    t[T_FUNCTION] = t[T_ROUTINE] = L(R::CONTEXT, R::CELLS, R::CELLS);
    t[T_BITSET] = t[T_BINARY] = L(R::NONE, R::TEXT, R::NONE);
    t[T_VECTOR] = L(R::NONE, R::NODE, R::NONE);
    t[T_OBJECT] = t[T_PORT] = t[T_ERROR] = L(R::CONTEXT, R::NONE, R::NODE);
    t[T_HASH] = t[T_MAP] = L(R::NONE, R::CELLS, R::TABLE);
    t[T_HANDLE] = L(R::NONE, R::NONE, R::RESOURCE);
    t[T_IMAGE] = L(R::NONE, R::IMAGE, R::NONE);
    t[T_EVENT] = L(R::NONE, R::EVENT_CELLS, R::NONE);
    return t;
}

}  // namespace

const std::array<Layout, 256> table = build();

bool unit_fits(Ref kind, uint32_t unit) {
    switch (kind) {
    case Ref::TEXT: return unit == 1 || unit == 2 || unit == 4;
    case Ref::CELLS: case Ref::CONTEXT: case Ref::FRAME_CELLS: case Ref::EVENT_CELLS:
        return unit == 16;
    case Ref::BINDING: case Ref::OP_CONTEXT: return unit == 16;
    case Ref::NODE: case Ref::TABLE: case Ref::IMAGE: return unit >= 1 && unit <= 16;
    case Ref::NONE: case Ref::RESOURCE: return true;
    }
    return true;
}

uint32_t node_in(const Cell& c, int word, Ref kind) {
    uint32_t v = word == 0 ? c.data1 : word == 1 ? c.data2 : c.data3;
    switch (kind) {
    case Ref::NONE: case Ref::RESOURCE: return 0;
    case Ref::FRAME_CELLS: return (c.header & CTX_ON_STACK) ? 0 : v;
    case Ref::EVENT_CELLS: return (c.header & EVENT_FLAG) ? v : 0;
    case Ref::OP_CONTEXT: {
        uint32_t sub = (c.header >> 16) & 0xFF;
        return (sub == T_FUNCTION || sub == T_ROUTINE) ? v : 0;
    }
    default: return v;
    }
}

}  // namespace kov::cell_layout
