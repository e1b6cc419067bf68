#include "agent/result_text.h"

#include <cstdio>

namespace vx {
namespace {

struct ResultText {
  std::uint32_t code;
  const char* text;
};

constexpr ResultText kResultTexts[] = {
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
    {2359302, "Patch already Installed and the changes will not be effective until the system is rebooted."},
    {2359303, "Patch already Uninstalled and the changes will not be effective until the system is rebooted."},
};

}  // namespace

std::string GetResultText(std::uint32_t code) {
  for (const ResultText& entry : kResultTexts) {
    if (entry.code == code) return entry.text;
  }
  char text[64];
  (void)std::snprintf(text, sizeof(text), "Unknown Error. Code : %d", static_cast<int>(code));
  return text;
}

}  // namespace vx
