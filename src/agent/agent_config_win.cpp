#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdint>

#include "agent/agent_config.h"
#include "agent/agent_config_internal.h"
#include "agent/host_identity.h"
#include "agent/proxy_settings.h"
#include "base/ascii_text.h"
#include "logging/logger.h"
#include "platform/registry.h"
#include "platform/text_conversion.h"

namespace vx {

int gv_isWow64;
std::string gv_tempDir;

OptionalText gv_serverName;
OptionalText gv_serverInstalledTime;
OptionalText gv_serverFlatName;
OptionalText gv_serverIPAddress;
OptionalText gv_serverSecIPAddress;
OptionalText gv_lastAccessName;
int gv_serverHttpPort;
int gv_serverSecurePort;
OptionalText gv_serverProtocol;
int gv_serverPort;

OptionalText gv_dsEnabled;
OptionalText gv_dsServerName;
OptionalText gv_dsServerFlatName;
OptionalText gv_dsLastAccessName;
int gv_dsServerHttpPort;
int gv_dsServerSecurePort;
OptionalText gv_dsServerIPAddress;
OptionalText gv_dsServerSecIPAddress;
OptionalText gv_dsServerProtocol;
int gv_dsServerPort;
int gv_enableDSRoute;

OptionalText gv_agentVersion;
OptionalText gv_agentServiceName;
OptionalText gv_mspName;
OptionalText gv_customerName;
OptionalText gv_customerId;
OptionalText gv_vxProductCode;
OptionalText gv_installDir;
OptionalText gv_remoteOfficeName;
OptionalText gv_remoteOfficeId;
OptionalText gv_remoteOfficeMgmt;
int gv_httpRequestTimeout;
int gv_httpConnectionTimeout;
int gv_dataTransferRateKBps;
OptionalText gv_installSource;
OptionalText gv_installMode;
int gv_blockCrashedConfig;
int gv_shutdownBlocked;
OptionalText gv_clientDataPath;
OptionalText gv_resourceId;
int gv_checksumEnabled;

OptionalText gv_localComputerName;
OptionalText gv_clientNamespace;
int gv_isDomainMember;
OptionalText gv_localIPAddress;
OptionalText gv_localMACAddress;
OptionalText gv_localSubnetMask;
OptionalText gv_domainControllerName;

OptionalText gv_proxyEnabled;
OptionalText gv_proxyServerName;
OptionalText gv_proxyByPass;
OptionalText gv_proxyUserName;
OptionalText gv_proxyPassword;

namespace {

constexpr DWORD kTempDirBufferSize = 255;
constexpr int kSecurePortOffset = 363;  // 80 gives 443
constexpr std::uint32_t kMaximumTransferRateKBps = 3072;
constexpr int kImagedComputerResult = 10047;
constexpr const char* kDefaultProtocol = "http";
constexpr const char* kStarLine = "****************************************************************** \n";

// The values every field holds before loading. Defined once so that the static initial state and
// ResetAgentParameters cannot drift apart.
struct InitialValues {
  InitialValues() { ResetAgentParameters(); }
} const initial_values;

void LoadProcessFacts() {
  gv_isWow64 = 0;
  // kernel32 is always loaded; the lookup keeps the program running where the export is missing.
  if (HMODULE kernel = ::GetModuleHandleA("kernel32")) {
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    const auto is_wow64_process =
        reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void*>(::GetProcAddress(kernel, "IsWow64Process")));
    BOOL wow64 = FALSE;
    if (is_wow64_process != nullptr && is_wow64_process(::GetCurrentProcess(), &wow64)) gv_isWow64 = wow64 ? 1 : 0;
  }
  char buffer[kTempDirBufferSize] = {};
  const DWORD length = ::GetEnvironmentVariableA("TEMP", buffer, kTempDirBufferSize - 1);
  // A value that does not fit is not copied at all (the call reports the size it would need).
  gv_tempDir = length < kTempDirBufferSize - 1 ? std::string(buffer, length) : std::string();
}

// A drive path ("C:\...") or a UNC path ("\\server\..."): the only forms an installation
// directory can take.
bool IsAbsoluteWindowsPath(const std::string& path) {
  const auto is_separator = [](char c) { return c == '\\' || c == '/'; };
  if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
      is_separator(path[2])) {
    return true;
  }
  return path.size() >= 3 && is_separator(path[0]) && is_separator(path[1]) && !is_separator(path[2]);
}

