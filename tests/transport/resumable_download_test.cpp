// Resumable downloads with the real WinHTTP under Wine against the test server: resuming after an
// interruption, what makes a partial file start over, the in-progress mark, the failure counters,
// the access logs; and, against the scripted WinHTTP, the recoveries the server cannot produce.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>

#include "agent/file_utils.h"
#include "base/unique_handle_win.h"
#include "fake_winhttp_win.h"
#include "transport/download_resume_handler_win.h"
#include "transport_test_win.h"

namespace vx {
namespace {

constexpr std::size_t kFileSize = 300000;
constexpr std::size_t kCut = 100000;  // where the first attempt's connection is closed

using test::kMetadataKey;
using test::kSettingsKey;
using test::Wide;

// A value of the agent's keys by the key's path.
std::optional<DWORD> Dword(const std::string& key, const char* name) { return test::GetDword(key.c_str(), name); }
std::string Text(const std::string& key, const char* name) {
  return test::GetText(key.c_str(), name).value_or("<absent>");
}

// Holds the named object by which a running download claims its id: as another download of the
// agent's account would (its owner stated), or as an object of unknown origin (no owner, as Wine
// creates objects by default).
UniqueHandle HoldId(const std::string& id, bool by_the_agent = true) {
  unsigned char owner[256] = {};
  DWORD size = 0;
  HANDLE token = nullptr;
  SECURITY_DESCRIPTOR descriptor{};
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, FALSE};
  if (by_the_agent && ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
    const UniqueHandle owned_token(token);
    if (::GetTokenInformation(token, TokenOwner, owner, sizeof(owner), &size) &&
        ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
        ::SetSecurityDescriptorOwner(&descriptor, reinterpret_cast<TOKEN_OWNER*>(owner)->Owner, FALSE)) {
      attributes.lpSecurityDescriptor = &descriptor;
    }
  }
  return UniqueHandle(::CreateMutexW(&attributes, FALSE, (L"Global\\VXAgentResumableDownload-" + Wide(id)).c_str()));
}

// Pacing and the mark's age go through the clock seam, never waited for.
class Resumable : public test::DriverRuns {
 protected:
  Resumable() : server_(test::CurrentTestName()), url_(server_.UrlPath("file.bin")) {
    ConnectTo(server_);
    StartRun(test::kResumable, 100);  // blocks of 50000 bytes
  }

  void SetUp() override {
    if (!server_.Available()) GTEST_SKIP() << "no test server: run through CTest (fixture vx_test_server)";
    server_.WriteFile("file.bin", file_);
  }

  // A clean machine for the next case of a table: no metadata, counters, logs or files.
  void StartCase() {
    StartRun(test::kResumable, 100);
    server_.WriteFile("file.bin", file_);
    server_.WriteScript(R"({"rules": []})");
  }

  int Download(bool rate_limited = false, int type = DOWNLOAD_FILE) {
    text_.clear();
    const std::wstring path = Wide(url_);
    return rate_limited ? InternetGetRequestByBitrate(parameters_, path.c_str(), destination_.c_str(), &text_, type, 1)
                        : InternetGetRequestEx(parameters_, path.c_str(), destination_.c_str(), &text_, type, 1, 1);
  }

  // The first attempt: the server closes the connection after kCut bytes of the ranged answer.
  void Interrupt() {
    server_.WriteScript(R"({"rules": [{"count": 1}, {"count": 1, "close_after": 100000}]})");
    ASSERT_EQ(Download(), kLengthMismatch);
    ASSERT_EQ(Id().empty(), false);
    ASSERT_EQ(Dword(IdKey(), "PartialFileSize"), kCut);
    ASSERT_EQ(std::filesystem::file_size(PartialFile()), kCut);
    server_.WriteScript(R"({"rules": []})");
    first_requests_ = server_.Requests().size();
  }

