// Opening a WinHTTP request to a server: session, connection, request, the agent's headers and
// options, sending with the retry policy and reading the status (Windows).
//
// Everything runs synchronously on the calling thread; each exchange has its own RequestHandles.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <optional>
#include <string>
#include <vector>

#include "base/unique_resource.h"
#include "transport/transfer_rules.h"
#include "transport/transport_types.h"

namespace vx {

enum RequestKind : int {
  kPlainGet = 0,
  kGetWithHeader = 1,  // GET with extra_header added (a range line)
  kHead = 2,
};

// A WinHTTP handle and the operation whose lines a failed close of it writes: "<operation> :  Error
// in WinHttpCloseHandle hRequest --> <code>" (hConnect, hSession) at error level with the code's
// explanation, or without an operation the same text without its prefix at debug level.
struct WinHttpHandle {
  HINTERNET value = nullptr;
  const char* close_operation = nullptr;
  // NOLINTNEXTLINE(google-explicit-constructor): passed to WinHTTP as the handle it is.
  operator HINTERNET() const noexcept { return value; }
};

enum class WinHttpHandleKind { kSession, kConnection, kRequest };

// Closes a handle through the transport's function table; a failure writes the lines given with WinHttpHandle.
void CloseWinHttpHandle(WinHttpHandle handle, WinHttpHandleKind kind) noexcept;

namespace handle_traits {
template <WinHttpHandleKind Kind>
struct WinHttp {
  using Type = WinHttpHandle;
  static Type Invalid() noexcept { return {}; }
  static bool IsValid(Type h) noexcept { return h.value != nullptr; }
  static void Close(Type h) noexcept { CloseWinHttpHandle(h, Kind); }
};
}  // namespace handle_traits

using UniqueWinHttpSession = UniqueResource<handle_traits::WinHttp<WinHttpHandleKind::kSession>>;
using UniqueWinHttpConnection = UniqueResource<handle_traits::WinHttp<WinHttpHandleKind::kConnection>>;
using UniqueWinHttpRequest = UniqueResource<handle_traits::WinHttp<WinHttpHandleKind::kRequest>>;

// The state of one exchange, owning its session, connection and request handles: they are closed,
// request first, when the record ends or is assigned another exchange's, so an exchange that is
// replaced never leaks its handles. Move-only. A caller clears the status and sets the kind and the
// extra header before each GetInternetRequestHandle call. A failed close writes the shared debug
// lines unless the caller closes the handles as an operation of its own (CloseRequestHandles).
struct RequestHandles {
  UniqueWinHttpSession session;  // declared first, closed last
  UniqueWinHttpConnection connection;
  UniqueWinHttpRequest request;
  int kind = kPlainGet;
  const wchar_t* extra_header = nullptr;      // borrowed; read only for kGetWithHeader
  const wchar_t* validator_header = nullptr;  // borrowed; a second line for kGetWithHeader, when set
  DWORD status = 0;                           // the response's HTTP status, 0 until one was read
};

// Opens and sends a GET or HEAD request for object_path and reads the response status into
// handles.status. 0 when a status other than 407 was read (or the error of a header that could not
// be added), 407 when the proxy refused the credentials, else the WinHTTP or Windows error of the
// failing step. The handles opened stay in the record for the caller to close with
// CloseRequestHandles (or the record's end), except where a failed open closed them.
[[nodiscard]] int GetInternetRequestHandle(const ConnectionParameters& parameters, const wchar_t* object_path,
                                           int request_type, unsigned char keep_alive, RequestHandles& handles,
                                           unsigned char accept_gzip);

// Closes request, connection and session, each only when open, and clears them; a failed close
// writes the lines of operation (none: the shared debug lines).
void CloseRequestHandles(RequestHandles& handles, const char* operation = nullptr);

// Enables TLS 1.0 to 1.2 on the session on the Windows 7/8 family (other versions keep the system's
// defaults). A failure is only logged; always 1.
int SetSecureProtocols(HINTERNET session);

// Copies the response's Last-Modified header into out: 0, or the error of the query (12150 when the
// header is absent) with out untouched.
[[nodiscard]] int GetFilelastmodifiedTime(HINTERNET request, std::wstring& out);

// Optional values under the agent's key for HTTPS requests. By default certificate errors are
// ignored (management servers often have self-signed certificates). "ServerCertificateSHA256"
// lists the SHA-256 fingerprints of the server certificates to accept: a request whose server
// certificate matches none fails with kCertificateNotPinned before its answer is used. Only an
// absent value means "no pinning": a value of any type, size or content turns the check on, and one
// that yields no fingerprint (or cannot be read) accepts nothing. "StrictServerCertificateCheck"
// (REG_DWORD other than 0) validates certificates against the system's trust store instead of
// ignoring their errors; a value of another type, or one that cannot be read, asks for that too.
inline constexpr const char* kCertificatePinsValue = "ServerCertificateSHA256";
inline constexpr const char* kStrictCertificateValue = "StrictServerCertificateCheck";
inline constexpr int kCertificateNotPinned = ERROR_WINHTTP_SECURE_INVALID_CERT;

// The administrator's certificate rules, read from the agent's key for each request so that a
// change applies at once. Downloads and uploads apply them alike. Problems with the values are
// logged under "ReadCertificatePolicy".
struct CertificatePolicy {
  bool strict = false;                  // validate against the trust store
  std::optional<std::string> pin_text;  // the pin list as found (or why it is unusable), when present
  std::vector<std::string> pins;        // its valid fingerprints; none accepts no certificate
};
[[nodiscard]] CertificatePolicy ReadCertificatePolicy();

// 0 when the policy pins nothing or the server certificate of the sent request is pinned; else
// kCertificateNotPinned, logged under operation with both fingerprints.
[[nodiscard]] int CheckPinnedCertificate(const CertificatePolicy& policy, HINTERNET request, const wchar_t* server,
                                         const char* operation);

// Sets up the certificate handling of an HTTPS request as the policy asks: the four ignored errors,
// unless strict. Logs under operation what was done. False when the flags could not be set, the
// error then in WinHttp().last_error().
[[nodiscard]] bool ApplyCertificatePolicy(const CertificatePolicy& policy, HINTERNET request, const char* operation);

// The pieces every request of the agent shares, downloads and uploads alike.
inline constexpr const wchar_t* kAgentUserAgent = L"QuorvantAgent";
// Send attempts per request handle, and the pause after a 12032 (resend) before the next one.
inline constexpr int kMaximumSendAttempts = 5;
inline constexpr DWORD kResendPauseMilliseconds = 5000;

// "https" in any case selects TLS; anything else is plain HTTP.
[[nodiscard]] bool IsHttps(const std::string& protocol);

// Sets a 4-byte or a text option (length in characters). False on failure, the error then in
// WinHttp().last_error().
[[nodiscard]] bool SetDwordOption(HINTERNET handle, DWORD option, DWORD value);
[[nodiscard]] bool SetTextOption(HINTERNET handle, DWORD option, const std::wstring& text);

// Adds the four certificate errors the agent ignores (unknown CA, wrong usage, wrong name, expired)
// to the request's security flags. False on failure, as SetDwordOption.
[[nodiscard]] bool IgnoreCertificateErrors(HINTERNET request);

// With use_proxy nonzero, sets the proxy user when it is longer than one character, and then the
// password when it is too. Shorter texts are not set. False on failure, as SetDwordOption.
[[nodiscard]] bool SetProxyCredentials(HINTERNET request, const ConnectionParameters& parameters);

// Queries a numeric header (flags include WINHTTP_QUERY_FLAG_NUMBER): 0 or the error code.
[[nodiscard]] DWORD QueryNumberHeader(HINTERNET request, DWORD query, DWORD& value);

// Queries a text header (by info level, or by name for WINHTTP_QUERY_CUSTOM): length first, then a
// buffer of four times that length plus 8 bytes. 0 or the error code.
[[nodiscard]] DWORD QueryTextHeader(HINTERNET request, DWORD query, const wchar_t* name, std::wstring& value);

// The Last-Modified text of an answered request, "" when it has none (not logged).
[[nodiscard]] std::string ResponseLastModified(HINTERNET request);
// The ETag of an answered request as sent, "" when it has none (not logged).
[[nodiscard]] std::string ResponseEtag(HINTERNET request);

// The version an answer of length bytes describes: its Last-Modified text and ETag. A version
// without either cannot be told from another of the same length; that is logged once under operation.
[[nodiscard]] FileVersion ResponseVersion(HINTERNET request, std::uint32_t length, const char* operation);

// Sends a GET for bytes first to last of object_path, with "If-Range" carrying the version's
// strongest validator (IfRangeValidator) when it has one (a server that sees another version
// answers with the whole of it), and judges the answer against the version. result receives
// GetInternetRequestHandle's result; when it is not 0 the answer is kFailed. body_length receives
// the most bytes the answer's body may bring (AnnouncedBodyLength). The handles stay open for the
// caller, who reads them for kPart and kWholeFile and closes them in every case.
[[nodiscard]] RangeAnswer OpenRange(const ConnectionParameters& parameters, const wchar_t* object_path,
                                    int request_type, unsigned char keep_alive, RequestHandles& handles,
                                    std::uint32_t first, std::uint32_t last, const FileVersion& version, int& result,
                                    std::uint64_t& body_length);

}  // namespace vx
