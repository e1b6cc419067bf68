#include "agent/os_name.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "test_log.h"

namespace vx {
namespace {

using testing::ElementsAre;

constexpr std::uint16_t kX86 = 0;
constexpr std::uint16_t kX64 = kProcessorArchitectureX64;
constexpr std::uint8_t kWorkstation = kProductTypeWorkstation;
constexpr std::uint8_t kServer = kProductTypeServer;

OsNameInputs Inputs(std::uint32_t platform, std::uint32_t major, std::uint32_t minor, std::uint8_t product_type,
                    std::uint16_t architecture) {
  OsNameInputs inputs;
  inputs.reported = {platform, major, minor};
  inputs.product_type = product_type;
  inputs.processor_architecture = architecture;
  return inputs;
}

// An NT 6 or later system whose GetProductInfo answered product.
OsNameInputs Edition(std::uint32_t major, std::uint32_t minor, std::uint32_t product, std::uint8_t product_type,
                     std::uint16_t architecture) {
  OsNameInputs inputs = Inputs(kPlatformNt, major, minor, product_type, architecture);
  inputs.product_info = product;
  return inputs;
}

TEST(OsNameTest, FamilyCodes) {
  struct Case {
    std::uint32_t platform, major, minor;
    int family;
  };
  const Case cases[] = {
      {kPlatformNt, 5, 0, 0},      {kPlatformNt, 5, 1, 1},  {kPlatformNt, 5, 2, 1},   {kPlatformNt, 5, 3, 1},
      {kPlatformNt, 6, 0, 2},      {kPlatformNt, 6, 1, 3},  {kPlatformNt, 6, 2, 4},   {kPlatformNt, 6, 3, 5},
      {kPlatformNt, 6, 4, 7},      {kPlatformNt, 10, 0, 6}, {kPlatformNt, 10, 1, 7},  {kPlatformNt, 7, 0, 7},
      {kPlatformNt, 11, 0, 7},     {kPlatformNt, 4, 0, -1}, {kPlatformNt, 3, 51, -1}, {kPlatformWindows9x, 4, 10, -1},
      {kPlatformWin32s, 6, 1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.platform << ":" << c.major << "." << c.minor);
    test::ScopedTestLog log;
    EXPECT_EQ(OsFamilyCode(OsVersionNumbers{c.platform, c.major, c.minor}), c.family);
    EXPECT_EQ(log.Has("[ERROR]", "GetOsFamily :The windows is unable to found . "), c.family == -1);
  }
  test::ScopedTestLog log;
  EXPECT_EQ(OsFamilyCode(std::nullopt, 87), 1);
  EXPECT_TRUE(log.Has("[ERROR]", "GetOsFamily : Unable to find the OSVersion , Errorcode 87 "));
}

TEST(OsNameTest, EditionNames) {
  struct Case {
    const char* expected;
    OsNameInputs inputs;
  };
  auto requested = [](OsNameInputs inputs, std::uint32_t major, std::uint32_t minor) {
    inputs.requested_major = major;
    inputs.requested_minor = minor;
    return inputs;
  };
  const std::vector<Case> cases = {
      // Windows 10 Pro as reported to this program.
      {"Windows 8 Professional Edition (x64)", Edition(6, 2, 48, kWorkstation, kX64)},
      {"Windows 10 Home (x64)", Edition(10, 0, 101, kWorkstation, kX64)},
      {"Windows 7 Enterprise Edition", Edition(6, 1, 27, kWorkstation, kX86)},
      {"Windows 8.1 Starter", Edition(6, 3, 66, kWorkstation, kX86)},
      {"Windows 10 Enterprise 2015 LTSB N Evaluation (x64)", Edition(10, 0, 130, kWorkstation, kX64)},
      {"Windows Server 2008 Datacenter Edition", Edition(6, 0, 8, kServer, kX86)},
      {"Windows Server 2008 R2 Datacenter Edition without Hyper-V (core installation) (x64)",
       Edition(6, 1, 39, kServer, kX64)},
      // Servers of 6.2 and later are x64 whatever the processor says; domain controllers are servers.
      {"Windows Server 2012 Standard Edition (x64)", Edition(6, 2, 7, kServer, kX86)},
      {"Windows Server 2012 R2 Essentials Edition (x64)", Edition(6, 3, 50, kProductTypeDomainController, kX86)},
      {"Windows Server 2016 Server Standard (evaluation installation) Edition (x64)",
       Edition(10, 0, 79, kServer, kX64)},
      // Core editions: the version alone.
      {"Windows 8 (x64)", Edition(6, 2, 100, kWorkstation, kX64)},
      {"Windows 10 (x64)", Edition(10, 0, 98, kWorkstation, kX64)},
      {"Windows Server 2012 (x64)", Edition(6, 2, 98, kServer, kX86)},
      {"Windows 7", Edition(6, 1, 99, kWorkstation, kX86)},
      {"", Edition(6, 4, 100, kWorkstation, kX64)},
      // Unknown edition codes.
      {"Windows 7 Beta", Edition(6, 1, 0, kWorkstation, kX86)},
      // Versions without a name.
      {"", Edition(6, 4, 48, kWorkstation, kX64)},
      // The caller's version replaces the reported one; either number counts as given.
      {"Windows 10 Professional Edition (x64)", requested(Edition(6, 2, 48, kWorkstation, kX64), 10, 0)},
      {"Windows 7 Professional Edition", requested(Edition(6, 2, 48, kWorkstation, kX86), 6, 1)},
      {"", requested(Edition(6, 2, 48, kWorkstation, kX64), 0, 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(NameOperatingSystem(c.inputs), std::optional<std::string>(c.expected));
  }
}

TEST(OsNameTest, EditionLogLines) {
  test::ScopedTestLog log;
  OsNameInputs inputs = Edition(6, 2, 0, kWorkstation, kX64);
  inputs.service_pack_major = 1;
  inputs.requested_major = 6;
  inputs.requested_minor = 3;
  EXPECT_EQ(NameOperatingSystem(inputs), "Windows 8.1 Beta (x64)");
  EXPECT_THAT(log.Messages(),
              ElementsAre("[DEBUG] GetOSNameEx : dwMinorVersion : 3", "[DEBUG] GetOSNameEx : dwMajorVersion : 6",
                          "[DEBUG] osvi.dwMajorVersion : 6", "[DEBUG] osvi.dwMinorVersion : 2",
                          "[DEBUG] osvi.wServicePackMajor : 1", "[DEBUG] osvi.wServicePackMinor : 0",
                          "[DEBUG] dwPlatformInfo : 0", "[DEBUG] si.wProcessorArchitecture : 9",
                          "[INFO] dwPlatformInfo : 0", "[INFO] dwMajorVersion : 6", "[INFO] dwMinorVersion : 3",
                          "[ERROR] Edition can't be retrieved. So Assuming it as Beta"));
}

TEST(OsNameTest, PreviewProductNameMakesTheEditionBeta) {
  struct Case {
    std::optional<std::string> product_name;
    const char* expected;
  };
  const Case cases[] = {
      {"Windows 10 Pro Insider Preview", "Windows 8 Beta (x64)"},
      {"Preview", "Windows 8 Beta (x64)"},
      {"Windows 10 Pro insider preview", "Windows 8 Professional Edition (x64)"},
      {std::nullopt, "Windows 8 Professional Edition (x64)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    test::ScopedTestLog log;
    OsNameInputs inputs = Edition(6, 2, 48, kWorkstation, kX64);
    inputs.read_product_name = [&c] { return c.product_name; };
    EXPECT_EQ(NameOperatingSystem(inputs), c.expected);
    const bool preview = c.product_name && c.product_name->find("Preview") != std::string::npos;
    EXPECT_EQ(log.Has("[INFO]", "OS Name detected from registry is : " + c.product_name.value_or("")), preview);
  }
}

TEST(OsNameTest, LegacyNames) {
  struct Case {
    const char* expected;
    OsNameInputs inputs;
  };
  auto with = [](OsNameInputs inputs, std::uint16_t suite, const char* service_pack = "") {
    inputs.suite_mask = suite;
    inputs.service_pack_text = service_pack;
    return inputs;
  };
  const std::vector<Case> cases = {
      {"Win32s", Inputs(kPlatformWin32s, 3, 10, 0, kX86)},
      {"Windows 95", Inputs(kPlatformWindows9x, 4, 0, 0, kX86)},
      {"Windows 98", with(Inputs(kPlatformWindows9x, 4, 10, 0, kX86), 0, " B")},
      {"Windows 98 SE", with(Inputs(kPlatformWindows9x, 4, 10, 0, kX86), 0, " A ")},
      {"Windows Millennium Edition", Inputs(kPlatformWindows9x, 4, 90, 0, kX86)},
      {"Windows NT Workstation 4.0", Inputs(kPlatformNt, 4, 0, kWorkstation, kX86)},
      {"Windows NT Server 4.0, Terminal Server Edition", with(Inputs(kPlatformNt, 4, 0, kServer, kX86), 0x10)},
      {"Windows 2000 Professional", Inputs(kPlatformNt, 5, 0, kWorkstation, kX86)},
      {"Windows 2000 Datacenter Server", with(Inputs(kPlatformNt, 5, 0, kServer, kX86), 0x82)},
      {"Windows XP Home Edition ", with(Inputs(kPlatformNt, 5, 1, kWorkstation, kX86), 0x200)},
      {"Windows XP Professional", Inputs(kPlatformNt, 5, 1, kWorkstation, kX64)},
      {"Windows XP Professional x64 Edition", Inputs(kPlatformNt, 5, 2, kWorkstation, kX64)},
      {"Windows Server 2003, Enterprise x64 Edition", with(Inputs(kPlatformNt, 5, 2, kServer, kX64), 0x82)},
      {"Windows Server 2003, Standard x64 Edition", Inputs(kPlatformNt, 5, 2, kServer, kX64)},
      {"Windows Server 2003, Datacenter Edition", with(Inputs(kPlatformNt, 5, 2, kServer, kX86), 0x82)},
      {"Windows Server 2003 for Small Business Server", with(Inputs(kPlatformNt, 5, 2, kServer, kX86), 0x20)},
      {"Windows Server 2003, Standard Edition", Inputs(kPlatformNt, 5, 2, kServer, kX86)},
      // No text for an unknown role, or for later NT versions without GetProductInfo.
      {"Windows Server 2003", Inputs(kPlatformNt, 5, 2, 0, kX86)},
      {"", Inputs(kPlatformNt, 6, 1, kWorkstation, kX86)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    OsNameInputs inputs = c.inputs;
    int registry_reads = 0;
    inputs.read_product_name = inputs.read_legacy_product_type = [&registry_reads] {
      ++registry_reads;
      return std::optional<std::string>("WINNT");
    };
    EXPECT_EQ(NameOperatingSystem(inputs), std::optional<std::string>(c.expected));
    EXPECT_EQ(registry_reads, 0);
  }
}

TEST(OsNameTest, PlainStructureTakesTheProductTypeFromTheRegistry) {
  struct Case {
    std::uint32_t major, minor;
    std::optional<std::string> product_type;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {5, 1, "WINNT", "Windows XP Workstation 5.1"},
      {5, 0, "lanmanNT", "Windows 2000 Server 5.0"},
      {4, 0, "ServerNT", "Windows NT Advanced Server 4.0"},
      {5, 0, "Other", "Windows 2000  5.0"},
      {5, 1, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected.value_or("none"));
    OsNameInputs inputs = Inputs(kPlatformNt, c.major, c.minor, 0, kX86);
    inputs.extended_read = false;
    inputs.read_legacy_product_type = [&c] { return c.product_type; };
    EXPECT_EQ(NameOperatingSystem(inputs), c.expected);
  }
}

#ifdef _WIN32
TEST(OsNameTest, LiveSystem) {
  test::ScopedTestLog log;
  const int family = GetOsFamily();
  EXPECT_GE(family, 0);
  EXPECT_LE(family, 7);
  const std::optional<std::string> name = GetOSNameEx(0, 0);
  ASSERT_TRUE(name.has_value());
  EXPECT_THAT(*name, testing::StartsWith("Windows "));
  EXPECT_LT(name->size(), 100u);

  const int expected = family == 3 || family == 4 ? 1 : 0;
  EXPECT_EQ(isWin7orWin8(), expected);
  EXPECT_TRUE(log.Has("[DEBUG]", "isWin7orWin8 : GetOSName " + *name));
  EXPECT_TRUE(log.Has("[DEBUG]", expected == 1 ? "isWin7orWin8 : TRUE" : "isWin7orWin8 : FALSE"));

  // A given version replaces the reported one; the edition stays the system's.
  const std::optional<std::string> named_10 = GetOSNameEx(10, 0);
  ASSERT_TRUE(named_10.has_value());
  EXPECT_THAT(*named_10, testing::StartsWith("Windows 10 ")) << *named_10;
}
#endif

}  // namespace
}  // namespace vx
