// simple_io: files and directories for file!'s I/O actions through POSIX, and the output
// decoding buffer of process calls (see simple_io.hpp).
#include "platform/simple_io.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "core/boot.hpp"
#include "core/cell.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/date.hpp"
#include "datatypes/file.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"

namespace kov::simple_io {

using collector::Root;
using collector::SeriesRef;

namespace {

// A descriptor closed when the scope ends, whichever way it ends.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

[[noreturn]] void raise_cannot_open(const Cell* file) {
    Root f(*file);
    stack::raise_error("access", "cannot-open", {f.get()});
}

bool separator(uint32_t c) { return c == '/' || c == '\\'; }

// The integer of a /part or /seek value (a float is cut toward zero; one out of range counts as
// not given).
int32_t number_of(const Cell* value) {
    if (value->is(T_INTEGER)) return cells::integer(*value);
    if (value->is(T_FLOAT)) {
        double d = std::trunc(value->get_float());
        if (std::isfinite(d) && d >= double(INT32_MIN) && d <= double(INT32_MAX)) return int32_t(d);
    }
    return -1;
}

// Reads up to `want` bytes (all of them when `want` < 0) from the descriptor's position;
// false when a read fails.
bool read_all(int fd, int64_t want, std::string& out) {
    char chunk[65536];
    while (want < 0 || int64_t(out.size()) < want) {
        size_t ask = sizeof chunk;
        if (want >= 0) ask = size_t(std::min<int64_t>(int64_t(ask), want - int64_t(out.size())));
        ssize_t n = ::read(fd, chunk, ask);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        out.append(chunk, size_t(n));
    }
    return true;
}

bool write_all(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

// The bytes of a file from `seek` (when 0 or more), at most `part` of them (when 0 or more);
// false when the file cannot be opened or read (a directory among them). A seek beyond the end
// gives no bytes.
bool read_file(const std::string& path, int32_t part, int32_t seek, std::string& out) {
    if (path.empty()) return false;
    Fd f(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (f.fd < 0) return false;
    struct stat st{};
    if (::fstat(f.fd, &st) != 0 || st.st_size > INT32_MAX) return false;
    if (part == 0) return true;
    if (st.st_size == 0) {
        // Files that report no size (those of /proc, pipes) are read to their end and cut here.
        std::string all;
        if (!read_all(f.fd, -1, all)) return false;
        size_t from = seek > 0 ? std::min(all.size(), size_t(seek)) : 0;
        size_t n = all.size() - from;
        if (part > 0) n = std::min(n, size_t(part));
        out.assign(all, from, n);
        return true;
    }
    int64_t size = st.st_size;
    if (seek >= 0) {
        if (seek >= size) return true;
        if (::lseek(f.fd, seek, SEEK_SET) < 0) return false;
        size -= seek;
    }
    if (part > 0 && part < size) size = part;
    out.reserve(size_t(size));
    return read_all(f.fd, size, out);
}

// The directory's entry names, sorted, a directory's ending in "/"; false when it cannot be
// listed.
bool list_dir(const std::string& path, std::vector<std::string>& names) {
    std::string dir = path.empty() ? std::string(".") : path;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return false;
    if (dir.back() != '/') dir += '/';
    while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        bool is_dir = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat st{};
            is_dir = ::stat((dir + n).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        if (is_dir) n += '/';
        names.push_back(std::move(n));
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return true;
}

// Text from UTF-8 bytes into `out` (must not move).
void load_text(const std::string& bytes, Cell* out) {
    string::load(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()), out,
                 string::ENCODING_UTF8);
}

// The UTF-8 of a string's characters from its head, at most `part` of them when 0 or more.
std::string text_bytes(const Cell* str, int32_t part) {
    std::string s = string::to_utf8(str);
    if (part < 0) return s;
    size_t i = 0;
    for (int32_t n = 0; n < part && i < s.size(); n++) {
        i++;
        while (i < s.size() && (uint8_t(s[i]) & 0xC0) == 0x80) i++;
    }
    s.resize(i);
    return s;
}

// The bytes a value is written as: a string's UTF-8, a binary's bytes, any other value's molded
// text (all from the head; `part` as given to write, -1 for none).
std::string value_bytes(const Cell* value, int32_t part) {
    if (value->is(T_BINARY)) {
        int32_t n = binary::ks_length(value);
        if (n <= 0) return {};
        if (part > 0 && part < n) n = part;
        return std::string(reinterpret_cast<const char*>(binary::ks_head(value)), size_t(n));
    }
    if (value->is(T_STRING)) return text_bytes(value, part);
    Root v(*value), text;
    string::make_at(text.get(), 64);
    actions::mold_dispatch(v.get(), text.get(), false, false, false, false, 0, 0);
    return text_bytes(text.get(), part);
}

}  // namespace

bool dir_path_q(const std::u32string& p) {
    size_t n = p.size();
    if (n == 0) return false;
    uint32_t last = p[n - 1];
    if (separator(last)) return true;
    if (last != '.') return false;
    if (n == 1) return true;
    uint32_t before = p[n - 2];
    if (separator(before)) return true;
    return before == '.' && (n == 2 || separator(p[n - 3]));
}

bool dir_path_q(const Cell* file) {
    std::u32string p;
    uint32_t n = string::length(file);
    for (uint32_t i = 0; i < n; i++) p += char32_t(string::char_at(file, file->data1 + i));
    return dir_path_q(p);
}

void lines_to_block(const uint8_t* bytes, size_t n, Cell* out) {
    // The lines are found first, so that nothing points into the bytes while strings are made.
    std::vector<std::pair<size_t, size_t>> lines;
    size_t start = 0;
    for (size_t i = 0; i < n; i++) {
        if (bytes[i] != '\n') continue;
        size_t end = i;
        if (end > start && bytes[end - 1] == '\r') end--;
        lines.emplace_back(start, end - start);
        start = i + 1;
    }
    if (start < n) lines.emplace_back(start, n - start);
    std::string copy(reinterpret_cast<const char*>(bytes), n);
    block::make_at(out, int32_t(std::min<size_t>(lines.size(), INT32_MAX)));
    for (auto [from, len] : lines)
        string::load_in(reinterpret_cast<const uint8_t*>(copy.data() + from), uint32_t(len), out,
                        string::ENCODING_UTF8);
}

void read(const Cell* file, const Cell* part, const Cell* seek, bool binary, bool lines,
          Cell* out) {
    Root f(*file);
    std::string path = file::to_os_path(f.get());
    if (dir_path_q(f.get())) {
        std::vector<std::string> names;
        if (!list_dir(path, names)) raise_cannot_open(f.get());
        block::make_at(out, int32_t(std::min<size_t>(names.size(), INT32_MAX)));
        for (const std::string& n : names) {
            Cell* c = string::load_in(reinterpret_cast<const uint8_t*>(n.data()), uint32_t(n.size()),
                                      out, string::ENCODING_UTF8);
            cell::set_type(c, T_FILE);
        }
        return;
    }
    int32_t p = part ? number_of(part) : -1;
    int32_t s = seek ? number_of(seek) : -1;
    std::string bytes;
    if (!read_file(path, p, s, bytes)) raise_cannot_open(f.get());
    if (binary) {
        binary::make_at(out, uint32_t(bytes.size()));
        binary::append_bytes(out, reinterpret_cast<const uint8_t*>(bytes.data()),
                             uint32_t(bytes.size()));
    } else if (lines && !bytes.empty()) {
        lines_to_block(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out);
    } else {
        load_text(bytes, out);
    }
}

void write(const Cell* file, const Cell* data, const Cell* part, const Cell* seek, bool,
           bool append, bool lines) {
    Root f(*file), d(*data);
    int32_t p = -1, s = -1;
    if (part) {
        if (!part->is(T_INTEGER)) {
            Root v(*part), w(*word::load("part"));
            stack::raise_error("script", "invalid-refine-arg", {w.get(), v.get()});
        }
        p = cells::integer(*part);
        if (p < 0) return;  // nothing is written
    }
    if (seek) s = number_of(seek);
    std::string bytes;
    if (lines && d->is(T_BLOCK)) {
        SeriesRef blk(*d);
        uint32_t total = blk.total();
        for (uint32_t i = blk.index(); i < total && i < blk.total(); i++) {
            Root item(*blk.cell_at(i));
            bytes += value_bytes(item.get(), -1);
            bytes += '\n';
        }
    } else {
        bytes = value_bytes(d.get(), p);
        if (lines) bytes += '\n';
    }
    std::string path = file::to_os_path(f.get());
    if (path.empty()) raise_cannot_open(f.get());
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
    if (!append && s < 0) flags |= O_TRUNC;
    Fd out(::open(path.c_str(), flags, 0666));
    if (out.fd < 0) raise_cannot_open(f.get());
    bool ok = true;
    if (s > 0) ok = ::lseek(out.fd, s, SEEK_SET) >= 0;
    if (ok && append) ok = ::lseek(out.fd, 0, SEEK_END) >= 0;
    if (ok) ok = write_all(out.fd, bytes);
    if (!ok) raise_cannot_open(f.get());
}

bool remove(const Cell* file) {
    std::string path = file::to_os_path(file);
    if (path.empty()) return false;
    return dir_path_q(file) ? ::rmdir(path.c_str()) == 0 : ::unlink(path.c_str()) == 0;
}

void query(const Cell* file, Cell* out) {
    std::string path = file::to_os_path(file);
    struct stat st{};
    *out = cells::make_none();
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return;
    if ((path.back() == '/' || path.back() == '\\') && !S_ISDIR(st.st_mode)) return;
    std::tm t{};
    if (!::gmtime_r(&st.st_mtim.tv_sec, &t)) return;
    int32_t ms = int32_t(st.st_mtim.tv_nsec / 1000000);
    date::make_from_parts(out, t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                          std::min(t.tm_sec, 59), ms * 1000000);
}

bool rename(const Cell* from, const Cell* to) {
    std::string a = file::to_os_path(from), b = file::to_os_path(to);
    if (a.empty() || b.empty()) return false;
    // An existing target makes the rename fail rather than be replaced.
    if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    struct stat st{};
    if (::lstat(b.c_str(), &st) == 0) return false;
    return ::rename(a.c_str(), b.c_str()) == 0;
}

void init() {
    io::services.read = read;
    io::services.write = write;
    io::services.remove = remove;
    io::services.query = query;
    io::services.rename = rename;
}

// ---- the output decoding buffer ----
namespace {

// The output decoding buffer's position in the root block; 0 while it does not exist (the root block's first
// cells hold the stacks, so 0 is never the buffer's place).
uint32_t slot = 0;

}  // namespace

void init_buffer() {
    collector::Root text;
    string::make_at(text.get(), OUTPUT_BUFFER_UNITS, 1);
    boot::keep(text.get());
    slot = memory::buffer_of(boot::root_block)->length() - 1;
}

Cell* output_buffer() {
    if (slot == 0) init_buffer();
    return memory::buffer_of(boot::root_block)->head_cell() + slot;
}

void unbind() { slot = 0; }

}  // namespace kov::simple_io
