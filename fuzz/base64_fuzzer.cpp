// libFuzzer target: the proxy password's Base64 decoding on any bytes must stay inside its input,
// and whatever it decodes must come back from a plain re-encoding of the decoded bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "agent/base64.h"

namespace {

std::string Encode(const std::string& bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t j = 0; j < 3; ++j) {
      group = (group << 8) | (j < n ? static_cast<unsigned char>(bytes[i + j]) : 0u);
    }
    for (std::size_t j = 0; j < 4; ++j) text.push_back(j <= n ? kAlphabet[(group >> (18 - 6 * j)) & 0x3F] : '=');
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<std::string> decoded = vx::DecodeBase64(text);
  if (decoded) {
    // Decoding the canonical encoding of the result gives the result again.
    if (vx::DecodeBase64(Encode(*decoded)) != decoded) std::abort();
    if (decoded->size() > size / 4 * 3) std::abort();
  }
  return 0;
}
