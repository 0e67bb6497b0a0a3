// point2D! (type 51) and point3D! (type 52): coordinates of 32-bit float components written
// "(x, y)" and "(x, y, z)", no parent. Every computation runs on doubles and each stored
// component is rounded to a 32-bit float. point2D! is also where pair! arithmetic goes when its
// results stop being whole numbers.
//
// Cells: data1, data2 (and data3 for point3D!) hold x, y (and z) as IEEE 32-bit float patterns;
// a point2D! leaves data3 zero.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/action_table.hpp"
#include "core/value.hpp"

namespace kov {

namespace point {

// Component i (0 x, 1 y, 2 z) of a point cell.
float component(const Cell* c, int i);
void set_component(Cell* c, int i, float v);
// Reads the first value of a text as a point "(x, y)" or "(x, y, z)": the components read
// into out, their number answered (0 when the text is not a point).
int scan_text(std::string_view text, double out[3]);

}  // namespace point

namespace point2d {

Cell* make_at(Cell* c, float x, float y);  // whole header 51
Cell* make_in(const Cell* block, float x, float y);
Cell* push(float x, float y);
// Argument 0 (a point2D!) op argument 1 (point2D!, pair!, integer!, float! or percent!).
Cell* do_math(int op);
Cell* negate(Cell* value);
// 1 for x, 2 for y; another word: cannot-use (word, value) when value is a point2D!, else
// invalid-path (value, word).
int32_t field_index(const Cell* word, const Cell* value);
// A float!'s or an integer!'s value as a 32-bit float.
float number_to_float32(const Cell* c);

void init();
Cell* make(const Cell* proto, const Cell* spec, uint32_t type);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);

}  // namespace point2d

namespace point3d {

Cell* make_at(Cell* c, float x, float y, float z);  // whole header 52
Cell* make_in(const Cell* block, float x, float y, float z);
Cell* push(float x, float y, float z);
// Argument 0 (a point3D!) op argument 1 (point3D!, integer!, float! or percent!).
Cell* do_math(int op);
Cell* negate(Cell* value);
int32_t field_index(const Cell* word, const Cell* value);  // adds 3 for z
float number_to_float32(const Cell* c);

void init();
Cell* make(const Cell* proto, const Cell* spec, uint32_t type);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);

}  // namespace point3d

}  // namespace kov
