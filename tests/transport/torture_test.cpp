// The torture run: every fallible WinHTTP call that a driver makes fails once, in turn, through the
// WinHTTP seam (time-outs, lost connections, invalid answers), and the download invariants hold in
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
using test::FakeResponse;
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

    const WinHttpApi table = (Injector::inner = &WinHttp(), Injector::Table());
    Injector::calls = 0;
    Injector::fail_at = fail_at;
    Injector::code = code;
    Injector::injected = false;
    const ScopedWinHttpOverride inject(table);
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
