// The error catalogue's text and the reader that builds the errors object from it.
//
// The text is Kov source in the shape the boot library gives the object, so that it can move
// there as it stands. The reader here knows only what the text uses: set-words, the word
// `context`, integers, strings without escapes, words, get-words and blocks of them.
#include "datatypes/error_catalogue.hpp"

#include <cctype>
#include <charconv>
#include <string>

#include "core/buffer.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/memory.hpp"
#include "core/runtime.hpp"
#include "core/symbol.hpp"
#include "datatypes/string.hpp"

namespace kov::error_catalogue {

const char* const source = R"KOV(errors: context [
	throw: context [
		code: 0
		type: "Throw Error"
		break: "no loop to break"
		return: "return or exit not in function"
		throw: ["no catch for throw:" :arg1]
		continue: "no loop to continue"
		while-cond: "BREAK/CONTINUE cannot be used in WHILE condition block"
	]
	note: context [
		code: 100
		type: "note"
		no-load: ["cannot load: " :arg1]
	]
	syntax: context [
		code: 200
		type: "Syntax Error"
		invalid: [:arg1 "invalid" :arg2 "at" :arg3]
		missing: [:arg1 "missing" :arg2 "at" :arg3]
		no-header: ["script is missing a Kov header:" :arg1]
		no-ks-header: ["script is missing a Kov/System header:" :arg1]
		bad-header: ["script header is not valid:" :arg1]
		malconstruct: [:arg1 "invalid construction spec at" :arg2]
		bad-char: [:arg1 "invalid character at" :arg2]
	]
	script: context [
		code: 300
		type: "Script Error"
		no-value: [:arg1 "has no value"]
		need-value: [:arg1 "needs a value"]
		not-defined: [:arg1 "word is not bound to a context"]
		not-in-context: ["context for" :arg1 "is not available"]
		no-arg: [:arg1 "is missing its" :arg2 "argument"]
		expect-arg: [:arg1 "does not allow" :arg2 "for its" :arg3 "argument"]
		expect-val: ["expected" :arg1 "not" :arg2]
		expect-type: [:arg1 :arg2 "field must be of type" :arg3]
		cannot-use: ["cannot use" :arg1 "on" :arg2 "value"]
		invalid-arg: ["invalid argument:" :arg1]
		invalid-type: [:arg1 "type is not allowed here"]
		invalid-type-spec: ["invalid type specifier:" :arg1]
		invalid-key-type: ["invalid key type:" :arg1]
		invalid-op: ["invalid operator:" :arg1]
		no-op-arg: [:arg1 "operator is missing an argument"]
		bad-op-spec: "making an op! requires a function with only 2 arguments and no lit/get-word on left argument"
		invalid-data: ["data not in correct format:" :arg1]
		invalid-part: ["invalid /part count:" :arg1]
		not-same-type: "values must be of the same type"
		not-same-class: ["cannot coerce" :arg1 "to" :arg2]
		not-related: ["incompatible argument for" :arg1 "of" :arg2]
		bad-func-def: ["invalid function definition:" :arg1]
		bad-func-arg: ["function argument" :arg1 "is not valid"]
		bad-func-extern: ["invalid /extern value:" :arg1]
		no-refine: [:arg1 "has no refinement called" :arg2]
		bad-refines: "incompatible or invalid refinements"
		bad-refine: ["invalid refinement value:" :arg1]
		dup-refine: ["duplicate refinement usage in:" :arg1]
		word-first: ["path must start with a word:" :arg1]
		empty-path: "cannot evaluate an empty path value"
		unset-path: [:arg2 "is unset in path" :arg1]
		invalid-path: ["cannot access" :arg2 "in path" :arg1]
		invalid-path-set: ["unsupported type in" :arg1 "set-path"]
		invalid-path-get: ["unsupported type in" :arg1 "get-path"]
		bad-path-type: [:arg3 "returned a" :arg2 "value, so" :arg1 "could not be accessed"]
		bad-path-type2: ["path element >" :arg1 "< does not apply to" :arg2 "type"]
		bad-path-set: ["cannot set" :arg2 "in path" :arg1]
		bad-field-set: ["cannot set" :arg1 "field to" :arg2 "datatype"]
		dup-vars: ["duplicate variable specified:" :arg1]
		past-end: "out of range or past end"
		missing-arg: "missing a required argument or refinement"
		out-of-range: ["value out of range:" :arg1]
		invalid-chars: "contains invalid characters"
		invalid-compare: ["cannot compare" :arg1 "with" :arg2]
		wrong-type: ["datatype assertion failed for:" :arg1]
		invalid-refine-arg: ["invalid" :arg1 "argument:" :arg2]
		type-limit: [:arg1 "overflow/underflow"]
		size-limit: ["maximum limit reached:" :arg1]
		no-return: "block did not return a value"
		throw-usage: "invalid use of a thrown error value"
		locked-word: ["protected word - cannot modify:" :arg1]
		protected: "protected value or series - cannot modify"
		bad-bad: [:arg1 "error:" :arg2]
		bad-make-arg: ["cannot MAKE" :arg1 "from:" :arg2]
		bad-to-arg: ["cannot MAKE/TO" :arg1 "from:" :arg2]
		invalid-months: "invalid system/locale/month list"
		invalid-spec-field: ["invalid" :arg1 "field in spec block"]
		missing-spec-field: [:arg1 "not found in spec block"]
		move-bad: ["Cannot MOVE elements from" :arg1 "to" :arg2]
		too-long: "Content too long"
		invalid-char: ["Invalid char! value:" :arg1]
		bad-loop-series: ["Loop series changed to invalid value:" :arg1]
		wrong-denom: [:arg1 "not same denomination as" :arg2]
		bad-denom: ["invalid denomination:" :arg1]
		invalid-obj-evt: ["invalid object event handler:" :arg1]
		parse-rule: ["PARSE - invalid rule or usage of rule:" :arg1]
		parse-end: ["PARSE - unexpected end of rule after:" :arg1]
		parse-invalid-ref: ["PARSE - get-word refers to a different series!" :arg1]
		parse-block: ["PARSE - input must be of any-block! type:" :arg1]
		parse-unsupported: "PARSE - matching by datatype not supported for any-string! input"
		parse-infinite: ["PARSE - infinite recursion at rule: [" :arg1 "]"]
		parse-stack: "PARSE - stack limit reached"
		parse-keep: "PARSE - KEEP is used without a wrapping COLLECT"
		parse-into-bad: "PARSE - COLLECT INTO/AFTER invalid series! argument"
		parse-into-type: "PARSE - COLLECT INTO/AFTER expects a series! of compatible datatype"
		draw-invalid: ["DRAW - invalid input at:" :arg1]
		draw-infinite: ["DRAW - infinite recursion at:" :arg1]
		invalid-data-facet: ["invalid DATA facet content" :arg1]
		face-type: ["VIEW - invalid face type:" :arg1]
		not-window: "VIEW - expected a window root face"
		bad-window: "VIEW - a window face cannot be nested in another window"
		not-linked: "VIEW - face not linked to a window"
		not-event-type: ["VIEW - not a valid event type" :arg1]
		invalid-facet-type: ["VIEW - invalid rate value:" :arg1]
		kvd-invalid-syntax: ["KVD - invalid syntax at:" :arg1]
		rtd-invalid-syntax: ["RTD - invalid syntax at:" :arg1]
		rtd-no-match: ["RTD - opening/closing tag not matching for:" :arg1]
		react-bad-func: "REACT - /LINK option requires a function! as argument"
		react-not-enough: "REACT - reactive functions must accept at least 2 arguments"
		react-no-match: "REACT - objects block length must match reaction function arg count"
		react-bad-obj: "REACT - target can only contain object values"
		react-gctx: ["REACT - word" :arg1 "is not a reactor's field"]
		lib-invalid-arg: ["LIBKOV - invalid argument for" :arg1]
		kb-invalid-record: ["KOVBIN - invalid record at index" :arg1]
	]
	math: context [
		code: 400
		type: "Math Error"
		zero-divide: "attempt to divide by zero"
		overflow: "math or number overflow"
		positive: "positive number required"
	]
	access: context [
		code: 500
		type: "Access Error"
		cannot-open: ["cannot open:" :arg1]
		cannot-close: ["cannot close:" :arg1]
		invalid-utf8: ["invalid UTF-8 encoding:" :arg1]
		not-open: ["port is not open:" :arg1]
		no-connect: ["cannot connect:" :arg1 "reason: timeout"]
		no-scheme: ["missing port scheme:" :arg1]
		unknown-scheme: ["scheme is unknown:" :arg1]
		invalid-spec: ["invalid spec or options:" :arg1]
		invalid-port: ["invalid port object (invalid field values)"]
		invalid-actor: ["invalid port actor (must be handle or object)"]
		no-port-action: "port action not supported"
		no-create: ["cannot create:" :arg1]
		no-codec: ["cannot decode or encode (no codec):" :arg1]
		bad-media: ["bad media data (corrupt image, sound, video)"]
		invalid-cmd: ["invalid port command:" :arg1]
	]
	reserved1: context [
		code: 600
		type: "Reserved1 Error"
	]
	reserved2: context [
		code: 700
		type: "Reserved2 Error"
	]
	user: context [
		code: 800
		type: "User Error"
		message: arg1
	]
	internal: context [
		code: 900
		type: "Internal Error"
		bad-path: ["bad path:" arg1]
		not-here: [arg1 "not supported on your system"]
		no-memory: "not enough memory"
		wrong-mem: "failed to release memory"
		stack-overflow: "stack overflow"
		limit-hit: ["internal limit reached:" :arg1]
		too-deep: "block or paren series is too deep to process"
		no-cycle: "circular reference not allowed"
		feature-na: "feature not available"
		not-done: "reserved for future use (or not yet implemented)"
		invalid-error: ["invalid error object field value:" :arg1]
		routines: "routines require compilation, from OS shell: `kov -r <script.kov>`"
		kov-system: "contains Kov/System code which requires compilation"
		deprecated: [arg1 "is DEPRECATED, please use" arg2 "instead"]
	]
]
)KOV";

