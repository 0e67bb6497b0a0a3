// The system routines (see system_routines.hpp). Each reads its arguments from the current frame
// (arguments[1] onward, already checked against the routine's spec by the interpreter) and leaves
// its result in arguments[0].



#include "boot/system_routines.hpp"
#include "console/routines.hpp"
#include "core/buffer.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/memory.hpp"
#include "core/output.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/error_catalogue.hpp"
#include "datatypes/event.hpp"
#include "datatypes/file.hpp"
#include "datatypes/float.hpp"
#include "datatypes/function.hpp"
#include "datatypes/handle.hpp"
#include "datatypes/object.hpp"
#include "datatypes/string.hpp"
#include "datatypes/tuple.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/tracing.hpp"
#include "evaluator/lexer.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/natives_math.hpp"
#include "platform/kovbin.hpp"
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace kov::system_routines {

namespace {

using collector::Root;

// Argument n (from 1); the result later overwrites argument 1.
Cell* arg(int n) { return stack::arguments + n - 1; }
void result(const Cell& c) { *stack::arguments = c; }
int32_t int_arg(int n) { return cells::integer(*arg(n)); }

// Script error expect-arg naming the routine, the value's datatype and the parameter.
[[noreturn]] void expect_arg(const char* routine, const char* param, const Cell* value) {
    Root name(*word::load(routine));
    Root type(cells::make_datatype(value->type()));
    Root p(*word::load(param));
    stack::raise_error("script", "expect-arg", {name.get(), type.get(), p.get()});
}

// ---- exit, quiet stores ----

void quit_return() { runtime::exit_process(int_arg(1)); }

void set_quiet() {
    uint32_t t = arg(1)->type();
    if (t != T_WORD && t != T_SET_WORD && t != T_LIT_WORD && t != T_GET_WORD) expect_arg("set-quiet", "word", arg(1));
    Root w(*arg(1)), v(*arg(2));
    context::set_in(w.get(), v.get(), w->data1, false);
    result(*v);
}

bool block_kind_q(uint32_t t) {
    return t == T_BLOCK || t == T_PAREN || t == T_HASH || t == T_PATH || t == T_LIT_PATH ||
           t == T_SET_PATH || t == T_GET_PATH;
}

// The slot is overwritten in place, so a hash! (whose index would go stale) is refused; the
// series itself is the result.
void set_slot_quiet() {
    if (!block_kind_q(arg(1)->type()) || arg(1)->is(T_HASH)) expect_arg("set-slot-quiet", "series", arg(1));
    Cell* blk = arg(1);
    if (!block::ks_tail_q(blk)) *block::ks_head(blk) = *arg(2);
}

// ---- shifts ----

void shift_right() { result(cells::make_integer(natives::math_natives::shift(int_arg(1), int_arg(2), false, false))); }
void shift_left() { result(cells::make_integer(natives::math_natives::shift(int_arg(1), int_arg(2), true, false))); }
void shift_logical() { result(cells::make_integer(natives::math_natives::shift(int_arg(1), int_arg(2), false, true))); }

// ---- console and directories ----

void last_lf_q() { result(cells::make_logic(output::last_new_line)); }

void get_current_dir() { file::get_current_dir(stack::arguments); }

void set_current_dir() {
    std::string path = file::to_os_path(arg(1));
    if (path.empty() || ::chdir(path.c_str()) != 0) {
        Root p(*arg(1));
        stack::raise_error("access", "cannot-open", {p.get()});
    }
    result(*arg(1));
}

void create_dir() {
    std::string path = file::to_os_path(arg(1));
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.empty() || ::mkdir(path.c_str(), 0777) != 0) {
        Root p(*arg(1));
        stack::raise_error("access", "no-create", {p.get()});
    }
    result(*arg(1));
}

void exists_q() {
    std::string path = file::to_os_path(arg(1));
    struct stat st;
    result(cells::make_logic(!path.empty() && ::stat(path.c_str(), &st) == 0));
}

// ---- operating-system information ----

std::string quoted(std::string_view text);

// The processor architecture's word from uname's machine name.
const char* arch_word(std::string_view machine) {
    if (machine == "x86_64" || machine == "amd64") return "x86-64";
    if (machine == "aarch64" || machine == "arm64") return "ARM64";
    if (machine == "ia64") return "IA-64";
    if (machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86") return "x86-32";
    if (machine.substr(0, 3) == "arm") return "ARM";
    return "Unknown";
}

// The value of a KEY=value line of os-release, its quotes and backslash escapes undone.
std::string os_release_field(const std::string& text, std::string_view key) {
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + at, end - at);
        at = end + 1;
        if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != '=')
            continue;
        std::string_view v = line.substr(key.size() + 1);
        std::string out;
        char quote = 0;
        if (!v.empty() && (v[0] == '"' || v[0] == '\'')) quote = v[0], v.remove_prefix(1);
        for (size_t i = 0; i < v.size(); i++) {
            if (quote && v[i] == quote) break;
            if (quote == '"' && v[i] == '\\' && i + 1 < v.size()) i++;
            out += v[i];
        }
        return out;
    }
    return {};
}

