// vxprereqhandler.exe end to end (Windows): a seeded registry and agent directory, a copy of the
// program beside a stand-in MsiExec.exe, and checks of standard output, the full exit code, the
// process log and the stand-in's record of the uninstall commands.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "handler_fixture.h"

namespace vx {
namespace {

using test::HandlerEndToEnd;
using test::kPatchNotInstalled;
using test::kTestAgentRootKey;
using test::kView32;
using test::kView64;
using test::Lines;
using test::ResultLines;

constexpr const char* kCurrentVersionKey =
    "SOFTWARE\\Microsoft\\Microsoft SQL Server\\120\\Tools\\ClientSetup\\CurrentVersion";
constexpr const char* kEditionKey = "SOFTWARE\\Microsoft\\Microsoft SQL Server\\120\\Tools\\Setup";
constexpr const char* kSqlInstalled = "SQL product installed. No need to perform component uninstallation.\n";
constexpr const char* kEvidence = "2022-05-16 10:42:17 KB500100 installed by APD Deploy policy (exit 0)";
constexpr const char* kFirstCommand = "MsiExec.exe /X{7339C976-7C52-4A28-9B6A-E0DC1E128E2F} /q";
constexpr const char* kSecondCommand = "MsiExec.exe /X{D183B98A-9688-4FC1-9793-E17E42C8BAB1} /q";

TEST_F(HandlerEndToEnd, NothingInstalledAndNoAccessLog) {
  SeedAgent();
  const test::ChildResult result = Run();
  ASSERT_TRUE(result.started);
  EXPECT_EQ(Lines(result.output), kPatchNotInstalled);
  EXPECT_EQ(result.exit_code, 0u);
  EXPECT_TRUE(LogHas("[INFO] ErrorCode01 : 2"));
  EXPECT_TRUE(LogHas("[INFO] ErrorCode02 : 2"));
  EXPECT_TRUE(LogHas("[ERROR] Failed to open " + AgentDir() + "\\logs\\vxpatchinstallaccess.log with error code : 2"));
  EXPECT_TRUE(LogHas("[INFO] Patch not installed by VX. No need to perform component uninstallation."));
  EXPECT_TRUE(RecordedCommands().empty());
  // The log is framed by its open and close lines.
  const std::vector<std::string> messages = LogMessages();
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages.front().rfind("[INFO] Log open time: ", 0), 0u);
  EXPECT_EQ(messages.back().rfind("[INFO] Log close time: ", 0), 0u);
}

struct SqlCase {
  const char* name;
  const char* key;
  const char* value;
  REGSAM view;
  DWORD type;
  bool installed;
};

TEST_F(HandlerEndToEnd, SqlServerDetection) {
  const SqlCase cases[] = {
      {"Edition in the 32-bit view", kEditionKey, "Edition", kView32, REG_SZ, true},
      {"CurrentVersion in the 32-bit view", kCurrentVersionKey, "CurrentVersion", kView32, REG_EXPAND_SZ, true},
      {"CurrentVersion only in the 64-bit view is not seen", kCurrentVersionKey, "CurrentVersion", kView64, REG_SZ,
       false},
      {"a REG_DWORD value counts as absent", kEditionKey, "Edition", kView32, REG_DWORD, false},
  };
  WriteAccessLog(std::string(kEvidence) + "\n");
  for (const SqlCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScopedCleanRegistry clean;
    SeedAgent();
    std::filesystem::remove(ProcessLog());
    std::filesystem::remove(Record());
    test::SetValue(c.key, c.value, c.type,
                   c.type == REG_DWORD ? std::string("\x0c\0\0\0", 4) : std::string("12.0\0", 5), c.view);
    const test::ChildResult result = Run();
    ASSERT_TRUE(result.started);
    if (c.installed) {
      EXPECT_EQ(Lines(result.output), kSqlInstalled);
      EXPECT_EQ(result.exit_code, 0u);
      EXPECT_TRUE(RecordedCommands().empty());
      EXPECT_TRUE(LogHas("[INFO] SQL product installed. No need to perform component uninstallation."));
    } else {
      EXPECT_EQ(Lines(result.output), ResultLines(1605, 1605));
      EXPECT_EQ(result.exit_code, 1605u);
    }
  }
}

TEST_F(HandlerEndToEnd, SqlDetectionLogsBothValuesAndResults) {
  SeedAgent();
  test::SetString(kEditionKey, "Edition", "Express Edition");
  const test::ChildResult result = Run();
  EXPECT_EQ(Lines(result.output), kSqlInstalled);
  EXPECT_TRUE(LogHas("[INFO] CurrentVersion : "));
  EXPECT_TRUE(LogHas("[INFO] Edition : Express Edition"));
  EXPECT_TRUE(LogHas("[INFO] ErrorCode01 : 2"));
  EXPECT_TRUE(LogHas("[INFO] ErrorCode02 : 0"));
}

TEST_F(HandlerEndToEnd, AccessLogDecides) {
  struct Case {
    const char* name;
    std::string content;
    bool uninstall;
  };
  const Case cases[] = {
      {"evidence line in CR LF text", "first line\r\n" + std::string(kEvidence) + "\r\nlast\r\n", true},
      {"second patch, mixed-case deployment, last date, no final LF", "x\n30716 deployed by PATCH Test Group 22-05-13",
       true},
      {"terms spread over two lines", "500100 APD Deploy\n22-05-16\n", false},
      {"the day after the first date", "500100 APD Deploy 22-05-17\n", false},
      {"empty access log", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SeedAgent();
    WriteAccessLog(c.content);
    std::filesystem::remove(ProcessLog());
    std::filesystem::remove(Record());
    const test::ChildResult result = Run();
    ASSERT_TRUE(result.started);
    if (c.uninstall) {
      EXPECT_EQ(Lines(result.output), ResultLines(1605, 1605));
      EXPECT_EQ(result.exit_code, 1605u);
      EXPECT_EQ(RecordedCommands(), (std::vector<std::string>{kFirstCommand, kSecondCommand}));
      bool logged_line = false;
      for (const std::string& message : LogMessages()) {
        if (message.rfind("[INFO] InstallAccessLog : ", 0) == 0) {
          logged_line = true;
          EXPECT_EQ(message.find('\r'), std::string::npos);
        }
      }
      EXPECT_TRUE(logged_line);
    } else {
      EXPECT_EQ(Lines(result.output), kPatchNotInstalled);
      EXPECT_EQ(result.exit_code, 0u);
      EXPECT_TRUE(RecordedCommands().empty());
    }
  }
}

TEST_F(HandlerEndToEnd, EvidenceLineIsLoggedWithoutItsLineEnd) {
  SeedAgent();
  WriteAccessLog("noise\r\n" + std::string(kEvidence) + "\r\n");
  (void)Run();
  EXPECT_TRUE(LogHas("[INFO] InstallAccessLog : " + std::string(kEvidence)));
}

TEST_F(HandlerEndToEnd, ExitCodeIsTheSecondResultOnlyWhenBothFailed) {
  struct Case {
    int code1, code2;
    unsigned long exit_code;
  };
  const Case cases[] = {{1605, 1605, 1605}, {1605, 0, 0},       {0, 1603, 0},
                        {1603, 1603, 1603}, {1603, 1605, 1605}, {1605, 1603, 1603}};
  SeedAgent(2);
  WriteAccessLog(std::string(kEvidence) + "\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.code1) + "," + std::to_string(c.code2));
    std::filesystem::remove(Record());
    const test::ChildResult result = Run(c.code1, c.code2);
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exit_code, c.exit_code);
    EXPECT_EQ(Lines(result.output), ResultLines(c.code1, c.code2));
    // The second command runs whatever the first returned.
    EXPECT_EQ(RecordedCommands(), (std::vector<std::string>{kFirstCommand, kSecondCommand}));
  }
  EXPECT_TRUE(LogHas("[INFO] {7339C976-7C52-4A28-9B6A-E0DC1E128E2F} uninstallation error Code : 1605"));
  EXPECT_TRUE(LogHas("[INFO] {D183B98A-9688-4FC1-9793-E17E42C8BAB1} uninstallation error Code : 1603"));
}

// The shipped program starts msiexec.exe from the system directory by its full path: the stand-in
// beside it is never run, and Wine's own installer answers 1605 for both products. The command
// lines are logged as they always were.
// A stand-in MsiExec.exe beside the shipped program, and one in the current directory it is
// started from: neither ever runs; the system's installer answers.
TEST_F(HandlerEndToEnd, ShippedProgramStartsOnlyTheSystemInstaller) {
  for (const bool from_a_planted_directory : {false, true}) {
    SCOPED_TRACE(from_a_planted_directory ? "stand-in in the current directory too" : "stand-in beside the program");
    SeedAgent(2);
    WriteAccessLog(std::string(kEvidence) + "\n");
    test::TempDirectory planted;
    std::filesystem::copy_file(test::WindowsPathOf(VX_MSIEXEC_STANDIN_EXE), planted.path() / "msiexec.exe");
    const std::filesystem::path previous = std::filesystem::current_path();
    if (from_a_planted_directory) std::filesystem::current_path(planted.path());
    const test::ChildResult result = RunShipped();
    std::filesystem::current_path(previous);
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exit_code, 1605u);
    EXPECT_EQ(Lines(result.output), ResultLines(1605, 1605));
    EXPECT_TRUE(RecordedCommands().empty());
    EXPECT_TRUE(
        LogHas("[INFO] execute : Process successfully created for application " + std::string(kFirstCommand) + " "));
  }
}

