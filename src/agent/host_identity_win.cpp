#include "agent/host_identity.h"

// winsock2.h before windows.h, the network headers after both.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <dsgetdc.h>
#include <iphlpapi.h>
#include <lm.h>
// clang-format on

#include <cstdio>

#include "agent/address_lists.h"
#include "base/unique_handle_win.h"
#include "logging/logger.h"
#include "platform/system_library_win.h"
#include "platform/text_conversion.h"

namespace vx {
namespace {

constexpr ULONG kDsReturnFlatName = 0x80000000;
constexpr DWORD kComputerNameUnits = 64;

// The network functions, bound at first use (see platform/system_library_win.h).
struct NetworkFunctions {
  decltype(&::GetAdaptersInfo) get_adapters_info =
      SystemFunction<decltype(&::GetAdaptersInfo)>(L"iphlpapi.dll", "GetAdaptersInfo");
  decltype(&::DsGetDcNameA) ds_get_dc_name = SystemFunction<decltype(&::DsGetDcNameA)>(L"netapi32.dll", "DsGetDcNameA");
  decltype(&::NetGetJoinInformation) net_get_join_information =
      SystemFunction<decltype(&::NetGetJoinInformation)>(L"netapi32.dll", "NetGetJoinInformation");
  decltype(&::NetApiBufferFree) net_api_buffer_free =
      SystemFunction<decltype(&::NetApiBufferFree)>(L"netapi32.dll", "NetApiBufferFree");
  decltype(&::WSAStartup) wsa_startup = SystemFunction<decltype(&::WSAStartup)>(L"ws2_32.dll", "WSAStartup");
  decltype(&::WSACleanup) wsa_cleanup = SystemFunction<decltype(&::WSACleanup)>(L"ws2_32.dll", "WSACleanup");
  decltype(&::WSAGetLastError) wsa_get_last_error =
      SystemFunction<decltype(&::WSAGetLastError)>(L"ws2_32.dll", "WSAGetLastError");
};

const NetworkFunctions& Network() {
  static const NetworkFunctions functions;
  return functions;
}

// A buffer that a NetAPI function allocated, freed through netapi32 (bound at first use).
struct NetApiBufferTraits {
  using Type = void*;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type buffer) noexcept { return buffer != nullptr; }
  static void Close(Type buffer) noexcept {
    if (Network().net_api_buffer_free != nullptr) Network().net_api_buffer_free(buffer);
  }
};
using UniqueNetApiBuffer = UniqueResource<NetApiBufferTraits>;

// The adapter records of the buffer GetAdaptersInfo filled, hardware addresses cut to the length
// the record states (never more than its array holds).
std::vector<AdapterRecord> ReadAdapterRecords(const IP_ADAPTER_INFO* adapter) {
  std::vector<AdapterRecord> records;
  for (; adapter != nullptr; adapter = adapter->Next) {
    AdapterRecord record;
    record.index = adapter->Index;
    const UINT length = std::min<UINT>(adapter->AddressLength, MAX_ADAPTER_ADDRESS_LENGTH);
    record.hardware_address.assign(adapter->Address, adapter->Address + length);
    for (const IP_ADDR_STRING* entry = &adapter->IpAddressList; entry != nullptr; entry = entry->Next) {
      record.ip_entries.push_back(
          {std::string(entry->IpAddress.String, strnlen(entry->IpAddress.String, sizeof(entry->IpAddress.String))),
           std::string(entry->IpMask.String, strnlen(entry->IpMask.String, sizeof(entry->IpMask.String))),
           entry->Context});
    }
    records.push_back(std::move(record));
  }
  return records;
}

std::string TrimWhiteSpace(const std::string& text) {
  const auto is_space = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
  };
  std::size_t end = text.size();
  while (end > 0 && is_space(text[end - 1])) --end;
  std::size_t begin = 0;
  while (begin < end && is_space(text[begin])) ++begin;
  return text.substr(begin, end - begin);
}

