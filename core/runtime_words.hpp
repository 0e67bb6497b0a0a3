// The runtime's own words: symbols, words bound in the global context, refinements and one
// issue, interned once at start-up in a fixed order and kept in globals that the runtime's
// routines compare against.
#pragma once

#include <cstdint>

#include "core/value.hpp"

// Symbols, in interning order ("code" is interned twice: an event field and a money field).
#define KOV_RUNTIME_SYMBOLS(X) \
    X(spec, "spec") \
    X(body, "body") \
    X(words, "words") \
    X(class_, "class") \
    X(logic_t, "logic!") \
    X(integer_t, "integer!") \
    X(char_t, "char!") \
    X(float_t, "float!") \
    X(percent_t, "percent!") \
    X(any_type_t, "any-type!") \
    X(exit, "exit") \
    X(return_, "return") \
    X(Windows, "Windows") \
    X(Syllable, "Syllable") \
    X(macOS, "macOS") \
    X(Linux, "Linux") \
    X(NetBSD, "NetBSD") \
    X(repeat, "repeat") \
    X(foreach, "foreach") \
    X(map_each, "map-each") \
    X(remove_each, "remove-each") \
    X(any, "any") \
    X(break_, "break") \
    X(copy, "copy") \
    X(end, "end") \
    X(fail, "fail") \
    X(into, "into") \
    X(opt, "opt") \
    X(not_, "not") \
    X(quote, "quote") \
    X(case_, "case") \
    X(reject, "reject") \
    X(set, "set") \
    X(skip, "skip") \
    X(some, "some") \
    X(thru, "thru") \
    X(to, "to") \
    X(none, "none") \
    X(bar, "|") \
    X(dash, "-") \
    X(if_, "if") \
    X(remove, "remove") \
    X(while_, "while") \
    X(insert, "insert") \
    X(only, "only") \
    X(collect, "collect") \
    X(keep, "keep") \
    X(pick, "pick") \
    X(ahead, "ahead") \
    X(after, "after") \
    X(x, "x") \
    X(y, "y") \
    X(z, "z") \
    X(self, "self") \
    X(values, "values") \
    X(owner, "owner") \
    X(owned, "owned") \
    X(events_q, "events?") \
    X(true_, "true") \
    X(false_, "false") \
    X(yes, "yes") \
    X(no, "no") \
    X(on, "on") \
    X(off, "off") \
    X(type, "type") \
    X(face, "face") \
    X(window, "window") \
    X(offset, "offset") \
    X(key, "key") \
    X(flag, "flag") \
    X(code, "code") \
    X(picked, "picked") \
    X(flags, "flags") \
    X(away_q, "away?") \
    X(ctrl_q, "ctrl?") \
    X(shift_q, "shift?") \
    X(down_q, "down?") \
    X(mid_down_q, "mid-down?") \
    X(alt_down_q, "alt-down?") \
    X(aux_down_q, "aux-down?") \
    X(orientation, "orientation") \
    X(get, "get") \
    X(put, "put") \
    X(post, "post") \
    X(head, "head") \
    X(size, "size") \
    X(rgb, "rgb") \
    X(alpha, "alpha") \
    X(argb, "argb") \
    X(date, "date") \
    X(year, "year") \
    X(month, "month") \
    X(day, "day") \
    X(zone, "zone") \
    X(isoweek, "isoweek") \
    X(week, "week") \
    X(weekday, "weekday") \
    X(yearday, "yearday") \
    X(julian, "julian") \
    X(time, "time") \
    X(hour, "hour") \
    X(minute, "minute") \
    X(second, "second") \
    X(timezone, "timezone") \
    X(code2, "code") \
    X(amount, "amount") \
    X(user, "user") \
    X(host, "host") \
    X(system, "system") \
    X(system_global, "system-global") \
    X(stack, "stack") \
    X(trace, "trace") \
    X(no_trace, "no-trace")

