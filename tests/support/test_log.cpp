#include "test_log.h"

#include "logging/logger.h"

namespace vx::test {

ScopedTestLog::ScopedTestLog(std::uint32_t level, std::string file_name) : file_name_(std::move(file_name)) {
  CloseLog();
  ReleaseLog();
  (void)SetLogDefaults();
  (void)ConfigureLog(file_name_.c_str(), directory_.str().c_str(), level);
  (void)OpenLogAppend();
}

ScopedTestLog::~ScopedTestLog() {
  CloseLog();
  ReleaseLog();
}

std::vector<std::string> ScopedTestLog::Lines() const { return LogFileLines(file()); }

std::vector<std::string> LogFileLines(const std::filesystem::path& path) {
  std::vector<std::string> lines = SplitLines(ReadWholeFile(path));
  // The log is a text-mode stream: on Windows every line ends with CR LF.
  for (std::string& line : lines) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
  }
  return lines;
}

std::vector<std::string> ScopedTestLog::Messages() const {
  std::vector<std::string> messages;
  for (const std::string& line : Lines()) {
    ParsedLogLine parsed;
    if (!ParseLogLine(line, parsed)) continue;
    if (parsed.text.rfind("Log open time: ", 0) == 0 || parsed.text.rfind("Log close time: ", 0) == 0) continue;
    messages.push_back(parsed.tag + " " + parsed.text);
  }
  return messages;
}

bool ScopedTestLog::Has(const std::string& tag, const std::string& text) const {
  const std::string wanted = tag + " " + text;
  for (const std::string& message : Messages()) {
    if (message == wanted) return true;
  }
  return false;
}

bool ParseLogLine(const std::string& line, ParsedLogLine& parsed) {
  if (line.rfind("[ ", 0) != 0) return false;
  const std::size_t time_end = line.find(" ] [ ");
  if (time_end == std::string::npos) return false;
  const std::size_t thread_end = line.find(" ] ", time_end + 5);
  if (thread_end == std::string::npos) return false;
  const std::size_t tag_end = line.find(' ', thread_end + 3);
  if (tag_end == std::string::npos) return false;
  parsed.timestamp = line.substr(2, time_end - 2);
  parsed.thread = line.substr(time_end + 5, thread_end - time_end - 5);
  parsed.tag = line.substr(thread_end + 3, tag_end - thread_end - 3);
  parsed.text = line.substr(tag_end + 1);
  return true;
}

}  // namespace vx::test
