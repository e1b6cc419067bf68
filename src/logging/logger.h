// The process log: one text file for the whole process, written through four level functions.
//
// Each level call becomes one line, "[ <timestamp> ] [ <thread id> ] <tag> " followed by the
// caller's formatted text exactly as given (callers end their formats with "\n"), flushed at once.
// Lines are written under the address lock on the log lock token, so lines of different threads
// never mix and log rotation can truncate the live file between two lines.
//
// Until a file is open every level call is silently dropped, so code may log before start-up and
// after shutdown. Level functions are thread-safe; configuration (SetLogDefaults, ConfigureLog,
// OpenLogAppend, CloseLog, ReleaseLog) is done by the thread that starts and stops logging.
// Formats are always the program's own texts: outside text is passed as an argument, never as a
// format.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "base/printf_format.h"

namespace vx {

// Thresholds: a line is written when the log level is nonzero and at least the threshold.
inline constexpr std::uint8_t kInfoThreshold = 1;
inline constexpr std::uint8_t kErrorThreshold = 2;
inline constexpr std::uint8_t kDebugThreshold = 3;
inline constexpr std::uint8_t kTraceThreshold = 4;

inline constexpr std::uint8_t kDefaultLogLevel = 2;  // level used when the registry has none
inline constexpr const char* kDefaultLogFileName = "ctarsk.log";

void LogInfo(const char* format, ...) VX_PRINTF_FORMAT(1, 2);
void LogError(const char* format, ...) VX_PRINTF_FORMAT(1, 2);
void LogDebug(const char* format, ...) VX_PRINTF_FORMAT(1, 2);
void LogTrace(const char* format, ...) VX_PRINTF_FORMAT(1, 2);

// With no file open and no file name set: name "ctarsk.log", a new lock token, no directory or
// path, level 3. With a file open: level 3 only. Otherwise nothing changes. False only when
// memory runs out.
[[nodiscard]] bool SetLogDefaults();

// Copies name and directory and keeps the level's low 8 bits (256 behaves as 0, 260 as 4).
[[nodiscard]] bool ConfigureLog(const char* file_name, const char* directory, std::uint32_t level);

// Opens "<directory>/<file name>" for appending (creating the directory tree first) and writes
// the "Log open time" line. True when a file is open afterwards.
[[nodiscard]] bool OpenLogAppend();

// Writes the "Log close time" line and closes the file.
void CloseLog();

// Forgets file name, directory, path and the lock token.
void ReleaseLog();

[[nodiscard]] bool IsLogOpen();
[[nodiscard]] std::uint8_t CurrentLogLevel();
// The full path of the open log ("<directory>/<file name>"), or none.
[[nodiscard]] std::optional<std::string> CurrentLogPath();

// The key under which every line of the process log is written; none before SetLogDefaults and
// after ReleaseLog. Log rotation takes it while it copies and truncates the live file.
[[nodiscard]] const void* LogLockToken();

// Local time as "%d-%02d-%02d %02d:%02d:%02d:%03d"; none when memory runs out.
[[nodiscard]] std::optional<std::string> GetLogTimestamp();

// Creates a directory and, when its parent is missing, the parent first. 0 created, 1 already
// present, otherwise the C runtime's errno.
[[nodiscard]] int MakeDirectoryTree(const std::string& path);

// Appends the formatted text to the file at path (mode "a"); nothing happens when it cannot be
// opened. The text is written as formatted: a "%" that an argument brings in stays as it is.
void AppendFormattedToFile(const char* path, const char* format, ...) VX_PRINTF_FORMAT(2, 3);

// Creates the file with the header text when it does not exist yet; an existing file is untouched.
void CreateFileWithHeader(const char* path, const char* header);

// Formats into a string (used for lines and by other subsystems that build texts).
[[nodiscard]] std::string FormatText(const char* format, ...) VX_PRINTF_FORMAT(1, 2);
[[nodiscard]] std::string FormatTextV(const char* format, std::va_list args);

}  // namespace vx
