#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>

#include <cstdio>
#include <limits>
#include <string>

#include "agent/file_utils.h"
#include "base/time_source.h"
#include "base/unique_handle_win.h"
#include "logging/logger.h"
#include "platform/system_library_win.h"
#include "platform/text_conversion.h"

namespace vx {
namespace {

constexpr int kInvalidData = ERROR_INVALID_DATA;
constexpr std::int64_t kFileTimeTicksPerSecond = 10000000;

std::int64_t FileTimeTicks(const FILETIME& time) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

// The 8-bit path as the A functions of the system read it (ANSI code page), so that the directory
// created is the one CreateFileA and fopen then use.
std::wstring AnsiPathToWide(const char* path) {
  const int length = ::MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  (void)::MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), length);
  wide.resize(static_cast<std::size_t>(length) - 1);
  return wide;
}

// The zone's standard offset in seconds, west of UTC positive, as the C runtime keeps it.
std::int64_t StandardOffsetSeconds() {
  TIME_ZONE_INFORMATION zone{};
  if (::GetTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID) return 0;
  std::int64_t minutes = zone.Bias;
  if (zone.StandardDate.wMonth != 0) minutes += zone.StandardBias;
  return minutes * 60;
}

SYSTEMTIME UtcSystemTime(std::int64_t unix_seconds) {
  const UtcCalendarTime time = UtcCalendarTimeFromUnixSeconds(unix_seconds);
  SYSTEMTIME system{};
  system.wYear = static_cast<WORD>(time.year);
  system.wMonth = static_cast<WORD>(time.month);
  system.wDayOfWeek = static_cast<WORD>(time.day_of_week);
  system.wDay = static_cast<WORD>(time.day);
  system.wHour = static_cast<WORD>(time.hour);
  system.wMinute = static_cast<WORD>(time.minute);
  system.wSecond = static_cast<WORD>(time.second);
  return system;
}

}  // namespace

int CreateFolder(const wchar_t* path) {
  LogDebug("CreateFolder : CreateFolder function called with %ls\n", path != nullptr ? path : L"(null)");
  std::string utf8_path;
  if (path == nullptr || !ChangeWideToUtf8Str(path, utf8_path)) {
    LogError("CreateFolder : The directory to create is NULL . \n");
    return kInvalidData;
  }

  int code = ERROR_ALREADY_EXISTS;
  bool is_drive = utf8_path.size() >= 1 && utf8_path.size() <= 3;
  if (!is_drive) {
    // The directory is everything before the last component, with its trailing backslash; a path
    // without a backslash is taken as the directory itself.
    const std::string last = GetLastFileName(utf8_path.c_str()).value_or(std::string());
    const std::string prefix = utf8_path.substr(0, utf8_path.size() - last.size());
    const std::string directory = prefix.empty() ? utf8_path : prefix;
    is_drive = prefix.size() >= 1 && prefix.size() <= 3;
    if (!is_drive) {
      LogInfo("CreateFolder : The Directory to create is %s \n", directory.c_str());
      // shell32 is bound at first use: it pulls in much of the user interface.
      static const auto create_directory =
          SystemFunction<decltype(&::SHCreateDirectoryExW)>(L"shell32.dll", "SHCreateDirectoryExW");
      std::wstring wide_directory;
      if (!ChangeToWideStr(directory.c_str(), wide_directory)) {
        code = kInvalidData;
      } else {
        code = create_directory != nullptr ? create_directory(nullptr, wide_directory.c_str(), nullptr)
                                           : static_cast<int>(ERROR_PROC_NOT_FOUND);
      }
    }
  }
  if (is_drive) LogInfo("CreateFolder : The Drive letter Given.hence it cannot be created \n");

  if (code == ERROR_ALREADY_EXISTS) code = ERROR_SUCCESS;
  LogDebug("CreateFolder function returns Error code %d \n", code);
  if (code != ERROR_SUCCESS) LogErrorText(static_cast<std::uint32_t>(code));
  return code;
}

int CheckFileExists(const char* path) {
  LogDebug("@@@@@@@@ Inside CheckFileExists Method @@@@@@@@ \n");
  LogDebug("FileName to search -> %s \n", path != nullptr ? path : "(null)");
  int result = ERROR_FILE_NOT_FOUND;
  if (path != nullptr) {
    WIN32_FIND_DATAA found{};
    const UniqueFindHandle search(::FindFirstFileA(path, &found));
    if (search) {
      result = ERROR_SUCCESS;
    } else {
      LogError("CheckFileExists -> Invalid File Handle. %d \n", static_cast<int>(::GetLastError()));
    }
  }
  LogDebug("@@@@@@@@ End Of CheckFileExists Method @@@@@@@@ \n");
  return result;
}

