// Launching one command line as a new process without a window, with a time limit (Windows).
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace vx {

// Starts commandLine (no separate application name, so Windows looks the first token up the usual
// way) in workingDirectory or, when none, the caller's current directory, and waits up to
// timeLimitMinutes (0: no wait at all, the process is left running). A process still running at
// the limit is terminated and 258 (WAIT_TIMEOUT) is returned. Otherwise the result is the
// process's exit code, 0 when no wait was asked for, or the Windows error of the step that failed
// (2 for a program that does not exist). remarks receives the system's text for the returned code.
// The caller's current directory is the same afterwards on every path. With a working directory
// the whole process's current directory changes for the duration of the call: meant for a
// single-threaded caller. The wait blocks the calling thread.
// applicationPath, when given, is the full path of the program to start: Windows then searches
// nothing, and commandLine (logged as it is) only supplies the arguments after its first token.
int execute(const char* workingDirectory, const char* commandLine, std::optional<std::string>& remarks,
            int timeLimitMinutes, bool showWindow, const char* applicationPath = nullptr);

// execute with the wait given in milliseconds; timeLimitMinutes is then used only in the log.
// Lets tests run the time-limit path in a fraction of a second.
int ExecuteWithWaitLimit(const char* workingDirectory, const char* commandLine, std::optional<std::string>& remarks,
                         int timeLimitMinutes, DWORD waitMilliseconds, bool showWindow,
                         const char* applicationPath = nullptr);

}  // namespace vx
