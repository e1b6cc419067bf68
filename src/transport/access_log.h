// The transfer access logs: one tab-separated line per resumable download, in
// <install dir>logs\downloadSuccessAccess.log when it ended with 0 and in
// downloadFailureAccess.log otherwise. Each file starts with a header written when it is created.
//
// Texts are built by pure functions (portable); PrintHTTPAccessLog opens, appends and closes the
// file for each entry, so nothing stays open between downloads.
#pragma once

#include <cstdint>
#include <string>

namespace vx {

// The column header and its rule, written once when a log file is created (262 characters).
extern const char kAccessLogHeader[];

// What one download's line records. Texts are 8-bit (UTF-8).
struct AccessLogRecord {
  std::string start_prefix;  // AccessLogPrefix() taken when the download started
  std::string url;           // the object path
  std::string server;
  int port = 0;
  int request_type = 0;
  std::uint32_t content_length = 0;
  std::uint32_t received = 0;
};

// "\n <yy-mm-dd>\t\t<hh:mm:ss>\t" for now (UTC), right-aligned in 10 characters.
[[nodiscard]] std::string AccessLogPrefix();

// The log file for a download's result: "<install_dir>logs\downloadSuccessAccess.log" for 0, else
// "<install_dir>logs\downloadFailureAccess.log".
[[nodiscard]] std::string AccessLogPath(const std::string& install_dir, int result);

// One entry, beginning with its own line end: prefix, file name (the URL's text after its last
// "/", "--" when that is empty), mode ("DownloadFile" or "GetData"), content length, result,
// bytes received, end time, server, port and URL.
[[nodiscard]] std::string AccessLogEntry(const AccessLogRecord& record, int result, const std::string& end_time);

// Appends the download's entry to its log under install_dir, creating the logs directory and the
// file with its header when missing. Failures are logged, never thrown: the download's result
// stands whatever happens here.
void PrintHTTPAccessLog(const std::string& install_dir, const AccessLogRecord& record, int result);

}  // namespace vx
