// Lets the compiler check printf-style formats and their arguments.
#pragma once

#include <cstdio>

#if defined(__MINGW32__)
#define VX_PRINTF_FORMAT(format_index, first_argument) \
  __attribute__((format(__MINGW_PRINTF_FORMAT, format_index, first_argument)))
#elif defined(__GNUC__) || defined(__clang__)
#define VX_PRINTF_FORMAT(format_index, first_argument) \
  __attribute__((format(printf, format_index, first_argument)))
#else
#define VX_PRINTF_FORMAT(format_index, first_argument)
#endif
