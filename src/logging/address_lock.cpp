#include "logging/address_lock.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace vx {
namespace {

// Guards the list of held keys; held only for the few instructions that walk or change the list,
// so a thread that finds it taken spins (yielding the processor) rather than sleeping on a kernel
// object. Constant-initialised, so the lock works before and after everything else in the process.
class ListGuard {
 public:
  void lock() noexcept {
    while (taken_.exchange(true, std::memory_order_acquire)) {
      while (taken_.load(std::memory_order_relaxed)) std::this_thread::yield();
    }
  }
  void unlock() noexcept { taken_.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> taken_{false};
};
constinit ListGuard g_list_guard;

// Keys currently held, in the order they were taken. The vector keeps its storage, so taking a key
// allocates only when more keys are held at once than ever before.
std::vector<const void*>& HeldKeys() {
  static std::vector<const void*> keys;
  return keys;
}

// How many held keys hash to each slot. A waiter reads its key's slot without the guard and takes
// the guard only once the slot is empty, so polling a busy key hardly competes with the holder for
// the guard. Other keys may share the slot (the waiter's own among them), so every few polls the
// key is tried anyway. The counts change only under the guard.
constexpr std::size_t kHintSlots = 256;
constexpr unsigned kPollsBetweenForcedTries = 8;
std::array<std::atomic<int>, kHintSlots>& HeldHints() {
  static std::array<std::atomic<int>, kHintSlots> hints{};
  return hints;
}

std::atomic<int>& HintOf(const void* key) {
  const auto address = reinterpret_cast<std::uintptr_t>(key);
  return HeldHints()[((address >> 4) ^ (address >> 12)) % kHintSlots];
}

// Back-off between polls of a busy key: the first 99 polls of one wait only yield, then the sleep
// grows by one millisecond every 100 polls, up to kMaxBackoffSleepMs. The counter belongs to one
// wait, so a long-running process never accumulates ever longer sleeps.
constexpr int kBackoffStep = 10;
constexpr int kMaxBackoffSleepMs = 10;

}  // namespace

int TryAcquireAddressLock(const void* key) {
  auto& keys = HeldKeys();
  std::lock_guard<ListGuard> guard(g_list_guard);
  if (std::find(keys.begin(), keys.end(), key) != keys.end()) return kAddressLockBusy;
  try {
    keys.push_back(key);
  } catch (...) {
    return kAddressLockBusy;
  }
  HintOf(key).fetch_add(1, std::memory_order_relaxed);
  return kAddressLockTaken;
}

void AcquireAddressLock(const void* key) {
  int backoff = 0;
  unsigned polls = 0;
  const std::atomic<int>& hint = HintOf(key);
  for (;; ++polls) {
    const bool worth_trying = hint.load(std::memory_order_acquire) == 0 || polls % kPollsBetweenForcedTries == 0u;
    if (worth_trying && TryAcquireAddressLock(key) == kAddressLockTaken) return;
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
  auto& keys = HeldKeys();
  std::lock_guard<ListGuard> guard(g_list_guard);
  // Keys are mostly given back in the reverse order of taking (most often the only one held).
  if (!keys.empty() && keys.back() == key) {
    keys.pop_back();
  } else {
    const auto found = std::find(keys.begin(), keys.end(), key);
    if (found == keys.end()) return kAddressLockNotHeld;
    keys.erase(found);
  }
  HintOf(key).fetch_sub(1, std::memory_order_release);
  return kAddressLockReleased;
}

}  // namespace vx