namespace {

// The errors object, kept current across collections by a root marker.
Cell errors_object{T_NONE, 0, 0, 0};
bool marker_added = false;

void mark() { collector::mark_cells(&errors_object, &errors_object + 1); }

// Class ids of the catalogue's objects, below the range of classes made at run time.
constexpr uint32_t ERRORS_CLASS = 2;
constexpr uint32_t CATEGORY_CLASS_BASE = 10;

// ---- reading ----

enum class Tok { end, set_word, word, get_word, integer, text, open, close };

struct Token {
    Tok kind = Tok::end;
    std::string_view text;
    int32_t number = 0;
};

// The catalogue text is part of the program: a mistake in it is a broken build.
[[noreturn]] void malformed() { runtime::runtime_error(FATAL_ASSERTION, 0); }

struct Reader {
    std::string_view s;
    size_t at = 0;

    static bool delimiter(char c) {
        return std::isspace(static_cast<unsigned char>(c)) || c == '[' || c == ']' || c == '"';
    }

    Token next() {
        while (at < s.size() && std::isspace(static_cast<unsigned char>(s[at]))) at++;
        Token t;
        if (at >= s.size()) return t;
        char c = s[at];
        if (c == '[' || c == ']') {
            at++;
            t.kind = c == '[' ? Tok::open : Tok::close;
            return t;
        }
        if (c == '"') {
            size_t close = s.find('"', at + 1);
            if (close == std::string_view::npos) malformed();
            t.kind = Tok::text;
            t.text = s.substr(at + 1, close - at - 1);
            at = close + 1;
            return t;
        }
        size_t start = at;
        while (at < s.size() && !delimiter(s[at])) at++;
        std::string_view w = s.substr(start, at - start);
        if (std::isdigit(static_cast<unsigned char>(w[0]))) {
            t.kind = Tok::integer;
            auto r = std::from_chars(w.data(), w.data() + w.size(), t.number);
            if (r.ec != std::errc() || r.ptr != w.data() + w.size()) malformed();
        } else if (w[0] == ':') {
            t.kind = Tok::get_word;
            t.text = w.substr(1);
        } else if (w.back() == ':') {
            t.kind = Tok::set_word;
            t.text = w.substr(0, w.size() - 1);
        } else {
            t.kind = Tok::word;
            t.text = w;
        }
        return t;
    }

