#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <thread>

#include "base/time_source.h"

namespace vx {
namespace {

class PosixTime final : public TimeSource {
 public:
  LocalTime LocalNow() override {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    // The conversion to local time is the costly part; within one second it cannot change.
    thread_local std::time_t cached_seconds = -1;
    thread_local std::tm parts{};
    if (seconds != cached_seconds) {
      localtime_r(&seconds, &parts);
      cached_seconds = seconds;
    }
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
            parts.tm_min,         parts.tm_sec,     static_cast<int>(millis)};
  }
  std::uint64_t MonotonicMilliseconds() override {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
  }
  std::int64_t UnixSeconds() override {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  }
  void SleepMilliseconds(std::uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
};

}  // namespace

TimeSource& SystemTime() {
  static PosixTime source;
  return source;
}

std::uint32_t CurrentThreadId() { return static_cast<std::uint32_t>(::syscall(SYS_gettid)); }

}  // namespace vx
