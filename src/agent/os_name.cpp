#include "agent/os_name.h"

#include <string_view>

#include "base/ascii_text.h"
#include "logging/logger.h"

namespace vx {
namespace {

constexpr std::uint16_t kSuiteSmallBusiness = 0x0001;
constexpr std::uint16_t kSuiteEnterprise = 0x0002;
constexpr std::uint16_t kSuiteTerminal = 0x0010;
constexpr std::uint16_t kSuiteSmallBusinessRestricted = 0x0020;
constexpr std::uint16_t kSuiteDatacenter = 0x0080;
constexpr std::uint16_t kSuitePersonal = 0x0200;
constexpr std::uint16_t kSuiteBlade = 0x0400;

struct Edition {
  std::uint32_t product;
  const char* text;
};

// GetProductInfo codes and the edition text each is named with.
constexpr Edition kEditions[] = {
    {1, "Ultimate Edition"},
    {28, "Ultimate Edition"},
    {2, "Home Basic Edition"},
    {5, "Home Basic Edition"},
    {3, "Home Premium Edition"},
    {26, "Home Premium Edition"},
    {4, "Enterprise Edition"},
    {27, "Enterprise Edition"},
    {10, "Enterprise Edition"},
    {6, "Business Edition"},
    {16, "Business Edition"},
    {7, "Standard Edition"},
    {8, "Datacenter Edition"},
    {9, "Small Business Server"},
    {11, "Starter"},
    {47, "Starter"},
    {66, "Starter"},
    {12, "Datacenter Edition (core installation)"},
    {13, "Enterprise Edition (core installation)"},
    {14, "Standard Edition (core installation)"},
    {17, "Web Server Edition"},
    {29, "Web Server Edition"},
    {20, "Storage Server Express Edition"},
    {21, "Storage Server Standard Edition"},
    {22, "Storage Server Workgroup Edition"},
    {23, "Storage Server Enterprise Edition"},
    {25, "Small Business Server Premium Edition"},
    {33, "Foundation Edition"},
    {36, "Standard Edition without Hyper-V"},
    {37, "Datacenter Edition without Hyper-V"},
    {38, "Enterprise Edition without Hyper-V"},
    {39, "Datacenter Edition without Hyper-V (core installation)"},
    {40, "Standard Edition without Hyper-V (core installation)"},
    {41, "Enterprise Edition without Hyper-V (core installation)"},
    {48, "Professional Edition"},
    {49, "Professional Edition"},
    {69, "Professional Edition"},
    {50, "Essentials Edition"},
    {65, "Embedded Standard Edition"},
    {79, "Server Standard (evaluation installation) Edition"},
    {101, "Home"},
    {103, "Professional with Media Center Edition"},
    {121, "Education"},
    {122, "Education N"},
    {123, "IoT Core"},
    {125, "Enterprise 2015 LTSB"},
    {126, "Enterprise 2015 LTSB N"},
    {129, "Enterprise 2015 LTSB Evaluation"},
    {130, "Enterprise 2015 LTSB N Evaluation"},
    {131, "IoT Core Commercial"},
};

// The "core" editions of Windows 8 and later (N, country-specific, single language): named by
// their version alone.
bool IsCoreEdition(std::uint32_t product) { return product >= 98 && product <= 100; }

const char* EditionText(std::uint32_t product) {
  for (const Edition& edition : kEditions) {
    if (edition.product == product) return edition.text;
  }
  return nullptr;
}

// The start of a name by version and role; the edition and " (x64)" follow. Servers of 6.2 and
// later only exist for x64. Null for versions without a name.
struct VersionName {
  const char* base;
  bool x64_suffix;
};

std::optional<VersionName> NameByVersion(std::uint32_t major, std::uint32_t minor, bool workstation, bool x64) {
  const char* workstation_name = nullptr;
  const char* server_name = nullptr;
  bool server_always_x64 = true;
  if (major == 6 && minor == 0) {
    workstation_name = "Windows Vista";
    server_name = "Windows Server 2008";
    server_always_x64 = false;
  } else if (major == 6 && minor == 1) {
    workstation_name = "Windows 7";
    server_name = "Windows Server 2008 R2";
    server_always_x64 = false;
  } else if (major == 6 && minor == 2) {
    workstation_name = "Windows 8";
    server_name = "Windows Server 2012";
  } else if (major == 6 && minor == 3) {
    workstation_name = "Windows 8.1";
    server_name = "Windows Server 2012 R2";
  } else if (major == 10 && minor == 0) {
    workstation_name = "Windows 10";
    server_name = "Windows Server 2016";
  } else {
    return std::nullopt;
  }
  if (workstation) return VersionName{workstation_name, x64};
  return VersionName{server_name, x64 || server_always_x64};
}

std::string WithSuffix(const VersionName& name, std::string_view edition) {
  std::string text = name.base;
  if (!edition.empty()) {
    text += ' ';
    text += edition;
  }
  if (name.x64_suffix) text += " (x64)";
  return text;
}

std::string NameEdition(const OsNameInputs& inputs, std::uint32_t major, std::uint32_t minor) {
  const std::uint32_t product = *inputs.product_info;
  const bool workstation = inputs.product_type == kProductTypeWorkstation;
  const bool x64 = inputs.processor_architecture == kProcessorArchitectureX64;
  const std::optional<VersionName> version_name = NameByVersion(major, minor, workstation, x64);

  if (IsCoreEdition(product)) {
    // These editions carry no edition text: the version alone names them. Outside the Windows 8
    // and later workstations they cannot occur; they are named the same way (empty when the
    // version has no name).
    std::string name = version_name ? WithSuffix(*version_name, {}) : std::string();
    LogDebug("Returning with OS Name %s\n", name.c_str());
    return name;
  }

  std::string edition;
  if (const char* text = EditionText(product)) {
    edition = text;
  } else {
    LogInfo("dwPlatformInfo : %d\n", static_cast<int>(product));
    LogInfo("dwMajorVersion : %d\n", static_cast<int>(major));
    LogInfo("dwMinorVersion : %d\n", static_cast<int>(minor));
    LogError("Edition can't be retrieved. So Assuming it as Beta\n");
    edition = "Beta";
  }

  // Insider builds name themselves in the registry; their edition codes say nothing reliable.
  const std::optional<std::string> product_name =
      inputs.read_product_name ? inputs.read_product_name() : std::optional<std::string>();
  if (product_name && product_name->find("Preview") != std::string::npos) {
    LogInfo("OS Name detected from registry is : %s\n", product_name->c_str());
    edition = "Beta";
  }

  return version_name ? WithSuffix(*version_name, edition) : std::string();
}

// The product text of an NT version read with the extended structure.
std::string NtProductText(const OsNameInputs& inputs, std::uint32_t major, std::uint32_t minor) {
  const std::uint16_t suite = inputs.suite_mask;
  const bool x64 = inputs.processor_architecture == kProcessorArchitectureX64;
  const bool is_5_2 = major == 5 && minor == 2;
  if (inputs.product_type == kProductTypeWorkstation) {
    if (is_5_2 && x64) return "Professional x64 Edition";
    if (major == 4) return "Workstation 4.0";
    if (suite & kSuitePersonal) return "Home Edition ";
    return "Professional";
  }
  if (inputs.product_type == kProductTypeServer || inputs.product_type == kProductTypeDomainController) {
    if (is_5_2) {
      if (x64) {
        if (suite & kSuiteEnterprise) return ", Enterprise x64 Edition";
        if (suite & kSuiteDatacenter) return ", Datacenter x64 Edition";
        return ", Standard x64 Edition";
      }
      if (suite & kSuiteDatacenter) return ", Datacenter Edition";
      if (suite & kSuiteEnterprise) return ", Enterprise Edition";
      if (suite & kSuiteBlade) return ", Web Edition";
      if (suite & (kSuiteSmallBusiness | kSuiteSmallBusinessRestricted)) return " for Small Business Server";
      return ", Standard Edition";
    }
    if (major == 5 && minor == 0) {
      if (suite & kSuiteDatacenter) return "Datacenter Server";
      if (suite & kSuiteEnterprise) return "Advanced Server";
      return "Server";
    }
    if (suite & kSuiteTerminal) return "Server 4.0, Terminal Server Edition";
    return "Server 4.0";
  }
  // No role the rules know: the base name stands alone.
  return std::string();
}

std::optional<std::string> NameNt(const OsNameInputs& inputs, std::uint32_t major, std::uint32_t minor) {
  const bool x64 = inputs.processor_architecture == kProcessorArchitectureX64;
  std::string base;
  if (major <= 4) {
    base = "Windows NT ";
  } else if (major == 5 && minor == 0) {
    base = "Windows 2000 ";
  } else if (major == 5 && minor == 1) {
    base = "Windows XP ";
  } else if (major == 5 && minor == 2) {
    base = inputs.product_type == kProductTypeWorkstation && x64 ? "Windows XP " : "Windows Server 2003";
  } else {
    // Later NT versions are named by the edition rules; without GetProductInfo they stay unnamed.
    return std::string();
  }

  if (inputs.extended_read) return base + NtProductText(inputs, major, minor);

  const std::optional<std::string> product_type =
      inputs.read_legacy_product_type ? inputs.read_legacy_product_type() : std::optional<std::string>();
  if (!product_type) return std::nullopt;
  std::string product_text;
  if (EqualsIgnoreAsciiCase(*product_type, "WINNT")) {
    product_text = "Workstation";
  } else if (EqualsIgnoreAsciiCase(*product_type, "LANMANNT")) {
    product_text = "Server";
  } else if (EqualsIgnoreAsciiCase(*product_type, "SERVERNT")) {
    product_text = "Advanced Server";
  }
  return FormatText("%s%s %d.%d", base.c_str(), product_text.c_str(), static_cast<int>(major), static_cast<int>(minor));
}

std::optional<std::string> NameLegacy(const OsNameInputs& inputs, std::uint32_t major, std::uint32_t minor) {
  switch (inputs.reported.platform_id) {
    case kPlatformWin32s:
      return std::string("Win32s");
    case kPlatformWindows9x:
      if (major == 4 && minor == 0) return std::string("Windows 95");
      if (major == 4 && minor == 10) {
        const bool second_edition = inputs.service_pack_text.size() >= 2 && inputs.service_pack_text[1] == 'A';
        return std::string(second_edition ? "Windows 98 SE" : "Windows 98");
      }
      if (major == 4 && minor == 90) return std::string("Windows Millennium Edition");
      return std::string();
    case kPlatformNt:
      return NameNt(inputs, major, minor);
    default:
      return std::string();
  }
}

}  // namespace

int OsFamilyCode(const std::optional<OsVersionNumbers>& version, std::uint32_t read_error) {
  if (!version) {
    LogError("GetOsFamily : Unable to find the OSVersion , Errorcode %d \n", static_cast<int>(read_error));
    return 1;
  }
  if (version->platform_id == kPlatformNt && version->major > 4) {
    const std::uint32_t major = version->major;
    const std::uint32_t minor = version->minor;
    if (major == 5) return minor == 0 ? 0 : 1;
    if (major == 6 && minor <= 3) return static_cast<int>(minor) + 2;
    if (major == 10 && minor == 0) return 6;
    return 7;
  }
  LogError("GetOsFamily :The windows is unable to found . \n");
  return -1;
}

std::optional<std::string> NameOperatingSystem(const OsNameInputs& inputs) {
  const bool requested = inputs.requested_major != 0 || inputs.requested_minor != 0;
  const std::uint32_t major = requested ? inputs.requested_major : inputs.reported.major;
  const std::uint32_t minor = requested ? inputs.requested_minor : inputs.reported.minor;
  if (!inputs.product_info) return NameLegacy(inputs, major, minor);

  LogDebug("GetOSNameEx : dwMinorVersion : %d\n", static_cast<int>(inputs.requested_minor));
  LogDebug("GetOSNameEx : dwMajorVersion : %d\n", static_cast<int>(inputs.requested_major));
  LogDebug("osvi.dwMajorVersion : %d\n", static_cast<int>(inputs.reported.major));
  LogDebug("osvi.dwMinorVersion : %d\n", static_cast<int>(inputs.reported.minor));
  LogDebug("osvi.wServicePackMajor : %d\n", static_cast<int>(inputs.service_pack_major));
  LogDebug("osvi.wServicePackMinor : %d\n", static_cast<int>(inputs.service_pack_minor));
  LogDebug("dwPlatformInfo : %d\n", static_cast<int>(*inputs.product_info));
  LogDebug("si.wProcessorArchitecture : %d\n", static_cast<int>(inputs.processor_architecture));
  return NameEdition(inputs, major, minor);
}

}  // namespace vx
