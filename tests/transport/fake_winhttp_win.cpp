#include "fake_winhttp_win.h"

#include <algorithm>
#include <cstring>

namespace vx::test {

FakeWinHttp* FakeWinHttp::current_ = nullptr;

namespace {
thread_local DWORD t_last_error = 0;

template <typename Result>
Result Failure(DWORD code, Result result) {
  t_last_error = code;
  return result;
}

DWORD TakeFront(std::deque<DWORD>& errors) {
  if (errors.empty()) return 0;
  const DWORD code = errors.front();
  errors.pop_front();
  return code;
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) { return towlower(x) == towlower(y); });
}

// Copies text (with its NUL) into a caller's buffer with WinHTTP's length protocol.
BOOL CopyOut(const std::wstring& text, LPVOID buffer, LPDWORD length) {
  const DWORD needed = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  if (buffer == nullptr || *length < needed) {
    *length = needed;
    return Failure(ERROR_INSUFFICIENT_BUFFER, FALSE);
  }
  std::memcpy(buffer, text.c_str(), needed);
  *length = needed - sizeof(wchar_t);
  return TRUE;
}

BOOL CopyNumber(DWORD number, LPVOID buffer, LPDWORD length) {
  if (buffer == nullptr || *length < sizeof(DWORD)) {
    *length = sizeof(DWORD);
    return Failure(ERROR_INSUFFICIENT_BUFFER, FALSE);
  }
  std::memcpy(buffer, &number, sizeof(number));
  *length = sizeof(DWORD);
  return TRUE;
}

}  // namespace

struct FakeWinHttp::Handle {
  enum Kind { kSession, kConnection, kRequest };
  explicit Handle(Kind handle_kind) : kind(handle_kind) {}
  Kind kind;
  std::wstring server;
  INTERNET_PORT port = 0;
  DWORD access_type = 0;
  std::wstring proxy;
  std::size_t request_index = 0;
  FakeResponse response;
  bool received = false;
  std::size_t delivered = 0;
};

// The WinHTTP entry points, each working on FakeWinHttp::current_.
struct FakeCalls {
  static FakeWinHttp& Fake() { return *FakeWinHttp::current_; }

  static HINTERNET NewHandle(FakeWinHttp::Handle* handle) {
    FakeWinHttp& fake = Fake();
    const auto key = reinterpret_cast<HINTERNET>(fake.next_handle_ += 0x10);
    fake.handles_[key] = handle;
    ++fake.open_handles_;
    return key;
  }

  static FakeWinHttp::Handle* Find(HINTERNET key) {
    const auto found = Fake().handles_.find(key);
    return found != Fake().handles_.end() ? found->second : nullptr;
  }

  static FakeRequest* RequestOf(FakeWinHttp::Handle* handle) {
    return handle != nullptr && handle->kind == FakeWinHttp::Handle::kRequest ? &Fake().requests_[handle->request_index]
                                                                              : nullptr;
  }

  // True when this is the call that fails by the script (its error set), counting every call but the close.
  static bool Injected() {
    FakeWinHttp& fake = Fake();
    if (fake.calls_++ != fake.fail_call) return false;
    t_last_error = fake.fail_code;
    return true;
  }

  static HINTERNET WINAPI Open(LPCWSTR, DWORD access_type, LPCWSTR proxy, LPCWSTR, DWORD) {
    if (Injected()) return nullptr;
    ++Fake().sessions_;
    auto* session = new FakeWinHttp::Handle(FakeWinHttp::Handle::kSession);
    session->access_type = access_type;
    if (proxy != nullptr) session->proxy = proxy;
    return NewHandle(session);
  }

  static HINTERNET WINAPI Connect(HINTERNET session, LPCWSTR server, INTERNET_PORT port, DWORD) {
    if (Injected()) return nullptr;
    FakeWinHttp::Handle* parent = Find(session);
    if (parent == nullptr) return Failure<HINTERNET>(ERROR_INVALID_HANDLE, nullptr);
    if (const DWORD code = TakeFront(Fake().connect_errors)) return Failure<HINTERNET>(code, nullptr);
    ++Fake().connections_;
    auto* connection = new FakeWinHttp::Handle(FakeWinHttp::Handle::kConnection);
    connection->server = server;
    connection->port = port;
    connection->access_type = parent->access_type;
    connection->proxy = parent->proxy;
    return NewHandle(connection);
  }

  static HINTERNET WINAPI OpenRequest(HINTERNET connection, LPCWSTR verb, LPCWSTR object_path, LPCWSTR, LPCWSTR,
                                      LPCWSTR*, DWORD flags) {
    if (Injected()) return nullptr;
    FakeWinHttp::Handle* parent = Find(connection);
    if (parent == nullptr) return Failure<HINTERNET>(ERROR_INVALID_HANDLE, nullptr);
    FakeWinHttp& fake = Fake();
    auto* request = new FakeWinHttp::Handle(FakeWinHttp::Handle::kRequest);
    request->request_index = fake.requests_.size();
    if (!fake.script_.empty()) {
      request->response = std::move(fake.script_.front());
      fake.script_.pop_front();
    } else {
      request->response.status = 404;
    }
    FakeRequest record;
    record.verb = verb;
    record.object_path = object_path;
    record.server = parent->server;
    record.port = parent->port;
    record.flags = flags;
    record.access_type = parent->access_type;
    record.proxy = parent->proxy;
    fake.requests_.push_back(std::move(record));
    return NewHandle(request);
  }

