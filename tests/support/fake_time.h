// A scripted time source for tests: a fixed local time, a clock that only moves when told to or
// when code sleeps, and a record of the sleeps.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "base/time_source.h"

namespace vx::test {

class FakeTime final : public TimeSource {
 public:
  LocalTime LocalNow() override {
    std::lock_guard<std::mutex> guard(mutex_);
    return local_;
  }
  std::uint64_t MonotonicMilliseconds() override {
    std::lock_guard<std::mutex> guard(mutex_);
    return monotonic_ms_;
  }
  std::int64_t UnixSeconds() override {
    std::lock_guard<std::mutex> guard(mutex_);
    return unix_seconds_ + static_cast<std::int64_t>(monotonic_ms_ / 1000);
  }
  void SleepMilliseconds(std::uint32_t milliseconds) override {
    std::lock_guard<std::mutex> guard(mutex_);
    sleeps_.push_back(milliseconds);
    monotonic_ms_ += milliseconds;
  }

  void SetLocal(const LocalTime& local) {
    std::lock_guard<std::mutex> guard(mutex_);
    local_ = local;
  }
  void Advance(std::uint64_t milliseconds) {
    std::lock_guard<std::mutex> guard(mutex_);
    monotonic_ms_ += milliseconds;
  }
  std::vector<std::uint32_t> Sleeps() {
    std::lock_guard<std::mutex> guard(mutex_);
    return sleeps_;
  }

 private:
  std::mutex mutex_;
  LocalTime local_{2022, 5, 19, 0, 36, 29, 47};
  std::uint64_t monotonic_ms_ = 1000000;
  std::int64_t unix_seconds_ = 1652920589;
  std::vector<std::uint32_t> sleeps_;
};

}  // namespace vx::test
