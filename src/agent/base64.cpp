#include "agent/base64.h"

#include <array>
#include <cstdint>

namespace vx {
namespace {

constexpr std::int8_t kNotInAlphabet = -1;

constexpr std::array<std::int8_t, 256> MakeDecodeTable() {
  std::array<std::int8_t, 256> table{};
  for (auto& entry : table) entry = kNotInAlphabet;
  constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
  return table;
}

constexpr std::array<std::int8_t, 256> kDecodeTable = MakeDecodeTable();

// The white-space characters of the C locale.
bool IsWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

int SextetOf(char c) { return kDecodeTable[static_cast<unsigned char>(c)]; }

}  // namespace

std::optional<std::string> DecodeBase64(std::string_view text) {
  while (!text.empty() && IsWhiteSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsWhiteSpace(text.back())) text.remove_suffix(1);
  if (text.size() % 4 != 0) return std::nullopt;

  std::string decoded;
  decoded.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const int a = SextetOf(text[i]);
    const int b = SextetOf(text[i + 1]);
    if (a < 0 || b < 0) return std::nullopt;
    decoded.push_back(static_cast<char>((a << 2) | (b >> 4)));
    if (text[i + 2] == '=') {
      if (text[i + 3] != '=') return std::nullopt;
      break;  // one byte, and the data ends here
    }
    const int c = SextetOf(text[i + 2]);
    if (c < 0) return std::nullopt;
    decoded.push_back(static_cast<char>(((b & 0x0F) << 4) | (c >> 2)));
    if (text[i + 3] == '=') break;  // two bytes, and the data ends here
    const int d = SextetOf(text[i + 3]);
    if (d < 0) return std::nullopt;
    decoded.push_back(static_cast<char>(((c & 0x03) << 6) | d));
  }
  return decoded;
}

}  // namespace vx
