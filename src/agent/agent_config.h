// The agent configuration record: process-wide settings loaded once at start-up from the agent's
// registry keys, then only read (Windows).
//
// Text fields are std::optional<std::string>: an absent text is std::nullopt, never an empty string
// unless the registry holds an empty value. Numbers are 32-bit. InitializeAgentParameters runs on the
// main thread before any other thread exists; afterwards the record is read without locks, and only
// the last-access names and the resource identifier are written again, from the main thread.
#pragma once

#include <optional>
#include <string>

namespace vx {

inline constexpr const char* kAgentRootKey = "Software\\Norvane\\Quorvant\\VXAgent";
inline constexpr const char* kServerInfoKey = "Software\\Norvane\\Quorvant\\VXAgent\\ServerInfo";
inline constexpr const char* kSystemDetailsKey = "Software\\Norvane\\Quorvant\\VXAgent\\SystemDetails";

inline constexpr const char* kInstallDirValue = "VXAgentInstallDir";
inline constexpr const char* kLogLevelValue = "VXAgentLogLevel";

using OptionalText = std::optional<std::string>;

// Process facts.
extern int gv_isWow64;          // 1 when the process runs under WOW64
extern std::string gv_tempDir;  // the TEMP environment variable (at most 254 bytes), empty when unset

// Management server.
extern OptionalText gv_serverName;
extern OptionalText gv_serverInstalledTime;
extern OptionalText gv_serverFlatName;
extern OptionalText gv_serverIPAddress;
extern OptionalText gv_serverSecIPAddress;
extern OptionalText gv_lastAccessName;
extern int gv_serverHttpPort;
extern int gv_serverSecurePort;
extern OptionalText gv_serverProtocol;  // "http" by default
extern int gv_serverPort;               // the port of gv_serverProtocol

// Distribution server.
extern OptionalText gv_dsEnabled;
extern OptionalText gv_dsServerName;
extern OptionalText gv_dsServerFlatName;
extern OptionalText gv_dsLastAccessName;
extern int gv_dsServerHttpPort;
extern int gv_dsServerSecurePort;
extern OptionalText gv_dsServerIPAddress;
extern OptionalText gv_dsServerSecIPAddress;
extern OptionalText gv_dsServerProtocol;
extern int gv_dsServerPort;
extern int gv_enableDSRoute;

// The agent, its customer and product.
extern OptionalText gv_agentVersion;
extern OptionalText gv_agentServiceName;
extern OptionalText gv_mspName;
extern OptionalText gv_customerName;
extern OptionalText gv_customerId;
extern OptionalText gv_vxProductCode;  // "KORB" until loaded
extern OptionalText gv_installDir;     // as stored: ends with a backslash
extern OptionalText gv_remoteOfficeName;
extern OptionalText gv_remoteOfficeId;
extern OptionalText gv_remoteOfficeMgmt;
extern int gv_httpRequestTimeout;     // milliseconds
extern int gv_httpConnectionTimeout;  // milliseconds
extern int gv_dataTransferRateKBps;
extern OptionalText gv_installSource;
extern OptionalText gv_installMode;
extern int gv_blockCrashedConfig;
extern int gv_shutdownBlocked;
extern OptionalText gv_clientDataPath;
extern OptionalText gv_resourceId;
extern int gv_checksumEnabled;

// Host identity.
extern OptionalText gv_localComputerName;
extern OptionalText gv_clientNamespace;
extern int gv_isDomainMember;
extern OptionalText gv_localIPAddress;
extern OptionalText gv_localMACAddress;
extern OptionalText gv_localSubnetMask;
extern OptionalText gv_domainControllerName;

// Proxy.
extern OptionalText gv_proxyEnabled;  // "NO" by default
extern OptionalText gv_proxyServerName;
extern OptionalText gv_proxyByPass;    // "<local>" by default
extern OptionalText gv_proxyUserName;  // empty by default
extern OptionalText gv_proxyPassword;  // empty by default; the decoded password

// Restores every field to its value before loading (tests load the record several times).
void ResetAgentParameters();

// Loads the record. 0 when loaded, 13 when a required value is missing (fields of later steps keep
// their initial values), 10047 when the registry marks the computer as imaged (the record is loaded).
int InitializeAgentParameters();

// The loading steps, each 0 or 13.
int InitializeServerDetailsFromRegistry();
int InitializeDSServerDetailsFromRegistry();
int InitializeAgentDetails();

// Reads "CustomerId" into out: 0, or 13 when it is absent or empty.
int GetCustomerId(OptionalText& out);

// Reads "VXAgentInstallDir" of the agent root key into out (reset first). 0, the registry error,
// or 13 when the value is not an absolute path (empty, relative, or not text at all): such a
// directory would put the log and the scanned files relative to whatever the current directory is.
int GetAgentInstallDir(OptionalText& out);

// Reads "VXAgentResourceID" of the system details key into out, or else asks the management server
// (resource_id.h). 0 when the registry held it or the server lookup ran to its end.
int GetResourceID(OptionalText& out);

// Make every later request go to the distribution server.
void ApplyDSRoute();

// Store the name under which a server answered ("VXLastAccessName", "DistributionLastAccessName").
int SetLastAccessName(const char* name);
int SetDSLastAccessName(const char* name);

}  // namespace vx
