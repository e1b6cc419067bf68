#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
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

// Deletes a copy; false (logged, with the error in error) when it stays.
bool DeleteRotatedCopy(const std::string& path, DWORD& error) {
  if (::DeleteFileA(path.c_str())) {
    LogInfo("RotateSpecificLogs : The file %s was successfully deleted..:\n", path.c_str());
    return true;
  }
  error = ::GetLastError();
  LogInfo("RotateSpecificLogs : Unable to delete the file %s and the error code is :%d\n", path.c_str(),
          static_cast<int>(error));
  return false;
}

// The lowest copy number from 1 to newest_allowed that has no file, or 0 when all are present.
int FirstMissingCopy(const std::string& directory, const std::string& name, int newest_allowed) {
  for (int n = 1; n <= newest_allowed; ++n) {
    if (::GetFileAttributesA(MakeRotatedLogName(directory, name, n).c_str()) == INVALID_FILE_ATTRIBUTES) return n;
  }
  return 0;
}

constexpr DWORD kCopyPieceSize = 64 * 1024;
constexpr DWORD kDurableMove = MOVEFILE_WRITE_THROUGH;

// Set only by ScopedRotationStopForTesting.
std::optional<RotationStep>& StopStep() {
  static std::optional<RotationStep> step;
  return step;
}

// True when a test asked the rotation to end at this step, as a kill of the process would.
bool StopsHere(RotationStep step) { return StopStep() == step; }

void LogBlocked(const std::string& path, DWORD error) {
  LogError("RotateSpecificLogs : The rotation stops at %s, which cannot be moved (error code %d); no copy is "
           "overwritten and the live log is not rotated \n",
           path.c_str(), static_cast<int>(error));
}