// Words, in interning order.
#define KOV_RUNTIME_WORDS(X) \
    X(at, "at") \
    X(back, "back") \
    X(find, "find") \
    X(head, "head") \
    X(head_q, "head?") \
    X(index_q, "index?") \
    X(length_q, "length?") \
    X(next, "next") \
    X(pick, "pick") \
    X(skip, "skip") \
    X(select, "select") \
    X(tail, "tail") \
    X(tail_q, "tail?") \
    X(change, "change") \
    X(changed, "changed") \
    X(clear, "clear") \
    X(cleared, "cleared") \
    X(set_path, "set-path") \
    X(append, "append") \
    X(appended, "appended") \
    X(move, "move") \
    X(moved, "moved") \
    X(poke, "poke") \
    X(poked, "poked") \
    X(put, "put") \
    X(put_ed, "put-ed") \
    X(removed, "removed") \
    X(random, "random") \
    X(randomized, "randomized") \
    X(reverse, "reverse") \
    X(reversed, "reversed") \
    X(sort, "sort") \
    X(sorted, "sorted") \
    X(swap, "swap") \
    X(swaped, "swaped") \
    X(take, "take") \
    X(taken, "taken") \
    X(trim, "trim") \
    X(trimmed, "trimmed") \
    X(inserted, "inserted") \
    X(uppercase, "uppercase") \
    X(lowercase, "lowercase") \
    X(checksum, "checksum") \
    X(push, "push") \
    X(pop, "pop") \
    X(fetch, "fetch") \
    X(match, "match") \
    X(iterate, "iterate") \
    X(paren, "paren") \
    X(anon, "<anon>") \
    X(body, "<body>") \
    X(not_found, "<not-found>") \
    X(add, "add") \
    X(subtract, "subtract") \
    X(divide, "divide") \
    X(on_parse_event, "on-parse-event") \
    X(on_change_s, "on-change*") \
    X(on_deep_change_s, "on-deep-change*") \
    X(type, "type") \
    X(id, "id") \
    X(try_, "try") \
    X(catch_, "catch") \
    X(name, "name") \
    X(multiply, "multiply") \
    X(browse, "browse") \
    X(open, "open") \
    X(create, "create") \
    X(close, "close") \
    X(delete_, "delete") \
    X(modify, "modify") \
    X(query, "query") \
    X(read, "read") \
    X(rename, "rename") \
    X(update, "update") \
    X(write, "write") \
    X(prescan, "prescan") \
    X(scan, "scan") \
    X(load, "load") \
    X(error, "error") \
    X(comment, "comment") \
    X(init, "init") \
    X(exec, "exec") \
    X(call, "call") \
    X(return_, "return") \
    X(enter, "enter") \
    X(exit, "exit") \
    X(prolog, "prolog") \
    X(epilog, "epilog") \
    X(throw_, "throw") \
    X(expr, "expr") \
    X(interp_callback, "<interp-callback>") \
    X(lexer_callback, "<lexer-callback>") \
    X(parse_callback, "<parse-callback>") \
    X(compare_callback, "<compare-callback>") \
    X(throw2, "throw") \
    X(note, "note") \
    X(syntax, "syntax") \
    X(script, "script") \
    X(math, "math") \
    X(access, "access") \
    X(user, "user") \
    X(internal, "internal") \
    X(invalid_error, "invalid-error") \
    X(local, "local") \
    X(applied, "<applied>")

// Refinements.
#define KOV_RUNTIME_REFINEMENTS(X) \
    X(local, "local") \
    X(extern_, "extern") \
    X(compare, "compare") \
    X(part, "part") \
    X(skip, "skip") \
    X(with, "with")

namespace kov::runtime_words {

// Symbol ids: sym::spec, sym::logic_t, sym::bar ("|"), sym::dash ("-") ...
namespace sym {
#define KOV_DECLARE(id, text) extern uint32_t id;
KOV_RUNTIME_SYMBOLS(KOV_DECLARE)
#undef KOV_DECLARE
}  // namespace sym

// Word cells bound in the global context: words::at, words::anon ("<anon>") ...
namespace words {
#define KOV_DECLARE(id, text) extern ::kov::Cell id;
KOV_RUNTIME_WORDS(KOV_DECLARE)
#undef KOV_DECLARE
}  // namespace words

// Refinement cells: refinements::part ...
namespace refinements {
#define KOV_DECLARE(id, text) extern ::kov::Cell id;
KOV_RUNTIME_REFINEMENTS(KOV_DECLARE)
#undef KOV_DECLARE
}  // namespace refinements

extern Cell issue_ooo;

void init();              // the symbols, then the words
void init_refinements();
void init_issue();
// Marks (and, after node evacuation, rewrites) the global context references the cells hold.
void mark();

}  // namespace kov::runtime_words