// The number at the start of text as atoi reads it (white space, a sign, digits; 0 when there are
// none), clamped to the int range instead of overflowing.
int DecimalValue(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = std::min<long long>(value * 10 + (text[i] - '0'), static_cast<long long>(INT_MAX) + 1);
  }
  if (negative) value = -value;
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

// A secondary address that is too short to be a host name counts as absent.
void DropIfNotLonger(OptionalText& field, std::size_t length) {
  if (field && field->size() <= length) field.reset();
}

// The protocol value with its rule: absent or shorter than 4 characters means "http".
void ApplyProtocolRule(OptionalText& protocol) {
  if (!protocol || protocol->size() < 4) protocol = kDefaultProtocol;
}

int PortFor(const OptionalText& protocol, int http_port, int secure_port) {
  return EqualsNoCase(protocol, kDefaultProtocol) ? http_port : secure_port;
}

// Reads an optional text; logs message when the read fails.
void ReadOptional(const char* key, const char* name, OptionalText& field, const char* message) {
  if (ReadAgentText(key, name, field) != ERROR_SUCCESS && message != nullptr) LogError("%s", message);
}

// Reads a required text: false (after logging message) when it is absent.
bool ReadRequired(const char* key, const char* name, OptionalText& field, const char* message) {
  if (ReadAgentText(key, name, field) == ERROR_SUCCESS) return true;
  LogError("%s", message);
  return false;
}

// Reads a port: false (after logging message) when it is absent.
bool ReadPort(const char* key, const char* name, int& port, const char* message) {
  OptionalText text;
  if (ReadAgentText(key, name, text) != ERROR_SUCCESS) {
    LogError("%s", message);
    return false;
  }
  port = DecimalValue(*text);
  return true;
}

// The secure port as stored, else the plain port + 363 (kept within the int range).
void ReadSecurePort(const char* name, int http_port, int& secure_port) {
  OptionalText text;
  if (ReadAgentText(kServerInfoKey, name, text) == ERROR_SUCCESS) {
    secure_port = DecimalValue(*text);
  } else {
    secure_port = static_cast<int>(std::min<long long>(static_cast<long long>(http_port) + kSecurePortOffset, INT_MAX));
  }
}

int ReadDword(const char* name, int default_value) {
  DWORD value = static_cast<DWORD>(default_value);
  if (ReadDwordRegistryData(HKEY_LOCAL_MACHINE, kAgentRootKey, name, &value) != ERROR_SUCCESS) return default_value;
  return static_cast<int>(value);
}

void WriteAgentText(const char* key, const char* name, const char* text) {
  (void)writeValue(HKEY_LOCAL_MACHINE, key, name, text, REG_SZ);
}

// "DataTransferRate_KBps": a present number up to 3072 stands; an absent or empty value, or one above
// 3072 taken as unsigned (negative numbers included), becomes 0 and "0" is written back. A text
// without leading digits is 0 and stays as it is.
void LoadTransferRate() {
  constexpr const char* kName = "DataTransferRate_KBps";
  OptionalText text;
  const bool read = ReadAgentText(kAgentRootKey, kName, text) == ERROR_SUCCESS;
  if (!read || text->empty()) {
    gv_dataTransferRateKBps = 0;
    WriteAgentText(kAgentRootKey, kName, "0");
    return;
  }
  gv_dataTransferRateKBps = DecimalValue(*text);
  if (static_cast<std::uint32_t>(gv_dataTransferRateKBps) > kMaximumTransferRateKBps) {
    gv_dataTransferRateKBps = 0;
    WriteAgentText(kAgentRootKey, kName, "0");
  }
}