    Token expect(Tok kind) {
        Token t = next();
        if (t.kind != kind) malformed();
        return t;
    }
};

Cell word_of(uint32_t type, std::string_view spelling) {
    return cells::make_word(type, 0, symbol::make(spelling));
}

void make_text(Cell* out, std::string_view text) {
    string::make_at(out, uint32_t(text.size()));
    string::concatenate_cstring(out, text);
}

// A template block: strings, words and get-words up to the closing bracket.
void read_template_block(Reader& r, Cell* out) {
    *out = cells::make_series(T_BLOCK, memory::make_cells(4));
    collector::Root item;
    for (Token t = r.next(); t.kind != Tok::close; t = r.next()) {
        switch (t.kind) {
        case Tok::text: make_text(item.get(), t.text); break;
        case Tok::word: item.cell = word_of(T_WORD, t.text); break;
        case Tok::get_word: item.cell = word_of(T_GET_WORD, t.text); break;
        default: malformed();
        }
        *buffer::alloc_block_tail(out) = item.cell;
    }
}

// Makes an object context and its cell (owner slot filled) with the given class id.
Cell make_object(Handle ctx, uint32_t class_id) {
    Cell obj{T_OBJECT, ctx, class_id, 0};
    *context::owner(ctx) = obj;
    return obj;
}

// One category: `name: context [fields]`, the set-word already read.
void read_category(Reader& r, Handle errors_ctx, std::string_view name, uint32_t slot) {
    if (r.expect(Tok::word).text != "context") malformed();
    r.expect(Tok::open);
    collector::RootContext errs(errors_ctx);
    collector::RootContext cat(context::create(8, false, true, nullptr, context::KIND_OBJECT));
    collector::Root value;
    for (Token field = r.next(); field.kind != Tok::close; field = r.next()) {
        if (field.kind != Tok::set_word) malformed();
        Token v = r.next();
        switch (v.kind) {
        case Tok::integer: value.cell = cells::make_integer(v.number); break;
        case Tok::text: make_text(value.get(), v.text); break;
        case Tok::word: value.cell = word_of(T_WORD, v.text); break;
        case Tok::open: read_template_block(r, value.get()); break;
        default: malformed();
        }
        Cell w = word_of(T_WORD, field.text);
        context::add_with(cat.handle(), &w, value.get());
    }
    value.cell = make_object(cat.handle(), CATEGORY_CLASS_BASE + slot);
    Cell w = word_of(T_WORD, name);
    context::add_with(errs.handle(), &w, value.get());
}

}  // namespace

