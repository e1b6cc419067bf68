#include "platform/process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <tlhelp32.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "agent/library_services.h"
#include "base/unique_handle_win.h"
#include "helper_programs.h"
#include "platform/text_conversion.h"
#include "test_files.h"
#include "test_log.h"

namespace vx {
namespace {

using test::CwdProgramPath;
using test::ExitProgramPath;
using test::HelperCommandLine;
using test::SleepProgramPath;
using test::TempDirectory;

std::string CurrentDirectory() {
  char buffer[MAX_PATH * 4] = {};
  const DWORD length = ::GetCurrentDirectoryA(sizeof(buffer), buffer);
  return std::string(buffer, length < sizeof(buffer) ? length : 0);
}

// Directory texts compared the way Windows compares paths: without regard to case or to a
// trailing separator.
std::string ComparablePath(std::string path) {
  while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  for (char& c : path) {
    if (c == '/') c = '\\';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return path;
}

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Processes started by this test program whose executable has the given file name.
std::vector<DWORD> ChildProcesses(const std::string& executable_name) {
  std::vector<DWORD> children;
  const UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return children;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32First(snapshot.get(), &entry); more; more = ::Process32Next(snapshot.get(), &entry)) {
    if (entry.th32ParentProcessID == ::GetCurrentProcessId() &&
        ::lstrcmpiA(FileNameOf(entry.szExeFile).c_str(), executable_name.c_str()) == 0) {
      children.push_back(entry.th32ProcessID);
    }
  }
  return children;
}

// Waits (bounded) until no child with that executable name is left; true when none is.
bool WaitUntilNoChild(const std::string& executable_name, std::chrono::milliseconds deadline) {
  const auto stop = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    const std::vector<DWORD> children = ChildProcesses(executable_name);
    if (children.empty()) return true;
    if (std::chrono::steady_clock::now() >= stop) return false;
    for (DWORD id : children) {
      const UniqueHandle child(::OpenProcess(SYNCHRONIZE, FALSE, id));
      if (child) (void)::WaitForSingleObject(child.get(), 100);
    }
  }
}

// Polls (bounded) for a file that another process writes; true once it exists.
bool WaitForFile(const std::filesystem::path& path, std::chrono::milliseconds deadline) {
  const auto stop = std::chrono::steady_clock::now() + deadline;
  while (!std::filesystem::exists(path)) {
    if (std::chrono::steady_clock::now() >= stop) return false;
    ::Sleep(20);
  }
  return true;
}

void TerminateChildren(const std::string& executable_name) {
  for (DWORD id : ChildProcesses(executable_name)) {
    const UniqueHandle child(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
    if (!child) continue;
    (void)::TerminateProcess(child.get(), 0);
    (void)::WaitForSingleObject(child.get(), 5000);
  }
}

class ExecuteTest : public testing::Test {
 protected:
  void SetUp() override {
    InstallLibraryServices();
    caller_directory_ = CurrentDirectory();
    ASSERT_FALSE(caller_directory_.empty());
  }

  void TearDown() override { (void)::SetCurrentDirectoryA(caller_directory_.c_str()); }

  // Each returned code's remarks is the same text GetErrorText gives for that code.
  static std::string TextOf(int code) { return GetErrorText(static_cast<std::uint32_t>(code)); }

  test::ScopedTestLog log_;
  std::string caller_directory_;
};

TEST_F(ExecuteTest, ReturnsTheExitCodeWithItsSystemTextAsRemarks) {
  struct Case {
    const char* code_argument;
    int expected;
    bool show_window;
  };
  const Case cases[] = {
      {"0", 0, false},
      {"1", 1, false},
      {"1605", 1605, false},
      {"1605", 1605, true},
      {"3221225477", static_cast<int>(3221225477u), false},  // reported as the signed int it is
      {"4294967295", -1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.code_argument) + (c.show_window ? " shown" : " hidden"));
    const std::string command = HelperCommandLine(ExitProgramPath(), c.code_argument);
    std::optional<std::string> remarks = "previous value";
    const int result = execute(nullptr, command.c_str(), remarks, 1, c.show_window);
    EXPECT_EQ(result, c.expected);
    ASSERT_TRUE(remarks.has_value());
    EXPECT_EQ(*remarks, TextOf(c.expected));
    EXPECT_TRUE(
        log_.Has("[INFO]", "execute : Exit code for the application : " + std::to_string(c.expected) + " "));
  }
}

TEST_F(ExecuteTest, LogsEachStepOfASuccessfulRun) {
  const std::string command = HelperCommandLine(ExitProgramPath(), "1605");
  std::optional<std::string> remarks;
  ASSERT_EQ(execute(nullptr, command.c_str(), remarks, 30, false), 1605);
  ASSERT_TRUE(remarks.has_value());

  using testing::ElementsAre;
  EXPECT_THAT(log_.Messages(),
              ElementsAre("[DEBUG] @@@@@@@@ Inside execute Method @@@@@@@@ ",
                          "[INFO] execute : Process successfully created for application " + command + " ",
                          "[ERROR] Error Code : 1605 , Error Message : " + *remarks + " ",
                          "[INFO] execute : Exit code for the application : 1605 ",
                          "[INFO] execute : Remarks from the CreateProcess is " + *remarks + " for the executable " +
                              command + " ",
                          "[DEBUG] @@@@@@@@ End Of execute Method @@@@@@@@ "));
}

TEST_F(ExecuteTest, TerminatesAProcessThatExceedsTheLimit) {
  const TempDirectory directory;
  const std::filesystem::path marker = directory.path() / "slept.txt";
  // Far longer than the test waits for it, so only termination can end it in time.
  const std::string command = HelperCommandLine(SleepProgramPath(), "60000 \"" + marker.string() + "\"");
  std::optional<std::string> remarks;

  const auto start = std::chrono::steady_clock::now();
  const int result = ExecuteWithWaitLimit(nullptr, command.c_str(), remarks, 7, 500, false);
  const auto elapsed = std::chrono::steady_clock::now() - start;

  EXPECT_EQ(result, 258);
  EXPECT_GE(elapsed, std::chrono::milliseconds(450)) << "the wait did not last its limit";
  ASSERT_TRUE(remarks.has_value());
  EXPECT_EQ(*remarks, TextOf(258));
  EXPECT_TRUE(
      log_.Has("[INFO]",
             "execute : Terminating the Process for application " + command + " as time is exceeded 7 Minutes "));
  EXPECT_TRUE(log_.Has("[INFO]", "execute : The process has been successfully terminated ..! "));
  EXPECT_TRUE(log_.Has("[ERROR]", "Error Code : 258 , Error Message : " + *remarks + " "));

  const bool gone = WaitUntilNoChild(FileNameOf(SleepProgramPath()), std::chrono::seconds(10));
  if (!gone) TerminateChildren(FileNameOf(SleepProgramPath()));
  EXPECT_TRUE(gone) << "the process outlived its time limit";
  // Gone before its sleep ended: the marker can no longer appear.
  EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST_F(ExecuteTest, TheMinuteLimitEntryWaitsForAProcessThatFinishesInTime) {
  const TempDirectory directory;
  const std::filesystem::path marker = directory.path() / "slept.txt";
  const std::string command = HelperCommandLine(SleepProgramPath(), "200 \"" + marker.string() + "\"");
  std::optional<std::string> remarks;
  EXPECT_EQ(execute(nullptr, command.c_str(), remarks, 1, false), 0);
  EXPECT_TRUE(std::filesystem::exists(marker)) << "returned before the process finished";
  EXPECT_FALSE(log_.Has("[INFO]", "execute : The process has been successfully terminated ..! "));
}

TEST_F(ExecuteTest, LimitZeroOrBelowReturnsAtOnceAndLeavesTheProcessRunning) {
  for (const int limit : {0, -5}) {
    SCOPED_TRACE(limit);
    const TempDirectory directory;
    const std::filesystem::path marker = directory.path() / "slept.txt";
    const std::string command = HelperCommandLine(SleepProgramPath(), "1500 \"" + marker.string() + "\"");
    std::optional<std::string> remarks;

    EXPECT_EQ(execute(nullptr, command.c_str(), remarks, limit, false), 0);
    EXPECT_FALSE(std::filesystem::exists(marker)) << "execute waited for the process";

    ASSERT_TRUE(remarks.has_value());
    EXPECT_EQ(*remarks, TextOf(0));
    EXPECT_TRUE(log_.Has("[INFO]", "Message : " + *remarks + " "));
    EXPECT_FALSE(log_.Has("[INFO]", "execute : Exit code for the application : 0 "));
    // Left running, the process finishes its sleep and leaves its marker.
    EXPECT_TRUE(WaitForFile(marker, std::chrono::seconds(20))) << "the process did not run to its end";
  }
}

TEST_F(ExecuteTest, AProgramThatDoesNotExistReturnsFileNotFound) {
  const TempDirectory directory;
  const std::string working_directory = directory.str();
  // A program named by its full path is never looked for elsewhere, whatever the command line says.
  const std::string missing_program = (directory.path() / "vxtest_missing.exe").string();
  const std::string existing_program = ExitProgramPath();
  struct Case {
    std::string command;
    const char* working_directory;
    const char* application_path = nullptr;
  };
  const Case cases[] = {
      {HelperCommandLine(missing_program, ""), nullptr},
      {"vxtest_no_such_program_4711 /q", nullptr},
      {"vxtest_no_such_program_4711 /q", working_directory.c_str()},
      {HelperCommandLine(existing_program, "0"), nullptr, missing_program.c_str()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command + (c.working_directory != nullptr ? " in a working directory" : ""));
    std::optional<std::string> remarks;
    EXPECT_EQ(execute(c.working_directory, c.command.c_str(), remarks, 1, false, c.application_path),
              ERROR_FILE_NOT_FOUND);
    ASSERT_TRUE(remarks.has_value());
    EXPECT_EQ(*remarks, TextOf(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(CurrentDirectory(), caller_directory_);
    EXPECT_TRUE(log_.Has("[INFO]", "execute : Failed to Create the Process for the application "));
    EXPECT_TRUE(
        log_.Has("[INFO]",
               "execute : Remarks from the CreateProcess is " + *remarks + " for the executable " + c.command + " "));
    EXPECT_FALSE(log_.Has("[INFO]", "execute : Process successfully created for application " + c.command + " "));
  }
}

TEST_F(ExecuteTest, RunsTheProcessInTheWorkingDirectoryOrTheCallers) {
  const TempDirectory working;
  const std::string working_directory = working.str();
  // Without a working directory first: its log must not show the lines of a directory change.
  const char* directories[] = {nullptr, working_directory.c_str()};
  for (const char* directory : directories) {
    SCOPED_TRACE(directory != nullptr ? directory : "no working directory");
    const TempDirectory output;
    const std::filesystem::path report = output.path() / "cwd.txt";
    const std::string command = HelperCommandLine(CwdProgramPath(), "\"" + report.string() + "\"");
    std::optional<std::string> remarks;

    EXPECT_EQ(execute(directory, command.c_str(), remarks, 1, false), 0);

    const std::string expected = directory != nullptr ? directory : caller_directory_;
    EXPECT_EQ(ComparablePath(test::ReadWholeFile(report)), ComparablePath(expected));
    EXPECT_EQ(CurrentDirectory(), caller_directory_);
    const bool changed = directory != nullptr;
    EXPECT_EQ(log_.Has("[INFO]", "execute : Current Working Directory : " + caller_directory_ + " "), changed);
    EXPECT_EQ(log_.Has("[INFO]", "execute : Executing Application Source : " + command + " "), changed);
    EXPECT_EQ(log_.Has("[INFO]", "execute : Set Working Directory : " + working_directory + " "), changed);
  }
}

TEST_F(ExecuteTest, AWorkingDirectoryThatDoesNotExistStartsNothing) {
  const TempDirectory parent;
  const std::string missing = (parent.path() / "not-there").string();
  const std::filesystem::path report = parent.path() / "cwd.txt";
  const std::string command = HelperCommandLine(CwdProgramPath(), "\"" + report.string() + "\"");
  std::optional<std::string> remarks;

  const int result = execute(missing.c_str(), command.c_str(), remarks, 1, false);

  EXPECT_THAT(result, testing::AnyOf(ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND));
  ASSERT_TRUE(remarks.has_value());
  EXPECT_EQ(*remarks, TextOf(result));
  EXPECT_EQ(CurrentDirectory(), caller_directory_);
  EXPECT_FALSE(std::filesystem::exists(report)) << "a process was started";
  EXPECT_TRUE(log_.Has("[ERROR]", "execute : Failed to set the WorkingDirectory " + missing + " "));
  EXPECT_FALSE(log_.Has("[INFO]", "execute : Failed to Create the Process for the application "));
}

TEST_F(ExecuteTest, AMissingCommandLineStartsNothing) {
  const TempDirectory working;
  const std::string working_directory = working.str();
  const char* directories[] = {nullptr, working_directory.c_str()};
  for (const char* directory : directories) {
    SCOPED_TRACE(directory != nullptr ? directory : "no working directory");
    std::optional<std::string> remarks;
    const int result = execute(directory, nullptr, remarks, 1, false);
    EXPECT_NE(result, 0);
    ASSERT_TRUE(remarks.has_value());
    EXPECT_EQ(*remarks, TextOf(result));
    EXPECT_EQ(CurrentDirectory(), caller_directory_);
  }
  EXPECT_FALSE(log_.Has("[INFO]", "execute : Failed to Create the Process for the application "));
}

}  // namespace
}  // namespace vx
