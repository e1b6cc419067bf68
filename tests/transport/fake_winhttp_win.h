// A scripted stand-in for WinHTTP: each opened request takes the next scripted response, and every
// call is recorded, so that tests can produce exact error sequences and check what was asked for.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "transport/winhttp_api_win.h"

namespace vx::test {

struct FakeResponse {
  DWORD status = 200;
  std::vector<std::pair<std::wstring, std::wstring>> headers;  // e.g. {L"Content-Length", L"10"}
  std::string body;
  std::deque<DWORD> send_errors;     // one per send on this request; 0 = success
  std::deque<DWORD> receive_errors;  // one per receive on this request; 0 = success
  // Once this many body bytes were delivered, the next availability query fails with timeout_error.
  std::optional<std::size_t> fail_after;
  DWORD timeout_error = ERROR_WINHTTP_TIMEOUT;
  std::size_t chunk = 4096;  // bytes announced per availability query, and the most one read delivers
};

// One WinHttpSendRequest on a request, with the body pieces written after it.
struct FakeSend {
  std::wstring headers;
  std::string data;  // the bytes of the optional data given to the send call
  DWORD data_length = 0;
  DWORD total_length = 0;
  std::vector<std::string> writes;  // each WinHttpWriteData piece that succeeded, in order

  // The optional data and the written pieces, as the server would receive them.
  [[nodiscard]] std::string Body() const;
};

// What one opened request saw.
struct FakeRequest {
  std::wstring verb;
  std::wstring object_path;
  std::wstring server;
  INTERNET_PORT port = 0;
  DWORD flags = 0;
  DWORD access_type = 0;
  std::wstring proxy;
  std::vector<std::wstring> added_headers;
  std::map<DWORD, DWORD> number_options;
  std::map<DWORD, std::wstring> text_options;
  std::vector<std::wstring> send_headers;  // one per send
  std::vector<FakeSend> sends;             // one per send, in order
  int receives = 0;
};

class FakeWinHttp {
 public:
  FakeWinHttp();
  ~FakeWinHttp();
  FakeWinHttp(const FakeWinHttp&) = delete;
  FakeWinHttp& operator=(const FakeWinHttp&) = delete;

  // Responses for the requests to come, in order. A request beyond the script gets a 404.
  void Add(FakeResponse response) { script_.push_back(std::move(response)); }
  std::deque<DWORD> connect_errors;      // per WinHttpConnect
  std::deque<DWORD> add_header_errors;   // per WinHttpAddRequestHeaders
  std::map<DWORD, DWORD> option_errors;  // option number -> error of setting it
  // The call of this number (from 0, every call but the close counted) fails with fail_code before
  // the fake looks at it; -1: none.
  int fail_call = -1;
  DWORD fail_code = 0;

  const std::vector<FakeRequest>& Requests() const { return requests_; }
  int Sessions() const { return sessions_; }
  int Connections() const { return connections_; }
  int OpenHandles() const { return open_handles_; }
  int Calls() const { return calls_; }
  // Options set on sessions (the TLS versions), by option number.
  const std::map<DWORD, DWORD>& SessionOptions() const { return session_options_; }

 private:
  struct Handle;
  static FakeWinHttp* current_;
  FakeWinHttp* previous_ = nullptr;
  WinHttpApi api_{};
  ScopedWinHttpOverride override_;
  std::deque<FakeResponse> script_;
  std::vector<FakeRequest> requests_;
  std::map<HINTERNET, Handle*> handles_;
  std::map<DWORD, DWORD> session_options_;
  int sessions_ = 0;
  int connections_ = 0;
  int open_handles_ = 0;
  int calls_ = 0;
  std::uintptr_t next_handle_ = 0x1000;

  friend struct FakeCalls;
};

// A 206 for size bytes of file from first, as a server sends it: Content-Length, Content-Range
// ("bytes A-B/T", T the file's size unless total is given) and, when given, Last-Modified.
inline FakeResponse Part(const std::string& file, std::size_t first, std::size_t size, std::size_t total = 0,
                         const wchar_t* last_modified = nullptr) {
  FakeResponse response;
  response.status = 206;
  response.body = file.substr(first, size);
  const std::size_t end = size == 0 ? first : first + size - 1;
  response.headers = {{L"Content-Length", std::to_wstring(response.body.size())},
                      {L"Content-Range", L"bytes " + std::to_wstring(first) + L"-" + std::to_wstring(end) + L"/" +
                                             std::to_wstring(total != 0 ? total : file.size())}};
  if (last_modified != nullptr) response.headers.emplace_back(L"Last-Modified", last_modified);
  return response;
}

// An answer of status with body, announced by a Content-Length of the body's size unless length is
// given and, when given, dated by Last-Modified.
inline FakeResponse Answer(DWORD status, std::string body = "", std::optional<std::size_t> length = std::nullopt,
                           const wchar_t* last_modified = nullptr) {
  FakeResponse response;
  response.status = status;
  response.headers = {{L"Content-Length", std::to_wstring(length.value_or(body.size()))}};
  if (last_modified != nullptr) response.headers.emplace_back(L"Last-Modified", last_modified);
  response.body = std::move(body);
  return response;
}

// The answer to a rate-limited download's HEAD probe.
inline FakeResponse Head(std::size_t length) { return Answer(200, "", length); }

// The answer of a request whose sends and receives fail with these errors, one per attempt, first.
inline FakeResponse Failing(std::deque<DWORD> send_errors, std::deque<DWORD> receive_errors = {},
                            FakeResponse answer = Answer(200, "ok")) {
  answer.send_errors = std::move(send_errors);
  answer.receive_errors = std::move(receive_errors);
  return answer;
}

// The answer whose body breaks off with error once after bytes were delivered.
inline FakeResponse Broken(FakeResponse response, std::size_t after, DWORD error = ERROR_WINHTTP_TIMEOUT) {
  response.fail_after = after;
  response.timeout_error = error;
  return response;
}

// The request's Range line, or "-".
inline std::wstring RangeLine(const FakeRequest& request) {
  for (const std::wstring& header : request.added_headers) {
    if (header.starts_with(L"Range:")) return header;
  }
  return L"-";
}

// The Range line of every request that has one; unvalidated, when given, counts the Range lines
// that the next added header does not follow with If-Range.
inline std::vector<std::wstring> RangeLines(const FakeWinHttp& fake, std::size_t* unvalidated = nullptr) {
  std::vector<std::wstring> ranges;
  for (const FakeRequest& request : fake.Requests()) {
    const std::vector<std::wstring>& headers = request.added_headers;
    for (std::size_t i = 0; i < headers.size(); ++i) {
      if (!headers[i].starts_with(L"Range:")) continue;
      ranges.push_back(headers[i]);
      if (unvalidated != nullptr && !(i + 1 < headers.size() && headers[i + 1].starts_with(L"If-Range: "))) {
        ++*unvalidated;
      }
    }
  }
  return ranges;
}

// Rows of scripted answers and of expected Range lines ("0-499" for "Range: bytes=0-499").
template <typename... Answers>
std::vector<FakeResponse> Script(const Answers&... answers) {
  return {answers...};
}
template <typename... Spans>
std::vector<std::wstring> RangesOf(const Spans&... spans) {
  return {(L"Range: bytes=" + std::wstring(spans))...};
}

}  // namespace vx::test
