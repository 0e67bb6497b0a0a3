// The parse engine: rule blocks, alternatives and backtracking, literal, datatype and word
// rules, and every keyword and command of the dialect, with the native `parse` in front.
//
// A rule block runs its rules in order while they match; a failing rule puts the input head
// back where the block (or its current alternative) started and goes on after the next `|`.
// Commands (any, some, opt, while, counts, to, thru, copy, set, not, ahead, into, remove,
// change, collect, keep, case) run the rule after them and then act on its outcome.
//
// Rooting: the input, the rule blocks and every value held across a rule are in rooted cells;
// rule positions are indexes into the rule block's buffer, read anew after anything that may run
// Kov code. `collect` builds its blocks on the argument stack (which never moves), so a parse
// nested in a paren works above them. Sub-rules and commands recurse on the machine stack; each
// counts as a frame of three cells against one limit (STACK_LIMIT_CELLS) shared by nested
// parses, which bounds that recursion well within the stack and stops rules that recurse into
// themselves with parse-stack.
#include "evaluator/parse.hpp"

#include <algorithm>

#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/memory.hpp"
#include "core/runtime_words.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/bitset.hpp"
#include "datatypes/block.hpp"
#include "datatypes/string.hpp"
#include "datatypes/typeset.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/lexer.hpp"

namespace kov::parse {

namespace {

using collector::Root;
namespace rw = runtime_words;

// Frame cells in use by all running parses.
uint32_t frame_cells = 0;

struct FrameGuard {
    FrameGuard() {
        if (frame_cells + 3 >= STACK_LIMIT_CELLS || runtime::machine_stack_low())
            stack::raise_error("script", "parse-stack");
        frame_cells += 3;
    }
    ~FrameGuard() { frame_cells -= 3; }
    FrameGuard(const FrameGuard&) = delete;
    FrameGuard& operator=(const FrameGuard&) = delete;
};

bool string_kind(uint32_t t) {
    return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}
bool block_kind(uint32_t t) {
    return t == T_BLOCK || t == T_PAREN || t == T_HASH || t == T_PATH || t == T_LIT_PATH ||
           t == T_SET_PATH || t == T_GET_PATH;
}
bool path_kind(uint32_t t) { return t == T_PATH || t == T_LIT_PATH || t == T_SET_PATH || t == T_GET_PATH; }
bool word_kind(uint32_t t) {
    return t == T_WORD || t == T_SET_WORD || t == T_GET_WORD || t == T_LIT_WORD || t == T_REFINEMENT;
}
bool series_value(uint32_t t) { return block_kind(t) || string_kind(t) || t == T_BINARY; }

uint32_t canon(const Cell& w) { return symbol::resolve(cells::word_symbol(w)); }
bool is_word(const Cell& c, uint32_t sym) { return c.is(T_WORD) && canon(c) == symbol::resolve(sym); }

// Units of a series from its buffer's first element to its tail.
uint32_t total_of(const Cell& s) { return memory::buffer_of(cells::series_node(s))->length(); }
uint32_t length_of(const Cell& s) {
    uint32_t t = total_of(s), i = cells::series_index(s);
    return i < t ? t - i : 0;
}

// Outcomes of one rule.
enum Result : int {
    FAIL = 0,
    MATCH = 1,
    SOFT_FAIL = 2,   // `fail` met as a rule of its own: the block goes on with its next rule
    STOP_MATCH = 3,  // `break`: the block ends with success
    STOP_FAIL = 4,   // `reject`: the block ends with failure
};
inline bool matched(Result r) { return r == MATCH || r == STOP_MATCH; }

// Commands, for the errors and argument rules that depend on them.
enum Command : int {
    C_NONE = 0, C_REPEAT, C_WHILE, C_TO, C_THRU, C_COPY, C_SET, C_NOT, C_INTO, C_REMOVE,
    C_COLLECT, C_KEEP, C_KEEP_PICK, C_AHEAD, C_CHANGE, C_CASE
};

// Thrown when the trace callback stops the parse.
struct Stopped {
    bool match;
};

struct Engine {
    Root in;              // current input: type, head index, node
    Root result;          // scratch for values read from words and parens
    int32_t op = COMP_EQUAL;
    Limit limit;
    uint32_t depth = 0;   // inputs entered by `into` above the parse's own input
    bool brk = false;     // set by break and reject; stops the innermost repetition
    int32_t collect_depth = 0;
    Cell* result_slot = nullptr;  // the parse's result cell on the argument stack
    bool collected = false;       // a top-level collect left its block above the result slot
    uint64_t calls = 0;           // parens and callbacks run so far

    // ---- tracing ----
    Root trace;        // the /trace callback, none! without one
    Root trace_rules;  // the rule block of the rule under way, for events
    Root trace_stack;  // the block handed to the callback as its stack argument
    uint32_t trace_pos = 0;

    bool tracing() { return !trace->is(T_NONE); }

    // Calls the callback with the event; a result that is not truthy stops the parse with the
    // match flag given.
    void fire(const Cell& event, bool match) {
        if (!tracing()) return;
        Root ev(event), m(cells::make_logic(match)), rules(*trace_rules), input(*in);
        uint32_t tail = total_of(*rules);
        uint32_t at = trace_pos;
        if (at > tail) at = tail;
        rules->data1 = at;
        if (input->data1 > total_of(*input)) input->data1 = total_of(*input);
        const Cell* args[5] = {ev.get(), m.get(), rules.get(), input.get(), trace_stack.get()};
        Root out;
        calls++;
        Status st = interpreter::call_with(trace.get(), args, 5, out.get());
        stack::raise_if_pending(st);
        if (!cells::truthy(*out)) throw Stopped{match};
    }
    void fire_sym(uint32_t sym, bool match) {
        if (!tracing()) return;
        fire(cells::make_word(T_WORD, 0, sym), match);
    }
    void at_rule(const Cell& rules, uint32_t pos) {
        if (!tracing()) return;
        *trace_rules = rules;
        trace_pos = pos;
    }

