// One download through the agent's transport, timed: the whole-file download (InternetGetRequestEx)
// or the rate-limited one (InternetGetRequestByBitrate) of one object into a destination file.
//
// Usage: vxbench_download whole|rate|receive HOST PORT OBJECT_PATH DESTINATION [RATE_KBPS]
//   RATE_KBPS sets the configured transfer rate (default 1024; only the rate-limited download uses it).
//   "receive" is the floor of the whole download: the same request set-up and the same read loop
//   (WinHttpQueryDataAvailable, then WinHttpReadData of what it announced), the body dropped; no
//   file is written.
// Prints one line:
//   result=<result> bytes=<destination size, -1 when missing; for receive the bytes read> seconds=<s>
// where seconds is the time of the call alone, and exits 0 only when the result is 0.
//
// The configuration record is set up as the agent's start-up would leave it for a plain HTTP server
// without a proxy. Nothing else is opened: without a process log the transport's log calls return
// at once, so the figure is the transfer's alone. The transport's temporary file lives beside the
// destination. "whole" follows the agent's "DownloadMode" setting: with 1 (bench/resume.sh sets it)
// the download is the resumable one, whose partial file and access logs live below the installation
// directory ("VXAgentInstallDir", read from the registry as the agent reads it).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "agent/agent_config.h"
#include "platform/text_conversion.h"
#include "transport/file_download_win.h"
#include "transport/request_setup_win.h"
#include "transport/transport_types.h"
#include "transport/winhttp_api_win.h"

namespace {

constexpr int kUsageError = 2;

long long FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The configuration the transport reads, as loaded for an agent with these settings.
void SetUpConfiguration(int rate_kbps) {
  vx::ResetAgentParameters();
  char temp[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableA("TEMP", temp, MAX_PATH);
  vx::gv_tempDir = length > 0 && length < MAX_PATH ? std::string(temp, length) : std::string();
  vx::gv_httpConnectionTimeout = 30000;
  vx::gv_httpRequestTimeout = 60000;
  vx::gv_dataTransferRateKBps = rate_kbps;
  // Only the resumable download needs it; without the value it stays unset.
  (void)vx::GetAgentInstallDir(vx::gv_installDir);
}

// A GET read the way the whole download reads it, into nothing. 0, an HTTP status other than 200,
// or the WinHTTP error; bytes receives the body's length.
int ReceiveOnly(const vx::ConnectionParameters& parameters, const wchar_t* object_path, long long& bytes) {
  const vx::WinHttpApi& api = vx::WinHttp();
  vx::RequestHandles handles;
  handles.kind = vx::kPlainGet;
  int result = vx::GetInternetRequestHandle(parameters, object_path, vx::DOWNLOAD_FILE, 1, handles, 0);
  if (result == 0 && handles.status != HTTP_STATUS_OK) result = static_cast<int>(handles.status);
  std::vector<char> buffer;
  bytes = 0;
  while (result == 0) {
    DWORD available = 0;
    if (!api.query_data_available(handles.request.get(), &available)) {
      result = static_cast<int>(api.last_error());
      break;
    }
    if (available == 0) break;
    if (buffer.size() < available) buffer.resize(available);
    DWORD read = 0;
    if (!api.read_data(handles.request.get(), buffer.data(), available, &read)) {
      result = static_cast<int>(api.last_error());
      break;
    }
    if (read == 0) break;
    bytes += read;
  }
  vx::CloseRequestHandles(handles);
  return result;
}

int Usage() {
  std::fprintf(stderr, "usage: vxbench_download whole|rate|receive HOST PORT OBJECT_PATH DESTINATION [RATE_KBPS]\n");
  return kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6 || argc > 7) return Usage();
  const std::string mode = argv[1];
  if (mode != "whole" && mode != "rate" && mode != "receive") return Usage();
  const int port = std::atoi(argv[3]);
  const int rate_kbps = argc == 7 ? std::atoi(argv[6]) : 1024;
  if (port <= 0 || port > 65535 || rate_kbps <= 0) return Usage();

  vx::ConnectionParameters parameters;
  parameters.use_proxy = 0;
  parameters.protocol = "http";
  parameters.port = port;
  std::wstring object_path;
  std::wstring destination;
  if (!vx::ChangeToWideStr(argv[2], parameters.server) || !vx::ChangeToWideStr(argv[4], object_path) ||
      !vx::ChangeToWideStr(argv[5], destination)) {
    std::fprintf(stderr, "vxbench_download: an argument is not valid text\n");
    return kUsageError;
  }
  SetUpConfiguration(rate_kbps);

  LARGE_INTEGER frequency{};
  LARGE_INTEGER start{};
  LARGE_INTEGER end{};
  long long received = 0;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  int result = 0;
  if (mode == "whole") {
    result = vx::InternetGetRequestEx(parameters, object_path.c_str(), destination.c_str(), nullptr, vx::DOWNLOAD_FILE,
                                      1, 0);
  } else if (mode == "rate") {
    result = vx::InternetGetRequestByBitrate(parameters, object_path.c_str(), destination.c_str(), nullptr,
                                             vx::DOWNLOAD_FILE, 1);
  } else {
    result = ReceiveOnly(parameters, object_path.c_str(), received);
  }
  ::QueryPerformanceCounter(&end);
  const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);

  std::printf("result=%d bytes=%lld seconds=%.6f\n", result, mode == "receive" ? received : FileSize(destination),
              seconds);
  std::fflush(stdout);
  return result == 0 ? 0 : 1;
}
