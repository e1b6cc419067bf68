// The torture run: every fallible WinHTTP call that a driver makes fails once, in turn, through the
// WinHTTP seam (time-outs, lost connections, invalid answers), and the download invariants hold in
// every run: result 0 means the destination is exactly the file, any other result means nothing was
// handed over, only recorded partial files of the file's bytes are left, and every handle that was
// opened is closed.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <iostream>

#include "agent/agent_config.h"
#include "fake_time.h"
#include "fake_winhttp_win.h"
#include "test_files.h"
#include "test_log.h"
#include "test_registry_win.h"
#include "transport/file_download_win.h"
#include "transport/transfer_rules.h"
#include "transport/upload_win.h"

namespace vx {
namespace {

using test::FakeResponse;
using test::FakeWinHttp;
using test::Part;

const std::string kSettingsKey = std::string(test::kTestAgentRootKey) + "\\Settings";
const std::string kMetadataKey = std::string(test::kTestAgentRootKey) + "\\FileMetaData";
constexpr const wchar_t* kLastModified = L"Thu, 19 May 2022 00:00:00 GMT";
constexpr std::size_t kLength = 10000;
constexpr DWORD kCodes[] = {ERROR_WINHTTP_TIMEOUT, ERROR_WINHTTP_CONNECTION_ERROR, ERROR_WINHTTP_INVALID_SERVER_RESPONSE};

// Passes every call on to the fake, except the one whose turn it is to fail.
struct Injector {
  static inline const WinHttpApi* inner = nullptr;
  static inline int calls = 0;
  static inline int fail_at = -1;
  static inline DWORD code = 0;
  static inline bool injected = false;  // the last call was the failed one

  static bool Fail() {
    injected = calls++ == fail_at;
    return injected;
  }
  static HINTERNET WINAPI Open(LPCWSTR a, DWORD b, LPCWSTR c, LPCWSTR d, DWORD e) {
    return Fail() ? nullptr : inner->open(a, b, c, d, e);
  }
  static HINTERNET WINAPI Connect(HINTERNET a, LPCWSTR b, INTERNET_PORT c, DWORD d) {
    return Fail() ? nullptr : inner->connect(a, b, c, d);
  }
  static HINTERNET WINAPI OpenRequest(HINTERNET a, LPCWSTR b, LPCWSTR c, LPCWSTR d, LPCWSTR e, LPCWSTR* f, DWORD g) {
    return Fail() ? nullptr : inner->open_request(a, b, c, d, e, f, g);
  }
  static BOOL WINAPI AddHeaders(HINTERNET a, LPCWSTR b, DWORD c, DWORD d) {
    return Fail() ? FALSE : inner->add_request_headers(a, b, c, d);
  }
  static BOOL WINAPI SetOption(HINTERNET a, DWORD b, LPVOID c, DWORD d) {
    return Fail() ? FALSE : inner->set_option(a, b, c, d);
  }
  static BOOL WINAPI QueryOption(HINTERNET a, DWORD b, LPVOID c, LPDWORD d) {
    return Fail() ? FALSE : inner->query_option(a, b, c, d);
  }
  static BOOL WINAPI Send(HINTERNET a, LPCWSTR b, DWORD c, LPVOID d, DWORD e, DWORD f, DWORD_PTR g) {
    return Fail() ? FALSE : inner->send_request(a, b, c, d, e, f, g);
  }
  static BOOL WINAPI Write(HINTERNET a, LPCVOID b, DWORD c, LPDWORD d) {
    return Fail() ? FALSE : inner->write_data(a, b, c, d);
  }
  static BOOL WINAPI Receive(HINTERNET a, LPVOID b) { return Fail() ? FALSE : inner->receive_response(a, b); }
  static BOOL WINAPI QueryHeaders(HINTERNET a, DWORD b, LPCWSTR c, LPVOID d, LPDWORD e, LPDWORD f) {
    return Fail() ? FALSE : inner->query_headers(a, b, c, d, e, f);
  }
  static BOOL WINAPI Available(HINTERNET a, LPDWORD b) { return Fail() ? FALSE : inner->query_data_available(a, b); }
  static BOOL WINAPI Read(HINTERNET a, LPVOID b, DWORD c, LPDWORD d) {
    return Fail() ? FALSE : inner->read_data(a, b, c, d);
  }
  static BOOL WINAPI Close(HINTERNET a) { return inner->close_handle(a); }
  static DWORD WINAPI LastError() { return injected ? code : inner->last_error(); }

  static WinHttpApi Table() {
    return WinHttpApi{&Open,    &Connect, &OpenRequest,  &AddHeaders, &SetOption, &QueryOption, &Send,
                      &Write,   &Receive, &QueryHeaders, &Available,  &Read,      &Close,       &LastError};
  }
};

enum Driver { kWhole, kRateLimited, kResumable, kRateLimitedResumable, kGetData, kPost, kDrivers };
constexpr const char* kDriverNames[kDrivers] = {"whole", "rate-limited", "resumable", "rate-limited resumable",
                                                "GET_DATA", "post"};

FakeResponse Whole(const std::string& file) {
  FakeResponse response;
  response.headers = {{L"Content-Length", std::to_wstring(file.size())}, {L"Last-Modified", kLastModified}};
  response.body = file;
  return response;
}

class Torture : public ::testing::Test {
 protected:
  Torture() : time_override_(time_) {
    parameters_.protocol = "http";
    parameters_.server = L"server.example";
    parameters_.port = 80;
    destination_ = (directory_.path() / "out" / "file.bin").wstring();
  }

