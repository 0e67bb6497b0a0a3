// transcode: UTF-8 source (a binary! or a string!) to values through the lexer, with the
// refinements of the native as arguments. Ready to be registered as the native once the natives
// table exists.
#pragma once

#include "core/runtime.hpp"
#include "core/value.hpp"

namespace kov::transcode {

struct Args {
    bool next = false;     // the next value and the input after it, in a block
    bool one = false;      // the next value alone
    bool prescan = false;  // the guessed datatype of the next token
    bool scan = false;     // the recognised datatype of the next token
    const Cell* part = nullptr;   // integer! length in bytes, or binary! tail position
    const Cell* into = nullptr;   // block! that receives the values
    const Cell* trace = nullptr;  // callback function
};

// `src` and `out` rooted (out may be src). Raises script invalid-part for a /part position in
// another series or a binary! /part with a string! source, and the lexer's syntax errors.
void run(Cell* out, const Cell* src, const Args& args);

// The native's entry (number 106 of the natives table), and its registration there.
constexpr int NATIVE_NUMBER = 106;
// Refinements: /next /one /prescan /scan /part /into /trace.
Status native(const int32_t* refs);
void init();

}  // namespace kov::transcode