TEST_F(HandlerEndToEnd, MissingInstallationDirectoryStillPrintsTheDecision) {
  test::SetDword(kTestAgentRootKey, "VXAgentLogLevel", 4);
  const test::ChildResult result = Run();
  ASSERT_TRUE(result.started);
  EXPECT_EQ(Lines(result.output), kPatchNotInstalled);
  EXPECT_EQ(result.exit_code, 0u);
  EXPECT_FALSE(std::filesystem::exists(LogsDir()));
  EXPECT_TRUE(RecordedCommands().empty());
}

TEST_F(HandlerEndToEnd, MissingLogDirectoryIsCreated) {
  SeedAgent();
  ASSERT_FALSE(std::filesystem::exists(LogsDir()));
  const test::ChildResult result = Run();
  EXPECT_EQ(result.exit_code, 0u);
  EXPECT_TRUE(std::filesystem::exists(ProcessLog()));
}

TEST_F(HandlerEndToEnd, FullLogIsRotatedAtStartUp) {
  SeedAgent(2);
  std::filesystem::create_directories(LogsDir());
  const std::string old_log(2000000, 'o');
  test::WriteWholeFile(ProcessLog(), old_log);
  test::WriteWholeFile(LogsDir() / "vxprereqhandler1.log", "older copy");

  const test::ChildResult result = Run();
  ASSERT_TRUE(result.started);
  EXPECT_EQ(result.exit_code, 0u);
  EXPECT_EQ(test::ReadWholeFile(LogsDir() / "vxprereqhandler1.log"), old_log);
  EXPECT_EQ(test::ReadWholeFile(LogsDir() / "vxprereqhandler2.log"), "older copy");
  // The live log holds this run only, from its open line on.
  const std::vector<std::string> messages = LogMessages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.front().rfind("[INFO] Log open time: ", 0), 0u);
  EXPECT_LT(std::filesystem::file_size(ProcessLog()), 10000u);
}

TEST_F(HandlerEndToEnd, LogLevelFromTheRegistry) {
  struct Case {
    const char* name;
    std::optional<DWORD> level;
    bool debug_lines;
    bool info_lines;
  };
  const Case cases[] = {{"absent: level 2", std::nullopt, false, true},
                        {"level 1", 1u, false, true},
                        {"level 0", 0u, false, false},
                        {"level 4", 4u, true, true},
                        {"level 259 is 3", 259u, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScopedCleanRegistry clean;
    test::SetString(kTestAgentRootKey, "VXAgentInstallDir", AgentDir());
    if (c.level) test::SetDword(kTestAgentRootKey, "VXAgentLogLevel", *c.level);
    std::filesystem::remove(ProcessLog());
    (void)Run();
    bool debug = false;
    bool info = false;
    for (const std::string& message : LogMessages()) {
      debug |= message.rfind("[DEBUG] ", 0) == 0;
      info |= message.rfind("[INFO] ErrorCode01", 0) == 0;
    }
    EXPECT_EQ(debug, c.debug_lines);
    EXPECT_EQ(info, c.info_lines);
  }
}

}  // namespace
}  // namespace vx