UniqueHandle OpenForReading(const std::string& path) {
  return UniqueHandle(::CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

// Reads up to size bytes, fewer only at the end of the file; false on a read error.
bool ReadFull(HANDLE file, char* buffer, DWORD size, DWORD& count) {
  count = 0;
  while (count < size) {
    DWORD piece = 0;
    if (!::ReadFile(file, buffer + count, size - count, &piece, nullptr)) return false;
    if (piece == 0) break;
    count += piece;
  }
  return true;
}

// True when copy holds one byte or more and all of its bytes are the first bytes of live: the copy
// of an earlier rotation that ended before it truncated the live log.
bool IsNonEmptyPrefixOf(const std::string& copy, const std::string& live) {
  const UniqueHandle copy_file = OpenForReading(copy);
  const UniqueHandle live_file = OpenForReading(live);
  LARGE_INTEGER copy_size{};
  LARGE_INTEGER live_size{};
  if (!copy_file || !live_file || !::GetFileSizeEx(copy_file.get(), &copy_size) ||
      !::GetFileSizeEx(live_file.get(), &live_size) || copy_size.QuadPart == 0 ||
      copy_size.QuadPart > live_size.QuadPart) {
    return false;
  }
  const std::unique_ptr<char[]> buffers(new (std::nothrow) char[2 * kCopyPieceSize]);
  if (!buffers) return false;
  char* const ours = buffers.get();
  char* const theirs = ours + kCopyPieceSize;
  for (long long left = copy_size.QuadPart; left > 0;) {
    const DWORD want = static_cast<DWORD>(std::min<long long>(left, kCopyPieceSize));
    DWORD copy_count = 0;
    DWORD live_count = 0;
    if (!ReadFull(copy_file.get(), ours, want, copy_count) || !ReadFull(live_file.get(), theirs, want, live_count) ||
        copy_count != want || live_count != want || std::memcmp(ours, theirs, want) != 0) {
      return false;
    }
    left -= want;
  }
  return true;
}

// Writes the bytes of source into a new file at target and makes them durable; 0 or the error.
// A kill leaves at most a partial target, which is never a rotated copy's name.
DWORD CopyToDurableFile(const std::string& source, const std::string& target) {
  const UniqueHandle input = OpenForReading(source);
  if (!input) return ::GetLastError();
  const UniqueHandle output(
      ::CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!output) return ::GetLastError();
  const std::unique_ptr<char[]> buffer(new (std::nothrow) char[kCopyPieceSize]);
  if (!buffer) return ERROR_NOT_ENOUGH_MEMORY;
  for (bool first = true;; first = false) {
    DWORD count = 0;
    if (!::ReadFile(input.get(), buffer.get(), kCopyPieceSize, &count, nullptr)) return ::GetLastError();
    if (count == 0) break;
    DWORD written = 0;
    if (!::WriteFile(output.get(), buffer.get(), count, &written, nullptr)) return ::GetLastError();
    if (written != count) return ERROR_WRITE_FAULT;
    if (first && StopsHere(RotationStep::kLiveCopyPartlyWritten)) return ERROR_OPERATION_ABORTED;
  }
  return ::FlushFileBuffers(output.get()) ? 0 : ::GetLastError();
}

// The live log's copy is written under a name of its own and put in place only when whole, so a
// kill never leaves a torn copy 1. The name does not start with the log's base, so it is neither
// counted nor ever taken for a rotated copy.
std::string PendingCopyName(const std::string& directory, const std::string& name) {
  return directory + "\\~" + LogBaseName(name) + "1.log";
}

// Puts the live log's content in copy 1 and truncates the live file, under the log lock token, so
// that no line is written between copy and truncation (it would be in neither file) and none is cut.
// replace is set when copy 1 holds the first bytes of the live log (a rotation ended before its
// truncation): it is replaced by the whole live log instead of being shifted on. Nothing is logged
// while the token is held: the level functions take the same, non-re-entrant lock.
void CopyAndTruncateLiveLog(const std::string& live_path, const std::string& pending,
                            const std::string& destination, bool replace) {
  const std::wstring live_wide = AnsiToWide(live_path);
  DWORD copy_error = 0;
  bool truncated = false;
  DWORD truncate_error = 0;
  {
    AddressLockGuard lock(LogLockToken());
    copy_error = CopyToDurableFile(live_path, pending);
    if (StopsHere(RotationStep::kLiveCopyPartlyWritten)) return;
    if (copy_error == 0 &&
        !::MoveFileExA(pending.c_str(), destination.c_str(), kDurableMove | (replace ? MOVEFILE_REPLACE_EXISTING : 0))) {
      copy_error = ::GetLastError();
    }
    if (copy_error != 0) {
      (void)::DeleteFileA(pending.c_str());
    } else {
      if (StopsHere(RotationStep::kCopyPlacedLiveNotTruncated)) return;
      const UniqueHandle file(::CreateFileA(live_path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                                            TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      truncated = file.valid();
      if (!truncated) truncate_error = ::GetLastError();
    }
  }
  if (copy_error != 0) {
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

// Moves one copy up into a free number in one durable step. False (logged) when it cannot move.
bool ShiftCopy(const std::string& source, const std::string& destination) {
  if (!::MoveFileExA(source.c_str(), destination.c_str(), kDurableMove)) {
    const DWORD error = ::GetLastError();
    LogInfo("RotateSpecificLogs : CopyFile failed to move from %s to  %s and the error code is %d \n",
            source.c_str(), destination.c_str(), static_cast<int>(error));
    LogBlocked(source, error);
    return false;
  }
  LogInfo("RotateSpecificLogs : File copied from %s to  %s . \n", source.c_str(), destination.c_str());
  LogInfo("RotateSpecificLogs : The file %s was successfully deleted..:\n", source.c_str());
  return true;
}

// Before the oldest copy is dropped, every younger one must be able to move: each is opened for
// moving, sharing everything, and the handles are kept until the shift is done, so a viewer that
// shares only reading can neither hold one already nor open one meanwhile.
bool HoldCopiesForMoving(const std::string& directory, const std::string& name, int newest, int oldest,
                         std::vector<UniqueHandle>& held) {
  for (int n = newest; n <= oldest; ++n) {
    const std::string path = MakeRotatedLogName(directory, name, n);
    UniqueHandle file(::CreateFileA(path.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) {
      LogBlocked(path, ::GetLastError());
      return false;
    }
    held.push_back(std::move(file));
  }
  return true;
}

// Shifts the copies of one log up by one and puts the live log in copy 1. Each step is one that a
// kill cannot leave half done (a move in one durable step, copy 1 put in place whole), and no step
// overwrites a copy: copies move only into free numbers, the oldest is dropped only when every
// younger one can move, and the shift stops at the first copy that cannot move, leaving the copies
// below it and the live log as they are.
void RotateOneLog(const std::string& directory, const std::string& name, int oldest_kept) {
  const std::string live_path = directory + "\\" + name;
  const std::string pending = PendingCopyName(directory, name);
  const std::string newest = MakeRotatedLogName(directory, name, 1);
  // An earlier rotation put copy 1 in place and ended before it truncated the live log: that
  // rotation is finished, not repeated, or its lines would be in two copies.
  if (IsNonEmptyPrefixOf(newest, live_path)) {
    LogInfo("RotateSpecificLogs : %s holds the first bytes of the live log; finishing the interrupted rotation \n",
            newest.c_str());
    CopyAndTruncateLiveLog(live_path, pending, newest, true);
    return;
  }
  int top = FirstMissingCopy(directory, name, oldest_kept);
  const bool drop_oldest = top == 0;
  std::vector<UniqueHandle> held;
  if (drop_oldest) {
    top = oldest_kept;
    const std::string oldest = MakeRotatedLogName(directory, name, top);
    LogInfo("RotateSpecificLogs : The tempFileName1 : %s . \n", oldest.c_str());
    DWORD error = 0;
    if (!HoldCopiesForMoving(directory, name, 1, top - 1, held)) return;
    if (!DeleteRotatedCopy(oldest, error)) {
      LogBlocked(oldest, error);
      return;
    }
  }
  for (int number = top; number >= 1; --number) {
    const std::string source = MakeRotatedLogName(directory, name, number - 1);
    if (!(drop_oldest && number == top)) LogInfo("RotateSpecificLogs : The tempFileName1 : %s . \n", source.c_str());
    const std::string destination = MakeRotatedLogName(directory, name, number);
    LogInfo("RotateSpecificLogs : The tempFileName2 : %s . \n", destination.c_str());
    if (number == 1) {
      held.clear();
      CopyAndTruncateLiveLog(live_path, pending, destination, false);
    } else if (!ShiftCopy(source, destination)) {
      return;
    }
  }
}

VOID CALLBACK LoggerTimerRoutine(PVOID context, BOOLEAN /*timer_fired*/) {
  LogInfo("LoggerTimerRoutine : Inside LoggerTimerRoutine Method\n");
  (void)LoggerTimerMethod(static_cast<LoggerSettings*>(context));
  LogInfo("LoggerTimerRoutine : End of LoggerTimerRoutine Method\n");
}

}  // namespace

ScopedRotationStopForTesting::ScopedRotationStopForTesting(RotationStep step) { StopStep() = step; }
ScopedRotationStopForTesting::~ScopedRotationStopForTesting() { StopStep().reset(); }

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
  // A partial copy 1 left by a rotation that was ended during its copy.
  const std::string pending = PendingCopyName(directory_with_separator, name);
  if (::DeleteFileA(pending.c_str())) {
    LogInfo("RotateLoggerForEverRunningProcess : Deleted %s, left by an interrupted rotation \n", pending.c_str());
  }
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
    // The count is logged for support; the shift itself goes by the copies' numbers, so that a
    // missing copy (a rotation killed half-way, a copy deleted by hand) or another file starting
    // with the base never makes a copy overwrite one that should be kept.
    const int count = FindNoOfRepeatedFileNames(directory, LogBaseName(name));
    LogInfo("RotateSpecificLogs : The return Value from FindNumberOfRepeatedFileNames method is : %d \n", count);
    RotateOneLog(directory, name, std::max(rotated_copies - 1, 1));
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
