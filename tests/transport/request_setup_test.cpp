// Request set-up against the scripted WinHTTP: options and headers, the retry policy and the
// reopen, header failures, proxy credentials and 407.
#include <gtest/gtest.h>

#include "agent/os_name.h"
#include "fake_winhttp_win.h"
#include "transport/request_setup_win.h"
#include "transport/transport_error_texts.h"
#include "transport_test_win.h"

namespace vx {
namespace {

using test::Answer;
using test::Failing;
using test::FakeResponse;
using test::FakeWinHttp;

class RequestSetup : public test::TransportTest {
 protected:
  RequestSetup() {
    gv_httpConnectionTimeout = 30000;
    gv_httpRequestTimeout = 60000;
    parameters_.port = 8080;
  }

  // A request on fresh handles (the last ones closed by the test).
  int Run(int request_type = DOWNLOAD_FILE, unsigned char accept_gzip = 0, unsigned char keep_alive = 1) {
    handles_ = RequestHandles{};
    return GetInternetRequestHandle(parameters_, L"/files/a.bin", request_type, keep_alive, handles_, accept_gzip);
  }

  FakeWinHttp fake_;
  RequestHandles handles_;
};

TEST_F(RequestSetup, RetryPolicy) {
  struct Case {
    const char* name;
    std::vector<FakeResponse> responses;
    int expected_result;
    std::size_t expected_sessions;
    std::size_t expected_pauses;
  };
  const Case cases[] = {
      {"resend three times", {Failing({}, {12032, 12032, 12032})}, 0, 1, 3},
      // The fifth failed attempt ends the loop; the header query then fails on the unanswered request.
      {"resend five times",
       {Failing({}, {12032, 12032, 12032, 12032, 12032})},
       ERROR_WINHTTP_INCORRECT_HANDLE_STATE,
       1,
       5},
      {"login failure on send reopens once", {Failing({12015}), Answer(200)}, 0, 2, 0},
      {"cancelled twice fails", {Failing({12017}), Failing({12017})}, 12017, 2, 0},
      {"invalid response reopens, then counts", {Failing({}, {12152}), Failing({}, {12152})}, 0, 2, 0},
      {"login failure on receive reopens", {Failing({}, {12015}), Answer(204)}, 0, 2, 0},
      {"other receive failure ends", {Failing({}, {12030})}, 12030, 1, 0},
      {"other send failure ends", {Failing({12029})}, 12029, 1, 0},
  };
  for (const Case& c : cases) {
    FakeWinHttp fake;
    test::FakeTime time;
    ScopedTimeSourceOverride time_override(time);
    for (const FakeResponse& response : c.responses) fake.Add(response);
    RequestHandles handles;
    EXPECT_EQ(GetInternetRequestHandle(parameters_, L"/a", DOWNLOAD_FILE, 1, handles, 0), c.expected_result) << c.name;
    EXPECT_EQ(static_cast<std::size_t>(fake.Sessions()), c.expected_sessions) << c.name;
    EXPECT_EQ(time.Sleeps(), std::vector<std::uint32_t>(c.expected_pauses, 5000)) << c.name;
    CloseRequestHandles(handles);
    EXPECT_EQ(fake.OpenHandles(), 0) << c.name << ": the first chain is closed when reopening";
  }
}

TEST_F(RequestSetup, PlainGetDataRequestGetsTimeoutsAndNoSecurityOptions) {
  fake_.Add(Answer(200));
  ASSERT_EQ(Run(GET_DATA, 1, 0), 0);
  EXPECT_EQ(handles_.status, 200u);
  const test::FakeRequest& request = fake_.Requests().at(0);
  EXPECT_EQ(request.verb, L"GET");
  EXPECT_EQ(request.flags, static_cast<DWORD>(WINHTTP_FLAG_REFRESH));
  EXPECT_EQ(request.access_type, static_cast<DWORD>(WINHTTP_ACCESS_TYPE_NO_PROXY));
  EXPECT_EQ(request.added_headers, std::vector<std::wstring>{L"Connection: close"});
  EXPECT_EQ(request.number_options.at(WINHTTP_OPTION_CONNECT_TIMEOUT), 30000u);
  EXPECT_EQ(request.number_options.at(WINHTTP_OPTION_RECEIVE_TIMEOUT), 60000u);
  EXPECT_EQ(request.number_options.at(WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT), 60000u);
  EXPECT_EQ(request.number_options.count(WINHTTP_OPTION_SECURITY_FLAGS), 0u);
  EXPECT_EQ(request.send_headers, std::vector<std::wstring>{L"Accept-Encoding: gzip"});
  EXPECT_TRUE(fake_.SessionOptions().empty());
}

TEST_F(RequestSetup, HttpsInAnyCaseIgnoresTheFourCertificateErrors) {
  parameters_.protocol = "HTTPS";
  fake_.Add(Answer(200));
  ASSERT_EQ(Run(DOWNLOAD_FILE), 0);
  const test::FakeRequest& request = fake_.Requests().at(0);
  EXPECT_EQ(request.flags, static_cast<DWORD>(WINHTTP_FLAG_REFRESH | WINHTTP_FLAG_SECURE));
  EXPECT_EQ(request.number_options.at(WINHTTP_OPTION_SECURITY_FLAGS), 0x8u | 0x3300u);
  EXPECT_EQ(request.number_options.count(WINHTTP_OPTION_CONNECT_TIMEOUT), 0u);  // only GET_DATA
  EXPECT_EQ(request.send_headers, std::vector<std::wstring>{L""});
  // The TLS versions are only set on the Windows 7/8 family.
  const auto tls = fake_.SessionOptions().find(WINHTTP_OPTION_SECURE_PROTOCOLS);
  if (isWin7orWin8()) {
    ASSERT_NE(tls, fake_.SessionOptions().end());
    EXPECT_EQ(tls->second, 0xA80u);
  } else {
    EXPECT_EQ(tls, fake_.SessionOptions().end());
  }
}

// Only an absent pin value means "no pinning"; a strictness value that cannot say "no" asks for
// validation. Values of every type and size, through the real registry.
TEST_F(RequestSetup, CertificateValuesOfAnyTypeAndSizeNeverLoosenTheCheck) {
  using namespace std::string_literals;
  const std::string a(64, 'a');
  std::string colons;  // 43 fingerprints in the colon form: more than 4 KiB
  for (int i = 0; i < 43; ++i) {
    for (int j = 0; j < 32; ++j) colons += j == 0 ? "AA" : ":AA";
    colons += " ";
  }
  struct Case {
    const char* name;
    std::optional<std::pair<DWORD, std::string>> pins;    // type and bytes, or absent
    std::optional<std::pair<DWORD, std::string>> strict;  // the same for the strictness value
    bool pinned;
    std::size_t fingerprints;
    bool validated;
  };
  const Case cases[] = {
      {"nothing set", std::nullopt, std::nullopt, false, 0, false},
      {"REG_SZ", {{REG_SZ, a + "\0"s}}, std::nullopt, true, 1, false},
      {"REG_SZ without its NUL", {{REG_SZ, a}}, std::nullopt, true, 1, false},
      {"REG_SZ of 43 fingerprints", {{REG_SZ, colons + "\0"s}}, std::nullopt, true, 43, false},
      {"REG_EXPAND_SZ", {{REG_EXPAND_SZ, a + "\0"s}}, std::nullopt, true, 1, false},
      {"REG_MULTI_SZ", {{REG_MULTI_SZ, a + "\0"s + a + ";" + a + "\0\0"s}}, std::nullopt, true, 3, false},
      {"REG_BINARY", {{REG_BINARY, std::string(32, '\xaa')}}, std::nullopt, true, 0, false},
      {"REG_DWORD", {{REG_DWORD, "\1\0\0\0"s}}, std::nullopt, true, 0, false},
      {"empty REG_SZ", {{REG_SZ, ""}}, std::nullopt, true, 0, false},
      {"REG_SZ of 100000 bytes", {{REG_SZ, std::string(100000, 'a')}}, std::nullopt, true, 0, false},
      {"strict 0", std::nullopt, {{REG_DWORD, "\0\0\0\0"s}}, false, 0, false},
      {"strict 2", std::nullopt, {{REG_DWORD, "\2\0\0\0"s}}, false, 0, true},
      {"strict as text", std::nullopt, {{REG_SZ, "0\0"s}}, false, 0, true},
      {"strict as REG_QWORD", std::nullopt, {{REG_QWORD, std::string(8, '\0')}}, false, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScopedCleanRegistry clean;
    test::SetDword(test::kTestAgentRootKey, "DownloadMode", 0);  // the key exists
    if (c.pins) test::SetValue(test::kTestAgentRootKey, kCertificatePinsValue, c.pins->first, c.pins->second);
    if (c.strict) test::SetValue(test::kTestAgentRootKey, kStrictCertificateValue, c.strict->first, c.strict->second);
    const CertificatePolicy policy = ReadCertificatePolicy();
    EXPECT_EQ(policy.pin_text.has_value(), c.pinned);
    EXPECT_EQ(policy.pins.size(), c.fingerprints);
    EXPECT_EQ(policy.strict, c.validated);
  }
  // What the request gets is what was done: no ignore flags, and a line that says so.
  test::ScopedCleanRegistry clean;
  test::SetDword(test::kTestAgentRootKey, kStrictCertificateValue, 1);
  parameters_.protocol = "https";
  fake_.Add(Answer(200));
  ASSERT_EQ(Run(DOWNLOAD_FILE), 0);
  EXPECT_EQ(fake_.Requests().at(0).number_options.count(WINHTTP_OPTION_SECURITY_FLAGS), 0u);
  EXPECT_TRUE(log_.Has("[DEBUG]",
                       "GetInternetRequestHandle :  The request validates the server certificate against the trust "
                       "store. "));
  EXPECT_FALSE(log_.Has("[DEBUG]",
                        "GetInternetRequestHandle :  The request is updated with the internet option security flags. "));
}

TEST_F(RequestSetup, RequestKindsChooseTheVerbAndTheExtraHeader) {
  const struct {
    int kind;
    const wchar_t* verb;
    std::vector<std::wstring> headers;
  } cases[] = {
      {kPlainGet, L"GET", {L"Connection: Keep-Alive"}},
      {kGetWithHeader, L"GET", {L"Connection: Keep-Alive", L"Range: bytes=5-9"}},
      {kHead, L"HEAD", {L"Connection: Keep-Alive"}},
  };
  for (const auto& c : cases) {
    FakeWinHttp fake;
    fake.Add(Answer(206));
    RequestHandles handles;
    handles.kind = c.kind;
    handles.extra_header = L"Range: bytes=5-9";
    EXPECT_EQ(GetInternetRequestHandle(parameters_, L"/a", DOWNLOAD_FILE, 1, handles, 0), 0);
    EXPECT_EQ(fake.Requests().at(0).verb, c.verb);
    EXPECT_EQ(fake.Requests().at(0).added_headers, c.headers);
    CloseRequestHandles(handles);
  }
}

TEST_F(RequestSetup, ProxyCredentialsLongerThanOneCharacterAreSet) {
  const struct {
    unsigned char use_proxy;
    const wchar_t* user;
    const wchar_t* password;
    std::map<DWORD, std::wstring> expected;
  } cases[] = {
      {1,
       L"proxyuser",
       L"secret",
       {{WINHTTP_OPTION_PROXY_USERNAME, L"proxyuser"}, {WINHTTP_OPTION_PROXY_PASSWORD, L"secret"}}},
      {1, L"u", L"secret", {}},
      {1, L"proxyuser", L"s", {{WINHTTP_OPTION_PROXY_USERNAME, L"proxyuser"}}},
      {0, L"proxyuser", L"secret", {}},
  };
  for (const auto& c : cases) {
    FakeWinHttp fake;
    fake.Add(Answer(200));
    parameters_.use_proxy = c.use_proxy;
    parameters_.proxy_server = L"proxy.example:3128";
    parameters_.proxy_user = c.user;
    parameters_.proxy_password = c.password;
    RequestHandles handles;
    EXPECT_EQ(GetInternetRequestHandle(parameters_, L"/a", DOWNLOAD_FILE, 1, handles, 0), 0);
    const test::FakeRequest& request = fake.Requests().at(0);
    EXPECT_EQ(request.text_options, c.expected) << c.user << " " << c.password;
    EXPECT_EQ(request.access_type, c.use_proxy ? static_cast<DWORD>(WINHTTP_ACCESS_TYPE_NAMED_PROXY)
                                               : static_cast<DWORD>(WINHTTP_ACCESS_TYPE_NO_PROXY));
    EXPECT_EQ(request.proxy, c.use_proxy ? L"proxy.example:3128" : L"");
    CloseRequestHandles(handles);
  }
}

TEST_F(RequestSetup, StatusesAndFailuresReachTheCaller) {
  // 407 is reported as such, with the handles left open for the caller.
  fake_.Add(Answer(407));
  EXPECT_EQ(Run(), 407);
  EXPECT_EQ(fake_.OpenHandles(), 3);
  EXPECT_TRUE(log_.Has("[ERROR]", "GetInternetRequestHandle : Proxy Credentials are failed to authenticate 407 "));
  CloseRequestHandles(handles_);

  // Any other status is the caller's to judge.
  fake_.Add(Answer(500));
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(handles_.status, 500u);
  CloseRequestHandles(handles_);

  // A header that cannot be added does not stop the exchange, but is the result.
  fake_.add_header_errors = {ERROR_WINHTTP_HEADER_ALREADY_EXISTS};
  fake_.Add(Answer(200));
  EXPECT_EQ(Run(), ERROR_WINHTTP_HEADER_ALREADY_EXISTS);
  EXPECT_EQ(handles_.status, 200u);
  EXPECT_TRUE(log_.Has("[ERROR]", "GetInternetRequestHandle :  Error in WinHttpAddRequestHeaders --> 12155 "));
  CloseRequestHandles(handles_);

  // A connection that cannot be made closes the session.
  fake_.connect_errors = {ERROR_WINHTTP_INVALID_URL};
  EXPECT_EQ(Run(), ERROR_WINHTTP_INVALID_URL);
  EXPECT_EQ(fake_.OpenHandles(), 0);
  EXPECT_TRUE(log_.Has("[ERROR]", "GetInternetRequestHandle :  Error in WinHttpConnect --> 12005 "));
  EXPECT_TRUE(log_.Has("[ERROR]", "HttpGetLastError: The URL is invalid."));

  // An option that cannot be set ends the call with the handles open.
  fake_.option_errors[WINHTTP_OPTION_CONNECT_TIMEOUT] = ERROR_WINHTTP_INCORRECT_HANDLE_TYPE;
  fake_.Add(Answer(200));
  EXPECT_EQ(Run(GET_DATA), ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
  EXPECT_EQ(fake_.OpenHandles(), 3);
  CloseRequestHandles(handles_);
  EXPECT_EQ(fake_.OpenHandles(), 0);
}

TEST_F(RequestSetup, LastModifiedIsCopiedOrItsAbsenceReported) {
  FakeResponse response = Answer(200);
  response.headers = {{L"Last-Modified", L"Tue, 08 Dec 2026 09:00:00 GMT"}};
  fake_.Add(response);
  fake_.Add(Answer(200));
  ASSERT_EQ(Run(), 0);
  std::wstring modified = L"untouched";
  EXPECT_EQ(GetFilelastmodifiedTime(handles_.request.get(), modified), 0);
  EXPECT_EQ(modified, L"Tue, 08 Dec 2026 09:00:00 GMT");
  CloseRequestHandles(handles_);

  ASSERT_EQ(Run(), 0);
  modified = L"untouched";
  EXPECT_EQ(GetFilelastmodifiedTime(handles_.request.get(), modified), ERROR_WINHTTP_HEADER_NOT_FOUND);
  EXPECT_EQ(modified, L"untouched");
  CloseRequestHandles(handles_);
}

TEST(TransportErrorText, OtherCodesFallBackToTheSystemText) {
  test::ScopedTestLog log;
  HttpGetLastError(12002);
  HttpGetLastError(2);
  const std::vector<std::string> messages = log.Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], "[ERROR] HttpGetLastError: The request has timed out.");
  EXPECT_NE(messages[1].find("Error Code : 2 , Error Message : "), std::string::npos) << messages[1];
}

}  // namespace
}  // namespace vx
