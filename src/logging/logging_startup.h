// Start and end of the process log (Windows): reads the installation directory and the level from
// the agent's registry, starts the rotation timer and opens "<install dir>logs/<file name>".
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "logging/log_rotation.h"

namespace vx {

// What logging needs from the layers above it, handed in once at start-up (the agent library's
// InstallLibraryServices does it), so that logging stays at the bottom of the dependency graph.
struct LoggingServices {
  // Fills the agent configuration record's installation directory and returns a copy of it.
  // 0 or the registry error.
  int (*load_install_dir)(std::string& directory) = nullptr;
  // Reads the DWORD "VXAgentLogLevel"; 0 or the registry error.
  int (*read_log_level)(std::uint32_t& level) = nullptr;
  // Log the system's text of an error code (UTF-8 and ANSI flavours).
  void (*log_error_text)(std::uint32_t code) = nullptr;
  int (*log_error_text_ansi)(std::uint32_t code) = nullptr;
};

void SetLoggingServices(const LoggingServices& services);
[[nodiscard]] const LoggingServices& GetLoggingServices();

#ifdef _WIN32
// 0 when the log was set up (whether or not the file could be opened), or the registry error when
// the installation directory could not be read (then nothing is ever logged in this run).
int StartLogging(const char* file_name);

// Deletes the rotation timer's queue (a check in progress is not waited for: it ends on its own,
// with its settings kept for it), closes and releases the log. 0.
int StopLogging();

// StartLogging with the settings given, for callers (tests) that need a short timer period or a
// small size limit; the directory is taken from the settings as given.
int StartLoggingWithSettings(const LoggerSettings& settings);

// Tests: while it lives, the timer queue that StopLogging deletes signals event (a Windows event
// handle) once every callback still running then has ended; the deletion itself still does not
// wait.
class ScopedTimerQueueDeletedEventForTesting {
 public:
  explicit ScopedTimerQueueDeletedEventForTesting(void* event);
  ~ScopedTimerQueueDeletedEventForTesting();
  ScopedTimerQueueDeletedEventForTesting(const ScopedTimerQueueDeletedEventForTesting&) = delete;
  ScopedTimerQueueDeletedEventForTesting& operator=(const ScopedTimerQueueDeletedEventForTesting&) = delete;
};
#endif

}  // namespace vx
