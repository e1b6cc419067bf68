#include "transport/upload_win.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "agent/agent_config.h"
#include "base/time_source.h"
#include "base/unique_handle_win.h"
#include "logging/logger.h"
#include "platform/text_conversion.h"
#include "transport/request_setup_win.h"
#include "transport/transport_error_texts.h"
#include "transport/winhttp_api_win.h"

namespace vx {
namespace {

// The two operations share their steps; every line they log starts with the operation's name.
constexpr const char* kPostOperation = "InternetSendRequestEx";
constexpr const char* kFileOperation = "InternetSendRequestByBitRate";

constexpr DWORD kStatusQuery = WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER;
constexpr DWORD kContentLengthQuery = WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER;
// The answer is read in pieces of at most this size.
constexpr DWORD kAnswerReadBytes = 64 * 1024;
// A file upload with no usable chunk size writes pieces of this size; a larger chunk size than the
// largest piece still writes pieces of the largest piece, so that one buffer never takes much memory.
constexpr DWORD kDefaultChunkBytes = 64 * 1024;
constexpr DWORD kLargestPieceBytes = 4 * 1024 * 1024;
// The file size travels as a signed 32-bit count.
constexpr std::int64_t kLargestFileBytes = std::numeric_limits<std::int32_t>::max();

// One upload's WinHTTP handles and the values every step needs. The handles still open when it
// ends are closed, request first, a failed close written as one of the operation's lines.
struct UploadChain {
  const char* operation = nullptr;
  const ConnectionParameters* parameters = nullptr;
  const wchar_t* object_path = nullptr;
  bool https = false;
  CertificatePolicy certificates;  // the administrator's rules, for HTTPS
  DWORD request_flags = WINHTTP_FLAG_REFRESH;
  UniqueWinHttpSession session;
  UniqueWinHttpConnection connection;
  UniqueWinHttpRequest request;

