#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/unique_handle_win.h"
#include "logging/logger.h"
#include "platform/text_conversion.h"

namespace vx {
namespace {

constexpr DWORD kUserDefaultLanguage = 0x400;
constexpr std::size_t kResultTextBufferSize = 4096;

std::string DefaultResultText(std::uint32_t code) {
  return FormatText("Unknown Error. Code : %d", static_cast<int>(code));
}

ResultTextProvider g_result_text_provider = &DefaultResultText;

bool Utf8ToWide(const char* text, std::wstring& out) {
  // The text goes to the decoder with three NULs after it, its own terminator being the first.
  // Wine's decoder takes whatever follows an unfinished multi-byte sequence near the end of its
  // input into that sequence ("\xE9" and its NUL became one U+FFFD without terminator); with the
  // padding every sequence has its full length to look at. The text ends at the first NUL.
  std::string padded(text);
  padded.append(3, '\0');
  const int length = static_cast<int>(padded.size());
  const int needed = ::MultiByteToWideChar(CP_UTF8, 0, padded.data(), length, nullptr, 0);
  out.assign(static_cast<std::size_t>(std::max(needed, 0)), L'\0');
  if (needed <= 0 || ::MultiByteToWideChar(CP_UTF8, 0, padded.data(), length, out.data(), needed) == 0) {
    LogLastErrorText();
    return false;
  }
  out.resize(std::min(out.find(L'\0'), out.size()));
  return true;
}

// The program's own text for a code, as the 4096-byte buffer it is copied into holds it.
std::string FallbackText(std::uint32_t code) {
  std::string text = g_result_text_provider != nullptr ? g_result_text_provider(code) : DefaultResultText(code);
  if (text.size() >= kResultTextBufferSize) text.resize(kResultTextBufferSize - 1);
  return text;
}

void LogErrorLine(std::uint32_t code, const std::string& text) {
  if (code != 0) {
    LogError("Error Code : %d , Error Message : %s \n", static_cast<int>(code), text.c_str());
  } else {
    LogInfo("Message : %s \n", text.c_str());
  }
}

std::string AnsiSystemText(DWORD code, DWORD extra_flags) {
  UniqueLocalMemory buffer;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | extra_flags,
      nullptr, code, kUserDefaultLanguage, reinterpret_cast<LPSTR>(buffer.put()), 0, nullptr);
  if (length == 0 || !buffer) return std::string();
  return std::string(static_cast<const char*>(buffer.get()), length);
}

char AnsiLower(char c) {
  char lowered = c;
  ::LCMapStringA(LOCALE_SYSTEM_DEFAULT, LCMAP_LOWERCASE, &c, 1, &lowered, 1);
  return lowered;
}

std::string AnsiLowerCopy(const std::string& text) {
  std::string lowered = text;
  for (char& c : lowered) c = AnsiLower(c);
  return lowered;
}

}  // namespace

bool ChangeToWideStr(const char* text, std::wstring& out) {
  if (text == nullptr) {
    LogError("ChangeToWideStr: AnsiString is empty! \n");
    return false;
  }
  return Utf8ToWide(text, out);
}

bool ChangeUtf8ToWideStr(const char* text, std::wstring& out) {
  if (text == nullptr) {
    LogError("ChangeUtf8ToWideStr: utf8 is empty! \n");
    return false;
  }
  LogDebug("UTF String Received:%s\n", text);
  return Utf8ToWide(text, out);
}

bool ChangeSecretUtf8ToWideStr(const char* text, std::wstring& out) {
  if (text == nullptr) {
    LogError("ChangeSecretUtf8ToWideStr: utf8 is empty! \n");
    return false;
  }
  return Utf8ToWide(text, out);
}

bool ChangeWideToUtf8Str(const wchar_t* text, std::string& out) {
  if (text == nullptr) return false;
  const int needed = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  out.assign(static_cast<std::size_t>(std::max(needed, 0)) + 1, '\0');
  if (needed <= 0 || ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), needed, nullptr, nullptr) == 0) {
    const std::string message = AnsiSystemText(::GetLastError(), 0);
    LogError(" Error Message: %s\n", message.c_str());
    return false;
  }
  out.resize(static_cast<std::size_t>(needed - 1));
  return true;
}

bool ChangeAnsiToUTF8Str(const char* text, std::string& out) {
  if (text == nullptr) {
    LogError("ChangeAnsiToUTF8Str: ansiString is empty! \n");
    return false;
  }
  std::wstring wide;
  if (!ChangeToWideStr(text, wide)) return false;
  return ChangeWideToUtf8Str(wide.c_str(), out);
}