// The leading decimal numbers of a release text such as "6.1.0-18-amd64": up to `max` numbers
// separated by dots; `rest` gets the number that follows the first dash (0 when none).
void release_numbers(std::string_view text, int32_t* numbers, int max, int32_t& rest) {
    size_t i = 0;
    for (int n = 0; n < max && i < text.size() && text[i] >= '0' && text[i] <= '9'; n++) {
        int64_t v = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') v = std::min<int64_t>(v * 10 + (text[i++] - '0'), 255);
        numbers[n] = int32_t(v);
        if (i < text.size() && text[i] == '.') i++;
        else break;
    }
    rest = 0;
    size_t dash = text.find('-');
    if (dash == std::string_view::npos) return;
    int64_t v = 0;
    for (i = dash + 1; i < text.size() && text[i] >= '0' && text[i] <= '9'; i++)
        v = std::min<int64_t>(v * 10 + (text[i] - '0'), 0x7FFFFFFF);
    rest = int32_t(v);
}

// os-info: an object of name (the distribution's PRETTY_NAME from os-release, else its NAME,
// else the kernel's name), arch (word), version (the kernel release's three numbers) and build
// (the kernel release's number after its first dash, the distribution's patch level on Debian).
void os_info() {
    struct utsname u {};
    if (::uname(&u) != 0) {
        std::strcpy(u.sysname, "Linux");
        u.release[0] = u.machine[0] = '\0';
    }
    std::string release;
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream in(path, std::ios::binary);
        if (!in) continue;
        release.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        break;
    }
    std::string name = os_release_field(release, "PRETTY_NAME");
    if (name.empty()) name = os_release_field(release, "NAME");
    if (name.empty()) name = u.sysname;
    int32_t version[3] = {0, 0, 0}, build = 0;
    release_numbers(u.release, version, 3, build);
    std::string spec = "[name: " + quoted(name) + " arch: " + arch_word(u.machine) + " version: " +
                       std::to_string(version[0]) + "." + std::to_string(version[1]) + "." +
                       std::to_string(version[2]) + " build: " + std::to_string(build) + "]";
    Root block;
    lexer::scan(block.get(), spec);
    Root first(*block::ks_head(block.get()));
    Root made(*object::construct(first.get(), nullptr, false));
    result(*made);
}

// ---- colours and addresses ----

// The integer arguments 1..count; the first negative one raises invalid-arg with it.
void non_negative_args(int count) {
    for (int i = 1; i <= count; i++)
        if (int_arg(i) < 0) {
            Root bad(*arg(i));
            stack::raise_error("script", "invalid-arg", {bad.get()});
        }
}

// r.g.b, each component taken modulo 256.
void as_color() {
    non_negative_args(3);
    uint8_t bytes[3];
    for (int i = 0; i < 3; i++) bytes[i] = uint8_t(int_arg(i + 1) & 0xFF);
    result(tuple::make_cell(bytes, 3));
}

// a.b.c.d from the word (d << 24) | (c << 16) | (b << 8) | a: a component above 255 spills into
// the following ones, bits beyond the fourth byte are lost.
void as_ipv4() {
    non_negative_args(4);
    uint32_t word = uint32_t(int_arg(4)) << 24 | uint32_t(int_arg(3)) << 16 | uint32_t(int_arg(2)) << 8 |
                    uint32_t(int_arg(1));
    uint8_t bytes[4];
    for (int i = 0; i < 4; i++) bytes[i] = uint8_t(word >> (8 * i));
    result(tuple::make_cell(bytes, 4));
}