  // One run of a driver against a fresh fake and a clean machine, with call fail_at failing.
  int Run(Driver driver, int fail_at, DWORD code, FakeWinHttp& fake) {
    ResetAgentParameters();
    gv_installDir = (directory_.path() / "agent").string() + "\\";
    gv_tempDir = directory_.str();
    gv_dataTransferRateKBps = 10;  // blocks of 5000 bytes
    EXPECT_TRUE(test::DeleteTree(test::kTestNorvaneKey, test::kView32));
    test::SetDword(kSettingsKey.c_str(), "DownloadMode", driver == kResumable || driver == kRateLimitedResumable);
    std::filesystem::remove_all(directory_.path() / "agent");
    std::filesystem::create_directories(directory_.path() / "agent");
    std::filesystem::remove_all(directory_.path() / "out");
    const bool blocks = driver == kRateLimited || driver == kRateLimitedResumable;
    FakeResponse first = Whole(file_);
    if (driver == kRateLimited) first.body.clear();  // the HEAD probe
    fake.Add(first);
    if (blocks) {
      fake.Add(Part(file_, 0, 5000, 0, kLastModified));
      fake.Add(Part(file_, 5000, 5000, 0, kLastModified));
    } else if (driver == kResumable) {
      fake.Add(Part(file_, 0, kLength, 0, kLastModified));
    }
    fake.Add(Whole(file_));  // for a start-over or a recovery

    const WinHttpApi table = (Injector::inner = &WinHttp(), Injector::Table());
    Injector::calls = 0;
    Injector::fail_at = fail_at;
    Injector::code = code;
    Injector::injected = false;
    const ScopedWinHttpOverride inject(table);
    text_.clear();
    const wchar_t* path = L"/f/file.bin";
    switch (driver) {
      case kWhole:
      case kResumable:
        return InternetGetRequestEx(parameters_, path, destination_.c_str(), &text_, DOWNLOAD_FILE, 1, 0);
      case kRateLimited:
      case kRateLimitedResumable:
        return InternetGetRequestByBitrate(parameters_, path, destination_.c_str(), &text_, DOWNLOAD_FILE, 1);
      case kGetData:
        return InternetGetRequestEx(parameters_, path, destination_.c_str(), &text_, GET_DATA, 1, 0);
      default:
        return InternetSendRequestEx(parameters_, path, "the post", &text_, POST_DATA, 1, 0);
    }
  }

  void CheckInvariants(Driver driver, int result, const FakeWinHttp& fake) {
    EXPECT_EQ(fake.OpenHandles(), 0) << "a handle stays open";
    if (driver == kPost) return;
    if (result == 0) {
      const std::string expected = driver == kGetData ? TextFromDownloadedBytes(file_) : file_;
      EXPECT_TRUE((driver == kGetData ? text_ : test::ReadWholeFile(destination_)) == expected) << "not the file";
    } else {
      EXPECT_FALSE(std::filesystem::exists(destination_)) << "a failure handed a destination over";
      EXPECT_TRUE(text_.empty()) << "a failure handed data over";
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory_.path())) {
      if (!entry.is_regular_file() || entry.path() == std::filesystem::path(destination_)) continue;
      if (entry.path().parent_path().filename() == "logs") continue;
      const std::string key = kMetadataKey + "\\" + entry.path().filename().string();
      const auto size = test::GetValue(key.c_str(), "PartialFileSize");
      ASSERT_TRUE(size && size->bytes.size() == 4) << entry.path() << " is left behind without a record";
      DWORD recorded = 0;
      std::memcpy(&recorded, size->bytes.data(), 4);
      const std::string bytes = test::ReadWholeFile(entry.path());
      EXPECT_EQ(bytes.size(), recorded) << entry.path();
      EXPECT_EQ(file_.compare(0, bytes.size(), bytes), 0) << entry.path();
    }
  }

  test::ScopedCleanRegistry registry_;
  test::ScopedTestLog log_{2};
  test::TempDirectory directory_;
  test::FakeTime time_;
  ScopedTimeSourceOverride time_override_;
  ConnectionParameters parameters_;
  std::wstring destination_;
  std::string text_;
  const std::string file_ = test::PatternBytes(kLength);
};

TEST_F(Torture, EveryFallibleCallFailsOnceInTurn) {
  int injected = 0;
  for (int column = 0; column < kDrivers; ++column) {
    const Driver driver = static_cast<Driver>(column);
    int calls = 0;
    {
      FakeWinHttp fake;
      const int result = Run(driver, -1, 0, fake);
      calls = Injector::calls;
      EXPECT_EQ(result, 0) << kDriverNames[driver] << ": without failures";
      CheckInvariants(driver, result, fake);
    }
    for (int fail_at = 0; fail_at < calls; ++fail_at) {
      const DWORD code = kCodes[fail_at % 3];
      SCOPED_TRACE(std::string(kDriverNames[driver]) + ": call " + std::to_string(fail_at) + " fails with " +
                   std::to_string(code));
      FakeWinHttp fake;
      const int result = Run(driver, fail_at, code, fake);
      CheckInvariants(driver, result, fake);
      ++injected;
    }
  }
  std::cout << "injected failures: " << injected << "\n";
  EXPECT_GT(injected, 100);
}

}  // namespace
}  // namespace vx
