// A process log opened on a private file for the duration of a test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "test_files.h"

namespace vx::test {

class ScopedTestLog {
 public:
  explicit ScopedTestLog(std::uint32_t level = 4, std::string file_name = "test.log");
  ~ScopedTestLog();
  ScopedTestLog(const ScopedTestLog&) = delete;
  ScopedTestLog& operator=(const ScopedTestLog&) = delete;

  [[nodiscard]] std::filesystem::path file() const { return directory_.path() / file_name_; }
  [[nodiscard]] const TempDirectory& directory() const { return directory_; }
  // Every line of the file so far.
  [[nodiscard]] std::vector<std::string> Lines() const;
  // The lines' texts after the "[ time ] [ thread ] [TAG] " prefix, each with its tag in front:
  // "[INFO] text". The open and close lines are left out.
  [[nodiscard]] std::vector<std::string> Messages() const;
  // True when some message equals tag + " " + text (text without its LF).
  [[nodiscard]] bool Has(const std::string& tag, const std::string& text) const;

 private:
  TempDirectory directory_;
  std::string file_name_;
};

// The lines of a log file without their line ends (LF or CR LF).
[[nodiscard]] std::vector<std::string> LogFileLines(const std::filesystem::path& path);

// "[ <timestamp> ] [ <thread> ] <tag> <text>" split into its parts; false when the line does not
// have that shape.
struct ParsedLogLine {
  std::string timestamp;
  std::string thread;
  std::string tag;
  std::string text;
};
[[nodiscard]] bool ParseLogLine(const std::string& line, ParsedLogLine& parsed);

}  // namespace vx::test
