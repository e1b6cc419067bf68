#include <windows.h>

#include <string>

#include "agent/agent_config.h"
#include "agent/service_notification.h"
#include "base/unique_handle_win.h"
#include "logging/logger.h"
#include "platform/text_conversion.h"

namespace vx {

int SendServiceMsg(std::uint32_t control_code, const wchar_t* service_name) {
  const UniqueServiceHandle manager(::OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, SC_MANAGER_CONNECT));
  if (!manager) {
    LogError("SendServiceMsg : Failed to open Service Control Manager\n");
    return 0;
  }
  const UniqueServiceHandle service(
      service_name != nullptr ? ::OpenServiceW(manager.get(), service_name, SERVICE_USER_DEFINED_CONTROL) : nullptr);
  if (!service) {
    LogError("SendServiceMsg : Failed to open the Service\n");
    return 0;
  }
  LogInfo("SendServiceMsg : Service %ls Opened successfully\n", service_name);

  SERVICE_STATUS status{};
  int result = 0;
  if (::ControlService(service.get(), control_code, &status)) {
    LogInfo("SendServiceMsg : Notification is succeeded\n");
    result = 1;
  } else {
    LogError("SendServiceMsg : Notification failed %d \n", static_cast<int>(::GetLastError()));
  }
  // The service handle is declared after the manager's, so it is closed first.
  return result;
}

int NotifyAgentService(std::uint32_t control_code) {
  std::wstring service_name;
  if (!ChangeToWideStr(gv_agentServiceName ? gv_agentServiceName->c_str() : nullptr, service_name)) return 0;
  return SendServiceMsg(control_code, service_name.c_str());
}

}  // namespace vx