    // ---- the input ----
    uint32_t head() { return in->data1; }
    void set_head(uint32_t h) { in->data1 = h; }
    uint32_t tail() { return total_of(in.cell); }
    uint32_t end_at() {
        uint32_t t = tail();
        return (limit.set && depth == 0) ? std::min(t, limit.at) : t;
    }
    bool at_end() { return head() >= end_at(); }
    uint32_t itype() { return in->type(); }

    // The element at an index as a value: a cell, a char!, or a byte as integer!.
    Cell element(uint32_t at) {
        uint32_t t = itype();
        if (block_kind(t)) return memory::buffer_of(in->data2)->head_cell()[at];
        if (t == T_BINARY) return cells::make_integer(memory::buffer_of(in->data2)->head_ptr()[at]);
        return Cell{T_CHAR, 0, string::char_at(in.get(), at), 0};
    }

    // ---- rule blocks ----
    static uint32_t rules_tail(const Cell& rules) { return total_of(rules); }
    static Cell rule_at(const Cell& rules, uint32_t pos) {
        return memory::buffer_of(rules.data2)->head_cell()[pos];
    }

    // ---- errors ----
    [[noreturn]] void error(const char* id, const Cell* arg = nullptr) {
        if (arg) {
            Cell a = *arg;
            stack::raise_error("script", id, {&a});
        }
        stack::raise_error("script", id);
    }
    [[noreturn]] void error_word(const char* id, uint32_t sym) {
        Cell w = cells::make_word(T_WORD, 0, sym);
        stack::raise_error("script", id, {&w});
    }

    // ---- Kov code ----

    // Evaluates a paren; its value goes into `result`. The head is clamped to the tail
    // afterwards (the paren may have shortened the input).
    void eval_paren(const Cell& paren) {
        Root p(paren);
        p->header = (p->header & ~0xFFu) | T_PAREN;
        Cell* base = stack::top;
        calls++;
        Status s = interpreter::eval(p.get(), false);
        stack::raise_if_pending(s);
        *result = stack::top > base ? *(stack::top - 1) : cells::make_unset();
        stack::top = base;
        uint32_t t = tail();
        if (head() > t) set_head(t);
        fire(rw::words::paren, true);
    }

    // The value of a word used as a rule or value: unset! raises `id` with the word.
    Cell word_value(const Cell& w, const char* id) {
        Root word(w);
        Cell v = *context::get(word.get());
        if (v.is(T_UNSET)) error(id, word.get());
        return v;
    }

    void set_word(const Cell& w, const Cell& value) {
        Root word(w), v(value);
        context::set(word.get(), v.get());
    }

    // A value cell after insert or change: a paren's result, a word's value or the literal.
    Cell take_value(const Cell& c, uint32_t kw) {
        if (c.is(T_PAREN)) {
            eval_paren(c);
            return *result;
        }
        if (c.is(T_WORD)) return word_value(c, "no-value");
        if (path_kind(c.type())) error_word("parse-rule", kw);
        return c;
    }

    // A position word: a word! or get-word! whose value is the input series at some position.
    bool position_word(const Cell& c, uint32_t& at) {
        if (!c.is(T_WORD) && !c.is(T_GET_WORD)) return false;
        Root word(c);
        Cell v = *context::get(word.get());
        if (!series_value(v.type()) || v.data2 != in->data2 || v.type() != in->type()) return false;
        at = std::min(cells::series_index(v), tail());
        return true;
    }

    // ---- literal matching ----

    // Units a matched literal covers.
    static uint32_t literal_units(const Cell& v) {
        uint32_t t = v.type();
        if (t == T_CHAR || t == T_BITSET || t == T_INTEGER) return 1;
        if (string_kind(t)) return string::length(&v) + (t == T_TAG ? 2 : 0);
        if (t == T_BINARY) return length_of(v);
        return 1;
    }

    // Whether the literal matches at the head; answers the units it covers, or -1.
    int32_t match_literal(const Cell& rule) {
        Root r(rule);
        uint32_t t = itype();
        uint32_t rt = r->type();
        if (at_end()) {
            if (string_kind(t) && (rt == T_STRING || rt == T_FILE || rt == T_URL) && string::length(r.get()) == 0)
                return 0;
            return -1;
        }
        if (block_kind(t)) {
            Root here(element(head()));
            int32_t o = op;
            if (rt == T_LIT_WORD || rt == T_LIT_PATH) o = op == COMP_STRICT_EQUAL ? COMP_FIND_EXACT : COMP_FIND_NOCASE;
            return actions::compare(here.get(), r.get(), o) ? 1 : -1;
        }
        bool ok = false;
        if (t == T_BINARY) {
            if (rt == T_BITSET) ok = binary::match_bitset_q(in.get(), r.get());
            else if (rt == T_INTEGER) ok = memory::buffer_of(in->data2)->head_ptr()[head()] == uint8_t(r->data2) && cells::integer(*r) >= 0 && cells::integer(*r) < 256;
            else ok = binary::match_value_q(in.get(), r.get(), op);
        } else {
            if (rt == T_BITSET) {
                ok = string::head_in_bitset_q(in.get(), r.get());
            } else if (rt == T_TAG) {
                Root inner(*in);
                inner->data1++;
                ok = string::tag_brackets_q(in.get(), r.get()) && string::match_q(inner.get(), r.get(), op);
            } else if (rt == T_CHAR || string_kind(rt)) {
                ok = string::match_q(in.get(), r.get(), op);
            } else if (rt == T_BINARY) {
                ok = false;
            }
        }
        if (!ok) return -1;
        uint32_t n = std::min(literal_units(*r), tail() - head());
        if (head() + n > end_at()) return -1;  // runs past the /part limit
        return int32_t(n);
    }

