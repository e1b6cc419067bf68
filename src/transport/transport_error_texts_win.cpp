#include "logging/logger.h"
#include "platform/text_conversion.h"
#include "transport/transport_error_texts.h"

namespace vx {

void HttpGetLastError(std::uint32_t code) {
  if (const char* text = WinHttpErrorText(code)) {
    LogError("%s", text);
    return;
  }
  LogErrorText(code);
}

}  // namespace vx
