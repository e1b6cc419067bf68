#include "platform/text_conversion.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "agent/library_services.h"
#include "agent/result_text.h"
#include "test_files.h"
#include "test_log.h"

namespace vx {
namespace {

// The system's own message for code, fetched here independently of the code under test: UTF-16
// with the maximum-width option, converted to UTF-8; empty when the system has none.
std::string SystemMessageUtf8(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                        nullptr, code, 0x400, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  std::string text;
  if (length != 0 && buffer != nullptr) {
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    text.resize(static_cast<std::size_t>(bytes));
    (void)::WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(length), text.data(), bytes, nullptr, nullptr);
  }
  ::LocalFree(buffer);
  return text;
}

// The ANSI system message for code, with or without the maximum-width option.
std::string SystemMessageAnsi(DWORD code, bool max_width) {
  char* buffer = nullptr;
  const DWORD length =
      ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                           (max_width ? FORMAT_MESSAGE_MAX_WIDTH_MASK : 0),
                       nullptr, code, 0x400, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  std::string text = length != 0 && buffer != nullptr ? std::string(buffer, length) : std::string();
  ::LocalFree(buffer);
  return text;
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

class TextConversionTest : public testing::Test {
 protected:
  void SetUp() override { InstallLibraryServices(); }
  void TearDown() override { InstallLibraryServices(); }

  test::ScopedTestLog log_;
};

// --- Conversions -------------------------------------------------------------------------------

TEST_F(TextConversionTest, Utf8ToUtf16) {
  struct Case {
    const char* name;
    const char* utf8;
    std::wstring wide;
  };
  const Case cases[] = {
      {"empty", "", L""},
      {"ascii", "C:\\Program Files\\x", L"C:\\Program Files\\x"},
      {"accented", "caf\xC3\xA9 \xC3\x89t\xC3\xA9", L"caf\u00E9 \u00C9t\u00E9"},
      {"outside the basic plane", "\xF0\x9F\x98\x80!", std::wstring{0xD83D, 0xDE00, L'!'}},
      {"invalid byte inside", "a\xE9z", L"a\uFFFDz"},
      {"invalid byte at the end", "a\xE9", L"a\uFFFD"},
      {"four-byte lead without its sequence", "\xF0z", L"\uFFFDz"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::wstring from_ansi_entry = L"stale";
    std::wstring from_utf8_entry = L"stale";
    ASSERT_TRUE(ChangeToWideStr(c.utf8, from_ansi_entry));
    ASSERT_TRUE(ChangeUtf8ToWideStr(c.utf8, from_utf8_entry));
    EXPECT_EQ(from_ansi_entry, c.wide);
    EXPECT_EQ(from_utf8_entry, c.wide);
    EXPECT_TRUE(log_.Has("[DEBUG]", std::string("UTF String Received:") + c.utf8));
  }
}

TEST_F(TextConversionTest, Utf16ToUtf8) {
  struct Case {
    const char* name;
    std::wstring wide;
    std::string utf8;
  };
  const Case cases[] = {
      {"empty", L"", ""},
      {"accented", L"caf\u00E9", "caf\xC3\xA9"},
      {"outside the basic plane", std::wstring{L'<', 0xD83D, 0xDE00, L'>'}, "<\xF0\x9F\x98\x80>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out = "stale";
    ASSERT_TRUE(ChangeWideToUtf8Str(c.wide.c_str(), out));
    EXPECT_EQ(out, c.utf8);
    EXPECT_EQ(out.size(), std::char_traits<char>::length(out.c_str())) << "a NUL inside the result";
  }
}

TEST_F(TextConversionTest, EightBitTextComesBackAsUtf8) {
  struct Case {
    const char* name;
    const char* input;
    const char* expected;
  };
  const Case cases[] = {
      {"empty", "", ""},
      {"valid UTF-8 unchanged", "Z\xC3\xBCrich caf\xC3\xA9", "Z\xC3\xBCrich caf\xC3\xA9"},
      {"single byte E9", "\xE9", "\xEF\xBF\xBD"},
      {"each invalid byte replaced", "\xE9t\xE9", "\xEF\xBF\xBDt\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out;
    ASSERT_TRUE(ChangeAnsiToUTF8Str(c.input, out));
    EXPECT_EQ(out, c.expected);
  }
}

TEST_F(TextConversionTest, MissingInputFailsAndLeavesTheOutputAlone) {
  std::wstring wide = L"kept";
  std::string narrow = "kept";
  EXPECT_FALSE(ChangeToWideStr(nullptr, wide));
  EXPECT_FALSE(ChangeUtf8ToWideStr(nullptr, wide));
  EXPECT_FALSE(ChangeAnsiToUTF8Str(nullptr, narrow));
  EXPECT_FALSE(ChangeWideToUtf8Str(nullptr, narrow));
  EXPECT_EQ(wide, L"kept");
  EXPECT_EQ(narrow, "kept");
  EXPECT_THAT(log_.Messages(), testing::ElementsAre("[ERROR] ChangeToWideStr: AnsiString is empty! ",
                                                   "[ERROR] ChangeUtf8ToWideStr: utf8 is empty! ",
                                                   "[ERROR] ChangeAnsiToUTF8Str: ansiString is empty! "));
}

// --- Error texts -------------------------------------------------------------------------------

TEST_F(TextConversionTest, SuccessTextIsLoggedAtInfoLevel) {
  const std::string system = SystemMessageUtf8(0);
  ASSERT_FALSE(system.empty()) << "the system has no message for 0";
  EXPECT_EQ(GetErrorText(0), system);
  EXPECT_THAT(log_.Messages(), testing::ElementsAre("[INFO] Message : " + system + " "));
}

TEST_F(TextConversionTest, ErrorTextsAreTheSystemsAndLoggedAtErrorLevel) {
  const std::uint32_t codes[] = {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, 1605};
  for (std::uint32_t code : codes) {
    SCOPED_TRACE(code);
    const std::string system = SystemMessageUtf8(code);
    ASSERT_FALSE(system.empty()) << "the system has no message for this code";
    EXPECT_EQ(GetErrorText(code), system);
    EXPECT_TRUE(log_.Has("[ERROR]", "Error Code : " + std::to_string(code) + " , Error Message : " + system + " "));
  }
}

TEST_F(TextConversionTest, LogErrorTextLogsWhatGetErrorTextReturns) {
  LogErrorText(1605);
  const std::string text = SystemMessageUtf8(1605);
  EXPECT_THAT(log_.Messages(), testing::ElementsAre("[ERROR] Error Code : 1605 , Error Message : " + text + " "));
}

TEST_F(TextConversionTest, CodesWithoutASystemMessageFallBackToTheProgramsText) {
  struct Case {
    std::uint32_t code;
    const char* with_result_texts;
    const char* without_result_texts;
  };
  const Case cases[] = {
      {17022, "Unknown Error. Code : 17022", "Unknown Error. Code : 17022"},
      {17025, "OfficeUpdateError: Patch already installed.", "Unknown Error. Code : 17025"},
      {0x240006, "Patch already Installed and the changes will not be effective until the system is rebooted.",
       "Unknown Error. Code : 2359302"},
      {0xE0000001u, "Unknown Error. Code : -536870911", "Unknown Error. Code : -536870911"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    if (!SystemMessageUtf8(c.code).empty()) {
      ADD_FAILURE() << "the system has a message for this code; pick another";
      continue;
    }
    InstallLibraryServices();
    EXPECT_EQ(GetErrorText(c.code), c.with_result_texts);
    EXPECT_EQ(GetErrorText(c.code), GetResultText(c.code));
    SetResultTextProvider(nullptr);
    EXPECT_EQ(GetErrorText(c.code), c.without_result_texts);
    EXPECT_TRUE(log_.Has("[ERROR]",
                       "Error Code : " + std::to_string(static_cast<int>(c.code)) +
                           " , Error Message : " + c.with_result_texts + " "));
  }
}

TEST_F(TextConversionTest, AnsiErrorTextIsTrimmedAndReturnsZero) {
  const std::string system = Trimmed(SystemMessageAnsi(1605, true));
  ASSERT_FALSE(system.empty());
  EXPECT_EQ(LogErrorTextAnsi(1605), 0);
  EXPECT_EQ(LogErrorTextAnsi(0), 0);
  EXPECT_EQ(LogErrorTextAnsi(17025), 0);
  EXPECT_THAT(log_.Messages(),
              testing::ElementsAre("[ERROR] Error Code : 1605 , Error Message : " + system + " ",
                                   "[INFO] Message : " + Trimmed(SystemMessageAnsi(0, true)) + " ",
                                   "[ERROR] Error Code : 17025 , Error Message : OfficeUpdateError: Patch already "
                                   "installed. "));
}

TEST_F(TextConversionTest, LastErrorTextKeepsTheSystemsLineBreak) {
  const std::string system = SystemMessageAnsi(ERROR_FILE_NOT_FOUND, false);
  ASSERT_FALSE(system.empty());
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  LogLastErrorText();
  // The log is written in text mode: each LF, the system's own included, reaches the file as CR LF.
  std::string expected;
  for (char c : "[ERROR]  Error Message: " + system + "\n") {
    if (c == '\n') expected += '\r';
    expected += c;
  }
  EXPECT_THAT(test::ReadWholeFile(log_.file()), testing::HasSubstr(expected));
}

// --- Find and replace --------------------------------------------------------------------------

TEST(FindAndReplaceWithNoCaseTest, Replaces) {
  struct Case {
    const char* name;
    const char* input;
    const char* find;
    const char* replacement;
    const char* expected;
  };
  const Case cases[] = {
      {"upper-case occurrence of a lower-case find", "C:\\Data\\CORP\\Clients", "corp", "example.com",
       "C:\\Data\\example.com\\Clients"},
      {"every occurrence, case of the rest kept", "Hello WORLD, World and world!", "world", "There",
       "Hello There, There and There!"},
      {"adjacent occurrences", "abcABCaBc", "ABC", "-", "---"},
      {"replacement to nothing", "xxNSyyns", "ns", "", "xxyy"},
      {"not present", "Nothing here", "zz", "yy", "Nothing here"},
      {"whole input", "Corp", "CORP", "domain", "domain"},
      {"replacement contains find", "ab-AB", "ab", "xaby", "xaby-xaby"},
      {"replacement is find twice", "ab", "ab", "abab", "abab"},
      {"replacement contains find in another case", "ns.NS", "ns", "[NS]", "[NS].[NS]"},
      {"replacement forms find with the text after it", "abb", "ab", "a", "a"},
      {"again and again", "xAbbB-", "ab", "a", "xa-"},
      {"one-character find", "aAa", "a", "bb", "aAa"},
      {"empty find", "abc", "", "x", "abc"},
      {"input shorter than two characters", "a", "ab", "x", "a"},
      {"empty input", "", "ab", "x", ""},
      {"find equals replacement ignoring case", "Path\\Corp", "corp", "CORP", "Path\\Corp"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<std::string> result = FindAndReplaceWithNoCase(c.input, c.find, c.replacement);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, c.expected);
  }
}

TEST(FindAndReplaceWithNoCaseTest, MissingArguments) {
  EXPECT_EQ(FindAndReplaceWithNoCase(nullptr, "ab", "cd"), std::nullopt);
  EXPECT_EQ(FindAndReplaceWithNoCase("input", nullptr, "cd"), std::optional<std::string>("input"));
  // A missing replacement removes the occurrences.
  EXPECT_EQ(FindAndReplaceWithNoCase("a-NS-b", "ns", nullptr), std::optional<std::string>("a--b"));
}

TEST(FindAndReplaceWithNoCaseTest, TracesToStandardOutput) {
  testing::internal::CaptureStdout();
  (void)FindAndReplaceWithNoCase("Path\\Corp", "corp", "CORP");
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(printed,
            "FindAndReplaceWithNoCase : Input String : Path\\Corp \n"
            "FindAndReplaceWithNoCase : oldString String : corp \n"
            "FindAndReplaceWithNoCase : newString String : CORP \n"
            "FindAndReplaceWithNoCase : Both the old string and new strings are same , we are sending the input "
            "string as output ..\n");
}

}  // namespace
}  // namespace vx

namespace vx {
namespace {

TEST(ToLowerUtf8, LowersByUnicodeRules) {
  EXPECT_EQ(ToLowerUtf8("WORKGROUP"), "workgroup");
  EXPECT_EQ(ToLowerUtf8("\xC3\x84" "BC-\xCE\xA9"), "\xC3\xA4" "bc-\xCF\x89");  // Ä, Omega
  EXPECT_EQ(ToLowerUtf8(""), "");
}

}  // namespace
}  // namespace vx