void LoadDSRoute() {
  constexpr const char* kName = "EnableDSRoute";
  OptionalText text;
  if (ReadAgentText(kAgentRootKey, kName, text) == ERROR_SUCCESS) {
    if (!text->empty()) gv_enableDSRoute = EqualsNoCase(text, "yes") ? 1 : 0;
    return;
  }
  gv_enableDSRoute = 0;
  if (writeValue(HKEY_LOCAL_MACHINE, kAgentRootKey, kName, "no", REG_SZ) != ERROR_SUCCESS) {
    LogError("InitializeAgentDetails : Error while fetching GetEnableDSRoute from registry! \n");
  }
}

// "client-data/<customer id>/domains/<namespace>", both lower-cased: the id byte by byte (ASCII), the
// namespace by Unicode rules.
void BuildClientDataPath() {
  const std::string customer = ToLowerAscii(gv_customerId.value_or(""));
  gv_clientDataPath = "client-data/" + customer + "/domains/" + ToLowerUtf8(gv_clientNamespace.value_or(""));
}

void LogSummary() {
  LogInfo("%s", kStarLine);
  LogInfo("Quorvant Server Name                -> %s \n", LogText(gv_serverName));
  LogInfo("Quorvant Server Flat Name           -> %s \n", LogText(gv_serverFlatName));
  LogInfo("Quorvant Server IPAddress           -> %s \n", LogText(gv_serverIPAddress));
  LogInfo("Quorvant Server Secondary IPAddress -> %s \n", LogText(gv_serverSecIPAddress));
  LogInfo("Quorvant Last Access Name           -> %s \n", LogText(gv_lastAccessName));
  LogInfo("Quorvant Server Port                -> %d \n", gv_serverPort);
  LogInfo("Quorvant Server Protocol            -> %s \n", LogText(gv_serverProtocol));
  LogInfo("Quorvant Agent Version              -> %s \n", LogText(gv_agentVersion));
  LogInfo("Quorvant Agent InstallDir           -> %s \n", LogText(gv_installDir));
  LogInfo("Quorvant Client Namespace           -> %s \n", LogText(gv_clientNamespace));
  LogInfo("Quorvant Server Data Path           -> %s \n", LogText(gv_clientDataPath));
  LogInfo("Quorvant MSP Name\t           -> %s \n", LogText(gv_mspName));
  LogInfo("Quorvant Customer Name\t           -> %s \n", LogText(gv_customerName));
  LogInfo("Quorvant Customer Id\t\t   -> %s \n", LogText(gv_customerId));
  LogInfo("Quorvant Product Code               -> %s \n", LogText(gv_vxProductCode));
  LogInfo("Local Computer Name                       -> %s \n", LogText(gv_localComputerName));
  LogInfo("Local Computer IP Address                 -> %s \n", LogText(gv_localIPAddress));
  LogInfo("Local Computer MAC Address                -> %s \n", LogText(gv_localMACAddress));
  LogInfo("Local Computer Subnet Mask                -> %s \n", LogText(gv_localSubnetMask));
  LogInfo("VX Distribution Server Enabled            -> %s \n", LogText(gv_dsEnabled));
  LogInfo("The remote office name is                 -> %s \n", LogText(gv_remoteOfficeName));
  LogInfo("Quorvant Agent HTTP Request Timeout -> %d \n", gv_httpRequestTimeout);
  LogInfo("Local Computer Domain controller          -> %s \n", LogText(gv_domainControllerName));
  LogInfo("The Agent Machine Resource Id is given by -> %s \n", LogText(gv_resourceId));
  LogInfo("Agent Checksum Enabled\t\t               -> %d \n", gv_checksumEnabled);
  LogInfo("Agent Data Transfer Rate in KBps\t\t   -> %d \n", gv_dataTransferRateKBps);
  LogInfo("Agent Installation Source\t\t\t\t   -> %s \n", LogText(gv_installSource));
  LogInfo("Agent Installation Mode\t\t\t\t   -> %s (2-> silent, 5->Manual) \n", LogText(gv_installMode));
  LogInfo("%s", kStarLine);
  if (EqualsNoCase(gv_dsEnabled, "yes")) {
    LogInfo("VX Distribution Server  Name      \t\t\t-> %s \n", LogText(gv_dsServerName));
    LogInfo("VX Distribution Server  IPAddress \t\t\t-> %s \n", LogText(gv_dsServerIPAddress));
    LogInfo("VX Distribution Server  Sec IPAddress         \t\t-> %s \n", LogText(gv_dsServerSecIPAddress));
    LogInfo("VX Distribution Server  Port      \t\t\t-> %d \n", gv_dsServerPort);
    LogInfo("VX Distribution Server  Last Access Name\t\t-> %s \n", LogText(gv_dsLastAccessName));
    LogInfo("VX Distribution Server  Protocol  \t\t\t-> %s \n", LogText(gv_dsServerProtocol));
    LogInfo("Remote Office ID                          -> %s \n", LogText(gv_remoteOfficeId));
    LogInfo("%s", kStarLine);
  }
  if (gv_enableDSRoute == 1) {
    ApplyDSRoute();
    LogInfo("Enable Distribution Server Route                       -> %d \n", gv_enableDSRoute);
    LogInfo("%s", kStarLine);
  }
}

}  // namespace

