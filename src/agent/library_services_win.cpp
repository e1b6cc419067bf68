#include "agent/library_services.h"

#include <windows.h>

#include "agent/agent_config.h"
#include "agent/result_text.h"
#include "logging/logging_startup.h"
#include "platform/registry.h"
#include "platform/text_conversion.h"

namespace vx {
namespace {

int LoadInstallDirForLogging(std::string& directory) {
  const int status = GetAgentInstallDir(gv_installDir);
  if (status == 0) directory = *gv_installDir;
  return status;
}

int ReadLogLevel(std::uint32_t& level) {
  DWORD value = 0;
  const LSTATUS status = ReadDwordRegistryData(HKEY_LOCAL_MACHINE, kAgentRootKey, kLogLevelValue, &value);
  if (status == ERROR_SUCCESS) level = value;
  return status;
}

}  // namespace

void InstallLibraryServices() {
  LoggingServices services;
  services.load_install_dir = &LoadInstallDirForLogging;
  services.read_log_level = &ReadLogLevel;
  services.log_error_text = &LogErrorText;
  services.log_error_text_ansi = &LogErrorTextAnsi;
  SetLoggingServices(services);
  SetResultTextProvider(&GetResultText);
}

}  // namespace vx
