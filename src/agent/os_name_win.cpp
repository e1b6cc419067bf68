#include <windows.h>

#include <cstdint>
#include <cstring>

#include "agent/os_name.h"
#include "logging/logger.h"
#include "platform/registry.h"

namespace vx {
namespace {

// The structure sizes the system checks: extended (with service pack, suite and product type) and
// plain (version and service-pack text only).
static_assert(sizeof(OSVERSIONINFOEXA) == 156);
static_assert(sizeof(OSVERSIONINFOA) == 148);

constexpr const char* kCurrentVersionKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr const char* kProductOptionsKey = "SYSTEM\\CurrentControlSet\\Control\\ProductOptions";
constexpr std::size_t kProductTypeMaxBytes = 1024;

using GetNativeSystemInfoFunction = void(WINAPI*)(LPSYSTEM_INFO);
using GetProductInfoFunction = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);

template <typename Function>
Function Kernel32Function(const char* name) {
  // kernel32 is loaded in every process; a missing export means an older Windows.
  HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(kernel, name)));
}

BOOL ReadVersion(OSVERSIONINFOEXA& info, DWORD size) {
  info = OSVERSIONINFOEXA{};
  info.dwOSVersionInfoSize = size;
#if defined(_MSC_VER)
#pragma warning(suppress : 4996)  // the reported (manifest-dependent) version is what the rules want
#endif
  return ::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info));
}

WORD NativeProcessorArchitecture() {
  SYSTEM_INFO system{};
  if (auto get_native = Kernel32Function<GetNativeSystemInfoFunction>("GetNativeSystemInfo")) {
    get_native(&system);
  } else {
    ::GetSystemInfo(&system);
  }
  return system.wProcessorArchitecture;
}

std::optional<std::string> ReadText(const char* path, const char* name, std::size_t max_bytes) {
  std::optional<std::string> bytes;
  if (ReadRegSZ(HKEY_LOCAL_MACHINE, path, name, bytes) != ERROR_SUCCESS || !bytes) return std::nullopt;
  if (bytes->size() > max_bytes) return std::nullopt;
  return RegistryText(*bytes);
}

}  // namespace

int GetOsFamily() {
  OSVERSIONINFOEXA info;
  if (!ReadVersion(info, sizeof(OSVERSIONINFOEXA))) return OsFamilyCode(std::nullopt, ::GetLastError());
  return OsFamilyCode(OsVersionNumbers{info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion});
}

int isWin7orWin8() {
  const std::optional<std::string> name = GetOSNameEx(0, 0);
  LogDebug("isWin7orWin8 : GetOSName %s\n", name ? name->c_str() : "(null)");
  const int family = GetOsFamily();
  if (family == 3 || family == 4) {
    LogDebug("isWin7orWin8 : TRUE\n");
    return 1;
  }
  LogDebug("isWin7orWin8 : FALSE\n");
  return 0;
}

std::optional<std::string> GetOSNameEx(std::uint32_t major, std::uint32_t minor) {
  OsNameInputs inputs;
  inputs.requested_major = major;
  inputs.requested_minor = minor;
  inputs.processor_architecture = NativeProcessorArchitecture();

  OSVERSIONINFOEXA info;
  inputs.extended_read = ReadVersion(info, sizeof(OSVERSIONINFOEXA)) != FALSE;
  if (!inputs.extended_read && !ReadVersion(info, sizeof(OSVERSIONINFOA))) return std::nullopt;
  inputs.reported = OsVersionNumbers{info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion};
  inputs.service_pack_text.assign(info.szCSDVersion, ::strnlen(info.szCSDVersion, sizeof(info.szCSDVersion)));
  if (inputs.extended_read) {
    inputs.service_pack_major = info.wServicePackMajor;
    inputs.service_pack_minor = info.wServicePackMinor;
    inputs.suite_mask = info.wSuiteMask;
    inputs.product_type = info.wProductType;
  }

  if (auto get_product_info = Kernel32Function<GetProductInfoFunction>("GetProductInfo")) {
    DWORD product = 0;
    if (get_product_info(info.dwMajorVersion, info.dwMinorVersion, inputs.service_pack_major, inputs.service_pack_minor,
                         &product)) {
      inputs.product_info = product;
    }
  }

  inputs.read_product_name = [] { return ReadText(kCurrentVersionKey, "ProductName", SIZE_MAX); };
  inputs.read_legacy_product_type = [] { return ReadText(kProductOptionsKey, "ProductType", kProductTypeMaxBytes); };
  return NameOperatingSystem(inputs);
}

}  // namespace vx