void count_chars() {
    Cell* start = arg(1);
    Cell* pos = arg(2);
    if (cells::series_node(*start) != cells::series_node(*pos)) {
        Root bad(*pos);
        stack::raise_error("script", "invalid-arg", {bad.get()});
    }
    uint32_t from = cells::series_index(*start), to = cells::series_index(*pos);
    int32_t available = binary::ks_length(start);
    int32_t n = 0;
    if (to > from && available > 0) {
        // The bytes from start to the tail, ended by a NUL so that decoding stops there: a
        // sequence begun before `pos` counts whole, and nothing past the tail is read.
        std::string bytes(reinterpret_cast<const char*>(binary::ks_head(start)), size_t(available));
        bytes.push_back('\0');
        const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.data());
        const uint8_t* end = p + std::min<uint32_t>(to - from, uint32_t(available));
        while (p < end) {
            int32_t cp;
            const uint8_t* next = unicode::fast_decode_utf8_char(p, cp);
            p = next > p ? next : p + 1;
            n++;
        }
    }
    result(cells::make_integer(n));
}

// ---- the stacks ----

void stack_size_q() { result(cells::make_integer(int32_t(stack::top - stack::begin))); }

void pick_stack() {
    int32_t idx = int_arg(1);
    int32_t size = int32_t(stack::top - stack::begin);
    result(idx > 0 && idx < size ? stack::begin[idx - 1] : cells::make_none());
}

void frame_index_q() { result(cells::make_integer(int32_t(stack::arguments - stack::begin))); }

void collect_calls() {
    stack::collect_calls(arg(1));
    result(*arg(1));
}

void tracing_q() { result(cells::make_logic(interpreter::tracing)); }

// The switch of `trace` given a logic!: tracing on only while a callback is installed.
void set_tracing() {
    tracing::set_switch(cells::logic(*arg(1)));
    result(cells::make_logic(interpreter::tracing));
}

// True when a frame of the interpreter lies below the routine's own frame.
void interpreted_q() {
    bool found = false;
    for (CallFrame* f = stack::frame_top - 2; f >= stack::frame_begin; f--)
        if (f->header & FRAME_INTERP) {
            found = true;
            break;
        }
    result(cells::make_logic(found));
}

// ---- clipboard, standard output ----

// The clipboard is a store of this process: one value (none when empty), a copy of what was
// written, kept alive by a root marker. A string!, a block! of file! values or an image! may be
// put there; none! empties it.
Cell clipboard = cells::make_none();
bool clipboard_marked = false;

void mark_clipboard() { collector::mark_cells(&clipboard, &clipboard + 1); }

bool clipboard_value_q(Cell* data) {
    if (data->is(T_STRING) || data->is(T_IMAGE)) return true;
    if (!data->is(T_BLOCK)) return false;
    int32_t n = block::ks_length_q(data);
    const Cell* p = block::ks_head(data);
    for (int32_t i = 0; i < n; i++)
        if (!p[i].is(T_FILE)) return false;
    return true;
}

// read-clipboard: none when empty, else a copy of the stored value.
void read_clipboard() {
    if (clipboard.is(T_NONE)) return result(cells::make_none());
    Root stored(clipboard), out;
    Cell* made = actions::copy_dispatch(stored.get(), out.get(), nullptr, true, nullptr);
    result(*made);
}

// write-clipboard data: true when the value was stored (or none! emptied the store), false for
// a value the clipboard cannot hold.
void write_clipboard() {
    if (arg(1)->is(T_NONE)) {
        clipboard = cells::make_none();
        return result(cells::make_logic(true));
    }
    if (!clipboard_value_q(arg(1))) return result(cells::make_logic(false));
    if (!clipboard_marked) {
        collector::add_root_marker(mark_clipboard);
        clipboard_marked = true;
    }
    Root data(*arg(1)), out;
    Cell* made = actions::copy_dispatch(data.get(), out.get(), nullptr, true, nullptr);
    clipboard = *made;
    result(cells::make_logic(true));
}

// write-stdout data: a binary! as its bytes, another value as its formed text, written at once
// after what the console has buffered; the result is the argument.
void write_stdout() {
    std::string bytes;
    if (arg(1)->is(T_BINARY)) {
        int32_t n = binary::ks_length(arg(1));
        if (n > 0) bytes.assign(reinterpret_cast<const char*>(binary::ks_head(arg(1))), size_t(n));
    } else {
        Root data(*arg(1)), text;
        string::make_at(text.get(), 64);
        actions::form_dispatch(data.get(), text.get(), false, 0);
        bytes = string::to_utf8(text.get());
    }
    output::flush();
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t w = ::write(1, bytes.data() + done, bytes.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            Root where(*word::load("stdout"));
            stack::raise_error("access", "cannot-open", {where.get()});
        }
        done += size_t(w);
    }
}