    Result literal(const Cell& rule) {
        int32_t n = match_literal(rule);
        if (n >= 0) set_head(head() + uint32_t(n));
        fire(rw::words::match, n >= 0);
        return n < 0 ? FAIL : MATCH;
    }

    // A command: `push` before it runs, `pop` with its outcome after.
    template <class F> Result command(F&& body) {
        fire(rw::words::push, true);
        Result r = body();
        fire(rw::words::pop, matched(r));
        return r;
    }

    Result matched_event(Result r) {
        fire(rw::words::match, matched(r));
        return r;
    }

    // A datatype! or typeset! rule.
    Result type_rule(const Cell& rule) { return matched_event(type_rule_(rule)); }
    Result type_rule_(const Cell& rule) {
        uint32_t t = itype();
        if (string_kind(t)) error("parse-unsupported");
        if (at_end()) return FAIL;
        auto fits = [&](uint32_t type) {
            if (rule.is(T_DATATYPE)) return cells::datatype(rule) == type;
            return typeset::has(&rule, type);
        };
        if (block_kind(t)) {
            if (!fits(element(head()).type())) return FAIL;
            set_head(head() + 1);
            return MATCH;
        }
        // Binary input: the bytes from the head as source text, one token.
        SeriesBuffer* b = memory::buffer_of(in->data2);
        std::string bytes(reinterpret_cast<const char*>(b->head_ptr() + head()), end_at() - head());
        lexer::ScanOptions o;
        o.one_value = true;
        o.scan = true;
        Root out;
        int32_t consumed = 0;
        int32_t type = lexer::scan(out.get(), bytes, o, &consumed);
        if (type <= 0 || !fits(uint32_t(type)) || consumed <= 0) return FAIL;
        set_head(std::min(head() + uint32_t(consumed), tail()));
        return MATCH;
    }

    // ---- searching for to and thru ----

    // First position from the head (up to the end) where the literal matches; -1 when none.
    int64_t find_literal(const Cell& rule, uint32_t& units) {
        uint32_t t = itype();
        uint32_t rt = rule.type();
        if (!block_kind(t)) {
            bool ok = rt == T_CHAR || rt == T_BITSET || string_kind(rt) || (t == T_BINARY && (rt == T_BINARY || rt == T_INTEGER));
            if (!ok) error("parse-rule", &rule);
        }
        uint32_t saved = head();
        uint32_t stop = end_at();
        for (uint32_t p = saved; p <= stop; p++) {
            set_head(p);
            int32_t n = match_literal(rule);
            if (n >= 0) {
                set_head(saved);
                units = uint32_t(n);
                return p;
            }
            stop = end_at();
        }
        set_head(saved);
        return -1;
    }

    // ---- the rule walk ----

    // Runs a block of rules at the head; answers whether an alternative matched. On failure the
    // head is back where the block started. `top` marks the parse's own rule block.
    Result run_block(const Cell& block, bool top = false) {
        FrameGuard frame;
        Root rules(block);
        at_rule(*rules, cells::series_index(*rules));
        fire(rw::words::push, true);
        Result r = run_block_(*rules, top);
        at_rule(*rules, rules_tail(*rules));
        fire(rw::words::pop, matched(r));
        return r;
    }
    Result run_block_(const Cell& block, bool top) {
        Root rules(block);
        uint32_t start = head();
        uint32_t pos = cells::series_index(*rules);
        bool match = true;
        for (;;) {
            stack::check_interrupt();  // backtracking through alternatives can take long
            if (pos >= rules_tail(*rules)) break;
            Cell r = rule_at(*rules, pos);
            if (is_word(r, rw::sym::bar)) break;  // this alternative matched
            at_rule(*rules, pos);
            fire(rw::words::fetch, match);
            Result res = run_rule(*rules, pos, C_NONE);
            if (res == MATCH) {
                match = true;
                continue;
            }
            if (res == SOFT_FAIL) {
                match = false;
                continue;
            }
            if (res == STOP_MATCH || res == STOP_FAIL) {
                match = res == STOP_MATCH && !(top && pos < rules_tail(*rules));
                if (!match) set_head(std::min(start, tail()));
                return match ? MATCH : FAIL;
            }
            // Failed: back to the start, on to the next alternative.
            set_head(std::min(start, tail()));
            uint32_t n = rules_tail(*rules);
            while (pos < n && !is_word(rule_at(*rules, pos), rw::sym::bar)) pos++;
            if (pos >= n) return FAIL;
            pos++;
            match = true;
        }
        if (!match) set_head(std::min(start, tail()));
        return match ? MATCH : FAIL;
    }

    // Runs the rule at `pos` (with the cells a keyword takes), moving `pos` past it. `cmd` is
    // the command waiting for this rule as its argument (C_NONE when none waits).
    Result run_rule(const Cell& rules_in, uint32_t& pos, Command cmd) {
        Root rules(rules_in);
        Cell r = rule_at(*rules, pos);
        pos++;
        return dispatch(r, *rules, pos, cmd, false);
    }

    Result dispatch(const Cell& rule, const Cell& rules, uint32_t& pos, Command cmd, bool via_word) {
        Root r(rule);
        switch (r->type()) {
        case T_WORD:
            if (via_word) error("parse-rule", r.get());
            return keyword(*r, rules, pos, cmd);
        case T_BLOCK:
            return run_block(*r);
        case T_DATATYPE:
        case T_TYPESET:
            return type_rule(*r);
        case T_SET_WORD: {
            Root here(*in);
            set_word(*r, *here);
            return MATCH;
        }
        case T_GET_WORD: {
            Cell v = *context::get(r.get());
            if (v.type() != in->type() || v.data2 != in->data2) error("parse-invalid-ref", r.get());
            set_head(std::min(cells::series_index(v), tail()));
            return MATCH;
        }
        case T_INTEGER:
            return command([&] { return count_rule(*r, rules, pos); });
        case T_PAREN:
            eval_paren(*r);
            return MATCH;
        case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH:
            if (r->is(T_LIT_PATH)) return literal(*r);
            error("parse-rule", r.get());
        default:
            return literal(*r);
        }
    }

