// Whole and rate-limited downloads against the scripted WinHTTP: the time-out recovery with its
// range, answers that must not be appended, short bodies, the block ranges and their pacing.
#include <gtest/gtest.h>

#include <filesystem>

#include "agent/agent_config.h"
#include "fake_time.h"
#include "fake_winhttp_win.h"
#include "test_files.h"
#include "test_log.h"
#include "test_registry_win.h"
#include "transport/file_download_win.h"

namespace vx {
namespace {

using test::FakeResponse;
using test::FakeWinHttp;

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  return bytes;
}

FakeResponse Body(DWORD status, std::string body, std::optional<std::size_t> announced = std::nullopt) {
  FakeResponse response;
  response.status = status;
  response.headers = {{L"Content-Length", std::to_wstring(announced.value_or(body.size()))}};
  response.body = std::move(body);
  return response;
}

// The answer to the rate-limited download's HEAD probe.
FakeResponse Head(std::size_t length) {
  FakeResponse response;
  response.headers = {{L"Content-Length", std::to_wstring(length)}};
  return response;
}

// The range lines of the block requests that followed the probe.
std::vector<std::wstring> BlockRanges(const FakeWinHttp& fake) {
  std::vector<std::wstring> ranges;
  for (std::size_t i = 1; i < fake.Requests().size(); ++i) ranges.push_back(fake.Requests()[i].added_headers.back());
  return ranges;
}

class Download : public ::testing::Test {
 protected:
  Download() : time_override_(time_) {
    ResetAgentParameters();
    gv_tempDir = directory_.str();
    parameters_.protocol = "http";
    parameters_.server = L"server.example";
    parameters_.port = 80;
    destination_ = (directory_.path() / "sub" / "file.bin").wstring();
  }

  int Whole(int type = DOWNLOAD_FILE, unsigned char accept_gzip = 0) {
    return InternetGetRequestEx(parameters_, L"/files/file.bin", destination_.c_str(), &text_, type, 1, accept_gzip);
  }
  int RateLimited(int type = DOWNLOAD_FILE) {
    return InternetGetRequestByBitrate(parameters_, L"/files/file.bin", destination_.c_str(), &text_, type, 1);
  }
  // Nothing but the destination (when the download succeeded) is left in the directory.
  std::size_t FilesLeft() const {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory_.path())) {
      if (entry.is_regular_file()) ++count;
    }
    return count;
  }

  test::ScopedCleanRegistry registry_;  // no "DownloadMode": whole downloads
  test::ScopedTestLog log_;
  test::TempDirectory directory_;
  test::FakeTime time_;
  ScopedTimeSourceOverride time_override_;
  FakeWinHttp fake_;
  ConnectionParameters parameters_;
  std::wstring destination_;
  std::string text_;
};

TEST_F(Download, TimeoutMidBodyIsRecoveredWithARangedRequest) {
  const std::string file = Pattern(10000);
  struct Case {
    const char* name;
    std::size_t fail_after;
    FakeResponse recovery;
    int expected_result;
    std::wstring expected_range;
  };
  const Case cases[] = {
      {"the rest is appended", 4000, Body(206, file.substr(4000)), 0, L"Range: bytes=4000-10000"},
      {"nothing read yet", 0, Body(206, file), 0, L"Range: bytes=0-10000"},
      {"the whole file again replaces what was read", 4000, Body(200, file), 0, L"Range: bytes=4000-10000"},
      {"a refused range is not file content", 4000, Body(416, "not satisfiable"), 416, L"Range: bytes=4000-10000"},
  };
  for (const Case& c : cases) {
    FakeWinHttp fake;
    FakeResponse first = Body(200, file);
    first.fail_after = c.fail_after;
    fake.Add(first);
    fake.Add(c.recovery);
    std::filesystem::remove(destination_);
    EXPECT_EQ(Whole(), c.expected_result) << c.name;
    ASSERT_EQ(fake.Requests().size(), 2u) << c.name;
    EXPECT_EQ(fake.Requests()[1].added_headers.back(), c.expected_range) << c.name;
    EXPECT_EQ(fake.Requests()[1].send_headers.back(), L"") << c.name << ": the recovery does not ask for gzip";
    if (c.expected_result == 0) {
      EXPECT_EQ(test::ReadWholeFile(destination_), file) << c.name;
    } else {
      EXPECT_FALSE(std::filesystem::exists(destination_)) << c.name;
    }
    EXPECT_EQ(fake.OpenHandles(), 0) << c.name;
    EXPECT_EQ(FilesLeft(), c.expected_result == 0 ? 1u : 0u) << c.name << ": temporary files are deleted";
  }
}

