#include "transport/access_log.h"

#include <string_view>

#include "agent/file_utils.h"
#include "logging/logger.h"
#include "transport/transport_types.h"

namespace vx {

const char kAccessLogHeader[] =
    "DATE\t\t\tSTART_TIME\t                         FILE_NAME\tMODE\t\t\t\tT_BYTES\tSTATUS\tRECEVD_BYTES\tEND_TIME\t"
    "SERVER_NAME\t\tPORT\tURL\n"
    "----------------------------------------------------------------------------------------------------------"
    "------------------------------------";
static_assert(sizeof(kAccessLogHeader) - 1 == 262);

std::string AccessLogPrefix() { return FormatText("\n %s\t\t%10s\t", ShortDateText().c_str(), TimeText(true).c_str()); }

std::string AccessLogPath(const std::string& install_dir, int result) {
  return install_dir + (result == 0 ? "logs\\downloadSuccessAccess.log" : "logs\\downloadFailureAccess.log");
}

std::string AccessLogEntry(const AccessLogRecord& record, int result, const std::string& end_time) {
  std::string file_name = GetLastUrlFileName(record.url.c_str()).value_or(std::string());
  if (file_name.empty()) file_name = "--";
  const char* mode = record.request_type == DOWNLOAD_FILE ? "DownloadFile" : "GetData";
  std::string entry = FormatText("\n %20s\t", record.start_prefix.c_str());
  entry += FormatText("\t%30s", file_name.c_str());
  entry += FormatText("\t%12s", mode);
  entry += FormatText("\t%10u\t%5ld\t%10u", static_cast<unsigned>(record.content_length), static_cast<long>(result),
                      static_cast<unsigned>(record.received));
  entry += FormatText("\t%10s\t", end_time.c_str());
  entry += FormatText("\t%15s\t%6d\t%s", record.server.c_str(), record.port, record.url.c_str());
  return entry;
}

void PrintHTTPAccessLog(const std::string& install_dir, const AccessLogRecord& record, int result) {
  try {
    const std::string end_time = TimeText(true);
    const std::string path = AccessLogPath(install_dir, result);
    LogDebug("downloadaccesslog : %s \n", path.c_str());
    (void)MakeDirectoryTree(install_dir + "logs");
    CreateFileWithHeader(path.c_str(), kAccessLogHeader);
    // The entry holds outside text (the URL); it is written as it stands, never used as a format.
    AppendFormattedToFile(path.c_str(), "%s", AccessLogEntry(record, result, end_time).c_str());
  } catch (...) {
    LogError("Error caught in PrintHTTPAccessLog");
  }
}

}  // namespace vx