    // The argument rule of a command, at `pos`.
    Result argument(const Cell& rules_in, uint32_t& pos, Command cmd, uint32_t kw) {
        Root rules(rules_in);
        if (pos >= rules_tail(*rules)) {
            switch (cmd) {
            case C_TO: case C_THRU: case C_NOT: case C_REMOVE: case C_WHILE: case C_COLLECT:
            case C_KEEP: case C_KEEP_PICK: case C_AHEAD:
                error_word("parse-end", kw);
            default:
                return MATCH;
            }
        }
        return run_rule(*rules, pos, cmd);
    }

    // ---- repetitions ----

    Result repeat(int64_t min, int64_t max, bool is_while, const Cell& rules_in, uint32_t& pos) {
        FrameGuard frame;
        Root rules(rules_in);
        Command cmd = is_while ? C_WHILE : C_REPEAT;
        uint32_t arg_pos = pos;
        int64_t n = 1;
        for (;;) {
            stack::check_interrupt();
            uint32_t start = head();
            uint32_t start_len = tail() > start ? tail() - start : 0;
            uint64_t start_calls = calls;
            uint32_t p = arg_pos;
            Result res = argument(*rules, p, cmd, is_while ? rw::sym::while_ : rw::sym::any);
            pos = p;
            bool m = matched(res);
            if (!m) {
                set_head(std::min(start, tail()));
                bool ok = n - 1 >= min || min == 0;
                brk = false;
                return ok ? MATCH : FAIL;
            }
            uint32_t now_len = tail() > head() ? tail() - head() : 0;
            bool progress = head() != start || now_len < start_len;
            // A literal that matches without consuming (an empty text) matches any number of
            // times: the repetition succeeds at once instead of looping.
            if (!progress && !is_while && p == arg_pos + 1 && literal_cell_q(rule_at(*rules, arg_pos))) {
                brk = false;
                return MATCH;
            }
            // `while` goes on without progress, but an iteration that changed nothing and ran
            // no Kov code would repeat itself for ever: the repetition ends there with success.
            if (!progress && is_while && calls == start_calls) {
                brk = false;
                return MATCH;
            }
            if ((max < 0 || n < max) && !brk && (is_while || progress)) {
                n++;
                at_rule(*rules, arg_pos);
                fire(rw::words::iterate, true);
                continue;
            }
            brk = false;
            return n < min ? FAIL : MATCH;
        }
    }

    // A rule cell that is matched as a literal (directly or as a word's value).
    bool literal_cell_q(const Cell& c) {
        Cell v = c;
        if (c.is(T_WORD)) {
            if (keyword_q(c)) return false;
            Root w(c);
            v = *context::get(w.get());
        }
        switch (v.type()) {
        case T_WORD: case T_BLOCK: case T_PAREN: case T_INTEGER: case T_DATATYPE: case T_TYPESET:
        case T_SET_WORD: case T_GET_WORD: case T_PATH: case T_SET_PATH: case T_GET_PATH:
            return c.is(T_WORD) && v.is(T_WORD);
        default:
            return true;
        }
    }

    Result count_rule(const Cell& count, const Cell& rules_in, uint32_t& pos) {
        Root rules(rules_in), c(count);
        int32_t min = cells::integer(*c);
        if (min < 0) error("out-of-range", c.get());
        int32_t max = min;
        uint32_t n = rules_tail(*rules);
        if (pos >= n) error("parse-rule", c.get());
        Cell next = rule_at(*rules, pos);
        Cell next_value = next;
        if (next.is(T_WORD) && !keyword_q(next)) next_value = *context::get(&next);
        if (next_value.is(T_INTEGER)) {
            Root m(next_value);
            max = cells::integer(*m);
            pos++;
            if (pos >= n) error("parse-rule", c.get());
            if (max < 0) error("out-of-range", m.get());
            if (min > max) error("parse-rule", c.get());
        }
        if (max == 0) {
            // The rule after the count is skipped.
            skip_rule(*rules, pos);
            return MATCH;
        }
        return repeat(min, max, false, *rules, pos);
    }

    // Moves `pos` past one rule without running it (the cells a keyword takes included).
    void skip_rule(const Cell& rules, uint32_t& pos) {
        uint32_t n = rules_tail(rules);
        if (pos >= n) return;
        Cell r = rule_at(rules, pos++);
        if (r.is(T_INTEGER)) {
            if (pos < n && rule_at(rules, pos).is(T_INTEGER)) pos++;
            skip_rule(rules, pos);
            return;
        }
        if (!r.is(T_WORD)) return;
        uint32_t s = canon(r);
        auto is = [&](uint32_t sym) { return s == symbol::resolve(sym); };
        if (is(rw::sym::any) || is(rw::sym::some) || is(rw::sym::opt) || is(rw::sym::while_) ||
            is(rw::sym::to) || is(rw::sym::thru) || is(rw::sym::not_) || is(rw::sym::ahead) ||
            is(rw::sym::into) || is(rw::sym::remove)) {
            skip_rule(rules, pos);
        } else if (is(rw::sym::copy) || is(rw::sym::set) || is(rw::sym::case_)) {
            pos++;
            skip_rule(rules, pos);
        } else if (is(rw::sym::if_) || is(rw::sym::quote)) {
            pos++;
        }
    }

