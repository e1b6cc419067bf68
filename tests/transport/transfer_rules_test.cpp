// The transport's portable decisions: failover order, path rewriting, block ranges, pacing, the
// text of downloaded data and the error explanations.
#include "transport/transfer_rules.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "test_log.h"
#include "transport/transport_error_texts.h"
#include "transport/transport_types.h"

namespace vx {
namespace {

struct FailoverCase {
  const char* name;
  std::array<bool, 5> usable;
  std::map<int, int> answers;  // candidate -> result; candidates not listed succeed
  std::vector<int> expected_tried;
  int expected_result;
  int expected_new_last_access;
};

TEST(Failover, TriesTheAddressesInOrderAndOnlyAfterTheRightResults) {
  constexpr std::array<bool, 5> kAll = {true, true, true, true, true};
  const FailoverCase cases[] = {
      {"first answers", kAll, {}, {0}, 0, -1},
      {"first not modified counts as success", kAll, {{0, kNotModified}}, {0}, kNotModified, -1},
      {"404 from the first ends the request", kAll, {{0, 404}}, {0}, 404, -1},
      {"407 from the first ends the request", kAll, {{0, 407}}, {0}, 407, -1},
      {"timeout, then the address answers", kAll, {{0, 12002}}, {0, 1}, 0, 1},
      {"timeout, 404, secondary answers", kAll, {{0, 12002}, {1, 404}}, {0, 1, 2}, 0, 2},
      {"after the secondary only failover codes go on", kAll, {{0, 12029}, {1, 12029}, {2, 404}}, {0, 1, 2}, 404, -1},
      {"400 is like an unreachable address", kAll, {{0, 400}, {1, 400}, {2, 400}}, {0, 1, 2, 3}, 0, 3},
      {"everything unreachable",
       kAll,
       {{0, 12007}, {1, 12007}, {2, 12005}, {3, 12029}, {4, 12002}},
       {0, 1, 2, 3, 4},
       12002,
       -1},
      {"flat name answers last", kAll, {{0, 12007}, {1, 12007}, {2, 12007}, {3, 12029}}, {0, 1, 2, 3, 4}, 0, 4},
      {"nothing usable", {false, false, false, false, false}, {}, {}, 12007, -1},
      {"short last access name is skipped", {false, true, true, true, true}, {}, {1}, 0, 1},
      {"skipped secondary keeps the address's failure",
       {true, true, false, true, true},
       {{0, 12029}, {1, 404}},
       {0, 1},
       404,
       -1},
      {"skipped secondary after a failover code goes on",
       {true, true, false, true, true},
       {{0, 12029}, {1, 12002}},
       {0, 1, 3},
       0,
       3},
  };
  for (const FailoverCase& c : cases) {
    std::vector<int> tried;
    const FailoverOutcome outcome = RunFailover(c.usable, [&](int candidate) {
      tried.push_back(candidate);
      const auto answer = c.answers.find(candidate);
      return answer != c.answers.end() ? answer->second : 0;
    });
    EXPECT_EQ(tried, c.expected_tried) << c.name;
    EXPECT_EQ(outcome.result, c.expected_result) << c.name;
    EXPECT_EQ(outcome.new_last_access, c.expected_new_last_access) << c.name;
  }
}

TEST(RetryPolicy, FailuresDecideTheNextAttempt) {
  struct Case {
    std::uint32_t code;
    bool reopened;
    RetryAction after_send;
    RetryAction after_receive;
  };
  const Case cases[] = {
      {12015, false, RetryAction::kReopen, RetryAction::kReopen},
      {12015, true, RetryAction::kFail, RetryAction::kResend},
      {12017, false, RetryAction::kReopen, RetryAction::kFail},
      {12152, false, RetryAction::kFail, RetryAction::kReopen},
      {12152, true, RetryAction::kFail, RetryAction::kResend},
      {12032, false, RetryAction::kFail, RetryAction::kPauseAndResend},
      {12032, true, RetryAction::kFail, RetryAction::kPauseAndResend},
      {12002, false, RetryAction::kFail, RetryAction::kFail},
      {0, false, RetryAction::kFail, RetryAction::kFail},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AfterSendFailure(c.code, c.reopened), c.after_send) << c.code << " " << c.reopened;
    EXPECT_EQ(AfterReceiveFailure(c.code, c.reopened), c.after_receive) << c.code << " " << c.reopened;
  }
}

TEST(PathRewriting, FollowsTheProductAndTheRoute) {
  struct Case {
    std::optional<std::string> product;
    std::string path;
    bool management;
    int type;
    std::string expected;
  };
  const Case cases[] = {
      {"RNHX", "/a/b.xml", true, GET_DATA, "clientdatarequest?fileName=/a/b.xml"},
      {"rnhx", "a/b.bin", true, DOWNLOAD_FILE, "clientdatarequest?fileName=a/b.bin"},
      {"RNHX", "/x/AgentInfo?id=1", true, GET_DATA, "/x/AgentInfo?id=1"},
      {"RNHX", "/servlet/AGENTREQUEST?x", true, DOWNLOAD_FILE, "/servlet/AGENTREQUEST?x"},
      {"RNHX", "/servlet/agentSlot?x", true, GET_DATA, "/servlet/agentSlot?x"},
      {"RNHX", "/servlet/agenttrayicon?x", true, GET_DATA, "/servlet/agenttrayicon?x"},
      {"RNHX", "/a/b.xml", false, GET_DATA, "/a/b.xml"},
      {"RNHX", "/a/b.xml", true, POST_DATA, "/a/b.xml"},
      {"KVTLN", "/a/b.xml", true, GET_DATA, "vx//a/b.xml"},
      {"kvtln", "up/load", false, UPLOAD_FILE, "vx/up/load"},
      {"KORB", "/a/b.xml", true, GET_DATA, "/a/b.xml"},
      {std::nullopt, "/a/b.xml", true, GET_DATA, "/a/b.xml"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RewritePathForProduct(c.product, c.path, c.management, c.type), c.expected)
        << c.product.value_or("(null)") << " " << c.path;
  }
  EXPECT_EQ(ForwardSlashes("\\a\\b/c\\"), "/a/b/c/");
}

TEST(RateLimitedBlocks, RangesEndAtTheContentLengthAndPacingFollowsTheBlockTime) {
  EXPECT_EQ(BlockEnd(0, 512000, 10000), 10000u);  // one block for a small file, ending at the length
  EXPECT_EQ(BlockEnd(0, 500, 1200), 499u);
  EXPECT_EQ(BlockEnd(1000, 500, 1200), 1200u);
  EXPECT_EQ(BlockEnd(0, 0, 1200), 1200u);                               // rate 0: the whole file at once
  EXPECT_EQ(BlockEnd(700, 0, 1200), 699u);                              // ... and a later block ends before it starts
  EXPECT_EQ(BlockEnd(4294000000u, 1536000, 4294967295u), 4294967295u);  // within a block of 4 GiB

  const std::pair<std::int64_t, std::uint32_t> pauses[] = {{0, 600},   {120, 480},  {449, 151},
                                                           {450, 100}, {5000, 100}, {-86399000, 100}};
  for (const auto& [elapsed, pause] : pauses) EXPECT_EQ(PacingPauseMilliseconds(elapsed), pause) << elapsed;
  EXPECT_EQ(MillisecondsOfDay(LocalTime{2026, 1, 1, 23, 59, 59, 999}), 86399999);
}

TEST(RangeAnswers, OnlyTheAskedRangeOfTheRecordedVersionContinuesTheFile) {
  const std::string date = "Thu, 19 May 2022 00:00:00 GMT";
  const std::string other_date = "Fri, 20 May 2022 00:00:00 GMT";
  const FileVersion version{1000, date, ""};
  const FileVersion tagged{1000, date, "\"v1\""};
  const FileVersion tag_only{1000, "", "\"v1\""};
  const FileVersion bare{1000, "", ""};
  const std::nullopt_t none = std::nullopt;
  struct Case {
    const FileVersion& version;
    std::uint32_t status;
    std::optional<std::string> content_range;
    std::optional<std::string> last_modified;
    std::optional<std::uint32_t> content_length;
    std::optional<std::string> etag;
    RangeAnswer answer;
    std::uint64_t body_length;  // for the range 500-1000
  };
  const Case cases[] = {
      {version, 206, "bytes 500-999/1000", "thu, 19 may 2022 00:00:00 GMT", 500, none, RangeAnswer::kPart, 500},
      {version, 206, " Bytes  500 - 999 / 1000 ", none, 500, none, RangeAnswer::kPart, 500},
      {version, 206, "bytes 500-699/1000", none, none, none, RangeAnswer::kPart, 200},  // a shorter part
      {version, 206, "bytes 500-999/1000", none, 100, none, RangeAnswer::kPart, 100},   // its length is less
      {version, 206, "bytes 500-999/1000", other_date, 500, none, RangeAnswer::kStartOver, 0},
      {version, 206, "bytes 400-999/1000", none, 600, none, RangeAnswer::kStartOver, 0},
      {version, 206, "bytes 500-999/1200", none, 500, none, RangeAnswer::kStartOver, 0},
      {version, 206, none, none, 500, none, RangeAnswer::kStartOver, 0},
      {version, 206, "bytes 500-999/*", none, 500, none, RangeAnswer::kStartOver, 0},
      {version, 206, "bytes 500-1000/1000", none, 500, none, RangeAnswer::kStartOver, 0},
      {version, 206, "bytes 500-999/99999999999", none, 500, none, RangeAnswer::kStartOver, 0},
      {version, 206, "bytes -/", none, 500, none, RangeAnswer::kStartOver, 0},
      {version, 206, "", none, 500, none, RangeAnswer::kStartOver, 0},
      {version, 200, none, none, 1000, none, RangeAnswer::kWholeFile, 1000},
      {version, 200, none, none, 1001, none, RangeAnswer::kStartOver, 0},
      {version, 200, none, other_date, 1000, none, RangeAnswer::kStartOver, 0},
      {version, 416, "bytes */1000", none, 0, none, RangeAnswer::kStartOver, 0},
      {version, 500, none, none, none, none, RangeAnswer::kFailed, 0},
      // With an ETag only an answer that names it is the version.
      {tagged, 206, "bytes 500-999/1000", date, 500, "\"v1\"", RangeAnswer::kPart, 500},
      {tagged, 206, "bytes 500-999/1000", date, 500, "\"v2\"", RangeAnswer::kStartOver, 0},
      {tagged, 206, "bytes 500-999/1000", none, 500, none, RangeAnswer::kStartOver, 0},
      {tag_only, 206, "bytes 500-999/1000", none, 500, " \"v1\" ", RangeAnswer::kPart, 500},
      {tag_only, 200, none, none, 1000, "\"v2\"", RangeAnswer::kStartOver, 0},
      {tag_only, 200, none, none, 1000, "\"v1\"", RangeAnswer::kWholeFile, 1000},
      // Without any validator only the numbers can be checked.
      {bare, 206, "bytes 500-999/1000", other_date, 500, "\"v9\"", RangeAnswer::kPart, 500},
  };
  for (const Case& c : cases) {
    const RangeResponse response{c.status, c.content_range, c.last_modified, c.content_length, c.etag};
    const RangeAnswer answer = JudgeRangeAnswer(response, 500, c.version);
    EXPECT_EQ(answer, c.answer) << c.status << " " << c.content_range.value_or("-") << " " << c.etag.value_or("-");
    EXPECT_EQ(AnnouncedBodyLength(response, answer, 500, 1000, c.version), c.body_length)
        << c.status << " " << c.content_range.value_or("-");
  }
  const RangeResponse block{206, "bytes 0-499/1000", none, none, none};  // a block of a rate-limited download
  EXPECT_EQ(AnnouncedBodyLength(block, RangeAnswer::kPart, 0, 299, version), 300u);
  EXPECT_EQ(JudgeRangeAnswer(RangeResponse{416, none, none, 0, none}, 0, version), RangeAnswer::kFailed);
  // If-Range carries the strongest validator: a strong ETag, else the Last-Modified text.
  EXPECT_EQ(IfRangeValidator(tagged), "\"v1\"");
  EXPECT_EQ(IfRangeValidator(FileVersion{1, date, "W/\"v1\""}), date);
  EXPECT_EQ(IfRangeValidator(bare), "");
  EXPECT_FALSE(HasValidator(bare));
}

TEST(CertificatePins, FingerprintsAreReadLeniently) {
  const std::string a(64, 'a');
  std::string colons = "AA";  // the same fingerprint as certificate viewers spell it
  for (int i = 0; i < 31; ++i) colons += ":AA";
  EXPECT_EQ(ParseCertificatePins(a + ";" + colons + ", x " + a + "a\r\n" + a.substr(1)),
            (std::vector<std::string>{a, a}));
  EXPECT_TRUE(ParseCertificatePins("not a fingerprint").empty());
  const unsigned char bytes[] = {0x00, 0x9f, 0xff};
  EXPECT_EQ(HexText(bytes, 3), "009fff");
}

TEST(DownloadIds, OnlyNamesTheDownloadsFormAreIds) {
  for (const char* id : {"17650000001234", "1765000000123456-2", "0"}) EXPECT_TRUE(IsDownloadIdName(id)) << id;
  for (const char* name : {"", "-2", "12-", "12-3-4", "agent.exe", "12.tmp", "1 2", "vxagent.log", "12a"}) {
    EXPECT_FALSE(IsDownloadIdName(name)) << name;
  }
}

TEST(DownloadIds, OnlyTheOwnerResumesTheRecordedVersion) {
  constexpr std::int64_t kNow = 1652921589000;
  constexpr std::int64_t kNoTime = -1;  // "LastRetryTime" absent (0); INT64_MIN: a corrupted one
  constexpr std::uint32_t kNone = 0xffffffff;
  constexpr IdClaim kOurs = IdClaim::kOwned, kHeld = IdClaim::kHeldByAnother, kUnknown = IdClaim::kUnknown;
  using enum PartialFileOwner;
  // The record holds Last-Modified "May 19" and ETag "v1", or neither when the server sends neither.
  const struct {
    const char* name;
    std::uint32_t size, file_size;  // kNone: absent
    bool mark;
    std::int64_t mark_minutes;  // before now
    const char *last_modified, *etag;
    IdClaim claim;
    PartialFileOwner owner;
    bool resume, cut_back;
  } cases[] = {
      {"the recorded version", 100, 100, false, 1, "MAY 19", "v1", kOurs, kThisDownload, true, false},
      {"bytes beyond the record", 100, 150, false, 1, "May 19", "v1", kOurs, kThisDownload, true, true},
      {"a shorter file", 100, 99, false, 1, "May 19", "v1", kOurs, kThisDownload, false, false},
      {"no file", 100, kNone, false, 1, "May 19", "v1", kOurs, kThisDownload, false, false},
      {"no size", kNone, 100, false, 1, "May 19", "v1", kOurs, kThisDownload, false, false},
      {"another date", 100, 100, false, 1, "May 20", "v1", kOurs, kThisDownload, false, false},
      {"another ETag", 100, 100, false, 1, "May 19", "v2", kOurs, kThisDownload, false, false},
      {"no validators", 100, 100, false, 1, "", "", kOurs, kThisDownload, false, false},
      {"an ended download's mark", 100, 100, true, 1, "May 19", "v1", kOurs, kThisDownload, true, false},
      {"nobody to tell, no mark", 100, 100, false, 1, "May 19", "v1", kUnknown, kThisDownload, true, false},
      {"a held id, however old", 100, 100, false, kNoTime, "", "", kHeld, kRunningDownload, false, false},
      {"a fresh mark", 100, 100, true, 89, "May 19", "v1", kUnknown, kRunningDownload, false, false},
      {"a mark from the future", 100, 100, true, -2, "", "", kUnknown, kRunningDownload, false, false},
      {"an old mark", 100, 100, true, 91, "May 19", "v1", kUnknown, kStale, false, false},
      {"a mark without a time", 100, 100, true, kNoTime, "", "", kUnknown, kStale, false, false},
      {"a time no clock gives", 100, 100, true, INT64_MIN, "", "", kUnknown, kStale, false, false},
  };
  for (const auto& c : cases) {
    const bool validators = *c.last_modified != '\0' || *c.etag != '\0';
    PartialFileRecord record{validators ? "May 19" : "", validators ? "v1" : "", {}, {}, c.mark, c.mark_minutes};
    if (c.size != kNone) record.size = c.size;
    if (c.file_size != kNone) record.file_size = c.file_size;
    if (c.mark_minutes == kNoTime) record.last_retry_ms = 0;
    if (c.mark_minutes != kNoTime && c.mark_minutes != INT64_MIN) record.last_retry_ms = kNow - c.mark_minutes * 60000;
    const ResumeDecision decision = DecideResume(record, c.last_modified, c.etag, c.claim, kNow);
    EXPECT_EQ(decision.owner, c.owner) << c.name;
    EXPECT_EQ(decision.resume, c.resume) << c.name;
    EXPECT_EQ(decision.cut_back, c.cut_back) << c.name;
  }
}

TEST(DownloadedText, EndsAtTheFirstNulAndReadsCrLfAsLf) {
  using namespace std::string_literals;
  const std::pair<std::string, std::string> cases[] = {
      {"a\r\nb\r\n", "a\nb\n"}, {"a\rb\n\r", "a\rb\n\r"}, {"ab\0cd\r\n"s, "ab"}, {"", ""}, {"\r\r\n", "\r\n"}};
  for (const auto& [bytes, text] : cases) EXPECT_EQ(TextFromDownloadedBytes(bytes), text);
  EXPECT_TRUE(AlwaysWholeDownload(L"/a/b.xml?x"));
  EXPECT_TRUE(AlwaysWholeDownload(L"/a.json"));
  EXPECT_FALSE(AlwaysWholeDownload(L"/a/B.XML"));
}

TEST(ErrorTexts, EachWinHttpCodeHasItsExplanation) {
  EXPECT_STREQ(WinHttpErrorText(12002), "HttpGetLastError: The request has timed out.\n");
  EXPECT_STREQ(WinHttpErrorText(12184), WinHttpErrorText(12032));
  const std::string certificate = WinHttpErrorText(12169);
  EXPECT_EQ(certificate.substr(certificate.size() - 2), ").");  // the one text without a line end
  const std::string common_name = WinHttpErrorText(12038);
  EXPECT_EQ(common_name.rfind("HttpGetLastError: SSL certificate common name (host name field) is incorrect.", 0), 0u);
  EXPECT_EQ(common_name.substr(common_name.size() - 2), " \n");
  for (const std::uint32_t code : {0u, 2u, 12000u, 12047u, 12185u}) EXPECT_EQ(WinHttpErrorText(code), nullptr) << code;
  // Every code of the table's ranges that has a text starts the same way.
  int with_text = 0;
  for (std::uint32_t code = 12001; code <= 12184; ++code) {
    if (const char* text = WinHttpErrorText(code)) {
      ++with_text;
      EXPECT_EQ(std::strncmp(text, "HttpGetLastError: ", 18), 0) << code;
    }
  }
  EXPECT_EQ(with_text, 74);
}

}  // namespace
}  // namespace vx