  static BOOL WINAPI AddRequestHeaders(HINTERNET request, LPCWSTR header, DWORD, DWORD) {
    if (Injected()) return FALSE;
    FakeRequest* record = RequestOf(Find(request));
    if (record == nullptr) return Failure(ERROR_INVALID_HANDLE, FALSE);
    record->added_headers.emplace_back(header);
    if (const DWORD code = TakeFront(Fake().add_header_errors)) return Failure(code, FALSE);
    return TRUE;
  }

  static BOOL WINAPI SetOption(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) {
    if (Injected()) return FALSE;
    if (Find(handle) == nullptr) return Failure(ERROR_INVALID_HANDLE, FALSE);
    const auto error = Fake().option_errors.find(option);
    if (error != Fake().option_errors.end()) return Failure(error->second, FALSE);
    FakeRequest* record = RequestOf(Find(handle));
    if (record != nullptr && (option == WINHTTP_OPTION_PROXY_USERNAME || option == WINHTTP_OPTION_PROXY_PASSWORD)) {
      record->text_options[option].assign(static_cast<const wchar_t*>(buffer), length);
      return TRUE;
    }
    // A number: the request's option, or the session's (the TLS versions).
    DWORD value = 0;
    std::memcpy(&value, buffer, std::min<DWORD>(length, sizeof(value)));
    (record != nullptr ? record->number_options : Fake().session_options_)[option] = value;
    return TRUE;
  }

  static BOOL WINAPI QueryOption(HINTERNET handle, DWORD option, LPVOID buffer, LPDWORD length) {
    if (Injected()) return FALSE;
    if (Find(handle) == nullptr) return Failure(ERROR_INVALID_HANDLE, FALSE);
    return CopyNumber(option == WINHTTP_OPTION_SECURITY_FLAGS ? 0x8 : 0, buffer, length);
  }

  static BOOL WINAPI SendRequest(HINTERNET request, LPCWSTR headers, DWORD headers_length, LPVOID data,
                                 DWORD data_length, DWORD total_length, DWORD_PTR) {
    if (Injected()) return FALSE;
    FakeWinHttp::Handle* handle = Find(request);
    FakeRequest* record = RequestOf(handle);
    if (record == nullptr) return Failure(ERROR_INVALID_HANDLE, FALSE);
    FakeSend send;
    if (headers != nullptr) {
      // -1 means the text ends at its NUL.
      send.headers =
          headers_length == static_cast<DWORD>(-1) ? std::wstring(headers) : std::wstring(headers, headers_length);
    }
    if (data != nullptr) send.data.assign(static_cast<const char*>(data), data_length);
    send.data_length = data_length;
    send.total_length = total_length;
    record->send_headers.push_back(send.headers);
    record->sends.push_back(std::move(send));
    if (const DWORD code = TakeFront(handle->response.send_errors)) return Failure(code, FALSE);
    return TRUE;
  }

  static BOOL WINAPI WriteData(HINTERNET request, LPCVOID data, DWORD length, LPDWORD written) {
    if (Injected()) return FALSE;
    FakeWinHttp::Handle* handle = Find(request);
    FakeRequest* record = RequestOf(handle);
    if (record == nullptr) return Failure(ERROR_INVALID_HANDLE, FALSE);
    if (record->sends.empty()) return Failure(ERROR_WINHTTP_INCORRECT_HANDLE_STATE, FALSE);
    record->sends.back().writes.emplace_back(static_cast<const char*>(data), length);
    if (written != nullptr) *written = length;
    return TRUE;
  }

  static BOOL WINAPI ReceiveResponse(HINTERNET request, LPVOID) {
    if (Injected()) return FALSE;
    FakeWinHttp::Handle* handle = Find(request);
    FakeRequest* record = RequestOf(handle);
    if (record == nullptr) return Failure(ERROR_INVALID_HANDLE, FALSE);
    ++record->receives;
    if (const DWORD code = TakeFront(handle->response.receive_errors)) return Failure(code, FALSE);
    handle->received = true;
    return TRUE;
  }