    bool keyword_q(const Cell& w) {
        static const uint32_t* const syms[] = {
            &rw::sym::bar, &rw::sym::skip, &rw::sym::any, &rw::sym::some, &rw::sym::copy,
            &rw::sym::to, &rw::sym::thru, &rw::sym::remove, &rw::sym::break_, &rw::sym::opt,
            &rw::sym::keep, &rw::sym::fail, &rw::sym::ahead, &rw::sym::while_, &rw::sym::into,
            &rw::sym::insert, &rw::sym::end, &rw::sym::if_, &rw::sym::not_, &rw::sym::quote,
            &rw::sym::collect, &rw::sym::case_, &rw::sym::reject, &rw::sym::set, &rw::sym::none};
        uint32_t s = canon(w);
        for (const uint32_t* p : syms)
            if (s == symbol::resolve(*p)) return true;
        return s == change_symbol();
    }
    static uint32_t change_symbol() { return symbol::resolve(cells::word_symbol(rw::words::change)); }

    // ---- keywords ----

    Result keyword(const Cell& word, const Cell& rules_in, uint32_t& pos, Command cmd) {
        Root w(word), rules(rules_in);
        uint32_t s = canon(*w);
        auto is = [&](uint32_t sym) { return s == symbol::resolve(sym); };
        uint32_t n = rules_tail(*rules);

        if (is(rw::sym::bar)) return MATCH;  // only reached as a command's argument
        if (is(rw::sym::skip)) {
            if (at_end()) return matched_event(FAIL);
            set_head(head() + 1);
            return matched_event(MATCH);
        }
        if (is(rw::sym::any) || is(rw::sym::some) || is(rw::sym::opt)) {
            if (pos >= n) error("parse-end", w.get());
            int64_t min = is(rw::sym::some) ? 1 : 0;
            int64_t max = is(rw::sym::opt) ? 1 : -1;
            return command([&] { return repeat(min, max, false, *rules, pos); });
        }
        if (is(rw::sym::copy) || is(rw::sym::set)) {
            if (pos + 1 >= n) error("parse-end", w.get());
            Root target(rule_at(*rules, pos));
            if (!word_kind(target->type())) error("parse-rule", target.get());
            pos++;
            return command([&] { return copy_set(is(rw::sym::copy), *target, *rules, pos); });
        }
        if (is(rw::sym::to) || is(rw::sym::thru))
            return command([&] { return to_thru(is(rw::sym::thru), *rules, pos); });
        if (is(rw::sym::remove)) return command([&] { return remove(*rules, pos); });
        if (is(rw::sym::break_)) {
            brk = true;
            fire(rw::words::match, true);
            return STOP_MATCH;
        }
        if (is(rw::sym::reject)) {
            brk = true;
            fire(rw::words::match, false);
            return STOP_FAIL;
        }
        if (is(rw::sym::keep)) return command([&] { return keep(*rules, pos); });
        if (is(rw::sym::fail)) {
            fire(rw::words::match, false);
            return cmd == C_NONE ? SOFT_FAIL : FAIL;
        }
        if (is(rw::sym::ahead) || is(rw::sym::not_)) {
            bool ahead = is(rw::sym::ahead);
            FrameGuard frame;
            uint32_t start = head();
            Result r = command([&] { return argument(*rules, pos, ahead ? C_AHEAD : C_NOT, s); });
            set_head(std::min(start, tail()));
            bool m = matched(r);
            return (ahead ? m : !m) ? MATCH : FAIL;
        }
        if (is(rw::sym::while_)) {
            if (pos >= n) error("parse-end", w.get());
            return command([&] { return repeat(0, -1, true, *rules, pos); });
        }
        if (is(rw::sym::into)) return command([&] { return into(*rules, pos); });
        if (is(rw::sym::insert)) return insert(*rules, pos);
        if (s == change_symbol()) return command([&] { return change(*rules, pos); });
        if (is(rw::sym::end)) return matched_event(at_end() ? MATCH : FAIL);
        if (is(rw::sym::if_)) {
            if (pos >= n || !rule_at(*rules, pos).is(T_PAREN)) error("parse-end", w.get());
            Cell p = rule_at(*rules, pos++);
            eval_paren(p);
            return matched_event(cells::truthy(*result) ? MATCH : FAIL);
        }
        if (is(rw::sym::quote)) {
            if (pos >= n) error("parse-end", w.get());
            Cell v = rule_at(*rules, pos++);
            return literal(v);
        }
        if (is(rw::sym::collect)) return command([&] { return collect(*rules, pos); });
        if (is(rw::sym::case_)) {
            if (pos >= n || !rule_at(*rules, pos).is(T_WORD)) error("parse-end", w.get());
            Cell flag = word_value(rule_at(*rules, pos), "no-value");
            pos++;
            int32_t saved = op;
            op = cells::truthy(flag) ? COMP_STRICT_EQUAL : COMP_EQUAL;
            struct Restore {
                int32_t& op;
                int32_t saved;
                ~Restore() { op = saved; }
            } restore{op, saved};
            FrameGuard frame;
            return command([&] { return argument(*rules, pos, C_CASE, s); });
        }
        if (is(rw::sym::none)) return matched_event(MATCH);

        // Not a keyword: the word's value.
        Cell v = word_value(*w, "parse-rule");
        if (cmd != C_NONE && cmd != C_COLLECT && cmd != C_KEEP_PICK && v.is(T_WORD)) return literal(v);
        return dispatch(v, *rules, pos, cmd, true);
    }

    // ---- to and thru ----

