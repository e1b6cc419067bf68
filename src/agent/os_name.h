// The name of the Windows version and edition the agent runs on, and the family code that decides
// whether an HTTPS session enables the newer TLS versions.
//
// The naming rules are portable (OsFamilyCode, NameOperatingSystem) and work on inputs that the
// Windows side fetches (GetVersionExA, GetNativeSystemInfo, GetProductInfo, two registry values),
// so they are tested with synthetic inputs. All of them work on the version Windows reports to this
// program: its manifest declares no supported versions, so Windows 8.1 and later report 6.2.
// Stateless and thread-safe; lines go to the process log.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vx {

inline constexpr std::uint32_t kPlatformWin32s = 0;
inline constexpr std::uint32_t kPlatformWindows9x = 1;
inline constexpr std::uint32_t kPlatformNt = 2;

inline constexpr std::uint8_t kProductTypeWorkstation = 1;
inline constexpr std::uint8_t kProductTypeDomainController = 2;
inline constexpr std::uint8_t kProductTypeServer = 3;

inline constexpr std::uint16_t kProcessorArchitectureX64 = 9;

// Families: 0 Windows 2000, 1 XP/Server 2003, 2 Vista/2008, 3 7/2008 R2, 4 8/2012, 5 8.1/2012 R2,
// 6 10/2016, 7 anything newer, -1 unsupported (major 4 or lower, or not NT).
struct OsVersionNumbers {
  std::uint32_t platform_id = 0;
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
};

// The family code of a version. version is none when it could not be read: the code is then 1,
// after the error line with read_error. -1 comes with its own error line.
[[nodiscard]] int OsFamilyCode(const std::optional<OsVersionNumbers>& version, std::uint32_t read_error = 0);

// What the naming rules need, as the Windows side read it.
struct OsNameInputs {
  // GetOSNameEx's arguments: when either is non-zero they replace the reported version in the naming.
  std::uint32_t requested_major = 0;
  std::uint32_t requested_minor = 0;

  // From the version structure.
  OsVersionNumbers reported;
  std::uint16_t service_pack_major = 0;
  std::uint16_t service_pack_minor = 0;
  std::string service_pack_text;  // szCSDVersion
  bool extended_read = true;      // false: only the plain structure could be read
  std::uint8_t product_type = 0;  // wProductType (1 workstation, 2 domain controller, 3 server)
  std::uint16_t suite_mask = 0;   // wSuiteMask

  std::uint16_t processor_architecture = 0;  // 9 = x64

  // GetProductInfo's edition code; none when the function is missing or failed.
  std::optional<std::uint32_t> product_info;

  // Registry reads, made only when a rule needs them so that the log shows them in order.
  // "ProductName" of HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion (none when absent).
  std::function<std::optional<std::string>()> read_product_name;
  // "ProductType" of HKLM\SYSTEM\CurrentControlSet\Control\ProductOptions (none when unreadable).
  std::function<std::optional<std::string>()> read_legacy_product_type;
};

// The name by the edition rules (product info present) or the legacy rules. Cases without a name
// give an empty text; none only when the legacy rules need the "ProductType" value and cannot read
// it. The texts are all shorter than 100 bytes.
[[nodiscard]] std::optional<std::string> NameOperatingSystem(const OsNameInputs& inputs);

// The family code of the reported version (logs its error lines).
[[nodiscard]] int GetOsFamily();

// 1 for families 3 and 4 (Windows 7, 8, and every later Windows through the reported 6.2), else 0.
[[nodiscard]] int isWin7orWin8();

// The name, or none when no version structure can be read (or the legacy registry value cannot).
// With major and minor both 0 the reported version is named.
[[nodiscard]] std::optional<std::string> GetOSNameEx(std::uint32_t major, std::uint32_t minor);

}  // namespace vx