LSTATUS ReadAgentText(const char* key, const char* name, OptionalText& field) {
  field.reset();
  std::optional<std::string> bytes;
  const LSTATUS status = ReadRegSZ(HKEY_LOCAL_MACHINE, key, name, bytes);
  if (status == ERROR_SUCCESS) field = RegistryText(*bytes);
  return status;
}

bool EqualsNoCase(const OptionalText& field, const char* text) {
  return field && text != nullptr && EqualsIgnoreAsciiCase(*field, text);
}

void ResetAgentParameters() {
  gv_isWow64 = 0;
  gv_tempDir.clear();
  for (OptionalText* field :
       {&gv_serverName,         &gv_serverInstalledTime,  &gv_serverFlatName,    &gv_serverIPAddress,
        &gv_serverSecIPAddress, &gv_lastAccessName,       &gv_dsEnabled,         &gv_dsServerName,
        &gv_dsServerFlatName,   &gv_dsLastAccessName,     &gv_dsServerIPAddress, &gv_dsServerSecIPAddress,
        &gv_agentVersion,       &gv_agentServiceName,     &gv_mspName,           &gv_customerName,
        &gv_customerId,         &gv_installDir,           &gv_remoteOfficeName,  &gv_remoteOfficeId,
        &gv_installSource,      &gv_installMode,          &gv_clientDataPath,    &gv_resourceId,
        &gv_localComputerName,  &gv_clientNamespace,      &gv_localIPAddress,    &gv_localMACAddress,
        &gv_localSubnetMask,    &gv_domainControllerName, &gv_proxyServerName}) {
    field->reset();
  }
  gv_serverProtocol = kDefaultProtocol;
  gv_dsServerProtocol = kDefaultProtocol;
  gv_vxProductCode = "KORB";
  gv_remoteOfficeMgmt = "NO";
  gv_proxyEnabled = "NO";
  gv_proxyByPass = "<local>";
  gv_proxyUserName = std::string();
  gv_proxyPassword = std::string();
  gv_serverHttpPort = gv_serverSecurePort = gv_serverPort = 0;
  gv_dsServerHttpPort = gv_dsServerSecurePort = gv_dsServerPort = 0;
  gv_enableDSRoute = 0;
  gv_httpRequestTimeout = 60000;
  gv_httpConnectionTimeout = 30000;
  gv_dataTransferRateKBps = 1024;
  gv_blockCrashedConfig = 0;
  gv_shutdownBlocked = 0;
  gv_checksumEnabled = 1;
  gv_isDomainMember = 1;
}

int GetAgentInstallDir(OptionalText& out) {
  out.reset();
  OptionalText directory;
  const LSTATUS status = ReadAgentText(kAgentRootKey, kInstallDirValue, directory);
  if (status != ERROR_SUCCESS) return status;
  if (!IsAbsoluteWindowsPath(*directory)) {
    LogError("GetAgentInstallDir : The agent installation directory in the registry is not an absolute path \n");
    return ERROR_INVALID_DATA;
  }
  out = std::move(directory);
  return ERROR_SUCCESS;
}

