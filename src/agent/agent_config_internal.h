// Helpers shared by the loading steps of the agent configuration record (Windows).
#pragma once

#include <windows.h>

#include "agent/agent_config.h"

namespace vx {

// Reads a text value of HKEY_LOCAL_MACHINE\key into field: the field is reset first and, on success,
// set to the value's text up to its first NUL. The registry status.
LSTATUS ReadAgentText(const char* key, const char* name, OptionalText& field);

// field equals text without regard to ASCII case; an absent field equals nothing.
[[nodiscard]] bool EqualsNoCase(const OptionalText& field, const char* text);

// The text for a "%s" of the log: "(null)" for an absent field.
[[nodiscard]] inline const char* LogText(const OptionalText& field) { return field ? field->c_str() : "(null)"; }

}  // namespace vx