// ---- the collector's state ----

void gc_active_q() { result(cells::make_logic(collector::state.enabled)); }
void gc_series_cycles() { result(cells::make_integer(int32_t(collector::state.cycles))); }
void gc_nodes_cycles() { result(cells::make_integer(int32_t(collector::state.node_cycles))); }

// ---- errors ----

// cause-error type id args: raises the catalogue's error with up to three argument values: the
// first three values of the reduced block, or a string as the one argument.
void cause_error() {
    Root type(*arg(1)), id(*arg(2)), args(*arg(3));
    Root a[3];
    int n = 0;
    if (block_kind_q(args->type())) {
        stack::raise_if_pending(interpreter::call_library("reduce", {args.get()}));
        args.cell = *stack::arguments;
        int32_t len = block::ks_length_q(args.get());
        for (; n < 3 && n < len; n++) a[n].cell = block::ks_head(args.get())[n];
    } else {
        a[n++].cell = *args;
    }
    std::string category(symbol::spelling(cells::word_symbol(*type)));
    std::string name(symbol::spelling(cells::word_symbol(*id)));
    if (error_catalogue::code_of(category, name) < 0) {
        Root bad(*id);
        stack::raise_error("script", "invalid-arg", {bad.get()});
    }
    switch (n) {
    case 0: stack::raise_error(category.c_str(), name.c_str());
    case 1: stack::raise_error(category.c_str(), name.c_str(), {a[0].get()});
    case 2: stack::raise_error(category.c_str(), name.c_str(), {a[0].get(), a[1].get()});
    default: stack::raise_error(category.c_str(), name.c_str(), {a[0].get(), a[1].get(), a[2].get()});
    }
}

// ---- values of the boot top level ----

void make_null_handle() {
    Root h(*handle::push_null());
    result(*h);
}

// float-switch name on: the float formatter's switch behind system/options/float/<name>.
void float_switch() {
    std::string_view name = symbol::spelling(cells::word_symbol(*arg(1)));
    bool on = cells::logic(*arg(2));
    if (name == "pretty?") float_::pretty_print_q = on;
    result(*arg(2));
}

#ifndef KOV_GIT_BRANCH
#define KOV_GIT_BRANCH ""
#endif
#ifndef KOV_GIT_COMMIT
#define KOV_GIT_COMMIT "0"
#endif
#ifndef KOV_GIT_DATE
#define KOV_GIT_DATE "1-Jan-2026/0:00:00"
#endif
#ifndef KOV_BUILD_DATE
#define KOV_BUILD_DATE "1-Jan-2026/0:00:00"
#endif
#ifndef KOV_GIT_MESSAGE
#define KOV_GIT_MESSAGE ""
#endif
#ifndef KOV_BUILD_PATH
#define KOV_BUILD_PATH "kov"
#endif

// Molds text as a string literal in braces-free form: quotes and carets escaped.
std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '^') out += '^';
        if (c == '\n') { out += "^/"; continue; }
        out += c;
    }
    return out + "\"";
}

// The process's command line as one string: the arguments joined by spaces, an argument that
// is empty or holds a blank or a tab put between double quotes (so that extract-boot-args splits
// the text back into the same arguments).
std::string command_line() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!raw.empty() && raw.back() == '\0') raw.pop_back();
    std::string line;
    size_t start = 0;
    while (start <= raw.size()) {
        size_t end = raw.find('\0', start);
        if (end == std::string::npos) end = raw.size();
        std::string_view arg(raw.data() + start, end - start);
        if (!line.empty()) line += ' ';
        bool quote = arg.empty() || arg.find_first_of(" \t") != std::string_view::npos;
        if (quote) line += '"';
        line += arg;
        if (quote) line += '"';
        start = end + 1;
    }
    return line;
}

// boot-info: a block of name/value pairs describing this build and this process.
void boot_info() {
    std::string text = std::string("[date ") + KOV_BUILD_DATE + " branch " + quoted(KOV_GIT_BRANCH) +
                       " commit #" + KOV_GIT_COMMIT + " git-date " + KOV_GIT_DATE + " message " + quoted(KOV_GIT_MESSAGE) +
                       " basename %" + KOV_BUILD_PATH + " args " + quoted(command_line()) + "]";
    Root block;
    lexer::scan(block.get(), text);
    Root first(*block::ks_head(block.get()));
    result(first->is(T_BLOCK) ? *first : *block);
}

