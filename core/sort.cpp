// The generic sorters. Both are written once over a record policy (how to swap and copy one
// record) and instantiated for the common record sizes, so that 1-, 2-, 4-, 8- and 16-byte
// records move as machine words; any other size goes four bytes at a time when it is a multiple
// of 4, else byte by byte.
//
// Unwinding: the comparison routine may throw. Every step that holds a record outside the array
// (the insertion steps and the merge) keeps a guard that writes the held records back into the
// hole they left, so the array is a permutation of the input whatever call throws.
#include "core/sort.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/runtime.hpp"
#include "core/stack.hpp"

namespace kov::buffer {

void swap_records(void* a, void* b, uint32_t bytes, bool byte_wise) {
    auto* x = static_cast<uint8_t*>(a);
    auto* y = static_cast<uint8_t*>(b);
    if (x == y) return;
    uint32_t i = 0;
    if (!byte_wise) {
        for (; i + 4 <= bytes; i += 4) {
            uint32_t t, u;
            std::memcpy(&t, x + i, 4);
            std::memcpy(&u, y + i, 4);
            std::memcpy(x + i, &u, 4);
            std::memcpy(y + i, &t, 4);
        }
    }
    // What is left (everything when byte_wise, else the bytes after the last whole word) goes
    // one byte at a time, so that a record is never left half exchanged.
    for (; i < bytes; ++i) {
        uint8_t t = x[i];
        x[i] = y[i];
        y[i] = t;
    }
}

namespace {

// Records of a size known at compile time: swapped and copied as whole words, and small enough
// to be held in a local while they are inserted.
template <uint32_t W> struct FixedRecord {
    static constexpr bool can_hold = true;
    static constexpr uint32_t width() { return W; }
    static void swap(uint8_t* a, uint8_t* b) {
        uint8_t t[W], u[W];
        std::memcpy(t, a, W);
        std::memcpy(u, b, W);
        std::memcpy(a, u, W);
        std::memcpy(b, t, W);
    }
    static void copy(uint8_t* to, const uint8_t* from) { std::memcpy(to, from, W); }
};

// Records of any other size.
struct AnyRecord {
    static constexpr bool can_hold = false;
    uint32_t w;
    bool byte_wise;
    uint32_t width() const { return w; }
    void swap(uint8_t* a, uint8_t* b) const { swap_records(a, b, w, byte_wise); }
    void copy(uint8_t* to, const uint8_t* from) const { std::memcpy(to, from, w); }
};

// On unwinding, copies `count` bytes from `from` into the hole at `to` (both kept current by
// the step that owns the guard); disarmed on the normal path.
struct HoleGuard {
    uint8_t*& to;
    const uint8_t*& from;
    size_t& count;
    bool armed = true;
    ~HoleGuard() {
        if (armed && count) std::memmove(to, from, count);
    }
};

template <class R> struct Sorter {
    R rec;
    intptr_t arg1, arg2;
    SortCompare compare;

    uint32_t w() const { return rec.width(); }
    uint8_t* at(uint8_t* p, size_t i) const { return p + i * size_t(w()); }
    int cmp(const uint8_t* a, const uint8_t* b) const { return compare(a, b, arg1, arg2); }

    void swap_ranges(uint8_t* a, uint8_t* b, size_t count) const {
        if (a == b) return;
        for (size_t i = 0; i < count; ++i) rec.swap(at(a, i), at(b, i));
    }

    void reverse(uint8_t* p, size_t count) const {
        if (count < 2) return;
        uint8_t* lo = p;
        uint8_t* hi = at(p, count - 1);
        while (lo < hi) {
            rec.swap(lo, hi);
            lo += w();
            hi -= w();
        }
    }

    // Moves the first k of `count` records to the end, keeping the order within both groups.
    void rotate_left(uint8_t* p, size_t count, size_t k) const {
        if (k == 0 || k >= count) return;
        reverse(p, k);
        reverse(at(p, k), count - k);
        reverse(p, count);
    }

    // Insertion sort of records [from, n) into the sorted records [0, from): each record moves
    // left past every record that compares greater than it. Stable.
    void insertion_sort(uint8_t* p, size_t from, size_t n, uint8_t* hold) const {
        for (size_t i = from < 1 ? 1 : from; i < n; ++i) {
            uint8_t* cur = at(p, i);
            if (cmp(cur - w(), cur) <= 0) continue;
            if (hold == nullptr) {
                // Held nowhere: the record travels by swaps, so no step can lose it.
                size_t j = i;
                do {
                    rec.swap(at(p, j - 1), at(p, j));
                    --j;
                } while (j > 0 && cmp(at(p, j - 1), at(p, j)) > 0);
                continue;
            }
            rec.copy(hold, cur);
            uint8_t* hole = cur;
            const uint8_t* held = hold;
            size_t bytes = w();
            HoleGuard guard{hole, held, bytes};
            do {
                rec.copy(hole, hole - w());
                hole -= w();
            } while (hole > p && cmp(hole - w(), hold) > 0);
            rec.copy(hole, hold);
            guard.armed = false;
        }
    }

    void small_sort(uint8_t* p, size_t n) const {
        if constexpr (R::can_hold) {
            alignas(16) uint8_t hold[R::width()];
            insertion_sort(p, 1, n, hold);
        } else {
            insertion_sort(p, 1, n, nullptr);
        }
    }

    bool in_order(const uint8_t* a, const uint8_t* b, int dir) const {
        int c = cmp(a, b);
        return dir > 0 ? c <= 0 : c >= 0;
    }

    // ---- quicksort ----

    // The presortedness scan, the growth of the sorted prefix, then the core.
    void quick_sort(uint8_t* p, size_t n) const {
        if (n < 2) return;
        // The first pair that does not compare equal gives the direction.
        size_t k = 0;
        int first = 0;
        for (; k + 1 < n; ++k) {
            first = cmp(at(p, k), at(p, k + 1));
            if (first != 0) break;
        }
        if (k + 1 >= n) return;  // every record equal
        int dir = first < 0 ? 1 : -1;
        size_t j = k + 1;
        while (j + 1 < n && in_order(at(p, j), at(p, j + 1), dir)) ++j;
        size_t run = j + 1;

        // Balance: the run's length, then one vote of every 97th pair after it.
        int64_t balance = dir * int64_t(run);
        for (size_t t = run - 1 + 96; t + 1 < n; t += 97) {
            int c = cmp(at(p, t), at(p, t + 1));
            if (c < 0) ++balance;
            else if (c > 0) --balance;
        }
        size_t h = run;
        if ((balance < 0 ? -balance : balance) > int64_t(n / 512)) {
            int bdir = balance > 0 ? 1 : -1;
            size_t prefix = run;
            if (bdir != dir) {
                dir = bdir;
                prefix = 1;
            }
            prefix = grow_prefix(p, n, prefix, dir);
            if (dir < 0) reverse(p, prefix);
            h = prefix;
        } else if (dir < 0) {
            reverse(p, run);
        }
        core(p, n, h, false);
    }

    // Absorbs ordered stretches found past the prefix [0, prefix) into it; answers its new length.
    size_t grow_prefix(uint8_t* p, size_t n, size_t prefix, int dir) const {
        size_t cur = prefix;
        while (cur + 10 < n) {
            size_t q = cur + 10;
            size_t s = q;
            while (s > cur && in_order(at(p, s - 1), at(p, s), dir)) --s;
            size_t e = q + 1;
            while (e < n && in_order(at(p, e - 1), at(p, e), dir)) ++e;
            if (e - s >= 4) prefix = absorb(p, prefix, s, e, dir);
            cur = e;
        }
        return prefix;
    }

    // The number of the prefix's last records (at most `most`) to drop so that its new last
    // record may precede record x; SIZE_MAX when more would have to go. Binary search: the prefix
    // is in order.
    size_t prefix_drop(uint8_t* p, size_t prefix, size_t most, const uint8_t* x, int dir) const {
        if (in_order(at(p, prefix - 1), x, dir)) return 0;
        if (most == 0 || !in_order(at(p, prefix - 1 - most), x, dir)) return SIZE_MAX;
        size_t lo = prefix - 1 - most, hi = prefix - 1;  // lo may precede x, hi may not
        while (hi - lo > 1) {
            size_t mid = lo + (hi - lo) / 2;
            if (in_order(at(p, mid), x, dir)) lo = mid;
            else hi = mid;
        }
        return prefix - 1 - lo;
    }

    // Moves the ordered stretch [s, e) right after the prefix when the junction can be put in
    // order by dropping at most a quarter of the prefix's last records and at most half of the
    // stretch's first records; of the ways tried, the one that drops the fewest records is taken.
    // Dropped records join the unsorted rest.
    size_t absorb(uint8_t* p, size_t prefix, size_t s, size_t e, int dir) const {
        size_t len = e - s, drop_prefix = 0, drop_stretch = 0;
        if (!in_order(at(p, prefix - 1), at(p, s), dir)) {
            size_t most_p = prefix / 4, most_s = len / 2, best = SIZE_MAX;
            // A few of the stretch's first records with as many of the prefix's last as needed.
            for (size_t k = 0; k <= most_s && k <= 4; ++k) {
                size_t m = prefix_drop(p, prefix, most_p, at(p, s + k), dir);
                if (m != SIZE_MAX && m + k < best) {
                    best = m + k;
                    drop_prefix = m;
                    drop_stretch = k;
                }
                if (m == 0) break;
            }
            // Or only stretch records, as many as needed (binary search: the stretch is in order).
            if (most_s > 4 && in_order(at(p, prefix - 1), at(p, s + most_s), dir)) {
                size_t lo = 0, hi = most_s;  // lo may not follow the prefix's last, hi may
                while (hi - lo > 1) {
                    size_t mid = lo + (hi - lo) / 2;
                    if (in_order(at(p, prefix - 1), at(p, s + mid), dir)) hi = mid;
                    else lo = mid;
                }
                if (hi < best) {
                    best = hi;
                    drop_prefix = 0;
                    drop_stretch = hi;
                }
            }
            if (best == SIZE_MAX) return prefix;
        }
        size_t to = prefix - drop_prefix, from = s + drop_stretch, count = e - from;
        size_t gap = from - to;
        if (gap >= count) swap_ranges(at(p, to), at(p, from), count);
        else rotate_left(at(p, to), gap + count, gap);
        return to + count;
    }

    // Sorts n records of which the first h (or, with at_end, the last h) are in order.
    void core(uint8_t* p, size_t n, size_t h, bool at_end) const {
        for (;;) {
            if (h >= n) return;
            if (n <= 7) {
                small_sort(p, n);
                return;
            }
            if (at_end) {
                // A block announced at the end of the part moves to its front.
                if (h > 2) {
                    if (n - h >= h) swap_ranges(p, at(p, n - h), h);
                    else rotate_left(p, n, n - h);
                } else {
                    h = 0;
                }
                at_end = false;
            }
            size_t region, mid, upper;
            if (h <= 2) {
                // Median of three over the region; the pivot is the second record.
                region = n > 511 ? 63 : n;
                rec.swap(at(p, 1), at(p, region / 2));
                uint8_t* a = p;
                uint8_t* b = at(p, 1);
                uint8_t* c = at(p, region - 1);
                if (cmp(a, b) > 0) rec.swap(a, b);
                if (cmp(b, c) > 0) {
                    rec.swap(b, c);
                    if (cmp(a, b) > 0) rec.swap(a, b);
                }
                mid = 1;
                upper = 1;
            } else {
                if (n / 256 < h) {
                    region = n;
                } else {
                    // A sample: records spread over the array join the sorted block.
                    region = 16 * h - 1;
                    size_t step = n / region;
                    if (step > 1)
                        for (size_t i = h; i < region; ++i) rec.swap(at(p, i), at(p, i * step));
                }
                mid = (h - 1) / 2;
                upper = h - 1 - mid;
                // The upper half of the block goes to the end of the region.
                if (region - h >= upper) swap_ranges(at(p, mid + 1), at(p, region - upper), upper);
                else rotate_left(at(p, mid + 1), region - mid - 1, upper);
            }

            // Three-way partition of [mid + 1, region - upper) around the pivot at mid: equal
            // records gather in a zone right after the pivot, smaller ones follow it, greater
            // ones are at the right.
            uint8_t* pivot = at(p, mid);
            size_t eq_end = mid + 1, i = mid + 1, j = region - upper;
            for (;;) {
                while (i < j) {
                    int c = cmp(at(p, i), pivot);
                    if (c < 0) {
                        ++i;
                    } else if (c == 0) {
                        if (i != eq_end) rec.swap(at(p, i), at(p, eq_end));
                        ++eq_end;
                        ++i;
                    } else {
                        break;
                    }
                }
                int cr = 1;
                while (i < j) {
                    cr = cmp(at(p, j - 1), pivot);
                    if (cr > 0) --j;
                    else break;
                }
                if (i >= j) break;
                if (i != j - 1) rec.swap(at(p, i), at(p, j - 1));
                if (cr == 0) {
                    if (i != eq_end) rec.swap(at(p, i), at(p, eq_end));
                    ++eq_end;
                }
                ++i;
                --j;
            }
            // The pivot and its equal zone move between the smaller and the greater records.
            size_t equal = eq_end - mid, less = i - eq_end;
            size_t k = std::min(less, equal);
            swap_ranges(at(p, mid), at(p, i - k), k);
            size_t left_n = mid + less;
            uint8_t* right = at(p, i);
            size_t right_n = region - i;

            if (region < n) {
                // The sample is sorted whole and becomes the block of the next round.
                core(p, left_n, mid, false);
                core(right, right_n, upper, true);
                h = region;
                continue;
            }
            // Recursion goes to the smaller part, so the depth stays logarithmic.
            if (left_n <= right_n) {
                core(p, left_n, mid, false);
                p = right;
                n = right_n;
                h = upper;
                at_end = true;
            } else {
                core(right, right_n, upper, true);
                n = left_n;
                h = mid;
            }
        }
    }

    // ---- merge sort ----

    uint8_t* find_run(uint8_t* start, uint8_t* end) const {
        if (end - start < 2 * ptrdiff_t(w())) return end;
        uint8_t* e = start + 2 * size_t(w());
        if (cmp(start, start + w()) > 0) {
            while (e < end && cmp(e - w(), e) > 0) e += w();
            reverse(start, size_t(e - start) / w());
        } else {
            while (e < end && cmp(e - w(), e) <= 0) e += w();
        }
        return e;
    }

    void merge_runs(uint8_t* left, size_t n1, size_t n2, uint8_t* temp) const {
        if (n1 == 0 || n2 == 0) return;
        uint8_t* mid = at(left, n1);
        uint8_t* end = at(mid, n2);
        if (n1 <= n2) {
            // The left run goes to the buffer; merge from the front.
            std::memcpy(temp, left, n1 * size_t(w()));
            const uint8_t* t = temp;
            const uint8_t* t_end = temp + n1 * size_t(w());
            uint8_t* r = mid;
            uint8_t* d = left;
            size_t rest = n1 * size_t(w());
            HoleGuard guard{d, t, rest};
            while (t < t_end && r < end) {
                if (cmp(t, r) <= 0) {
                    rec.copy(d, t);
                    t += w();
                } else {
                    rec.copy(d, r);
                    r += w();
                }
                d += w();
                rest = size_t(t_end - t);
            }
            std::memcpy(d, t, size_t(t_end - t));
            guard.armed = false;
        } else {
            // The right run goes to the buffer; merge from the back.
            std::memcpy(temp, mid, n2 * size_t(w()));
            const uint8_t* t_base = temp;
            uint8_t* t = temp + n2 * size_t(w());
            uint8_t* l = mid;
            uint8_t* d = end;
            size_t rest = n2 * size_t(w());
            HoleGuard guard{l, t_base, rest};
            while (t > temp && l > left) {
                d -= w();
                if (cmp(l - w(), t - w()) <= 0) {
                    t -= w();
                    rec.copy(d, t);
                } else {
                    l -= w();
                    rec.copy(d, l);
                }
                rest = size_t(t - temp);
            }
            std::memcpy(l, temp, size_t(t - temp));
            guard.armed = false;
        }
    }

    // Powersort: the power of the boundary between runs [s1, s1 + n1) and [s1 + n1, + n2) in
    // an array of n records is one more than the number of leading bits in which their
    // midpoints, scaled to [0, 1), agree.
    static unsigned node_power(size_t s1, size_t n1, size_t n2, size_t n) {
        uint64_t a = 2 * uint64_t(s1) + n1;  // twice the first midpoint
        uint64_t b = a + n1 + n2;           // twice the second midpoint
        unsigned power = 0;
        for (;;) {
            ++power;
            if (a >= n) {
                a -= n;
                b -= n;
            } else if (b >= n) {
                break;
            }
            a <<= 1;
            b <<= 1;
        }
        return power;
    }

    // The natural run at s, extended by insertion to MERGE_MIN_RUN records (or to n).
    size_t next_run(uint8_t* p, size_t s, size_t n, uint8_t* hold) const {
        size_t e = size_t(find_run(at(p, s), at(p, n)) - p) / w();
        if (e - s < MERGE_MIN_RUN && e < n) {
            size_t target = std::min(n, s + MERGE_MIN_RUN);
            insertion_sort(at(p, s), e - s, target - s, hold);
            e = target;
        }
        return e;
    }

    void merge_sort(uint8_t* p, size_t n, uint8_t* temp) const {
        struct Run {
            size_t start, end;
            unsigned power;
        };
        Run runs[66];  // one entry per bit of n, plus one
        int top = 0;
        size_t s1 = 0;
        size_t e1 = next_run(p, 0, n, temp);
        while (e1 < n) {
            size_t s2 = e1;
            size_t e2 = next_run(p, s2, n, temp);
            unsigned power = node_power(s1, e1 - s1, e2 - s2, n);
            while (top > 0 && runs[top - 1].power > power) {
                --top;
                merge_runs(at(p, runs[top].start), s1 - runs[top].start, e1 - s1, temp);
                s1 = runs[top].start;
            }
            runs[top++] = Run{s1, e1, power};
            s1 = s2;
            e1 = e2;
        }
        while (top > 0) {
            --top;
            merge_runs(at(p, runs[top].start), s1 - runs[top].start, e1 - s1, temp);
            s1 = runs[top].start;
        }
    }
};

// Calls body(sorter) with the sorter for the record size.
template <class F> void with_sorter(uint32_t w, intptr_t arg1, intptr_t arg2, SortCompare compare,
                                    F&& body) {
    switch (w) {
    case 1: return body(Sorter<FixedRecord<1>>{{}, arg1, arg2, compare});
    case 2: return body(Sorter<FixedRecord<2>>{{}, arg1, arg2, compare});
    case 4: return body(Sorter<FixedRecord<4>>{{}, arg1, arg2, compare});
    case 8: return body(Sorter<FixedRecord<8>>{{}, arg1, arg2, compare});
    case 16: return body(Sorter<FixedRecord<16>>{{}, arg1, arg2, compare});
    default: return body(Sorter<AnyRecord>{{w, w % 4 != 0}, arg1, arg2, compare});
    }
}

// The merge sort's buffer, freed on every exit path.
struct MergeBuffer {
    uint8_t* bytes = nullptr;
    ~MergeBuffer() { runtime::free(bytes); }
};

}  // namespace

void quick_sort(void* base, uint32_t n, uint32_t w, intptr_t arg1, intptr_t arg2,
                SortCompare compare) {
    if (n < 2 || w == 0) return;
    with_sorter(w, arg1, arg2, compare,
                [&](const auto& s) { s.quick_sort(static_cast<uint8_t*>(base), n); });
}

void quick_sort_core(void* base, uint32_t n, uint32_t w, intptr_t arg1, intptr_t arg2,
                     SortCompare compare, uint32_t sorted_front) {
    if (n < 2 || w == 0) return;
    with_sorter(w, arg1, arg2, compare, [&](const auto& s) {
        s.core(static_cast<uint8_t*>(base), n, sorted_front, false);
    });
}

void merge_sort(void* base, uint32_t n, uint32_t w, intptr_t arg1, intptr_t arg2,
                SortCompare compare) {
    if (n < 2 || w == 0) return;
    uint64_t bytes = uint64_t(n / 2) * w;
    if (bytes > 0x7FFFFFFF) stack::raise_error("script", "too-long");
    MergeBuffer buffer;
    buffer.bytes = static_cast<uint8_t*>(runtime::resize(nullptr, size_t(bytes)));
    if (!buffer.bytes) stack::raise_error("internal", "no-memory");
    with_sorter(w, arg1, arg2, compare,
                [&](const auto& s) { s.merge_sort(static_cast<uint8_t*>(base), n, buffer.bytes); });
}

uint8_t* find_run(uint8_t* start, uint8_t* end, uint32_t w, intptr_t arg1, intptr_t arg2,
                  SortCompare compare) {
    uint8_t* result = end;
    if (w == 0) return end;
    with_sorter(w, arg1, arg2, compare, [&](const auto& s) { result = s.find_run(start, end); });
    return result;
}

void merge_runs(uint8_t* left, uint32_t n1, uint32_t n2, uint32_t w, uint8_t* temp, intptr_t arg1,
                intptr_t arg2, SortCompare compare) {
    if (w == 0) return;
    with_sorter(w, arg1, arg2, compare, [&](const auto& s) { s.merge_runs(left, n1, n2, temp); });
}

}  // namespace kov::buffer
