// Hands the services of the upper layers down to logging and the platform layer (Windows).
#pragma once

namespace vx {

// Logging gets the installation directory, the log level and the error-text loggers; the error
// texts get the installer result texts as their fallback. Call once at start-up, before
// StartLogging. Idempotent.
void InstallLibraryServices();

}  // namespace vx
