// The hostile-server matrix: every row is a way a server answers, every column one of the download
// drivers, run with the real WinHTTP under Wine against the test server. One invariant holds in
// every cell: result 0 means the destination is exactly one served version, any other result means
// nothing was handed over; no file passes the announced length; what is left is only recorded
// partial files, each described by its record (size, and bytes of one version).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <iostream>

#include "transport_test_win.h"

namespace vx {
namespace {

constexpr std::size_t kLength = 120000;  // three blocks of 50000 bytes at 100 KBps

// Printable bytes, so that GET_DATA's text is the file itself; the two versions differ everywhere.
std::string Version(char first_letter) {
  std::string bytes(kLength, ' ');
  for (std::size_t i = 0; i < kLength; ++i) bytes[i] = static_cast<char>(first_letter + (i * 7 + i / 26) % 26);
  return bytes;
}

using test::Driver;
using test::kDownloadDrivers;
using test::kDriverNames;
using test::kRateLimitedResumable;
using test::kResumable;

constexpr int kAny = -1;  // what Wine makes of bytes past a Content-Length: 707 or the announced ones

struct Row {
  const char* name;
  const char* script;
  std::array<int, kDownloadDrivers> results;
  // Per driver, what result 0 hands over: '1' the first version, '2' the replacement, 'p' the first
  // prefix bytes (an announced length), '?' any whole version.
  const char* versions = "11111";
  bool splice_possible = false;  // no validator at all: a same-length replacement cannot be seen
  std::size_t prefix = 0;
  std::size_t requests = 0;  // when given: a first answer that ends every driver at once
};

const Row kRows[] = {
    {"plain", R"({"rules": []})", {0, 0, 0, 0, 0}},
    {"not modified", R"({"rules": [{"status": 304}]})", {90001, 90001, 90001, 90001, 90001}, "11111", false, 0, 1},
    {"missing file", R"({"rules": [{"status": 404}]})", {404, 404, 404, 404, 404}, "11111", false, 0, 1},
    {"server error", R"({"rules": [{"status": 500, "body": "broken"}]})", {500, 500, 500, 500, 500}, "11111", false, 0,
     1},
    {"416 to every request", R"({"rules": [{"status": 416}]})", {416, 416, 416, 416, 416}},
    {"no Content-Length, close-delimited", R"({"rules": [{"no_content_length": true}]})",
     {707, 12150, 12150, 12150, 707}, "11111", false, 0, 1},
    {"no Content-Length, chunked", R"({"rules": [{"chunked": true}]})", {707, 0, 12150, 12150, 707}},
    {"body longer than Content-Length", R"({"rules": [{"count": 1, "headers": {"Content-Length": "1000"}}]})",
     {kAny, 0, 0, 0, kAny}, "p111p", false, 1000},
    {"206 past its range",
     R"({"rules": [{"count": 1}, {"status": 206, "body_file": "long.bin",
                                  "headers": {"Content-Range": "bytes 0-49999/120000"}}]})",
     {0, 707, 707, 707, 0}},
    {"206 with another start and total", R"({"rules": [{"headers": {"Content-Range": "bytes 7-99/999999"}}]})",
     {0, 412, 412, 412, 0}},
    {"206 without validators", R"({"rules": [{"count": 1}, {"headers": {"Last-Modified": null}}]})", {0, 0, 0, 0, 0}},
    {"ETag-only server", R"({"rules": [{"etag": true, "headers": {"Last-Modified": null}}]})", {0, 0, 0, 0, 0}},
    {"416 to a later range", R"({"rules": [{"count": 2}, {"status": 416}]})", {0, 416, 0, 416, 0}},
    // The file is replaced after the first range broke off (or the first block): the next range
    // meets the other version.
    {"same-length replacement between ranges",
     R"({"rules": [{"count": 1}, {"count": 1, "close_after": 30000}, {"count": 1, "replace_with": "v2.bin"}]})",
     {0, 0, 707, 0, 0}, "12121"},
    {"same-length replacement, If-Range ignored",
     R"({"rules": [{"count": 1}, {"count": 1, "close_after": 30000},
                   {"count": 1, "replace_with": "v2.bin", "ignore_if_range": true}, {"ignore_if_range": true}]})",
     {0, 0, 707, 0, 0}, "12121"},
    {"ETag-only replacement, If-Range ignored",
     R"({"rules": [{"count": 1, "etag": true, "headers": {"Last-Modified": null}},
                   {"count": 1, "close_after": 30000, "etag": true, "headers": {"Last-Modified": null}},
                   {"count": 1, "replace_with": "v2.bin", "ignore_if_range": true, "etag": true,
                    "headers": {"Last-Modified": null}},
                   {"etag": true, "ignore_if_range": true, "headers": {"Last-Modified": null}}]})",
     {0, 0, 707, 0, 0}, "12121"},
    {"same-length replacement without validators",
     R"({"rules": [{"count": 1, "headers": {"Last-Modified": null}},
                   {"count": 1, "close_after": 30000, "headers": {"Last-Modified": null}},
                   {"count": 1, "replace_with": "v2.bin", "headers": {"Last-Modified": null}},
                   {"headers": {"Last-Modified": null}}]})",
     {0, 0, 707, 0, 0}, "1???1", true},
    {"416 to every range", R"({"rules": [{"count": 1}, {"status": 416}]})", {0, 416, 416, 416, 0}},
    {"200 to a range", R"({"rules": [{"ignore_range": true}]})", {0, 0, 0, 0, 0}},
    // Wine ends a body whose connection closes early as a short read without an error.
    {"reset in the middle of a body", R"({"rules": [{"close_after": 20000}]})", {707, 0, 707, 0, 707}},
};

