// Writing to the process's output: whole-buffer writes that survive partial writes and signals,
// and what the console writer needs to know about a terminal.
#pragma once

#include <cstddef>

namespace kov::console_io {

// Writes all n bytes to fd with write(2), continuing after partial writes and EINTR, and waiting
// for room when fd is non-blocking. Answers false when the descriptor fails (closed pipe, bad
// descriptor); the bytes not written are then dropped.
bool write_all(int fd, const void* data, size_t n);

// True when fd is a terminal.
bool is_terminal(int fd);

// The terminal's size in columns and rows; false (and both 0) when fd is not a terminal or the
// size is unknown.
bool terminal_size(int fd, int& columns, int& rows);

}  // namespace kov::console_io
