// Lexer speed: a mixed source (words, set-words, paths, integers, floats, strings with escapes,
// braced strings, blocks, parens, comments, issues, pairs, tuples, times, files, urls) of about
// N megabytes scanned into a block, best of three runs, printed as MB/s. Beside it, for scale,
// python3 compiling a comparable Python source and lua5.4 loading a comparable Lua chunk (when
// those interpreters are installed), with the ratio lexer / other (above 1: the lexer is faster).
//
//   bench_lexer [megabytes]      (default 10)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "core/boot.hpp"
#include "core/collector.hpp"
#include "core/cycles.hpp"
#include "core/stack.hpp"
#include "evaluator/lexer.hpp"

namespace {

using Clock = std::chrono::steady_clock;

const char* const kov_lines[] = {
    "count: count + 1 items/:index: first next series  ; advance the cursor\n",
    "if all [x > 10 y < 20.5] [print [\"total:\" total/value \"^/\"]]\n",
    "rect: make object! [size: 100x200 color: 255.128.0 when: 10:30:15 id: #abc-123]\n",
    "text: {a braced string that spans\n    two lines with ^{escapes^}}\n",
    "load-file %data/input.txt http://example.com/path?query=1 12.5% -3.25e10\n",
    "foreach [key value] pairs [append/only result reduce [key value * 2]]\n",
};
const char* const python_lines[] = {
    "count = count + 1; items[index] = first(next(series))  # advance the cursor\n",
    "if x > 10 and y < 20.5: print(['total:', total.value, '\\n'])\n",
    "rect = dict(size=(100, 200), color=(255, 128, 0), when=(10, 30, 15), id='abc-123')\n",
    "text = '''a triple quoted string that spans\n    two lines with {escapes}'''\n",
    "load_file('data/input.txt', 'http://example.com/path?query=1', 12.5, -3.25e10)\n",
    "for key, value in pairs: result.append([key, value * 2])\n",
};
const char* const lua_lines[] = {
    "count = count + 1; items[index] = first(next(series))  -- advance the cursor\n",
    "if x > 10 and y < 20.5 then print({'total:', total.value, '\\n'}) end\n",
    "rect = {size = {100, 200}, color = {255, 128, 0}, when = {10, 30, 15}, id = 'abc-123'}\n",
    "text = [[a long string that spans\n    two lines with {escapes}]]\n",
    "load_file('data/input.txt', 'http://example.com/path?query=1', 12.5, -3.25e10)\n",
    // no loop locals: a chunk may declare at most 32767 of them in all
    "while x < 0 do result[#result + 1] = {x, y * 2} end\n",
};

std::string source(const char* const* lines, size_t bytes) {
    std::string s;
    for (size_t i = 0; s.size() < bytes; i++) s += lines[i % 6];
    return s;
}

// Best of three; the values of each run are dropped (outside the timing) before the next.
template <class F> double best_seconds(F&& run) {
    double best = 1e300;
    for (int i = 0; i < 3; ++i) {
        kov::collector::collect();
        kov::collector::Root out;
        auto t0 = Clock::now();
        run(out.get());
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return best;
}

bool have(const char* program) {
    std::string cmd = std::string("command -v ") + program + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

// Seconds that an external interpreter reports for compiling a file (its own timer, so start-up
// is not counted); negative when it fails.
double external_seconds(const std::string& command) {
    FILE* p = popen(command.c_str(), "r");
    if (!p) return -1;
    double s = -1;
    if (std::fscanf(p, "%lf", &s) != 1) s = -1;
    pclose(p);
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    double mb = argc > 1 ? std::atof(argv[1]) : 10.0;
    size_t bytes = size_t(mb * 1e6);
    kov::cycles::init();
    kov::collector::init();
    kov::boot::init_runtime();
    kov::boot::booting = false;
    kov::collector::state.enabled = true;

    std::string kov_src = source(kov_lines, bytes);
    double lexer = best_seconds([&](kov::Cell* out) { kov::lexer::scan(out, kov_src); });
    double lexer_mbs = kov_src.size() / 1e6 / lexer;
    std::printf("lexer      %8.1f MB/s  (%.1f MB in %.3f s)\n", lexer_mbs, kov_src.size() / 1e6, lexer);

    if (have("python3")) {
        std::string py = source(python_lines, bytes);
        std::ofstream("/tmp/kov_bench_lexer.py") << py;
        double s = external_seconds(
            "python3 -c \"import time;src=open('/tmp/kov_bench_lexer.py').read();"
            "t=time.perf_counter();compile(src,'b','exec');print(time.perf_counter()-t)\"");
        if (s > 0)
            std::printf("python3    %8.1f MB/s  compile; ratio lexer/python3 %.2f\n", py.size() / 1e6 / s,
                        lexer_mbs / (py.size() / 1e6 / s));
        std::remove("/tmp/kov_bench_lexer.py");
    }
    if (have("lua5.4")) {
        std::string lua = "local count, index, x, y, total, result, t = 0, 1, 0, 0, {}, {}, {}\n" +
                          source(lua_lines, bytes);
        std::ofstream("/tmp/kov_bench_lexer.lua") << lua;
        double s = external_seconds(
            "lua5.4 -e \"local f=io.open('/tmp/kov_bench_lexer.lua'):read('a');"
            "local t=os.clock();assert(load(f));print(os.clock()-t)\"");
        if (s > 0)
            std::printf("lua5.4     %8.1f MB/s  load; ratio lexer/lua5.4 %.2f\n", lua.size() / 1e6 / s,
                        lexer_mbs / (lua.size() / 1e6 / s));
        std::remove("/tmp/kov_bench_lexer.lua");
    }
    return 0;
}