// ---- objects of the system object ----

// The global context as an object (class id -1): its fields are the global words.
void system_words_object() { result(Cell{T_OBJECT, context::global, 0xFFFFFFFFu, 0}); }

// The error catalogue's object, the one the runtime raises its errors from.
void system_errors_object() {
    Handle ctx = error_catalogue::errors();
    result(ctx ? *context::owner(ctx) : cells::make_none());
}

// ---- the Kovbin codec ----

// kovbin-encode data compact?: the value's Kovbin encoding, compact or in records.
void kovbin_encode() {
    Root data(*arg(1)), out;
    if (cells::logic(*arg(2))) kovbin::encode_compact(data.get(), out.get());
    else kovbin::encode(data.get(), out.get());
    result(out.cell);
}

// kovbin-decode payload: a file! is read whole first; the bytes decode to the single value they
// hold, or to the block of values. Anything else than a binary! of more than 10 bytes raises
// invalid-data with the payload.
void kovbin_decode() {
    Root payload(*arg(1)), out;
    if (payload->is(T_FILE)) {
        std::string path = file::to_os_path(payload.get());
        std::ifstream in(path, std::ios::binary);
        if (!in) stack::raise_error("access", "cannot-open", {payload.get()});
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (bytes.size() > 0x7FFFFFFF) stack::raise_error("script", "invalid-data", {payload.get()});
        binary::make_at(payload.get(), uint32_t(bytes.size()));
        binary::append_bytes(payload.get(), reinterpret_cast<const uint8_t*>(bytes.data()),
                             uint32_t(bytes.size()));
    }
    kovbin::codec_decode(payload.get(), out.get());
    result(out.cell);
}

// ---- the JSON and image codecs ----

// json-unescape str: decodes the JSON escapes of the text in place (from its head) and returns
// it. After a backslash: a double quote, a backslash or a slash stand for themselves; b f n r t
// for the control characters; u and 4 hexadecimal digits for a code, a high surrogate needing
// the escape of a low surrogate (backslash, u, 4 digits) right after it, the pair making one
// character; a low surrogate alone stands for itself. Any other character after a backslash
// leaves the backslash and drops that character. A bad u escape raises script error
// invalid-data with the text, which is then left as it was.
void json_unescape() {
    Root str(*arg(1));
    uint32_t head = str->data1;
    uint32_t n = string::length(str.get());
    std::vector<uint32_t> in(n);
    for (uint32_t i = 0; i < n; i++) in[i] = string::char_at(str.get(), head + i);
    auto hex4 = [&](uint32_t at, uint32_t& code) {
        if (at + 4 > n) return false;
        code = 0;
        for (uint32_t i = at; i < at + 4; i++) {
            uint32_t c = in[i], d;
            if (c >= '0' && c <= '9') d = c - '0';
            else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
            else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
            else return false;
            code = code * 16 + d;
        }
        return true;
    };
    std::vector<uint32_t> out;
    out.reserve(n);
    for (uint32_t i = 0; i < n; i++) {
        uint32_t c = in[i];
        if (c != '\\') { out.push_back(c); continue; }
        if (++i >= n) { out.push_back('\\'); break; }
        switch (in[i]) {
            case '"': case '\\': case '/': out.push_back(in[i]); break;
            case 'b': out.push_back(0x08); break;
            case 'f': out.push_back(0x0C); break;
            case 'n': out.push_back(0x0A); break;
            case 'r': out.push_back(0x0D); break;
            case 't': out.push_back(0x09); break;
            case 'u': {
                uint32_t code, low;
                if (!hex4(i + 1, code)) stack::raise_error("script", "invalid-data", {str.get()});
                i += 4;
                if (code >= 0xD800 && code <= 0xDBFF) {
                    if (i + 6 >= n || in[i + 1] != '\\' || in[i + 2] != 'u' || !hex4(i + 3, low) ||
                        low < 0xDC00 || low > 0xDFFF)
                        stack::raise_error("script", "invalid-data", {str.get()});
                    i += 6;
                    code = 0x10000 + (code - 0xD800) * 1024 + (low - 0xDC00);
                }
                out.push_back(code);
                break;
            }
            default: out.push_back('\\'); break;
        }
    }
    SeriesBuffer* buf = memory::buffer_of(str->data2);
    for (uint32_t k = 0; k < out.size(); k++) buf = string::overwrite_char(buf, head + k, out[k]);
    string::remove_chars(str.get(), head + uint32_t(out.size()), n - uint32_t(out.size()));
    result(*str);
}

