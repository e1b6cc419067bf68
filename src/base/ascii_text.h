// ASCII case folding: the one definition every subsystem uses. Only 'A'-'Z' fold; every other byte
// (UTF-8 sequences, ANSI letters above 127) compares as it is, whatever the process's C locale says.
// Pure functions, safe from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vx {

[[nodiscard]] constexpr char LowerAscii(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

[[nodiscard]] constexpr bool IsAsciiLetter(char c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The text with 'A'-'Z' folded to lower case.
[[nodiscard]] inline std::string ToLowerAscii(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) c = LowerAscii(c);
  return lowered;
}

[[nodiscard]] constexpr bool EqualsIgnoreAsciiCase(std::string_view left, std::string_view right) noexcept {
  if (left.size() != right.size()) return false;
  for (std::size_t i = 0; i < left.size(); ++i) {
    if (LowerAscii(left[i]) != LowerAscii(right[i])) return false;
  }
  return true;
}

// strcmp-like ordering of two NUL-terminated texts with 'A'-'Z' folded: negative, 0 or positive.
[[nodiscard]] constexpr int CompareIgnoreAsciiCase(const char* left, const char* right) noexcept {
  for (;; ++left, ++right) {
    const int x = static_cast<unsigned char>(LowerAscii(*left));
    const int y = static_cast<unsigned char>(LowerAscii(*right));
    if (x != y || x == 0) return x - y;
  }
}

static_assert(EqualsIgnoreAsciiCase("APD Deploy", "apd dEPLOY"));
static_assert(!EqualsIgnoreAsciiCase("\xC4", "\xE4"));
static_assert(CompareIgnoreAsciiCase("abc", "ABD") < 0 && CompareIgnoreAsciiCase("B", "a") > 0);

}  // namespace vx