  // Closes whatever is open, request first.
  void CloseHandles() {
    request.reset();
    connection.reset();
    session.reset();
  }
};

// Logs format (which takes the operation's name and the code) at error level, explains the code
// and returns it.
int Fail(const UploadChain& chain, const char* format, DWORD code) {
  LogError(format, chain.operation, static_cast<int>(code));
  HttpGetLastError(code);
  return static_cast<int>(code);
}

int OpenPostRequest(UploadChain& chain) {
  chain.request.reset({WinHttp().open_request(chain.connection.get(), L"POST", chain.object_path, nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, chain.request_flags),
                       chain.operation});
  if (!chain.request) {
    return Fail(chain, "%s :  Error in WinHttpOpenRequest --> %d \n", WinHttp().last_error());
  }
  return 0;
}

// Session, connection and the first POST request. 0 or the error of the step that failed; the
// handles opened so far stay in the chain for the caller to close.
int OpenChain(UploadChain& chain) {
  const WinHttpApi& api = WinHttp();
  const ConnectionParameters& parameters = *chain.parameters;
  if (parameters.use_proxy != 0) {
    LogInfo("%s : Proxy Server Name : %ls \n", chain.operation, parameters.proxy_server.c_str());
    chain.session.reset({api.open(kAgentUserAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, parameters.proxy_server.c_str(),
                                  parameters.proxy_bypass.c_str(), 0),
                         chain.operation});
  } else {
    chain.session.reset(
        {api.open(kAgentUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0),
         chain.operation});
  }
  if (!chain.session) return Fail(chain, "%s :  Error in WinHttpOpen --> %d \n", api.last_error());

  chain.https = IsHttps(parameters.protocol);
  if (chain.https) {
    chain.certificates = ReadCertificatePolicy();
    (void)SetSecureProtocols(chain.session.get());
    chain.request_flags |= WINHTTP_FLAG_SECURE;
  }
  chain.connection.reset(
      {api.connect(chain.session.get(), parameters.server.c_str(), static_cast<INTERNET_PORT>(parameters.port), 0),
       chain.operation});
  if (!chain.connection) return Fail(chain, "%s :  Error in WinHttpConnect --> %d \n", api.last_error());
  return OpenPostRequest(chain);
}

// Headers and options of one request handle. A Connection header that cannot be added is only
// logged; an option that cannot be set ends the call with its error.
int PrepareRequest(UploadChain& chain, bool keep_alive, bool connect_timeout) {
  const WinHttpApi& api = WinHttp();
  if (!api.add_request_headers(chain.request.get(), keep_alive ? L"Connection: Keep-Alive" : L"Connection: close",
                               static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD)) {
    Fail(chain, "%s :  Error in WinHttpAddRequestHeaders --> %d \n", api.last_error());
  }
  constexpr const char* kOptionFailure = "%s :  Error in WinHttpSetOption --> %d \n";
  if (connect_timeout && !SetDwordOption(chain.request.get(), WINHTTP_OPTION_CONNECT_TIMEOUT,
                                         static_cast<DWORD>(gv_httpConnectionTimeout))) {
    return Fail(chain, kOptionFailure, api.last_error());
  }
  if (chain.https && !ApplyCertificatePolicy(chain.certificates, chain.request.get(), chain.operation)) {
    return Fail(chain, kOptionFailure, api.last_error());
  }
  if (!SetProxyCredentials(chain.request.get(), *chain.parameters))
    return Fail(chain, kOptionFailure, api.last_error());
  return 0;
}

// What one attempt's sending came to.
struct SendOutcome {
  bool sent = false;  // the request and its body went out
  DWORD error = 0;    // the send's error when it did not
  int abandon = 0;    // nonzero: nothing was sent and the call ends with this result
};

SendOutcome Sent() { return {true, 0, 0}; }
SendOutcome SendFailed(DWORD error) { return {false, error, 0}; }
SendOutcome Abandon(int result) { return {false, 0, result}; }

// Sends the request without its body, body_bytes announced, and checks the server certificate
// against the pinned ones before a byte of the body may follow: a server that is not pinned ends
// the call with kCertificateNotPinned.
SendOutcome SendBeforeBody(const UploadChain& chain, HINTERNET request, const wchar_t* headers, DWORD headers_length,
                           DWORD body_bytes) {
  if (!WinHttp().send_request(request, headers, headers_length, WINHTTP_NO_REQUEST_DATA, 0, body_bytes, 0)) {
    return SendFailed(WinHttp().last_error());
  }
  const int code =
      CheckPinnedCertificate(chain.certificates, request, chain.parameters->server.c_str(), chain.operation);
  return code == 0 ? Sent() : Abandon(code);
}

// Sends and receives with the retry policy, on the chain's request handle and, once, on a
// replacement opened on the same connection. send_attempt(request, first_on_handle) sends one
// attempt. 0 when the response headers are to be read (also when five attempts went unanswered:
// the header query then fails); otherwise the call's result, already logged.
template <typename SendAttempt>
int SendWithRetries(UploadChain& chain, bool keep_alive, bool connect_timeout, SendAttempt&& send_attempt) {
  const WinHttpApi& api = WinHttp();
  const wchar_t* server = chain.parameters->server.c_str();
  bool reopened = false;
  for (;;) {
    if (const int code = PrepareRequest(chain, keep_alive, connect_timeout)) return code;
    bool reopen = false;
    bool first_on_handle = true;
    for (int attempts = 0; attempts < kMaximumSendAttempts && !reopen;) {
      const SendOutcome outcome = send_attempt(chain.request.get(), first_on_handle);
      first_on_handle = false;
      if (outcome.abandon != 0) return outcome.abandon;
      if (!outcome.sent) {
        if (outcome.error == ERROR_WINHTTP_LOGIN_FAILURE || outcome.error == ERROR_WINHTTP_OPERATION_CANCELLED) {
          LogInfo("%s : Going to close the request handle and going to resending the data to the server %ls \n",
                  chain.operation, server);
        }
        if (AfterSendFailure(outcome.error, reopened) == RetryAction::kReopen) {
          reopen = true;
          continue;
        }
        return Fail(chain, "%s :  Error in WinHttpSendRequest -> %d \n", outcome.error);
      }
      if (api.receive_response(chain.request.get(), nullptr)) return 0;

      const DWORD code = api.last_error();
      const RetryAction action = AfterReceiveFailure(code, reopened);
      if (action == RetryAction::kPauseAndResend) {
        LogInfo("%s : Resending the data to the server %ls \n", chain.operation, server);
        Time().SleepMilliseconds(kResendPauseMilliseconds);
        ++attempts;
      } else if (action != RetryAction::kFail) {
        LogInfo(
            "%s : Going to close the request handle and going to resending the data to the server %ls,as the error "
            "code received is %d \n",
            chain.operation, server, static_cast<int>(code));
        if (action == RetryAction::kResend) {
          ++attempts;
        } else {
          reopen = true;
        }
      } else {
        LogInfo("%s :  Error - WinHttpReceiveResponse --> %d \n", chain.operation, static_cast<int>(code));
        HttpGetLastError(code);
        return static_cast<int>(code);
      }
    }
    if (!reopen) return 0;

    // Only the request is replaced; the session and the connection stay.
    chain.request.reset();
    reopened = true;
    if (const int code = OpenPostRequest(chain)) return code;
  }
}

// Reads the answer into out, at most content_length bytes: reads stop at a failure, at a read that
// brings nothing, or when the announced length arrived (bytes a server sends beyond what it announced
// are not taken). 0, or ERROR_NOT_ENOUGH_MEMORY when the answer does not fit in memory.
int ReadAnswerBody(const UploadChain& chain, DWORD content_length, std::string& answer) {
  const WinHttpApi& api = WinHttp();
  try {
    std::vector<char> piece(static_cast<std::size_t>(std::min(content_length, kAnswerReadBytes)) + 1, '\0');
    while (answer.size() < content_length) {
      const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(content_length - answer.size(), piece.size() - 1));
      DWORD read = 0;
      if (!api.read_data(chain.request.get(), piece.data(), wanted, &read)) {
        Fail(chain, "%s :  Error in WinHttpReadData --> %d \n", api.last_error());
        break;
      }
      if (read == 0) break;
      read = std::min(read, wanted);
      answer.append(piece.data(), read);
      // Each line shows the piece just read: together they are the whole answer, and the log does
      // not grow with the square of its length.
      piece[read] = '\0';
      LogDebug("%s : Received response from server %ls: \n %s \n", chain.operation, chain.parameters->server.c_str(),
               piece.data());
      LogDebug("%s :  No Of Bytes -> %d \n", chain.operation, static_cast<int>(read));
    }
  } catch (const std::bad_alloc&) {
    LogError("%s : Not enough memory for the answer of the server \n", chain.operation);
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  return 0;
}

// The raw response headers, logged. 0 or the query's error, logged.
int LogResponseHeaders(const UploadChain& chain) {
  std::wstring raw_headers;
  if (const DWORD code = QueryTextHeader(chain.request.get(), WINHTTP_QUERY_RAW_HEADERS_CRLF, nullptr, raw_headers)) {
    return Fail(chain, "%s :  Error in WinHttpQueryHeaders --> %d \n", code);
  }
  LogDebug("%s :  Header Informations : \n %ls \n", chain.operation, raw_headers.c_str());
  return 0;
}

// Judges the status and, for 200 with out given, reads the answer into out. The call's result.
int ReadAnswer(const UploadChain& chain, std::string* out) {
  const wchar_t* server = chain.parameters->server.c_str();
  DWORD status = 0;
  if (const DWORD code = QueryNumberHeader(chain.request.get(), kStatusQuery, status)) {
    LogError("%s : WinHttpQueryHeaders failed with the error code while getting http status code %d \n",
             chain.operation, static_cast<int>(code));
    return static_cast<int>(code);
  }
  if (status == HTTP_STATUS_PROXY_AUTH_REQ) {
    LogError("%s : Proxy Credentials are failed to authenticate %d \n", chain.operation, static_cast<int>(status));
    return HTTP_STATUS_PROXY_AUTH_REQ;
  }
  if (status != HTTP_STATUS_OK) {
    std::string server_text;
    if (!ChangeWideToUtf8Str(server, server_text)) server_text.clear();
    LogError("%s : Failed to post the data to the server %s with http status code %d \n", chain.operation,
             server_text.c_str(), static_cast<int>(status));
    return static_cast<int>(status);
  }
  LogInfo("%s : Successfully posted the data to the server %ls \n", chain.operation, server);
  if (out == nullptr) return 0;

  LogInfo("%s : Reading the response sent by the server %ls \n", chain.operation, server);
  DWORD content_length = 0;
  if (const DWORD code = QueryNumberHeader(chain.request.get(), kContentLengthQuery, content_length)) {
    LogError("%s :  WinHttpQueryHeaders failed with the error code while getting content length -> %d \n",
             chain.operation, static_cast<int>(code));
    HttpGetLastError(code);
    return static_cast<int>(code);
  }
  std::string answer;
  if (const int code = ReadAnswerBody(chain, content_length, answer)) return code;
  *out = std::move(answer);
  return 0;
}

// Everything after the request is prepared: the exchange, the answer and the closes. A failure of
// the exchange or of the header query ends the call at once (handles closed, no closing banner).
template <typename SendAttempt>
int PostAndAnswer(UploadChain& chain, bool keep_alive, bool connect_timeout, std::string* out, const char* end_banner,
                  SendAttempt&& send_attempt) {
  int result = OpenChain(chain);
  if (result == 0) result = SendWithRetries(chain, keep_alive, connect_timeout, send_attempt);
  if (result == 0) result = LogResponseHeaders(chain);
  if (result != 0) {
    chain.CloseHandles();
    return result;
  }
  result = ReadAnswer(chain, out);
  chain.CloseHandles();
  LogDebug("%s", end_banner);
  return result;
}

// The size of the file by its UTF-16 name, 0 when it cannot be opened. Read-control access needs
// no data access, so a file that another process holds open is sized too.
std::int64_t FileSizeOf(const std::wstring& path) {
  if (path.empty()) return 0;
  const UniqueHandle file(::CreateFileW(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !::GetFileSizeEx(file.get(), &size)) return 0;
  return size.QuadPart;
}

// Writes the file's first file_size bytes to the sent request in pieces of buffer's size. Stops
// early when the file ends or a read or a write fails; the receive then reports the short body.
void WriteFileBody(const UploadChain& chain, HANDLE file, DWORD file_size, std::vector<char>& buffer) {
  const WinHttpApi& api = WinHttp();
  DWORD left = file_size;
  while (left > 0) {
    const DWORD piece = std::min(static_cast<DWORD>(buffer.size()), left);
    DWORD read = 0;
    if (!::ReadFile(file, buffer.data(), piece, &read, nullptr)) {
      Fail(chain, "%s :  Error in ReadFile --> %d \n", ::GetLastError());
      return;
    }
    if (read == 0) return;
    DWORD written = 0;
    if (!api.write_data(chain.request.get(), buffer.data(), read, &written)) {
      Fail(chain, "%s :  Error in WinHttpWriteData --> %d \n", api.last_error());
      return;
    }
    left -= read;
  }
}

}  // namespace

int InternetSendRequestEx(const ConnectionParameters& parameters, const wchar_t* object_path, const char* body,
                          std::string* out, int request_type, unsigned char keep_alive, int post_size) {
  if (object_path == nullptr) object_path = L"";
  LogDebug("@@@@@@@@ Inside InternetSendRequestEx Method @@@@@@@@ \n");
  LogInfo("InternetSendRequestEx : Quorvant Server & Port -> %ls : %d \n", parameters.server.c_str(), parameters.port);
  LogDebug("InternetSendRequestEx : URL to Post -> %ls \n", object_path);
  if (body == nullptr) {
    LogError("InternetSendRequestEx : No data given to post \n");
    return kMissingInput;
  }
  std::size_t size = 0;
  if (request_type == POST_MULTIPART && post_size != 0) {
    if (post_size < 0) {
      LogError("InternetSendRequestEx : The post size %d is not a byte count \n", post_size);
      return kMissingInput;
    }
    size = static_cast<std::size_t>(post_size);
  } else {
    size = std::strlen(body);
  }
  if (size > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    LogError("InternetSendRequestEx : The data to post is too large \n");
    return kMissingInput;
  }
  const DWORD post_bytes = static_cast<DWORD>(size);
  if (request_type == POST_MULTIPART) {
    // A multipart body may be binary, and need not end with a NUL: only its size is logged.
    LogDebug("InternetSendRequestEx : Data to Send -> %u bytes of multipart data \n",
             static_cast<unsigned>(post_bytes));
  } else {
    LogDebug("InternetSendRequestEx : Data to Send -> \n %s \n", body);
  }
  LogDebug("InternetSendRequestEx : dwPostSize: %d \n", static_cast<int>(post_bytes));

  UploadChain chain;
  chain.operation = kPostOperation;
  chain.parameters = &parameters;
  chain.object_path = object_path;
  const bool send_data = request_type == SEND_DATA;
  const auto send_attempt = [&](HINTERNET request, bool first_on_handle) {
    const WinHttpApi& api = WinHttp();
    if (send_data) {
      // The request time-out bounds every wait for the server, the response headers included
      // (WinHTTP otherwise waits for them under its own, longer time-out). Not fatal: the post goes on.
      const DWORD timeout = static_cast<DWORD>(gv_httpRequestTimeout);
      if (!SetDwordOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, timeout) ||
          !SetDwordOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, timeout)) {
        Fail(chain, "%s :  Error in WinHttpSetOption before send request--> %d \n", api.last_error());
      }
    } else if (request_type == POST_MULTIPART && first_on_handle) {
      // Once per request handle: the header stays on the handle, and adding it again on a resend
      // would send it twice.
      if (!api.add_request_headers(request, L"Content-Type: multipart/form-data", static_cast<DWORD>(-1),
                                   WINHTTP_ADDREQ_FLAG_ADD)) {
        Fail(chain, "%s :  Error in WinHttpAddRequestHeaders (second Header ) --> %d \n", api.last_error());
      }
    }
    if (chain.certificates.pin_text) {
      // The body goes only to a pinned server, after the request.
      const SendOutcome outcome = SendBeforeBody(chain, request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, post_bytes);
      DWORD written = 0;
      if (outcome.sent && post_bytes != 0 && !api.write_data(request, body, post_bytes, &written)) {
        Fail(chain, "%s :  Error in WinHttpWriteData --> %d \n", api.last_error());
      }
      return outcome;
    }
    if (!api.send_request(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, const_cast<char*>(body), post_bytes, post_bytes,
                          0)) {
      return SendFailed(api.last_error());
    }
    return Sent();
  };
  return PostAndAnswer(chain, keep_alive != 0, send_data, out,
                       "@@@@@@@@ End Of InternetSendRequestEx Method @@@@@@@@ \n", send_attempt);
}