    Result to_thru(bool thru, const Cell& rules_in, uint32_t& pos) {
        Root rules(rules_in);
        uint32_t kw = thru ? rw::sym::thru : rw::sym::to;
        uint32_t n = rules_tail(*rules);
        if (pos >= n) error_word("parse-end", kw);
        Cell a = rule_at(*rules, pos);
        if (is_word(a, rw::sym::end)) {
            pos++;
            set_head(std::max(head(), end_at()));
            return matched_event(MATCH);
        }
        // A literal, directly or as a word's value: searched for.
        Cell lit = a;
        bool literal_arg = false;
        if (a.is(T_WORD) && !keyword_q(a)) {
            lit = word_value(a, "parse-rule");
            literal_arg = !lit.is(T_BLOCK) && !lit.is(T_WORD) && !lit.is(T_DATATYPE) && !lit.is(T_TYPESET) &&
                          !lit.is(T_PAREN) && !lit.is(T_INTEGER);
            if (lit.is(T_WORD)) literal_arg = true;
        } else {
            literal_arg = !a.is(T_BLOCK) && !a.is(T_WORD) && !a.is(T_DATATYPE) && !a.is(T_TYPESET) &&
                          !a.is(T_PAREN) && !a.is(T_INTEGER);
        }
        if (literal_arg) {
            Root l(lit);
            pos++;
            if (path_kind(l->type()) && !l->is(T_LIT_PATH)) error("parse-rule", l.get());
            uint32_t units = 0;
            int64_t at = find_literal(*l, units);
            if (at < 0) return matched_event(limit.set && depth == 0 && head() >= limit.at ? MATCH : FAIL);
            set_head(uint32_t(at) + (thru ? units : 0));
            return matched_event(MATCH);
        }
        // A rule: tried at each position from the head on.
        FrameGuard frame;
        uint32_t start = head();
        uint32_t arg_pos = pos;
        for (;;) {
            stack::check_interrupt();
            uint32_t h = head();
            uint32_t p = arg_pos;
            Result r = argument(*rules, p, thru ? C_THRU : C_TO, kw);
            pos = p;
            if (matched(r)) {
                if (!thru) set_head(std::min(h, tail()));
                return MATCH;
            }
            set_head(std::min(h, tail()));
            if (h >= end_at()) {
                set_head(std::min(start, tail()));
                return FAIL;
            }
            set_head(h + 1);
        }
    }

    // ---- copy and set ----

    Result copy_set(bool copy, const Cell& target, const Cell& rules_in, uint32_t& pos) {
        FrameGuard frame;
        Root rules(rules_in), word(target);
        uint32_t start = head();
        Result r = argument(*rules, pos, copy ? C_COPY : C_SET, copy ? rw::sym::copy : rw::sym::set);
        if (!matched(r)) return r == STOP_FAIL ? FAIL : r;
        uint32_t h = std::min(head(), tail());
        if (copy) {
            Root v;
            copy_part(start, h, v.get());
            set_word(*word, *v);
        } else {
            Cell v = h > start ? element(start) : cells::make_none();
            set_word(*word, v);
        }
        return MATCH;
    }

    // A copy of the input from `from` to `to` into `out` (rooted).
    void copy_part(uint32_t from, uint32_t to, Cell* out) {
        Root src(*in);
        src->data1 = from;
        Root part(cells::make_integer(int32_t(to >= from ? to - from : 0)));
        const ActionTable& t = type_registry::table(src->type());
        Cell* r = t.copy(src.get(), out, part.get(), false, nullptr);
        if (r && r != out) *out = *r;
    }

    // ---- remove, insert, change ----

    void remove_range(uint32_t from, uint32_t count) {
        if (count == 0) return;
        Root s(*in), part(cells::make_integer(int32_t(count)));
        s->data1 = from;
        const ActionTable& t = type_registry::table(s->type());
        t.remove(s.get(), part.get(), nullptr);
    }

    Result remove(const Cell& rules_in, uint32_t& pos) {
        Root rules(rules_in);
        uint32_t n = rules_tail(*rules);
        if (pos >= n) error_word("parse-end", rw::sym::remove);
        Cell next = rule_at(*rules, pos);
        if (path_kind(next.type())) error_word("parse-rule", rw::sym::remove);
        uint32_t at;
        if (next.is(T_GET_WORD) || (next.is(T_WORD) && !keyword_q(next) && position_word(next, at))) {
            if (!position_word(next, at)) error("parse-invalid-ref", &next);
            pos++;
            uint32_t h = head();
            uint32_t from = std::min(at, h), to = std::max(at, h);
            remove_range(from, to - from);
            set_head(std::min(from, tail()));
            return MATCH;
        }
        FrameGuard frame;
        uint32_t start = head();
        Result r = argument(*rules, pos, C_REMOVE, rw::sym::remove);
        if (!matched(r)) return FAIL;
        uint32_t h = std::min(head(), tail());
        if (h > start) remove_range(start, h - start);
        set_head(std::min(start, tail()));
        return MATCH;
    }

    // The word `only` after insert or change: consumed when present.
    bool take_only(const Cell& rules, uint32_t n, uint32_t& pos) {
        if (pos >= n || !is_word(rule_at(rules, pos), rw::sym::only)) return false;
        pos++;
        return true;
    }

    Result insert(const Cell& rules_in, uint32_t& pos) {
        Root rules(rules_in);
        uint32_t n = rules_tail(*rules);
        bool only = take_only(*rules, n, pos);
        if (pos >= n) error_word("parse-end", rw::sym::insert);
        uint32_t at = head();
        Cell c = rule_at(*rules, pos);
        uint32_t wat;
        if (pos + 1 < n && (c.is(T_WORD) || c.is(T_GET_WORD)) && position_word(c, wat)) {
            at = wat;
            pos++;
        } else if ((c.is(T_WORD) || c.is(T_GET_WORD)) && pos + 1 >= n && position_word(c, wat)) {
            error_word("parse-end", rw::sym::insert);
        }
        if (pos >= n) error_word("parse-end", rw::sym::insert);
        Root v(take_value(rule_at(*rules, pos), rw::sym::insert));
        pos++;
        uint32_t len0 = tail();
        uint32_t h = head();
        Root s(*in);
        s->data1 = std::min(at, len0);
        const ActionTable& t = type_registry::table(s->type());
        t.insert(s.get(), v.get(), -1, only, 1);
        uint32_t added = tail() - len0;
        if (at <= h) set_head(h + added);
        return MATCH;
    }

