// Constant Unicode data of the unicode module: case-mapping pairs, terminal-width ranges and the
// Windows-1251 code page. The definitions are generated into core/unicode_tables.cpp by
// tools/gen_unicode_tables.py (see there for the data sources and how to regenerate).
#pragma once

#include <cstdint>

namespace kov::unicode::tables {

// Pairs are laid out flat: key, value, key, value... sorted by key. The counts are pairs.
extern const uint32_t upper_pairs[];
extern const uint32_t upper_pairs_count;
extern const uint32_t lower_pairs[];
extern const uint32_t lower_pairs_count;
extern const uint32_t upper_supplementary[];
extern const uint32_t upper_supplementary_count;
extern const uint32_t lower_supplementary[];
extern const uint32_t lower_supplementary_count;

// Ranges are laid out flat: low, high, low, high... sorted, inclusive. The counts are ranges.
extern const uint32_t zero_width_ranges[];
extern const uint32_t zero_width_ranges_count;
extern const uint32_t wide_ranges[];
extern const uint32_t wide_ranges_count;
extern const uint32_t ambiguous_ranges[];
extern const uint32_t ambiguous_ranges_count;

// Code points of the bytes 0x80..0xFF in Windows-1251.
extern const uint16_t cp1251_high[128];

}  // namespace kov::unicode::tables