int GetCustomerId(OptionalText& out) {
  if (ReadAgentText(kAgentRootKey, "CustomerId", out) != ERROR_SUCCESS || out->empty()) {
    LogError("GetCustomerId: error while retrieving customerid\n");
    return ERROR_INVALID_DATA;
  }
  return ERROR_SUCCESS;
}

int SetLastAccessName(const char* name) {
  return writeValue(HKEY_LOCAL_MACHINE, kServerInfoKey, "VXLastAccessName", name, REG_SZ);
}

int SetDSLastAccessName(const char* name) {
  return writeValue(HKEY_LOCAL_MACHINE, kServerInfoKey, "DistributionLastAccessName", name, REG_SZ);
}

namespace {

// One value of a server record, in the order the record reads them.
enum class Read {
  kRequired,        // text; absent stops the load
  kOptional,        // text; absent is logged
  kPort,            // decimal text into the record's plain port; absent stops the load
  kSecurePort,      // decimal text, else the plain port + 363
  kProtocol,        // text with the protocol rule
  kSharedProtocol,  // the management server's protocol written here first, then as kProtocol
};
struct RecordValue {
  Read read;
  const char* name;
  OptionalText* text;                   // the field of a text value
  const char* what;                     // for the error line; none: nothing is logged
  std::size_t keep_if_longer_than = 0;  // a shorter text counts as absent
};
struct ServerRecord {
  const char* message_prefix;
  const char* intro;  // a debug line first, or none
  std::initializer_list<RecordValue> values;
  int& http_port;
  int& secure_port;
  int& port;  // the plain or the secure port, as the protocol says
};

// Loads the management server's or the distribution server's record from the ServerInfo key.
// 13 when a required value is absent; the fields read so far keep their values.
int LoadServerRecord(const ServerRecord& record) {
  if (record.intro != nullptr) LogDebug("%s", record.intro);
  const auto message = [&](const RecordValue& value) {
    return value.what == nullptr ? std::string()
                                 : std::string(record.message_prefix) + value.what + " from registry! \n";
  };
  OptionalText* protocol = nullptr;
  for (const RecordValue& value : record.values) {
    switch (value.read) {
      case Read::kRequired:
        if (!ReadRequired(kServerInfoKey, value.name, *value.text, message(value).c_str())) return ERROR_INVALID_DATA;
        break;
      case Read::kOptional:
        ReadOptional(kServerInfoKey, value.name, *value.text, value.what ? message(value).c_str() : nullptr);
        if (value.keep_if_longer_than != 0) DropIfNotLonger(*value.text, value.keep_if_longer_than);
        break;
      case Read::kPort:
        if (!ReadPort(kServerInfoKey, value.name, record.http_port, message(value).c_str())) return ERROR_INVALID_DATA;
        break;
      case Read::kSecurePort:
        ReadSecurePort(value.name, record.http_port, record.secure_port);
        break;
      case Read::kSharedProtocol:
        // The distribution server always speaks the management server's protocol.
        WriteAgentText(kServerInfoKey, value.name, gv_serverProtocol.value_or(kDefaultProtocol).c_str());
        [[fallthrough]];
      case Read::kProtocol:
        (void)ReadAgentText(kServerInfoKey, value.name, *value.text);
        ApplyProtocolRule(*value.text);
        protocol = value.text;
        break;
    }
  }
  record.port =
      PortFor(protocol != nullptr ? *protocol : OptionalText(kDefaultProtocol), record.http_port, record.secure_port);
  return 0;
}

}  // namespace

