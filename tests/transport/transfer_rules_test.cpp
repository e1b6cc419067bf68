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
  EXPECT_EQ(BlockEnd(0, 0, 1200), 1200u);   // rate 0: the whole file at once
  EXPECT_EQ(BlockEnd(700, 0, 1200), 699u);  // ... and a later block ends before it starts

  const std::pair<std::int64_t, std::uint32_t> pauses[] = {{0, 600},   {120, 480},  {449, 151},
                                                           {450, 100}, {5000, 100}, {-86399000, 100}};
  for (const auto& [elapsed, pause] : pauses) EXPECT_EQ(PacingPauseMilliseconds(elapsed), pause) << elapsed;
  EXPECT_EQ(MillisecondsOfDay(LocalTime{2026, 1, 1, 23, 59, 59, 999}), 86399999);
}

TEST(RangeAnswers, OnlyTheAskedRangeOfTheRecordedVersionContinuesTheFile) {
  const FileVersion version{1000, "Thu, 19 May 2022 00:00:00 GMT"};
  struct Case {
    std::uint32_t status;
    std::optional<std::string> content_range;
    std::optional<std::string> last_modified;
    std::optional<std::uint32_t> content_length;
    RangeAnswer answer;
  };
  const Case cases[] = {
      {206, "bytes 500-999/1000", "thu, 19 may 2022 00:00:00 GMT", 500, RangeAnswer::kPart},
      {206, " Bytes  500 - 999 / 1000 ", std::nullopt, 500, RangeAnswer::kPart},
      {206, "bytes 500-999/1000", "Fri, 20 May 2022 00:00:00 GMT", 500, RangeAnswer::kStartOver},
      {206, "bytes 400-999/1000", std::nullopt, 600, RangeAnswer::kStartOver},
      {206, "bytes 500-999/1200", std::nullopt, 500, RangeAnswer::kStartOver},
      {206, std::nullopt, std::nullopt, 500, RangeAnswer::kStartOver},
      {206, "bytes 500-999/*", std::nullopt, 500, RangeAnswer::kStartOver},
      {206, "bytes 500-1000/1000", std::nullopt, 500, RangeAnswer::kStartOver},
      {206, "bytes 500-999/99999999999", std::nullopt, 500, RangeAnswer::kStartOver},
      {206, "bytes -/", std::nullopt, 500, RangeAnswer::kStartOver},
      {206, "", std::nullopt, 500, RangeAnswer::kStartOver},
      {200, std::nullopt, std::nullopt, 1000, RangeAnswer::kWholeFile},
      {200, std::nullopt, std::nullopt, 1001, RangeAnswer::kStartOver},
      {200, std::nullopt, "Fri, 20 May 2022 00:00:00 GMT", 1000, RangeAnswer::kStartOver},
      {416, "bytes */1000", std::nullopt, 0, RangeAnswer::kStartOver},
      {500, std::nullopt, std::nullopt, 0, RangeAnswer::kFailed},
  };
  for (const Case& c : cases) {
    const RangeResponse response{c.status, c.content_range, c.last_modified, c.content_length};
    EXPECT_EQ(JudgeRangeAnswer(response, 500, version), c.answer) << c.status << " " << c.content_range.value_or("-");
  }
  EXPECT_EQ(JudgeRangeAnswer(RangeResponse{416, std::nullopt, std::nullopt, 0}, 0, version), RangeAnswer::kFailed);
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
