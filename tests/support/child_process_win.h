// Runs a Windows program from a test and collects what a caller sees: the full 32-bit exit code
// (Linux would see only its low 8 bits) and everything written to standard output (Windows).
#pragma once

#include <map>
#include <string>

namespace vx::test {

struct ChildResult {
  bool started = false;
  unsigned long exit_code = 0;
  std::string output;  // standard output and standard error, as written
};

// Starts command_line with the extra environment variables set (on top of the test's own) and
// waits for it up to timeout_ms. A child still running then is terminated and reported as not
// started.
ChildResult RunChild(const std::string& command_line, const std::map<std::string, std::string>& environment = {},
                     unsigned long timeout_ms = 60000);

// The Windows form of a path of the Linux build tree (Wine maps / to drive Z:).
std::string WindowsPathOf(const std::string& linux_path);

}  // namespace vx::test
