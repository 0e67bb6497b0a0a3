// The base of the boot library and the running of scripts (see base.hpp).
#include "boot/base.hpp"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "boot/embedded.hpp"
#include "boot/payload.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/memory.hpp"
#include "core/output.hpp"
#include "core/stack.hpp"
#include "core/type_registry.hpp"
#include "datatypes/error.hpp"
#include "datatypes/native.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/lexer.hpp"

namespace kov::base {

namespace {

// The embedded sources, in the order they are evaluated: each may use what the ones before it
// define. errors.kov is not among them: runtime start-up reads it first (boot/runtime_modules.cpp),
// and system/catalog/errors is the object made from it.
constexpr const char* ORDER[] = {
    "base.kov",
    "natives.kov",
    "actions.kov",
    "checksum.kov",
    "routines.kov",
    "colours.kov",
    "functions.kov",
    "load.kov",
    "paths.kov",
    "series.kov",
    "scripts.kov",
    "math.kov",
    "diagnostics.kov",
    "aliases.kov",
    "system.kov",
    "codecs.kov",
    "reactivity.kov",
    "url_parser.kov",
    "preprocessor.kov",
    "tools.kov",
    "json.kov",
    "csv.kov",
    "event.kov",
    "console-support.kov",
    "console-engine.kov",
    "console-settings.kov",
};

// The infix operators, each made from the function value of another word (once both exist).
constexpr const char* OPS[][2] = {
    {"+", "add"}, {"-", "subtract"}, {"*", "multiply"}, {"/", "divide"}, {"//", "modulo"},
    {"%", "remainder"}, {"=", "equal?"}, {"<>", "not-equal?"}, {"==", "strict-equal?"},
    {"=?", "same?"}, {"<", "lesser?"}, {">", "greater?"}, {"<=", "lesser-or-equal?"},
    {">=", "greater-or-equal?"}, {"<<", "shift-left"}, {">>", "shift-right"},
    {">>>", "shift-logical"}, {"**", "power"}, {"and", "and~"}, {"or", "or~"}, {"xor", "xor~"}};

// Every datatype's name word holds its datatype! (also for the kinds not built yet, so that
// typesets can name them).
void define_datatypes() {
    for (uint32_t id = 1; type_registry::spelling(id); id++) {
        Cell word = *word::load(type_registry::spelling(id));
        Cell value = cells::make_datatype(id);
        context::set(&word, &value);
    }
}

// The make front-end for the time before the action front-ends are registered.
Status make_front_end(const int32_t*) {
    Cell* a = stack::arguments;
    uint32_t type = a[0].is(T_DATATYPE) ? cells::datatype(a[0]) : a[0].type();
    const auto& handler = type_registry::table(type).make;
    if (!handler) stack::raise_error("internal", "not-done");
    Cell* r = handler(&a[0], &a[1], type);
    if (r) *a = *r;
    stack::top = a + 1;
    return Status::normal;
}

// `make`, the action every boot source starts with, made here.
void define_make() {
    if (!actions::front_ends[A_MAKE - 1]) actions::front_ends[A_MAKE - 1] = make_front_end;
    collector::Root spec;
    lexer::scan(spec.get(), "[type spec] 1");
    stack::Snapshot saved;
    stack::mark_native(nullptr);
    Cell proto = cells::make_datatype(T_ACTION);
    stack::push(&proto);
    stack::push(spec.get());
    Cell* made = native::make(stack::arguments, stack::arguments + 1, T_ACTION);
    collector::Root value(*made);
    Cell word = *word::load("make");
    context::set(&word, value.get());
}

void define_ops() {
    for (const auto& op : OPS) {
        Cell source_word = *word::load(op[1]);
        collector::Root source(*context::get_in(&source_word, source_word.data1));
        uint32_t t = source->type();
        if (t != T_NATIVE && t != T_ACTION && t != T_FUNCTION && t != T_ROUTINE) continue;
        stack::Snapshot saved;
        stack::mark_native(nullptr);
        stack::push(source.get());
        collector::Root made(*native::make_op(stack::arguments, source.get(), T_OP));
        Cell word = *word::load(op[0]);
        context::set(&word, made.get());
    }
}

}  // namespace

Status do_text(std::string_view text, std::string_view) {
    collector::Root code;
    lexer::scan(code.get(), text);
    stack::Snapshot saved;
    Status s = stack::receive(THROW_CATCH_LEVEL, [&] { return interpreter::eval(code.get(), false); });
    return s;
}

Status do_payload(const uint8_t* data, size_t length, std::string_view name) {
    collector::Root code;
    std::string why;
    {
        stack::Snapshot saved;
        stack::mark_try(nullptr);
        Status s = stack::receive(THROW_ERROR, [&] {
            payload::decode(data, length, code.get());
            return Status::normal;
        });
        if (s != Status::normal) {
            collector::Root e(stack::top[-1]);
            why = e->is(T_ERROR) ? error::report(e.get()) : "not decodable";
            if (size_t nl = why.find('\n'); nl != std::string::npos) why.resize(nl);
            if (why.rfind("*** ", 0) == 0) why.erase(0, 4);
            why = "*** Boot payload damaged: " + std::string(name) + ": " + why + "\n";
        }
    }
    if (!why.empty()) {
        output::write_c_string(why.c_str());
        runtime::exit_process(DAMAGED_PAYLOAD_STATUS);
    }
    stack::Snapshot saved;
    return stack::receive(THROW_CATCH_LEVEL, [&] { return interpreter::eval(code.get(), false); });
}

void run() {
    define_datatypes();
    define_make();
    // What the library makes while it loads is marked as its own.
    struct Library {
        Library() { memory::library_mode = true; }
        ~Library() { memory::library_mode = false; }
    } library;
    for (const char* name : ORDER) {
        std::string_view bytes = embedded::text(name);
        if (bytes.empty()) continue;
        Status s = embedded::form == embedded::Form::payload
                       ? do_payload(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), name)
                       : do_text(bytes, name);
        if (s != Status::normal) runtime::runtime_error(FATAL_NO_CATCH, 0);
    }
    define_ops();
}

int do_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::string msg = std::string("*** Cannot open script: ") + path + "\n";
        output::write_c_string(msg.c_str());
        return 1;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A transfer that no frame receives is raised as an error where it starts, so a status
    // can only come back normal here.
    if (do_text(text, path) != Status::normal) return 1;
    return 0;
}

}  // namespace kov::base
