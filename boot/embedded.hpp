// The boot library, embedded in the executable at build time, as a table of files in one of two
// forms: the Kov source text (tools/embed.cmake writes it from boot/*.kov; only the packing tool
// links it) or the boot payload made from that text (tools/pack_boot.cpp writes it; the program,
// the tests and the benchmarks link it).
#pragma once

#include <cstddef>
#include <string_view>

namespace kov::embedded {

struct File {
    const char* name;  // the source file's name, such as "base.kov"; null ends the table
    const char* text;  // its text, or its payload bytes
    size_t length;
};

enum class Form { text, payload };

extern const File files[];
extern const Form form;

// The contents of an embedded file by name; empty when there is none.
inline std::string_view text(std::string_view name) {
    for (const File* f = files; f->name; f++)
        if (name == f->name) return {f->text, f->length};
    return {};
}

}  // namespace kov::embedded
