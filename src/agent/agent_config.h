// The agent configuration record: process-wide settings loaded once at start-up from the agent's
// registry keys, then only read (Windows). An absent text is std::nullopt, never an empty string
// unless the registry holds an empty value.
#pragma once

#include <optional>
#include <string>

namespace vx {

inline constexpr const char* kAgentRootKey = "Software\\Norvane\\Quorvant\\VXAgent";
inline constexpr const char* kServerInfoKey = "Software\\Norvane\\Quorvant\\VXAgent\\ServerInfo";
inline constexpr const char* kSystemDetailsKey = "Software\\Norvane\\Quorvant\\VXAgent\\SystemDetails";

inline constexpr const char* kInstallDirValue = "VXAgentInstallDir";
inline constexpr const char* kLogLevelValue = "VXAgentLogLevel";

// The agent's installation directory as stored (it ends with a backslash).
extern std::optional<std::string> gv_installDir;
// 1 when the process runs under WOW64.
extern int gv_isWow64;
// The TEMP environment variable (at most 254 bytes), empty when unset.
extern std::string gv_tempDir;

// Reads "VXAgentInstallDir" of the agent root key into out (reset first). 0, the registry error,
// or 13 when the value is not an absolute path (empty, relative, or not text at all): such a
// directory would put the log and the scanned files relative to whatever the current directory is.
int GetAgentInstallDir(std::optional<std::string>& out);

// Loads the record: the process facts, then the agent details the programs of this library need.
// 0 when loaded, 13 when a required value is missing.
int InitializeAgentParameters();

}  // namespace vx
