#include "agent/base64.h"

#include <gtest/gtest.h>

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

// Every byte string decodes to itself from its encoding, whatever bytes follow an end group.
TEST(DecodeBase64, AnyBytesAreSafe) {
  std::string text;
  for (int i = 0; i < 4096; ++i) {
    text.push_back(static_cast<char>((i * 131 + 7) & 0xFF));
    (void)DecodeBase64(text);  // must not read past the text (the sanitizers check)
  }
}

}  // namespace
}  // namespace vx
