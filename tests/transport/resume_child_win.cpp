// Test helper: one DOWNLOAD_FILE download through InternetGetRequestEx, in a process of its own so
// that a test can terminate it at any moment and start it again. With "DownloadMode" 1 in the
// registry (the caller sets it, and the save limit, before starting this program) the download keeps
// its partial file and metadata across such kills.
//
// Usage: vxtest_resume_child PORT OBJECT_PATH DESTINATION INSTALL_DIR [LOG_DIRECTORY]
//   The server is 127.0.0.1:PORT over plain HTTP. INSTALL_DIR becomes gv_installDir (a trailing
//   backslash is added when missing): the partial file and the transfer access logs go below it.
//   With LOG_DIRECTORY the process log is appended to LOG_DIRECTORY\resume_child.log at debug level,
//   so that a failing test can show what the runs did.
// Exits with the download's result (0 on success); 2 for bad arguments.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "agent/agent_config.h"
#include "agent/library_services.h"
#include "logging/logger.h"
#include "platform/text_conversion.h"
#include "transport/file_download_win.h"
#include "transport/transport_types.h"

namespace {

constexpr int kUsageError = 2;
constexpr std::uint32_t kDebugLogLevel = 3;

int Usage() {
  std::fprintf(stderr, "usage: vxtest_resume_child PORT OBJECT_PATH DESTINATION INSTALL_DIR [LOG_DIRECTORY]\n");
  return kUsageError;
}

// The configuration record as the agent's start-up leaves it for a plain HTTP server without proxy.
void SetUpConfiguration(std::string install_dir) {
  vx::ResetAgentParameters();
  if (install_dir.back() != '\\') install_dir += '\\';
  vx::gv_installDir = install_dir;
  char temp[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableA("TEMP", temp, MAX_PATH);
  vx::gv_tempDir = length > 0 && length < MAX_PATH ? std::string(temp, length) : std::string();
  vx::gv_httpConnectionTimeout = 10000;
  vx::gv_httpRequestTimeout = 30000;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) return Usage();
  errno = 0;
  char* end = nullptr;
  const long port = std::strtol(argv[1], &end, 10);
  if (errno != 0 || end == argv[1] || *end != '\0' || port <= 0 || port > 65535 || argv[4][0] == '\0') return Usage();

  vx::ConnectionParameters parameters;
  parameters.protocol = "http";
  parameters.server = L"127.0.0.1";
  parameters.port = static_cast<int>(port);
  std::wstring object_path;
  std::wstring destination;
  if (!vx::ChangeToWideStr(argv[2], object_path) || !vx::ChangeToWideStr(argv[3], destination)) {
    std::fprintf(stderr, "vxtest_resume_child: an argument is not valid text\n");
    return kUsageError;
  }
  vx::InstallLibraryServices();
  SetUpConfiguration(argv[4]);
  if (argc == 6) {
    (void)vx::SetLogDefaults();
    (void)vx::ConfigureLog("resume_child.log", argv[5], kDebugLogLevel);
    (void)vx::OpenLogAppend();
    vx::LogInfo("vxtest_resume_child: process %lu downloads %s\n", ::GetCurrentProcessId(), argv[2]);
  }

  const int result =
      vx::InternetGetRequestEx(parameters, object_path.c_str(), destination.c_str(), nullptr, vx::DOWNLOAD_FILE, 1, 1);
  vx::LogInfo("vxtest_resume_child: result %d\n", result);
  vx::CloseLog();
  vx::ReleaseLog();
  return result;
}
