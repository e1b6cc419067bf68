// The start-up floor of a handler that logs: opens the agent's key, reads its installation
// directory, appends one line to a file in its logs directory and prints one line, with the
// handler's toolchain, flags and stack guard. Anything the handler's no-op run takes beyond this
// program is the handler's own.
//
// Usage: vxbench_startup_floor.exe   (exit 0 when the line was appended, else 1)
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr char kAgentKey[] = "Software\\Norvane\\Quorvant\\VXAgent";
constexpr char kInstallDirValue[] = "VXAgentInstallDir";
constexpr char kLogName[] = "logs\\vxbench_startup_floor.log";

__attribute__((noinline)) int RunFloor() {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAgentKey, 0, KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS) {
    std::puts("startup floor: the agent's key is missing");
    return 1;
  }
  char directory[MAX_PATH + sizeof(kLogName)] = {};
  DWORD type = 0;
  DWORD size = MAX_PATH;
  const LSTATUS status =
      ::RegQueryValueExA(key, kInstallDirValue, nullptr, &type, reinterpret_cast<BYTE*>(directory), &size);
  ::RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_SZ || size == 0 || size > MAX_PATH) {
    std::puts("startup floor: no installation directory");
    return 1;
  }
  directory[size - 1] = '\0';
  std::strcat(directory, kLogName);
  std::FILE* file = std::fopen(directory, "a+");
  if (file == nullptr) {
    std::puts("startup floor: the log cannot be opened");
    return 1;
  }
  std::fputs("startup floor: one line\n", file);
  std::fflush(file);
  std::fclose(file);
  std::puts("startup floor: done");
  return 0;
}

}  // namespace

// main holds no guard copy of its own: the stack guard is seeded by a constructor that runs inside
// main's prologue.
int main() { return RunFloor(); }
