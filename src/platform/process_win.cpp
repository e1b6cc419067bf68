#include "platform/process.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "base/unique_handle_win.h"
#include "logging/logger.h"
#include "platform/text_conversion.h"

namespace vx {
namespace {

constexpr DWORD kCurrentDirectoryBufferSize = 4096;
constexpr DWORD kCreationFlags = CREATE_NO_WINDOW | CREATE_DEFAULT_ERROR_MODE;

// Restores the saved current directory when the call ends, whatever path it takes.
class CurrentDirectoryRestorer {
 public:
  explicit CurrentDirectoryRestorer(std::string saved) : saved_(std::move(saved)) {}
  ~CurrentDirectoryRestorer() { (void)::SetCurrentDirectoryA(saved_.c_str()); }
  CurrentDirectoryRestorer(const CurrentDirectoryRestorer&) = delete;
  CurrentDirectoryRestorer& operator=(const CurrentDirectoryRestorer&) = delete;

 private:
  std::string saved_;
};

DWORD WaitForMinutes(int minutes) {
  if (minutes <= 0) return 0;
  // Never INFINITE: a limit beyond 49 days is cut to the longest finite wait.
  const std::uint64_t milliseconds = static_cast<std::uint64_t>(minutes) * 60000u;
  return static_cast<DWORD>(std::min<std::uint64_t>(milliseconds, INFINITE - 1));
}

}  // namespace

int execute(const char* workingDirectory, const char* commandLine, std::optional<std::string>& remarks,
            int timeLimitMinutes, bool showWindow, const char* applicationPath) {
  return ExecuteWithWaitLimit(workingDirectory, commandLine, remarks, timeLimitMinutes,
                              WaitForMinutes(timeLimitMinutes), showWindow, applicationPath);
}

int ExecuteWithWaitLimit(const char* workingDirectory, const char* commandLine, std::optional<std::string>& remarks,
                         int timeLimitMinutes, DWORD waitMilliseconds, bool showWindow, const char* applicationPath) {
  LogDebug("@@@@@@@@ Inside execute Method @@@@@@@@ \n");
  if (commandLine == nullptr) {
    // Nothing to start: the program's code for a missing argument.
    remarks = GetErrorText(ERROR_INVALID_DATA);
    return ERROR_INVALID_DATA;
  }

  std::optional<CurrentDirectoryRestorer> restore_directory;
  if (workingDirectory != nullptr) {
    std::vector<char> saved(kCurrentDirectoryBufferSize, '\0');
    const DWORD length = ::GetCurrentDirectoryA(kCurrentDirectoryBufferSize, saved.data());
    if (length == 0) {
      const DWORD error = ::GetLastError();
      LogError("execute: Failed to get the CurrentWorkingDirectory \n");
      LogErrorText(error);
      remarks = GetErrorText(error);
      return static_cast<int>(error);
    }
    if (length >= kCurrentDirectoryBufferSize) {
      LogError("execute : CurrentWorkingDirectory Buffer overflow. Need to allocate the length for %d chars \n",
               static_cast<int>(length));
      remarks = GetErrorText(ERROR_INSUFFICIENT_BUFFER);
      return ERROR_INSUFFICIENT_BUFFER;
    }
    LogInfo("execute : Current Working Directory : %s \n", saved.data());
    LogInfo("execute : Executing Application Source : %s \n", commandLine);
    LogInfo("execute : Set Working Directory : %s \n", workingDirectory);
    if (!::SetCurrentDirectoryA(workingDirectory)) {
      const DWORD error = ::GetLastError();
      LogError("execute : Failed to set the WorkingDirectory %s \n ", workingDirectory);
      LogErrorText(error);
      remarks = GetErrorText(error);
      return static_cast<int>(error);
    }
    restore_directory.emplace(saved.data());
  }

  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  if (showWindow) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
  }
  PROCESS_INFORMATION created{};
  // CreateProcess may write into the command line, so it gets a copy of its own.
  std::vector<char> command(commandLine, commandLine + std::char_traits<char>::length(commandLine) + 1);
  const BOOL started = ::CreateProcessA(applicationPath, command.data(), nullptr, nullptr, FALSE, kCreationFlags,
                                        nullptr, workingDirectory, &startup, &created);
  const UniqueHandle process(created.hProcess);
  const UniqueHandle thread(created.hThread);

  int result = 0;
  if (!started) {
    result = static_cast<int>(::GetLastError());
    LogInfo("execute : Failed to Create the Process for the application \n");
    remarks = GetErrorText(static_cast<std::uint32_t>(result));
  } else {
    LogInfo("execute : Process successfully created for application %s \n", commandLine);
    if (timeLimitMinutes == 0 || waitMilliseconds == 0) {
      remarks = GetErrorText(0);
    } else {
      const DWORD wait = ::WaitForSingleObject(process.get(), waitMilliseconds);
      if (wait == WAIT_FAILED) {
        result = static_cast<int>(::GetLastError());
        LogError("execute : WaitForSingleObject Failed with error code %d \n", result);
        remarks = GetErrorText(static_cast<std::uint32_t>(result));
      } else if (wait == WAIT_TIMEOUT) {
        result = WAIT_TIMEOUT;
        LogInfo("execute : Terminating the Process for application %s as time is exceeded %d Minutes \n", commandLine,
                timeLimitMinutes);
        remarks = GetErrorText(WAIT_TIMEOUT);
        if (::TerminateProcess(process.get(), 0)) {
          LogInfo("execute : The process has been successfully terminated ..! \n");
        } else {
          LogError("execute : The process termination is failed with error code : %d \n",
                   static_cast<int>(::GetLastError()));
        }
      } else {
        DWORD exit_code = 0;
        if (::GetExitCodeProcess(process.get(), &exit_code)) {
          result = static_cast<int>(exit_code);
          remarks = GetErrorText(exit_code);
          LogInfo("execute : Exit code for the application : %d \n", result);
        } else {
          result = static_cast<int>(::GetLastError());
          LogInfo("execute : Unable to find the exit code for the application and the error code is : %d \n", result);
          remarks = GetErrorText(static_cast<std::uint32_t>(result));
        }
      }
    }
  }
  restore_directory.reset();
  LogInfo("execute : Remarks from the CreateProcess is %s for the executable %s \n",
          remarks ? remarks->c_str() : "(null)", commandLine);
  LogDebug("@@@@@@@@ End Of execute Method @@@@@@@@ \n");
  return result;
}

}  // namespace vx
