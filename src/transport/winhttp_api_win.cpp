#include "transport/winhttp_api_win.h"

#include "platform/system_library_win.h"

namespace vx {
namespace {

// Stand-ins for functions that could not be bound: every call fails like a missing procedure.
// WinHTTP reports failure as a null handle or FALSE with the code in the thread's last error.
template <typename Result, typename... Arguments>
Result WINAPI MissingFunction(Arguments...) {
  ::SetLastError(ERROR_PROC_NOT_FOUND);
  return Result{};
}

template <typename Function>
struct Binder;

template <typename Result, typename... Arguments>
struct Binder<Result(WINAPI*)(Arguments...)> {
  using Function = Result(WINAPI*)(Arguments...);
  static Function Bind(const char* name) {
    const auto function = SystemFunction<Function>(L"winhttp.dll", name);
    return function != nullptr ? function : &MissingFunction<Result, Arguments...>;
  }
};

template <typename Function>
void Bind(Function& slot, const char* name) {
  slot = Binder<Function>::Bind(name);
}

WinHttpApi BindSystemWinHttp() {
  WinHttpApi api;
  Bind(api.open, "WinHttpOpen");
  Bind(api.connect, "WinHttpConnect");
  Bind(api.open_request, "WinHttpOpenRequest");
  Bind(api.add_request_headers, "WinHttpAddRequestHeaders");
  Bind(api.set_option, "WinHttpSetOption");
  Bind(api.query_option, "WinHttpQueryOption");
  Bind(api.send_request, "WinHttpSendRequest");
  Bind(api.write_data, "WinHttpWriteData");
  Bind(api.receive_response, "WinHttpReceiveResponse");
  Bind(api.query_headers, "WinHttpQueryHeaders");
  Bind(api.query_data_available, "WinHttpQueryDataAvailable");
  Bind(api.read_data, "WinHttpReadData");
  Bind(api.close_handle, "WinHttpCloseHandle");
  api.last_error = &::GetLastError;
  return api;
}

const WinHttpApi* g_override = nullptr;

}  // namespace

const WinHttpApi& WinHttp() {
  if (g_override != nullptr) return *g_override;
  static const WinHttpApi system = BindSystemWinHttp();
  return system;
}

ScopedWinHttpOverride::ScopedWinHttpOverride(const WinHttpApi& api) : previous_(g_override) { g_override = &api; }

ScopedWinHttpOverride::~ScopedWinHttpOverride() { g_override = previous_; }

}  // namespace vx
