#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "logging/logger.h"
#include "logging/logging_startup.h"

namespace vx {
namespace {

LoggingServices g_services;

// The rotation timer's queue and the settings that every timer of the chain uses as its context.
// The queue lives from StartLogging until StopLogging deletes it; the timer's thread reads it to
// arm the next timer.
std::atomic<HANDLE> g_timer_queue{nullptr};
std::unique_ptr<LoggerSettings> g_settings;
// Set by tests: the event the queue signals once its last running callback has ended.
HANDLE g_queue_deleted_event_for_testing = nullptr;

void LogSystemErrorText(DWORD code) {
  if (g_services.log_error_text != nullptr) g_services.log_error_text(code);
}

// Deletes the queue and every timer on it without waiting for a rotation check that is running:
// waiting would hold up the end of every run for the timer's thread. Such a check still ends
// normally (its log lines are dropped once the log is closed, and it cannot arm another timer on a
// deleted queue), so the settings it was given are kept for it: they are freed only when the
// system reports that no callback was outstanding, and otherwise never (a later start gets new
// ones).
void DeleteRotationTimerQueue() {
  HANDLE queue = g_timer_queue.exchange(nullptr);
  if (queue == nullptr) {
    g_settings.reset();
    return;
  }
  if (::DeleteTimerQueueEx(queue, g_queue_deleted_event_for_testing)) {
    g_settings.reset();
    return;
  }
  const DWORD error = ::GetLastError();
  // Pending: callbacks were outstanding, and the queue goes once they have ended.
  (void)g_settings.release();
  if (error != ERROR_IO_PENDING) {
    LogError("ServiceMain : DeleteTimerQueue is failed due to following error !! \n");
    LogSystemErrorText(error);
  }
}

}  // namespace

// Used by log_rotation_win.cpp to arm timers on the logger's queue.
HANDLE LoggerTimerQueue() { return g_timer_queue.load(); }

ScopedTimerQueueDeletedEventForTesting::ScopedTimerQueueDeletedEventForTesting(void* event) {
  g_queue_deleted_event_for_testing = event;
}
ScopedTimerQueueDeletedEventForTesting::~ScopedTimerQueueDeletedEventForTesting() {
  g_queue_deleted_event_for_testing = nullptr;
}

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
    if (g_timer_queue.load() != nullptr) {
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
  CloseLog();
  ReleaseLog();
  return 0;
}

}  // namespace vx
