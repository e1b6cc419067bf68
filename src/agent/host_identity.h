// Host identity: the computer's addresses, domain controller, computer name and namespace, loaded
// into the agent configuration record (Windows). Main thread, during loading.
#pragma once

#include "agent/agent_config.h"

namespace vx {

// Fills the host fields of the record: 0, or 13 when the computer name or namespace is unknown.
int InitializeLocalMachineDetails();

// The three address lists; they are empty texts (never null) after any failure. 0 or the Windows
// error of the failing call. Each adapter IP entry is also printed on standard output.
int GetMACandIPAddress(OptionalText& ip_list, OptionalText& mac_list, OptionalText& mask_list);

// The flat name of a domain controller without its leading backslashes: 0 or DsGetDcNameA's error.
int GetComputerLogonServer(OptionalText& name);

// The physical DNS host name: 1, or 0 on failure.
int GetLocalComputerName(OptionalText& name);

// The domain or workgroup the computer is joined to and whether it is a domain: 1, or 0 on failure.
int GetComputerNameSpace(OptionalText& name, int& is_domain_member);

}  // namespace vx