TEST_F(Download, WholeDownloadResults) {
  using namespace std::string_literals;
  FakeResponse no_length;
  no_length.body = "a body without a length";
  FakeResponse gzip = Body(200, "\x1f\x8b\x08 compressed bytes"s);
  gzip.headers.emplace_back(L"Content-Encoding", L"gzip");
  const struct {
    const char* name;
    FakeResponse response;
    int type;
    int expected_result;
    std::string expected_content;  // destination or text, on 0
  } cases[] = {
      {"complete file of a few write blocks", Body(200, Pattern(2500000)), DOWNLOAD_FILE, 0, Pattern(2500000)},
      {"short body", Body(200, "012345", 10), DOWNLOAD_FILE, kLengthMismatch, ""},
      {"no Content-Length", no_length, DOWNLOAD_FILE, kLengthMismatch, ""},
      {"not modified", Body(304, ""), DOWNLOAD_FILE, kNotModified, ""},
      {"missing", Body(404, "no"), DOWNLOAD_FILE, 404, ""},
      {"server error", Body(500, "no"), DOWNLOAD_FILE, 500, ""},
      {"text into memory", Body(200, "<a>\r\n<b/>\r\n</a>\0tail"s), GET_DATA, 0, "<a>\n<b/>\n</a>"},
      {"gzip kept as received", gzip, DOWNLOAD_FILE, 0, "\x1f\x8b\x08 compressed bytes"s},
      {"unknown type has no temporary file", Body(200, "0123456789"), 4242, ERROR_PATH_NOT_FOUND, ""},
  };
  std::filesystem::create_directories(std::filesystem::path(destination_).parent_path());
  for (const auto& c : cases) {
    FakeWinHttp fake;
    fake.Add(c.response);
    test::WriteWholeFile(destination_, "the previous file");
    text_.clear();
    const int result = Whole(c.type, 1);
    EXPECT_EQ(result, c.expected_result) << c.name;
    if (c.type == GET_DATA) {
      EXPECT_EQ(text_, c.expected_content) << c.name;
    }
    // The destination is replaced by a complete download only.
    EXPECT_EQ(test::ReadWholeFile(destination_),
              c.type == DOWNLOAD_FILE && result == 0 ? c.expected_content : "the previous file")
        << c.name;
    EXPECT_EQ(fake.Requests().at(0).send_headers.at(0), L"Accept-Encoding: gzip") << c.name;
    EXPECT_EQ(FilesLeft(), 1u) << c.name << ": no temporary file is left";
  }
}

TEST_F(Download, RateLimitedBlocksAndPacing) {
  const std::string file = Pattern(1200);
  struct Case {
    const char* name;
    int rate;
    std::vector<std::wstring> ranges;
  };
  const Case cases[] = {
      {"blocks of 500 bytes", 1, {L"Range: bytes=0-499", L"Range: bytes=500-999", L"Range: bytes=1000-1200"}},
      {"one block ending at the length", 1024, {L"Range: bytes=0-1200"}},
      {"rate 0 fetches everything at once", 0, {L"Range: bytes=0-1200"}},
  };
  for (const Case& c : cases) {
    FakeWinHttp fake;
    test::FakeTime time;
    ScopedTimeSourceOverride time_override(time);
    gv_dataTransferRateKBps = c.rate;
    fake.Add(Head(file.size()));
    for (std::size_t start = 0; start < file.size(); start += c.rate == 1 ? 500 : file.size()) {
      fake.Add(Body(206, file.substr(start, c.rate == 1 ? 500 : file.size())));
    }
    std::filesystem::remove(destination_);
    EXPECT_EQ(RateLimited(), 0) << c.name;
    EXPECT_EQ(fake.Requests().at(0).verb, L"HEAD") << c.name;
    EXPECT_EQ(BlockRanges(fake), c.ranges) << c.name;
    EXPECT_EQ(test::ReadWholeFile(destination_), file) << c.name;
    // The clock did not move during a block, so every block is padded to 600 ms.
    EXPECT_EQ(time.Sleeps(), std::vector<std::uint32_t>(c.ranges.size(), 600)) << c.name;
    EXPECT_EQ(fake.OpenHandles(), 0) << c.name;
  }
}

