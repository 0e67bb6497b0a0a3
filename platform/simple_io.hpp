// simple_io: the file and directory layer under the I/O actions of file! (read, write, query,
// delete, rename). It fills the file entries of io::services (datatypes/file.hpp) with POSIX
// calls: whole files read and written in one go, bytes turned into binary!, string! or a block
// of lines and values turned back into bytes, directories listed (sorted by name, a directory's
// name ending in "/"), and access errors that name the file. Every descriptor it opens is closed
// before it returns. Line ends written are LF; reading accepts CR LF too.
// It also keeps the output decoding buffer of process calls: a string! of 102,400 one-byte units
// made once at start-up and kept alive in a cell of the root block, into which a process's
// captured output is decoded before it reaches its target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/value.hpp"

namespace kov::simple_io {

// Fills the file services of io::services (the HTTP entry is left as it is).
void init();

// True when the text from the value's head names a directory: it ends with "/" or "\", or is
// ".", "..", or ends with a separator followed by "." or "..".
bool dir_path_q(const Cell* file);
bool dir_path_q(const std::u32string& path);

// Splits the bytes at LF (a CR right before the LF is dropped) into strings appended to the
// block `out` (rooted; made a new block here). A last line without LF counts; no bytes give an
// empty block.
void lines_to_block(const uint8_t* bytes, size_t n, Cell* out);

// The services themselves (see io::Services).
void read(const Cell* file, const Cell* part, const Cell* seek, bool binary, bool lines, Cell* out);
void write(const Cell* file, const Cell* data, const Cell* part, const Cell* seek, bool binary,
           bool append, bool lines);
bool remove(const Cell* file);
void query(const Cell* file, Cell* out);
bool rename(const Cell* from, const Cell* to);

// ---- the output decoding buffer ----

constexpr uint32_t OUTPUT_BUFFER_UNITS = 102400;

// Makes the output decoding buffer (start-up, after the method words). Allocates.
void init_buffer();
// The buffer's cell in the root block, made first when it does not exist yet. The pointer is good
// until the next allocation; callers empty the text before each use.
Cell* output_buffer();
// Forgets the buffer of an earlier run (before the runtime starts afresh).
void unbind();

}  // namespace kov::simple_io