void unbind() { errors_object = cells::make_none(); }

void build() {
    if (!marker_added) {
        collector::add_root_marker(mark);
        marker_added = true;
    }
    Reader r{source};
    if (r.expect(Tok::set_word).text != "errors" || r.expect(Tok::word).text != "context") malformed();
    r.expect(Tok::open);
    collector::RootContext errs(context::create(10, false, true, nullptr, context::KIND_OBJECT));
    uint32_t slot = 0;
    for (Token t = r.next(); t.kind != Tok::close; t = r.next()) {
        if (t.kind != Tok::set_word) malformed();
        read_category(r, errs.handle(), t.text, slot++);
    }
    errors_object = make_object(errs.handle(), ERRORS_CLASS);
}

Handle errors() { return errors_object.is(T_OBJECT) ? errors_object.data1 : 0; }

uint32_t category_count() { return errors() ? context::word_count(errors()) : 0; }

int32_t category_slot(uint32_t symbol) {
    return errors() ? context::find_word(errors(), symbol, true) : -1;
}

Handle category(int32_t slot) {
    if (slot < 0 || uint32_t(slot) >= category_count()) return 0;
    const Cell* v = context::value_cell(errors(), slot);
    return v && v->is(T_OBJECT) ? v->data1 : 0;
}

int32_t field_slot(Handle cat, uint32_t symbol) { return context::find_word(cat, symbol, true); }

uint32_t field_count(Handle cat) { return context::word_count(cat); }

int32_t code_of(std::string_view category_name, std::string_view id) {
    uint32_t cs = symbol::find(category_name, true), is = symbol::find(id, true);
    if (!cs || !is) return -1;
    int32_t c = category_slot(cs);
    Handle cat = category(c);
    if (!cat) return -1;
    int32_t i = field_slot(cat, is);
    return i < 2 ? -1 : c * 100 + i - 2;
}

}  // namespace kov::error_catalogue
