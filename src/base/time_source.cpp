#include "base/time_source.h"

#include <atomic>

namespace vx {
namespace {
std::atomic<TimeSource*> g_override{nullptr};
}  // namespace

TimeSource& Time() {
  TimeSource* source = g_override.load(std::memory_order_acquire);
  return source != nullptr ? *source : SystemTime();
}

ScopedTimeSourceOverride::ScopedTimeSourceOverride(TimeSource& source)
    : previous_(g_override.exchange(&source, std::memory_order_acq_rel)) {}

ScopedTimeSourceOverride::~ScopedTimeSourceOverride() {
  g_override.store(previous_, std::memory_order_release);
}

}  // namespace vx