int InitializeServerDetailsFromRegistry() {
  return LoadServerRecord(
      {"InitializeServerDetailsFromRegistry : Error while fetching ",
       nullptr,
       {{Read::kRequired, "VXServerName", &gv_serverName, "server name"},
        {Read::kOptional, "VXServerInstalledTime", &gv_serverInstalledTime, "server installed time"},
        {Read::kOptional, "VXServerFlatName", &gv_serverFlatName, "server name"},
        {Read::kOptional, "VXServerIPAddress", &gv_serverIPAddress, "server ipaddress"},
        {Read::kOptional, "VXServerSecIPAddress", &gv_serverSecIPAddress, "server Secondary ipaddress", 2},
        {Read::kOptional, "VXLastAccessName", &gv_lastAccessName, "server name"},
        {Read::kPort, "VXServerPort", nullptr, "server port"},
        {Read::kSecurePort, "VXServerSecurePort", nullptr, nullptr},
        {Read::kProtocol, "VXServerProtocol", &gv_serverProtocol, nullptr}},
       gv_serverHttpPort,
       gv_serverSecurePort,
       gv_serverPort});
}

int InitializeDSServerDetailsFromRegistry() {
  return LoadServerRecord(
      {"InitializeDSServerDetailsFromRegistry : Error while fetching Reporting ",
       "InitializeDSServerDetailsFromRegistry : Reading reporting server regsirty entries\n",
       {{Read::kRequired, "DistributionServerName", &gv_dsServerName, "server name"},
        {Read::kOptional, "DistributionServerFlatName", &gv_dsServerFlatName, "server flat name"},
        {Read::kOptional, "DistributionLastAccessName", &gv_dsLastAccessName, "server last access name"},
        {Read::kPort, "DistributionServerPort", nullptr, "server port"},
        {Read::kSecurePort, "DistributionServerSecurePort", nullptr, nullptr},
        {Read::kOptional, "DistributionServerIPAddress", &gv_dsServerIPAddress, "server ipaddress"},
        {Read::kOptional, "DistributionServerSecIPAddress", &gv_dsServerSecIPAddress, "secondary server ipaddress", 3},
        {Read::kSharedProtocol, "DistributionServerProtocol", &gv_dsServerProtocol, nullptr}},
       gv_dsServerHttpPort,
       gv_dsServerSecurePort,
       gv_dsServerPort});
}

int InitializeAgentDetails() {
  constexpr const char* kPrefix = "InitializeAgentDetails : Error while fetching ";
  const auto message = [&](const char* what) { return std::string(kPrefix) + what + " from registry! \n"; };
  struct Required {
    const char* name;
    OptionalText* field;
    const char* what;
  };
  for (const Required& value :
       {Required{"VXAgentVersion", &gv_agentVersion, "agent version"},
        Required{"AgentServiceName", &gv_agentServiceName, "agent service name"},
        Required{"MSPName", &gv_mspName, "msp name"}, Required{"CustomerName", &gv_customerName, "customer name"}}) {
    if (!ReadRequired(kAgentRootKey, value.name, *value.field, message(value.what).c_str())) return ERROR_INVALID_DATA;
  }
  if (GetCustomerId(gv_customerId) != ERROR_SUCCESS) {
    LogError("%s", message("customer Id").c_str());
    return ERROR_INVALID_DATA;
  }
  if (!ReadRequired(kAgentRootKey, "VXProductCode", gv_vxProductCode, message("product Code").c_str())) {
    return ERROR_INVALID_DATA;
  }
  if (GetAgentInstallDir(gv_installDir) != ERROR_SUCCESS) {
    LogError("%s", message("agent installation directory").c_str());
    return ERROR_INVALID_DATA;
  }
  ReadOptional(kAgentRootKey, "RemoteOfficeName", gv_remoteOfficeName, message("branch office Name").c_str());
  ReadOptional(kAgentRootKey, "RemoteOfficeID", gv_remoteOfficeId, message("branch office ID").c_str());
  if (ReadAgentText(kAgentRootKey, "EnableRemoteOfficeMgmt", gv_remoteOfficeMgmt) != ERROR_SUCCESS) {
    gv_remoteOfficeMgmt = "NO";
  }
  gv_httpRequestTimeout = ReadDword("HTTPRequestTimeout", 60000);
  gv_httpConnectionTimeout = ReadDword("HTTPConnectionTimeout", 30000);
  LoadTransferRate();
  ReadOptional(kAgentRootKey, "InstallSource", gv_installSource, message("Install source").c_str());
  ReadOptional(kAgentRootKey, "InstallMode", gv_installMode, message("Install mode").c_str());
  LoadDSRoute();
  gv_blockCrashedConfig = ReadDword("BlockCrashedConfig", 0);
  LogDebug("InitializeAgentDetails : Some configuration is crashed (if value is one) : %d \n", gv_blockCrashedConfig);
  gv_shutdownBlocked = ReadDword("ShutdownBlocked", 0);
  LogInfo("InitializeAgentDetails : BlockedShutdown value : %d \n", gv_shutdownBlocked);
  BuildClientDataPath();
  (void)GetResourceID(gv_resourceId);
  OptionalText checksum;
  if (ReadAgentText(kAgentRootKey, "EnableChecksum", checksum) == ERROR_SUCCESS) {
    gv_checksumEnabled = EqualsNoCase(checksum, "yes") ? 1 : 0;
  }
  return 0;
}

