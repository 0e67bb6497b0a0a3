// The Kov sources of the boot library, embedded in the executable at build time
// (tools/embed.cmake writes the table from boot/*.kov).
#pragma once

#include <cstddef>
#include <string_view>

namespace kov::embedded {

struct File {
    const char* name;  // the file's name, such as "base.kov"; null ends the table
    const char* text;
    size_t length;
};

extern const File files[];

// The text of an embedded file by name; empty when there is none.
inline std::string_view text(std::string_view name) {
    for (const File* f = files; f->name; f++)
        if (name == f->name) return {f->text, f->length};
    return {};
}

}  // namespace kov::embedded
