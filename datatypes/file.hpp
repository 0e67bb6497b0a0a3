// url! and file!: text values that name resources. They store their text as string! does and
// inherit most of its actions; this module gives what differs: molding (percent-encoding for
// url!, plain or quoted text for file!), percent-encoding and decoding, url composition from a
// block, path joining by "/", the local form of a file path and the current directory, and the
// I/O actions, which hand their work to the I/O services below.
//
// url! (parent string!) must register before file! (parent url!).
//
// Paths are POSIX paths: the local form of a file! is its own text (the current directory, which
// ends with "/", put in front of a relative path when asked for the full form).
#pragma once

#include <cstdint>
#include <string>

#include "core/action_table.hpp"
#include "core/value.hpp"

namespace kov::url {

void init();  // after string!

// Percent-encoding modes of encode and encode_byte.
constexpr int ENCODE_STRICT = 254;  // plain: A..Z a..z 0..9 - . _ ~
constexpr int ENCODE_URL = 255;     // plain: the above and ! # $ & ' ( ) * + , / : = ? @

// True when the byte is written plain under the mode (bytes 0x80..0xFF never are).
bool plain_byte_q(int mode, uint8_t byte);

// True when [p, end) starts with "%" and two hexadecimal digits; the byte goes to `out`.
bool decode_escape(const uint8_t* p, const uint8_t* end, uint8_t& out);

// Percent-decodes UTF-8 bytes into code points: an escape of a byte that does not start a
// multi-byte UTF-8 sequence gives that byte as a code point ("%A9" gives 0xA9); an escaped lead
// byte is decoded with the escapes that must follow it, or else its "%" stays plain text; other
// bytes are read as UTF-8 (a byte that starts no valid sequence is taken as one code point).
// Never fails: malformed escapes stay text.
void decode_bytes(const uint8_t* p, size_t n, std::u32string& out);
// The same from a text value's head, appended to `out` (a rooted string!).
void decode(const Cell* text, Cell* out);

// The byte itself (count 1) or "%" and two uppercase hexadecimal digits (count 3), in a static
// buffer overwritten by the next call.
const char* encode_byte(int mode, uint8_t byte, int& count);
// Percent-encodes the UTF-8 bytes of the text from its head.
std::string encode(const Cell* text, int mode);
// The same appended to `out` (a rooted string!).
void encode_into(const Cell* text, Cell* out, int mode);

// Composes a url from the values of a block (from its index): the first formed, "://", the
// second (the host), ":" and a third that is an integer! (the port), then "/" and the remaining
// values formed, a value followed by an issue! joined to it by "#" instead of "/". An empty
// block raises script error bad-to-arg with url! and the block. `out` rooted; becomes a url!.
void compose(const Cell* block, Cell* out);

// ---- handlers ----
Cell* make(const Cell* proto, const Cell* spec, uint32_t type);
Cell* to(const Cell* proto, const Cell* spec, uint32_t type);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
             int32_t limit, int32_t indent);
Cell* eval_path(const PathStep& step);
Cell* open(Cell* port, bool new_, bool read, bool write, bool seek, const Cell* allow);
Cell* read(Cell* source, const Cell* part, const Cell* seek, bool binary, bool lines, bool info,
           const Cell* as);
Cell* write(Cell* target, const Cell* data, bool binary, bool lines, bool info, bool append,
            const Cell* part, const Cell* seek, const Cell* allow, const Cell* as);

}  // namespace kov::url

namespace kov::file {

void init();  // after url!

// Copies the value onto the argument stack.
Cell* push(const Cell* file);
// Appends the local form of the path to `out` (a rooted string!): the path as it is, after the
// current directory when `full` is set and the path is relative.
void to_local(const Cell* file, Cell* out, bool full);
// The local form of the path (without the current directory), as UTF-8 for the system's file
// calls.
std::string to_os_path(const Cell* file);
// The process's current directory, ending with "/".
std::string current_dir();
// The same as a new string! in `out` (rooted).
void get_current_dir(Cell* out);

// ---- handlers ----
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
             int32_t limit, int32_t indent);
Cell* delete_(Cell* file);
Cell* query(Cell* file);
Cell* read(Cell* source, const Cell* part, const Cell* seek, bool binary, bool lines, bool info,
           const Cell* as);
Cell* rename(Cell* from, Cell* to);
Cell* write(Cell* target, const Cell* data, bool binary, bool lines, bool info, bool append,
            const Cell* part, const Cell* seek, const Cell* allow, const Cell* as);

}  // namespace kov::file

namespace kov::io {

// The I/O services that file! and url! hand their work to. The platform layer fills them; an
// empty entry makes the action raise internal error not-done. Results are written into `out`
// (an argument-stack cell); the file and url arguments are rooted.
struct Services {
    // The content from the seek position, at most `part` units (null: no limit, from the start).
    void (*read)(const Cell* file, const Cell* part, const Cell* seek, bool binary, bool lines,
                 Cell* out) = nullptr;
    void (*write)(const Cell* file, const Cell* data, const Cell* part, const Cell* seek,
                  bool binary, bool append, bool lines) = nullptr;
    bool (*remove)(const Cell* file) = nullptr;
    // A date! of the last change, or none! when there is no such file.
    void (*query)(const Cell* file, Cell* out) = nullptr;
    bool (*rename)(const Cell* from, const Cell* to) = nullptr;
    // The response body (or [status headers body] with `info`); false when no request could be
    // made.
    bool (*http_request)(const Cell* method, const Cell* url, const Cell* headers,
                         const Cell* data, bool binary, bool lines, bool info,
                         Cell* out) = nullptr;
};
extern Services services;

}  // namespace kov::io
