// The process-wide address lock: a lock keyed by an object's address.
//
// Any number of keys can be held at once, each by one thread. The lock is not re-entrant: a thread
// must not ask for a key it already holds (it would wait for itself forever). Waiting never blocks
// on a kernel object for longer than the short hold of the internal mutex: a busy key is polled,
// yielding the processor first and then sleeping a little longer the longer one wait lasts.
// All functions are thread-safe and may be used before logging starts and after it stops.
#pragma once

namespace vx {

inline constexpr int kAddressLockTaken = 1;
inline constexpr int kAddressLockBusy = 2;  // also: the key could not be recorded (no memory)
inline constexpr int kAddressLockReleased = 4;
inline constexpr int kAddressLockNotHeld = 2;

// kAddressLockTaken when the key was free and is now held by the caller, else kAddressLockBusy.
[[nodiscard]] int TryAcquireAddressLock(const void* key);

// Returns once the caller holds the key.
void AcquireAddressLock(const void* key);

// kAddressLockReleased, or kAddressLockNotHeld when the key was not held.
int ReleaseAddressLock(const void* key);

// RAII holder of one key.
class AddressLockGuard {
 public:
  explicit AddressLockGuard(const void* key) : key_(key) { AcquireAddressLock(key_); }
  ~AddressLockGuard() { ReleaseAddressLock(key_); }
  AddressLockGuard(const AddressLockGuard&) = delete;
  AddressLockGuard& operator=(const AddressLockGuard&) = delete;

 private:
  const void* key_;
};

}  // namespace vx
