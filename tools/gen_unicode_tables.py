#!/usr/bin/env python3
"""Generates core/unicode_tables.cpp: the case-mapping pairs, the terminal-width ranges and the
Windows-1251 code page used by core/unicode.cpp.

Usage (Debian: `apt-get install unicode-data`, which installs the Unicode 15.0 character
database under /usr/share/unicode):

    python3 tools/gen_unicode_tables.py [UCD directory] > core/unicode_tables.cpp

Only the Python standard library is used. The Unicode 15.0 data is cut back to the character
repertoire of older versions with DerivedAge.txt:

- Case pairs: the upper- and lower-case mappings of Unicode 11.0. A character's full mapping
  (SpecialCasing.txt, unconditional entries) replaces its simple one (UnicodeData.txt), and a
  mapping to several code points keeps its first one. A pair is kept when its character and every
  code point of its mapping were assigned in Unicode 11.0 (so mappings that later versions gave
  to old characters through new partners are left out). Pairs up to U+FFFF go to the lookup
  lists, the others to the supplementary lists; all are sorted by code point.
- Zero-width ranges: general categories Mn, Me and Cf (U+00AD SOFT HYPHEN excepted) of the
  characters assigned in Unicode 13.0, plus the Hangul medial vowels and final consonants
  U+1160..U+11FF.
- Wide ranges: East_Asian_Width W and F as listed by EastAsianWidth.txt (15.0), with the
  unassigned code points that the file gives W; ranges of the same width value that touch are
  joined.
- Ambiguous ranges: East_Asian_Width A of the characters assigned in Unicode 3.2, less the
  marks and format characters (Mn, Me, Cf), which take no column of their own.
Adjacent code points are joined into one inclusive range unless stated otherwise.

- Windows-1251: bytes 0x80..0xFF through Python's cp1251 codec; the undefined byte 0x98 maps to
  itself.
"""

import codecs
import os
import sys

UCD = sys.argv[1] if len(sys.argv) > 1 else '/usr/share/unicode'


def data_lines(name):
    with open(os.path.join(UCD, name), encoding='utf-8') as f:
        for line in f:
            line = line.split('#', 1)[0].strip()
            if line:
                yield [field.strip() for field in line.split(';')]


def code_range(text):
    if '..' in text:
        lo, hi = text.split('..')
        return int(lo, 16), int(hi, 16)
    return int(text, 16), int(text, 16)


def load_age():
    age = {}
    for fields in data_lines('DerivedAge.txt'):
        lo, hi = code_range(fields[0])
        major, minor = fields[1].split('.')
        for c in range(lo, hi + 1):
            age[c] = (int(major), int(minor))
    return age


def load_categories():
    cat = {}
    pending = None
    for fields in data_lines('UnicodeData.txt'):
        c = int(fields[0], 16)
        if fields[1].endswith(', First>'):
            pending = c
            continue
        if pending is not None and fields[1].endswith(', Last>'):
            for x in range(pending, c + 1):
                cat[x] = fields[2]
            pending = None
            continue
        cat[c] = fields[2]
    return cat


def load_case_maps():
    upper, lower = {}, {}
    for fields in data_lines('UnicodeData.txt'):
        c = int(fields[0], 16)
        if fields[12]:
            upper[c] = [int(fields[12], 16)]
        if fields[13]:
            lower[c] = [int(fields[13], 16)]
    for fields in data_lines('SpecialCasing.txt'):
        if len(fields) > 4 and fields[4]:
            continue  # conditional mapping (language or context)
        c = int(fields[0], 16)
        low = [int(x, 16) for x in fields[1].split()]
        up = [int(x, 16) for x in fields[3].split()]
        if low != [c]:
            lower[c] = low
        if up != [c]:
            upper[c] = up
    return upper, lower


def ranges(points, key=None):
    out = []
    for c in sorted(points):
        if out and out[-1][1] == c - 1 and (key is None or key(out[-1][1]) == key(c)):
            out[-1][1] = c
        else:
            out.append([c, c])
    return out


