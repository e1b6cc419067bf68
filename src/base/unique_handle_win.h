// Named owning types for the Windows resources the agent library uses.
#pragma once

#include <windows.h>
#include <winsvc.h>

#include "base/unique_resource.h"

namespace vx {

namespace handle_traits {

// Kernel object handles: both NULL and INVALID_HANDLE_VALUE mean "none", since CreateFile and
// CreateProcess report failure differently.
struct KernelHandle {
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { ::CloseHandle(h); }
};

struct RegistryKeyHandle {
  using Type = HKEY;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { ::RegCloseKey(h); }
};

struct FindHandle {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { ::FindClose(h); }
};

struct ServiceHandle {
  using Type = SC_HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { ::CloseServiceHandle(h); }
};

struct LocalMemory {
  using Type = HLOCAL;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { ::LocalFree(h); }
};

struct GlobalMemory {
  using Type = HGLOBAL;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { ::GlobalFree(h); }
};

}  // namespace handle_traits

using UniqueHandle = UniqueResource<handle_traits::KernelHandle>;
using UniqueHKey = UniqueResource<handle_traits::RegistryKeyHandle>;
using UniqueFindHandle = UniqueResource<handle_traits::FindHandle>;
using UniqueServiceHandle = UniqueResource<handle_traits::ServiceHandle>;
// Buffers that the system allocates with LocalAlloc (FormatMessage's allocate-buffer option).
using UniqueLocalMemory = UniqueResource<handle_traits::LocalMemory>;
// Buffers allocated with GlobalAlloc.
using UniqueGlobalMemory = UniqueResource<handle_traits::GlobalMemory>;

}  // namespace vx
