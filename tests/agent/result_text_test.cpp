#include "agent/result_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace vx {
namespace {

TEST(ResultTextTest, KnownCodesHaveTheirTexts) {
  struct Case {
    std::uint32_t code;
    const char* text;
  };
  const Case cases[] = {
      {1508, "The requested operation is successful. Changes will not be effective until the browser is rebooted."},
      {10001, "vx.db.agent.config.script.powerscript_notfound"},
      {10002, "vx.db.agent.config.run_as_admin.credentials_not_available"},
      {10003, "vx.db.agent.config.returned_zero_failure"},
      {17021, "OfficeUpdateError: Creating temp folder."},
      {17023, "OfficeUpdateError: User cancelled installation."},
      {17024, "OfficeUpdateError: Creating folder failed."},
      {17025, "OfficeUpdateError: Patch already installed."},
      {17026, "OfficeUpdateError: Patch already installed to admin installation."},
      {17027, "OfficeUpdateError: Installation source requires full file update."},
      {17028, "OfficeUpdateError: No product installed for contained patch."},
      {17029, "OfficeUpdateError: Patch failed to install."},
      {17030, "OfficeUpdateError: Invalid CIF format."},
      {17031, "OfficeUpdateError: Invalid baseline."},
      {17034, "OfficeUpdateError: Required patch does not apply to the machine."},
      {17038,
       "OfficeUpdateError: You do not have sufficient privileges to complete this installation for all users of the "
       "machine. Log on as administrator and then retry this installation."},
      {17044, "OfficeUpdateError: Installer was unable to run detection for this package."},
      {17048, "OfficeUpdateError : This installation requires Windows Installer 3.1 or greater."},
      {17301, "OfficeUpdateError: General Detection error"},
      {17302, "OfficeUpdateError: Applying patch."},
      {17303, "OfficeUpdateError: Extracting file."},
      {20001, "Patch update delayed since application is used by another process"},
      {0x240006, "Patch already Installed and the changes will not be effective until the system is rebooted."},
      {0x240007, "Patch already Uninstalled and the changes will not be effective until the system is rebooted."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(GetResultText(c.code), c.text);
  }
}

TEST(ResultTextTest, OtherCodesAreUnknownErrorsWithTheSignedCode) {
  struct Case {
    std::uint32_t code;
    const char* text;
  };
  const Case cases[] = {
      // The gaps inside the Office update range.
      {17022, "Unknown Error. Code : 17022"},
      {17032, "Unknown Error. Code : 17032"},
      {17033, "Unknown Error. Code : 17033"},
      {17035, "Unknown Error. Code : 17035"},
      {17036, "Unknown Error. Code : 17036"},
      {17037, "Unknown Error. Code : 17037"},
      {17039, "Unknown Error. Code : 17039"},
      {17043, "Unknown Error. Code : 17043"},
      {17045, "Unknown Error. Code : 17045"},
      {17047, "Unknown Error. Code : 17047"},
      // Neighbours of table entries.
      {0, "Unknown Error. Code : 0"},
      {1507, "Unknown Error. Code : 1507"},
      {1509, "Unknown Error. Code : 1509"},
      {10000, "Unknown Error. Code : 10000"},
      {10004, "Unknown Error. Code : 10004"},
      {17020, "Unknown Error. Code : 17020"},
      {17049, "Unknown Error. Code : 17049"},
      {17300, "Unknown Error. Code : 17300"},
      {17304, "Unknown Error. Code : 17304"},
      {20000, "Unknown Error. Code : 20000"},
      {20002, "Unknown Error. Code : 20002"},
      {0x240005, "Unknown Error. Code : 2359301"},
      {0x240008, "Unknown Error. Code : 2359304"},
      // The high bit set, as in HRESULTs and NTSTATUS codes: printed as a negative number.
      {0x7FFFFFFFu, "Unknown Error. Code : 2147483647"},
      {0x80000000u, "Unknown Error. Code : -2147483648"},
      {0x80070005u, "Unknown Error. Code : -2147024891"},
      {0xC0000005u, "Unknown Error. Code : -1073741819"},
      {0xFFFFFFFFu, "Unknown Error. Code : -1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(GetResultText(c.code), c.text);
  }
}

}  // namespace
}  // namespace vx
