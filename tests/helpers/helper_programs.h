// Where the test helper programs built by the suite live, as Windows paths (Windows tests only).
#pragma once

#include <string>

#include "child_process_win.h"

namespace vx::test {

// The build records the helpers' host paths; the tests see them through Wine's drive Z:.
inline std::string ExitProgramPath() { return WindowsPathOf(VX_TEST_EXIT_PROGRAM); }
inline std::string SleepProgramPath() { return WindowsPathOf(VX_TEST_SLEEP_PROGRAM); }
inline std::string CwdProgramPath() { return WindowsPathOf(VX_TEST_CWD_PROGRAM); }

// A command line starting the program (quoted) with the given arguments.
inline std::string HelperCommandLine(const std::string& program, const std::string& arguments) {
  std::string command = "\"" + program + "\"";
  if (!arguments.empty()) command += " " + arguments;
  return command;
}

}  // namespace vx::test