void ApplyDSRoute() {
  // Only a distribution server that is enabled and named can take the route; otherwise the
  // management server would be left with no address at all.
  if (!EqualsNoCase(gv_dsEnabled, "yes") || !gv_dsServerName) {
    LogError(
        "ApplyDSRoute : The distribution server route is enabled but no distribution server is configured; "
        "requests stay with the management server \n");
    return;
  }
  // Every address of the distribution server replaces the management server's; an address the
  // distribution server lacks is left out rather than pointing at the other server, whose answer
  // would then be remembered as the route's last access name.
  gv_serverName = gv_dsServerName;
  gv_serverFlatName = gv_dsServerName;
  gv_serverIPAddress = gv_dsServerIPAddress;
  gv_serverSecIPAddress = gv_dsServerSecIPAddress;
  gv_lastAccessName = gv_dsLastAccessName;
  gv_proxyEnabled = "NO";
}

int InitializeAgentParameters() {
  LogDebug("@@@@@@@ Inside InitializeAgentParameters Method @@@@@@@@ \n");
  LoadProcessFacts();

  if (InitializeServerDetailsFromRegistry() != 0) {
    LogError("InitializeAgentParameters : Error while fetching Server details from registry! \n");
    return ERROR_INVALID_DATA;
  }
  if (ReadAgentText(kAgentRootKey, "EnableDistributionServer", gv_dsEnabled) != ERROR_SUCCESS) {
    LogError("InitializeAgentParameters : Error while fetching Master Agent entry from registry! \n");
    return ERROR_INVALID_DATA;
  }
  if (EqualsNoCase(gv_dsEnabled, "yes")) {
    if (InitializeDSServerDetailsFromRegistry() != 0) {
      LogError("InitializeAgentParameters : Error while fetching DS Server details from registry! \n");
      return ERROR_INVALID_DATA;
    }
  } else {
    gv_dsServerProtocol = gv_serverProtocol;
    gv_dsServerPort = gv_serverPort;
  }
  if (InitializeLocalMachineDetails() != 0) {
    LogError("InitializeAgentParameters : Error while the local machine details ! \n");
    return ERROR_INVALID_DATA;
  }
  if (ReadAgentText(kAgentRootKey, "ProxyEnabled", gv_proxyEnabled) != ERROR_SUCCESS) gv_proxyEnabled = "NO";
  if (EqualsNoCase(gv_proxyEnabled, "yes")) (void)InitializeProxyDetails();
  if (InitializeAgentDetails() != 0) {
    LogError("InitializeAgentParameters : Error while the Agent details ! \n");
    return ERROR_INVALID_DATA;
  }

  LogSummary();

  if (ReadDword("ImagedComputer", 0) == 1) {
    LogInfo("InitializeAgentParameters : Computer is detected as imaged One .. \n");
    return kImagedComputerResult;
  }
  LogDebug("InitializeAgentParameters : Computer is not an imaged one .. \n");
  LogDebug("@@@@@@@@ End Of InitializeAgentParameters Method @@@@@@@@ \n");
  return 0;
}

}  // namespace vx
