// Size-based rotation of the process log into numbered copies, checked at start-up and then from
// a one-shot timer that re-arms itself every timer period on a thread of the system's timer pool.
//
// With rotated copies = 5 at most copies 1 to 4 exist beside the live file; copy 1 is the newest.
// The live file is copied to copy 1 and truncated in place, so the logger's open stream goes on
// writing into the same file. Copy and truncation are made while holding the log lock token, so
// no line is lost between them or cut in half. No step overwrites a copy or leaves one torn when
// the process is ended in the middle: copies move in one durable step into free numbers, copy 1 is
// written under a name of its own and put in place whole, the oldest copy is dropped only when
// every younger one can move, and the next run finishes a rotation that ended before truncating.
// A copy that cannot move (held open by a program that shares only reading, or read-only where it
// would have to go) stops the shift there; the error line names it.
//
// Rotation runs on the thread that starts logging and then on the timer's thread, one at a time.
#pragma once

#include <cstdint>
#include <string>

namespace vx {

struct LoggerSettings {
  std::string file_name = "computer.log";
  std::string directory;           // agent installation directory followed by "logs"
  int rotated_copies = 5;
  int size_limit = 2000000;        // bytes
  int timer_period_ms = 900000;    // 15 minutes
  int open_mode = 1;               // append
  bool use_timer = true;
};

// The file name up to its first ".log" ("vxprereqhandler.log" -> "vxprereqhandler"); a name
// without ".log" has an empty base.
[[nodiscard]] std::string LogBaseName(const std::string& file_name);

// "<directory>\<base of name><n>.log".
[[nodiscard]] std::string MakeRotatedLogName(const std::string& directory, const std::string& name, int n);

#ifdef _WIN32
// Runs one rotation check and arms the next timer. 0 when the timer was armed, else the error.
int LoggerTimerMethod(LoggerSettings* settings);

int RotateLoggerForEverRunningProcess(const std::string& directory, const std::string& name,
                                      int rotated_copies, int size_limit);

// 1 when the file exists and its size is at least size_limit, else 0.
[[nodiscard]] int CheckLogSizeReached(const std::string& path, int size_limit);

// names: file names separated by ";". Mode 1 copies and truncates unconditionally (the only mode
// this program uses). Returns 0.
int RotateSpecificLogs(const std::string& directory, const std::string& names, int rotated_copies,
                       int size_limit, int mode);

// Number of entries of the directory whose name starts with base (files and directories), or -1.
[[nodiscard]] int FindNoOfRepeatedFileNames(const std::string& directory, const std::string& base);

// Points between the steps of a rotation where a process can be ended.
enum class RotationStep {
  kLiveCopyPartlyWritten,       // the first piece of the live log is in the new copy's file
  kCopyPlacedLiveNotTruncated,  // copy 1 holds the live log, which is not truncated yet
};

// Tests only: while the object lives, every rotation ends at step and leaves the files as a kill
// of the process there would (handles closed, nothing cleaned up). Not thread-safe.
class ScopedRotationStopForTesting {
 public:
  explicit ScopedRotationStopForTesting(RotationStep step);
  ~ScopedRotationStopForTesting();
  ScopedRotationStopForTesting(const ScopedRotationStopForTesting&) = delete;
  ScopedRotationStopForTesting& operator=(const ScopedRotationStopForTesting&) = delete;
};
#endif

}  // namespace vx
