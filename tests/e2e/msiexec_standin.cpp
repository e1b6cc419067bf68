// A stand-in for MsiExec.exe: the test build of the handler starts it by its path (the installer
// path seam); beside the shipped program or in its current directory it must never run. It
// answers "/X{product} ..." with the exit code named by the environment variable
// VXTEST_MSIEXEC_<first 8 characters of the product code> (0 when unset), and appends its command
// line to the file named by VXTEST_MSIEXEC_RECORD when that is set.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main() {
  const char* command_line = ::GetCommandLineA();
  if (const char* record = std::getenv("VXTEST_MSIEXEC_RECORD")) {
    if (std::FILE* file = std::fopen(record, "a")) {
      std::fprintf(file, "%s\n", command_line);
      std::fclose(file);
    }
  }
  const char* product = std::strstr(command_line, "/X{");
  if (product == nullptr || std::strlen(product) < 11) return 1639;  // invalid command line
  const std::string variable = "VXTEST_MSIEXEC_" + std::string(product + 3, 8);
  const char* code = std::getenv(variable.c_str());
  return code != nullptr ? static_cast<int>(std::strtoul(code, nullptr, 10)) : 0;
}