    Result change(const Cell& rules_in, uint32_t& pos) {
        Root rules(rules_in);
        uint32_t n = rules_tail(*rules);
        bool only = take_only(*rules, n, pos);
        uint32_t kw = change_symbol();
        if (pos >= n) error_word("parse-rule", kw);
        Cell c = rule_at(*rules, pos);
        uint32_t at;
        if ((c.is(T_GET_WORD) || (c.is(T_WORD) && !keyword_q(c))) && position_word(c, at)) {
            pos++;
            if (pos >= n) error_word("parse-rule", kw);
            Root v(take_value(rule_at(*rules, pos), kw));
            pos++;
            uint32_t h = std::min(head(), tail());
            uint32_t from = std::min(at, h), to = std::max(at, h);
            Root s(*in), part(cells::make_integer(int32_t(to - from)));
            s->data1 = from;
            const ActionTable& t = type_registry::table(s->type());
            Cell* r = t.change(s.get(), v.get(), int32_t(to - from), only, 1);
            set_head(std::min(r ? cells::series_index(*r) : from, tail()));
            return MATCH;
        }
        FrameGuard frame;
        uint32_t start = head();
        Result r = argument(*rules, pos, C_CHANGE, kw);
        if (pos >= rules_tail(*rules)) error_word("parse-end", kw);
        Cell value_cell = rule_at(*rules, pos);
        pos++;
        if (path_kind(value_cell.type())) error_word("parse-rule", kw);
        if (!matched(r)) return FAIL;
        Root v(take_value(value_cell, kw));
        uint32_t h = std::min(head(), tail());
        Root s(*in);
        s->data1 = start;
        const ActionTable& t = type_registry::table(s->type());
        Cell* res = t.change(s.get(), v.get(), int32_t(h >= start ? h - start : 0), only, 1);
        set_head(std::min(res ? cells::series_index(*res) : start, tail()));
        return MATCH;
    }

    // ---- into ----

    Result into(const Cell& rules_in, uint32_t& pos) {
        Root rules(rules_in);
        if (!block_kind(itype())) error("parse-block", in.get());
        uint32_t n = rules_tail(*rules);
        if (pos >= n) error_word("parse-end", rw::sym::into);
        Root sub(rule_at(*rules, pos));
        if (sub->is(T_WORD) && !keyword_q(*sub)) *sub = word_value(*sub, "parse-rule");
        if (!sub->is(T_BLOCK)) error_word("parse-end", rw::sym::into);
        pos++;
        if (at_end()) return FAIL;
        Cell v = element(head());
        if (!series_value(v.type())) return FAIL;
        FrameGuard frame;
        Root outer(*in);
        *in = v;
        depth++;
        struct Back {
            Engine& e;
            Root& outer;
            ~Back() {
                *e.in = *outer;
                e.depth--;
            }
        } back{*this, outer};
        Result r = run_block(*sub);
        bool m = matched(r) && at_end();
        // ~Back puts the outer input back.
        if (m) {
            *in = *outer;
            set_head(head() + 1);
            *outer = *in;
        }
        return m ? MATCH : FAIL;
    }

    // ---- collect and keep ----

    // Places a kept value into the target of the innermost collect (the cell on the stack top).
    void place(const Cell& value) {
        Root v(value);
        Cell target = *(stack::top - 1);
        if (target.is(T_BLOCK)) {
            Root b(target);
            block::append_value(b.get(), v.get());
            return;
        }
        // collect into / collect after: the word's value is the target series.
        Root word(target);
        word->header = (word->header & ~0xFFu) | T_WORD;
        Root series(*context::get(word.get()));
        const ActionTable& t = type_registry::table(series->type());
        bool blocky = block_kind(series->type());
        if (target.is(T_GET_WORD)) {
            Cell* r = t.insert(series.get(), v.get(), -1, blocky, 1);
            if (r) {
                Root moved(*r);
                set_word(*word, *moved);
            }
        } else {
            t.append(series.get(), v.get(), -1, blocky, 1);
        }
    }

    Result collect(const Cell& rules_in, uint32_t& pos) {
        Root rules(rules_in);
        uint32_t n = rules_tail(*rules);
        enum { PLAIN, SET, INTO, AFTER } mode = PLAIN;
        Root word;
        uint32_t kw = rw::sym::collect;
        if (pos < n && (is_word(rule_at(*rules, pos), rw::sym::set) || is_word(rule_at(*rules, pos), rw::sym::into) ||
                        is_word(rule_at(*rules, pos), rw::sym::after))) {
            Cell m = rule_at(*rules, pos);
            mode = is_word(m, rw::sym::set) ? SET : is_word(m, rw::sym::into) ? INTO : AFTER;
            pos++;
            if (pos >= n || !word_kind(rule_at(*rules, pos).type())) error_word("parse-end", kw);
            *word = rule_at(*rules, pos);
            pos++;
        }
        uint32_t remembered = 0;
        if (mode == INTO || mode == AFTER) {
            Cell target = word_value(*word, "no-value");
            uint32_t tt = target.type(), it = itype();
            bool ok = series_value(tt) &&
                      (tt == it || block_kind(tt) || (string_kind(tt) && string_kind(it)) ||
                       (tt == T_BINARY && it == T_BINARY));
            if (!ok) error("parse-into-type");
            if (target.data2 == in->data2) error("parse-into-bad");
            remembered = cells::series_index(target);
        }
        Cell* base = stack::top;
        if (mode == SET) stack::push(word.get());
        if (mode == INTO || mode == AFTER) {
            Cell w = *word;
            w.header = (w.header & ~0xFFu) | (mode == INTO ? T_GET_WORD : T_REFINEMENT);
            stack::push(&w);
        } else {
            Cell* slot = stack::push_slot();
            block::make_at(slot, 8);
        }
        bool directly_above = mode == PLAIN && stack::top - 1 == result_slot + 1;
        collect_depth++;
        FrameGuard frame;
        Result r;
        {
            struct Down {
                int32_t& d;
                ~Down() { d--; }
            } down{collect_depth};
            r = argument(*rules, pos, C_COLLECT, kw);
        }
        if (mode == INTO || mode == AFTER) {
            Root w(*word);
            w->header = (w->header & ~0xFFu) | T_WORD;
            Root target(*context::get(w.get()));
            target->data1 = remembered;
            set_word(*w, *target);
            stack::top = base;
            return matched(r) ? MATCH : FAIL;
        }
        if (directly_above) {
            collected = true;
            return matched(r) ? MATCH : FAIL;
        }
        Root blk(*(stack::top - 1));
        stack::top--;
        if (mode == SET) {
            set_word(*word, *blk);
            stack::top = base;
        } else {
            stack::top = base;
            if (stack::top - 1 > result_slot) place(*blk);
        }
        return matched(r) ? MATCH : FAIL;
    }