int InternetSendRequestByBitRate(const ConnectionParameters& parameters, const wchar_t* object_path,
                                 const char* file_path, std::string* out, int /*request_type*/,
                                 unsigned char /*keep_alive*/, int chunk_size) {
  if (object_path == nullptr) object_path = L"";
  LogDebug("***************** Inside InternetSendRequestByBitRate Method ***************** \n");
  LogInfo("InternetSendRequestByBitRate : Quorvant Server & Port -> %ls : %d \n", parameters.server.c_str(),
          parameters.port);
  LogDebug("InternetSendRequestByBitRate : URL to Post -> %ls \n", object_path);
  if (file_path == nullptr) {
    LogError("InternetSendRequestByBitRate : No file given to upload \n");
    return kMissingInput;
  }
  // The path is UTF-8 like every path the agent hands the transport; the file is sized and opened by
  // the same UTF-16 name.
  std::wstring path;
  if (!ChangeUtf8ToWideStr(file_path, path)) path.clear();
  const std::int64_t file_size = FileSizeOf(path);
  if (file_size <= 0) {
    LogError("InternetSendRequestByBitRate: File Size is zero: %d\n", static_cast<int>(file_size));
    return kMissingInput;
  }
  if (file_size > kLargestFileBytes) {
    LogError("InternetSendRequestByBitRate: File Size %s bytes is too large to upload (2 GiB or more)\n",
             std::to_string(file_size).c_str());
    return kMissingInput;
  }
  DWORD piece_bytes = kDefaultChunkBytes;
  if (chunk_size > 0) {
    piece_bytes = std::min(static_cast<DWORD>(chunk_size), kLargestPieceBytes);
  } else {
    LogInfo("InternetSendRequestByBitRate : Chunk size %d is not usable, sending pieces of %u bytes \n", chunk_size,
            static_cast<unsigned>(piece_bytes));
  }
  const DWORD file_bytes = static_cast<DWORD>(file_size);
  std::vector<char> buffer(std::min(piece_bytes, file_bytes));
  char header[64];
  (void)std::snprintf(header, sizeof(header), "Content-type: multipart/form-data; filesize=\"%d\"",
                      static_cast<int>(file_bytes));
  const std::wstring wide_header(header, header + std::strlen(header));

  UploadChain chain;
  chain.operation = kFileOperation;
  chain.parameters = &parameters;
  chain.object_path = object_path;
  // Every attempt opens the file again and sends it whole from its start.
  const auto send_attempt = [&](HINTERNET request, bool /*first_on_handle*/) {
    const UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
      // Sized a moment ago, gone or locked now: nothing can be sent, now or in a later attempt.
      Fail(chain, "%s : Could not open the file to upload --> %d \n", ::GetLastError());
      return Abandon(kMissingInput);
    }
    LogInfo("InternetSendRequestByBitRate: Header buffer: %s", header);
    const SendOutcome outcome =
        SendBeforeBody(chain, request, wide_header.c_str(), static_cast<DWORD>(wide_header.size()), file_bytes);
    if (outcome.sent) WriteFileBody(chain, file.get(), file_bytes, buffer);
    return outcome;
  };
  return PostAndAnswer(chain, true, false, out,
                       "***************** End Of InternetSendRequestByBitRate Method ***************** \n",
                       send_attempt);
}

}  // namespace vx
