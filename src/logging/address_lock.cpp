#include "logging/address_lock.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace vx {
namespace {

// Guards the list of held keys; held only while the list is walked or changed.
std::mutex& LockListMutex() {
  static std::mutex mutex;
  return mutex;
}

// Keys currently held, in the order they were taken.
std::vector<const void*>& HeldKeys() {
  static std::vector<const void*> keys;
  return keys;
}

// Back-off between polls of a busy key: the first 99 polls of one wait only yield, then the sleep
// grows by one millisecond every 100 polls, up to kMaxBackoffSleepMs. The counter belongs to one
// wait, so a long-running process never accumulates ever longer sleeps.
constexpr int kBackoffStep = 10;
constexpr int kMaxBackoffSleepMs = 10;

}  // namespace

int TryAcquireAddressLock(const void* key) {
  std::lock_guard<std::mutex> guard(LockListMutex());
  auto& keys = HeldKeys();
  if (std::find(keys.begin(), keys.end(), key) != keys.end()) return kAddressLockBusy;
  try {
    keys.push_back(key);
  } catch (...) {
    return kAddressLockBusy;
  }
  return kAddressLockTaken;
}

void AcquireAddressLock(const void* key) {
  int backoff = 0;
  while (TryAcquireAddressLock(key) == kAddressLockBusy) {
    backoff += kBackoffStep;
    const int sleep_ms = std::min(backoff / 1000, kMaxBackoffSleepMs);
    if (sleep_ms == 0) {
      std::this_thread::yield();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(sleep_ms));
    }
  }
}

int ReleaseAddressLock(const void* key) {
  std::lock_guard<std::mutex> guard(LockListMutex());
  auto& keys = HeldKeys();
  const auto found = std::find(keys.begin(), keys.end(), key);
  if (found == keys.end()) return kAddressLockNotHeld;
  keys.erase(found);
  return kAddressLockReleased;
}

}  // namespace vx
