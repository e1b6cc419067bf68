// The pure rules of the handler's decision: the exit code and the SQL Server detection.
#include "handler/decision.h"

#include <gtest/gtest.h>

namespace vx {
namespace {

TEST(Decision, ExitCodeRule) {
  struct Case {
    int code1, code2, exit_code;
  };
  const Case cases[] = {{1605, 1605, 1605}, {1605, 0, 0},       {0, 1603, 0}, {1603, 1603, 1603},
                        {1603, 1605, 1605}, {1605, 1603, 1603}, {0, 0, 0},    {258, 2, 2}};
  for (const Case& c : cases) {
    EXPECT_EQ(UninstallExitCode(c.code1, c.code2), c.exit_code) << c.code1 << "," << c.code2;
  }
}

TEST(Decision, SqlToolsCountAsInstalledWhenEitherValueIsReadable) {
  EXPECT_FALSE(SqlToolsInstalled(2, 2));
  EXPECT_FALSE(SqlToolsInstalled(13, 234));
  EXPECT_TRUE(SqlToolsInstalled(0, 2));
  EXPECT_TRUE(SqlToolsInstalled(2, 0));
  EXPECT_TRUE(SqlToolsInstalled(0, 0));
}

}  // namespace
}  // namespace vx
