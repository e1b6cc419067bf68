// The prerequisite handler's decision on the live system (Windows).
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace vx {

// Reads a string value of HKEY_LOCAL_MACHINE\keyPath in the 32-bit (or 64-bit) registry view into
// value (a 2048-byte read; left as it was on failure). The open's or the read's error, 0 on
// success: 13 for a non-string or unterminated value, 234 for one that does not fit.
LSTATUS ReadRegSZView(const char* keyPath, const char* valueName, std::string& value, bool use64BitView);

// 1 when SQL Server 2014 tools are taken as installed, else 0.
int IsSQLProductInstalled();

// 1 when the patch-installation access log holds an evidence line, 0 when not or when it cannot
// be opened or read.
int InstallAccessLog();

// The whole run: start logging, load the configuration, decide, uninstall, stop logging.
// Returns the exit code.
int RunPrerequisiteHandler();

}  // namespace vx
