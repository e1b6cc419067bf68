// vxprereqhandler.exe: undoes a component installation that the agent's patch deployment made in
// error. Takes no arguments; the exit code is the installer's result, or 0 when nothing was done.
#include <windows.h>

#include "agent/library_services.h"
#include "handler/handler.h"
#include "transport/request_routing.h"

namespace {

// Elevated program: DLLs are only ever loaded from System32, never from the current or the
// program's directory. The call exists from Windows 8 (and Windows 7 with KB2533623) on.
void RestrictDllSearchToSystem32() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  if (HMODULE kernel = ::GetModuleHandleA("kernel32")) {
    const auto set_default_dll_directories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (set_default_dll_directories != nullptr) set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
}

}  // namespace

int main() {
  RestrictDllSearchToSystem32();
  vx::InstallLibraryServices();
  vx::InstallTransportServices();
  return vx::RunPrerequisiteHandler();
}