    Result keep(const Cell& rules_in, uint32_t& pos) {
        Root rules(rules_in);
        if (collect_depth == 0) error("parse-keep");
        uint32_t n = rules_tail(*rules);
        bool pick = false;
        if (pos < n && is_word(rule_at(*rules, pos), rw::sym::pick)) {
            pick = true;
            pos++;
        }
        if (pos >= n) error_word("parse-end", rw::sym::keep);
        Cell c = rule_at(*rules, pos);
        if (c.is(T_PAREN)) {
            pos++;
            eval_paren(c);
            Root v(*result);
            if (pick && v->is(T_BLOCK)) {
                uint32_t count = length_of(*v);
                for (uint32_t i = 0; i < count && i < length_of(*v); i++) {
                    Cell e = memory::buffer_of(v->data2)->head_cell()[cells::series_index(*v) + i];
                    place(e);
                }
            } else {
                place(*v);
            }
            return MATCH;
        }
        FrameGuard frame;
        uint32_t start = head();
        // `keep copy w rule` keeps the very series that w receives.
        Root copied_to;
        if (pos + 1 < n && is_word(rule_at(*rules, pos), rw::sym::copy) && word_kind(rule_at(*rules, pos + 1).type()))
            *copied_to = rule_at(*rules, pos + 1);
        Result r = argument(*rules, pos, pick ? C_KEEP_PICK : C_KEEP, rw::sym::keep);
        if (!matched(r)) return FAIL;
        uint32_t h = std::min(head(), tail());
        if (h <= start) return MATCH;
        if (h - start == 1) {
            place(element(start));
        } else if (pick) {
            for (uint32_t i = start; i < h; i++) place(element(i));
        } else if (!copied_to->is(T_NONE)) {
            place(word_value(*copied_to, "no-value"));
        } else {
            Root v;
            copy_part(start, h, v.get());
            place(*v);
        }
        return MATCH;
    }
};

}  // namespace

void process(const Cell* input, const Cell* rules, int32_t op, Limit limit, const Cell* trace, Cell* out) {
    Engine e;
    *e.in = *input;
    e.op = op;
    e.limit = limit;
    if (trace && !trace->is(T_NONE)) {
        *e.trace = *trace;
        *e.trace_rules = *rules;
        block::make_at(e.trace_stack.get(), 1);
    }
    Root r(*rules);
    Cell* slot = stack::push_slot();
    e.result_slot = slot;
    uint32_t saved_cells = frame_cells;
    struct Restore {
        uint32_t saved;
        ~Restore() { frame_cells = saved; }
    } restore{saved_cells};
    if (e.head() > e.tail()) e.set_head(e.tail());
    try {
        Result res = e.run_block(*r, true);
        bool match = matched(res) && e.at_end();
        e.at_rule(*r, Engine::rules_tail(*r));
        e.fire_sym(rw::sym::end, match);
        if (e.collected) *out = *(slot + 1);
        else *out = cells::make_logic(match);
    } catch (const Stopped& s) {
        *out = cells::make_logic(s.match);
    }
    stack::top = slot;
}

Status native(const int32_t* refs) {
    Cell* a = stack::arguments;
    Root input(a[0]), rules(a[1]);
    int32_t op = refs[0] >= 0 ? COMP_STRICT_EQUAL : COMP_EQUAL;
    Limit limit;
    if (refs[1] >= 0) {
        Cell part = a[refs[1]];
        int64_t length;
        if (part.is(T_INTEGER)) {
            length = cells::integer(part);
        } else if (part.is(T_FLOAT) || part.is(T_PERCENT)) {
            double d = part.get_float();
            length = d >= 2147483647.0 ? 2147483647 : d <= -2147483648.0 ? -2147483648LL : int64_t(d);
        } else {
            if (part.type() != input->type() || part.data2 != input->data2) {
                Cell w = cells::make_word(T_WORD, 0, cells::word_symbol(rw::refinements::part));
                Root p(part);
                stack::raise_error("script", "invalid-refine-arg", {&w, p.get()});
            }
            length = int64_t(cells::series_index(part)) - int64_t(cells::series_index(*input));
        }
        if (length <= 0) {
            bool empty = length_of(*input) == 0;
            a[0] = cells::make_logic(empty);
            stack::top = a + 1;
            return Status::normal;
        }
        limit.set = true;
        uint64_t at = uint64_t(cells::series_index(*input)) + uint64_t(length);
        limit.at = uint32_t(std::min<uint64_t>(at, 0xFFFFFFFFu));
    }
    Root trace(refs[2] >= 0 ? a[refs[2]] : cells::make_none());
    Root result;
    process(input.get(), rules.get(), op, limit, trace.get(), result.get());
    a[0] = *result;
    stack::top = a + 1;
    return Status::normal;
}

}  // namespace kov::parse
