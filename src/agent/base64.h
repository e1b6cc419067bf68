// Decoding of the stored proxy password: standard Base64 (RFC 4648 alphabet, "=" as fill).
// Portable and thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vx {

// The decoded bytes of text, after white space at both ends is skipped. std::nullopt when the text
// is not valid: a trimmed length that is not a multiple of 4, a character outside the alphabet (any
// byte of 128 or more included), or a fill character where data is needed. Characters after a
// group that ends the data ("xx==" or "xxx=") are ignored. An empty text decodes to an empty result.
[[nodiscard]] std::optional<std::string> DecodeBase64(std::string_view text);

}  // namespace vx
