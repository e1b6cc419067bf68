#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "logging/address_lock.h"
#include "logging/log_rotation.h"
#include "logging/logger.h"
#include "logging/logging_startup.h"

namespace vx {

HANDLE LoggerTimerQueue();

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring AnsiToWide(const std::string& text) {
  const int length = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
  wide.resize(static_cast<std::size_t>(length - 1));
  return wide;
}

void LogErrorTextOf(DWORD code) {
  if (auto log_text = GetLoggingServices().log_error_text) log_text(code);
}

void LogErrorTextAnsiOf(DWORD code) {
  if (auto log_text = GetLoggingServices().log_error_text_ansi) (void)log_text(code);
}

void DeleteRotatedCopy(const std::string& path) {
  if (::DeleteFileA(path.c_str())) {
    LogInfo("RotateSpecificLogs : The file %s was successfully deleted..:\n", path.c_str());
  } else {
    const DWORD error = ::GetLastError();
    LogInfo("RotateSpecificLogs : Unable to delete the file %s and the error code is :%d\n", path.c_str(),
            static_cast<int>(error));
  }
}

// Makes a file's content durable. The copy of the live log must be on disk before the live file is
// truncated, or a power cut in between could leave the lines in neither file.
bool FlushToDisk(const std::string& path) {
  const UniqueHandle file(
      ::CreateFileA(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.valid() && ::FlushFileBuffers(file.get());
}

// The lowest copy number from 1 to newest_allowed that has no file, or 0 when all are present.
int FirstMissingCopy(const std::string& directory, const std::string& name, int newest_allowed) {
  for (int n = 1; n <= newest_allowed; ++n) {
    if (::GetFileAttributesA(MakeRotatedLogName(directory, name, n).c_str()) == INVALID_FILE_ATTRIBUTES) return n;
  }
  return 0;
}

// Copies the live file into copy 1, makes the copy durable and truncates the live file, all under
// the log lock token, so that no line is written between copy and truncation (it would be in
// neither file) and none is cut. Nothing is logged while the token is held: the level functions
// take the same, non-re-entrant lock.
void CopyAndTruncateLiveLog(const std::string& live_path, const std::string& destination) {
  const std::wstring live_wide = AnsiToWide(live_path);
  BOOL copied = FALSE;
  DWORD copy_error = 0;
  bool truncated = false;
  DWORD truncate_error = 0;
  {
    AddressLockGuard lock(LogLockToken());
    copied = ::CopyFileA(live_path.c_str(), destination.c_str(), FALSE) && FlushToDisk(destination);
    if (!copied) {
      copy_error = ::GetLastError();
    } else {
      const UniqueHandle file(::CreateFileA(live_path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                                            TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      truncated = file.valid();
      if (!truncated) truncate_error = ::GetLastError();
    }
  }
  if (!copied) {
    LogInfo("RotateSpecificLogs : CopyFile failed to move from %ls to  %s and the error code is %d \n",
            live_wide.c_str(), destination.c_str(), static_cast<int>(copy_error));
    return;
  }
  LogInfo("RotateSpecificLogs : File successfully copied from %ls to  %s so we are going to truncate the "
          "content of the first one \n",
          live_wide.c_str(), destination.c_str());
  if (!truncated) {
    std::printf("RotateSpecificLogs : Truncate Existing backup File failed file Name -%ls errorcode - %d\n",
                live_wide.c_str(), static_cast<int>(truncate_error));
    (void)std::fflush(stdout);
  }
}

VOID CALLBACK LoggerTimerRoutine(PVOID context, BOOLEAN /*timer_fired*/) {
  LogInfo("LoggerTimerRoutine : Inside LoggerTimerRoutine Method\n");
  (void)LoggerTimerMethod(static_cast<LoggerSettings*>(context));
  LogInfo("LoggerTimerRoutine : End of LoggerTimerRoutine Method\n");
}

}  // namespace

int LoggerTimerMethod(LoggerSettings* settings) {
  (void)RotateLoggerForEverRunningProcess(settings->directory, settings->file_name, settings->rotated_copies,
                                          settings->size_limit);
  HANDLE queue = LoggerTimerQueue();
  HANDLE timer = nullptr;
  // Without the logger's own queue the timer would land on the process default queue, which
  // StopLogging cannot stop; the chain ends instead.
  const BOOL created =
      queue != nullptr &&
      ::CreateTimerQueueTimer(&timer, queue, LoggerTimerRoutine, settings,
                              static_cast<DWORD>(settings->timer_period_ms), 0, WT_EXECUTEDEFAULT);
  if (created) {
    LogDebug("LoggerTimerMethod : Registered the TimerRoutime callback in next %d minutes . \n",
             settings->timer_period_ms / 60000);
    return 0;
  }
  const DWORD error = queue != nullptr ? ::GetLastError() : static_cast<DWORD>(ERROR_INVALID_HANDLE);
  LogError("LoggerTimerMethod : CreateTimerQueueTimer failed due to following error \n");
  LogErrorTextOf(error);
  return static_cast<int>(error);
}

int RotateLoggerForEverRunningProcess(const std::string& directory, const std::string& name, int rotated_copies,
                                      int size_limit) {
  const std::string directory_with_separator = directory + "\\";
  const std::string path = directory_with_separator + name;
  LogInfo("RotateLoggerForEverRunningProcess : cSfileName : %s \n", path.c_str());
  if (CheckLogSizeReached(path, size_limit) == 1) {
    return RotateSpecificLogs(directory_with_separator, name, rotated_copies, size_limit, 1);
  }
  return 0;
}

int CheckLogSizeReached(const std::string& path, int size_limit) {
  long long size = 0;
  const UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) {
    const DWORD error = ::GetLastError();
    LogError("CheckLogSizeReached : Unable to get the file handle \n");
    LogErrorTextAnsiOf(error);
  } else {
    LARGE_INTEGER file_size{};
    if (::GetFileSizeEx(file.get(), &file_size)) {
      size = file_size.QuadPart;
    } else {
      LogError("CheckLogSizeReached : Error occurred in getting the size %d \n", static_cast<int>(::GetLastError()));
    }
  }
  LogInfo("CheckLogSizeReached : The log file size of %s is given by %ld \n", path.c_str(),
          static_cast<long>(size));
  if (size < size_limit) {
    LogDebug("CheckLogSizeReached : The size is less the required size \n");
    return 0;
  }
  LogInfo("CheckLogSizeReached : The size is greater than the given size .........\n");
  return 1;
}

int RotateSpecificLogs(const std::string& directory, const std::string& names, int rotated_copies,
                       int /*size_limit*/, int /*mode*/) {
  LogInfo("\n @@@@@@@@@@@@@@@Inside RotateSpecificLogs Method @@@@@@@@@@@@@\n");
  std::string::size_type start = 0;
  while (start <= names.size()) {
    const std::string::size_type end = std::min(names.find(';', start), names.size());
    const std::string name = names.substr(start, end - start);
    start = end + 1;
    if (name.empty()) continue;

    LogInfo("RotateSpecificLogs : Log File Name : %s\n", name.c_str());
    // NOLINTNEXTLINE(performance-inefficient-string-concatenation): once per rotated log name.
    const std::string live_path = directory + "\\" + name;
    // The count is logged for support; the shift itself goes by the copies' numbers, so that a
    // missing copy (a rotation killed half-way, a copy deleted by hand) or another file starting
    // with the base never makes a copy overwrite one that should be kept.
    const int count = FindNoOfRepeatedFileNames(directory, LogBaseName(name));
    LogInfo("RotateSpecificLogs : The return Value from FindNumberOfRepeatedFileNames method is : %d \n", count);
    const int oldest_kept = std::max(rotated_copies - 1, 1);
    // Copies below the first missing number move up by one; with none missing the oldest goes.
    int top = FirstMissingCopy(directory, name, oldest_kept);
    if (top == 0) {
      top = oldest_kept;
      DeleteRotatedCopy(MakeRotatedLogName(directory, name, top));
    }
    for (int number = top; number >= 1; --number) {
      const std::string source = MakeRotatedLogName(directory, name, number - 1);
      LogInfo("RotateSpecificLogs : The tempFileName1 : %s . \n", source.c_str());
      const std::string destination = MakeRotatedLogName(directory, name, number);
      LogInfo("RotateSpecificLogs : The tempFileName2 : %s . \n", destination.c_str());
      if (number == 1) {
        CopyAndTruncateLiveLog(live_path, destination);
      } else if (::CopyFileA(source.c_str(), destination.c_str(), FALSE)) {
        LogInfo("RotateSpecificLogs : File copied from %s to  %s . \n", source.c_str(), destination.c_str());
        DeleteRotatedCopy(source);
      } else {
        const DWORD error = ::GetLastError();
        LogInfo("RotateSpecificLogs : CopyFile failed to move from %s to  %s and the error code is %d \n",
                source.c_str(), destination.c_str(), static_cast<int>(error));
      }
    }
  }
  LogInfo("\n @@@@@@@@@@@@@@@ End of RotateSpecificLogs Method with error code %d @@@@@@@@@@@@@\n", 0);
  return 0;
}

int FindNoOfRepeatedFileNames(const std::string& directory, const std::string& base) {
  LogDebug("@@@@@@@@@@@@Inside FindNoOfRepeatedFileNames Method @@@@@@@@@\n");
  const std::string pattern = directory + "\\" + base + "*.*";
  LogInfo("FindNoOfRepeatedFileNames : Successfully allocated szFormattedPath and the value is %s  .\n",
          pattern.c_str());
  WIN32_FIND_DATAA entry{};
  UniqueFindHandle search(::FindFirstFileA(pattern.c_str(), &entry));
  LogInfo("FindNoOfRepeatedFileNames : Successfully finded out first file  %d  .\n",
          static_cast<int>(reinterpret_cast<INT_PTR>(search.get())));
  int result = 0;
  if (!search) {
    LogErrorTextOf(::GetLastError());
    LogError("FindNumberOfRepeatedFileNames : Unable to find the files/folder.\n");
    result = -1;
  } else {
    do {
      ++result;
      LogInfo("FindNoOfRepeatedFileNames : after memset of szSrcPath is  %s  .\n",
              (directory + "\\" + entry.cFileName).c_str());
    } while (::FindNextFileA(search.get(), &entry));
    const DWORD error = ::GetLastError();
    if (error != ERROR_NO_MORE_FILES) {
      LogErrorTextOf(error);
      LogError("FindNumberOfRepeatedFileNames : Couldn't find next file :%d\n", static_cast<int>(error));
      result = -1;
    }
  }
  LogInfo("FindNoOfRepeatedFileNames : Going to Free the allocated memory in this method.\n");
  search.reset();
  LogDebug("@@@@@@@@@@@@End of FindNoOfRepeatedFileNames Method with return value of No of file count : %d\t  "
           "@@@@@@@@@\n",
           result);
  return result;
}

}  // namespace vx