def emit_array(name, values, ctype='uint32_t', per_line=8, hexdigits=5):
    print(f'extern const {ctype} {name}[] = {{')
    for i in range(0, len(values), per_line):
        chunk = values[i:i + per_line]
        print('    ' + ', '.join(f'0x{v:0{hexdigits}X}' for v in chunk) + ',')
    print('};')


def main():
    age = load_age()
    cat = load_categories()

    def assigned_by(c, version):
        return c in age and age[c] <= version

    upper, lower = load_case_maps()
    case_version = (11, 0)

    def pairs(mapping, bmp):
        out = []
        for c in sorted(mapping):
            target = mapping[c]
            if (c <= 0xFFFF) != bmp:
                continue
            if all(assigned_by(x, case_version) for x in [c] + target):
                out.append((c, target[0]))
        return out

    upper_bmp, lower_bmp = pairs(upper, True), pairs(lower, True)
    upper_supp, lower_supp = pairs(upper, False), pairs(lower, False)

    zero = {c for c, k in cat.items()
            if k in ('Mn', 'Me', 'Cf') and assigned_by(c, (13, 0)) and c != 0xAD}
    zero |= set(range(0x1160, 0x1200))
    zero_ranges = ranges(zero)

    width = {}
    for fields in data_lines('EastAsianWidth.txt'):
        lo, hi = code_range(fields[0])
        for c in range(lo, hi + 1):
            width[c] = fields[1]
    wide_ranges = ranges([c for c, w in width.items() if w in ('W', 'F')], key=width.get)
    ambiguous_ranges = ranges([c for c, w in width.items()
                               if w == 'A' and assigned_by(c, (3, 2))
                               and cat.get(c) not in ('Mn', 'Me', 'Cf')])

    cp1251 = []
    for b in range(0x80, 0x100):
        try:
            cp1251.append(ord(bytes([b]).decode('cp1251')))
        except UnicodeDecodeError:
            cp1251.append(b)

    print('// Generated by tools/gen_unicode_tables.py from the Unicode character database of the')
    print('// Debian package unicode-data (15.0) and Python\'s cp1251 codec. Do not edit by hand.')
    print('// Regenerate with:')
    print('//   apt-get install unicode-data')
    print('//   python3 tools/gen_unicode_tables.py /usr/share/unicode > core/unicode_tables.cpp')
    print('// The selection rules for each table are described at the head of the generator.')
    print()
    print('#include "core/unicode_tables.hpp"')
    print()
    print('namespace kov::unicode::tables {')
    print()

    def emit_pairs(name, plist, comment):
        print(f'// {comment}: {len(plist)} pairs (code point, mapped code point).')
        emit_array(name, [x for p in plist for x in p])
        print(f'extern const uint32_t {name}_count = {len(plist)};')
        print()

    def emit_ranges(name, rlist, comment):
        print(f'// {comment}: {len(rlist)} inclusive ranges (low, high).')
        emit_array(name, [x for r in rlist for x in r])
        print(f'extern const uint32_t {name}_count = {len(rlist)};')
        print()

    emit_pairs('upper_pairs', upper_bmp, 'Upper-case mapping up to U+FFFF (Unicode 11.0)')
    emit_pairs('lower_pairs', lower_bmp, 'Lower-case mapping up to U+FFFF (Unicode 11.0)')
    emit_pairs('upper_supplementary', upper_supp, 'Upper-case mapping above U+FFFF (Unicode 11.0)')
    emit_pairs('lower_supplementary', lower_supp, 'Lower-case mapping above U+FFFF (Unicode 11.0)')
    emit_ranges('zero_width_ranges', zero_ranges, 'Characters that take no terminal column')
    emit_ranges('wide_ranges', wide_ranges, 'Characters that take two terminal columns')
    emit_ranges('ambiguous_ranges', ambiguous_ranges, 'East Asian ambiguous-width characters')
    print('// Windows-1251: the code points of bytes 0x80..0xFF.')
    emit_array('cp1251_high', cp1251, ctype='uint16_t', hexdigits=4)
    print()
    print('}  // namespace kov::unicode::tables')


if __name__ == '__main__':
    main()