void SetResultTextProvider(ResultTextProvider provider) {
  g_result_text_provider = provider != nullptr ? provider : &DefaultResultText;
}

std::string GetErrorText(std::uint32_t code) {
  UniqueLocalMemory buffer;
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                           FORMAT_MESSAGE_MAX_WIDTH_MASK,
                       nullptr, code, kUserDefaultLanguage, reinterpret_cast<LPWSTR>(buffer.put()), 0, nullptr);
  std::string text;
  if (length == 0 || !buffer || !ChangeWideToUtf8Str(static_cast<const wchar_t*>(buffer.get()), text)) {
    text = FallbackText(code);
  }
  LogErrorLine(code, text);
  return text;
}

void LogErrorText(std::uint32_t code) { (void)GetErrorText(code); }

int LogErrorTextAnsi(std::uint32_t code) {
  std::string text = AnsiSystemText(code, FORMAT_MESSAGE_MAX_WIDTH_MASK);
  if (text.empty()) {
    text = FallbackText(code);
  } else {
    const auto is_blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    const auto first = std::find_if_not(text.begin(), text.end(), is_blank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), is_blank).base();
    text = first < last ? std::string(first, last) : std::string();
  }
  LogErrorLine(code, text);
  return 0;
}

void LogLastErrorText() {
  const std::string message = AnsiSystemText(::GetLastError(), 0);
  LogError(" Error Message: %s\n", message.c_str());
}

std::optional<std::string> FindAndReplaceWithNoCase(const char* input, const char* find, const char* replacement) {
  std::printf("FindAndReplaceWithNoCase : Input String : %s \n", input != nullptr ? input : "(null)");
  std::printf("FindAndReplaceWithNoCase : oldString String : %s \n", find != nullptr ? find : "(null)");
  std::printf("FindAndReplaceWithNoCase : newString String : %s \n", replacement != nullptr ? replacement : "(null)");
  if (input == nullptr || std::strlen(input) < 2) {
    std::printf("FindAndReplaceWithNoCase : The input string is either NULL or empty string \n");
    return input != nullptr ? std::optional<std::string>(input) : std::nullopt;
  }
  if (find == nullptr || std::strlen(find) < 2) {
    std::printf("FindAndReplaceWithNoCase : The string to find is either NULL or empty string \n");
    return std::string(input);
  }
  const std::string replacement_text = replacement != nullptr ? replacement : "";
  const std::string lowered_find = AnsiLowerCopy(find);
  if (lowered_find == AnsiLowerCopy(replacement_text)) {
    std::printf(
        "FindAndReplaceWithNoCase : Both the old string and new strings are same , we are sending the input "
        "string as output ..\n");
    return std::string(input);
  }
  std::string result = input;
  std::string lowered = AnsiLowerCopy(result);
  // The search goes on from the hit position, so an occurrence that the replacement forms with the
  // text after it is replaced too. A replacement that contains find would be found there again
  // without end; then the search resumes after the inserted text.
  const bool replacement_contains_find = AnsiLowerCopy(replacement_text).find(lowered_find) != std::string::npos;
  std::string::size_type position = lowered.find(lowered_find);
  while (position != std::string::npos) {
    result.replace(position, lowered_find.size(), replacement_text);
    lowered.replace(position, lowered_find.size(), replacement_text);
    position = lowered.find(lowered_find, replacement_contains_find ? position + replacement_text.size() : position);
  }
  return result;
}

std::string ToLowerUtf8(const std::string& text) {
  std::wstring wide;
  if (!ChangeUtf8ToWideStr(text.c_str(), wide)) return text;
  if (!wide.empty()) {
    // LCMapString (kernel32) rather than CharLower (user32, which would load the user interface).
    const int size = static_cast<int>(wide.size());
    const int needed = ::LCMapStringW(LOCALE_INVARIANT, LCMAP_LOWERCASE, wide.c_str(), size, nullptr, 0);
    if (needed <= 0) return text;
    std::wstring lowered(static_cast<std::size_t>(needed), L'\0');
    if (::LCMapStringW(LOCALE_INVARIANT, LCMAP_LOWERCASE, wide.c_str(), size, lowered.data(), needed) != needed) {
      return text;
    }
    wide = std::move(lowered);
  }
  std::string lowered;
  if (!ChangeWideToUtf8Str(wide.c_str(), lowered)) return text;
  return lowered;
}

}  // namespace vx
