// The console's routines (see routines.hpp). Each reads its arguments from the current frame
// (arguments[1] onward, checked against the routine's spec by the interpreter) and leaves its
// result in arguments[0].
#include "console/routines.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "console/input.hpp"
#include "console/terminal.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/output.hpp"
#include "core/stack.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/file.hpp"
#include "datatypes/string.hpp"
#include "platform/console_io.hpp"

namespace kov::console {

namespace {

using collector::Root;

Cell* arg(int n) { return stack::arguments + n - 1; }
void result(const Cell& c) { *stack::arguments = c; }

// The line being read and the history it goes with, from _set-buffer-history to _read-input.
Cell edit_cells[2] = {cells::make_none(), cells::make_none()};
bool marker_added = false;
void mark_edit_cells() { collector::mark_cells(&edit_cells[0], &edit_cells[2]); }

[[noreturn]] void raise_access(const char* id, int n) {
    Root p(*arg(n));
    stack::raise_error("access", id, {p.get()});
}

// A new string! of the UTF-8 text as the result.
void result_text(const std::string& text) {
    Root s;
    string::load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), s.get(),
                 string::ENCODING_UTF8);
    result(*s);
}

// A new block! of the texts (as string! values) as the result.
void result_texts(const std::vector<std::string>& texts) {
    Root blk;
    block::make_at(blk.get(), int32_t(texts.size()));
    for (const std::string& t : texts) {
        Root s;
        string::load(reinterpret_cast<const uint8_t*>(t.data()), uint32_t(t.size()), s.get(),
                     string::ENCODING_UTF8);
        block::append_value(blk.get(), s.get());
    }
    result(*blk);
}

// The local path of a file! argument without trailing slashes (but "/" stays).
std::string path_arg(int n) {
    std::string path = file::to_os_path(arg(n));
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// ---- input ----

// _set-buffer-history line [string!] hist [block!]: the line to fill and the history to browse.
void set_buffer_history() {
    if (!marker_added) {
        collector::add_root_marker(mark_edit_cells);
        marker_added = true;
    }
    edit_cells[0] = *arg(1);
    edit_cells[1] = *arg(2);
    result(cells::make_none());
}

// _read-input prompt [string!] hidden? [logic!]: reads one line into the line given to
// _set-buffer-history; false at the end of input.
void read_input() {
    std::string prompt = string::to_utf8(arg(1));
    std::string line;
    bool hide = arg(2)->is(T_LOGIC) && cells::truthy(*arg(2));
    bool got = read_line(prompt, edit_cells[1].is(T_BLOCK) ? &edit_cells[1] : nullptr, line, hide);
    if (got && edit_cells[0].is(T_STRING)) {
        Root s;
        string::load(reinterpret_cast<const uint8_t*>(line.data()), uint32_t(line.size()), s.get(),
                     string::ENCODING_UTF8);
        Root target(edit_cells[0]);
        string::concatenate(target.get(), s.get(), -1, 0, false, 0);
    }
    edit_cells[0] = edit_cells[1] = cells::make_none();
    result(cells::make_logic(got));
}

// _terminal?: true when standard input is a terminal.
void terminal_q() { result(cells::make_logic(stdin_terminal_q())); }

// _entered?: true when the last line read was entered with Enter at the line editor.
void entered_q_routine() { result(cells::make_logic(entered_q())); }

// input-stdin: one line of standard input as a new string (empty at the end of input).
void input_stdin() {
    std::string line;
    read_line("", nullptr, line);
    result_text(line);
}

// read-stdin buffer [binary!] buflen [integer!]: one read of at most buflen bytes, appended at
// the binary's tail (which grows as needed); answers the count read.
void read_stdin_routine() {
    int32_t want = cells::integer(*arg(2));
    if (want < 0) want = 0;
    std::vector<uint8_t> bytes(size_t(want) + 1);
    size_t got = read_stdin(bytes.data(), size_t(want));
    if (got > 0) {
        Root bin(*arg(1));
        binary::append_bytes(bin.get(), bytes.data(), uint32_t(got));
    }
    result(cells::make_integer(int32_t(got)));
}

// ---- console ----

// [columns rows] of the terminal on standard output, [0 0] when unknown.
void size_result() {
    int cols = 0, rows = 0;
    if (!console_io::terminal_size(1, cols, rows)) cols = rows = 0;
    Root blk;
    block::make_at(blk.get(), 2);
    Cell c = cells::make_integer(cols), r = cells::make_integer(rows);
    block::append_value(blk.get(), &c);
    block::append_value(blk.get(), &r);
    result(*blk);
}

// _console-init title [string!]: sets the terminal's title (only when standard output is a
// terminal; nothing can fail here) and answers the size as _console-size does.
void console_init() {
    if (console_io::is_terminal(1)) {
        // The terminal's own title comes back when the process ends.
        output::flush();
        terminal::set_title(string::to_utf8(arg(1)));
    }
    size_result();
}

void console_size() { size_result(); }

// _command-line: the program's arguments after its own path, as strings.
void command_line() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> args;
    size_t start = 0;
    while (start < raw.size()) {
        size_t end = raw.find('\0', start);
        if (end == std::string::npos) end = raw.size();
        args.push_back(raw.substr(start, end - start));
        start = end + 1;
    }
    if (!args.empty()) args.erase(args.begin());
    result_texts(args);
}

