// The cost of one turn of a minimal interpreter loop built on the runtime's own primitives:
// `while [i < 20000000] [i: i + 1]` on a global word `i`, against python3 running the same loop
// on a module-level variable. The blocks are made by hand (word cells bound to the global
// context, integer cells); a small evaluator walks them with its position kept in rooted series
// references, reads and writes words through the context routines and keeps values on the
// argument stack, as the interpreter does.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/boot.hpp"
#include "core/buffer.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/cycles.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "datatypes/word.hpp"

using namespace kov;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int32_t LIMIT = 20000000;
uint32_t sym_lesser = 0, sym_plus = 0;

// Appends a cell to a rooted block.
void append(collector::Root& block, const Cell& c) { *buffer::alloc_tail_cell(block->data2) = c; }

// One value from the position on, pushed on the argument stack: an integer, or a word's value,
// followed by at most one infix operator (< or +) and its right operand.
void eval_operand(collector::SeriesRef& pos) {
    const Cell* c = pos.head_cell();
    pos.advance();
    if (c->is(T_WORD)) stack::push(context::get(c)); else stack::push(c);
}

void eval_expression(collector::SeriesRef& pos) {
    eval_operand(pos);
    if (pos.at_tail()) return;
    const Cell* op = pos.head_cell();
    if (!op->is(T_WORD) || (op->data2 != sym_lesser && op->data2 != sym_plus)) return;
    uint32_t which = op->data2;
    pos.advance();
    eval_operand(pos);
    Cell* right = stack::top_value();
    Cell* left = right - 1;
    int32_t a = left->get_int(), b = right->get_int();
    if (which == sym_plus) {
        int32_t sum;
        if (__builtin_add_overflow(a, b, &sum)) stack::raise_error("math", "overflow");
        *left = Cell{T_INTEGER, 0, uint32_t(sum), 0};
    } else {
        *left = Cell{T_LOGIC, a < b ? 1u : 0u, 0, 0};
    }
    stack::pop(1);
}

// Evaluates a block; its last value is left on the stack.
void eval_block(const Cell* block) {
    collector::SeriesRef pos(*block);
    Cell* base = stack::top;
    while (!pos.at_tail()) {
        stack::top = base;
        const Cell* c = pos.head_cell();
        if (c->is(T_SET_WORD)) {
            collector::Root target(*c);
            pos.advance();
            eval_expression(pos);
            context::set(target.get(), stack::top_value());
        } else {
            eval_expression(pos);
        }
    }
}

double run_ours() {
    Cell bound_i = *word::load("i");
    Cell zero{T_INTEGER, 0, 0, 0};
    context::set(&bound_i, &zero);
    collector::Root cond(Cell{T_BLOCK, 0, memory::make_cells(3), 0});
    collector::Root body(Cell{T_BLOCK, 0, memory::make_cells(4), 0});
    Cell lesser = *word::load("<"), plus = *word::load("+");
    Cell set_i = bound_i;
    set_i.header = T_SET_WORD;
    append(cond, bound_i);
    append(cond, lesser);
    append(cond, Cell{T_INTEGER, 0, uint32_t(LIMIT), 0});
    append(body, set_i);
    append(body, bound_i);
    append(body, plus);
    append(body, Cell{T_INTEGER, 0, 1, 0});
    sym_lesser = lesser.data2;
    sym_plus = plus.data2;

    auto t = Clock::now();
    Cell* base = stack::top;
    while (true) {
        eval_block(cond.get());
        bool go = stack::top_value()->data1 != 0;
        stack::top = base;
        if (!go) break;
        eval_block(body.get());
        stack::top = base;
    }
    double ns = std::chrono::duration<double, std::nano>(Clock::now() - t).count();
    if (context::get(&bound_i)->get_int() != LIMIT) {
        std::fprintf(stderr, "wrong result: %d\n", context::get(&bound_i)->get_int());
        return -1;
    }
    return ns / LIMIT;
}

// python3 times its own loop at module level; a negative answer when it cannot run.
double run_python() {
    std::string cmd =
        "python3 -c 'import time\nt = time.perf_counter()\ni = 0\nwhile i < " + std::to_string(LIMIT) +
        ": i = i + 1\nprint(time.perf_counter() - t)' 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    char line[64] = {};
    bool got = std::fgets(line, sizeof line, p) != nullptr;
    int status = pclose(p);
    if (!got || status != 0) return -1;
    return std::strtod(line, nullptr) * 1e9 / LIMIT;
}

}  // namespace

int main() {
    cycles::init();
    collector::init();
    boot::init_runtime();
    boot::booting = false;
    collector::state.enabled = true;
    double ours = 1e18;
    for (int k = 0; k < 3; k++) {
        double r = run_ours();
        if (r < 0) return 1;
        ours = std::min(ours, r);
    }
    std::printf("while [i < %d] [i: i + 1]: %.1f ns per iteration (best of 3)\n", LIMIT, ours);
    double py = run_python();
    if (py < 0) {
        std::printf("python3: not available, comparison skipped\n");
        return 0;
    }
    std::printf("python3, same loop at module level: %.1f ns per iteration\n", py);
    std::printf("ratio (ours / python3): %.2f\n", ours / py);
    return 0;
}