// Windows Sockets for the duration of a scope.
class WinsockSession {
 public:
  WinsockSession() {
    started_ = Network().wsa_startup != nullptr && Network().wsa_startup(MAKEWORD(2, 2), &data_) == 0;
  }
  ~WinsockSession() {
    if (started_) Network().wsa_cleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;

 private:
  WSADATA data_{};
  bool started_ = false;
};

}  // namespace

int GetMACandIPAddress(OptionalText& ip_list, OptionalText& mac_list, OptionalText& mask_list) {
  ip_list = std::string();
  mac_list = std::string();
  mask_list = std::string();

  const auto get_adapters_info = Network().get_adapters_info;
  ULONG size = 0;
  DWORD status = get_adapters_info != nullptr ? get_adapters_info(nullptr, &size) : ERROR_PROC_NOT_FOUND;
  if (status != ERROR_SUCCESS && status != ERROR_BUFFER_OVERFLOW) {
    LogError("GetMACandIPAddress : GetAdaptersInfo sizing failed with error %d\n", static_cast<int>(status));
    return static_cast<int>(status);
  }
  UniqueGlobalMemory buffer(size != 0 ? ::GlobalAlloc(GPTR, size) : nullptr);
  if (size != 0 && !buffer) {
    LogError("GetMACandIPAddress : Memory allocation error\n");
    return static_cast<int>(::GetLastError());
  }
  std::vector<AdapterRecord> adapters;
  if (size != 0) {
    auto* info = static_cast<IP_ADAPTER_INFO*>(buffer.get());
    status = get_adapters_info(info, &size);
    if (status != ERROR_SUCCESS) {
      LogError("GetMACandIPAddress : GetAdaptersInfo failed with error %d\n", static_cast<int>(status));
      return static_cast<int>(status);
    }
    adapters = ReadAdapterRecords(info);
  }
  buffer.reset();

  AddressLists lists = BuildAddressLists(adapters);
  for (const std::string& line : lists.entry_lines) {
    (void)std::fputs(line.c_str(), stdout);
    LogInfo("ipAddress :%s", line.c_str());
  }
  (void)std::fflush(stdout);
  if (lists.truncated) {
    LogError("GetMACandIPAddress : The address lists are full; further addresses are left out\n");
  }
  ip_list = std::move(lists.ip_addresses);
  mac_list = std::move(lists.mac_addresses);
  mask_list = std::move(lists.subnet_masks);
  LogDebug("GetMACandIPAddress : Local Machine MAC ADDRESS : %s \n", mac_list->c_str());
  LogDebug("GetMACandIPAddress : Local Machine IP ADDRESS  : %s \n", ip_list->c_str());
  LogDebug("GetMACandIPAddress : Local Machine Subnet Mask : %s \n", mask_list->c_str());
  return 0;
}

int GetComputerLogonServer(OptionalText& name) {
  DOMAIN_CONTROLLER_INFOA* info = nullptr;
  const auto ds_get_dc_name = Network().ds_get_dc_name;
  const DWORD status = ds_get_dc_name != nullptr
                           ? ds_get_dc_name(nullptr, nullptr, nullptr, nullptr, kDsReturnFlatName, &info)
                           : ERROR_PROC_NOT_FOUND;
  const UniqueNetApiBuffer owner(info);
  if (status != ERROR_SUCCESS) {
    LogError("GetComputerLogonServer: Error while fetching DC name! %d \n", static_cast<int>(status));
    return static_cast<int>(status);
  }
  const auto text = [](const char* field) { return field != nullptr ? field : "(null)"; };
  LogDebug("GetComputerLogonServer : DomainControllerName :%s \n", text(info->DomainControllerName));
  LogDebug("DomainControllerAddress :%s\n", text(info->DomainControllerAddress));
  LogDebug("DomainName :%s\n", text(info->DomainName));
  LogDebug("DnsForestName :%s\n", text(info->DnsForestName));
  LogDebug("DcSiteName :%s\n", text(info->DcSiteName));
  LogDebug("ClientSiteName :%s\n", text(info->ClientSiteName));
  // The name comes as two backslashes and the flat name.
  const std::string controller = info->DomainControllerName != nullptr ? info->DomainControllerName : "";
  name = controller.size() > 2 ? controller.substr(2) : std::string();
  return 0;
}

