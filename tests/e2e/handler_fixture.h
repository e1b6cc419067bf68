// The fixture of the end-to-end tests (Windows): a seeded registry and agent directory, the handler
// built to start a stand-in MsiExec.exe beside it (and the shipped program beside the same
// stand-in), and readers of its output, log and record.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "child_process_win.h"
#include "test_files.h"
#include "test_log.h"
#include "test_registry_win.h"

namespace vx::test {

inline constexpr const char* kPatchNotInstalled =
    "Patch not installed by VX. No need to perform component uninstallation.\n";

// Standard output is a text-mode stream: on Windows its lines end with CR LF.
inline std::string Lines(const std::string& output) {
  std::string text;
  for (std::size_t i = 0; i < output.size(); ++i) {
    if (output[i] == '\r' && i + 1 < output.size() && output[i + 1] == '\n') continue;
    text.push_back(output[i]);
  }
  return text;
}

inline std::string ResultLines(int code1, int code2) {
  return "{7339C976-7C52-4A28-9B6A-E0DC1E128E2F} uninstallation error Code : " + std::to_string(code1) +
         "\n{D183B98A-9688-4FC1-9793-E17E42C8BAB1} uninstallation error Code : " + std::to_string(code2) + "\n";
}

class HandlerEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    // The program and the stand-in installer side by side; the shipped program, beside it under
    // its own name, must not start the stand-in.
    std::filesystem::create_directories(programs_.path() / "shipped");
    std::filesystem::copy_file(WindowsPathOf(VX_HANDLER_STANDIN_EXE), programs_.path() / "vxprereqhandler.exe");
    std::filesystem::copy_file(WindowsPathOf(VX_HANDLER_EXE), programs_.path() / "shipped" / "vxprereqhandler.exe");
    std::filesystem::copy_file(WindowsPathOf(VX_MSIEXEC_STANDIN_EXE), programs_.path() / "MsiExec.exe");
    std::filesystem::copy_file(WindowsPathOf(VX_MSIEXEC_STANDIN_EXE), programs_.path() / "shipped" / "MsiExec.exe");
  }

  // The agent directory as the registry stores it, with a trailing backslash.
  std::string AgentDir() const { return agent_.str(true); }
  std::filesystem::path LogsDir() const { return agent_.path() / "logs"; }
  std::filesystem::path ProcessLog() const { return LogsDir() / "vxprereqhandler.log"; }
  std::filesystem::path Record() const { return programs_.path() / "msiexec-calls.txt"; }

  void SeedAgent(DWORD level = 4) {
    SetString(kTestAgentRootKey, "VXAgentInstallDir", AgentDir());
    SetDword(kTestAgentRootKey, "VXAgentLogLevel", level);
  }

  void WriteAccessLog(const std::string& content) {
    std::filesystem::create_directories(LogsDir());
    WriteWholeFile(LogsDir() / "vxpatchinstallaccess.log", content);
  }

  ChildResult Run(int code1 = 1605, int code2 = 1605) { return RunProgram(programs_.path(), code1, code2); }
  // The shipped program, with the stand-in beside it (asked to answer 0 for both products).
  ChildResult RunShipped() { return RunProgram(programs_.path() / "shipped", 0, 0); }

  std::vector<std::string> LogMessages() const {
    std::vector<std::string> messages;
    for (const std::string& line : LogFileLines(ProcessLog())) {
      ParsedLogLine parsed;
      if (ParseLogLine(line, parsed)) messages.push_back(parsed.tag + " " + parsed.text);
    }
    return messages;
  }

  bool LogHas(const std::string& message) const {
    for (const std::string& line : LogMessages()) {
      if (line == message) return true;
    }
    return false;
  }

  std::vector<std::string> RecordedCommands() const {
    if (!std::filesystem::exists(Record())) return {};
    return LogFileLines(Record());
  }

  ChildResult RunProgram(const std::filesystem::path& directory, int code1, int code2) {
    return RunChild("\"" + (directory / "vxprereqhandler.exe").string() + "\"",
                    {{"VXTEST_MSIEXEC_7339C976", std::to_string(code1)},
                     {"VXTEST_MSIEXEC_D183B98A", std::to_string(code2)},
                     {"VXTEST_MSIEXEC_RECORD", Record().string()}});
  }

  ScopedCleanRegistry registry_;
  TempDirectory agent_;
  TempDirectory programs_;
};

}  // namespace vx::test
