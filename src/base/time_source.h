// The time seam: local time, a monotonic clock, the Unix time and sleeping.
//
// Production code asks Time() for all of these so that tests can install a scripted source
// (ScopedTimeSourceOverride) and exercise pauses, pacing and age rules without waiting.
// Time() and the system source are thread-safe; an override must outlive every call made while it
// is installed, and is installed and removed by tests on one thread while no other thread runs.
#pragma once

#include <cstdint>

namespace vx {

struct LocalTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

class TimeSource {
 public:
  virtual ~TimeSource() = default;
  virtual LocalTime LocalNow() = 0;
  virtual std::uint64_t MonotonicMilliseconds() = 0;
  virtual std::int64_t UnixSeconds() = 0;
  virtual void SleepMilliseconds(std::uint32_t milliseconds) = 0;
};

// The source in force: the system's clock unless a test installed another.
TimeSource& Time();

// The operating system's clock (GetLocalTime/GetTickCount64/Sleep on Windows).
TimeSource& SystemTime();

// Installs a source for the lifetime of the object (tests only).
class ScopedTimeSourceOverride {
 public:
  explicit ScopedTimeSourceOverride(TimeSource& source);
  ~ScopedTimeSourceOverride();
  ScopedTimeSourceOverride(const ScopedTimeSourceOverride&) = delete;
  ScopedTimeSourceOverride& operator=(const ScopedTimeSourceOverride&) = delete;

 private:
  TimeSource* previous_;
};

// The calling thread's id as the system numbers it (GetCurrentThreadId on Windows).
std::uint32_t CurrentThreadId();

}  // namespace vx
