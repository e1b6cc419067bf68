// Whole and rate-limited downloads against the scripted WinHTTP: the time-out recovery with its
// range, answers that must not be appended, short bodies, the block ranges and their pacing.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <new>

#include "fake_winhttp_win.h"
#include "transport_test_win.h"

// The test's allocator, the process heap: while g_failing_allocation is not 0, allocations of that
// many bytes and more fail, as in a 32-bit process short of memory.
static std::size_t g_failing_allocation = 0;
void* operator new(std::size_t size) {
  void* memory =
      g_failing_allocation == 0 || size < g_failing_allocation ? ::HeapAlloc(::GetProcessHeap(), 0, size + 1) : nullptr;
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}
void operator delete(void* memory) noexcept {
  if (memory != nullptr) ::HeapFree(::GetProcessHeap(), 0, memory);
}
void operator delete(void* memory, std::size_t) noexcept { operator delete(memory); }

namespace vx {
namespace {

using test::Answer;
using test::Broken;
using test::FakeResponse;
using test::FakeWinHttp;
using test::Head;
using test::Part;
using test::RangeLine;
using test::RangesOf;
using test::Script;

// The range lines of the block requests that followed the probe.
std::vector<std::wstring> BlockRanges(const FakeWinHttp& fake) {
  std::vector<std::wstring> ranges;
  for (std::size_t i = 1; i < fake.Requests().size(); ++i) {
    if (fake.Requests()[i].verb != L"HEAD") ranges.push_back(RangeLine(fake.Requests()[i]));
  }
  return ranges;
}

// No "DownloadMode" in the clean registry: whole downloads.
class Download : public test::TransportTest {
 protected:
  int Whole(int type = DOWNLOAD_FILE, unsigned char accept_gzip = 0) {
    return InternetGetRequestEx(parameters_, L"/files/file.bin", destination_.c_str(), &text_, type, 1, accept_gzip);
  }
  int RateLimited(int type = DOWNLOAD_FILE) {
    return InternetGetRequestByBitrate(parameters_, L"/files/file.bin", destination_.c_str(), &text_, type, 1);
  }
  // Nothing but the destination (when the download succeeded) is left in the directory.
  std::size_t FilesLeft() const { return test::RegularFilesBelow(directory_.path()); }

