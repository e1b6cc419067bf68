// The torture run: every fallible WinHTTP call that a driver makes fails once, in turn, in the
// scripted WinHTTP (time-outs, lost connections, invalid answers), and the download invariants hold in
// every run: result 0 means the destination is exactly the file, any other result means nothing was
// handed over, only recorded partial files of the file's bytes are left, and every handle that was
// opened is closed.
#include <gtest/gtest.h>

#include <iostream>

#include "fake_winhttp_win.h"
#include "transport/transfer_rules.h"
#include "transport_test_win.h"

namespace vx {
namespace {

using test::Driver;
using test::FakeWinHttp;
using test::kDriverNames;
using test::kGetData;
using test::kPost;
using test::kRateLimited;
using test::kRateLimitedResumable;
using test::kResumable;
using test::Part;

constexpr const wchar_t* kLastModified = L"Thu, 19 May 2022 00:00:00 GMT";
constexpr std::size_t kLength = 10000;
constexpr DWORD kCodes[] = {ERROR_WINHTTP_TIMEOUT, ERROR_WINHTTP_CONNECTION_ERROR, ERROR_WINHTTP_INVALID_SERVER_RESPONSE};

class Torture : public test::DriverRuns {
 protected:
  Torture() : DriverRuns(2) {}

  // One run of a driver against a fresh fake and a clean machine, with call fail_at failing.
  int Run(Driver driver, int fail_at, DWORD code, FakeWinHttp& fake) {
    StartRun(driver, 10);  // blocks of 5000 bytes
    // The rate-limited download's HEAD probe, or the first answer.
    fake.Add(test::Answer(200, driver == kRateLimited ? "" : file_, kLength, kLastModified));
    if (driver == kRateLimited || driver == kRateLimitedResumable) {
      fake.Add(Part(file_, 0, 5000, 0, kLastModified));
      fake.Add(Part(file_, 5000, 5000, 0, kLastModified));
    } else if (driver == kResumable) {
      fake.Add(Part(file_, 0, kLength, 0, kLastModified));
    }
    fake.Add(test::Answer(200, file_, kLength, kLastModified));  // for a start-over or a recovery

    fake.fail_call = fail_at;
    fake.fail_code = code;
    return DriverRuns::Run(driver, L"/f/file.bin");
  }

  void CheckInvariants(Driver driver, int result, const FakeWinHttp& fake) {
    EXPECT_EQ(fake.OpenHandles(), 0) << "a handle stays open";
    if (driver == kPost) return;
    const std::string expected = driver == kGetData ? TextFromDownloadedBytes(file_) : file_;
    CheckRun(
        driver, result, [&](const std::string& bytes) { return bytes == expected; }, kLength, {&file_}, "/f/file.bin");
  }

  const std::string file_ = test::PatternBytes(kLength);
};

TEST_F(Torture, EveryFallibleCallFailsOnceInTurn) {
  int injected = 0;
  for (int column = 0; column <= kPost; ++column) {
    const Driver driver = static_cast<Driver>(column);
    int calls = 0;
    {
      FakeWinHttp fake;
      const int result = Run(driver, -1, 0, fake);
      calls = fake.Calls();
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