  static BOOL WINAPI QueryHeaders(HINTERNET request, DWORD level, LPCWSTR name, LPVOID buffer, LPDWORD length,
                                  LPDWORD) {
    if (Injected()) return FALSE;
    FakeWinHttp::Handle* handle = Find(request);
    if (RequestOf(handle) == nullptr) return Failure(ERROR_INVALID_HANDLE, FALSE);
    if (!handle->received) return Failure(ERROR_WINHTTP_INCORRECT_HANDLE_STATE, FALSE);
    const FakeResponse& response = handle->response;
    const auto header = [&](const std::wstring& wanted) -> const std::wstring* {
      for (const auto& [key, value] : response.headers) {
        if (EqualsNoCase(key, wanted)) return &value;
      }
      return nullptr;
    };
    const DWORD info = level & 0xFFFF;
    const bool number = (level & WINHTTP_QUERY_FLAG_NUMBER) != 0;
    if (info == WINHTTP_QUERY_STATUS_CODE) {
      return number ? CopyNumber(response.status, buffer, length)
                    : CopyOut(std::to_wstring(response.status), buffer, length);
    }
    if (info == WINHTTP_QUERY_RAW_HEADERS_CRLF) {
      std::wstring raw = L"HTTP/1.1 " + std::to_wstring(response.status) + L" Scripted\r\n";
      for (const auto& [key, value] : response.headers) raw += key + L": " + value + L"\r\n";
      return CopyOut(raw + L"\r\n", buffer, length);
    }
    const std::wstring wanted = info == WINHTTP_QUERY_CONTENT_LENGTH              ? L"Content-Length"
                                : info == WINHTTP_QUERY_LAST_MODIFIED             ? L"Last-Modified"
                                : info == WINHTTP_QUERY_CUSTOM && name != nullptr ? std::wstring(name)
                                                                                  : std::wstring();
    const std::wstring* value = header(wanted);
    if (value == nullptr) return Failure(ERROR_WINHTTP_HEADER_NOT_FOUND, FALSE);
    if (number) return CopyNumber(static_cast<DWORD>(std::wcstoul(value->c_str(), nullptr, 10)), buffer, length);
    return CopyOut(*value, buffer, length);
  }

  static BOOL WINAPI QueryDataAvailable(HINTERNET request, LPDWORD available) {
    if (Injected()) return FALSE;
    FakeWinHttp::Handle* handle = Find(request);
    if (RequestOf(handle) == nullptr) return Failure(ERROR_INVALID_HANDLE, FALSE);
    FakeResponse& response = handle->response;
    if (response.fail_after && handle->delivered >= *response.fail_after) {
      response.fail_after.reset();  // one failure per scripted point
      return Failure(response.timeout_error, FALSE);
    }
    std::size_t left = response.body.size() - handle->delivered;
    if (response.fail_after) left = std::min(left, *response.fail_after - handle->delivered);
    *available = static_cast<DWORD>(std::min(left, response.chunk));
    return TRUE;
  }

  static BOOL WINAPI ReadData(HINTERNET request, LPVOID buffer, DWORD size, LPDWORD read) {
    if (Injected()) return FALSE;
    FakeWinHttp::Handle* handle = Find(request);
    if (RequestOf(handle) == nullptr) return Failure(ERROR_INVALID_HANDLE, FALSE);
    const std::size_t count = std::min(
        {static_cast<std::size_t>(size), handle->response.body.size() - handle->delivered, handle->response.chunk});
    std::memcpy(buffer, handle->response.body.data() + handle->delivered, count);
    handle->delivered += count;
    *read = static_cast<DWORD>(count);
    return TRUE;
  }

  static BOOL WINAPI CloseHandle(HINTERNET key) {
    FakeWinHttp& fake = Fake();
    const auto found = fake.handles_.find(key);
    if (found == fake.handles_.end()) return Failure(ERROR_INVALID_HANDLE, FALSE);
    delete found->second;
    fake.handles_.erase(found);
    --fake.open_handles_;
    return TRUE;
  }

  static DWORD WINAPI LastError() { return t_last_error; }
};

std::string FakeSend::Body() const {
  std::string body = data;
  for (const std::string& piece : writes) body += piece;
  return body;
}

FakeWinHttp::FakeWinHttp() : previous_(current_), override_(api_) {
  current_ = this;
  api_.open = &FakeCalls::Open;
  api_.connect = &FakeCalls::Connect;
  api_.open_request = &FakeCalls::OpenRequest;
  api_.add_request_headers = &FakeCalls::AddRequestHeaders;
  api_.set_option = &FakeCalls::SetOption;
  api_.query_option = &FakeCalls::QueryOption;
  api_.send_request = &FakeCalls::SendRequest;
  api_.write_data = &FakeCalls::WriteData;
  api_.receive_response = &FakeCalls::ReceiveResponse;
  api_.query_headers = &FakeCalls::QueryHeaders;
  api_.query_data_available = &FakeCalls::QueryDataAvailable;
  api_.read_data = &FakeCalls::ReadData;
  api_.close_handle = &FakeCalls::CloseHandle;
  api_.last_error = &FakeCalls::LastError;
}

FakeWinHttp::~FakeWinHttp() {
  for (auto& [key, handle] : handles_) delete handle;
  current_ = previous_;
}

}  // namespace vx::test
