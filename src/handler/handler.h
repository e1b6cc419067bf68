// The prerequisite handler's decision on the live system (Windows).
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace vx {

// 1 when SQL Server 2014 tools are taken as installed, else 0 (both values read with
// ReadRegSZView in the 32-bit view).
int IsSQLProductInstalled();

// 1 when the patch-installation access log holds an evidence line, 0 when not or when it cannot
// be opened or read.
int InstallAccessLog();

// The installer the uninstall commands start: msiexec.exe in the system directory, by its full path,
// so that neither the program's own directory nor the current one can supply another program to
// run elevated. Empty when the system directory cannot be read.
[[nodiscard]] std::string InstallerPath();

// Tests only: InstallerPath returns path while the object lives (a stand-in installer).
class ScopedInstallerPathForTesting {
 public:
  explicit ScopedInstallerPathForTesting(std::string path);
  ~ScopedInstallerPathForTesting();
  ScopedInstallerPathForTesting(const ScopedInstallerPathForTesting&) = delete;
  ScopedInstallerPathForTesting& operator=(const ScopedInstallerPathForTesting&) = delete;

 private:
  std::optional<std::string> previous_;
};

// The whole run: start logging, load the configuration, decide, uninstall, stop logging.
// Returns the exit code.
int RunPrerequisiteHandler();

}  // namespace vx