int GetLocalComputerName(OptionalText& name) {
  WinsockSession winsock;
  wchar_t buffer[kComputerNameUnits] = {};
  DWORD size = kComputerNameUnits;
  if (!::GetComputerNameExW(ComputerNamePhysicalDnsHostname, buffer, &size)) {
    const auto wsa_get_last_error = Network().wsa_get_last_error;
    LogError("GetLocalComputerName: Error while getting computername! %d \n",
             wsa_get_last_error != nullptr ? wsa_get_last_error() : static_cast<int>(::GetLastError()));
    return 0;
  }
  LogDebug("GetLocalComputerName: Computer Name: %ls \n", buffer);
  std::string utf8;
  if (!ChangeWideToUtf8Str(buffer, utf8)) return 0;
  name = std::move(utf8);
  LogInfo("GetLocalComputerName : Computer Name : %s\n", name->c_str());
  return 1;
}

int GetComputerNameSpace(OptionalText& name, int& is_domain_member) {
  wchar_t* joined_name = nullptr;
  NETSETUP_JOIN_STATUS status = NetSetupUnknownStatus;
  const auto net_get_join_information = Network().net_get_join_information;
  const NET_API_STATUS result = net_get_join_information != nullptr
                                    ? net_get_join_information(nullptr, &joined_name, &status)
                                    : static_cast<NET_API_STATUS>(ERROR_PROC_NOT_FOUND);
  const UniqueNetApiBuffer owner(joined_name);
  if (result != NERR_Success) {
    LogError("GetComputerNameSpace : Failed to retrive the namespace -> %d \n", static_cast<int>(result));
    return 0;
  }
  std::string utf8;
  if (joined_name == nullptr || !ChangeWideToUtf8Str(joined_name, utf8)) utf8.clear();
  name = std::move(utf8);
  switch (status) {
    case NetSetupUnknownStatus:
      LogInfo("GetComputerNameSpace : The status is unknown. \n");
      is_domain_member = 0;
      break;
    case NetSetupUnjoined:
      LogInfo("GetComputerNameSpace :The computer is not joined. \n");
      is_domain_member = 0;
      break;
    case NetSetupWorkgroupName:
      LogInfo("GetComputerNameSpace :The computer is joined to a workgroup. \n");
      is_domain_member = 0;
      break;
    case NetSetupDomainName:
      LogInfo("GetComputerNameSpace :The computer is joined to a domain. \n");
      is_domain_member = 1;
      break;
    default:
      LogInfo("GetComputerNameSpace : The status is not determined .\n");
      is_domain_member = 0;
      break;
  }
  return 1;
}

int InitializeLocalMachineDetails() {
  if (GetMACandIPAddress(gv_localIPAddress, gv_localMACAddress, gv_localSubnetMask) != 0) {
    LogError("InitializeLocalMachineDetails : Error while fetching Local machine IP and MAC Addresses! \n");
  }
  if (GetComputerLogonServer(gv_domainControllerName) != 0) {
    LogError("InitializeLocalMachineDetails : Error while fetching computer domain controller ! \n");
  }
  if (GetLocalComputerName(gv_localComputerName) == 0) {
    LogError("InitializeLocalMachineDetails : Error occured while retrieving the local computer name !!! \n");
    return ERROR_INVALID_DATA;
  }
  OptionalText name_space;
  if (GetComputerNameSpace(name_space, gv_isDomainMember) == 0) {
    LogError("InitializeLocalMachineDetails : Error occured while retrieving the name space !!! \n");
    return ERROR_INVALID_DATA;
  }
  gv_clientNamespace = TrimWhiteSpace(*name_space);
  return 0;
}

}  // namespace vx
