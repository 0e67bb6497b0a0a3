// transcode (see transcode.hpp).
#include "evaluator/transcode.hpp"

#include <cstring>
#include <string>

#include "core/buffer.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/unicode.hpp"
#include "evaluator/lexer.hpp"
#include "evaluator/natives.hpp"

namespace kov::transcode {

namespace {

void append(Cell* block, const Cell& value) {
    collector::Root v(value);
    Cell* c = buffer::alloc_block_tail(block);
    *c = *v;
}

}  // namespace

void run(Cell* out, const Cell* src_in, const Args& a) {
    collector::Root src(*src_in);
    collector::Root part(a.part ? *a.part : cells::make_none());
    collector::Root into(a.into ? *a.into : cells::make_none());
    collector::Root trace(a.trace ? *a.trace : cells::make_none());
    bool binary = src->is(T_BINARY);

    // The bytes to scan, copied so that they stay put while values are made.
    std::string bytes;
    uint32_t skipped = 0;  // a byte-order mark
    if (binary) {
        SeriesBuffer* b = memory::buffer_of(cells::series_node(*src));
        uint32_t length = b->length();
        uint32_t index = cells::series_index(*src);
        uint32_t available = index < length ? length - index : 0;
        bytes.assign(reinterpret_cast<const char*>(b->data() + b->head + (available ? index : 0)), available);
    } else {
        unicode::append_utf8(bytes, src.get());
    }
    if (!part->is(T_NONE)) {
        int64_t limit;
        if (part->is(T_INTEGER)) {
            limit = cells::integer(*part);
        } else {
            if (!binary || !part->is(T_BINARY) || cells::series_node(*part) != cells::series_node(*src))
                stack::raise_error("script", "invalid-part", {part.get()});
            limit = int64_t(cells::series_index(*part)) - int64_t(cells::series_index(*src));
        }
        if (limit < 0) limit = 0;
        if (uint64_t(limit) < bytes.size()) bytes.resize(size_t(limit));
    }
    if (binary && bytes.size() >= 3 && std::memcmp(bytes.data(), "\xEF\xBB\xBF", 3) == 0) {
        bytes.erase(0, 3);
        skipped = 3;
    }

    lexer::ScanOptions o;
    o.one_value = a.next || a.one || a.scan;
    o.prescan = a.prescan;
    o.scan = a.scan;
    o.input = src.get();
    if (!trace->is(T_NONE)) {
        o.callback = trace.get();
        o.mask = lexer::function_mask(trace.get());
    }
    // Into a block: the lexer appends the values itself (also those scanned before an error).
    bool direct = !into->is(T_NONE) && !(a.next || a.one || a.scan || a.prescan);
    if (direct) o.into = into.get();
    collector::Root result;
    int32_t consumed = 0;
    int32_t type = lexer::scan(result.get(), reinterpret_cast<const uint8_t*>(bytes.data()),
                               uint32_t(bytes.size()), o, &consumed);

    if (a.prescan || a.scan) {
        *out = type > 0 ? cells::make_datatype(uint32_t(type)) : cells::make_none();
        return;
    }
    if (a.one || direct) {
        *out = *result;
        return;
    }
    collector::Root target;
    if (!into->is(T_NONE)) {
        *target = *into;
    } else {
        Handle node = memory::make_cells(a.next ? 2 : 1);
        *target = cells::make_series(T_BLOCK, node);
    }
    if (a.next) {
        if (result->is(T_UNSET)) {
            *out = cells::make_none();
            return;
        }
        append(target.get(), *result);
        Cell rest = *src;
        cells::set_series_index(rest, cells::series_index(*src) + skipped + uint32_t(consumed));
        append(target.get(), rest);
        *out = *target;
        return;
    }
    *out = *result;
}

// Refinements in spec order: /next /one /prescan /scan /part length /into dst /trace callback;
// the arguments of the refinements used are packed after src.
Status native(const int32_t* refs) {
    Args a;
    a.next = refs[0] >= 0;
    a.one = refs[1] >= 0;
    a.prescan = refs[2] >= 0;
    a.scan = refs[3] >= 0;
    if (refs[4] >= 0) a.part = stack::arg(refs[4]);
    if (refs[5] >= 0) a.into = stack::arg(refs[5]);
    if (refs[6] >= 0) a.trace = stack::arg(refs[6]);
    run(stack::arguments, stack::arg(0), a);
    return Status::normal;
}

void init() { natives::table[NATIVE_NUMBER - 1] = native; }

}  // namespace kov::transcode
