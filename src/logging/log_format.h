// printf-style formatting of the agent's texts into a growing buffer, without the C library's
// general machinery for the conversions the agent's lines use.
//
// Handled here, with the C standard's results: %s %c %d %i %u %x %% with the length modifiers l, ll
// and z (so %ld %lu %lld %llu %zu and the like), the flags '-' and '0', a width and a precision given
// as digits. Any other conversion, flag or length, a width or precision given as '*', a null %s and
// the '0' flag on %s or %c hand the whole format to vsnprintf instead, so every format gives exactly
// what vsnprintf gives. Thread-safe (no shared state).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

namespace vx {

// Writes the formatted text into buffer from offset on, growing the buffer when the text does not
// fit (the bytes before offset are kept; the size of the buffer afterwards is not the text's
// length). Returns the text's length, or -1 when the format cannot be formatted (vsnprintf's
// failure, or a text longer than INT_MAX). Throws std::bad_alloc when the buffer cannot grow.
[[nodiscard]] int FormatIntoBuffer(std::string& buffer, std::size_t offset, const char* format, std::va_list args);

}  // namespace vx