  // The Range header of each request made after the first attempt ("-" for none).
  std::vector<std::string> LaterRanges() const {
    std::vector<std::string> ranges;
    const auto requests = server_.Requests();
    for (std::size_t i = first_requests_; i < requests.size(); ++i) {
      ranges.push_back(requests[i].Header("Range").value_or("-"));
    }
    return ranges;
  }

  std::string Id() const { return Text(kMetadataKey, url_.c_str()); }
  std::string IdKey() const { return kMetadataKey + "\\" + Id(); }
  std::filesystem::path Repository() const { return install_dir_ / "DownloadRepository"; }
  std::filesystem::path PartialFile() const { return Repository() / Id(); }
  std::string Destination() const { return test::ReadWholeFile(destination_); }
  // The entries of an access log (the lines that name a mode).
  std::vector<std::string> AccessLog(const char* name) const {
    const auto path = install_dir_ / "logs" / name;
    std::vector<std::string> entries;
    if (!std::filesystem::exists(path)) return entries;
    for (const std::string& line : test::SplitLines(test::ReadWholeFile(path))) {
      if (line.find("\tDownloadFile\t") != std::string::npos || line.find("\t     GetData\t") != std::string::npos) {
        entries.push_back(line);
      }
    }
    return entries;
  }
  // Neither the URL's id nor any partial file is left.
  void ExpectNothingLeft() const {
    EXPECT_FALSE(test::GetValue(kMetadataKey.c_str(), url_.c_str())) << Id();
    EXPECT_EQ(test::FileNamesIn(Repository()), std::vector<std::string>{});
  }

