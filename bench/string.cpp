// string! actions against std::string doing the same work:
// - find of a 10-character needle placed at the end of 100 MB of text (std::string::find), exact
//   and ignoring case (no std counterpart for the latter: its time is printed alone);
// - mold of a 10 MB text with a line feed and a tab every 64 characters (a loop over
//   std::string that writes the same escapes);
// - case-insensitive comparison of 1,000,000 pairs of 16-character texts that differ in case
//   only (against a loop of std::toupper over two std::strings).
//
//   bench_string [megabytes]     (default 100; mold uses a tenth of it)
//
// Prints the best of three runs in milliseconds and the ratio runtime / std (below 1: the
// runtime is faster).
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/boot.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "datatypes/string.hpp"
#include "datatypes/string_actions.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using namespace kov;

template <class F> double best_ms(F&& run) {
    double best = 1e300;
    for (int i = 0; i < 3; ++i) {
        kov::collector::collect();  // the previous run's results go before the clock starts
        auto t0 = Clock::now();
        run();
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    return best;
}

volatile uint64_t sink;

// A string! on the argument stack holding the bytes (Latin-1, one unit each).
Cell* push_text(const std::string& s) {
    Cell* c = stack::push_slot();
    string::ks_make_at(c, uint32_t(s.size()));
    string::concatenate_cstring(c, s);
    return c;
}

void report(const char* what, double ours, double base) {
    if (base > 0)
        std::printf("%-44s runtime %9.2f ms   std %9.2f ms   ratio %.2f\n", what, ours, base,
                    ours / base);
    else
        std::printf("%-44s runtime %9.2f ms\n", what, ours);
}

void bench_find(size_t bytes) {
    std::string hay(bytes, 'a');
    for (size_t i = 0; i < hay.size(); i += 7) hay[i] = char('b' + i % 20);
    const std::string needle = "needle-XYZ";
    hay.replace(hay.size() - needle.size(), needle.size(), needle);
    Cell* s = push_text(hay);
    Cell* n = push_text(needle);
    Cell* lower = push_text("NEEDLE-xyz");
    FindArgs exact;
    exact.case_sensitive = true;
    double ours = best_ms([&] {
        Cell probe = *s;
        sink = string::find(&probe, n, exact)->data1;
    });
    double base = best_ms([&] { sink = hay.find(needle); });
    report("find 10 chars in 100 MB, exact", ours, base);
    double folded = best_ms([&] {
        Cell probe = *s;
        sink = string::find(&probe, lower, FindArgs{})->data1;
    });
    report("find 10 chars in 100 MB, ignoring case", folded, 0);
}

void bench_mold(size_t bytes) {
    std::string text(bytes, 'm');
    for (size_t i = 32; i < text.size(); i += 64) text[i] = '\n';
    for (size_t i = 48; i < text.size(); i += 64) text[i] = '\t';
    Cell* s = push_text(text);
    double ours = best_ms([&] {
        stack::Snapshot keep;
        Cell* out = stack::push_slot();
        string::ks_make_at(out, 16);
        string::mold(s, out, false, false, false, false, 0, 0);
        sink = string::char_count(out);
        keep.restore();
    });
    double base = best_ms([&] {
        std::string out;
        out.push_back('{');
        for (char c : text) {
            if (c == '\n') out += "^/";
            else if (c == '\t') out += "^-";
            else if (c == '^') out += "^^";
            else out.push_back(c);
        }
        out.push_back('}');
        sink = out.size();
    });
    report("mold 10 MB", ours, base);
}

void bench_compare(uint32_t pairs) {
    std::vector<std::string> a(pairs), b(pairs);
    stack::Snapshot keep;
    for (uint32_t i = 0; i < pairs; i++) {
        a[i] = "Alpha-Beta-" + std::to_string(10000 + i % 90000);
        b[i] = a[i];
        for (char& c : b[i]) c = char(std::toupper(static_cast<unsigned char>(c)));
    }
    // The argument stack holds 20,000 cells: the pairs are made and compared in batches.
    constexpr uint32_t BATCH = 4000;
    double ours = 0, base = 0;
    for (uint32_t start = 0; start < pairs; start += BATCH) {
        uint32_t n = std::min(BATCH, pairs - start);
        stack::Snapshot batch;
        for (uint32_t i = 0; i < n; i++) {
            push_text(a[start + i]);
            push_text(b[start + i]);
        }
        Cell* cells = stack::top - 2 * n;
        ours += best_ms([&] {
            uint64_t equal = 0;
            for (uint32_t i = 0; i < n; i++)
                equal += string::compare(&cells[2 * i], &cells[2 * i + 1], COMP_EQUAL) == 0;
            sink = equal;
        });
        base += best_ms([&] {
            uint64_t equal = 0;
            for (uint32_t i = 0; i < n; i++) {
                const std::string& x = a[start + i];
                const std::string& y = b[start + i];
                bool same = x.size() == y.size();
                for (size_t k = 0; same && k < x.size(); k++)
                    same = std::toupper(static_cast<unsigned char>(x[k])) ==
                           std::toupper(static_cast<unsigned char>(y[k]));
                equal += same;
            }
            sink = equal;
        });
        batch.restore();
    }
    keep.restore();
    report("compare 1,000,000 pairs ignoring case", ours, base);
}

}  // namespace

int main(int argc, char** argv) {
    size_t mb = argc > 1 ? size_t(std::atol(argv[1])) : 100;
    kov::boot::init_runtime();
    kov::boot::booting = false;
    bench_find(mb << 20);
    bench_mold((mb << 20) / 10);
    bench_compare(1000000);
    return 0;
}