TEST_F(Download, RateLimitedRecoveryAndUnproductiveBlocks) {
  const std::string file = Pattern(1200);
  FakeResponse timeout_mid_block = Body(206, file.substr(0, 500));
  timeout_mid_block.fail_after = 200;
  FakeResponse timeout_at_once = Body(206, file.substr(200, 300));
  timeout_at_once.fail_after = 0;
  FakeResponse empty_block = Body(206, "");
  struct Case {
    const char* name;
    std::vector<FakeResponse> blocks;
    int expected_result;
    std::vector<std::wstring> ranges;
    std::size_t pauses;
  };
  const Case cases[] = {
      {"a time-out is retried at once from where it stopped",
       {timeout_mid_block, Body(206, file.substr(200, 500)), Body(206, file.substr(700))},
       0,
       {L"Range: bytes=0-499", L"Range: bytes=200-699", L"Range: bytes=700-1199"},
       2},
      {"a second time-out in a row ends the download",
       {timeout_mid_block, timeout_at_once},
       ERROR_WINHTTP_TIMEOUT,
       {L"Range: bytes=0-499", L"Range: bytes=200-699"},
       0},
      {"the whole file sent for a later block starts over",
       {Body(206, file.substr(0, 500)), Body(200, file)},
       0,
       {L"Range: bytes=0-499", L"Range: bytes=500-999"},
       2},
      {"blocks without data are not fetched for ever",
       {Body(206, file.substr(0, 500)), empty_block, empty_block, empty_block, empty_block},
       kLengthMismatch,
       {L"Range: bytes=0-499", L"Range: bytes=500-999", L"Range: bytes=500-999", L"Range: bytes=500-999"},
       3},
      {"a refused block ends with its status",
       {Body(206, file.substr(0, 500)), Body(416, "")},
       416,
       {L"Range: bytes=0-499", L"Range: bytes=500-999"},
       1},
  };
  gv_dataTransferRateKBps = 1;
  for (const Case& c : cases) {
    FakeWinHttp fake;
    test::FakeTime time;
    ScopedTimeSourceOverride time_override(time);
    fake.Add(Head(file.size()));
    for (const FakeResponse& block : c.blocks) fake.Add(block);
    std::filesystem::remove(destination_);
    EXPECT_EQ(RateLimited(), c.expected_result) << c.name;
    EXPECT_EQ(BlockRanges(fake), c.ranges) << c.name;
    EXPECT_EQ(time.Sleeps().size(), c.pauses) << c.name;
    if (c.expected_result == 0) {
      EXPECT_EQ(test::ReadWholeFile(destination_), file) << c.name;
    } else {
      EXPECT_FALSE(std::filesystem::exists(destination_)) << c.name;
    }
    EXPECT_EQ(fake.OpenHandles(), 0) << c.name;
    EXPECT_EQ(FilesLeft(), c.expected_result == 0 ? 1u : 0u) << c.name;
  }
}

TEST_F(Download, RateLimitedEmptyFileAndMissingLength) {
  gv_dataTransferRateKBps = 1;
  fake_.Add(Head(0));
  EXPECT_EQ(RateLimited(GET_DATA), 0);
  EXPECT_EQ(text_, "");
  EXPECT_EQ(fake_.Requests().size(), 1u);  // no block is fetched

  FakeResponse no_length;  // the probe must announce a length
  fake_.Add(no_length);
  EXPECT_EQ(RateLimited(), ERROR_WINHTTP_HEADER_NOT_FOUND);
  EXPECT_FALSE(std::filesystem::exists(destination_));
}

}  // namespace
}  // namespace vx
