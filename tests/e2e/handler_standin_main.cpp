// vxprereqhandler.exe as most end-to-end tests run it: the shipped program's flow, with the
// installer replaced by the stand-in MsiExec.exe that lies beside this program. The shipped program
// always starts the system directory's msiexec.exe.
#include <windows.h>

#include <string>

#include "agent/library_services.h"
#include "handler/handler.h"
#include "transport/request_routing.h"

int main() {
  char path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string directory(path, length);
  directory.resize(directory.find_last_of('\\') + 1);
  const vx::ScopedInstallerPathForTesting installer(directory + "MsiExec.exe");
  vx::InstallLibraryServices();
  vx::InstallTransportServices();
  return vx::RunPrerequisiteHandler();
}
