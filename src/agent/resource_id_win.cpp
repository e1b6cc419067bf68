#include <windows.h>

#include "agent/agent_config_internal.h"
#include "agent/resource_id.h"
#include "agent/service_notification.h"
#include "logging/logger.h"
#include "platform/registry.h"
#include "platform/text_conversion.h"
#include "tablestore/table_data.h"
#include "tablestore/table_xml.h"

namespace vx {
namespace {

ResourceDocumentFetcher g_fetcher = nullptr;

// "LocalDomainName" as UTF-8, or nothing when it cannot be read.
OptionalText ReadLocalDomainName() {
  std::optional<std::wstring> wide;
  if (ReadRegSZEx(HKEY_LOCAL_MACHINE, kSystemDetailsKey, "LocalDomainName", wide) != ERROR_SUCCESS || !wide) {
    return std::nullopt;
  }
  std::string utf8;
  if (!ChangeWideToUtf8Str(wide->c_str(), utf8)) return std::nullopt;
  return utf8;
}

}  // namespace

void SetResourceDocumentFetcher(ResourceDocumentFetcher fetcher) { g_fetcher = fetcher; }

std::string ResourceDocumentPath(const std::string& client_data_path, const OptionalText& name_space,
                                 const OptionalText& domain_name, const std::string& computer_name) {
  std::string client_path = client_data_path;
  if (domain_name) {
    LogInfo("domainNameFromReg: %s\n", domain_name->c_str());
    client_path = FindAndReplaceWithNoCase(client_data_path.c_str(), name_space ? name_space->c_str() : nullptr,
                                           domain_name->c_str())
                      .value_or(client_data_path);
    LogInfo("clientDataPathTemp: %s", client_path.c_str());
  } else {
    LogError("GetResourceIDFromServer : LocalDomainName is not in the registry, using the client data path %s \n",
             client_data_path.c_str());
  }
  client_path = ToLowerUtf8(client_path);
  LogInfo("lower_CDPath: %s\n", client_path.c_str());
  const std::string lower_name = ToLowerUtf8(computer_name);
  LogInfo("lower_compName: %s\n", lower_name.c_str());
  return "/" + client_path + "/resources/" + lower_name + ".xml";
}

int GetResourceIDFromServer(OptionalText& out) {
  const std::string computer_name = gv_localComputerName.value_or(std::string());
  LogInfo("gv_clientDataPath: %s\n", LogText(gv_clientDataPath));
  LogInfo("gv_localComputerName: %s\n", computer_name.c_str());
  LogInfo("clientDataPathTemp: %s\n", LogText(gv_clientDataPath));
  LogInfo("localComputerLwr: %s\n", computer_name.c_str());
  if (!gv_clientDataPath || !gv_localComputerName) {
    LogError("GetResourceIDFromServer : The client data path or the computer name is not known \n");
    return ERROR_INVALID_DATA;
  }

  const std::string path =
      ResourceDocumentPath(*gv_clientDataPath, gv_clientNamespace, ReadLocalDomainName(), computer_name);
  LogInfo("resourceIdXmlPath: %s\n", path.c_str());

  std::string document;
  const int fetched = g_fetcher != nullptr ? g_fetcher(path.c_str(), &document, 1) : ERROR_INVALID_DATA;
  if (fetched != 0) {
    LogError("GetResourceIDFromServer : Unable to get the reource id xml from %s path and the error code is %d \n",
             path.c_str(), fetched);
    return fetched;
  }

  ::SetLastError(ERROR_SUCCESS);
  if (!ConstructTableDataFromXmlBuffer(document.c_str(), static_cast<std::int32_t>(document.size()))) {
    // The store reports no code of its own; a failed load is never reported as success.
    int code = static_cast<int>(::GetLastError());
    if (code == 0) code = ERROR_INVALID_DATA;
    LogError("GetResourceIDFromServer : Error occured (%d) while loading resource id buffer to the memory : \n %s \n",
             code, document.c_str());
    return code;
  }

  // The result set stays with the store, like the tables the document brought.
  ResultData* rows = SelectRows("Agentparams", "PARAM_NAME='RESOURCE_ID'");
  if (rows == nullptr) {
    LogError("GetResourceIDFromServer :No rows found corresponding to the resource id in the resource id xml .\n");
    return 0;
  }
  std::int32_t length = 0;
  const char* value = GotoNextRowObject(rows) != nullptr ? GetColumnValueByName("param_Value", &length, rows) : nullptr;
  if (value == nullptr) {
    LogError("GetResourceIDFromServer : No row objects corresponding to the resource id is found \n");
    return 0;
  }
  out = std::string(value);
  LogInfo("GetResourceIDFromServer : The Resource ID from the server is given  by %s \n", out->c_str());
  (void)writeValue(HKEY_LOCAL_MACHINE, kSystemDetailsKey, "VXAgentResourceID", out->c_str(), REG_SZ);
  std::wstring service_name;
  if (gv_agentServiceName && ChangeUtf8ToWideStr(gv_agentServiceName->c_str(), service_name)) {
    (void)SendServiceMsg(kResourceIdStoredControl, service_name.c_str());
  }
  return 0;
}

int GetResourceID(OptionalText& out) {
  if (ReadAgentText(kSystemDetailsKey, "VXAgentResourceID", out) == ERROR_SUCCESS) return 0;
  LogError(
      "GetResourceID : Unable to get the VX Agent Resource ID from Registry , So trying to get the same from "
      "server .\n");
  return GetResourceIDFromServer(out);
}

}  // namespace vx
