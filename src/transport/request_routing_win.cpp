#include <windows.h>
#include <winhttp.h>

#include <array>

#include "agent/agent_config.h"
#include "agent/resource_id.h"
#include "logging/logger.h"
#include "platform/text_conversion.h"
#include "transport/file_download_win.h"
#include "transport/request_routing.h"
#include "transport/transfer_rules.h"
#include "transport/upload_win.h"

namespace vx {
namespace {

constexpr int kCandidateCount = 5;
constexpr std::size_t kShortestUsableAddress = 3;

// One server as the configuration record describes it.
struct Route {
  bool management = true;
  OptionalText* last_access_name = nullptr;
  std::array<const OptionalText*, kCandidateCount> candidates{};
  const OptionalText* protocol = nullptr;
  int port = 0;
  int (*store_last_access_name)(const char*) = nullptr;
};

Route ChooseRoute(unsigned char to_server) {
  Route route;
  route.management = to_server == 1 || !gv_dsEnabled || !EqualsIgnoringCase(*gv_dsEnabled, "yes");
  if (route.management) {
    route.last_access_name = &gv_lastAccessName;
    route.candidates = {&gv_lastAccessName, &gv_serverIPAddress, &gv_serverSecIPAddress, &gv_serverName,
                        &gv_serverFlatName};
    route.protocol = &gv_serverProtocol;
    route.port = gv_serverPort;
    route.store_last_access_name = &SetLastAccessName;
  } else {
    route.last_access_name = &gv_dsLastAccessName;
    route.candidates = {&gv_dsLastAccessName, &gv_dsServerIPAddress, &gv_dsServerSecIPAddress, &gv_dsServerName,
                        &gv_dsServerFlatName};
    route.protocol = &gv_dsServerProtocol;
    route.port = gv_dsServerPort;
    route.store_last_access_name = &SetDSLastAccessName;
  }
  return route;
}

// UTF-8 to UTF-16; an absent or unconvertible text is empty.
std::wstring Wide(const OptionalText& text) {
  std::wstring wide;
  if (!text || !ChangeUtf8ToWideStr(text->c_str(), wide)) wide.clear();
  return wide;
}

// The same for a secret: the conversion that logs its input is never given one.
std::wstring WideSecret(const OptionalText& text) {
  std::wstring wide;
  if (!text || !ChangeSecretUtf8ToWideStr(text->c_str(), wide)) wide.clear();
  return wide;
}

}  // namespace

int AgentSendRequest(const char* path, const char* data, std::string* out, int request_type, unsigned char keep_alive,
                     unsigned char to_server, int size, int transfer_mode) {
  if (path == nullptr) {
    LogError("AgentSendRequest : No path given for the request \n");
    return kMissingInput;
  }
  LogInfo("gotcha1 %s", path);
  Route route = ChooseRoute(to_server);
  const OptionalText protocol = *route.protocol;

  const std::string rewritten =
      RewritePathForProduct(gv_vxProductCode, ForwardSlashes(path), route.management, request_type);
  std::string utf8_path;
  if (!ChangeAnsiToUTF8Str(rewritten.c_str(), utf8_path)) utf8_path = rewritten;
  LogInfo("AgentSendRequest : The url to get / send in UTF8 format is given by %s \n", utf8_path.c_str());
  std::wstring object_path;
  if (!ChangeUtf8ToWideStr(utf8_path.c_str(), object_path)) {
    LogError("AgentSendRequest : The request path could not be converted \n");
    return kMissingInput;
  }

  std::wstring destination;
  bool has_destination = false;
  if (transfer_mode != kNoDownload && data != nullptr) {
    if (request_type == GET_DATA) has_destination = ChangeUtf8ToWideStr(data, destination);
    if (request_type == DOWNLOAD_FILE) has_destination = ChangeToWideStr(data, destination);
  }

  std::array<std::wstring, kCandidateCount> addresses;
  std::array<bool, kCandidateCount> usable{};
  for (int i = 0; i < kCandidateCount; ++i) {
    addresses[i] = Wide(*route.candidates[i]);
    usable[i] = addresses[i].size() >= kShortestUsableAddress;
  }

  ConnectionParameters parameters;
  parameters.protocol = protocol.value_or(std::string());
  parameters.port = route.port;
  if (gv_proxyEnabled && EqualsIgnoringCase(*gv_proxyEnabled, "yes")) {
    parameters.use_proxy = route.management ? 1 : 0;
    parameters.proxy_server = Wide(gv_proxyServerName);
    parameters.proxy_bypass = Wide(gv_proxyByPass);
    parameters.proxy_user = Wide(gv_proxyUserName);
    parameters.proxy_password = WideSecret(gv_proxyPassword);
  }

  const auto transfer = [&](int candidate) -> int {
    parameters.server = addresses[candidate];
    if (request_type == SEND_DATA || request_type == POST_DATA || request_type == POST_MULTIPART) {
      return InternetSendRequestEx(parameters, object_path.c_str(), data, out, request_type, keep_alive, size);
    }
    if (request_type == UPLOAD_FILE) {
      return InternetSendRequestByBitRate(parameters, object_path.c_str(), data, out, request_type, keep_alive, size);
    }
    const wchar_t* destination_path = has_destination ? destination.c_str() : nullptr;
    if (transfer_mode == kWholeDownload) {
      return InternetGetRequestEx(parameters, object_path.c_str(), destination_path, out, request_type, keep_alive, 1);
    }
    if (transfer_mode == kRateLimitedDownload) {
      return InternetGetRequestByBitrate(parameters, object_path.c_str(), destination_path, out, request_type,
                                         keep_alive);
    }
    return ERROR_WINHTTP_NAME_NOT_RESOLVED;  // no download: the result stays as it started
  };
  const FailoverOutcome outcome = RunFailover(usable, transfer);

  if (outcome.new_last_access >= 0) *route.last_access_name = *route.candidates[outcome.new_last_access];
  if (IsTransferSuccess(outcome.result) && *route.last_access_name) {
    (void)route.store_last_access_name((*route.last_access_name)->c_str());
    LogInfo("AgentSendRequest : Last Access Address is %s \n", (*route.last_access_name)->c_str());
  }
  return outcome.result;
}

int AgentGetData(const char* path, std::string* out, unsigned char keep_alive) {
  return AgentSendRequest(path, nullptr, out, GET_DATA, keep_alive, 1, 0, kWholeDownload);
}

void InstallTransportServices() { SetResourceDocumentFetcher(&AgentGetData); }

}  // namespace vx
