// Request types, result codes and connection parameters shared by the transport's operations.
#pragma once

#include <string>

namespace vx {

// What a request does; the values are fixed, agents and servers agree on them.
enum RequestType : int {
  GET_DATA = 11001,        // download into memory
  SEND_DATA = 11002,       // post a text
  DOWNLOAD_FILE = 11003,   // download to a file
  POST_DATA = 11004,       // post a text
  POST_MULTIPART = 11005,  // post bytes of a given size
  UPLOAD_FILE = 11006,     // post a file in pieces
};

// Transfer modes of AgentSendRequest.
enum TransferMode : int {
  kWholeDownload = 0,
  kRateLimitedDownload = 1,
  kNoDownload = 2,
};

// The transport's own results besides 0, HTTP statuses and Windows or WinHTTP error codes.
inline constexpr int kNotModified = 90001;   // the server answered 304
inline constexpr int kLengthMismatch = 707;  // the body was shorter or longer than Content-Length
inline constexpr int kReadBackFailed = 6;    // a GET_DATA temporary file could not be read back
inline constexpr int kMissingInput = 13;     // a missing argument or an internal failure
// The server's file changed again after the download had started over for a new version (the HTTP
// status for a validator that no longer holds).
inline constexpr int kServerFileChanged = 412;

// How a server is reached. The server and proxy texts are UTF-16; the proxy values are used only
// when use_proxy is 1.
struct ConnectionParameters {
  unsigned char use_proxy = 0;
  std::string protocol;  // "https" (any case) selects TLS, anything else plain HTTP
  std::wstring server;
  int port = 0;
  std::wstring proxy_server;
  std::wstring proxy_bypass;
  std::wstring proxy_user;
  std::wstring proxy_password;
};

}  // namespace vx