// ---- files ----

// _read-text path [file!]: the file's UTF-8 text (invalid sequences raise invalid-utf8).
void read_text() {
    std::string path = path_arg(1);
    std::ifstream in(path, std::ios::binary);
    struct stat st;
    if (path.empty() || !in || ::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        raise_access("cannot-open", 1);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Root s;
    string::load_utf8_checked(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()),
                              s.get());
    result(*s);
}

// _write-text path [file!] text [string!]: replaces the file with the text as UTF-8, written to
// a temporary file beside it and renamed over it, so that a crash leaves the old or the new.
void write_text() {
    std::string path = path_arg(1);
    std::string text = string::to_utf8(arg(2));
    if (path.empty()) raise_access("no-create", 1);
    std::string temp = path + ".tmp-XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) raise_access("no-create", 1);
    bool ok = console_io::write_all(fd, text.data(), text.size());
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (ok) ::chmod(name.data(), 0600);
    if (!ok || ::rename(name.data(), path.c_str()) != 0) {
        ::unlink(name.data());
        raise_access("no-create", 1);
    }
    result(*arg(1));
}

// _make-dir path [file!]: makes the directory and its missing parents (mode 0700); no error
// when it exists as a directory.
void make_dir() {
    std::string path = path_arg(1);
    if (path.empty()) raise_access("no-create", 1);
    for (size_t i = 1; i <= path.size(); i++) {
        if (i < path.size() && path[i] != '/') continue;
        std::string part = path.substr(0, i);
        struct stat st;
        if (::stat(part.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) raise_access("no-create", 1);
            continue;
        }
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) raise_access("no-create", 1);
    }
    result(*arg(1));
}

// _dir? path [file!]: true when the path names a directory.
void dir_q() {
    std::string path = path_arg(1);
    struct stat st;
    result(cells::make_logic(!path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)));
}

// _dir-entries path [file!]: the directory's entries sorted by name, a directory's with "/"
// at its end ("." and ".." left out).
void dir_entries() {
    std::string path = path_arg(1);
    DIR* d = path.empty() ? nullptr : ::opendir(path.c_str());
    if (!d) raise_access("cannot-open", 1);
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        struct stat st;
        std::string full = path == "/" ? "/" + n : path + "/" + n;
        if (::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) n += '/';
        names.push_back(n);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    result_texts(names);
}

struct Entry {
    const char* name;
    routines::Fn fn;
};

const Entry ENTRIES[] = {
    {"_set-buffer-history", set_buffer_history},
    {"_read-input", read_input},
    {"_terminal?", terminal_q},
    {"_entered?", entered_q_routine},
    {"input-stdin", input_stdin},
    {"read-stdin", read_stdin_routine},
    {"_console-init", console_init},
    {"_console-size", console_size},
    {"_command-line", command_line},
    {"_read-text", read_text},
    {"_write-text", write_text},
    {"_make-dir", make_dir},
    {"_dir?", dir_q},
    {"_dir-entries", dir_entries},
};

}  // namespace

routines::Fn find_routine(std::string_view name) {
    for (const Entry& e : ENTRIES)
        if (name == e.name) return e.fn;
    return nullptr;
}

}  // namespace kov::console
