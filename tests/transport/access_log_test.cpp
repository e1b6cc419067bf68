// The access-log texts: file by result, the header, and each entry's columns and widths.
#include <gtest/gtest.h>

#include "fake_time.h"
#include "transport/access_log.h"
#include "transport/transport_types.h"

namespace vx {
namespace {

TEST(AccessLog, HeaderIsTheColumnLineAndItsRule) {
  const std::string header = kAccessLogHeader;
  ASSERT_EQ(header.size(), 262u);
  EXPECT_EQ(header.substr(0, 17), "DATE\t\t\tSTART_TIME");
  EXPECT_EQ(header.substr(header.find('\n') + 1), std::string(142, '-'));
}

TEST(AccessLog, FileDependsOnTheResultOnly) {
  EXPECT_EQ(AccessLogPath("C:\\agent\\", 0), "C:\\agent\\logs\\downloadSuccessAccess.log");
  for (const int result : {kNotModified, 416, kLengthMismatch, 12029}) {
    EXPECT_EQ(AccessLogPath("C:\\agent\\", result), "C:\\agent\\logs\\downloadFailureAccess.log") << result;
  }
}

TEST(AccessLog, PrefixHoldsTheStartDateAndTimeInUtc) {
  test::FakeTime time;  // 2022-05-19 00:53:09 UTC
  ScopedTimeSourceOverride override(time);
  EXPECT_EQ(AccessLogPrefix(), "\n 22-05-19\t\t  00:53:09\t");
}

TEST(AccessLog, EntryColumns) {
  AccessLogRecord record;
  record.start_prefix = "\n 22-05-19\t\t  00:36:29\t";
  record.server = "10.0.0.5";
  record.port = 8080;
  record.content_length = 300000;
  record.received = 100000;
  const std::string prefix = "\n \n 22-05-19\t\t  00:36:29\t\t";
  const std::string tail = "\t    300000\t  707\t    100000\t  00:40:01\t\t       10.0.0.5\t  8080\t";
  struct Case {
    const char* url;
    int type;
    const char* columns;  // file name and mode
  };
  const Case cases[] = {
      {"/pkg/setup.exe", DOWNLOAD_FILE, "\t                     setup.exe\tDownloadFile"},
      {"/pkg/", DOWNLOAD_FILE, "\t                            --\tDownloadFile"},
      {"data.txt", GET_DATA, "\t                      data.txt\t     GetData"},
      {"/a/%s%n.bin", 11099, "\t                      %s%n.bin\t     GetData"},
  };
  for (const Case& c : cases) {
    record.url = c.url;
    record.request_type = c.type;
    EXPECT_EQ(AccessLogEntry(record, kLengthMismatch, "00:40:01"), prefix + c.columns + tail + c.url) << c.url;
  }
}

}  // namespace
}  // namespace vx
