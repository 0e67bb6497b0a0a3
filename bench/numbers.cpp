// Number speed: integer additions and float multiplications through the arithmetic steps of
// integer! and float!, and forming floats to text, against plain C++ loops and std::to_chars.
//
//   bench_numbers [scale]     (default 1: 100,000,000 operations, 10,000,000 texts)
//
// Prints, for each case, the best of three runs in milliseconds and the ratio runtime / plain.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "bench/timing.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"

namespace {

using kov::bench::best_ms;


// Keeps a value alive and stops the compiler from folding a loop into a formula.
template <class T> inline void keep(T& v) { asm volatile("" : "+r"(v)); }
inline void keep_double(double& v) { asm volatile("" : "+x"(v)); }

volatile long long sink;

void report(const char* what, double runtime_ms, const char* base, double base_ms) {
    std::printf("%-36s %9.1f ms   %-22s %9.1f ms   ratio %.2f\n", what, runtime_ms, base, base_ms,
                runtime_ms / base_ms);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kov;
    double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
    const int64_t ops = int64_t(100'000'000 * scale);
    const int64_t texts = int64_t(10'000'000 * scale);

    // Integer additions: a dependent chain, through integer::do_math_op with a result cell.
    double int_runtime = best_ms([&] {
        Cell r{T_INTEGER, 0, 0, 0};
        int32_t acc = 0;
        for (int64_t i = 0; i < ops; ++i) {
            int32_t b = int32_t(i & 7);
            keep(b);
            acc = integer::do_math_op(acc, b, OP_ADD, &r);
        }
        sink = acc + int32_t(r.data2);
    });
    double int_plain = best_ms([&] {
        int32_t acc = 0;
        for (int64_t i = 0; i < ops; ++i) {
            int32_t b = int32_t(i & 7);
            keep(b);
            acc += b;
            keep(acc);
        }
        sink = acc;
    });
    report("integer add (do_math_op)", int_runtime, "plain int32 add", int_plain);

    // Float multiplications, a dependent chain through float_::do_math_op.
    double float_runtime = best_ms([&] {
        double x = 1.0, m = 1.0000001;
        for (int64_t i = 0; i < ops; ++i) {
            keep_double(m);
            x = float_::do_math_op(x, m, OP_MUL);
        }
        sink = (long long)x;
    });
    double float_plain = best_ms([&] {
        double x = 1.0, m = 1.0000001;
        for (int64_t i = 0; i < ops; ++i) {
            keep_double(m);
            x *= m;
            keep_double(x);
        }
        sink = (long long)x;
    });
    report("float multiply (do_math_op)", float_runtime, "plain double multiply", float_plain);

    // Forming: a spread of magnitudes, the float! mode.
    auto value = [](int64_t i) { return double(i) * 0.37 + double(i % 1000) * 1e-7 - 1e5; };
    double form_runtime = best_ms([&] {
        long long total = 0;
        for (int64_t i = 0; i < texts; ++i)
            total += float_::form_float(value(i), float_::FORM_FLOAT).length;
        sink = total;
    });
    double form_general = best_ms([&] {
        long long total = 0;
        char buf[64];
        for (int64_t i = 0; i < texts; ++i) {
            auto r = std::to_chars(buf, buf + sizeof buf, value(i), std::chars_format::general, 16);
            total += r.ptr - buf;
        }
        sink = total;
    });
    double form_shortest = best_ms([&] {
        long long total = 0;
        char buf[64];
        for (int64_t i = 0; i < texts; ++i) {
            auto r = std::to_chars(buf, buf + sizeof buf, value(i));
            total += r.ptr - buf;
        }
        sink = total;
    });
    report("form_float (mode 1)", form_runtime, "to_chars general 16", form_general);
    report("form_float (mode 1)", form_runtime, "to_chars shortest", form_shortest);
    return 0;
}
