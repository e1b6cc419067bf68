// StartLogging and StopLogging against the real registry (Windows).
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "agent/agent_config.h"
#include "agent/library_services.h"
#include "logging/logger.h"
#include "logging/logging_startup.h"
#include "test_files.h"
#include "test_log.h"
#include "test_registry_win.h"

namespace vx {
namespace {

using test::kTestAgentRootKey;

class LoggingStartup : public ::testing::Test {
 protected:
  void SetUp() override { InstallLibraryServices(); }
  void TearDown() override { (void)StopLogging(); }

  std::filesystem::path LogFile() const { return agent_.path() / "logs" / "startup.log"; }
  std::string Messages() const {
    std::string text;
    for (const std::string& line : test::LogFileLines(LogFile())) text += line + "\n";
    return text;
  }

  test::ScopedCleanRegistry registry_;
  test::TempDirectory agent_;
};

TEST_F(LoggingStartup, WithoutInstallationDirectoryNothingIsLogged) {
  EXPECT_EQ(StartLogging("startup.log"), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(IsLogOpen());
  LogInfo("dropped\n");
  EXPECT_FALSE(gv_installDir.has_value());
}

TEST_F(LoggingStartup, InstallationDirectoryShapes) {
  struct Case {
    const char* name;
    DWORD type;
    std::string bytes;
    LSTATUS result;
    const char* directory;
  };
  const Case cases[] = {
      {"drive path", REG_SZ, std::string("C:\\Agent\\\0", 11), ERROR_SUCCESS, "C:\\Agent\\"},
      {"UNC path", REG_SZ, std::string("\\\\srv\\agent\\\0", 13), ERROR_SUCCESS, "\\\\srv\\agent\\"},
      {"without its NUL", REG_SZ, std::string("D:\\A\\", 5), ERROR_SUCCESS, "D:\\A\\"},
      {"unexpanded", REG_EXPAND_SZ, std::string("%ProgramFiles%\\A\\\0", 18), ERROR_INVALID_DATA, nullptr},
      {"empty", REG_SZ, std::string("\0", 1), ERROR_INVALID_DATA, nullptr},
      {"relative", REG_SZ, std::string("Agent\\\0", 7), ERROR_INVALID_DATA, nullptr},
      {"a number", REG_DWORD, std::string("\x07\0\0\0", 4), ERROR_INVALID_DATA, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::SetValue(kTestAgentRootKey, "VXAgentInstallDir", c.type, c.bytes);
    std::optional<std::string> directory = std::string("stale");
    EXPECT_EQ(GetAgentInstallDir(directory), c.result);
    EXPECT_EQ(directory, c.directory != nullptr ? std::optional<std::string>(c.directory) : std::nullopt);
  }
  EXPECT_EQ(StartLogging("startup.log"), ERROR_INVALID_DATA);
  EXPECT_FALSE(IsLogOpen());
}

TEST_F(LoggingStartup, OpensInstallDirLogsAndFillsTheRecord) {
  test::SetString(kTestAgentRootKey, "VXAgentInstallDir", agent_.str(true));
  ASSERT_EQ(StartLogging("startup.log"), 0);
  ASSERT_TRUE(IsLogOpen());
  EXPECT_EQ(gv_installDir.value_or(""), agent_.str(true));
  // The directory ends with a backslash as stored; the file name joins with a slash.
  EXPECT_EQ(CurrentLogPath().value_or(""), agent_.str(true) + "logs/startup.log");
  LogInfo("hello\n");
  (void)StopLogging();
  EXPECT_NE(Messages().find("[INFO] hello\n"), std::string::npos);
  // The rotation check ran before the file was open: its lines were dropped.
  EXPECT_EQ(Messages().find("RotateLoggerForEverRunningProcess"), std::string::npos);
  EXPECT_EQ(Messages().find("ServiceMain : TimerQueue"), std::string::npos);
}

TEST_F(LoggingStartup, LevelValueShapes) {
  struct Case {
    const char* name;
    DWORD type;
    std::string bytes;  // none: value absent
    std::uint8_t level;
  };
  const Case cases[] = {
      {"absent", REG_NONE, "", 2},
      {"DWORD 1", REG_DWORD, std::string("\x01\0\0\0", 4), 1},
      {"DWORD 260 keeps its low 8 bits", REG_DWORD, std::string("\x04\x01\0\0", 4), 4},
      {"more than four bytes", REG_BINARY, std::string("\x01\0\0\0\0\0", 6), 2},
      // The type is not checked: "1" and its NUL fill the low half of a zero variable.
      {"REG_SZ \"1\"", REG_SZ, std::string("1\0", 2), 0x31},
      {"two-byte binary 256", REG_BINARY, std::string("\0\x01", 2), 0},
  };
  test::SetString(kTestAgentRootKey, "VXAgentInstallDir", agent_.str(true));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kTestAgentRootKey, "VXAgentLogLevel");
    if (c.type != REG_NONE) test::SetValue(kTestAgentRootKey, "VXAgentLogLevel", c.type, c.bytes);
    ASSERT_EQ(StartLogging("startup.log"), 0);
    EXPECT_EQ(CurrentLogLevel(), c.level);
    (void)StopLogging();
  }
}

TEST_F(LoggingStartup, StartingAgainKeepsTheOpenFile) {
  test::SetString(kTestAgentRootKey, "VXAgentInstallDir", agent_.str(true));
  test::SetDword(kTestAgentRootKey, "VXAgentLogLevel", 4);
  ASSERT_EQ(StartLogging("startup.log"), 0);
  ASSERT_EQ(StartLogging("startup.log"), 0);
  EXPECT_TRUE(IsLogOpen());
  (void)StopLogging();
  EXPECT_NE(Messages().find("[TRACE] gv_logFilePtr already Set\n"), std::string::npos);
  EXPECT_EQ(StopLogging(), 0);  // a second stop is harmless
}

}  // namespace
}  // namespace vx
