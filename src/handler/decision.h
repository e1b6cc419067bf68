// The fixed values and the pure rules of the prerequisite handler's decision (portable).
#pragma once

namespace vx {

inline constexpr const char* kHandlerLogFileName = "vxprereqhandler.log";

struct SqlDetectionValue {
  const char* key_path;
  const char* value_name;
};
// Both read under HKEY_LOCAL_MACHINE in the 32-bit registry view.
inline constexpr SqlDetectionValue kSqlCurrentVersion{
    "SOFTWARE\\Microsoft\\Microsoft SQL Server\\120\\Tools\\ClientSetup\\CurrentVersion", "CurrentVersion"};
inline constexpr SqlDetectionValue kSqlEdition{"SOFTWARE\\Microsoft\\Microsoft SQL Server\\120\\Tools\\Setup",
                                               "Edition"};

// Formatted with the installation directory, which ends with a backslash as stored.
inline constexpr const char* kAccessLogPathFormat = "%s\\logs\\vxpatchinstallaccess.log";

struct UninstallCommand {
  const char* command_line;
  const char* result_format;
};
inline constexpr UninstallCommand kUninstallCommands[2] = {
    {"MsiExec.exe /X{7339C976-7C52-4A28-9B6A-E0DC1E128E2F} /q",
     "{7339C976-7C52-4A28-9B6A-E0DC1E128E2F} uninstallation error Code : %d\n"},
    {"MsiExec.exe /X{D183B98A-9688-4FC1-9793-E17E42C8BAB1} /q",
     "{D183B98A-9688-4FC1-9793-E17E42C8BAB1} uninstallation error Code : %d\n"},
};
inline constexpr int kUninstallTimeLimitMinutes = 30;

inline constexpr const char* kSqlInstalledMessage =
    "SQL product installed. No need to perform component uninstallation.\n";
inline constexpr const char* kPatchNotInstalledMessage =
    "Patch not installed by VX. No need to perform component uninstallation.\n";

// SQL Server 2014 tools count as installed when either detection value could be read.
[[nodiscard]] constexpr bool SqlToolsInstalled(long current_version_result, long edition_result) {
  return !(current_version_result != 0 && edition_result != 0);
}

// The program's exit code after both uninstalls ran: the second result when both failed (1605
// for two products Windows Installer does not know), 0 when either succeeded.
[[nodiscard]] constexpr int UninstallExitCode(int code1, int code2) {
  return (code1 != 0 && code2 != 0) ? code2 : 0;
}

}  // namespace vx
