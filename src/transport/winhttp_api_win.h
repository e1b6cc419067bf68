// The WinHTTP functions the transport calls, as one table (Windows).
//
// Production binds the table to System32's winhttp.dll the first time the transport needs it, so a
// run that never talks to a server never loads WinHTTP. Tests install a scripted table with
// ScopedWinHttpOverride to produce exact error sequences. When winhttp.dll or one of its functions
// is missing, the bound entry fails with ERROR_PROC_NOT_FOUND instead of crashing.
//
// The table only passes calls on: it owns no handle. Every handle that open, connect and
// open_request return belongs to whoever called them, who closes it exactly once through
// close_handle (RequestHandles and the uploads' chains do, in their destructors or with their close
// helpers, which log a failed close).
#pragma once

#include <windows.h>
#include <winhttp.h>

namespace vx {

struct WinHttpApi {
  decltype(&::WinHttpOpen) open = nullptr;
  decltype(&::WinHttpConnect) connect = nullptr;
  decltype(&::WinHttpOpenRequest) open_request = nullptr;
  decltype(&::WinHttpAddRequestHeaders) add_request_headers = nullptr;
  decltype(&::WinHttpSetOption) set_option = nullptr;
  decltype(&::WinHttpQueryOption) query_option = nullptr;
  decltype(&::WinHttpSendRequest) send_request = nullptr;
  decltype(&::WinHttpWriteData) write_data = nullptr;
  decltype(&::WinHttpReceiveResponse) receive_response = nullptr;
  decltype(&::WinHttpQueryHeaders) query_headers = nullptr;
  decltype(&::WinHttpQueryDataAvailable) query_data_available = nullptr;
  decltype(&::WinHttpReadData) read_data = nullptr;
  decltype(&::WinHttpCloseHandle) close_handle = nullptr;
  // The calling thread's last error after a failed call (GetLastError in production).
  DWORD(WINAPI* last_error)() = nullptr;
};

// The table in force: a test's override, or winhttp.dll bound at first use. Thread-safe.
const WinHttpApi& WinHttp();

// Installs a table for the lifetime of the object (tests only; every entry must be set).
class ScopedWinHttpOverride {
 public:
  explicit ScopedWinHttpOverride(const WinHttpApi& api);
  ~ScopedWinHttpOverride();
  ScopedWinHttpOverride(const ScopedWinHttpOverride&) = delete;
  ScopedWinHttpOverride& operator=(const ScopedWinHttpOverride&) = delete;

 private:
  const WinHttpApi* previous_;
};

}  // namespace vx
