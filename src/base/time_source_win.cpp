#include <windows.h>

#include "base/time_source.h"

namespace vx {
namespace {

class WindowsTime final : public TimeSource {
 public:
  LocalTime LocalNow() override {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const std::uint64_t seconds = ticks / 10000000u;
    // The conversion to local time is the costly part; within one second only the milliseconds
    // change, so the converted fields are kept per thread.
    thread_local std::uint64_t cached_seconds = ~std::uint64_t{0};
    thread_local SYSTEMTIME local{};
    if (seconds != cached_seconds) {
      FILETIME local_file_time{};
      if (!::FileTimeToLocalFileTime(&now, &local_file_time) || !::FileTimeToSystemTime(&local_file_time, &local)) {
        ::GetLocalTime(&local);
      }
      cached_seconds = seconds;
    }
    const int milliseconds = static_cast<int>((ticks / 10000u) % 1000u);
    return {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond, milliseconds};
  }
  std::uint64_t MonotonicMilliseconds() override { return ::GetTickCount64(); }
  std::int64_t UnixSeconds() override {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    constexpr std::uint64_t kTicksPerSecond = 10000000ULL;
    constexpr std::uint64_t kEpochDifferenceSeconds = 11644473600ULL;  // 1601-01-01 to 1970-01-01
    return static_cast<std::int64_t>(ticks / kTicksPerSecond) - static_cast<std::int64_t>(kEpochDifferenceSeconds);
  }
  void SleepMilliseconds(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }
};

}  // namespace

TimeSource& SystemTime() {
  static WindowsTime source;
  return source;
}

std::uint32_t CurrentThreadId() { return ::GetCurrentThreadId(); }

}  // namespace vx
