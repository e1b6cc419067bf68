// A Windows service for the notification tests: it appends every user-defined control code it
// receives, one decimal line each, to the file named by its first argument, and stops on request.
#include <windows.h>

#include <cstdio>

namespace {

const char* g_record_path = nullptr;
SERVICE_STATUS_HANDLE g_status_handle = nullptr;
SERVICE_STATUS g_status{};
HANDLE g_stop_event = nullptr;

void Report(DWORD state) {
  g_status.dwCurrentState = state;
  ::SetServiceStatus(g_status_handle, &g_status);
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP) {
    Report(SERVICE_STOP_PENDING);
    ::SetEvent(g_stop_event);
    return NO_ERROR;
  }
  if (control == SERVICE_CONTROL_INTERROGATE) return NO_ERROR;
  if (control >= 128 && control <= 255) {
    if (std::FILE* record = std::fopen(g_record_path, "ab")) {
      std::fprintf(record, "%lu\n", control);
      std::fclose(record);
    }
    return NO_ERROR;
  }
  return ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
  g_status_handle = ::RegisterServiceCtrlHandlerExW(L"", Handler, nullptr);
  if (g_status_handle == nullptr) return;
  g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  g_status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
  Report(SERVICE_RUNNING);
  ::WaitForSingleObject(g_stop_event, INFINITE);
  Report(SERVICE_STOPPED);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  g_record_path = argv[1];
  g_stop_event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  wchar_t name[] = L"";
  const SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  return ::StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
