// Small operations on paths, files and clock values shared by log rotation, the transport and its
// access logs: the last component of a path or URL, the directory of a file, whether a file exists,
// its size, appending a line, and the date and time texts and second counts that the access logs
// and the download metadata record.
//
// Every text is returned as an owning std::string / std::wstring. The two-digit, short date and long
// date-time texts, which older callers kept in process-wide buffers, are returned by value too, so
// the functions are thread-safe. Calendar texts are UTC and take "now" from the time seam
// (Time().UnixSeconds()), broken down without the host's time zone. Path texts are 8-bit (ANSI on
// Windows) unless the parameter is UTF-16. Lines go to the process log.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#ifdef _WIN32
struct _SYSTEMTIME;  // SYSTEMTIME of <windows.h>; this header stays free of it.
#endif

namespace vx {

// --- Portable -----------------------------------------------------------------------------------

// The part after the last "\" (the whole path when there is none); none for a null path.
[[nodiscard]] std::optional<std::string> GetLastFileName(const char* path);
// The same with "/" as the separator.
[[nodiscard]] std::optional<std::string> GetLastUrlFileName(const char* url);

// A copy of text with every find replaced by replacement.
[[nodiscard]] std::string ReplaceChar(std::string_view text, char find, char replacement);

// The tens digit and the units digit of number (7 -> "07", 126 -> "26", 2026 -> "26").
[[nodiscard]] std::string TwoDigits(unsigned number);

// A UTC calendar time broken down from seconds since 1970-01-01 (proleptic Gregorian calendar).
struct UtcCalendarTime {
  std::int64_t year = 1970;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int day_of_week = 4;  // 0 = Sunday
};
[[nodiscard]] UtcCalendarTime UtcCalendarTimeFromUnixSeconds(std::int64_t unix_seconds);

// Today (UTC) as "yy-mm-dd".
[[nodiscard]] std::string ShortDateText();
// The UTC time of day as "hh:mm:ss". With twenty_four_hour false the hour counts from 0 to 11 as in
// LongDateTimeText; every caller of this system passes true.
[[nodiscard]] std::string TimeText(bool twenty_four_hour = true);
// Now (UTC) as "<Mon> dd,yyyy hh:mmAM" (hours 00 to 11, so noon is "00:00PM").
[[nodiscard]] std::string LongDateTimeText();

#ifdef _WIN32
// --- Windows ------------------------------------------------------------------------------------

// Creates every missing directory on the way to the directory that holds the file path names.
// 0 on success, when the directory exists or when it is a drive; 13 for a null path; else the
// Windows error code of SHCreateDirectoryExW.
[[nodiscard]] int CreateFolder(const wchar_t* path);

// 0 when a file or directory of that name exists, 2 otherwise (also for a null 8-bit path);
// 13 for a null UTF-16 path.
[[nodiscard]] int CheckFileExists(const char* path);
[[nodiscard]] int CheckFileExists(const wchar_t* path);
// 1 when CheckFileExists gives 0, else 0.
[[nodiscard]] int FileExists(const char* path);

// 1 and the size in *size on success; 0 on failure or null arguments. *size is 0 before the attempt.
[[nodiscard]] int GetFileSize64(const char* path, std::int64_t* size);

// Appends text and a line end (text mode: CR LF). A missing file is created first, with its
// directory; the result is then the error code of that creation (0 when created), and 0 when the
// file existed. 13 for a null path; a null text writes the line end alone.
int AppendLineToFile(const char* path, const char* text);

// Seconds since 1970-01-01 00:00:00 of time (whole seconds). False, seconds untouched, for a time
// that SystemTimeToFileTime rejects.
[[nodiscard]] bool SecondsSince1970(const _SYSTEMTIME& time, std::int64_t& seconds);

// The current UTC time in milliseconds since 1970 as decimal text; also printed to standard output
// as "\nTime = <text>".
std::wstring CurrentTimeMillisText();

// Seconds since 1970 of a local time, corrected by the zone's standard offset (daylight saving is
// not taken off). Times beyond the 32-bit range are clamped to it; a time SystemTimeToFileTime
// rejects counts from 1970-01-01.
[[nodiscard]] std::int32_t GetTimeInSeconds(const _SYSTEMTIME& local_time);

// Now, converted to local time with the system's zone (the daylight bias taken off the bias while
// daylight time is in effect), counted by GetTimeInSeconds.
[[nodiscard]] std::int32_t CurrentTimeInSeconds();
#endif

}  // namespace vx
