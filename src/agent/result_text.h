// Readable texts for result codes that Windows has no message for: patch and Office update
// installer codes and a few of the agent's own codes. Portable and thread-safe.
#pragma once

#include <cstdint>
#include <string>

namespace vx {

// The table's text for code, or "Unknown Error. Code : <code>" with the code as a signed decimal.
[[nodiscard]] std::string GetResultText(std::uint32_t code);

}  // namespace vx
