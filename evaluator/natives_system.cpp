// The natives that reach the operating system and the memory manager: wait, now, get-env,
// set-env, list-env, to-local-file, size?, browse, stats and recycle (POSIX services called
// directly), compress and decompress (front-ends of platform/deflate), and the registration of
// checksum. Each follows the natives' calling convention
// (core/runtime.hpp: NativeFn): arguments in the current frame, the result in its first cell.
#include "evaluator/natives_system.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "core/buffer.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/date.hpp"
#include "datatypes/file.hpp"
#include "datatypes/map.hpp"
#include "datatypes/string.hpp"
#include "datatypes/time.hpp"
#include "datatypes/word.hpp"
#include "evaluator/checksum.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/natives.hpp"
#include "platform/deflate.hpp"

extern char** environ;

namespace kov::natives::system_natives {

namespace {

using collector::Root;

Cell* args() { return stack::arguments; }

void result(const Cell& v) {
    stack::arguments[0] = v;
    stack::top = stack::arguments + 1;
}

// A variable's name: the text of an any-string!, or the spelling of an any-word!. Names that
// the system cannot hold (empty, or with "=" or a NUL) answer an empty string.
std::string variable_name(const Cell* var) {
    std::string name = var->type() >= T_WORD && var->type() <= T_ISSUE
                           ? std::string(symbol::spelling(var->data2))
                           : string::to_utf8(var);
    if (name.find('=') != std::string::npos || name.find('\0') != std::string::npos) return {};
    return name;
}

void load_text(const char* text, Cell* out) {
    string::load(reinterpret_cast<const uint8_t*>(text), uint32_t(std::strlen(text)), out,
                 string::ENCODING_UTF8);
}

// ---- wait ----

// wait value /all: sleeps for the seconds given (at least 1 ms); the result is none.
Status wait(const int32_t*) {
    Cell* a = args();
    double seconds;
    switch (a[0].type()) {
    case T_INTEGER: seconds = double(cells::integer(a[0])); break;
    case T_FLOAT: case T_TIME: seconds = a[0].get_float(); break;
    default: {
        Root value(a[0]);
        stack::raise_error("script", "invalid-arg", {value.get()});
    }
    }
    result(cells::make_none());
    // NaN and negative waits take the least; a wait longer than a day is cut to a day.
    if (!(seconds >= 0.001)) seconds = 0.001;
    if (seconds > 86400.0) seconds = 86400.0;
    timespec ts{time_t(seconds), long((seconds - std::floor(seconds)) * 1e9)};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
    return Status::normal;
}

// ---- now ----

enum NowRef { R_YEAR, R_MONTH, R_DAY, R_TIME, R_ZONE, R_DATE, R_WEEKDAY, R_YEARDAY, R_PRECISE, R_UTC };

Status now(const int32_t* refs) {
    auto has = [&](int r) { return refs[r] >= 0; };
    if (has(R_TIME) && has(R_PRECISE)) {
        for (int r : {R_YEAR, R_MONTH, R_DAY, R_ZONE, R_DATE, R_WEEKDAY, R_YEARDAY})
            if (has(r)) stack::raise_error("script", "bad-refines");
    }
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    time_t secs = ts.tv_sec;
    tm parts{};
    if (has(R_UTC)) gmtime_r(&secs, &parts);
    else localtime_r(&secs, &parts);
    long offset = has(R_UTC) ? 0 : parts.tm_gmtoff;
    uint32_t word = date::pack(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday);
    Cell d{};
    if (has(R_DATE)) {
        date::make_at(&d, word, 0.0);
        result(d);
        return Status::normal;
    }
    long magnitude = offset < 0 ? -offset : offset;
    uint32_t zone = date::zone_bits(int32_t(magnitude / 3600), int32_t(magnitude % 3600 / 60), offset < 0);
    double time = parts.tm_hour * 3600.0 + parts.tm_min * 60.0 + parts.tm_sec;
    if (has(R_PRECISE)) time += double(ts.tv_nsec / 1000) / 1e6;
    date::make_at(&d, word | date::TIME_FLAG | zone, date::to_stored(time, zone));
    static const struct {
        int ref;
        int32_t field;
    } selectors[] = {{R_YEAR, date::F_YEAR}, {R_MONTH, date::F_MONTH}, {R_DAY, date::F_DAY},
                     {R_ZONE, date::F_ZONE}, {R_TIME, date::F_TIME}, {R_WEEKDAY, date::F_WEEKDAY}};
    for (const auto& s : selectors) {
        if (has(s.ref)) {
            result(date::get_field(&d, s.field));
            return Status::normal;
        }
    }
    if (has(R_YEARDAY)) {
        result(cells::make_integer(date::yearday(d.data1)));
        return Status::normal;
    }
    result(d);
    return Status::normal;
}

// ---- the environment ----

// get-env var: the variable's value as a string!, or none when it is not set.
Status get_env(const int32_t*) {
    std::string name = variable_name(&args()[0]);
    const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
    if (!value) {
        result(cells::make_none());
        return Status::normal;
    }
    Root text;
    load_text(value, text.get());
    result(text.cell);
    return Status::normal;
}

// set-env var value: sets the variable, or removes it for none; the result is the value.
// Names the system refuses are left alone, as other failures are.
Status set_env(const int32_t*) {
    Cell* a = args();
    std::string name = variable_name(&a[0]);
    if (!name.empty()) {
        if (a[1].is(T_NONE)) unsetenv(name.c_str());
        else setenv(name.c_str(), string::to_utf8(&a[1]).c_str(), 1);
    }
    a = args();
    result(a[1]);
    return Status::normal;
}

// list-env: a map! of every variable of the process, names to values.
Status list_env(const int32_t*) {
    uint32_t n = 0;
    for (char** e = environ; e && *e; e++) n++;
    Root map, key, value;
    map::make_at(0, map.get(), n * 2 + 2);
    for (char** e = environ; e && *e; e++) {
        std::string entry = *e;
        size_t eq = entry.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        entry[eq] = '\0';
        load_text(entry.c_str(), key.get());
        load_text(entry.c_str() + eq + 1, value.get());
        map::put_pair(map.get(), key.get(), value.get(), true);
    }
    result(map.cell);
    return Status::normal;
}

// ---- files ----

// to-local-file path /full: the path in the system's form, as a new string!.
Status to_local_file(const int32_t* refs) {
    Root path(args()[0]), out;
    string::make_at(out.get(), 16);
    if (path->is(T_FILE)) {
        file::to_local(path.get(), out.get(), refs[0] >= 0);
    } else {
        // A string! is taken as a file name written in the language's notation.
        Cell f = path.cell;
        f.header = (f.header & ~0xFFu) | T_FILE;
        path.cell = f;
        file::to_local(path.get(), out.get(), refs[0] >= 0);
    }
    result(out.cell);
    return Status::normal;
}

// size? file: the size in bytes of a file's content; none for a directory or a file that
// cannot be read.
Status size_q(const int32_t*) {
    std::string os = file::to_os_path(&args()[0]);
    struct stat st{};
    if (os.empty() || stat(os.c_str(), &st) != 0 || S_ISDIR(st.st_mode) || st.st_size > INT32_MAX) {
        result(cells::make_none());
        return Status::normal;
    }
    result(cells::make_integer(int32_t(st.st_size)));
    return Status::normal;
}

// browse url: hands the URL, or the file's local path, to the desktop's opener (xdg-open), in
// a process of its own that is not waited for. The result is unset; failures are not reported.
Status browse(const int32_t*) {
    Root target(args()[0]), text;
    std::string what;
    if (target->is(T_FILE)) {
        string::make_at(text.get(), 16);
        file::to_local(target.get(), text.get(), true);
        what = string::to_utf8(text.get());
    } else {
        what = string::to_utf8(target.get());
    }
    result(cells::make_unset());
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        // The opener runs in a grandchild, so that nothing is left to reap.
        setsid();
        if (fork() == 0) {
            int null = open("/dev/null", O_RDWR);
            if (null >= 0) {
                dup2(null, 0);
                dup2(null, 1);
                dup2(null, 2);
            }
            execlp("xdg-open", "xdg-open", what.c_str(), static_cast<char*>(nullptr));
        }
        _exit(0);
    }
    if (child > 0) {
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    return Status::normal;
}

// ---- compression ----

using Codec = int (*)(uint8_t*, int32_t&, const uint8_t*, int32_t);

// A fresh binary of `capacity` bytes in `out`, the codec run into it, the tail set to the bytes
// written. Answers the codec's result; `size` comes back as the codec leaves it.
int run_codec(Codec codec, Cell* out, int32_t& size, const std::string& input) {
    binary::make_at(out, uint32_t(size));
    Handle node = out->data2;
    SeriesBuffer* b = memory::buffer_of(node);
    if (int64_t(b->size) - b->tail < size) size = int32_t(b->size - int32_t(b->tail));
    // Nothing allocates from here on: the codec writes straight into the buffer.
    int rc = codec(b->tail_ptr(), size, reinterpret_cast<const uint8_t*>(input.data()), int32_t(input.size()));
    if (rc == deflate::OK) buffer::reserve_tail(node, uint32_t(size));  // within the room made
    return rc;
}

// The bytes of the data argument: a binary's from its head, a string's as UTF-8.
std::string data_bytes(const Cell* data) {
    std::string bytes;
    if (data->is(T_BINARY)) {
        int32_t n = binary::ks_length(data);
        if (n > 0) bytes.assign(reinterpret_cast<const char*>(binary::ks_head(data)), size_t(n));
    } else {
        unicode::append_utf8(bytes, data);
    }
    return bytes;
}

[[noreturn]] void raise_invalid_data() { stack::raise_error("script", "invalid-data"); }

// compress data method: a new binary holding the data as a zlib, raw DEFLATE or gzip stream.
Status compress(const int32_t*) {
    std::string input = data_bytes(&args()[0]);
    int method = deflate::method_of(&args()[1]);
    if (method < 0) {
        Root m(args()[1]);
        stack::raise_error("script", "invalid-arg", {m.get()});
    }
    if (input.size() > size_t(INT32_MAX - 32)) raise_invalid_data();
    Codec codec = method == deflate::M_ZLIB ? deflate::zlib_compress
                  : method == deflate::M_GZIP ? deflate::gzip
                                              : deflate::compress;
    Root out;
    int32_t size = int32_t(input.size()) + 32;
    int rc = run_codec(codec, out.get(), size, input);
    if (rc == deflate::TOO_SMALL) rc = run_codec(codec, out.get(), size, input);
    if (rc != deflate::OK) raise_invalid_data();
    result(out.cell);
    return Status::normal;
}

// decompress data method /size sz: the bytes a zlib, raw DEFLATE or gzip stream holds. The size
// comes from a measuring pass (always for gzip, whose trailer states it) unless /size gives a
// hint above the data's length that the data could produce.
Status decompress(const int32_t* refs) {
    Cell* a = args();
    int method = deflate::method_of(&a[1]);
    if (method < 0) {
        Root m(a[1]);
        stack::raise_error("script", "invalid-arg", {m.get()});
    }
    int32_t hint = 0;
    if (refs[0] >= 0) {
        const Cell* sz = stack::arg(refs[0]);
        hint = cells::integer(*sz);
        if (hint < 0) {
            Root v(*sz);
            stack::raise_error("script", "out-of-range", {v.get()});
        }
    }
    std::string input = data_bytes(&a[0]);
    int32_t length = int32_t(input.size());
    Codec codec = method == deflate::M_ZLIB ? deflate::zlib_decompress
                  : method == deflate::M_GZIP ? deflate::gunzip
                                              : deflate::decompress;
    const uint8_t* in = reinterpret_cast<const uint8_t*>(input.data());
    int32_t size = hint;
    // A hint the data could never fill is not worth its memory: measure instead.
    if (method == deflate::M_GZIP || hint <= length || hint > deflate::max_output(length)) {
        size = 0;
        int rc = codec(nullptr, size, in, length);
        if (rc != deflate::OK && rc != deflate::TOO_SMALL) raise_invalid_data();
    }
    Root out;
    int rc = run_codec(codec, out.get(), size, input);
    if (rc == deflate::TOO_SMALL) rc = run_codec(codec, out.get(), size, input);
    if (rc != deflate::OK) raise_invalid_data();
    result(out.cell);
    return Status::normal;
}

// ---- memory ----

Cell memory_in_use() {
    double bytes = memory::series_stats(nullptr, 1);
    return bytes <= 2147483647.0 ? cells::make_integer(int32_t(bytes)) : cells::make_float(bytes);
}

// stats /show /info: the bytes in use, or with /info the detailed block of the memory
// manager's statistics. /show prints that block.
Status stats(const int32_t* refs) {
    if (refs[0] < 0 && refs[1] < 0) {
        result(memory_in_use());
        return Status::normal;
    }
    Root block(cells::make_series(T_BLOCK, memory::make_cells(8)));
    memory::series_stats(block.get(), 2);
    if (refs[0] >= 0) {
        // /show: the library's report prints the block.
        Status s = interpreter::call_library("show-memory-stats", {block.get()});
        if (s != Status::normal) return s;
        result(cells::make_unset());
        return Status::normal;
    }
    result(block.cell);
    return Status::normal;
}

// recycle /on /off: switches the collector, or collects (moving buffers, not nodes) and answers
// the bytes still in use.
Status recycle(const int32_t* refs) {
    if (refs[0] >= 0 || refs[1] >= 0) {
        collector::state.enabled = refs[0] >= 0;
        result(cells::make_unset());
        return Status::normal;
    }
    // Nodes stay where they are: the evaluation that called recycle holds node handles.
    collector::collect_keeping_nodes();
    result(memory_in_use());
    return Status::normal;
}

}  // namespace

void init() {
    struct Entry {
        int number;
        NativeFn fn;
    };
    const Entry entries[] = {
        {37, stats},    {85, to_local_file}, {86, wait},    {87, checksum::native},
        {93, set_env},  {94, get_env},       {95, list_env}, {96, now},
        {101, size_q},  {102, browse},       {103, compress}, {104, decompress},
        {105, recycle},
    };
    for (const Entry& e : entries) table[e.number - 1] = e.fn;
}

}  // namespace kov::natives::system_natives