class DownloadMatrix : public test::DriverRuns {
 protected:
  DownloadMatrix() : server_(test::CurrentTestName()) { ConnectTo(server_); }

  void SetUp() override {
    if (!server_.Available()) GTEST_SKIP() << "no test server: run through CTest (fixture vx_test_server)";
  }

  // A clean machine: no metadata, no files, the first version served.
  void StartCell(const Row& row, Driver driver) {
    StartRun(driver, 100);  // blocks of 50000 bytes
    server_.WriteFile("file.bin", v1_);
    server_.SetLastModified("file.bin", 1652918400);
    server_.WriteFile("v2.bin", v2_);
    server_.WriteFile("long.bin", v1_ + v1_.substr(0, 30000));
    server_.WriteScript(row.script);
  }

  bool IsServedVersion(const Row& row, Driver driver, const std::string& bytes) const {
    switch (row.versions[driver]) {
      case '1':
        return bytes == v1_;
      case '2':
        return bytes == v2_;
      case 'p':
        return bytes == v1_.substr(0, row.prefix) || bytes == v1_;
      default:
        return row.splice_possible ? bytes.size() == kLength : bytes == v1_ || bytes == v2_;
    }
  }

  // The invariant of every cell, and what a first answer that ends every driver at once leaves.
  void CheckCell(const Row& row, Driver driver, int result, std::size_t requests) {
    if (row.requests != 0) {
      EXPECT_EQ(requests, row.requests);
    }
    if (row.requests != 0 && (driver == kResumable || driver == kRateLimitedResumable)) {
      // A resumable download that its first answer ends makes no metadata and is in the access log,
      // with its result.
      EXPECT_FALSE(test::KeyExists(test::kMetadataKey.c_str())) << "metadata before any body";
      const std::string status = std::to_string(result);
      const std::string log = test::ReadWholeFile(install_dir_ / "logs" / "downloadFailureAccess.log");
      EXPECT_NE(log.find("\t" + std::string(5 - std::min<std::size_t>(status.size(), 5), ' ') + status + "\t"),
                std::string::npos)
          << log;
    }
    CheckRun(
        driver, result, [&](const std::string& bytes) { return IsServedVersion(row, driver, bytes); }, kLength,
        {&v1_, &v2_}, server_.UrlPath("file.bin"));
  }

  test::TestServerNamespace server_;
  const std::string v1_ = Version('a');
  const std::string v2_ = Version('A');
};

TEST_F(DownloadMatrix, EveryDriverKeepsTheInvariantWithEveryServer) {
  for (const Row& row : kRows) {
    for (int column = 0; column < kDownloadDrivers; ++column) {
      const Driver driver = static_cast<Driver>(column);
      SCOPED_TRACE(std::string(row.name) + " / " + kDriverNames[driver]);
      StartCell(row, driver);
      const std::size_t logged = log_.Messages().size();
      const bool failed_before = HasFailure();
      const std::size_t requests_before = server_.Requests().size();
      const int result = Run(driver, test::Wide(server_.UrlPath("file.bin")));
      CheckCell(row, driver, result, server_.Requests().size() - requests_before);
      if (HasFailure() && !failed_before) {
        const std::vector<std::string> messages = log_.Messages();
        for (std::size_t i = logged; i < messages.size(); ++i) std::cout << messages[i] << "\n";
      }
    }
  }
  // Where nothing can tell two versions apart, the log says so.
  bool warned = false;
  for (const std::string& message : log_.Messages()) {
    warned = warned || message.find("neither ETag nor Last-Modified") != std::string::npos;
  }
  EXPECT_TRUE(warned);
}

}  // namespace
}  // namespace vx
