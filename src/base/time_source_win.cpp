#include <windows.h>

#include "base/time_source.h"

namespace vx {
namespace {

class WindowsTime final : public TimeSource {
 public:
  LocalTime LocalNow() override {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
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
