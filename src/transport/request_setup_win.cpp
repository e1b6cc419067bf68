// clang-format off
#include "transport/request_setup_win.h"

#include <wincrypt.h>
// clang-format on

#include <algorithm>
#include <cwchar>
#include <optional>
#include <utility>
#include <vector>

#include "agent/agent_config.h"
#include "agent/os_name.h"
#include "base/time_source.h"
#include "base/unique_crypt_win.h"
#include "logging/logger.h"
#include "platform/registry.h"
#include "platform/system_library_win.h"
#include "platform/text_conversion.h"
#include "transport/transfer_rules.h"
#include "transport/transport_error_texts.h"
#include "transport/winhttp_api_win.h"

namespace vx {
namespace {

constexpr const wchar_t* kGzipHeader = L"Accept-Encoding: gzip";
constexpr DWORD kGzipHeaderLength = 21;
constexpr DWORD kIgnoredCertificateErrors = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE |
                                            SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                                            SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
static_assert(kIgnoredCertificateErrors == 0x3300);

// Logs message (which takes the code) at error level, explains the code and returns it.
int Fail(const char* message, DWORD code) {
  LogError(message, static_cast<int>(code));
  HttpGetLastError(code);
  return static_cast<int>(code);
}

}  // namespace

namespace {

// A value of any type whole, up to kLargestPinValueBytes (larger ones as ERROR_MORE_DATA).
LSTATUS ReadAnyValue(RegistryKey& key, const char* name, RegistryValueData& value) {
  DWORD type = REG_NONE;
  std::string bytes;
  const LSTATUS status = key.ReadWholeValue(name, kLargestPinValueBytes, type, bytes);
  if (status == ERROR_SUCCESS) value = RegistryValueData{type, std::move(bytes)};
  return status;
}

}  // namespace

CertificatePolicy ReadCertificatePolicy() {
  CertificatePolicy policy;
  RegistryKey key;
  const LSTATUS opened = key.OpenKey(HKEY_LOCAL_MACHINE, kAgentRootKey, KEY_READ | kAgentRegistryView);
  if (opened == ERROR_FILE_NOT_FOUND) return policy;
  if (opened != ERROR_SUCCESS) {
    // What the administrator asked for cannot be known: nothing less than the strictest check.
    LogError("ReadCertificatePolicy : The agent key could not be read --> %d; no server certificate is accepted \n",
             static_cast<int>(opened));
    return CertificatePolicy{true, std::string("(unreadable)"), {}};
  }

  RegistryValueData value;
  LSTATUS status = ReadAnyValue(key, kStrictCertificateValue, value);
  if (status == ERROR_SUCCESS) {
    std::string problem;
    policy.strict = StrictCheckFromRegistryValue(value, problem);
    if (!problem.empty()) {
      LogError("ReadCertificatePolicy : %s %s; certificates are validated \n", kStrictCertificateValue,
               problem.c_str());
    }
  } else if (status != ERROR_FILE_NOT_FOUND) {
    LogError("ReadCertificatePolicy : %s could not be read --> %d; certificates are validated \n",
             kStrictCertificateValue, static_cast<int>(status));
    policy.strict = true;
  }

  status = ReadAnyValue(key, kCertificatePinsValue, value);
  if (status == ERROR_SUCCESS) {
    PinValue pins = PinsFromRegistryValue(value);
    policy.pins = std::move(pins.pins);
    std::string text = value.bytes;  // as logged: a list's strings one after another
    std::replace(text.begin(), text.end(), '\0', ';');
    while (!text.empty() && text.back() == ';') text.pop_back();
    policy.pin_text = std::move(text);
    if (!pins.problem.empty()) {
      LogError("ReadCertificatePolicy : %s %s; no server certificate is accepted \n", kCertificatePinsValue,
               pins.problem.c_str());
    }
  } else if (status != ERROR_FILE_NOT_FOUND) {
    LogError("ReadCertificatePolicy : %s could not be read --> %d; no server certificate is accepted \n",
             kCertificatePinsValue, static_cast<int>(status));
    policy.pin_text = "(unreadable)";
  }
  return policy;
}

namespace {

// A certificate context that WinHTTP handed out, freed through crypt32 (bound at first use).
struct CertificateContextTraits {
  using Type = PCCERT_CONTEXT;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type context) noexcept { return context != nullptr; }
  static void Close(Type context) noexcept {
    static const auto free_context =
        SystemFunction<BOOL(WINAPI*)(PCCERT_CONTEXT)>(L"crypt32.dll", "CertFreeCertificateContext");
    if (free_context != nullptr) free_context(context);
  }
};

// The SHA-256 fingerprint of the server certificate of a sent request, "" when it cannot be had.
std::string ServerCertificateFingerprint(HINTERNET request) {
  UniqueResource<CertificateContextTraits> certificate;
  DWORD size = sizeof(PCCERT_CONTEXT);
  if (!WinHttp().query_option(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, certificate.put(), &size) || !certificate) {
    return std::string();
  }
  UniqueCryptProvider provider;
  UniqueCryptHash hash;  // declared after its provider, so it goes first
  unsigned char digest[32] = {};
  DWORD digest_size = sizeof(digest);
  if (::CryptAcquireContextW(provider.put(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
      ::CryptCreateHash(provider.get(), CALG_SHA_256, 0, 0, hash.put()) &&
      ::CryptHashData(hash.get(), certificate.get()->pbCertEncoded, certificate.get()->cbCertEncoded, 0) &&
      ::CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &digest_size, 0) && digest_size == sizeof(digest)) {
    return HexText(digest, sizeof(digest));
  }
  return std::string();
}

// Adds one header line; a failure is logged with message and remembered in pending_error.
void AddHeader(HINTERNET request, const wchar_t* header, const char* message, int& pending_error) {
  if (WinHttp().add_request_headers(request, header, static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD)) return;
  const DWORD code = WinHttp().last_error();
  LogError(message, static_cast<int>(code));
  HttpGetLastError(code);
  pending_error = static_cast<int>(code);
}

// Steps that open the chain and prepare the request. 0, or the error of the step that failed (the
// handles of a failed open are closed; a failed option leaves them open for the caller).
int OpenRequest(const ConnectionParameters& parameters, const wchar_t* object_path, int request_type,
                unsigned char keep_alive, RequestHandles& handles, int& pending_header_error,
                const CertificatePolicy& policy) {
  const WinHttpApi& api = WinHttp();
  if (parameters.use_proxy == 1) {
    LogDebug("GetInternetRequestHandle : Proxy Server Name : %ls \n", parameters.proxy_server.c_str());
    handles.session.reset({api.open(kAgentUserAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, parameters.proxy_server.c_str(),
                                    parameters.proxy_bypass.c_str(), 0)});
  } else {
    handles.session.reset(
        {api.open(kAgentUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0)});
  }
  if (!handles.session) {
    return Fail("GetInternetRequestHandle :  Error in WinHttpOpen --> %d \n", api.last_error());
  }

  const bool https = IsHttps(parameters.protocol);
  DWORD request_flags = WINHTTP_FLAG_REFRESH;
  if (https) {
    (void)SetSecureProtocols(handles.session.get());
    request_flags |= WINHTTP_FLAG_SECURE;
  }

  handles.connection.reset(
      {api.connect(handles.session.get(), parameters.server.c_str(), static_cast<INTERNET_PORT>(parameters.port), 0)});
  if (!handles.connection) {
    const DWORD code = api.last_error();
    handles.session.reset();
    return Fail("GetInternetRequestHandle :  Error in WinHttpConnect --> %d \n", code);
  }

  const wchar_t* accept_types[] = {L"*/*", nullptr};
  handles.request.reset({api.open_request(handles.connection.get(), handles.kind == kHead ? L"HEAD" : L"GET",
                                          object_path, nullptr, WINHTTP_NO_REFERER, accept_types, request_flags)});
  if (!handles.request) {
    const DWORD code = api.last_error();
    handles.connection.reset();
    handles.session.reset();
    return Fail("GetInternetRequestHandle :  Error in WinHttpOpenRequest --> %d \n", code);
  }

  AddHeader(handles.request.get(), keep_alive != 0 ? L"Connection: Keep-Alive" : L"Connection: close",
            "GetInternetRequestHandle :  Error in WinHttpAddRequestHeaders --> %d \n", pending_header_error);
  if (handles.kind == kGetWithHeader) {
    AddHeader(handles.request.get(), handles.extra_header != nullptr ? handles.extra_header : L"",
              "InternetGetRequestByBitrate :  Error in WinHttpAddRequestHeaders --> %d \n", pending_header_error);
    if (handles.validator_header != nullptr) {
      AddHeader(handles.request.get(), handles.validator_header,
                "InternetGetRequestByBitrate :  Error in WinHttpAddRequestHeaders --> %d \n", pending_header_error);
    }
  }

  constexpr const char* kOptionFailure = "GetInternetRequestHandle :  Error in WinHttpSetOption --> %d \n";
  if (request_type == GET_DATA && !SetDwordOption(handles.request.get(), WINHTTP_OPTION_CONNECT_TIMEOUT,
                                                  static_cast<DWORD>(gv_httpConnectionTimeout))) {
    return Fail(kOptionFailure, api.last_error());
  }
  if (https && !ApplyCertificatePolicy(policy, handles.request.get(), "GetInternetRequestHandle")) {
    return Fail(kOptionFailure, api.last_error());
  }
  if (!SetProxyCredentials(handles.request.get(), parameters)) return Fail(kOptionFailure, api.last_error());
  return 0;
}

enum class Exchange { kReceived, kAttemptsUsedUp, kReopen };

// Sends and receives with the retry policy; on kReceived or kAttemptsUsedUp the caller reads the
// response headers. error receives the code when the exchange failed for good.
Exchange SendAndReceive(const ConnectionParameters& parameters, int request_type, unsigned char accept_gzip,
                        bool reopened, RequestHandles& handles, int& error) {
  const WinHttpApi& api = WinHttp();
  error = 0;
  for (int attempts = 0; attempts < kMaximumSendAttempts;) {
    // The request time-out bounds every wait for the server: for data, and for the response headers,
    // which WinHTTP otherwise waits for under its own, longer receive-response time-out.
    if (request_type == GET_DATA && (!SetDwordOption(handles.request.get(), WINHTTP_OPTION_RECEIVE_TIMEOUT,
                                                     static_cast<DWORD>(gv_httpRequestTimeout)) ||
                                     !SetDwordOption(handles.request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT,
                                                     static_cast<DWORD>(gv_httpRequestTimeout)))) {
      error =
          Fail("GetInternetRequestHandle :  Error in WinHttpSetOption before send request --> %d \n", api.last_error());
      return Exchange::kAttemptsUsedUp;
    }
    LogInfo("GetInternetRequestHandle : IsAcceptEncodingGzip-Enabled -> %d\n", accept_gzip);
    BOOL sent = FALSE;
    if (accept_gzip != 0) {
      LogDebug("WinHttpSendRequest with \"Accept-Encoding: gzip\" Header\n");
      sent = api.send_request(handles.request.get(), kGzipHeader, kGzipHeaderLength, WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
    } else {
      sent =
          api.send_request(handles.request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
    }
    if (!sent) {
      const DWORD code = api.last_error();
      if (code == ERROR_WINHTTP_LOGIN_FAILURE || code == ERROR_WINHTTP_OPERATION_CANCELLED) {
        LogInfo(
            "GetInternetRequestHandle : Going to close the request handle and going to resending the data to the "
            "server %ls \n",
            parameters.server.c_str());
      }
      if (AfterSendFailure(code, reopened) == RetryAction::kReopen) return Exchange::kReopen;
      error = Fail("GetInternetRequestHandle :  Error in WinHttpSendRequest -> %d \n", code);
      return Exchange::kAttemptsUsedUp;
    }
    if (api.receive_response(handles.request.get(), nullptr)) return Exchange::kReceived;

    const DWORD code = api.last_error();
    const RetryAction action = AfterReceiveFailure(code, reopened);
    if (action == RetryAction::kPauseAndResend) {
      LogInfo("GetInternetRequestHandle : Resending the data to the server %ls \n", parameters.server.c_str());
      Time().SleepMilliseconds(kResendPauseMilliseconds);
      ++attempts;
    } else if (action != RetryAction::kFail) {
      LogInfo(
          "GetInternetRequestHandle : Going to close the request handle and going to resending the data to the "
          "server %ls,as the error code received is %d \n",
          parameters.server.c_str(), static_cast<int>(code));
      if (action == RetryAction::kReopen) return Exchange::kReopen;
      ++attempts;
    } else {
      LogInfo("GetInternetRequestHandle :  Error - WinHttpReceiveResponse --> %d \n", static_cast<int>(code));
      HttpGetLastError(code);
      error = static_cast<int>(code);
      return Exchange::kAttemptsUsedUp;
    }
  }
  return Exchange::kAttemptsUsedUp;
}

}  // namespace

bool IsHttps(const std::string& protocol) { return EqualsIgnoringCase(protocol, "https"); }

bool SetDwordOption(HINTERNET handle, DWORD option, DWORD value) {
  return WinHttp().set_option(handle, option, &value, sizeof(value)) != FALSE;
}

bool SetTextOption(HINTERNET handle, DWORD option, const std::wstring& text) {
  return WinHttp().set_option(handle, option, const_cast<wchar_t*>(text.c_str()), static_cast<DWORD>(text.size())) !=
         FALSE;
}

bool IgnoreCertificateErrors(HINTERNET request) {
  DWORD security_flags = 0;
  DWORD length = sizeof(security_flags);
  return WinHttp().query_option(request, WINHTTP_OPTION_SECURITY_FLAGS, &security_flags, &length) &&
         SetDwordOption(request, WINHTTP_OPTION_SECURITY_FLAGS, security_flags | kIgnoredCertificateErrors);
}

bool SetProxyCredentials(HINTERNET request, const ConnectionParameters& parameters) {
  if (parameters.use_proxy == 0 || parameters.proxy_user.size() <= 1) return true;
  if (!SetTextOption(request, WINHTTP_OPTION_PROXY_USERNAME, parameters.proxy_user)) return false;
  return parameters.proxy_password.size() <= 1 ||
         SetTextOption(request, WINHTTP_OPTION_PROXY_PASSWORD, parameters.proxy_password);
}

void CloseWinHttpHandle(WinHttpHandle handle, WinHttpHandleKind kind) noexcept {
  if (handle.value == nullptr || WinHttp().close_handle(handle.value)) return;
  const DWORD code = WinHttp().last_error();
  const char* name = kind == WinHttpHandleKind::kRequest      ? "hRequest"
                     : kind == WinHttpHandleKind::kConnection ? "hConnect"
                                                              : "hSession";
  if (handle.close_operation == nullptr) {
    LogDebug("Error in WinHttpCloseHandle %s --> %d \n", name, static_cast<int>(code));
    return;
  }
  LogError("%s :  Error in WinHttpCloseHandle %s --> %d \n", handle.close_operation, name, static_cast<int>(code));
  HttpGetLastError(code);
}

namespace {

// Closes the handle at once, a failure written as one of operation's lines.
template <typename Handle>
void CloseAs(Handle& handle, const char* operation) {
  WinHttpHandle value = handle.release();
  value.close_operation = operation;
  const Handle closing(value);
}

}  // namespace

void CloseRequestHandles(RequestHandles& handles, const char* operation) {
  CloseAs(handles.request, operation);
  CloseAs(handles.connection, operation);
  CloseAs(handles.session, operation);
}

DWORD QueryNumberHeader(HINTERNET request, DWORD query, DWORD& value) {
  DWORD number = 0;
  DWORD length = sizeof(number);
  if (!WinHttp().query_headers(request, query, WINHTTP_HEADER_NAME_BY_INDEX, &number, &length,
                               WINHTTP_NO_HEADER_INDEX)) {
    return WinHttp().last_error();
  }
  value = number;
  return 0;
}

DWORD QueryTextHeader(HINTERNET request, DWORD query, const wchar_t* name, std::wstring& value) {
  const WinHttpApi& api = WinHttp();
  const wchar_t* header_name = name != nullptr ? name : WINHTTP_HEADER_NAME_BY_INDEX;
  DWORD length = 0;
  if (!api.query_headers(request, query, header_name, WINHTTP_NO_OUTPUT_BUFFER, &length, WINHTTP_NO_HEADER_INDEX)) {
    const DWORD code = api.last_error();
    if (code != ERROR_INSUFFICIENT_BUFFER) return code;
  }
  // Room for four times the announced length plus 8 bytes, whole characters, always NUL-terminated.
  std::vector<wchar_t> buffer((static_cast<std::size_t>(length) * 4 + 8) / sizeof(wchar_t) + 1, L'\0');
  DWORD buffer_length = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
  if (!api.query_headers(request, query, header_name, buffer.data(), &buffer_length, WINHTTP_NO_HEADER_INDEX)) {
    return api.last_error();
  }
  value.assign(buffer.data(), std::min<std::size_t>(buffer_length / sizeof(wchar_t), buffer.size() - 1));
  return 0;
}

bool ApplyCertificatePolicy(const CertificatePolicy& policy, HINTERNET request, const char* operation) {
  if (policy.strict) {
    LogDebug("%s :  The request validates the server certificate against the trust store. \n", operation);
    return true;
  }
  if (!IgnoreCertificateErrors(request)) return false;
  LogDebug("%s :  The request is updated with the internet option security flags. \n", operation);
  return true;
}

int CheckPinnedCertificate(const CertificatePolicy& policy, HINTERNET request, const wchar_t* server,
                           const char* operation) {
  if (!policy.pin_text) return 0;
  const std::string fingerprint = ServerCertificateFingerprint(request);
  if (!fingerprint.empty() && std::find(policy.pins.begin(), policy.pins.end(), fingerprint) != policy.pins.end()) {
    return 0;
  }
  LogError("%s : The server certificate (SHA-256 %s) of %ls matches none of the pinned certificates (%s) \n", operation,
           fingerprint.empty() ? "unknown" : fingerprint.c_str(), server, policy.pin_text->c_str());
  return kCertificateNotPinned;
}

int GetInternetRequestHandle(const ConnectionParameters& parameters, const wchar_t* object_path, int request_type,
                             unsigned char keep_alive, RequestHandles& handles, unsigned char accept_gzip) {
  LogDebug("@@@@@@@@ Inside GetInternetRequestHandle Method @@@@@@@@ \n");
  const bool https = IsHttps(parameters.protocol);
  const CertificatePolicy policy = https ? ReadCertificatePolicy() : CertificatePolicy{};
  int pending_header_error = 0;
  bool reopened = false;
  for (;;) {
    pending_header_error = 0;
    if (const int code =
            OpenRequest(parameters, object_path, request_type, keep_alive, handles, pending_header_error, policy)) {
      return code;
    }
    int error = 0;
    const Exchange exchange = SendAndReceive(parameters, request_type, accept_gzip, reopened, handles, error);
    if (exchange == Exchange::kReopen) {
      // A new chain replaces the first one, which is never used again: close all of it.
      CloseRequestHandles(handles);
      reopened = true;
      continue;
    }
    if (error != 0) return error;
    break;
  }

  // A pinned server is checked before anything of its answer is used; the result is no failover
  // code, so no other address is tried with a weaker check.
  if (const int code = CheckPinnedCertificate(policy, handles.request.get(), parameters.server.c_str(),
                                              "GetInternetRequestHandle")) {
    return code;
  }

  std::wstring raw_headers;
  if (const DWORD code = QueryTextHeader(handles.request.get(), WINHTTP_QUERY_RAW_HEADERS_CRLF, nullptr, raw_headers)) {
    return Fail("GetInternetRequestHandle :  Error in WinHttpQueryHeaders --> %d \n", code);
  }
  LogDebug("GetInternetRequestHandle :  Header Informations : \n %ls \n", raw_headers.c_str());

  if (const DWORD code = QueryNumberHeader(handles.request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                           handles.status)) {
    LogError(
        "GetInternetRequestHandle : WinHttpQueryHeaders failed with the error code while getting http status "
        "code %d \n",
        static_cast<int>(code));
    return static_cast<int>(code);
  }
  if (handles.status == HTTP_STATUS_PROXY_AUTH_REQ) {
    LogError("GetInternetRequestHandle : Proxy Credentials are failed to authenticate %d \n",
             static_cast<int>(handles.status));
    return HTTP_STATUS_PROXY_AUTH_REQ;
  }
  LogDebug("@@@@@@@@ End of GetInternetRequestHandle Method @@@@@@@@ \n");
  return pending_header_error;
}

int SetSecureProtocols(HINTERNET session) {
  if (isWin7orWin8()) {
    LogInfo("SetSecureProtocols : Configuring security protocols \n");
    if (SetDwordOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS,
                       WINHTTP_FLAG_SECURE_PROTOCOL_TLS1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 |
                           WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2)) {
      LogInfo("SetSecureProtocols :  Security protocols configured successfully \n");
    } else {
      const DWORD code = WinHttp().last_error();
      LogError("SetSecureProtocols :  Error in WinHttpSetOption for security protocols --> %d \n",
               static_cast<int>(code));
      HttpGetLastError(code);
    }
  }
  return 1;
}

int GetFilelastmodifiedTime(HINTERNET request, std::wstring& out) {
  const WinHttpApi& api = WinHttp();
  LogDebug("@@@@@@@@@@@ Inside GetFilelastmodifiedTime Method   @@@@@@@@@@@@@\n");
  DWORD length = 0;
  if (api.query_headers(request, WINHTTP_QUERY_LAST_MODIFIED, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &length, WINHTTP_NO_HEADER_INDEX) ||
      api.last_error() != ERROR_INSUFFICIENT_BUFFER) {
    // A query without a buffer that "succeeds" has nothing to copy either.
    const DWORD code = api.last_error();
    LogError("GetFilelastmodifiedTime: Could n't query HEADER for last modified time\n");
    return static_cast<int>(code);
  }
  std::vector<wchar_t> buffer((static_cast<std::size_t>(length) * 4 + 2) / sizeof(wchar_t) + 1, L'\0');
  DWORD buffer_length = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
  int result = 0;
  if (api.query_headers(request, WINHTTP_QUERY_LAST_MODIFIED, WINHTTP_HEADER_NAME_BY_INDEX, buffer.data(),
                        &buffer_length, WINHTTP_NO_HEADER_INDEX) ||
      api.last_error() == ERROR_INSUFFICIENT_BUFFER) {
    LogDebug("GetFilelastmodifiedTime : File last modified time: %ls\n", buffer.data());
    out.assign(buffer.data());
  } else {
    const DWORD code = api.last_error();
    LogError("GetFilelastmodifiedTime: Could n't query HEADER for last modified time, error %d\n",
             static_cast<int>(code));
    HttpGetLastError(code);
    result = static_cast<int>(code);
  }
  LogDebug("@@@@@@@@@@@ End of GetFilelastmodifiedTime Method   @@@@@@@@@@@@@\n");
  return result;
}

std::string ResponseLastModified(HINTERNET request) {
  std::wstring text;
  std::string narrow;
  if (QueryTextHeader(request, WINHTTP_QUERY_LAST_MODIFIED, nullptr, text) != 0 ||
      !ChangeWideToUtf8Str(text.c_str(), narrow)) {
    narrow.clear();
  }
  return narrow;
}

std::string ResponseEtag(HINTERNET request) {
  std::wstring text;
  std::string narrow;
  if (QueryTextHeader(request, WINHTTP_QUERY_ETAG, nullptr, text) != 0 || !ChangeWideToUtf8Str(text.c_str(), narrow)) {
    narrow.clear();
  }
  return narrow;
}

FileVersion ResponseVersion(HINTERNET request, std::uint32_t length, const char* operation) {
  FileVersion version{length, ResponseLastModified(request), ResponseEtag(request)};
  if (!HasValidator(version)) {
    LogInfo(
        "%s : The server sends neither ETag nor Last-Modified: a file replaced by another of the same length "
        "cannot be told apart \n",
        operation);
  }
  return version;
}

RangeAnswer OpenRange(const ConnectionParameters& parameters, const wchar_t* object_path, int request_type,
                      unsigned char keep_alive, RequestHandles& handles, std::uint32_t first, std::uint32_t last,
                      const FileVersion& version, int& result, std::uint64_t& body_length) {
  body_length = 0;
  const std::wstring range = L"Range: bytes=" + std::to_wstring(first) + L"-" + std::to_wstring(last);
  std::wstring validator;
  if (const std::string tag = IfRangeValidator(version); !tag.empty() && ChangeUtf8ToWideStr(tag.c_str(), validator)) {
    validator = L"If-Range: " + validator;
  } else {
    validator.clear();
  }
  LogDebug("OpenRange : %ls %ls\n", range.c_str(), validator.c_str());
  handles = RequestHandles{};  // closes an earlier exchange's handles
  handles.kind = kGetWithHeader;
  handles.extra_header = range.c_str();
  handles.validator_header = validator.empty() ? nullptr : validator.c_str();
  result = GetInternetRequestHandle(parameters, object_path, request_type, keep_alive, handles, 0);
  handles.extra_header = nullptr;
  handles.validator_header = nullptr;
  if (result != 0) return RangeAnswer::kFailed;

  RangeResponse response;
  response.status = handles.status;
  std::wstring text;
  std::string narrow;
  if (QueryTextHeader(handles.request.get(), WINHTTP_QUERY_CUSTOM, L"Content-Range", text) == 0 &&
      ChangeWideToUtf8Str(text.c_str(), narrow)) {
    response.content_range = narrow;
  }
  if (std::string last_modified = ResponseLastModified(handles.request.get()); !last_modified.empty()) {
    response.last_modified = std::move(last_modified);
  }
  if (std::string etag = ResponseEtag(handles.request.get()); !etag.empty()) response.etag = std::move(etag);
  DWORD length = 0;
  if (QueryNumberHeader(handles.request.get(), WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER, length) == 0) {
    response.content_length = length;
  }
  const RangeAnswer answer = JudgeRangeAnswer(response, first, version);
  body_length = AnnouncedBodyLength(response, answer, first, last, version);
  if (answer == RangeAnswer::kStartOver) {
    LogError(
        "OpenRange : The answer %d to the range from byte %u (Content-Range %s, Last-Modified %s, ETag %s) is not "
        "the file of %u bytes modified %s (ETag %s) \n",
        static_cast<int>(response.status), static_cast<unsigned>(first), response.content_range.value_or("-").c_str(),
        response.last_modified.value_or("-").c_str(), response.etag.value_or("-").c_str(),
        static_cast<unsigned>(version.length), version.last_modified.c_str(), version.etag.c_str());
  }
  return answer;
}

}  // namespace vx
