#include "agent/result_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace vx {
namespace {

struct Case {
  std::uint32_t code;
  const char* text;
};

TEST(ResultTextTest, TableEntriesAndTheirNeighbours) {
  const Case cases[] = {
      {10001, "vx.db.agent.config.script.powerscript_notfound"},
      {17025, "OfficeUpdateError: Patch already installed."},
      // The one entry with a blank before its colon.
      {17048, "OfficeUpdateError : This installation requires Windows Installer 3.1 or greater."},
      {0x240006, "Patch already Installed and the changes will not be effective until the system is rebooted."},
      {0x240007, "Patch already Uninstalled and the changes will not be effective until the system is rebooted."},
      // Gaps inside the Office update range, and neighbours of entries.
      {17022, "Unknown Error. Code : 17022"},
      {17032, "Unknown Error. Code : 17032"},
      {17047, "Unknown Error. Code : 17047"},
      {0, "Unknown Error. Code : 0"},
      {1507, "Unknown Error. Code : 1507"},
      {0x240008, "Unknown Error. Code : 2359304"},
      // The high bit set, as in HRESULTs and NTSTATUS codes: printed as a negative number.
      {0x7FFFFFFFu, "Unknown Error. Code : 2147483647"},
      {0x80000000u, "Unknown Error. Code : -2147483648"},
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
