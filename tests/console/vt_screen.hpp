// A small VT screen for the console tests: it takes the bytes the line editor writes and keeps
// the cells and the cursor as a terminal would (UTF-8 text, wide characters that wrap whole to
// the next row, the pending wrap after the last column, scrolling at the bottom, CR, LF and the
// cursor moves and erase sequences the editor uses). Sequences it does not know are skipped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "console/line_editor.hpp"
#include "core/unicode.hpp"

namespace kov::testing {

struct VtScreen {
    int cols, rows;
    std::vector<std::u32string> cells;  // one string of `cols` cells per row; 0 = the right half
    int row = 0, col = 0;
    bool pending = false;
    std::string utf8;  // a UTF-8 sequence being gathered

    VtScreen(int c, int r) : cols(c), rows(r), cells(size_t(r), std::u32string(size_t(c), U' ')) {}

    void line_feed() {
        pending = false;
        if (row + 1 < rows) {
            ++row;
            return;
        }
        cells.erase(cells.begin());
        cells.push_back(std::u32string(size_t(cols), U' '));
    }

    void put(char32_t cp) {
        int w = line_editor::cell_width(cp);
        if (w == 0) return;  // joins the character before it
        if (pending || (w == 2 && col == cols - 1)) {
            col = 0;
            line_feed();
        }
        cells[size_t(row)][size_t(col)] = cp;
        if (w == 2 && col + 1 < cols) cells[size_t(row)][size_t(col) + 1] = 0;
        col += w;
        if (col >= cols) {
            col = cols - 1;
            pending = true;
        }
    }

    void erase_below() {
        for (int c = col; c < cols; ++c) cells[size_t(row)][size_t(c)] = U' ';
        for (int r = row + 1; r < rows; ++r) cells[size_t(r)] = std::u32string(size_t(cols), U' ');
    }

    void write(const std::string& bytes) {
        for (size_t i = 0; i < bytes.size(); ++i) {
            uint8_t b = uint8_t(bytes[i]);
            if (!utf8.empty() || b >= 0x80) {
                utf8 += char(b);
                int32_t count = int32_t(utf8.size());
                int32_t cp = unicode::decode_utf8_status(
                    reinterpret_cast<const uint8_t*>(utf8.data()), count);
                if (cp == unicode::UTF8_SHORT) continue;
                utf8.clear();
                put(cp >= 0 ? char32_t(cp) : U'\uFFFD');
                continue;
            }
            if (b == '\r') {
                col = 0;
                pending = false;
            } else if (b == '\n') {
                line_feed();
            } else if (b == 0x1b && i + 1 < bytes.size() && bytes[i + 1] == '[') {
                i += 2;
                int n = 0;
                bool any = false;
                while (i < bytes.size() && ((bytes[i] >= '0' && bytes[i] <= '9') || bytes[i] == ';')) {
                    if (bytes[i] != ';') n = n * 10 + (bytes[i] - '0'), any = true;
                    ++i;
                }
                if (i >= bytes.size()) break;
                if (!any) n = 1;
                pending = false;
                switch (bytes[i]) {
                case 'A': row = std::max(0, row - n); break;
                case 'B': row = std::min(rows - 1, row + n); break;
                case 'C': col = std::min(cols - 1, col + n); break;
                case 'D': col = std::max(0, col - n); break;
                case 'J': erase_below(); break;
                default: break;
                }
            } else if (b == 0x1b && i + 1 < bytes.size() && bytes[i + 1] == ']') {
                while (i < bytes.size() && bytes[i] != '\x07') ++i;  // a title: skipped
            } else if (b == 0x1b && i + 1 < bytes.size() && bytes[i + 1] == '(') {
                i += 2;  // a character-set choice: one more byte
            } else if (b >= 0x20 && b != 0x7f) {
                put(b);
            }
        }
    }

    // The row's text with trailing spaces cut, the right halves of wide characters left out.
    std::string text(int r) const {
        std::u32string s;
        for (char32_t c : cells[size_t(r)])
            if (c != 0) s += c;
        while (!s.empty() && s.back() == U' ') s.pop_back();
        std::string out;
        for (char32_t c : s) {
            uint8_t buf[4];
            out.append(reinterpret_cast<const char*>(buf), size_t(unicode::encode_utf8(c, buf)));
        }
        return out;
    }

    // The rows' texts with the trailing empty rows cut.
    std::vector<std::string> lines() const {
        std::vector<std::string> v;
        for (int r = 0; r < rows; ++r) v.push_back(text(r));
        while (!v.empty() && v.back().empty()) v.pop_back();
        return v;
    }
};

}  // namespace kov::testing