int CheckFileExists(const wchar_t* path) {
  LogDebug("@@@@@@@@ Inside CheckFileExists Method @@@@@@@@ \n");
  if (path == nullptr) return kInvalidData;
  LogDebug("FileName to search -> %ls \n", path);
  int result = ERROR_SUCCESS;
  WIN32_FIND_DATAW found{};
  const UniqueFindHandle search(::FindFirstFileW(path, &found));
  if (!search) {
    LogError("CheckFileExists -> Invalid File Handle. %d \n", static_cast<int>(::GetLastError()));
    result = ERROR_FILE_NOT_FOUND;
  }
  LogDebug("@@@@@@@@ End Of CheckFileExists Method @@@@@@@@ \n");
  return result;
}

int FileExists(const char* path) { return CheckFileExists(path) == ERROR_SUCCESS ? 1 : 0; }

int GetFileSize64(const char* path, std::int64_t* size) {
  if (size != nullptr) *size = 0;
  if (path == nullptr || size == nullptr) return 0;
  // Read-control access needs no data access, so a file that another process holds open is sized too.
  const UniqueHandle file(::CreateFileA(path, READ_CONTROL, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 0;
  LARGE_INTEGER file_size{};
  if (!::GetFileSizeEx(file.get(), &file_size)) return 0;
  *size = file_size.QuadPart;
  return 1;
}

int AppendLineToFile(const char* path, const char* text) {
  if (path == nullptr) return kInvalidData;
  int result = ERROR_SUCCESS;
  if (CheckFileExists(path) != ERROR_SUCCESS) {
    const std::wstring wide_path = AnsiPathToWide(path);
    (void)CreateFolder(wide_path.c_str());
    const UniqueHandle file(::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    // A created file is success whatever the last error still holds.
    result = file ? ERROR_SUCCESS : static_cast<int>(::GetLastError());
    LogErrorText(static_cast<std::uint32_t>(result));
  }
  if (std::FILE* stream = std::fopen(path, "a+")) {
    if (text != nullptr) (void)std::fputs(text, stream);
    (void)std::fputs("\n", stream);
    (void)std::fclose(stream);
  }
  return result;
}

bool SecondsSince1970(const SYSTEMTIME& time, std::int64_t& seconds) {
  constexpr SYSTEMTIME kEpoch{1970, 1, 4, 1, 0, 0, 0, 0};
  FILETIME time_ticks{};
  FILETIME epoch_ticks{};
  if (!::SystemTimeToFileTime(&time, &time_ticks) || !::SystemTimeToFileTime(&kEpoch, &epoch_ticks)) return false;
  seconds = (FileTimeTicks(time_ticks) - FileTimeTicks(epoch_ticks)) / kFileTimeTicksPerSecond;
  return true;
}

std::wstring CurrentTimeMillisText() {
  // Seconds and their milliseconds from the same clock (the time seam's; UTC).
  TimeSource& clock = Time();
  const std::int64_t milliseconds = clock.UnixSeconds() * 1000 + clock.LocalNow().millisecond;
  std::wstring text = std::to_wstring(milliseconds);
  std::printf("\nTime = %ls", text.c_str());
  return text;
}

std::int32_t GetTimeInSeconds(const SYSTEMTIME& local_time) {
  std::int64_t seconds = 0;
  if (!SecondsSince1970(local_time, seconds)) seconds = 0;
  const std::int64_t total = seconds + StandardOffsetSeconds();
  LogDebug("GetTimeInSeconds : retDate :: %s\n", std::to_string(total).c_str());
  const std::int64_t lowest = std::numeric_limits<std::int32_t>::min();
  const std::int64_t highest = std::numeric_limits<std::int32_t>::max();
  const auto result = static_cast<std::int32_t>(total < lowest ? lowest : (total > highest ? highest : total));
  LogInfo("GetTimeInSeconds : Time in Second : %d\n", static_cast<int>(result));
  return result;
}

std::int32_t CurrentTimeInSeconds() {
  TIME_ZONE_INFORMATION zone{};
  // Taking the daylight bias off here cancels the conversion's own daylight step, and
  // GetTimeInSeconds adds the standard offset back: the count is UTC in every season.
  if (::GetTimeZoneInformation(&zone) == TIME_ZONE_ID_DAYLIGHT) zone.Bias -= zone.DaylightBias;
  const SYSTEMTIME utc = UtcSystemTime(Time().UnixSeconds());
  SYSTEMTIME local{};
  if (!::SystemTimeToTzSpecificLocalTime(&zone, &utc, &local)) local = utc;
  return GetTimeInSeconds(local);
}

}  // namespace vx
