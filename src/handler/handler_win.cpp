#include <cstdio>
#include <exception>
#include <utility>

#include "agent/agent_config.h"
#include "base/unique_handle_win.h"
#include "handler/access_log_scanner.h"
#include "handler/decision.h"
#include "handler/handler.h"
#include "logging/logger.h"
#include "logging/logging_startup.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace vx {
namespace {

// Set only by ScopedInstallerPathForTesting.
std::optional<std::string>& InstallerPathOverride() {
  static std::optional<std::string> path;
  return path;
}

void Report(const char* text) {
  LogInfo("%s", text);
  (void)std::fputs(text, stdout);
}

}  // namespace

int IsSQLProductInstalled() {
  std::string current_version;
  std::string edition;
  const LSTATUS current_version_result =
      ReadRegSZView(kSqlCurrentVersion.key_path, kSqlCurrentVersion.value_name, current_version, false);
  const LSTATUS edition_result = ReadRegSZView(kSqlEdition.key_path, kSqlEdition.value_name, edition, false);
  LogInfo("CurrentVersion : %s\n", current_version.c_str());
  LogInfo("Edition : %s\n", edition.c_str());
  LogInfo("ErrorCode01 : %ld\n", static_cast<long>(current_version_result));
  LogInfo("ErrorCode02 : %ld\n", static_cast<long>(edition_result));
  return SqlToolsInstalled(current_version_result, edition_result) ? 1 : 0;
}

int InstallAccessLog() {
  const std::string path = FormatText(kAccessLogPathFormat, gv_installDir ? gv_installDir->c_str() : "(null)");
  // Without an installation directory there is no path to open: a relative "(null)\..." is never
  // looked up in whatever the current directory happens to be.
  UniqueHandle file;
  DWORD open_error = ERROR_PATH_NOT_FOUND;
  if (gv_installDir) {
    file.reset(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) open_error = ::GetLastError();
  }
  if (!file) {
    LogError("Failed to open %s with error code : %d\n", path.c_str(), static_cast<int>(open_error));
    return 0;
  }

  DWORD read_error = 0;
  const auto read = [&](char* buffer, std::size_t size) -> long long {
    DWORD count = 0;
    const DWORD request = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!::ReadFile(file.get(), buffer, request, &count, nullptr)) {
      read_error = ::GetLastError();
      return -1;
    }
    return count;
  };
  AccessLogEvidence evidence;
  switch (ScanAccessLog(read, evidence)) {
    case AccessLogScanResult::kMatch:
      try {
        LogInfo("InstallAccessLog : %s\n", PrintableLine(evidence).c_str());
      } catch (const std::exception&) {
        // No memory for the printable copy of the line: the decision stands, the line is named only.
        LogInfo("InstallAccessLog : %s\n", "(evidence line found; no memory to show it)");
      }
      return 1;
    case AccessLogScanResult::kReadError:
      LogError("InstallAccessLog : Failed to read %s with error code : %d\n", path.c_str(),
               static_cast<int>(read_error));
      return 0;
    case AccessLogScanResult::kOutOfMemory:
      LogError("InstallAccessLog : Not enough memory to read a line of %s\n", path.c_str());
      return 0;
    case AccessLogScanResult::kNoMatch:
      break;
  }
  return 0;
}

std::string InstallerPath() {
  if (InstallerPathOverride()) return *InstallerPathOverride();
  char directory[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryA(directory, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  return std::string(directory, length) + "\\msiexec.exe";
}

ScopedInstallerPathForTesting::ScopedInstallerPathForTesting(std::string path)
    : previous_(std::exchange(InstallerPathOverride(), std::move(path))) {}

ScopedInstallerPathForTesting::~ScopedInstallerPathForTesting() { InstallerPathOverride() = std::move(previous_); }

int RunPrerequisiteHandler() {
  (void)StartLogging(kHandlerLogFileName);
  (void)InitializeAgentParameters();

  if (IsSQLProductInstalled() != 0) {
    Report(kSqlInstalledMessage);
    StopLogging();
    return 0;
  }
  if (InstallAccessLog() == 0) {
    Report(kPatchNotInstalledMessage);
    StopLogging();
    return 0;
  }

  // The command lines are logged and passed as they are; the program itself is named by its full
  // path. Without a system directory nothing is started: the commands fail as a missing program.
  const std::string installer = InstallerPath();
  if (installer.empty()) LogError("RunPrerequisiteHandler : The system directory could not be read \n");
  std::optional<std::string> remarks;
  int codes[2] = {ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND};
  for (int i = 0; i < 2 && !installer.empty(); ++i) {
    codes[i] = execute(nullptr, kUninstallCommands[i].command_line, remarks, kUninstallTimeLimitMinutes, false,
                       installer.c_str());
  }
  for (int i = 0; i < 2; ++i) LogInfo(kUninstallCommands[i].result_format, codes[i]);
  for (int i = 0; i < 2; ++i) std::printf(kUninstallCommands[i].result_format, codes[i]);
  (void)std::fflush(stdout);
  StopLogging();
  return UninstallExitCode(codes[0], codes[1]);
}

}  // namespace vx
