// The SQL Server 2014 detection against the real registry: either readable value counts, in the
// 32-bit view only.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "agent/library_services.h"
#include "handler/handler.h"
#include "test_log.h"
#include "test_registry_win.h"

namespace vx {
namespace {

using test::kView32;
using test::kView64;

// Spelled out here so that a wrong path in the handler shows.
constexpr const char* kSqlClientSetupKey =
    "SOFTWARE\\Microsoft\\Microsoft SQL Server\\120\\Tools\\ClientSetup\\CurrentVersion";
constexpr const char* kSqlSetupKey = "SOFTWARE\\Microsoft\\Microsoft SQL Server\\120\\Tools\\Setup";

enum class Seed { kMissing, kString, kDword, kStringIn64BitView };

struct SqlRow {
  const char* label;
  Seed current_version;
  Seed edition;
  int installed;
  std::vector<std::string> lines;
};
void PrintTo(const SqlRow& row, std::ostream* os) { *os << row.label; }

void SeedSqlValue(const char* path, const char* name, Seed seed, const char* text) {
  switch (seed) {
    case Seed::kMissing:
      break;
    case Seed::kString:
      test::SetString(path, name, text, kView32);
      break;
    case Seed::kDword:
      test::SetDword(path, name, 12, kView32);
      break;
    case Seed::kStringIn64BitView:
      test::SetString(path, name, text, kView64);
      break;
  }
}

class SqlDetectionTest : public ::testing::TestWithParam<SqlRow> {
 protected:
  void SetUp() override { InstallLibraryServices(); }

  test::ScopedCleanRegistry clean_registry_;
  test::ScopedTestLog log_{4};
};

TEST_P(SqlDetectionTest, EitherReadableValueCounts) {
  const SqlRow& row = GetParam();
  SeedSqlValue(kSqlClientSetupKey, "CurrentVersion", row.current_version, "12.0.2000.8");
  SeedSqlValue(kSqlSetupKey, "Edition", row.edition, "Express Edition");

  EXPECT_EQ(IsSQLProductInstalled(), row.installed);
  EXPECT_THAT(log_.Messages(), ::testing::ElementsAreArray(row.lines));
}

INSTANTIATE_TEST_SUITE_P(
    Values, SqlDetectionTest,
    ::testing::Values(
        SqlRow{"NeitherPresent",
               Seed::kMissing,
               Seed::kMissing,
               0,
               {"[INFO] CurrentVersion : ", "[INFO] Edition : ", "[INFO] ErrorCode01 : 2", "[INFO] ErrorCode02 : 2"}},
        SqlRow{"OnlyCurrentVersion",
               Seed::kString,
               Seed::kMissing,
               1,
               {"[INFO] CurrentVersion : 12.0.2000.8", "[INFO] Edition : ", "[INFO] ErrorCode01 : 0",
                "[INFO] ErrorCode02 : 2"}},
        SqlRow{"OnlyEdition",
               Seed::kMissing,
               Seed::kString,
               1,
               {"[INFO] CurrentVersion : ", "[INFO] Edition : Express Edition", "[INFO] ErrorCode01 : 2",
                "[INFO] ErrorCode02 : 0"}},
        SqlRow{"Both",
               Seed::kString,
               Seed::kString,
               1,
               {"[INFO] CurrentVersion : 12.0.2000.8", "[INFO] Edition : Express Edition", "[INFO] ErrorCode01 : 0",
                "[INFO] ErrorCode02 : 0"}},
        SqlRow{"CurrentVersionAsDword",
               Seed::kDword,
               Seed::kMissing,
               0,
               {"[INFO] CurrentVersion : ", "[INFO] Edition : ", "[INFO] ErrorCode01 : 13", "[INFO] ErrorCode02 : 2"}},
        SqlRow{"EditionAsDwordButCurrentVersionString",
               Seed::kString,
               Seed::kDword,
               1,
               {"[INFO] CurrentVersion : 12.0.2000.8", "[INFO] Edition : ", "[INFO] ErrorCode01 : 0",
                "[INFO] ErrorCode02 : 13"}},
        SqlRow{"BothAsDword",
               Seed::kDword,
               Seed::kDword,
               0,
               {"[INFO] CurrentVersion : ", "[INFO] Edition : ", "[INFO] ErrorCode01 : 13", "[INFO] ErrorCode02 : 13"}},
        SqlRow{"BothOnlyIn64BitView",
               Seed::kStringIn64BitView,
               Seed::kStringIn64BitView,
               0,
               {"[INFO] CurrentVersion : ", "[INFO] Edition : ", "[INFO] ErrorCode01 : 2", "[INFO] ErrorCode02 : 2"}}),
    [](const ::testing::TestParamInfo<SqlRow>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace vx
