#include <windows.h>

#include <cctype>

#include "agent/agent_config.h"
#include "logging/logger.h"
#include "platform/registry.h"

namespace vx {

std::optional<std::string> gv_installDir;
int gv_isWow64 = 0;
std::string gv_tempDir;

namespace {

constexpr DWORD kTempDirBufferSize = 255;

void LoadProcessFacts() {
  gv_isWow64 = 0;
  if (HMODULE kernel = ::GetModuleHandleA("kernel32")) {
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    const auto is_wow64_process =
        reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void*>(::GetProcAddress(kernel, "IsWow64Process")));
    BOOL wow64 = FALSE;
    if (is_wow64_process != nullptr && is_wow64_process(::GetCurrentProcess(), &wow64)) gv_isWow64 = wow64 ? 1 : 0;
  }
  char buffer[kTempDirBufferSize] = {};
  const DWORD length = ::GetEnvironmentVariableA("TEMP", buffer, kTempDirBufferSize - 1);
  // A value that does not fit is not copied at all (the call reports the size it would need).
  gv_tempDir = length < kTempDirBufferSize - 1 ? std::string(buffer, length) : std::string();
}

// A drive path ("C:\...") or a UNC path ("\\server\..."): the only forms an installation
// directory can take. Anything else (empty, relative, the raw bytes of a number) would put the log
// and the scanned files relative to whatever the current directory is.
bool IsAbsoluteWindowsPath(const std::string& path) {
  const auto is_separator = [](char c) { return c == '\\' || c == '/'; };
  if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
      is_separator(path[2])) {
    return true;
  }
  return path.size() >= 3 && is_separator(path[0]) && is_separator(path[1]) && !is_separator(path[2]);
}

}  // namespace

int GetAgentInstallDir(std::optional<std::string>& out) {
  out.reset();
  std::optional<std::string> bytes;
  const LSTATUS status = ReadRegSZ(HKEY_LOCAL_MACHINE, kAgentRootKey, kInstallDirValue, bytes);
  if (status != ERROR_SUCCESS) return status;
  std::string directory = RegistryText(*bytes);
  if (!IsAbsoluteWindowsPath(directory)) {
    LogError("GetAgentInstallDir : The agent installation directory in the registry is not an absolute path \n");
    return ERROR_INVALID_DATA;
  }
  out = std::move(directory);
  return ERROR_SUCCESS;
}

int InitializeAgentParameters() {
  LogDebug("@@@@@@@ Inside InitializeAgentParameters Method @@@@@@@@ \n");
  LoadProcessFacts();
  if (GetAgentInstallDir(gv_installDir) != ERROR_SUCCESS) {
    LogError("InitializeAgentDetails : Error while fetching agent installation directory from registry! \n");
    LogError("InitializeAgentParameters : Error while the Agent details ! \n");
    return ERROR_INVALID_DATA;
  }
  LogDebug("InitializeAgentParameters : Computer is not an imaged one .. \n");
  LogDebug("@@@@@@@@ End Of InitializeAgentParameters Method @@@@@@@@ \n");
  return 0;
}

}  // namespace vx
