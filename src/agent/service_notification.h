// Sends a user-defined control code to a Windows service; the agent tells its own service this way
// that the resource identifier has been stored (control code 147) (Windows).
//
// Results are 1 when the control was delivered and 0 otherwise; every failure is logged and nothing
// is retried. Thread-safe: no state of its own.
#pragma once

#include <cstdint>

namespace vx {

inline constexpr std::uint32_t kResourceIdStoredControl = 147;

// Opens the local service control manager and the service named service_name, sends the control
// and closes both handles again.
[[nodiscard]] int SendServiceMsg(std::uint32_t control_code, const wchar_t* service_name);

// SendServiceMsg to the agent's service (gv_agentServiceName); 0 when the name is not loaded.
[[nodiscard]] int NotifyAgentService(std::uint32_t control_code);

}  // namespace vx
