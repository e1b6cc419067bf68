// The stack protector's guard value and failure handler for the Windows build.
//
// The compiler's own support library seeds the guard through CryptAcquireContext, which loads the
// whole cryptographic provider stack (a dozen DLLs) into every program at start-up: more than half
// the start-up time of this short-lived program. The guard is seeded here from the system's random
// generator instead (RtlGenRandom, already imported), before any other constructor runs. This
// file itself is compiled without the protector: it runs before the guard is valid.
#include <windows.h>

#include <cstdint>

extern "C" {

// Used until the constructor below has run; never zero.
std::uintptr_t __stack_chk_guard = static_cast<std::uintptr_t>(0x2B992DDFA232ull & UINTPTR_MAX);

// A smashed stack is never survived: the process ends at once with the status Windows itself uses.
[[noreturn]] void __stack_chk_fail(void) {
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(0xC0000409L));  // STATUS_STACK_BUFFER_OVERRUN
  for (;;) {
  }
}

BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);  // RtlGenRandom (advapi32)

}  // extern "C"

namespace {

__attribute__((constructor(101))) void SeedStackGuard() {
  std::uintptr_t guard = 0;
  if (SystemFunction036(&guard, sizeof(guard)) && guard != 0) __stack_chk_guard = guard;
}

}  // namespace
