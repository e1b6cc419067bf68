#include "agent/base64.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

namespace vx {
namespace {

TEST(DecodeBase64, Table) {
  using namespace std::string_literals;
  const struct {
    const char* name;
    std::string text;
    std::optional<std::string> decoded;
  } cases[] = {
      {"empty", "", ""},
      {"only white space", " \t\r\n", ""},
      {"three bytes per group", "c2VjcmV0", "secret"},
      {"surrounding white space and a line end", "  c2VjcmV0\r\n", "secret"},
      {"8 characters ending in == give 4 bytes", "YWJjZA==", "abcd"},
      {"8 characters ending in = give 5 bytes", "YWJjZGU=", "abcde"},
      {"characters after a group that ends the data are ignored", "YQ==!!!!", "a"},
      {"a zero byte inside stays in the bytes", "YQBi", "a\0b"s},
      {"bytes of 128 and more", "/+8=", "\xff\xef"s},
      {"length not a multiple of 4", "c2VjcmV", std::nullopt},
      {"white space inside", "c2Vj cmV0", std::nullopt},
      {"character outside the alphabet", "c2Vj-mV0", std::nullopt},
      {"byte of 128 or more", "c2Vj\xc3\xa9mV0", std::nullopt},
      {"fill in the first two characters", "=QAA", std::nullopt},
      {"fill then data", "YQ=A", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DecodeBase64(c.text), c.decoded);
  }
}

// Every byte string decodes to itself from its encoding, also with any bytes after an end group.
TEST(DecodeBase64, AnyBytesRoundTrip) {
  constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string bytes;
  for (int i = 0; i < 700; ++i) {
    std::string encoded;
    for (std::size_t at = 0; at < bytes.size(); at += 3) {
      const std::size_t count = std::min<std::size_t>(3, bytes.size() - at);
      std::uint32_t group = 0;
      for (std::size_t k = 0; k < 3; ++k)
        group = group << 8 | (k < count ? static_cast<unsigned char>(bytes[at + k]) : 0u);
      for (std::size_t k = 0; k < 4; ++k) encoded += k <= count ? kAlphabet[group >> (18 - 6 * k) & 0x3F] : '=';
    }
    ASSERT_EQ(DecodeBase64(encoded), bytes) << bytes.size() << " bytes";
    if (bytes.size() % 3 != 0) {
      ASSERT_EQ(DecodeBase64(encoded + (bytes + "??").substr(0, 3) + "!"), bytes)
          << bytes.size() << " bytes, then more";
    }
    bytes.push_back(static_cast<char>((i * 131 + 7) & 0xFF));
  }
}

}  // namespace
}  // namespace vx
