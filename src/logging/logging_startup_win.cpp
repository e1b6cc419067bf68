#include <windows.h>

#include <memory>
#include <mutex>

#include "logging/logger.h"
#include "logging/logging_startup.h"

namespace vx {
namespace {

LoggingServices g_services;

// The rotation timer's queue and the settings that every timer of the chain uses as its context;
// both live from StartLogging until StopLogging has deleted the queue.
HANDLE g_timer_queue = nullptr;
std::unique_ptr<LoggerSettings> g_settings;

void LogSystemErrorText(DWORD code) {
  if (g_services.log_error_text != nullptr) g_services.log_error_text(code);
}

// Deletes the queue and every timer on it. Waits for a rotation check that is running, so that
// the settings and the log it uses are never released under it.
void DeleteRotationTimerQueue() {
  if (g_timer_queue == nullptr) return;
  if (!::DeleteTimerQueueEx(g_timer_queue, INVALID_HANDLE_VALUE)) {
    const DWORD error = ::GetLastError();
    LogError("ServiceMain : DeleteTimerQueue is failed due to following error !! \n");
    LogSystemErrorText(error);
  }
  g_timer_queue = nullptr;
}

}  // namespace

// Used by log_rotation_win.cpp to arm timers on the logger's queue.
HANDLE LoggerTimerQueue() { return g_timer_queue; }

void SetLoggingServices(const LoggingServices& services) { g_services = services; }

const LoggingServices& GetLoggingServices() { return g_services; }

int StartLogging(const char* file_name) {
  std::string install_dir;
  if (g_services.load_install_dir == nullptr) return ERROR_INVALID_DATA;
  if (const int status = g_services.load_install_dir(install_dir); status != 0) return status;

  LoggerSettings settings;
  settings.file_name = file_name != nullptr ? file_name : settings.file_name;
  settings.directory = install_dir + "logs";
  return StartLoggingWithSettings(settings);
}

int StartLoggingWithSettings(const LoggerSettings& requested) {
  // A second start replaces the timer chain; the old one is stopped before its settings go.
  DeleteRotationTimerQueue();
  g_settings = std::make_unique<LoggerSettings>(requested);

  if (g_settings->use_timer) {
    g_timer_queue = ::CreateTimerQueue();
    if (g_timer_queue != nullptr) {
      LogInfo("ServiceMain : TimerQueue is created successfully \n");
    } else {
      const DWORD error = ::GetLastError();
      LogError("ServiceMain : CreateTimerQueue is failed due to following error !! \n");
      LogSystemErrorText(error);
    }
    (void)LoggerTimerMethod(g_settings.get());
  }

  if (!SetLogDefaults()) return 0;
  std::uint32_t level = kDefaultLogLevel;
  if (g_services.read_log_level == nullptr || g_services.read_log_level(level) != 0) {
    level = kDefaultLogLevel;
  }
  if (!ConfigureLog(g_settings->file_name.c_str(), g_settings->directory.c_str(), level)) return 0;
  if (g_settings->open_mode == 1) (void)OpenLogAppend();
  return 0;
}

int StopLogging() {
  DeleteRotationTimerQueue();
  g_settings.reset();
  CloseLog();
  ReleaseLog();
  return 0;
}

}  // namespace vx