  test::TestServerNamespace server_;
  std::string url_;
  std::string file_ = test::PatternBytes(kFileSize);
  std::size_t first_requests_ = 0;
};

TEST_F(Resumable, InterruptedDownloadIsCountedAndResumedFromTheRecordedSize) {
  Interrupt();
  // The first attempt (its bytes kept, as Interrupt checks): its failure counted, its metadata kept,
  // the mark cleared.
  EXPECT_NE(Text(IdKey(), "LastModifiedTime"), "<absent>");
  EXPECT_EQ(Dword(IdKey(), "RetryCount"), 1u);
  EXPECT_FALSE(test::GetValue(IdKey().c_str(), "downloadInProgress"));
  EXPECT_EQ(Dword(kMetadataKey, "DownloadFailureCount"), 1u);
  const std::string tracking = std::string(test::kTestAgentRootKey) + "\\ZRTracking";
  EXPECT_EQ(Dword(tracking + "\\ResumeDownloadDetails", "RESUME_DOWNLOAD_FAILURE_COUNT"), 1u);
  EXPECT_EQ(Dword(tracking, "LastZRDataModifiedTime"), static_cast<DWORD>(time_.UnixSeconds()));
  std::string error_text = test::ReadWholeFile(install_dir_ / "logs" / "vxerror.log");
  std::erase(error_text, '\r');
  const auto error_log = test::SplitLines(error_text);
  ASSERT_GE(error_log.size(), 2u);
  EXPECT_EQ(error_log[0], LongDateTimeText());
  EXPECT_EQ(error_log[1], "\tResume Download failed with error code : 0 and total failed count value = 1");
  const std::string failure_log = test::ReadWholeFile(install_dir_ / "logs" / "downloadFailureAccess.log");
  EXPECT_EQ(failure_log.rfind("DATE\t\t\tSTART_TIME\t", 0), 0u);
  const auto failures = AccessLog("downloadFailureAccess.log");
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_NE(failures[0].find("\t    300000\t  707\t    100000\t"), std::string::npos) << failures[2];

  ASSERT_EQ(Download(), 0);
  EXPECT_EQ(LaterRanges(), (std::vector<std::string>{"-", "bytes=100000-300000"}));
  EXPECT_TRUE(log_.Has("[ERROR]", "ResumeGetRequestEx: Content-Range Header message: Range: bytes=100000-300000"));
  EXPECT_TRUE(Destination() == file_);
  ExpectNothingLeft();
  const auto successes = AccessLog("downloadSuccessAccess.log");
  ASSERT_EQ(successes.size(), 1u);
  EXPECT_NE(successes[0].find("DownloadFile\t    300000\t    0\t    300000\t"), std::string::npos) << successes[0];
  EXPECT_EQ(AccessLog("downloadFailureAccess.log").size(), 1u);
}

// A partial file that is not the server's file any more, or whose range the server can never serve,
// is dropped and the same call starts over from byte 0: no URL stays undownloadable. A file replaced
// between two ranges of one download, whatever the server does with If-Range, ends as one whole
// version, never a mix of two (the same-length replacements are rows of DownloadMatrix).
TEST_F(Resumable, PartialFileThatNoLongerMatchesStartsOver) {
  // Another version and a partial file shorter than its record are rows of the portable resume table.
  enum Change { kNone, kRateZero, kShorterServerFile };
  struct Case {
    const char* name;
    Change change;
    bool rate_limited;
    const char* script;
    std::vector<std::string> ranges;           // asked for after the interrupted attempt; none: not checked
    const std::string* replacement = nullptr;  // v2.bin, which the script puts in the file's place
    DWORD mode = 1;                            // "DownloadMode"
    bool interrupted = true;                   // else the download is the first
  };
  const std::string refuse = R"([{"count": 1}, {"count": 1, "status": 416}])";
  const std::string whole = R"([{"count": 1}, {"ignore_range": true}])";
  // The rate-limited download is replaced before its second block, the resumed one before its range.
  const std::string replace_block =
      R"([{"count": 2}, {"count": 1, "replace_with": "v2.bin", "ignore_if_range": true}])";
  const std::string replace_range = R"([{"count": 1}, {"count": 1, "replace_with": "v2.bin"}])";
  const std::string replace_range_anyway =
      R"([{"count": 1}, {"count": 1, "replace_with": "v2.bin", "ignore_if_range": true}])";
  const std::string same_length = test::PatternBytes(kFileSize + 1).substr(1);
  const std::string longer = std::string(kFileSize + 7000, 'L');
  const Case cases[] = {
      // The resumed range is answered with the whole file, which replaces the partial file.
      {"whole file sent for the range", kNone, false, whole.c_str(), {"-", "bytes=100000-300000"}},
      {"416 to the rest", kNone, false, refuse.c_str(), {"-", "bytes=100000-300000", "-", "bytes=0-300000"}},
      // A rate of 0 asks for a block that ends one byte before it starts.
      {"rate 0 with a partial file", kRateZero, true, "[]", {"-", "bytes=100000-99999", "-", "bytes=0-300000"}},
      {"recorded size beyond a new, shorter length", kShorterServerFile, false, "[]", {"-", "bytes=0-60000"}},
      {"the same, rate-limited", kShorterServerFile, true, "[]", {"-", "bytes=0-49999", "bytes=50000-60000"}},
      {"rate-limited, new total in Content-Range", kNone, true, replace_block.c_str(), {}, &longer, 0, false},
      {"resumable rate-limited, new total in Content-Range", kNone, true, replace_block.c_str(), {}, &longer, 1, false},
      {"resumed range, new version sent whole for If-Range", kNone, false, replace_range.c_str(), {}, &same_length},
      {"resumed range, new total in Content-Range", kNone, false, replace_range_anyway.c_str(), {}, &longer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartCase();
    test::SetDword(kSettingsKey.c_str(), "DownloadMode", c.mode);
    server_.SetLastModified("file.bin", 1600000000);
    if (c.interrupted) Interrupt();
    const std::string expected = c.replacement != nullptr         ? *c.replacement
                                 : c.change == kShorterServerFile ? file_.substr(0, 60000)
                                                                  : file_;
    if (c.change == kShorterServerFile) {
      server_.WriteFile("file.bin", expected);
      server_.SetLastModified("file.bin", 1600000000);
    }
    if (c.replacement != nullptr) server_.WriteFile("v2.bin", *c.replacement);
    gv_dataTransferRateKBps = c.change == kRateZero ? 0 : 100;
    server_.WriteScript(std::string(R"({"rules": )") + c.script + "}");
    ASSERT_EQ(Download(c.rate_limited), 0);
    if (!c.ranges.empty()) {
      EXPECT_EQ(LaterRanges(), c.ranges);
    }
    EXPECT_TRUE(Destination() == expected) << Destination().size();
    ExpectNothingLeft();
  }
}

// A running download's id is its own; partial files are recorded or removed: a temporary download's
// file goes with it, and a file that no metadata records and no running download holds is removed.
TEST_F(Resumable, InProgressMarkAndUnrecordedFiles) {
  enum Holder { kNone, kAgent, kUnknownOrigin };
  struct Case {
    const char* name;
    Holder held;                   // who holds the id's object
    int age_minutes;               // of the mark's last append
    bool resumed;                  // the download continues the partial file
    bool original_kept;            // the first attempt's partial file and metadata are still there afterwards
    const char* stray = nullptr;   // an unrecorded file in the repository
    Holder stray_held = kNone;     // who holds the stray's object
    bool stray_open = false;       // a running download has it open (without named objects)
    bool temporary_fails = false;  // the temporary download breaks off
    // The stray's own record, when given, and its "Url": "" none, "/gone/..." a URL without a value
    // (a clean-up that was stopped), "FILE.BIN" the downloaded URL in another case (one value name).
    const char* record_url = nullptr;
  };
  const Case cases[] = {
      {"fresh mark of a running download: a temporary download of its own", kAgent, 10, false, true},
      {"mark of a running download older than 90 minutes: still its own", kAgent, 91, false, true, "998", kAgent},
      {"mark left by a download that ended: resumed", kNone, 10, true, false, "999"},
      {"object of unknown origin, old mark: neither blocks nor holds", kUnknownOrigin, 91, false, false},
      {"a temporary download that fails", kAgent, 10, false, true, nullptr, kNone, false, true},
      {"a file that is no download id is never removed", kNone, 10, true, false, "setup.exe"},
      {"another account's object holds no stray", kNone, 10, true, false, "997", kUnknownOrigin},
      {"a running download's open file is kept", kNone, 10, true, false, "996-2", kNone, true},
      {"a record no URL can find goes with its file", kNone, 10, true, false, "995", kNone, false, false,
       "/gone/file.bin"},
      {"so does one without its URL", kNone, 10, true, false, "994", kNone, false, false, ""},
      {"a held id keeps its record", kNone, 10, true, false, "993", kAgent, false, false, "/gone/file.bin"},
      {"a URL sharing a value name finds its record", kNone, 10, true, false, "992", kNone, false, false, "FILE.BIN"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartCase();
    Interrupt();
    const std::string id = Id();
    const std::filesystem::path partial = PartialFile();
    test::SetDword(IdKey().c_str(), "downloadInProgress", 1);
    const std::int64_t mark_time = time_.UnixSeconds() * 1000 - c.age_minutes * 60000LL;
    test::SetString(IdKey().c_str(), "LastRetryTime", std::to_string(mark_time));
    UniqueHandle holder = c.held != kNone ? HoldId(id, c.held == kAgent) : UniqueHandle();
    UniqueHandle stray_holder = c.stray_held != kNone ? HoldId(c.stray, c.stray_held == kAgent) : UniqueHandle();
    if (c.stray != nullptr) test::WriteWholeFile(Repository() / c.stray, "stray");
    // As a running download holds its partial file: open, shared with nobody who would delete it.
    const UniqueHandle stray_open(c.stray_open ? ::CreateFileW((Repository() / c.stray).c_str(), GENERIC_READ | GENERIC_WRITE,
                                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                               FILE_ATTRIBUTE_NORMAL, nullptr)
                                               : nullptr);
    const std::string stray_key = kMetadataKey + "\\" + (c.stray != nullptr ? c.stray : "");
    const bool shares_the_name = c.record_url != nullptr && std::string(c.record_url) == "FILE.BIN";
    if (c.record_url != nullptr) test::SetDword(stray_key.c_str(), "PartialFileSize", 5);
    if (c.record_url != nullptr && *c.record_url != '\0') {
      const std::string directory = shares_the_name ? url_.substr(0, url_.rfind('/') + 1) : "";
      test::SetString(stray_key.c_str(), "Url", directory + c.record_url);
    }
    const bool stray_kept =
        c.stray != nullptr && (c.stray_held == kAgent || c.stray_open || c.stray[0] == 's' || shares_the_name);
    if (c.temporary_fails) server_.WriteScript(R"({"rules": [{"count": 1}, {"count": 1, "close_after": 5000}]})");
    // The holder's latest append is written but not yet recorded: only its owner may cut it off
    // (every resumed row resumes at the record).
    test::WriteWholeFile(partial, test::ReadWholeFile(partial) + std::string(5000, '?'));

    ASSERT_EQ(Download(), c.temporary_fails ? kLengthMismatch : 0);
    EXPECT_EQ(LaterRanges().back(), c.resumed ? "bytes=100000-300000" : "bytes=0-300000");
    EXPECT_EQ(Destination() == file_, !c.temporary_fails);
    EXPECT_EQ(test::KeyExists((kMetadataKey + "\\" + id).c_str()), c.original_kept);
    EXPECT_EQ(std::filesystem::exists(partial), c.original_kept);
    std::vector<std::string> expected;
    if (c.original_kept) {
      // The running download's id and size are untouched.
      EXPECT_EQ(Id(), id);
      EXPECT_EQ(Dword(kMetadataKey + "\\" + id, "PartialFileSize"), kCut);
      EXPECT_EQ(std::filesystem::file_size(partial), kCut + 5000);
      expected.push_back(id);  // the temporary download's file is gone
    } else if (!stray_kept) {
      ExpectNothingLeft();
    }
    if (stray_kept) expected.push_back(c.stray);
    if (c.record_url != nullptr) {
      EXPECT_EQ(test::KeyExists(stray_key.c_str()), stray_kept);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(test::FileNamesIn(Repository()), expected);
  }
}

TEST_F(Resumable, CompletePartialFileIsHandedOverWithoutARange) {
  Interrupt();
  test::WriteWholeFile(PartialFile(), file_);
  test::SetDword(IdKey().c_str(), "PartialFileSize", kFileSize);
  ASSERT_EQ(Download(), 0);
  EXPECT_EQ(LaterRanges(), std::vector<std::string>{"-"});
  EXPECT_TRUE(Destination() == file_);
  ExpectNothingLeft();
}

// The partial file's size after the interruption is what Interrupt checks.
TEST_F(Resumable, SmallSaveLimitAppendsOftenAndLosesNothing) {
  test::SetDword(kMetadataKey.c_str(), "InterSaveByteLimit", 4096);
  Interrupt();
  ASSERT_EQ(Download(), 0);
  EXPECT_TRUE(Destination() == file_);
  int appends = 0;
  for (const std::string& message : log_.Messages()) appends += message.find("File updated with data.") != std::string::npos;
  EXPECT_GE(appends, static_cast<int>(kFileSize / (64 * 1024)));
}

TEST_F(Resumable, RateLimitedIntoMemory) {
  file_ = std::string(120000, 'x') + "\r\nend";
  server_.WriteFile("file.bin", file_);
  ASSERT_EQ(Download(true, GET_DATA), 0);
  EXPECT_EQ(text_, std::string(120000, 'x') + "\nend");
  EXPECT_EQ(LaterRanges(), (std::vector<std::string>{"-", "bytes=0-49999", "bytes=50000-99999",
                                                     "bytes=100000-120005"}));
  ExpectNothingLeft();
  const auto successes = AccessLog("downloadSuccessAccess.log");
  EXPECT_EQ(successes.size(), 1u);
}

TEST_F(Resumable, XmlAndJsonAreNeverResumable) {
  server_.WriteFile("list.xml", "<a/>");
  url_ = server_.UrlPath("list.xml");
  ASSERT_EQ(Download(), 0);
  EXPECT_EQ(server_.Requests().size(), 1u);
  EXPECT_FALSE(test::KeyExists(kMetadataKey.c_str()));
}

// --- Against the scripted WinHTTP ------------------------------------------------------------------

using test::Broken;
using test::FakeResponse;
using test::FakeWinHttp;
using test::RangesOf;
using test::Script;

constexpr const wchar_t* kLastModified = L"Thu, 19 May 2022 00:00:00 GMT";

// Answers and 206s of the version modified at kLastModified unless told.
FakeResponse Answer(DWORD status, std::string body, std::size_t length, const wchar_t* last_modified = kLastModified) {
  return test::Answer(status, std::move(body), length, last_modified);
}
FakeResponse Piece(const std::string& file, std::size_t first, std::size_t size, std::size_t total = 0,
                   const wchar_t* last_modified = kLastModified) {
  return test::Part(file, first, size, total, last_modified);
}

class ResumableScripted : public test::TransportTest {
 protected:
  ResumableScripted() {
    gv_installDir = directory_.str() + "\\";
    gv_dataTransferRateKBps = 4;  // blocks of 2000 bytes
    test::SetDword(kSettingsKey.c_str(), "DownloadMode", 1);
  }

  int Download(bool rate_limited = false) {
    return rate_limited
               ? InternetGetRequestByBitrate(parameters_, L"/f/file.bin", destination_.c_str(), nullptr, DOWNLOAD_FILE, 1)
               : InternetGetRequestEx(parameters_, L"/f/file.bin", destination_.c_str(), nullptr, DOWNLOAD_FILE, 1, 1);
  }
  std::string IdKey() const { return kMetadataKey + "\\" + Text(kMetadataKey, "/f/file.bin"); }
  // A partial file of size bytes that id 77 records for the URL as 4000 bytes of last_modified's version.
  std::filesystem::path RecordPartial(const std::string& last_modified, std::size_t size = 4000) {
    test::SetString(kMetadataKey.c_str(), "/f/file.bin", "77");
    test::SetDword((kMetadataKey + "\\77").c_str(), "PartialFileSize", 4000);
    test::SetString((kMetadataKey + "\\77").c_str(), "LastModifiedTime", last_modified);
    const std::filesystem::path partial = directory_.path() / "DownloadRepository" / "77";
    std::filesystem::create_directories(partial.parent_path());
    test::WriteWholeFile(partial, std::string(size, '?'));
    return partial;
  }

  FakeWinHttp fake_;
  std::string file_ = test::PatternBytes(10000);
};

// The range that continues a broken connection carries If-Range; an answer of another version or
// another length, or a refusal, starts over from byte 0 with the version the server has now, once.
TEST_F(ResumableScripted, BrokenConnectionIsRecoveredWithAValidatedRangeFromTheBytesReceived) {
  constexpr const wchar_t* kNewer = L"Fri, 20 May 2022 00:00:00 GMT";
  const std::string newer(10000, 'v');
  const std::string longer(12000, 'w');
  struct Case {
    const char* name;
    std::vector<FakeResponse> recovery;
    const std::string* delivered;  // none: the download fails and leaves nothing
    std::vector<std::wstring> ranges = RangesOf(L"0-10000", L"4000-10000");
    DWORD error = ERROR_WINHTTP_TIMEOUT;
    int expected_result = 0;
  };
  // The range refused or not of the recorded version, then the version the server has now, from byte 0.
  const auto over = [](const FakeResponse& refused, const std::string& now, const wchar_t* modified = kLastModified) {
    return Script(refused, Answer(200, "", now.size(), modified), Piece(now, 0, now.size(), 0, modified));
  };
  const auto over_ranges = RangesOf(L"0-10000", L"4000-10000", L"0-10000");
  const auto over_longer = RangesOf(L"0-10000", L"4000-10000", L"0-12000");
  const Case cases[] = {
      {"time-out, the rest appended", Script(Piece(file_, 4000, 6000)), &file_},
      {"connection error, the whole file replaces what was read", Script(Answer(200, file_, 10000)), &file_,
       RangesOf(L"0-10000", L"4000-10000"), ERROR_WINHTTP_CONNECTION_ERROR},
      {"refused range: started over", over(Answer(416, "", 0), file_), &file_, over_ranges,
       ERROR_WINHTTP_CANNOT_CONNECT},
      {"a newer version's bytes: started over with it", over(Piece(newer, 4000, 6000, 0, kNewer), newer, kNewer),
       &newer, over_ranges},
      {"another total: started over with the new length", over(Piece(longer, 4000, 6000), longer), &longer,
       over_longer},
      {"changed again after starting over: a clear failure",
       Script(Piece(longer, 4000, 6000), Answer(200, "", 12000), Piece(file_, 0, 10000)), nullptr, over_longer,
       ERROR_WINHTTP_TIMEOUT, kServerFileChanged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWinHttp fake;
    fake.Add(Answer(200, "", 10000));
    fake.Add(Broken(Piece(file_, 0, 10000), 4000, c.error));
    for (const FakeResponse& answer : c.recovery) fake.Add(answer);
    std::filesystem::remove(destination_);
    EXPECT_EQ(Download(), c.expected_result);
    std::size_t unvalidated = 0;
    EXPECT_EQ(test::RangeLines(fake, &unvalidated), c.ranges);
    EXPECT_EQ(unvalidated, 0u) << "no validator";
    EXPECT_TRUE(c.delivered ? test::ReadWholeFile(destination_) == *c.delivered
                            : !std::filesystem::exists(destination_));
    EXPECT_EQ(fake.OpenHandles(), 0);
  }
}

TEST_F(ResumableScripted, RateLimitedBlockIsRetriedOnceAtOnceThenTheDownloadEnds) {
  fake_.Add(Answer(200, "", 5000));
  fake_.Add(Broken(Piece(file_, 0, 2000, 5000), 1000, ERROR_WINHTTP_TIMEOUT));
  fake_.Add(Broken(Piece(file_, 1000, 2000, 5000), 0, ERROR_WINHTTP_TIMEOUT));
  EXPECT_EQ(Download(true), static_cast<int>(ERROR_WINHTTP_TIMEOUT));
  EXPECT_EQ(test::RangeLines(fake_), (std::vector<std::wstring>{L"Range: bytes=0-1999", L"Range: bytes=1000-2999"}));
  EXPECT_TRUE(time_.Sleeps().empty()) << "a retried block is fetched without a pause";
  // The bytes received are saved and recorded for the next attempt.
  EXPECT_EQ(Dword(IdKey(), "PartialFileSize"), 1000u);
  EXPECT_FALSE(std::filesystem::exists(destination_));
  EXPECT_EQ(fake_.OpenHandles(), 0);
}

TEST_F(ResumableScripted, EmptyFileIsDelivered) {
  fake_.Add(Answer(200, "", 0));
  std::filesystem::create_directories(directory_.path() / "out");
  test::WriteWholeFile(destination_, "old content");
  ASSERT_EQ(Download(), 0);
  EXPECT_EQ(fake_.Requests().size(), 1u);
  EXPECT_EQ(test::ReadWholeFile(destination_), "");
}

// Every way of dropping a partial file resets its record before the file goes. The process is then
// stopped after bytes of the new version were written but before they were recorded, and the old
// version comes back: nothing of the old record may make those bytes look like its own.
TEST_F(ResumableScripted, DroppedPartialFileLeavesNoRecordThatRunsAhead) {
  enum Drop { kServerFileChanged, kShorterThanRecorded, kWholeFileForTheRange };
  const std::string id_key = kMetadataKey + "\\77";
  for (const Drop drop : {kServerFileChanged, kShorterThanRecorded, kWholeFileForTheRange}) {
    SCOPED_TRACE(drop);
    const auto partial = RecordPartial("version A", drop == kShorterThanRecorded ? 3999 : 4000);
    {
      DownloadResumeHandler handler;
      ASSERT_EQ(
          handler.Initialize(destination_, drop == kServerFileChanged ? "version B" : "version A", L"/f/file.bin"), 0);
      if (drop == kWholeFileForTheRange) handler.StartOver();
      EXPECT_EQ(handler.ResumeOffset(), 0u);
      EXPECT_FALSE(test::GetValue(id_key.c_str(), "PartialFileSize"));
      EXPECT_FALSE(test::GetValue(id_key.c_str(), "LastModifiedTime"));
      EXPECT_FALSE(std::filesystem::exists(partial));
      test::WriteWholeFile(partial, std::string(5000, 'B'));  // written, not yet recorded: the stop
    }
    DownloadResumeHandler next;
    ASSERT_EQ(next.Initialize(destination_, "version A", L"/f/file.bin"), 0);
    EXPECT_EQ(next.ResumeOffset(), 0u);
  }
}

TEST_F(ResumableScripted, RepositoryNamesThatFitAreKept) {
  const std::pair<std::size_t, bool> cases[] = {{10, true}, {200, true}, {254, true}, {255, false}};
  for (const auto& [length, kept] : cases) {
    SCOPED_TRACE(length);
    const std::string name = std::string(length - 1, 'r') + "\\";
    test::SetString(kMetadataKey.c_str(), "IntermediateRepositoryName", name);
    DownloadResumeHandler handler;
    ASSERT_EQ(handler.Initialize(destination_, "Thu, 19 May 2022 00:00:00 GMT", L"/f/named.bin"), 0);
    EXPECT_EQ(Text(kMetadataKey, "IntermediateRepositoryName"), kept ? name : "DownloadRepository\\");
    EXPECT_EQ(handler.PartialFile().find(std::wstring(name.begin(), name.end())) != std::wstring::npos, kept);
  }
}

TEST_F(ResumableScripted, DownloadsStartedInTheSameSecondGetTheirOwnIds) {
  // The clock stands still: the ids are formed from the same second, process and thread. The last
  // URL differs from the first only in case, which registry value names ignore.
  const std::wstring urls[] = {L"/f/a.bin", L"/f/b.bin", L"/f/A.bin"};
  for (const std::wstring& url : urls) {
    fake_.Add(Answer(200, "", 10000));
    FakeResponse short_body = Piece(std::string(10000, static_cast<char>(url[3])), 0, 10000);
    short_body.body.resize(4000);
    fake_.Add(short_body);
    EXPECT_EQ(InternetGetRequestEx(parameters_, url.c_str(), destination_.c_str(), nullptr, DOWNLOAD_FILE, 1, 1),
              kLengthMismatch);
  }
  std::vector<std::string> ids;
  for (const auto& entry : std::filesystem::directory_iterator(directory_.path() / "DownloadRepository")) {
    ids.push_back(entry.path().filename().string());
  }
  ASSERT_EQ(ids.size(), 3u);  // one id and one partial file per URL
  std::string contents;
  for (const std::string& id : ids) contents += test::ReadWholeFile(directory_.path() / "DownloadRepository" / id)[0];
  std::sort(contents.begin(), contents.end());
  EXPECT_EQ(contents, "Aab");
  // Each URL resumes its own bytes, whichever of the two the shared value names now.
  for (const std::wstring& url : {urls[0], urls[2]}) {
    const std::string file(10000, static_cast<char>(url[3]));
    fake_.Add(Answer(200, "", 10000));
    fake_.Add(Piece(file, 4000, 6000));
    EXPECT_EQ(InternetGetRequestEx(parameters_, url.c_str(), destination_.c_str(), nullptr, DOWNLOAD_FILE, 1, 1), 0);
    EXPECT_TRUE(test::ReadWholeFile(destination_) == file);
  }
}

}  // namespace
}  // namespace vx
