// Readable explanations of WinHTTP error codes for the transport's log.
#pragma once

#include <cstdint>

namespace vx {

// The fixed explanation of a WinHTTP error code ("HttpGetLastError: ..."), or null for a code
// outside the WinHTTP range the table covers. Portable and thread-safe.
[[nodiscard]] const char* WinHttpErrorText(std::uint32_t code);

// Logs the explanation of code at error level: the fixed text, or for any other code the system's
// message text (Windows).
void HttpGetLastError(std::uint32_t code);

}  // namespace vx
