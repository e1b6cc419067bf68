// The fixture of the end-to-end tests (Windows): a seeded registry and agent directory, a copy of
// vxprereqhandler.exe beside a stand-in MsiExec.exe, and readers of its output, log and record.
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
    // The program and the stand-in installer side by side: Windows finds MsiExec.exe in the
    // program's own directory first.
    std::filesystem::copy_file(WindowsPathOf(VX_HANDLER_EXE), programs_.path() / "vxprereqhandler.exe");
    std::filesystem::copy_file(WindowsPathOf(VX_MSIEXEC_STANDIN_EXE), programs_.path() / "MsiExec.exe");
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

  ChildResult Run(int code1 = 1605, int code2 = 1605) {
    return RunChild("\"" + (programs_.path() / "vxprereqhandler.exe").string() + "\"",
                    {{"VXTEST_MSIEXEC_7339C976", std::to_string(code1)},
                     {"VXTEST_MSIEXEC_D183B98A", std::to_string(code2)},
                     {"VXTEST_MSIEXEC_RECORD", Record().string()}});
  }

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

  ScopedCleanRegistry registry_;
  TempDirectory agent_;
  TempDirectory programs_;
};

}  // namespace vx::test