  FakeWinHttp fake_;
};

TEST_F(Download, TimeoutMidBodyIsRecoveredWithARangedRequest) {
  const std::string file = test::PatternBytes(10000);
  const std::string newer(10000, 'v');
  constexpr const wchar_t* kOlder = L"Thu, 19 May 2022 00:00:00 GMT";
  constexpr const wchar_t* kNewer = L"Fri, 20 May 2022 00:00:00 GMT";
  struct Case {
    const char* name;
    std::vector<FakeResponse> recovery;
    const std::string* delivered;  // none: the download fails and leaves nothing
    std::size_t fail_after = 4000;
    int expected_result = 0;
  };
  const Case cases[] = {
      {"the rest is appended", Script(Part(file, 4000, 6000)), &file},
      {"nothing read yet", Script(Part(file, 0, 10000)), &file, 0},
      {"the whole file again replaces what was read", Script(Answer(200, file)), &file},
      {"a refused range starts over with the whole file", Script(Answer(416, "not satisfiable"), Answer(200, file)),
       &file},
      {"another version's range starts over with that version",
       Script(Part(newer, 4000, 6000, 0, kNewer), Answer(200, newer, std::nullopt, kNewer)), &newer},
      {"another length's range starts over with that length", Script(Part(file, 4000, 6000, 12000), Answer(200, file)),
       &file},
      {"a server error is not file content", Script(Answer(500, "error")), nullptr, 4000, 500},
  };
  for (const Case& c : cases) {
    FakeWinHttp fake;
    fake.Add(Broken(Answer(200, file, std::nullopt, kOlder), c.fail_after));
    for (const FakeResponse& answer : c.recovery) fake.Add(answer);
    std::filesystem::remove(destination_);
    EXPECT_EQ(Whole(), c.expected_result) << c.name;
    ASSERT_EQ(fake.Requests().size(), 1 + c.recovery.size()) << c.name;
    EXPECT_EQ(RangeLine(fake.Requests()[1]), L"Range: bytes=" + std::to_wstring(c.fail_after) + L"-10000") << c.name;
    EXPECT_EQ(fake.Requests()[1].added_headers.back(), std::wstring(L"If-Range: ") + kOlder) << c.name;
    EXPECT_EQ(fake.Requests()[1].send_headers.back(), L"") << c.name << ": the recovery does not ask for gzip";
    if (c.delivered != nullptr) {
      EXPECT_TRUE(test::ReadWholeFile(destination_) == *c.delivered) << c.name;
    } else {
      EXPECT_FALSE(std::filesystem::exists(destination_)) << c.name;
    }
    EXPECT_EQ(fake.OpenHandles(), 0) << c.name;
    EXPECT_EQ(FilesLeft(), c.delivered != nullptr ? 1u : 0u) << c.name << ": temporary files are deleted";
  }
}

TEST_F(Download, WholeDownloadResults) {
  using namespace std::string_literals;
  FakeResponse gzip = Answer(200, "\x1f\x8b\x08 compressed bytes"s);
  gzip.headers.emplace_back(L"Content-Encoding", L"gzip");
  const struct {
    const char* name;
    FakeResponse response;
    int type;
    int expected_result;
    std::string expected_content;        // destination or text, on 0
    std::size_t failing_allocation = 0;  // allocations of this size and more fail
  } cases[] = {
      {"complete file of a few write blocks", Answer(200, test::PatternBytes(2500000)), DOWNLOAD_FILE, 0,
       test::PatternBytes(2500000)},
      {"text into memory", Answer(200, "<a>\r\n<b/>\r\n</a>\0tail"s), GET_DATA, 0, "<a>\n<b/>\n</a>"},
      {"gzip kept as received", gzip, DOWNLOAD_FILE, 0, "\x1f\x8b\x08 compressed bytes"s},
      {"unknown type has no temporary file", Answer(200, "0123456789"), 4242, ERROR_PATH_NOT_FOUND, ""},
      // The write blocks' gathering stays below 2 MiB; reading 2.5 MB back needs more.
      {"text that does not fit in memory", Answer(200, test::PatternBytes(2500000)), GET_DATA, kReadBackFailed, "",
       3000000},
  };
  std::filesystem::create_directories(std::filesystem::path(destination_).parent_path());
  for (const auto& c : cases) {
    FakeWinHttp fake;
    fake.Add(c.response);
    test::WriteWholeFile(destination_, "the previous file");
    // A file at a name derived from the thread is someone else's: never read, written or removed.
    const auto planted = directory_.path() / ("vx" + std::to_string(CurrentThreadId()) + ".tmp");
    if (c.type == GET_DATA) test::WriteWholeFile(planted, "planted");
    text_.clear();
    g_failing_allocation = c.failing_allocation;
    const int result = Whole(c.type, 1);
    g_failing_allocation = 0;
    EXPECT_EQ(result, c.expected_result) << c.name;
    if (c.type == GET_DATA) {
      EXPECT_EQ(text_, c.expected_content) << c.name;
      EXPECT_EQ(test::ReadWholeFile(planted), "planted") << c.name;
      std::filesystem::remove(planted);
      const std::string named = "[DEBUG] LoadDatafromFile: tmpDataFilePath, " + directory_.str() + "\\vx";
      const auto messages = log_.Messages();
      const auto line = std::find_if(messages.begin(), messages.end(),
                                     [&](const std::string& message) { return message.starts_with(named); });
      ASSERT_NE(line, messages.end()) << c.name;
      EXPECT_EQ(line->size(), named.size() + 32 + 4) << *line << ": 128 random bits name the file";
    }
    // The destination is replaced by a complete download only.
    EXPECT_EQ(test::ReadWholeFile(destination_),
              c.type == DOWNLOAD_FILE && result == 0 ? c.expected_content : "the previous file")
        << c.name;
    EXPECT_EQ(fake.Requests().at(0).send_headers.at(0), L"Accept-Encoding: gzip") << c.name;
    EXPECT_EQ(FilesLeft(), 1u) << c.name << ": no temporary file is left";
  }
}

// Blocks of 500 bytes at 1 KBps, or one for a higher rate or rate 0; a block's time is 600 ms and the
// clock does not move during one, so every pause is 600 ms. Then recoveries, and blocks that bring
// nothing.
TEST_F(Download, RateLimitedRecoveryAndUnproductiveBlocks) {
  const std::string file = test::PatternBytes(1200);
  const FakeResponse timeout_mid_block = Broken(Part(file, 0, 500), 200);
  const FakeResponse timeout_at_once = Broken(Part(file, 200, 300), 0);
  const FakeResponse broken_at_once = Broken(Part(file, 200, 500), 0, ERROR_WINHTTP_CONNECTION_ERROR);
  FakeResponse empty_block = Part(file, 500, 500);
  empty_block.body.clear();  // the connection closed before the first byte
  const auto started_over = RangesOf(L"0-499", L"500-999", L"0-499", L"500-999", L"1000-1200");
  const auto then = [&](std::vector<FakeResponse> blocks) {  // and the whole file again from byte 0
    blocks.insert(blocks.end(), {Head(file.size()), Part(file, 0, 500), Part(file, 500, 500), Part(file, 1000, 200)});
    return blocks;
  };
  struct Case {
    const char* name;
    std::vector<FakeResponse> blocks;
    std::vector<std::wstring> ranges;
    std::size_t pauses;
    int expected_result = 0;
    int rate = 1;
  };
  const Case cases[] = {
      {"blocks of 500 bytes", Script(Part(file, 0, 500), Part(file, 500, 500), Part(file, 1000, 200)),
       RangesOf(L"0-499", L"500-999", L"1000-1200"), 3},
      {"one block ending at the length", Script(Part(file, 0, 1200)), RangesOf(L"0-1200"), 1, 0, 1024},
      {"rate 0 fetches everything at once", Script(Part(file, 0, 1200)), RangesOf(L"0-1200"), 1, 0, 0},
      {"a time-out is retried at once from where it stopped",
       Script(timeout_mid_block, Part(file, 200, 500), Part(file, 700, 500)),
       RangesOf(L"0-499", L"200-699", L"700-1199"), 2},
      {"a time-out, then a broken connection: no handle is lost",
       Script(timeout_mid_block, broken_at_once, Part(file, 200, 500), Part(file, 700, 500)),
       RangesOf(L"0-499", L"200-699", L"200-699", L"700-1199"), 2},
      {"a second time-out in a row ends the download", Script(timeout_mid_block, timeout_at_once),
       RangesOf(L"0-499", L"200-699"), 0, ERROR_WINHTTP_TIMEOUT},
      {"the whole file sent for a later block starts over", Script(Part(file, 0, 500), Answer(200, file)),
       RangesOf(L"0-499", L"500-999"), 2},
      {"blocks without data are not fetched for ever",
       Script(Part(file, 0, 500), empty_block, empty_block, empty_block, empty_block),
       RangesOf(L"0-499", L"500-999", L"500-999", L"500-999"), 3, kLengthMismatch},
      {"a refused block starts over from byte 0", then(Script(Part(file, 0, 500), Answer(416, ""))), started_over, 4},
      {"a block of another length starts over from byte 0",
       then(Script(Part(file, 0, 500), Part(file, 500, 500, 1300))), started_over, 4},
      {"changed again after starting over: a clear failure",
       Script(Part(file, 0, 500), Part(file, 500, 500, 1300), Head(file.size()), Part(file, 0, 500, 1300)),
       RangesOf(L"0-499", L"500-999", L"0-499"), 1, kServerFileChanged},
      {"a server error ends the download with its status", Script(Part(file, 0, 500), Answer(500, "")),
       RangesOf(L"0-499", L"500-999"), 1, 500},
  };
  for (const Case& c : cases) {
    FakeWinHttp fake;
    test::FakeTime time;
    ScopedTimeSourceOverride time_override(time);
    gv_dataTransferRateKBps = c.rate;
    fake.Add(Head(file.size()));
    for (const FakeResponse& block : c.blocks) fake.Add(block);
    std::filesystem::remove(destination_);
    EXPECT_EQ(RateLimited(), c.expected_result) << c.name;
    EXPECT_EQ(fake.Requests().at(0).verb, L"HEAD") << c.name;
    EXPECT_EQ(BlockRanges(fake), c.ranges) << c.name;
    EXPECT_EQ(time.Sleeps(), std::vector<std::uint32_t>(c.pauses, 600)) << c.name;
    if (c.expected_result == 0) {
      EXPECT_EQ(test::ReadWholeFile(destination_), file) << c.name;
    } else {
      EXPECT_FALSE(std::filesystem::exists(destination_)) << c.name;
    }
    EXPECT_EQ(fake.OpenHandles(), 0) << c.name;
    EXPECT_EQ(FilesLeft(), c.expected_result == 0 ? 1u : 0u) << c.name;
  }
}

TEST_F(Download, RateLimitedEmptyFile) {
  gv_dataTransferRateKBps = 1;
  fake_.Add(Head(0));
  EXPECT_EQ(RateLimited(GET_DATA), 0);
  EXPECT_EQ(text_, "");
  EXPECT_EQ(fake_.Requests().size(), 1u);  // no block is fetched
}

}  // namespace
}  // namespace vx
