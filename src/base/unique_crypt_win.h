// Named owning types for CryptoAPI handles, on the project's owning-handle template.
#pragma once

// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

#include "base/unique_resource.h"

namespace vx {

namespace handle_traits {

struct CryptProvider {
  using Type = HCRYPTPROV;
  static Type Invalid() noexcept { return 0; }
  static bool IsValid(Type h) noexcept { return h != 0; }
  static void Close(Type h) noexcept { ::CryptReleaseContext(h, 0); }
};

struct CryptHash {
  using Type = HCRYPTHASH;
  static Type Invalid() noexcept { return 0; }
  static bool IsValid(Type h) noexcept { return h != 0; }
  static void Close(Type h) noexcept { ::CryptDestroyHash(h); }
};

struct CryptKey {
  using Type = HCRYPTKEY;
  static Type Invalid() noexcept { return 0; }
  static bool IsValid(Type h) noexcept { return h != 0; }
  static void Close(Type h) noexcept { ::CryptDestroyKey(h); }
};

}  // namespace handle_traits

using UniqueCryptProvider = UniqueResource<handle_traits::CryptProvider>;
using UniqueCryptHash = UniqueResource<handle_traits::CryptHash>;
using UniqueCryptKey = UniqueResource<handle_traits::CryptKey>;

}  // namespace vx
