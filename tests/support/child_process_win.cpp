#include "child_process_win.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace vx::test {
namespace {

// The current environment with the extra variables added or replaced, as a CreateProcess block.
std::vector<char> EnvironmentBlock(const std::map<std::string, std::string>& extra) {
  std::map<std::string, std::string> variables;
  if (char* current = ::GetEnvironmentStringsA()) {
    for (const char* entry = current; *entry != '\0'; entry += std::strlen(entry) + 1) {
      const std::string text = entry;
      const std::size_t equals = text.find('=', 1);  // "=C:=C:\..." entries start with '='
      if (equals != std::string::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    ::FreeEnvironmentStringsA(current);
  }
  for (const auto& [name, value] : extra) variables[name] = value;
  std::vector<char> block;
  for (const auto& [name, value] : variables) {
    const std::string entry = name + "=" + value;
    block.insert(block.end(), entry.begin(), entry.end());
    block.push_back('\0');
  }
  block.push_back('\0');
  return block;
}

}  // namespace

ChildResult RunChild(const std::string& command_line, const std::map<std::string, std::string>& environment,
                     unsigned long timeout_ms) {
  ChildResult result;
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!::CreatePipe(&read_end, &write_end, &inheritable, 0)) return result;
  ::SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = write_end;
  startup.hStdError = write_end;
  PROCESS_INFORMATION process{};
  std::vector<char> command(command_line.begin(), command_line.end());
  command.push_back('\0');
  std::vector<char> block = EnvironmentBlock(environment);
  const BOOL started = ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                        block.data(), nullptr, &startup, &process);
  ::CloseHandle(write_end);
  if (!started) {
    ::CloseHandle(read_end);
    return result;
  }
  std::thread reader([&] {
    char buffer[4096];
    DWORD count = 0;
    while (::ReadFile(read_end, buffer, sizeof(buffer), &count, nullptr) && count > 0) result.output.append(buffer, count);
  });
  if (::WaitForSingleObject(process.hProcess, timeout_ms) == WAIT_OBJECT_0) {
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    result.exit_code = code;
    result.started = true;
  } else {
    ::TerminateProcess(process.hProcess, 1);
  }
  reader.join();
  ::CloseHandle(read_end);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return result;
}

std::string WindowsPathOf(const std::string& linux_path) {
  if (linux_path.empty() || linux_path.front() != '/') return linux_path;
  std::string path = "Z:" + linux_path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

}  // namespace vx::test
