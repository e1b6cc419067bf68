// Registry helpers for tests (Windows). They talk to the registry directly, not through the code
// under test, and always name the view they use.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vx::test {

// The 32-bit view is where a 32-bit agent process finds its keys.
inline constexpr REGSAM kView32 = KEY_WOW64_32KEY;
inline constexpr REGSAM kView64 = KEY_WOW64_64KEY;

inline constexpr const char* kTestAgentRootKey = "Software\\Norvane\\Quorvant\\VXAgent";
inline constexpr const char* kTestNorvaneKey = "Software\\Norvane";
inline constexpr const char* kTestSqlServer120Key = "SOFTWARE\\Microsoft\\Microsoft SQL Server\\120";

// Removes HKLM\path with everything below it in the given view; true when it is gone.
bool DeleteTree(const char* path, REGSAM view);

void SetValue(const char* path, const char* name, DWORD type, std::string_view bytes, REGSAM view = kView32);
void SetString(const char* path, const char* name, std::string_view text, REGSAM view = kView32);
void SetDword(const char* path, const char* name, DWORD value, REGSAM view = kView32);
// The stored bytes and type of a value, or none.
struct StoredValue {
  DWORD type = REG_NONE;
  std::string bytes;
};
[[nodiscard]] std::optional<StoredValue> GetValue(const char* path, const char* name, REGSAM view = kView32);
// A REG_DWORD value, or none (absent, or of another type or size).
[[nodiscard]] std::optional<DWORD> GetDword(const char* path, const char* name, REGSAM view = kView32);
// The text of a REG_SZ or REG_EXPAND_SZ value up to its first NUL, or none.
[[nodiscard]] std::optional<std::string> GetText(const char* path, const char* name, REGSAM view = kView32);
[[nodiscard]] bool KeyExists(const char* path, REGSAM view = kView32);
// The names of the subkeys of HKLM\path; none when it is missing.
[[nodiscard]] std::vector<std::string> SubkeyNames(const char* path, REGSAM view = kView32);

// Clears the agent's keys (HKLM\Software\Norvane) and the SQL Server 2014 keys in both views when
// created and when destroyed, so every test starts from and leaves a clean machine.
class ScopedCleanRegistry {
 public:
  ScopedCleanRegistry();
  ~ScopedCleanRegistry();
  ScopedCleanRegistry(const ScopedCleanRegistry&) = delete;
  ScopedCleanRegistry& operator=(const ScopedCleanRegistry&) = delete;

 private:
  static void Clean();
};

}  // namespace vx::test