// The image codecs' encode and decode: image! values are not built in this runtime yet, so both
// raise internal error not-done rather than answer something that is not an image.
void image_encode() { stack::raise_error("internal", "not-done"); }
void image_decode() { stack::raise_error("internal", "not-done"); }

struct Entry {
    const char* name;
    routines::Fn fn;
};

const Entry ENTRIES[] = {
    {"quit-return", quit_return},
    {"set-quiet", set_quiet},
    {"set-slot-quiet", set_slot_quiet},
    {"shift-right", shift_right},
    {"shift-left", shift_left},
    {"shift-logical", shift_logical},
    {"last-lf?", last_lf_q},
    {"get-current-dir", get_current_dir},
    {"set-current-dir", set_current_dir},
    {"create-dir", create_dir},
    {"exists?", exists_q},
    {"os-info", os_info},
    {"as-color", as_color},
    {"as-ipv4", as_ipv4},
    {"as-rgba", as_ipv4},
    {"count-chars", count_chars},
    {"stack-size?", stack_size_q},
    {"pick-stack", pick_stack},
    {"frame-index?", frame_index_q},
    {"collect-calls", collect_calls},
    {"tracing?", tracing_q},
    {"set-tracing", set_tracing},
    {"read-clipboard", read_clipboard},
    {"write-clipboard", write_clipboard},
    {"write-stdout", write_stdout},
    {"interpreted?", interpreted_q},
    {"cause-error", cause_error},
    {"make-null-handle", make_null_handle},
    {"float-switch", float_switch},
    {"boot-info", boot_info},
    {"GC-active?", gc_active_q},
    {"GC-series-cycles", gc_series_cycles},
    {"GC-nodes-cycles", gc_nodes_cycles},
    {"system-words-object", system_words_object},
    {"system-errors-object", system_errors_object},
    {"kovbin-encode", kovbin_encode},
    {"kovbin-decode", kovbin_decode},
    {"json-unescape", json_unescape},
    {"image-encode", image_encode},
    {"image-decode", image_decode},
    {"event?", event::event_q},
    {"send-event-os", event::send_event_os},
    {"find-flag?", event::find_flag_q},
    {"event-init", event::boot_init},
};

// The routine-table index of each entry once it was added (0: not yet).
std::array<int32_t, std::size(ENTRIES)> indexes{};

// system-routine spec name: the routine! value of the named system routine with that spec.
Status system_routine(const int32_t*) {
    Root spec(*arg(1)), name(*arg(2));
    std::string_view spelling = symbol::spelling(cells::word_symbol(*name));
    for (size_t i = 0; i < std::size(ENTRIES); i++) {
        if (spelling != ENTRIES[i].name) continue;
        if (routines::at(indexes[i]) != ENTRIES[i].fn) indexes[i] = routines::add(ENTRIES[i].fn);
        if (!indexes[i]) stack::raise_error("internal", "limit-hit", {name.get()});
        Root made(*routine::push(spec.get(), nullptr, indexes[i], 0, true));
        *stack::arguments = *made;
        stack::top = stack::arguments + 1;
        return Status::normal;
    }
    // The console's routines come from its own table.
    if (routines::Fn fn = console::find_routine(spelling)) {
        static std::vector<std::pair<routines::Fn, int32_t>> added;
        int32_t index = 0;
        for (auto& [f, i] : added)
            if (f == fn && routines::at(i) == fn) index = i;
        if (!index) {
            index = routines::add(fn);
            if (!index) stack::raise_error("internal", "limit-hit", {name.get()});
            added.emplace_back(fn, index);
        }
        Root made(*routine::push(spec.get(), nullptr, index, 0, true));
        *stack::arguments = *made;
        stack::top = stack::arguments + 1;
        return Status::normal;
    }
    stack::raise_error("script", "invalid-arg", {name.get()});
}

}  // namespace

routines::Fn find(std::string_view name) {
    for (const Entry& e : ENTRIES)
        if (name == e.name) return e.fn;
    return console::find_routine(name);
}

void init() { natives::table[NATIVE_NUMBER - 1] = system_routine; }

}  // namespace kov::system_routines
